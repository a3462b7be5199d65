// The runtime's value model: the unknown value, typed values, and the checking
// and copying routines through which every value enters the runtime.
//
// Exports:
//   UNKNOWN, isUnknown(value)   the one unknown value; recognised by identity.
//   ev(value, type)             a fresh typed value {value, type}.
//   base(type)                  the type text without one trailing "?".
//   ownObject(value)            true for a plain data object (standard or null
//                               prototype, not an array).
//   dataKeys(value, code)       own names of a data object, in own-key order;
//                               fails `code` (default VALUE_SCHEMA).
//   dense(value, limit)         the array itself when dense and at most `limit`
//                               (default 4096) long; fails ARRAY_SCHEMA.
//   knownDense(value)           true for a frozen array already found dense
//                               (its items are own, enumerable data fields).
//   boundedText(value, max)     the text itself when at most `max` (default
//                               65536) UTF-8 bytes; fails TEXT_LIMIT.
//   unknownMarker(value)        true for UNKNOWN, null and the stored marker.
//   jsonCopy(value)             frozen, prototype-free deep copy of Record data
//                               under the Record limits (depth, members, bytes).
//   normalize(value, type)      admission of a value at a built-in type text.
//   canonical(value)            deterministic text form (sorted names, "-0").
//   canonicalSize(value)        UTF-8 bytes of canonical(value), without building it.
//   admittedSummary(value)      what jsonCopy measured of a copy it made
//                               (members, bytes, height, canonicalBytes, `json`
//                               when JSON.stringify writes its canonical text,
//                               and `text`, the canonical text once written), else
//                               undefined; lets other walks over admitted data
//                               skip work whose outcome is already known.
//   jsonWritesArraysAsData()    true while JSON.stringify finds no `toJSON`
//                               method on plain objects and arrays, so that it
//                               writes admitted data as the data it holds.
// Every failure is a RuntimeDiagnostic raised through `fail`.

import { fail } from "./diagnostics.mjs";
import { RUNTIME_LIMITS } from "./limits.mjs";
import {
  SHORT_TEXT,
  jsonQuote,
  jsonTextBytes,
  jsonTextBytesOf,
  scalarCanonicalBytes,
  shortTextJsonBytes,
  utf8Length,
} from "./utf8.mjs";

export const UNKNOWN = Object.freeze({ kind: "quelt-unknown" });

export function isUnknown(value) {
  return value === UNKNOWN;
}

export function ev(value, type) {
  return { value, type };
}

export function base(type) {
  return type.endsWith("?") ? type.slice(0, -1) : type;
}

const objectPrototype = Object.prototype;
const ownKeysOf = Reflect.ownKeys;
const descriptorOf = Object.getOwnPropertyDescriptor;
const createObject = Object.create;
const freeze = Object.freeze;
const isArray = Array.isArray;
const prototypeOf = Object.getPrototypeOf;
const assign = Object.assign;
const numberText = String;

export function ownObject(value) {
  if (!value || typeof value !== "object" || isArray(value)) return false;
  const prototype = prototypeOf(value);
  return prototype === objectPrototype || prototype === null;
}

// A field descriptor of plain data: enumerable, with a value (a data
// descriptor always has `writable`, an accessor's never has).
function isDataField(descriptor) {
  return descriptor !== undefined && descriptor.enumerable === true && descriptor.writable !== undefined;
}

export function dataKeys(value, code = "VALUE_SCHEMA") {
  if (!ownObject(value)) fail(code, "Ожидается объект данных.");
  const keys = Reflect.ownKeys(value);
  for (let i = 0; i < keys.length; i += 1) {
    const key = keys[i];
    if (typeof key === "symbol" || !isDataField(Object.getOwnPropertyDescriptor(value, key))) {
      fail(code, "Символы, скрытые поля и getters не разрешены.");
    }
  }
  return keys;
}

// Frozen arrays known to be dense data arrays: those normalize made and those
// dense found so. Being frozen, they stay so; only their length is tested again.
const denseArrays = new WeakSet();

export function dense(value, limit = RUNTIME_LIMITS.arrayLength) {
  if (!Array.isArray(value) || value.length > limit) {
    fail("ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита.");
  }
  if (denseArrays.has(value) || summaries.has(value)) return value;
  if (ownKeysOf(value).length !== value.length + 1) {
    fail("ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита.");
  }
  for (let i = 0; i < value.length; i += 1) {
    const descriptor = descriptorOf(value, i);
    if (descriptor === undefined || descriptor.enumerable !== true || descriptor.writable === undefined) {
      fail("ARRAY_SCHEMA", "Пропуски и getters в массиве не разрешены.");
    }
  }
  if (Object.isFrozen(value)) denseArrays.add(value);
  return value;
}

// Freezes and returns an array the runtime has just filled at every index
// (so dense, its items own, enumerable data fields), registered as dense.
export function frozenDense(items) {
  freeze(items);
  denseArrays.add(items);
  return items;
}

// True for an array that dense has accepted (or normalize made) and that
// cannot change any more: every item is an own, enumerable data field.
export function knownDense(value) {
  return denseArrays.has(value) || summaries.has(value);
}

// A text of at most a third of `max` code units fits without being measured:
// a code unit takes at most three UTF-8 bytes.
export function boundedText(value, max = RUNTIME_LIMITS.textBytes) {
  if (typeof value === "string" && value.length * 3 <= max) return value;
  boundedTextBytes(value, max);
  return value;
}

// boundedText's test, answering the text's UTF-8 length.
function boundedTextBytes(value, max) {
  const bytes = typeof value !== "string" || value.length > max ? Infinity : utf8Length(value);
  if (bytes > max) fail("TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8.");
  return bytes;
}

export function unknownMarker(value) {
  if (value === UNKNOWN || value === null) return true;
  if (!ownObject(value)) return false;
  const keys = Reflect.ownKeys(value);
  if (keys.length !== 1 || keys[0] !== "kind") return false;
  const descriptor = Object.getOwnPropertyDescriptor(value, "kind");
  return Object.hasOwn(descriptor, "value") && descriptor.value === "quelt-unknown";
}

// ---- Record data ------------------------------------------------------------

// Every container that jsonCopy makes is frozen Record data that passed all
// checks; its summary (members and JSON bytes of its subtree, its own member
// included, the levels of values below it, its canonical size, whether its
// JSON text is its canonical text, and its canonical text once asked for)
// lets a later admission of the same data skip the re-validation whenever the
// summary shows that no limit can be reached, and copy only the structure. A
// walk that could reach a limit is done in full, so failures are the same.
// Copies share their original's summary.
const summaries = new WeakMap();

// The engine gives an object built field by field one shape per prefix of its
// field names, and drops a shape with the last object that uses it. These keep
// the prefixes of a summary's names and of a field descriptor's alive, so that
// the summaries and descriptors made for every Record reuse them.
const SHAPE_PREFIXES = [
  { members: 0 },
  { members: 0, bytes: 0 },
  { members: 0, bytes: 0, height: 0 },
  { members: 0, bytes: 0, height: 0, canonicalBytes: 0 },
  { value: 0 },
  { value: 0, writable: 0 },
  { value: 0, writable: 0, enumerable: 0 },
];

const RECORD_DEPTH = RUNTIME_LIMITS.recordDepth;
const RECORD_MEMBERS = RUNTIME_LIMITS.recordMembers;
const RECORD_BYTES = RUNTIME_LIMITS.inputBytes;
const TEXT_BYTES = RUNTIME_LIMITS.textBytes;

// The state of one copy: `members` and `bytes` bound the Record as a whole,
// `path` holds the containers on the way down (cycle test), `irregular` counts
// the places where the canonical text departs from the JSON text (a negative
// zero, an object whose names are not in code-unit order), and `height` and
// `canonical` describe the value copied last (the levels it spans below its
// parent and its canonical bytes), read by its parent. One walk is kept for
// reuse while no copy is running.
let idleWalk = null;

export function jsonCopy(value) {
  // The path is empty at the top, so a container goes straight to copying.
  if (typeof value === "object" && value !== null) return copyFresh(value, summaries.get(value));
  const walk = startWalk();
  try {
    return copyValue(value, 0, walk);
  } finally {
    endWalk(walk);
  }
}

// jsonCopy of a container, given its summary (undefined when it is no
// admitted data).
function copyFresh(value, summary) {
  const walk = startWalk();
  try {
    return copyContainer(value, summary, 0, walk);
  } finally {
    endWalk(walk);
  }
}

function startWalk() {
  const walk = idleWalk;
  if (walk === null) return { members: 0, bytes: 0, irregular: 0, path: new Set(), height: 0, canonical: 0 };
  idleWalk = null;
  walk.members = 0;
  walk.bytes = 0;
  walk.irregular = 0;
  return walk;
}

function endWalk(walk) {
  walk.path.clear();
  idleWalk = walk;
}

function copyValue(value, depth, walk) {
  if (depth > RECORD_DEPTH) fail("RECORD_LIMIT", "Превышена глубина Record.");
  if (typeof value === "object" && value !== null) {
    if (walk.path.has(value)) failCycle();
    return copyContainer(value, summaries.get(value), depth, walk);
  }
  const bytes = scalarBytes(value);
  walk.bytes += bytes;
  if (walk.bytes > RECORD_BYTES) failSize();
  walk.height = 1;
  if (value === 0 && 1 / value < 0) {
    walk.irregular += 1;
    walk.canonical = bytes + 1;
  } else walk.canonical = bytes;
  return value;
}

// The JSON bytes of a scalar of Record data, after its checks: a finite
// number, a text within the text limit. Anything else that is no object
// (undefined, functions, symbols, big integers) is no JSON data.
function scalarBytes(value) {
  switch (typeof value) {
    case "string":
      return value.length <= SHORT_TEXT ? shortTextJsonBytes(value) : jsonTextBytesOf(value, boundedTextBytes(value, TEXT_BYTES));
    case "number":
      if (value - value !== 0) fail("VALUE_TYPE", "JSON-число должно быть конечным.");
      return String(value).length;
    case "boolean":
      return value ? 4 : 5;
    case "object":
      if (value === null) return 4;
  }
  return failCycle();
}

function failCycle() {
  return fail("VALUE_TYPE", "Record должен содержать конечные JSON-данные без циклов.");
}

function failSize() {
  return fail("RECORD_LIMIT", "Превышен размер Record.");
}

function copyContainer(value, summary, depth, walk) {
  if (
    summary !== undefined &&
    depth + summary.height <= RECORD_DEPTH &&
    walk.members + summary.members <= RECORD_MEMBERS &&
    walk.bytes + summary.bytes <= RECORD_BYTES
  ) {
    walk.members += summary.members;
    walk.bytes += summary.bytes;
    if (!summary.json) walk.irregular += 1;
    walk.height = summary.height + 1;
    walk.canonical = summary.canonicalBytes;
    return copyAdmitted(value, summary);
  }
  const members = walk.members;
  const bytes = walk.bytes;
  const irregular = walk.irregular;
  const copy = Array.isArray(value) ? copyArray(value, depth, walk) : copyObject(value, depth, walk);
  return noteCopy(copy, walk, members, bytes, irregular);
}

// Records the summary of a new copy from the walk's totals before it (members,
// bytes, irregular) and after it.
function noteCopy(copy, walk, members, bytes, irregular) {
  const height = walk.height;
  summaries.set(copy, {
    members: walk.members - members,
    bytes: walk.bytes - bytes,
    height,
    canonicalBytes: walk.canonical,
    json: walk.irregular === irregular,
  });
  walk.height = height + 1;
  return copy;
}

// The copy loops below leave in `walk` the new container's own height and
// canonical bytes. A container joins the path only before its first container
// child is copied: a cycle can only close through containers.

function copyArray(value, depth, walk) {
  dense(value);
  const count = value.length;
  walk.members += count;
  if (walk.members > RECORD_MEMBERS) fail("RECORD_LIMIT", "Record содержит слишком много элементов.");
  const copy = new Array(count);
  let height = 0;
  let canonicalBytes = count > 1 ? count + 1 : 2;
  let onPath = false;
  for (let i = 0; i < count; i += 1) {
    const item = value[i];
    if (!onPath && typeof item === "object" && item !== null) {
      walk.path.add(value);
      onPath = true;
    }
    copy[i] = copyValue(item, depth + 1, walk);
    if (walk.height > height) height = walk.height;
    canonicalBytes += walk.canonical;
  }
  if (onPath) walk.path.delete(value);
  walk.height = height;
  walk.canonical = canonicalBytes;
  return Object.freeze(copy);
}

// The fields are validated as dataKeys validates them, all before any is
// copied; their values are taken from the descriptors, so no getter runs.
function copyObject(value, depth, walk) {
  if (!ownObject(value)) fail("VALUE_SCHEMA", "Ожидается объект данных.");
  return copyFields(value, depth, walk);
}

// copyObject of a data object. The copy has the original's own-key order; a
// name not above the one before it in code-unit order makes the object
// irregular (canonical sorts names). The Record's byte total is kept in
// `bytes` and handed to `walk` around each container child.
function copyFields(value, depth, walk) {
  const keys = ownKeysOf(value);
  const count = keys.length;
  const fields = new Array(count);
  for (let i = 0; i < count; i += 1) {
    const key = keys[i];
    const descriptor = typeof key === "symbol" ? undefined : descriptorOf(value, key);
    if (descriptor === undefined || descriptor.enumerable !== true || descriptor.writable === undefined) {
      fail("VALUE_SCHEMA", "Символы, скрытые поля и getters не разрешены.");
    }
    fields[i] = descriptor.value;
  }
  return copyFieldValues(value, keys, fields, depth, walk);
}

// copyFields after the fields are validated and read (`fields` holds the
// values in the order of `keys`).
function copyFieldValues(value, keys, fields, depth, walk) {
  const count = keys.length;
  walk.members += count;
  if (walk.members > RECORD_MEMBERS) fail("RECORD_LIMIT", "Record содержит слишком много полей.");
  // Assignment on a prototype-free object always makes an own data field
  // (even for "__proto__"); freezing makes it read-only and fixed.
  const copy = createObject(null);
  let bytes = walk.bytes;
  let height = 0;
  let canonicalBytes = count > 1 ? count + 1 : 2;
  let irregular = 0;
  let onPath = false;
  let previous = "";
  for (let i = 0; i < count; i += 1) {
    const key = keys[i];
    if (!(previous < key)) irregular += 1;
    previous = key;
    let keyBytes = nameSizes.get(key);
    if (keyBytes === undefined) keyBytes = nameJsonBytes(key);
    bytes += keyBytes;
    if (bytes > RECORD_BYTES) failSize();
    const field = fields[i];
    if (typeof field !== "object" || field === null) {
      // copyValue's scalar case, written out: most fields are scalars.
      if (depth >= RECORD_DEPTH) fail("RECORD_LIMIT", "Превышена глубина Record.");
      const size = scalarBytes(field);
      bytes += size;
      if (bytes > RECORD_BYTES) failSize();
      copy[key] = field;
      height = height > 1 ? height : 1;
      canonicalBytes += keyBytes + 1 + size;
      if (field === 0 && 1 / field < 0) {
        irregular += 1;
        canonicalBytes += 1;
      }
    } else {
      if (!onPath) {
        walk.path.add(value);
        onPath = true;
      }
      walk.bytes = bytes;
      copy[key] = copyValue(field, depth + 1, walk);
      bytes = walk.bytes;
      if (walk.height > height) height = walk.height;
      canonicalBytes += keyBytes + 1 + walk.canonical;
    }
  }
  if (onPath) walk.path.delete(value);
  walk.bytes = bytes;
  walk.irregular += irregular;
  walk.height = height;
  walk.canonical = canonicalBytes;
  return freeze(copy);
}

// The summary of Record data made by jsonCopy, else undefined: `members`
// (array items and object fields in the subtree, its own included), `bytes`
// (JSON bytes of its scalars and names), `height` (levels of values below it),
// `canonicalBytes` (UTF-8 size of its canonical form), `json` (no negative
// zero and every object's names in code-unit order, so that JSON.stringify
// writes the canonical form) and, once written and short enough, `text`.
export function admittedSummary(value) {
  return summaries.get(value);
}

// A fresh frozen copy of admitted data: the same structure, no checks needed.
// Containers whose children are all scalars (height 1 or 0) are copied flat.
function copyAdmitted(value, summary) {
  if (!isArray(value)) return copyAdmittedObject(value, summary);
  const copy = new Array(value.length);
  if (summary.height <= 1) for (let i = 0; i < value.length; i += 1) copy[i] = value[i];
  else for (let i = 0; i < value.length; i += 1) copy[i] = copiedItem(value[i]);
  freeze(copy);
  summaries.set(copy, summary);
  return copy;
}

// copyAdmitted of an object.
function copyAdmittedObject(value, summary) {
  let copy;
  if (summary.height <= 1) copy = assign(createObject(null), value);
  else {
    copy = createObject(null);
    const keys = Object.keys(value);
    for (let i = 0; i < keys.length; i += 1) copy[keys[i]] = copiedItem(value[keys[i]]);
  }
  freeze(copy);
  summaries.set(copy, summary);
  return copy;
}

function copiedItem(item) {
  return item !== null && typeof item === "object" ? copyAdmitted(item, summaries.get(item)) : item;
}

// Field names repeat from Record to Record; the JSON sizes of short ones are
// remembered (a bounded table, emptied when full).
const nameSizes = new Map();
const NAME_SIZES_MAX = 1024;

function nameJsonBytes(name) {
  let bytes = nameSizes.get(name);
  if (bytes === undefined) {
    bytes = scalarBytes(name);
    if (name.length <= SHORT_TEXT) {
      if (nameSizes.size >= NAME_SIZES_MAX) nameSizes.clear();
      nameSizes.set(name, bytes);
    }
  }
  return bytes;
}

const isSafeIntegerNumber = Number.isSafeInteger;

// normalize(value, "Record") of a data object other than UNKNOWN: jsonCopy,
// with the object tests already made.
function admitRecord(value) {
  const summary = summaries.get(value);
  if (summary !== undefined) return copyAdmitted(value, summary);
  return admitFlat(value);
}

// admitRecord of data not admitted before. The fields are validated as in
// copyFields and copied in the same pass. A Record whose fields all hold
// scalars whose size is found without failing (finite numbers, texts within
// the text limit, booleans, null), whose names are within the text limit and
// whose byte total stays within the Record limit is then done: copyFields'
// second pass would find no failure and make the same copy and summary.
// Anything else goes on through that pass, with the values already read.
function admitFlat(value) {
  const keys = ownKeysOf(value);
  const count = keys.length;
  // Names equal to those measured last are texts: no symbol test for them.
  const known = sameNames(keys) ? lastNames : null;
  const copy = createObject(null);
  // The values read, once a field is found that is no such scalar.
  let fields = null;
  let valueBytes = 0;
  let negativeZeros = 0;
  for (let i = 0; i < count; i += 1) {
    const key = keys[i];
    const descriptor = known !== null || typeof key !== "symbol" ? descriptorOf(value, key) : undefined;
    if (descriptor === undefined || descriptor.enumerable !== true || descriptor.writable === undefined) {
      fail("VALUE_SCHEMA", "Символы, скрытые поля и getters не разрешены.");
    }
    const field = descriptor.value;
    if (fields !== null) {
      fields[i] = field;
      continue;
    }
    // Assignment on a prototype-free object always makes an own data field.
    copy[key] = field;
    // plainScalarBytes, its two commonest cases written out.
    if (typeof field === "number" && field - field === 0) {
      valueBytes += numberText(field).length;
      if (field === 0 && 1 / field < 0) negativeZeros += 1;
    } else if (typeof field === "string" && field.length <= SHORT_TEXT) {
      valueBytes += shortTextJsonBytes(field);
    } else {
      const size = plainScalarBytes(field);
      if (size < 0) fields = valuesRead(keys, copy, i + 1);
      else valueBytes += size;
    }
  }
  if (count > RECORD_MEMBERS) fail("RECORD_LIMIT", "Record содержит слишком много полей.");
  const measured = fields === null ? (known ?? measureNames(keys)) : null;
  if (measured === null || valueBytes + measured.bytes > RECORD_BYTES) {
    return admitFields(value, keys, fields ?? valuesRead(keys, copy, count));
  }
  const bytes = valueBytes + measured.bytes;
  // Per field: its name, a colon and its scalar ("-0" one byte longer than "0").
  const canonicalBytes = (count > 1 ? count + 1 : 2) + bytes + count + negativeZeros;
  freeze(copy);
  summaries.set(copy, {
    members: count,
    bytes,
    height: count > 0 ? 1 : 0,
    canonicalBytes,
    json: negativeZeros === 0 && measured.unordered === 0,
  });
  return copy;
}

// The field names admitFlat measured last: `keys` (own keys, all texts), the
// JSON bytes of them all, and how many are not above the name before them in
// code-unit order. Records of one array mostly share their names. Replaced,
// never changed, so a measure taken stays valid.
let lastNames = { keys: [], bytes: 0, unordered: 0 };

function sameNames(keys) {
  const known = lastNames.keys;
  if (known.length !== keys.length) return false;
  for (let i = 0; i < keys.length; i += 1) if (keys[i] !== known[i]) return false;
  return true;
}

// The measure of a list of names (texts), kept as lastNames; null when a name
// is long enough to need the text limit's test.
function measureNames(keys) {
  let bytes = 0;
  let unordered = 0;
  let previous = "";
  for (let i = 0; i < keys.length; i += 1) {
    const key = keys[i];
    if (key.length * 3 > TEXT_BYTES) return null;
    if (!(previous < key)) unordered += 1;
    previous = key;
    bytes += nameJsonBytes(key);
  }
  lastNames = { keys, bytes, unordered };
  return lastNames;
}

// The JSON bytes of a scalar that passes scalarBytes' checks and whose size
// is found without failing; -1 for anything else (containers included).
function plainScalarBytes(value) {
  switch (typeof value) {
    case "number":
      return value - value === 0 ? numberText(value).length : -1;
    case "string":
      if (value.length <= SHORT_TEXT) return shortTextJsonBytes(value);
      return value.length * 3 <= TEXT_BYTES ? scalarBytes(value) : -1;
    case "boolean":
      return value ? 4 : 5;
    case "object":
      return value === null ? 4 : -1;
  }
  return -1;
}

// The values of the first `count` names, read back from admitFlat's copy, in
// an array for all the names.
function valuesRead(keys, copy, count) {
  const fields = new Array(keys.length);
  for (let i = 0; i < count; i += 1) fields[i] = copy[keys[i]];
  return fields;
}

// admitFlat's way on: copyFields after its first pass, given the names and
// the values read there.
function admitFields(value, keys, fields) {
  const walk = startWalk();
  try {
    return noteCopy(copyFieldValues(value, keys, fields, 0, walk), walk, 0, 0, 0);
  } finally {
    endWalk(walk);
  }
}

// normalize(value, "Record[]"): the general steps for an array type (neither
// optional nor Truth, so the unknown test is skipped), each item taken through
// the steps of normalize(item, "Record").
function normalizeRecords(value) {
  dense(value);
  const items = new Array(value.length);
  for (let i = 0; i < value.length; i += 1) {
    const item = value[i];
    // Admitted objects have no prototype: they are data objects, not UNKNOWN.
    const summary = summaries.get(item);
    if (summary !== undefined && !isArray(item)) items[i] = copyAdmittedObject(item, summary);
    else items[i] = item !== UNKNOWN && ownObject(item) ? admitFlat(item) : recordStep(item);
  }
  return frozenDense(items);
}

// normalize's general step for the type "Record".
function recordStep(value) {
  // The unknown value itself is no Record, although it has an object's
  // shape; inside Record data it is stored as the marker (jsonCopy).
  if (!ownObject(value) || value === UNKNOWN) fail("VALUE_TYPE", "Record требует JSON-объект.");
  return jsonCopy(value);
}

export function normalize(value, type) {
  // Admitted values of the plain scalar and Record types, without taking the
  // type text apart: the outcome of the steps below for them.
  switch (type) {
    case "Int":
      if (isSafeIntegerNumber(value)) return value === 0 ? 0 : value;
      break;
    case "Float":
      if (typeof value === "number" && value - value === 0) return value;
      break;
    case "Text":
      return boundedText(value);
    case "Record":
      if (value !== UNKNOWN && ownObject(value)) return admitRecord(value);
      break;
    case "Record[]":
      return normalizeRecords(value);
  }
  const optional = type.endsWith("?");
  const t = optional ? type.slice(0, -1) : type;
  if ((optional || t === "Truth") && unknownMarker(value)) return UNKNOWN;
  if (t === "Truth") {
    if (value === "unknown") return UNKNOWN;
    if (value === "yes" || value === "no") return value;
    fail("VALUE_TYPE", "Truth требует yes, no или unknown; числа и Boolean не преобразуются.");
  }
  if (t.endsWith("[]")) {
    dense(value);
    const itemType = t.slice(0, -2);
    const items = new Array(value.length);
    for (let i = 0; i < value.length; i += 1) items[i] = normalize(value[i], itemType);
    return frozenDense(items);
  }
  switch (t) {
    case "Int":
      if (!Number.isSafeInteger(value)) fail("VALUE_TYPE", "Int требует безопасное целое число.");
      return value === 0 ? 0 : value;
    case "Float":
      if (typeof value !== "number" || !Number.isFinite(value)) fail("VALUE_TYPE", "Float требует конечное число.");
      return value;
    case "Text":
      return boundedText(value);
    case "Record":
      return recordStep(value);
    default:
      return fail("VALUE_TYPE", `Неподдерживаемый тип ${type}.`);
  }
}

function isNegativeZero(value) {
  return value === 0 && 1 / value < 0;
}

// The canonical text of admitted data is kept with its summary, which its
// copies share, so data hashed again (a sorted copy of an input, say) is
// written once. Only texts up to this size are kept: nested data would
// otherwise keep the text of every level.
const CACHED_TEXT_BYTES = 16384;

export function canonical(value) {
  if (value === null || typeof value !== "object") return canonicalScalar(value);
  return canonicalOf(value, jsonWritesArraysAsData());
}

// An admitted container whose summary says so (no negative zero, every
// object's names in code-unit order as enumerated) has JSON.stringify's text
// as its canonical text, when `viaJson` holds: JSON.stringify writes the same
// scalars (texts by jsonQuote, which is JSON.stringify; finite numbers as
// String does, -0 apart), fields in own-key order, and items in index order.
function canonicalOf(value, viaJson) {
  const summary = summaries.get(value);
  if (summary === undefined) return canonicalContainer(value, viaJson);
  if (summary.text !== undefined) return summary.text;
  const text = viaJson && summary.json ? JSON.stringify(value) : canonicalContainer(value, viaJson);
  if (summary.canonicalBytes <= CACHED_TEXT_BYTES) summary.text = text;
  return text;
}

// JSON.stringify asks every object it writes for a `toJSON` method. Admitted
// objects have no prototype and hold only data (no function), admitted arrays
// have the standard array prototype: when neither it nor the object prototype
// above it has an own `toJSON` field, none is found and no code runs. Asked
// once per canonical text.
const arrayPrototype = Array.prototype;
const hasOwn = Object.hasOwn;

export function jsonWritesArraysAsData() {
  return (
    Object.getPrototypeOf(arrayPrototype) === objectPrototype &&
    !hasOwn(arrayPrototype, "toJSON") &&
    !hasOwn(objectPrototype, "toJSON")
  );
}

function canonicalScalar(value) {
  if (typeof value === "string") return jsonQuote(value);
  if (typeof value === "number") return isNegativeZero(value) ? "-0" : String(value);
  return value === null ? "null" : String(value);
}

// Field names in UTF-16 code-unit order (the default sort order of texts).
// Scalar items and fields are written in place (canonicalScalar's cases).
function canonicalContainer(value, viaJson) {
  if (Array.isArray(value)) {
    const parts = new Array(value.length);
    for (let i = 0; i < value.length; i += 1) {
      const item = value[i];
      parts[i] = typeof item === "object" && item !== null ? canonicalOf(item, viaJson) : canonicalScalar(item);
    }
    return "[" + parts.join(",") + "]";
  }
  const names = Object.keys(value).sort();
  let text = "{";
  for (let i = 0; i < names.length; i += 1) {
    const name = names[i];
    let prefix = namePrefixes.get(name);
    if (prefix === undefined) prefix = namePrefix(name);
    const item = value[name];
    let itemText;
    if (typeof item === "number") itemText = item === 0 && 1 / item < 0 ? "-0" : String(item);
    else if (typeof item === "string") itemText = jsonQuote(item);
    else if (item === null || typeof item !== "object") itemText = canonicalScalar(item);
    else itemText = canonicalOf(item, viaJson);
    text += (i > 0 ? "," : "") + prefix + itemText;
  }
  return text + "}";
}

// The JSON text of a field name and its colon; short names are remembered
// (a bounded table, emptied when full).
const namePrefixes = new Map();

function namePrefix(name) {
  let prefix = namePrefixes.get(name);
  if (prefix === undefined) {
    prefix = jsonQuote(name) + ":";
    if (name.length <= SHORT_TEXT) {
      if (namePrefixes.size >= NAME_SIZES_MAX) namePrefixes.clear();
      namePrefixes.set(name, prefix);
    }
  }
  return prefix;
}

export function canonicalSize(value) {
  const summary = value !== null && typeof value === "object" ? summaries.get(value) : undefined;
  if (summary !== undefined) return summary.canonicalBytes;
  if (Array.isArray(value)) {
    let bytes = value.length > 1 ? value.length + 1 : 2;
    for (let i = 0; i < value.length; i += 1) bytes += canonicalSize(value[i]);
    return bytes;
  }
  if (value !== null && typeof value === "object") {
    const names = Object.keys(value);
    let bytes = names.length > 1 ? names.length + 1 : 2;
    for (const name of names) bytes += jsonTextBytes(name) + 1 + canonicalSize(value[name]);
    return bytes;
  }
  return scalarCanonicalBytes(value);
}
