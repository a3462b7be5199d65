import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic, fail, abortReason } from "../../../quelt/runtime/diagnostics.mjs";
import { createRunContext } from "../../../quelt/runtime/context.mjs";
import * as limits from "../../../quelt/runtime/limits.mjs";

const CANCELLED = { type: RuntimeDiagnostic, code: "CANCELLED", message: "Выполнение отменено." };
const DEADLINE = { type: RuntimeDiagnostic, code: "DEADLINE", message: "Истёк срок выполнения." };

function recordingLedger(log) {
  return {
    step(n) {
      log.push(`step ${n}`);
    },
  };
}

function contextWith({ signal = new AbortController().signal, deadline = Infinity, log = [] } = {}) {
  return createRunContext({
    program: {},
    ledger: recordingLedger(log),
    pool: null,
    signal,
    capabilities: new Set(),
    adapters: {},
    functions: new Map(),
    trace: [],
    deadline,
  });
}

test("RuntimeDiagnostic carries name, code and message and is an Error", () => {
  const diagnostic = new RuntimeDiagnostic("STEP_BUDGET", "Исчерпан общий бюджет шагов.");
  assert(diagnostic instanceof Error);
  assertEqual(diagnostic.name, "RuntimeDiagnostic");
  assertEqual(diagnostic.code, "STEP_BUDGET");
  assertEqual(diagnostic.message, "Исчерпан общий бюджет шагов.");
  assert(Object.hasOwn(diagnostic, "name") && Object.hasOwn(diagnostic, "code"));
  assertThrows(() => fail("X_CODE", "m"), { type: RuntimeDiagnostic, code: "X_CODE", message: "m" });
});

test("abortReason keeps a diagnostic reason and cancels for any other", () => {
  const own = new RuntimeDiagnostic("DEADLINE", "Истёк срок выполнения.");
  const withDiagnostic = new AbortController();
  withDiagnostic.abort(own);
  assertEqual(abortReason(withDiagnostic.signal), own);
  for (const reason of [new Error("stop"), undefined, "text"]) {
    const controller = new AbortController();
    controller.abort(reason);
    const result = abortReason(controller.signal);
    assert(result instanceof RuntimeDiagnostic && result !== reason);
    assertEqual(result.code, "CANCELLED");
    assertEqual(result.message, "Выполнение отменено.");
  }
});

test("the run context lists its fields in order", () => {
  assertDeepEqual(Object.keys(contextWith()), [
    "program", "ledger", "pool", "signal", "capabilities", "adapters", "functions", "trace", "check", "step",
  ]);
});

test("check tests cancellation before the deadline; step checks before charging", () => {
  const log = [];
  const live = contextWith({ log });
  live.step();
  live.step(0);
  live.step(7);
  assertDeepEqual(log, ["step 1", "step 0", "step 7"]);

  const controller = new AbortController();
  controller.abort(new Error("stop"));
  const both = contextWith({ signal: controller.signal, deadline: -1, log });
  assertThrows(() => both.check(), CANCELLED);
  assertThrows(() => both.step(0), CANCELLED);

  const late = contextWith({ deadline: -1, log });
  assertThrows(() => late.check(), DEADLINE);
  assertThrows(() => late.step(0), DEADLINE, "step(0) still checks");
  assertEqual(log.length, 3, "no charge after a failed check");

  const own = new RuntimeDiagnostic("DEADLINE", "Истёк срок выполнения.");
  const timer = new AbortController();
  timer.abort(own);
  const fired = contextWith({ signal: timer.signal });
  assertEqual(assertThrows(() => fired.check(), DEADLINE), own);
});

test("exported constant tables are frozen with their documented bounds", () => {
  const expected = {
    RUNTIME_LIMITS: { textBytes: 65536, inputBytes: 1048576, arrayLength: 4096, recordDepth: 24, recordMembers: 4096, cacheBytes: 4194304 },
    DEFAULT_BUDGET: { maxSteps: 100000, maxAdapterCalls: 64, maxConcurrent: 4, maxQueued: 256, maxOutputBytes: 1048576, deadlineMs: 15000 },
    RUNTIME_CACHE_LIMITS: { maxBytes: 67108864, maxEntries: 4096 },
    FUNCTION_SORT_BY_LIMITS: { items: 4096, keysUtf8Bytes: 1048576, resultUtf8Bytes: 1048576 },
    TEXT_PARSE_INT_LIMITS: { textUtf8Bytes: 65536, maxMagnitude: 9007199254740991 },
    TEXT_PARSE_FLOAT_LIMITS: { textUtf8Bytes: 65536 },
    RECORD_JSON_LIMITS: { textUtf8Bytes: 65536 },
  };
  for (const [name, fields] of Object.entries(expected)) {
    assert(Object.isFrozen(limits[name]), `${name} frozen`);
    assertDeepEqual({ ...limits[name] }, fields, name);
  }
});
