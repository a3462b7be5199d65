// The runtime unit: executes compiler-issued Programs under budgets and
// returns run receipts; also offers the cache, the task pool and reactive
// sessions to library callers.
export { UNKNOWN, isUnknown } from "./runtime/values.mjs";
export { RuntimeDiagnostic } from "./runtime/diagnostics.mjs";
export {
  RUNTIME_LIMITS,
  DEFAULT_BUDGET,
  RUNTIME_CACHE_LIMITS,
  FUNCTION_SORT_BY_LIMITS,
  TEXT_PARSE_INT_LIMITS,
  TEXT_PARSE_FLOAT_LIMITS,
  RECORD_JSON_LIMITS,
} from "./runtime/limits.mjs";
export { createRuntimeCache, runtimeCacheStats } from "./runtime/cache.mjs";
export { isRunReceipt } from "./runtime/receipts.mjs";
export { TaskPool } from "./runtime/task-pool.mjs";
export { execute } from "./runtime/driver.mjs";
export { ReactiveSession } from "./runtime/sessions.mjs";
