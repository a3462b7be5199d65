import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { optionsCopy, budgetCopy, adaptersCopy, validateSignal } from "../../../quelt/runtime/settings.mjs";
import { createRuntimeCache, runtimeCacheStats } from "../../../quelt/runtime/cache.mjs";
import { DEFAULT_BUDGET } from "../../../quelt/runtime/limits.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";

const NOT_DATA = "Ожидается объект данных.";
const HIDDEN = "Символы, скрытые поля и getters не разрешены.";
const BOUNDARY = (field) => "Неверная граница " + field + ".";
const CEILING = "Превышена граница настройки исполнителя.";
const NOT_A_CACHE = "Кеш должен быть создан createRuntimeCache().";

function shapedSignal(aborted = false) {
  return { aborted, addEventListener() {}, removeEventListener() {} };
}

function withGetter() {
  const value = {};
  Object.defineProperty(value, "budget", { get: () => ({}), enumerable: true });
  return value;
}

function refuses(body, code, message, label) {
  assertThrows(body, { type: RuntimeDiagnostic, code, message }, label);
}

test("optionsCopy without options gives the defaults and a fresh default cache", () => {
  const settings = optionsCopy();
  assert(Object.isFrozen(settings));
  assertDeepEqual(Object.keys(settings), ["adapters", "capabilities", "budget", "cache"]);
  assertEqual(Object.getPrototypeOf(settings.adapters), null);
  assertEqual(Object.keys(settings.adapters).length, 0);
  assert(Object.isFrozen(settings.adapters) && Object.isFrozen(settings.capabilities));
  assertDeepEqual(settings.capabilities, []);
  assertDeepEqual(settings.budget, { ...DEFAULT_BUDGET });
  const stats = runtimeCacheStats(settings.cache);
  assertDeepEqual([stats.policy, stats.maxBytes, stats.maxEntries], ["fifo", 4194304, 1024]);
  assert(optionsCopy().cache !== settings.cache, "every call gets its own cache");
  assert(optionsCopy({ cache: null, capabilities: null }).cache !== settings.cache);
});

test("optionsCopy keeps the caller's signal and cache and copies the capabilities", () => {
  const signal = new AbortController().signal;
  const cache = createRuntimeCache();
  const capabilities = ["net", "é".repeat(64)];
  const settings = optionsCopy({ signal, cache, capabilities, budget: { maxSteps: 7 } });
  assertDeepEqual(Object.keys(settings), ["adapters", "capabilities", "budget", "signal", "cache"]);
  assertEqual(settings.signal, signal);
  assertEqual(settings.cache, cache);
  assertEqual(settings.budget.maxSteps, 7);
  capabilities.push("later");
  assertDeepEqual(settings.capabilities, ["net", "é".repeat(64)]);
  assert(Object.isFrozen(settings.capabilities));
  assertEqual(optionsCopy({ signal: shapedSignal() }).signal.aborted, false);
});

test("optionsCopy refusals, in their order", () => {
  const fakeCache = { kind: "quelt-runtime-cache" };
  const cases = [
    ["null options", null, "OPTIONS_SCHEMA", NOT_DATA],
    ["array options", [], "OPTIONS_SCHEMA", NOT_DATA],
    ["class instance", new Date(0), "OPTIONS_SCHEMA", NOT_DATA],
    ["getter", withGetter(), "OPTIONS_SCHEMA", HIDDEN],
    ["symbol key", { [Symbol("x")]: 1 }, "OPTIONS_SCHEMA", HIDDEN],
    ["unknown option", { budget: {}, timeout: 1 }, "OPTIONS_SCHEMA", "Неизвестная настройка исполнителя."],
    ["257 capabilities", { capabilities: new Array(257).fill("a") }, "ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита."],
    ["capability of 129 bytes", { capabilities: ["a".repeat(129)] }, "TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8."],
    ["capability not text", { capabilities: [1], cache: fakeCache }, "TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8."],
    ["token copy as cache", { cache: fakeCache, signal: null }, "CACHE_SCHEMA", NOT_A_CACHE],
    ["null signal", { signal: null, adapters: null }, "SIGNAL_SCHEMA", "Ожидается AbortSignal."],
    ["null adapters", { adapters: null, budget: null }, "ADAPTER_SCHEMA", NOT_DATA],
    ["null budget", { budget: null }, "BUDGET_SCHEMA", NOT_DATA],
  ];
  for (const [label, options, code, message] of cases) refuses(() => optionsCopy(options), code, message, label);
  // 256 capabilities of exactly 128 bytes are within the bounds.
  assertEqual(optionsCopy({ capabilities: new Array(256).fill("b".repeat(128)) }).capabilities.length, 256);
});

test("budgetCopy merges over the defaults in their field order", () => {
  const budget = budgetCopy({ deadlineMs: 5, maxSteps: 0 });
  assert(Object.isFrozen(budget));
  assertDeepEqual(budget, {
    maxSteps: 0,
    maxAdapterCalls: 64,
    maxConcurrent: 4,
    maxQueued: 256,
    maxOutputBytes: 1048576,
    deadlineMs: 5,
  });
  assertDeepEqual(budgetCopy(), { ...DEFAULT_BUDGET });
});

test("budgetCopy bounds", () => {
  const accepted = [
    { maxSteps: 0 },
    { maxAdapterCalls: 0, maxQueued: 0, maxOutputBytes: 0 },
    { maxConcurrent: 1, deadlineMs: 1 },
    { maxConcurrent: 256, maxQueued: 10000, deadlineMs: 86400000 },
    { maxSteps: 9007199254740991, maxOutputBytes: 9007199254740991 },
  ];
  for (const budget of accepted) budgetCopy(budget);
  const refused = [
    [null, NOT_DATA],
    [{ steps: 1 }, "Неизвестное поле бюджета."],
    [{ steps: 1, maxSteps: -1 }, "Неизвестное поле бюджета."],
    [{ deadlineMs: 0 }, BOUNDARY("deadlineMs")],
    [{ deadlineMs: 86400001 }, CEILING],
    [{ maxConcurrent: 0 }, BOUNDARY("maxConcurrent")],
    [{ maxConcurrent: 257 }, CEILING],
    [{ maxQueued: 10001 }, CEILING],
    [{ maxQueued: -1 }, BOUNDARY("maxQueued")],
    [{ maxSteps: 1.5 }, BOUNDARY("maxSteps")],
    [{ maxSteps: -1, deadlineMs: 0 }, BOUNDARY("maxSteps")],
    [{ deadlineMs: 0, maxSteps: -1 }, BOUNDARY("maxSteps")],
    [{ maxConcurrent: 300, maxOutputBytes: -1 }, BOUNDARY("maxOutputBytes")],
    [{ maxAdapterCalls: "1" }, BOUNDARY("maxAdapterCalls")],
    [{ maxOutputBytes: 9007199254740992 }, BOUNDARY("maxOutputBytes")],
    [{ maxSteps: Number.NaN }, BOUNDARY("maxSteps")],
    [{ deadlineMs: undefined }, BOUNDARY("deadlineMs")],
  ];
  for (const [budget, message] of refused) {
    refuses(() => budgetCopy(budget), "BUDGET_SCHEMA", message, JSON.stringify(budget));
  }
});

test("adaptersCopy keeps version and a bound invoke, not the provider", () => {
  const seen = [];
  const provider = {
    version: "1.0",
    note: "extra fields are ignored",
    invoke(...args) {
      seen.push([this === provider, args.length]);
      return "answer";
    },
  };
  const table = adaptersCopy({ "weather.now": provider });
  assertEqual(Object.getPrototypeOf(table), null);
  assert(Object.isFrozen(table) && Object.isFrozen(table["weather.now"]));
  assertDeepEqual(Object.keys(table["weather.now"]), ["version", "invoke"]);
  assertEqual(table["weather.now"].version, "1.0");
  provider.invoke = () => "replaced";
  assertEqual(table["weather.now"].invoke({ city: "x" }, {}, "ignored"), "answer");
  assertDeepEqual(seen, [[true, 2]]);
});

test("adaptersCopy refusals", () => {
  const invoke = () => null;
  const message = "Адаптер a.b требует version и invoke.";
  const inherited = Object.create(null);
  inherited.invoke = invoke;
  const cases = [
    [null, "ADAPTER_SCHEMA", NOT_DATA],
    [{ "a.b": null }, "ADAPTER_SCHEMA", NOT_DATA],
    [{ "a.b": [] }, "ADAPTER_SCHEMA", NOT_DATA],
    [{ "a.b": inherited }, "ADAPTER_SCHEMA", message],
    [{ "a.b": { version: "1" } }, "ADAPTER_SCHEMA", message],
    [{ "a.b": { version: "1", invoke: "call" } }, "ADAPTER_SCHEMA", message],
    [{ "a.b": { version: 1, invoke } }, "ADAPTER_SCHEMA", message],
    [{ "a.b": { version: "   ", invoke } }, "ADAPTER_SCHEMA", message],
    [{ "a.b": { version: "\n\t", invoke } }, "ADAPTER_SCHEMA", message],
    [{ "a.b": { version: "v".repeat(257), invoke } }, "TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8."],
  ];
  for (const [adapters, code, text] of cases) refuses(() => adaptersCopy(adapters), code, text, text);
  assertEqual(adaptersCopy({ x: { version: "v".repeat(256), invoke } }).x.version.length, 256);
  // Any text is a name, including one the object prototype would intercept.
  const parsed = JSON.parse('{"__proto__": {"version": "2"}}');
  parsed.__proto__.invoke = invoke;
  const table = adaptersCopy(parsed);
  assertDeepEqual(Object.keys(table), ["__proto__"]);
  assertEqual(table.__proto__.version, "2");
});

test("validateSignal accepts anything shaped like an abort signal", () => {
  validateSignal(undefined);
  validateSignal(new AbortController().signal);
  validateSignal(shapedSignal(true));
  const refused = [
    null,
    0,
    "signal",
    {},
    { aborted: "no", addEventListener() {}, removeEventListener() {} },
    { aborted: false, addEventListener() {} },
    { aborted: false, addEventListener: true, removeEventListener() {} },
  ];
  for (const signal of refused) {
    refuses(() => validateSignal(signal), "SIGNAL_SCHEMA", "Ожидается AbortSignal.", String(signal));
  }
});
