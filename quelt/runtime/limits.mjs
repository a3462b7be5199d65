// The runtime's exported bounds. Created once, frozen.

export const RUNTIME_LIMITS = Object.freeze({
  textBytes: 65536,
  inputBytes: 1048576,
  arrayLength: 4096,
  recordDepth: 24,
  recordMembers: 4096,
  cacheBytes: 4194304,
});

export const DEFAULT_BUDGET = Object.freeze({
  maxSteps: 100000,
  maxAdapterCalls: 64,
  maxConcurrent: 4,
  maxQueued: 256,
  maxOutputBytes: 1048576,
  deadlineMs: 15000,
});

export const RUNTIME_CACHE_LIMITS = Object.freeze({ maxBytes: 67108864, maxEntries: 4096 });
export const FUNCTION_SORT_BY_LIMITS = Object.freeze({ items: 4096, keysUtf8Bytes: 1048576, resultUtf8Bytes: 1048576 });
export const TEXT_PARSE_INT_LIMITS = Object.freeze({ textUtf8Bytes: 65536, maxMagnitude: 9007199254740991 });
export const TEXT_PARSE_FLOAT_LIMITS = Object.freeze({ textUtf8Bytes: 65536 });
export const RECORD_JSON_LIMITS = Object.freeze({ textUtf8Bytes: RUNTIME_LIMITS.textBytes });
