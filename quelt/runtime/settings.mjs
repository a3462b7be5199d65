// Run settings: the caller's options to `execute` or a session, copied once
// into frozen records that nothing the caller still holds can change.
//
//   optionsCopy(options = {})   -> frozen {adapters, capabilities, budget, signal?, cache}
//   budgetCopy(value = {})      -> frozen budget, the fields of DEFAULT_BUDGET in its order
//   adaptersCopy(adapters = {}) -> frozen, prototype-less table name -> frozen {version, invoke}
//   validateSignal(signal)      -> nothing; refuses a value not shaped like an abort signal
//
// Every check reports its first failure only, in the order written below.

import { boundedText, dataKeys, dense } from "./values.mjs";
import { fail } from "./diagnostics.mjs";
import { DEFAULT_BUDGET } from "./limits.mjs";
import { createRuntimeCache, isRuntimeCache } from "./cache.mjs";

function isOptionField(key) {
  return key === "adapters" || key === "capabilities" || key === "budget" || key === "signal" || key === "cache";
}

const CAPABILITY_COUNT = 256;
const CAPABILITY_BYTES = 128;
const ADAPTER_VERSION_BYTES = 256;

// Largest accepted value of the budget fields that have one.
const BUDGET_CEILINGS = Object.freeze({ maxConcurrent: 256, maxQueued: 10000, deadlineMs: 86400000 });

export function optionsCopy(options = {}) {
  for (const key of dataKeys(options, "OPTIONS_SCHEMA")) {
    if (!isOptionField(key)) fail("OPTIONS_SCHEMA", "Неизвестная настройка исполнителя.");
  }
  const capabilities = capabilitiesCopy(options.capabilities);
  const cache = options.cache ?? createRuntimeCache();
  if (!isRuntimeCache(cache)) fail("CACHE_SCHEMA", "Кеш должен быть создан createRuntimeCache().");
  validateSignal(options.signal);
  const adapters = adaptersCopy(options.adapters);
  const budget = budgetCopy(options.budget);
  const settings = { adapters, capabilities, budget };
  if (options.signal !== undefined) settings.signal = options.signal;
  settings.cache = cache;
  return Object.freeze(settings);
}

function capabilitiesCopy(list) {
  const items = dense(list ?? [], CAPABILITY_COUNT);
  const copy = new Array(items.length);
  for (let index = 0; index < items.length; index += 1) {
    copy[index] = boundedText(items[index], CAPABILITY_BYTES);
  }
  return Object.freeze(copy);
}

export function budgetCopy(value = {}) {
  for (const key of dataKeys(value, "BUDGET_SCHEMA")) {
    if (!Object.hasOwn(DEFAULT_BUDGET, key)) fail("BUDGET_SCHEMA", "Неизвестное поле бюджета.");
  }
  const budget = {};
  for (const field of Object.keys(DEFAULT_BUDGET)) {
    budget[field] = Object.hasOwn(value, field) ? value[field] : DEFAULT_BUDGET[field];
  }
  for (const field of Object.keys(budget)) {
    const lowest = field === "maxConcurrent" || field === "deadlineMs" ? 1 : 0;
    const amount = budget[field];
    if (!Number.isSafeInteger(amount) || amount < lowest) {
      fail("BUDGET_SCHEMA", "Неверная граница " + field + ".");
    }
  }
  for (const field of Object.keys(BUDGET_CEILINGS)) {
    if (budget[field] > BUDGET_CEILINGS[field]) {
      fail("BUDGET_SCHEMA", "Превышена граница настройки исполнителя.");
    }
  }
  return Object.freeze(budget);
}

export function adaptersCopy(adapters = {}) {
  const table = Object.create(null);
  for (const name of dataKeys(adapters, "ADAPTER_SCHEMA")) {
    table[name] = adapterEntry(name, adapters[name]);
  }
  return Object.freeze(table);
}

function adapterEntry(name, provider) {
  dataKeys(provider, "ADAPTER_SCHEMA");
  const { version, invoke } = provider;
  const complete =
    Object.hasOwn(provider, "version") &&
    Object.hasOwn(provider, "invoke") &&
    typeof invoke === "function" &&
    typeof version === "string" &&
    version.trim() !== "";
  if (!complete) fail("ADAPTER_SCHEMA", "Адаптер " + name + " требует version и invoke.");
  boundedText(version, ADAPTER_VERSION_BYTES);
  // The provider stays the receiver of its own invoke, but is not kept as a
  // field of the table; the function is the one read at copy time.
  const call = (args, context) => invoke.call(provider, args, context);
  return Object.freeze({ version, invoke: call });
}

export function validateSignal(signal) {
  if (signal === undefined) return;
  const shaped =
    Boolean(signal) &&
    typeof signal.aborted === "boolean" &&
    typeof signal.addEventListener === "function" &&
    typeof signal.removeEventListener === "function";
  if (!shaped) fail("SIGNAL_SCHEMA", "Ожидается AbortSignal.");
}
