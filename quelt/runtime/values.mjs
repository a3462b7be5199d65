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
//   boundedText(value, max)     the text itself when at most `max` (default
//                               65536) UTF-8 bytes; fails TEXT_LIMIT.
//   unknownMarker(value)        true for UNKNOWN, null and the stored marker.
//   jsonCopy(value)             frozen, prototype-free deep copy of Record data
//                               under the Record limits (depth, members, bytes).
//   normalize(value, type)      admission of a value at a built-in type text.
//   canonical(value)            deterministic text form (sorted names, "-0").
//   canonicalSize(value)        UTF-8 bytes of canonical(value), without building it.
//   admittedSummary(value)      what jsonCopy measured of a copy it made
//                               (members, bytes, height, canonicalBytes), else
//                               undefined; lets other walks over admitted data
//                               skip work whose outcome is already known.
// Every failure is a RuntimeDiagnostic raised through `fail`.

import { fail } from "./diagnostics.mjs";
import { RUNTIME_LIMITS } from "./limits.mjs";
import { jsonQuote, jsonTextBytes, jsonTextBytesOf, scalarCanonicalBytes, scalarJsonBytes, utf8Length } from "./utf8.mjs";

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

export function ownObject(value) {
  if (!value || typeof value !== "object" || Array.isArray(value)) return false;
  const prototype = Object.getPrototypeOf(value);
  return prototype === objectPrototype || prototype === null;
}

function isDataField(descriptor) {
  return descriptor !== undefined && descriptor.enumerable === true && Object.hasOwn(descriptor, "value");
}

export function dataKeys(value, code = "VALUE_SCHEMA") {
  if (!ownObject(value)) fail(code, "Ожидается объект данных.");
  const keys = Reflect.ownKeys(value);
  for (const key of keys) {
    if (typeof key === "symbol" || !isDataField(Object.getOwnPropertyDescriptor(value, key))) {
      fail(code, "Символы, скрытые поля и getters не разрешены.");
    }
  }
  return keys;
}

export function dense(value, limit = RUNTIME_LIMITS.arrayLength) {
  if (!Array.isArray(value) || value.length > limit || Reflect.ownKeys(value).length !== value.length + 1) {
    fail("ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита.");
  }
  for (let i = 0; i < value.length; i += 1) {
    if (!isDataField(Object.getOwnPropertyDescriptor(value, i))) {
      fail("ARRAY_SCHEMA", "Пропуски и getters в массиве не разрешены.");
    }
  }
  return value;
}

export function boundedText(value, max = RUNTIME_LIMITS.textBytes) {
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

// Every container that jsonCopy makes is frozen Record data that passed all
// checks; its summary (members and JSON bytes of its subtree, its own member
// included, the levels of values below it, and its canonical size) lets a
// later admission of the same data skip the re-validation whenever the
// summary shows that no limit can be reached, and copy only the structure.
// A walk that could reach a limit is done in full, so failures are the same.
const summaries = new WeakMap();

// `path` holds the containers on the way down (cycle test); `counts` is shared
// by the whole walk so the limits bound the Record as a whole.
export function jsonCopy(value, depth = 0, path = new Set(), counts = { members: 0, bytes: 0 }) {
  if (depth > RUNTIME_LIMITS.recordDepth) fail("RECORD_LIMIT", "Превышена глубина Record.");
  const kind = typeof value;
  if (kind === "string") {
    addBytes(counts, jsonTextBytesOf(value, boundedTextBytes(value, RUNTIME_LIMITS.textBytes)));
    return value;
  }
  if (value === null || kind === "boolean" || kind === "number") {
    if (kind === "number" && !Number.isFinite(value)) fail("VALUE_TYPE", "JSON-число должно быть конечным.");
    addBytes(counts, scalarJsonBytes(value));
    return value;
  }
  if (kind !== "object" || path.has(value)) {
    fail("VALUE_TYPE", "Record должен содержать конечные JSON-данные без циклов.");
  }
  const summary = summaries.get(value);
  if (
    summary !== undefined &&
    depth + summary.height <= RUNTIME_LIMITS.recordDepth &&
    counts.members + summary.members <= RUNTIME_LIMITS.recordMembers &&
    counts.bytes + summary.bytes <= RUNTIME_LIMITS.inputBytes
  ) {
    counts.members += summary.members;
    counts.bytes += summary.bytes;
    return copyAdmitted(value, summary);
  }
  const members = counts.members;
  const bytes = counts.bytes;
  path.add(value);
  let copy;
  let height = 0;
  let canonicalBytes = 2;
  if (Array.isArray(value)) {
    dense(value);
    counts.members += value.length;
    if (counts.members > RUNTIME_LIMITS.recordMembers) fail("RECORD_LIMIT", "Record содержит слишком много элементов.");
    copy = new Array(value.length);
    if (value.length > 1) canonicalBytes += value.length - 1;
    for (let i = 0; i < value.length; i += 1) {
      const before = counts.bytes;
      const item = jsonCopy(value[i], depth + 1, path, counts);
      copy[i] = item;
      height = childHeight(item, height);
      canonicalBytes += childCanonicalBytes(item, counts.bytes - before);
    }
  } else {
    const keys = dataKeys(value);
    counts.members += keys.length;
    if (counts.members > RUNTIME_LIMITS.recordMembers) fail("RECORD_LIMIT", "Record содержит слишком много полей.");
    copy = Object.create(null);
    if (keys.length > 1) canonicalBytes += keys.length - 1;
    for (const key of keys) {
      const keyBytes = jsonTextBytesOf(key, boundedTextBytes(key, RUNTIME_LIMITS.textBytes));
      addBytes(counts, keyBytes);
      // Assignment on a prototype-free object always makes an own data field
      // (even for "__proto__"); freezing makes it read-only and fixed.
      const before = counts.bytes;
      const item = jsonCopy(value[key], depth + 1, path, counts);
      copy[key] = item;
      height = childHeight(item, height);
      canonicalBytes += keyBytes + 1 + childCanonicalBytes(item, counts.bytes - before);
    }
  }
  path.delete(value);
  Object.freeze(copy);
  summaries.set(copy, {
    members: counts.members - members,
    bytes: counts.bytes - bytes,
    height,
    canonicalBytes,
  });
  return copy;
}

// The summary of Record data made by jsonCopy, else undefined: `members`
// (array items and object fields in the subtree, its own included), `bytes`
// (JSON bytes of its scalars and names), `height` (levels of values below it)
// and `canonicalBytes` (UTF-8 size of its canonical form).
export function admittedSummary(value) {
  return summaries.get(value);
}

// The levels below a container: one for its children, plus what lies below them.
function childHeight(item, height) {
  const below = item !== null && typeof item === "object" ? summaries.get(item).height + 1 : 1;
  return below > height ? below : height;
}

// A scalar's canonical text is its JSON text (`jsonBytes`, just counted),
// except that negative zero is written "-0" instead of "0".
function childCanonicalBytes(item, jsonBytes) {
  if (item !== null && typeof item === "object") return summaries.get(item).canonicalBytes;
  return item === 0 && 1 / item < 0 ? jsonBytes + 1 : jsonBytes;
}

// A fresh frozen copy of admitted data: the same structure, no checks needed.
function copyAdmitted(value, summary) {
  let copy;
  if (Array.isArray(value)) {
    copy = new Array(value.length);
    for (let i = 0; i < value.length; i += 1) copy[i] = copiedItem(value[i]);
  } else {
    copy = Object.create(null);
    for (const key of Object.keys(value)) copy[key] = copiedItem(value[key]);
  }
  Object.freeze(copy);
  summaries.set(copy, summary);
  return copy;
}

function copiedItem(item) {
  return item !== null && typeof item === "object" ? copyAdmitted(item, summaries.get(item)) : item;
}

function addBytes(counts, bytes) {
  counts.bytes += bytes;
  if (counts.bytes > RUNTIME_LIMITS.inputBytes) fail("RECORD_LIMIT", "Превышен размер Record.");
}

export function normalize(value, type) {
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
    return Object.freeze(items);
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
      // The unknown value itself is no Record, although it has an object's
      // shape; inside Record data it is stored as the marker (jsonCopy).
      if (!ownObject(value) || value === UNKNOWN) fail("VALUE_TYPE", "Record требует JSON-объект.");
      return jsonCopy(value);
    default:
      return fail("VALUE_TYPE", `Неподдерживаемый тип ${type}.`);
  }
}

function isNegativeZero(value) {
  return value === 0 && 1 / value < 0;
}

// Default sort order of texts is UTF-16 code-unit order.
function sortedNames(value) {
  return Object.keys(value).sort();
}

export function canonical(value) {
  if (Array.isArray(value)) {
    const parts = new Array(value.length);
    for (let i = 0; i < value.length; i += 1) parts[i] = canonical(value[i]);
    return `[${parts.join(",")}]`;
  }
  if (value !== null && typeof value === "object") {
    const names = sortedNames(value);
    const parts = new Array(names.length);
    for (let i = 0; i < names.length; i += 1) parts[i] = `${jsonQuote(names[i])}:${canonical(value[names[i]])}`;
    return `{${parts.join(",")}}`;
  }
  if (typeof value === "string") return jsonQuote(value);
  if (typeof value === "number") return isNegativeZero(value) ? "-0" : String(value);
  return value === null ? "null" : String(value);
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
