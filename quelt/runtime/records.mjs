// Record operations behind the keys, withField, withoutField and checkFields
// stages, the Record member counter, and the canonical-byte counters that
// bound array results.
//
// Exports:
//   recordKeys(value, ctx)        frozen array of the own enumerable names sorted
//                                 by UTF-16 code units (charged merge sort);
//                                 RECORD_LIMIT / RECORD_KEYS_BYTES.
//   recordFields(record, key, value, remove, ctx) -> typed Record: the field
//                                 replaced in place, appended last, or removed;
//                                 charged and bounded before the copy is made.
//   checkRecordFields(record, fields, ctx) -> frozen report Record
//                                 {valid, code, field, expected, index}; never
//                                 fails on a mismatch.
//   matchesFieldType(value, type, ctx) -> Boolean for the scalar read types.
//   recordWork(value)             total array items + object fields inside a
//                                 value (0 for a scalar); RECORD_LIMIT.
//   recordWorkWith(value, summary) recordWork with the value's admittedSummary
//                                 already looked up.
//   appendCanonicalBytes, concatCanonicalBytes, filterCanonicalBytes,
//   sortByCanonicalBytes (value, state, ctx)
//                                 add the value's canonical bytes to state.bytes,
//                                 failing as soon as the total exceeds the limit.

import {
  ARRAY_APPEND_LIMITS,
  ARRAY_CONCAT_LIMITS,
  FUNCTION_FILTER_LIMITS,
  RECORD_KEYS_LIMITS,
} from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";
import { FUNCTION_SORT_BY_LIMITS, RUNTIME_LIMITS } from "./limits.mjs";
import { sortTexts } from "./ordering.mjs";
import { jsonTextBytes, scalarCanonicalBytes, scalarJsonBytes } from "./utf8.mjs";
import { admittedSummary, ev, normalize } from "./values.mjs";

const TOO_MANY_FIELDS = "Record содержит слишком много полей.";

function isContainer(value) {
  return value !== null && typeof value === "object";
}

export function recordKeys(value, ctx) {
  const names = Object.keys(value);
  if (names.length > RECORD_KEYS_LIMITS.fields) fail("RECORD_LIMIT", TOO_MANY_FIELDS);
  for (let i = 0; i < names.length; i += 1) ctx.step();
  let total = 2;
  for (let i = 0; i < names.length; i += 1) {
    ctx.check();
    const size = jsonTextBytes(names[i]);
    ctx.check();
    total += size + (i > 0 ? 1 : 0);
    if (total > RECORD_KEYS_LIMITS.resultUtf8Bytes) {
      fail("RECORD_KEYS_BYTES", "Полный массив ключей Record превышает лимит UTF-8.");
    }
  }
  const sorted = sortTexts(names, ctx);
  ctx.check();
  return Object.freeze(sorted);
}

// ---- withField / withoutField --------------------------------------------

// The new field sequence: names and values in order (a check per name visited).
function fieldSequence(record, names, key, value, remove, exists, ctx) {
  const sequenceNames = [];
  const sequenceValues = [];
  for (const name of names) {
    ctx.check();
    if (name === key) {
      if (remove) continue;
      sequenceNames.push(name);
      sequenceValues.push(value);
    } else {
      sequenceNames.push(name);
      sequenceValues.push(record[name]);
    }
  }
  if (!remove && !exists) {
    ctx.check();
    sequenceNames.push(key);
    sequenceValues.push(value);
  }
  return { names: sequenceNames, values: sequenceValues };
}

// Members of nested containers, with the depth bound of Record data.
function structureWalk(value, depth, state, ctx) {
  ctx.check();
  if (depth > RUNTIME_LIMITS.recordDepth) fail("RECORD_LIMIT", "Превышена глубина Record.");
  if (!isContainer(value)) return;
  if (Array.isArray(value)) {
    addMembers(state, value.length);
    for (let i = 0; i < value.length; i += 1) structureWalk(value[i], depth + 1, state, ctx);
  } else {
    const names = Object.keys(value);
    addMembers(state, names.length);
    for (const name of names) structureWalk(value[name], depth + 1, state, ctx);
  }
}

function addMembers(state, count) {
  state.members += count;
  if (state.members > RUNTIME_LIMITS.recordMembers) fail("RECORD_LIMIT", "Record содержит слишком много элементов.");
}

function sizeWalk(value, state, ctx) {
  ctx.check();
  if (Array.isArray(value)) {
    for (let i = 0; i < value.length; i += 1) sizeWalk(value[i], state, ctx);
  } else if (isContainer(value)) {
    for (const name of Object.keys(value)) {
      addRecordBytes(state, jsonTextBytes(name), ctx);
      sizeWalk(value[name], state, ctx);
    }
  } else addRecordBytes(state, scalarJsonBytes(value), ctx);
}

function addRecordBytes(state, bytes, ctx) {
  ctx.check();
  state.bytes += bytes;
  if (state.bytes > RUNTIME_LIMITS.inputBytes) fail("RECORD_LIMIT", "Превышен размер Record.");
}

export function recordFields(record, key, value, remove, ctx) {
  const names = Object.keys(record);
  const exists = Object.hasOwn(record, key);
  const fieldCount = names.length + (!remove && !exists ? 1 : remove && exists ? -1 : 0);
  if (fieldCount > RUNTIME_LIMITS.recordMembers) fail("RECORD_LIMIT", TOO_MANY_FIELDS);
  const sequence = fieldSequence(record, names, key, value, remove, exists, ctx);
  const count = sequence.names.length;
  const structure = { members: fieldCount };
  for (let i = 0; i < count; i += 1) structureWalk(sequence.values[i], 1, structure, ctx);
  ctx.step(structure.members);
  const size = { bytes: 0 };
  for (let i = 0; i < count; i += 1) {
    addRecordBytes(size, jsonTextBytes(sequence.names[i]), ctx);
    sizeWalk(sequence.values[i], size, ctx);
  }
  ctx.check();
  const built = Object.create(null);
  for (let i = 0; i < count; i += 1) built[sequence.names[i]] = sequence.values[i];
  const copy = normalize(built, "Record");
  ctx.check();
  return ev(copy, "Record");
}

// ---- checkFields -----------------------------------------------------------

export function matchesFieldType(value, type, ctx) {
  switch (type) {
    case "Int":
      return Number.isSafeInteger(value);
    case "Float":
      return typeof value === "number" && Number.isFinite(value);
    case "Text":
      return typeof value === "string";
    case "Record":
      return isContainer(value) && !Array.isArray(value);
    case "Truth": {
      if (value === null || value === "yes" || value === "no" || value === "unknown") return true;
      if (!isContainer(value) || Array.isArray(value)) return false;
      ctx.step(2);
      const names = Object.keys(value);
      return names.length === 1 && names[0] === "kind" && value.kind === "quelt-unknown";
    }
    default:
      return false;
  }
}

function fieldReport(valid, code, field, expected, index) {
  return { valid, code, field, expected, index };
}

function firstMismatch(record, fields, ctx) {
  for (const { key, type } of fields) {
    ctx.step();
    if (!Object.hasOwn(record, key)) return fieldReport("no", "FIELD_MISSING", key, type, -1);
    const value = record[key];
    if (type.endsWith("[]")) {
      if (!Array.isArray(value)) return fieldReport("no", "FIELD_TYPE", key, type, -1);
      const itemType = type.slice(0, -2);
      for (let i = 0; i < value.length; i += 1) {
        ctx.step();
        if (!matchesFieldType(value[i], itemType, ctx)) return fieldReport("no", "FIELD_ITEM_TYPE", key, type, i);
      }
    } else if (!matchesFieldType(value, type, ctx)) {
      return fieldReport("no", "FIELD_TYPE", key, type, -1);
    }
  }
  return fieldReport("yes", "OK", "", "", -1);
}

export function checkRecordFields(record, fields, ctx) {
  const report = firstMismatch(record, fields, ctx);
  ctx.step(5);
  const admitted = normalize(report, "Record");
  ctx.check();
  return admitted;
}

// ---- member counting -------------------------------------------------------

// A scalar costs nothing. Admitted data within the bounds counts what its
// summary holds, as countMembers would answer at the top; other containers
// are walked with one shared count.
export function recordWork(value) {
  if (value === null || typeof value !== "object") return 0;
  const summary = admittedSummary(value);
  if (summary !== undefined && summary.height <= RUNTIME_LIMITS.recordDepth && summary.members <= RUNTIME_LIMITS.recordMembers) {
    return summary.members;
  }
  const counts = { members: 0 };
  countMembers(value, 0, counts);
  return counts.members;
}

// recordWork(value) for a value whose admittedSummary is already known
// (undefined for data that was not admitted).
export function recordWorkWith(value, summary) {
  if (value === null || typeof value !== "object") return 0;
  if (summary !== undefined && summary.height <= RUNTIME_LIMITS.recordDepth && summary.members <= RUNTIME_LIMITS.recordMembers) {
    return summary.members;
  }
  const counts = { members: 0 };
  countMembers(value, 0, counts);
  return counts.members;
}

function countMembers(value, depth, counts) {
  if (!isContainer(value)) return;
  // Admitted data already counted its members; when no bound can be reached
  // below this point the walk would only add them up.
  const summary = admittedSummary(value);
  if (
    summary !== undefined &&
    depth + summary.height <= RUNTIME_LIMITS.recordDepth &&
    counts.members + summary.members <= RUNTIME_LIMITS.recordMembers
  ) {
    counts.members += summary.members;
    return;
  }
  if (depth > RUNTIME_LIMITS.recordDepth) fail("RECORD_LIMIT", "Record depth limit");
  const children = Array.isArray(value) ? value : Object.keys(value).map((name) => value[name]);
  counts.members += children.length;
  if (counts.members > RUNTIME_LIMITS.recordMembers) fail("RECORD_LIMIT", "Record member limit");
  for (const child of children) countMembers(child, depth + 1, counts);
}

// ---- canonical-byte family -------------------------------------------------

function canonicalBytes(value, state, ctx, limit, code, message) {
  const add = (bytes) => {
    ctx.check();
    state.bytes += bytes;
    if (state.bytes > limit) fail(code, message);
  };
  const visit = (item) => {
    ctx.check();
    if (Array.isArray(item)) {
      add(2);
      for (let i = 0; i < item.length; i += 1) {
        if (i > 0) add(1);
        visit(item[i]);
      }
    } else if (isContainer(item)) {
      add(2);
      const names = Object.keys(item).sort();
      for (let i = 0; i < names.length; i += 1) {
        if (i > 0) add(1);
        add(jsonTextBytes(names[i]) + 1);
        visit(item[names[i]]);
      }
    } else add(scalarCanonicalBytes(item));
  };
  visit(value);
}

export function appendCanonicalBytes(value, state, ctx) {
  canonicalBytes(value, state, ctx, ARRAY_APPEND_LIMITS.resultUtf8Bytes, "APPEND_RESULT_BYTES", "Полный результат append превышает лимит UTF-8.");
}

export function concatCanonicalBytes(value, state, ctx) {
  canonicalBytes(value, state, ctx, ARRAY_CONCAT_LIMITS.resultUtf8Bytes, "CONCAT_RESULT_BYTES", "Полный результат concat превышает лимит UTF-8.");
}

export function filterCanonicalBytes(value, state, ctx) {
  canonicalBytes(value, state, ctx, FUNCTION_FILTER_LIMITS.resultUtf8Bytes, "FILTER_RESULT_BYTES", "Полный результат filter превышает лимит UTF-8.");
}

export function sortByCanonicalBytes(value, state, ctx) {
  canonicalBytes(value, state, ctx, FUNCTION_SORT_BY_LIMITS.resultUtf8Bytes, "SORT_RESULT_BYTES", "Полный результат sortBy превышает лимит UTF-8.");
}
