// The run context's step and check with a real Ledger: the order of the three
// tests, the budget charge (which the context performs in place for a Ledger)
// and a clock reading on every call.
import { test, assert, assertEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { createRunContext } from "../../../quelt/runtime/context.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";

const CANCELLED = { type: RuntimeDiagnostic, code: "CANCELLED", message: "Выполнение отменено." };
const DEADLINE = { type: RuntimeDiagnostic, code: "DEADLINE", message: "Истёк срок выполнения." };
const STEP_BUDGET = { type: RuntimeDiagnostic, code: "STEP_BUDGET", message: "Исчерпан общий бюджет шагов." };
const MAX_SAFE = Number.MAX_SAFE_INTEGER;

function runContext({ ledger, signal = new AbortController().signal, deadline = Infinity }) {
  return createRunContext({
    program: {},
    ledger,
    pool: null,
    signal,
    capabilities: new Set(),
    adapters: {},
    functions: new Map(),
    trace: [],
    deadline,
  });
}

function abortedSignal() {
  const controller = new AbortController();
  controller.abort(new Error("stop"));
  return controller.signal;
}

// Outcome of one charge: the failure code or "ok", and the steps afterwards.
function outcome(charge, ledger) {
  try {
    charge();
    return `ok ${ledger.steps}`;
  } catch (error) {
    return `${error.code} ${ledger.steps}`;
  }
}

test("step tests cancellation, then the deadline, then the budget", () => {
  const cases = [
    { signal: abortedSignal(), deadline: -1, steps: 5, expected: CANCELLED },
    { deadline: -1, steps: 5, expected: DEADLINE },
    { steps: 5, expected: STEP_BUDGET },
  ];
  for (const { signal, deadline, steps, expected } of cases) {
    const ledger = new Ledger({ maxSteps: 5 });
    ledger.steps = steps;
    const ctx = runContext({ ledger, signal, deadline });
    assertThrows(() => ctx.step(), expected);
    if (expected === STEP_BUDGET) ctx.step(0);
    else assertThrows(() => ctx.step(0), expected, "step(0) still checks");
    assertEqual(ledger.steps, 5, `${expected.code} charges nothing`);
  }
});

test("step charges a Ledger exactly as Ledger.step does", () => {
  // [steps before, maxSteps, n]
  const cases = [
    [0, 10, undefined],
    [9, 10, 1],
    [10, 10, 1],
    [10, 10, 0],
    [0, 10, 11],
    [0, 10, 10],
    [0, 0, undefined],
    [0, 0, 0],
    [3, 10, 1.5],
    [3, 10, NaN],
    [3, 10, -1],
    [MAX_SAFE, Infinity, 1],
    [MAX_SAFE - 1, Infinity, 1],
    [MAX_SAFE, MAX_SAFE, 0],
    [MAX_SAFE, MAX_SAFE, 1],
    [MAX_SAFE - 1, MAX_SAFE, 1],
    [MAX_SAFE - 1, MAX_SAFE, 2],
  ];
  for (const [steps, maxSteps, n] of cases) {
    const direct = new Ledger({ maxSteps });
    const charged = new Ledger({ maxSteps });
    direct.steps = steps;
    charged.steps = steps;
    const ctx = runContext({ ledger: charged });
    const label = `steps ${steps}, maxSteps ${maxSteps}, n ${n}`;
    assertEqual(outcome(() => ctx.step(n), charged), outcome(() => direct.step(n), direct), label);
  }
  const ledger = new Ledger({ maxSteps: 10 });
  const ctx = runContext({ ledger });
  for (let i = 0; i < 10; i += 1) ctx.step();
  assertThrows(() => ctx.step(), STEP_BUDGET);
  assertEqual(ledger.steps, 10);
});

test("a ledger with its own step method is charged through it", () => {
  const charges = [];
  class CountingLedger extends Ledger {
    step(n) {
      charges.push(n);
    }
  }
  const own = new Ledger({ maxSteps: 0 });
  own.step = (n) => charges.push(`own ${n}`);
  runContext({ ledger: new CountingLedger({ maxSteps: 0 }) }).step(3);
  runContext({ ledger: own }).step();
  assertEqual(charges.join(","), "3,own 1");
});

test("every step and check reads the clock", () => {
  // Once a reading taken before a call is at or past the deadline, the call
  // must fail: it cannot rest on an earlier reading. Several short deadlines,
  // so that a clock read skipped now and then is met at one of the crossings.
  for (const operation of ["step", "check"]) {
    for (let trial = 0; trial < 12; trial += 1) {
      const deadline = performance.now() + 2;
      const ctx = runContext({ ledger: new Ledger({ maxSteps: MAX_SAFE }), deadline });
      let failed = false;
      for (let i = 0; i < 10000000 && !failed; i += 1) {
        const before = performance.now();
        try {
          ctx[operation]();
        } catch (error) {
          assertEqual(error.code, "DEADLINE");
          failed = true;
          continue;
        }
        assert(before < deadline, `${operation} passed with a reading at or past the deadline`);
      }
      assert(failed, `${operation} never met the deadline`);
    }
  }
});
