// The UTF-8 size of a value's JSON text (JSON.stringify), counted from what
// is known of the value instead of writing the text: admitted data knows its
// canonical size, which is its JSON size when its summary's `json` flag holds
// (the same scalars and names, only the order of names may differ); scalars
// are sized by their JSON spelling; other plain containers are walked.
//
// Exports:
//   jsonByteSize(value)               the size; writes the text only when
//                                     the value cannot be vouched for.
//   measuredJsonBytes(value, sizes)   the size, or -1 when the value cannot be
//                                     vouched for: a method JSON.stringify
//                                     would call, an accessor, an array not
//                                     known dense, an unexpected prototype,
//                                     undefined, a function, a symbol or a big
//                                     integer, a level deeper than
//                                     MEASURED_DEPTH (so also a cycle).
//                                     `sizes` remembers containers measured
//                                     (shared by the calls of one measure).
//                                     Only while jsonWritesArraysAsData()
//                                     holds (no toJSON on the prototypes).
//   plainObject(value), dataField(object, name)   the tests it makes.

import { SHORT_TEXT, shortTextJsonBytes } from "./utf8.mjs";
import { admittedSummary, jsonWritesArraysAsData, knownDense } from "./values.mjs";
import { utf8Size } from "./versions.mjs";

const MEASURED_DEPTH = 64;
const NULL_BYTES = 4;

const arrayPrototype = Array.prototype;
const objectPrototype = Object.prototype;
const prototypeOf = Object.getPrototypeOf;
const descriptorOf = Object.getOwnPropertyDescriptor;
const hasOwn = Object.hasOwn;
const isArray = Array.isArray;

export function jsonByteSize(value) {
  const measured = jsonWritesArraysAsData() ? measuredJsonBytes(value, new Map()) : -1;
  return measured >= 0 ? measured : utf8Size(JSON.stringify(value));
}

export function measuredJsonBytes(value, sizes) {
  return valueBytes(value, 0, sizes);
}

export function plainObject(value) {
  const prototype = prototypeOf(value);
  return !isArray(value) && (prototype === objectPrototype || prototype === null);
}

export function dataField(object, name) {
  const descriptor = descriptorOf(object, name);
  return descriptor !== undefined && descriptor.enumerable === true && hasOwn(descriptor, "value");
}

// The UTF-8 size of JSON.stringify(value) as a field or item, or -1.
// Finite numbers are spelled as String spells them, but -0 as "0"; other
// numbers as "null".
function valueBytes(value, depth, sizes) {
  switch (typeof value) {
    case "string":
      return value.length <= SHORT_TEXT ? shortTextJsonBytes(value) : utf8Size(JSON.stringify(value));
    case "number":
      if (value - value !== 0) return NULL_BYTES;
      return value === 0 ? 1 : String(value).length;
    case "boolean":
      return value ? 4 : 5;
    case "object":
      return value === null ? NULL_BYTES : containerBytes(value, admittedSummary(value), depth, sizes);
  }
  return -1;
}

// Admitted data whose JSON text is its canonical text has its size in its
// summary (given, undefined for other data). Other containers are measured
// item by item, once each (`sizes`).
function containerBytes(value, summary, depth, sizes) {
  if (summary !== undefined && summary.json) return summary.canonicalBytes;
  if (depth >= MEASURED_DEPTH) return -1;
  let bytes = sizes.get(value);
  if (bytes !== undefined) return bytes;
  if (isArray(value)) bytes = arrayBytes(value, depth, sizes);
  else if (summary !== undefined) bytes = fieldsBytes(value, depth, sizes);
  else bytes = plainObject(value) ? checkedFieldsBytes(value, depth, sizes) : -1;
  if (bytes >= 0) sizes.set(value, bytes);
  return bytes;
}

// Admitted arrays and frozen arrays found dense hold their items as own data
// fields; any other array is left to JSON.stringify.
function arrayBytes(value, depth, sizes) {
  if (!knownDense(value) || prototypeOf(value) !== arrayPrototype) return -1;
  if (onlyPlainScalars(value)) return utf8Size(JSON.stringify(value));
  const count = value.length;
  let bytes = count > 1 ? count + 1 : 2;
  for (let i = 0; i < count; i += 1) {
    const item = value[i];
    let itemBytes;
    // Arrays of Records are the common case: their summaries are read here.
    if (typeof item === "object" && item !== null) {
      const summary = admittedSummary(item);
      itemBytes = summary !== undefined && summary.json ? summary.canonicalBytes : containerBytes(item, summary, depth + 1, sizes);
    } else itemBytes = valueBytes(item, depth + 1, sizes);
    if (itemBytes < 0) return -1;
    bytes += itemBytes;
  }
  return bytes;
}

// Whether every item is a number, text, Boolean or null: the engine writes
// such an array faster than its items are measured here, and writing it runs
// no code.
function onlyPlainScalars(array) {
  for (let i = 0; i < array.length; i += 1) {
    const item = array[i];
    const kind = typeof item;
    if (kind !== "number" && kind !== "string" && kind !== "boolean" && item !== null) return false;
  }
  return true;
}

// An object of admitted data: its fields are own data fields.
function fieldsBytes(value, depth, sizes) {
  const names = Object.keys(value);
  let bytes = names.length > 1 ? names.length + 1 : 2;
  for (let i = 0; i < names.length; i += 1) {
    const item = valueBytes(value[names[i]], depth + 1, sizes);
    if (item < 0) return -1;
    bytes += valueBytes(names[i], 0, sizes) + 1 + item;
  }
  return bytes;
}

// A plain object the runtime built: measured as fieldsBytes when every field
// JSON.stringify writes is an own data field.
function checkedFieldsBytes(value, depth, sizes) {
  const names = Object.keys(value);
  for (let i = 0; i < names.length; i += 1) {
    if (!hasOwn(descriptorOf(value, names[i]), "value")) return -1;
  }
  return fieldsBytes(value, depth, sizes);
}
