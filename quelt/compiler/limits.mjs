// Bounds shared by the compiler and the runtime. Every table is frozen; the
// runtime reads its per-operation bounds from the exported ones.

export const LIMITS = Object.freeze({
  source: 65536,
  tokens: 20000,
  nodes: 2000,
  functions: 64,
  derives: 256,
  params: 16,
  arrayItems: 4096,
  recordFields: 256,
  identifier: 64,
  depth: 64,
  interfaces: 256,
});

export const RECORD_READ_TYPES = Object.freeze({
  readInt: "Int",
  readFloat: "Float",
  readText: "Text",
  readTruth: "Truth",
  readRecord: "Record",
  readInts: "Int[]",
  readFloats: "Float[]",
  readTexts: "Text[]",
  readTruths: "Truth[]",
  readRecords: "Record[]",
});

export const FUNCTION_LOCAL_LIMITS = Object.freeze({ locals: 16 });
export const FUNCTION_EACH_LIMITS = Object.freeze({ items: 4096, resultUtf8Bytes: 1048576 });
export const FUNCTION_FILTER_LIMITS = Object.freeze({ items: 4096, resultUtf8Bytes: 1048576 });
export const FUNCTION_FOLD_LIMITS = Object.freeze({ items: 4096, stateUtf8Bytes: 1048576 });
export const FUNCTION_REPEAT_LIMITS = Object.freeze({ iterations: 4096, stateUtf8Bytes: 1048576 });
export const TEXT_CONCAT_LIMITS = Object.freeze({ resultUtf8Bytes: 65536 });
export const ARRAY_AT_LIMITS = Object.freeze({ items: 4096 });
export const ARRAY_APPEND_LIMITS = Object.freeze({ items: 4096, resultUtf8Bytes: 1048576 });
export const ARRAY_CONCAT_LIMITS = Object.freeze({ items: 4096, resultUtf8Bytes: 1048576 });
export const RECORD_KEYS_LIMITS = Object.freeze({ fields: 4096, resultUtf8Bytes: 1048576 });
export const RECORD_FIELD_CHECK_LIMITS = Object.freeze({ fields: 256 });
export const NAMED_RECORD_SCHEMA_LIMITS = Object.freeze({ schemas: 16, fields: 256, totalFields: 256 });
export const RESULT_LIMITS = Object.freeze({ results: 16 });
export const INT_BITS_LIMITS = Object.freeze({
  bits: 32,
  valueMin: 0,
  valueMax: 4294967295,
  shiftMin: 0,
  shiftMax: 31,
  logicalSteps: 32,
});
export const TEXT_OP_LIMITS = Object.freeze({
  splitItems: 4096,
  splitResultUtf8Bytes: 1048576,
  joinResultUtf8Bytes: 65536,
});
