import { test, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";
import { DEFAULT_BUDGET } from "../../../quelt/runtime/limits.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";

const STEP_BUDGET = { type: RuntimeDiagnostic, code: "STEP_BUDGET", message: "Исчерпан общий бюджет шагов." };
const ADAPTER_BUDGET = { type: RuntimeDiagnostic, code: "ADAPTER_BUDGET", message: "Исчерпан общий бюджет вызовов адаптеров." };
const FIELDS = { code: "ADAPTER_USAGE", message: "Неверные поля учёта токенов." };
const TOKENS = { code: "ADAPTER_USAGE", message: "Использование токенов должно быть неотрицательным безопасным целым." };
const REASONING = { code: "ADAPTER_USAGE", message: "Reasoning usage должен быть безопасным целым либо null." };

function ledger(overrides = {}) {
  return new Ledger(Object.freeze({ ...DEFAULT_BUDGET, ...overrides }));
}

// The usage-related fields, in a fixed order, for compact comparisons.
function usageState(l) {
  return [l.inputTokens, l.outputTokens, l.reasoningTokens, l.reasoningKnown, l.reasoningAvailable, l.usageComplete, l.unreportedCalls];
}

test("a new ledger starts with its fields in order", () => {
  const limits = Object.freeze({ ...DEFAULT_BUDGET });
  const l = new Ledger(limits);
  assertDeepEqual(Object.keys(l), [
    "limits", "steps", "adapterCalls", "outputBytes", "inputTokens", "outputTokens",
    "reasoningTokens", "reasoningKnown", "reasoningAvailable", "usageComplete", "unreportedCalls",
  ]);
  assertEqual(l.limits, limits);
  assertDeepEqual([l.steps, l.adapterCalls, l.outputBytes], [0, 0, 0]);
  assertDeepEqual(usageState(l), [0, 0, 0, 0, true, true, 0]);
});

test("steps: a charge landing on the budget passes, one more fails and changes nothing", () => {
  const l = ledger({ maxSteps: 10 });
  for (let i = 0; i < 10; i += 1) l.step();
  assertEqual(l.steps, 10);
  assertThrows(() => l.step(), STEP_BUDGET);
  l.step(0);
  assertEqual(l.steps, 10);

  const bulk = ledger({ maxSteps: 10 });
  assertThrows(() => bulk.step(11), STEP_BUDGET);
  assertEqual(bulk.steps, 0);
  bulk.step(10);
  assertEqual(bulk.steps, 10);

  const none = ledger({ maxSteps: 0 });
  assertThrows(() => none.step(), STEP_BUDGET);
  none.step(0);

  const huge = ledger({ maxSteps: Number.MAX_SAFE_INTEGER });
  huge.step(Number.MAX_SAFE_INTEGER);
  assertThrows(() => huge.step(1), STEP_BUDGET);
  assertThrows(() => ledger().step(Number.NaN), STEP_BUDGET);
  assertEqual(huge.steps, Number.MAX_SAFE_INTEGER);
});

test("adapter calls are bounded and mark usage incomplete", () => {
  const l = ledger({ maxAdapterCalls: 2 });
  l.call();
  assertDeepEqual([l.adapterCalls, l.unreportedCalls, l.reasoningTokens, l.usageComplete], [1, 1, null, false]);
  l.call();
  assertThrows(() => l.call(), ADAPTER_BUDGET);
  assertDeepEqual([l.adapterCalls, l.unreportedCalls], [2, 2]);
  assertThrows(() => ledger({ maxAdapterCalls: 0 }).call(), ADAPTER_BUDGET);
});

test("usage completes once every call has reported with a reasoning count", () => {
  const l = ledger();
  l.call();
  l.usage(undefined);
  l.call();
  l.usage({ inputTokens: 1, outputTokens: 2 });
  // Absent reasoning counts as no reasoning count.
  assertDeepEqual(usageState(l), [1, 2, null, 0, false, false, 1]);

  const m = ledger();
  m.call();
  m.call();
  m.usage({ inputTokens: 1, outputTokens: 2, reasoningTokens: 4 });
  assertDeepEqual(usageState(m), [1, 2, null, 4, true, false, 1]);
  m.usage({ outputTokens: 5, inputTokens: 0, reasoningTokens: 3 });
  assertDeepEqual(usageState(m), [1, 7, 7, 7, true, true, 0]);
});

test("a null reasoning count makes usage incomplete for good", () => {
  const l = ledger();
  l.call();
  l.usage({ inputTokens: 0, outputTokens: 0, reasoningTokens: null });
  assertDeepEqual(usageState(l), [0, 0, null, 0, false, false, 0]);
  l.call();
  l.usage({ inputTokens: 1, outputTokens: 1, reasoningTokens: 1 });
  assertDeepEqual(usageState(l), [1, 1, null, 1, false, false, 0]);
});

test("refused usage reports change no token field", () => {
  const getter = { inputTokens: 1 };
  Object.defineProperty(getter, "outputTokens", { get: () => 1, enumerable: true });
  const cases = [
    [null, { code: "ADAPTER_USAGE", message: "Ожидается объект данных." }],
    [getter, { code: "ADAPTER_USAGE", message: "Символы, скрытые поля и getters не разрешены." }],
    [{ inputTokens: 1 }, FIELDS],
    [{ inputTokens: 1, outputTokens: 1, cost: 3 }, FIELDS],
    [{ inputTokens: -1, outputTokens: 1 }, TOKENS],
    [{ inputTokens: 1, outputTokens: 1.5 }, TOKENS],
    [{ inputTokens: "1", outputTokens: 1 }, TOKENS],
    [{ inputTokens: 1, outputTokens: Number.MAX_SAFE_INTEGER }, TOKENS],
    [{ inputTokens: 1, outputTokens: 1, reasoningTokens: -1 }, REASONING],
    [{ inputTokens: 1, outputTokens: 1, reasoningTokens: "2" }, REASONING],
    [{ inputTokens: -1, outputTokens: 1, reasoningTokens: -1 }, TOKENS],
  ];
  for (const [report, expected] of cases) {
    const l = ledger();
    l.call();
    l.usage({ inputTokens: 0, outputTokens: 5, reasoningTokens: 2 });
    l.call();
    const before = usageState(l);
    assertThrows(() => l.usage(report), { type: RuntimeDiagnostic, ...expected }, JSON.stringify(report));
    assertDeepEqual(usageState(l), before, "unchanged after " + JSON.stringify(report));
  }
});
