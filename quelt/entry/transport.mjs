// Tagged values: the JSON form in which inputs and outputs cross the process
// boundary. `decode` reads request nodes, `checkTag` matches them against the
// declared input types, `encode` writes output values back as nodes.
import { UNKNOWN, isUnknown, RuntimeDiagnostic } from "quelt/runtime.mjs";
import { refuse, object, closed, text } from "./boundary.mjs";

const MAX_DEPTH = 64;
const BITS = /^[0-9a-f]{16}$/;

// One 8-byte scratch view for converting doubles to and from their bits.
let scratch = null;
function scratchView() {
  if (scratch === null) scratch = new DataView(new ArrayBuffer(8));
  return scratch;
}

// The 16 lowercase hexadecimal digits of the big-endian IEEE-754 bits.
export function numberBits(value) {
  const view = scratchView();
  view.setFloat64(0, value, false);
  return hex32(view.getUint32(0, false)) + hex32(view.getUint32(4, false));
}

function hex32(word) {
  return word.toString(16).padStart(8, "0");
}

function bitsNumber(bits) {
  if (typeof bits !== "string" || !BITS.test(bits)) refuse();
  const view = scratchView();
  view.setUint32(0, parseInt(bits.slice(0, 8), 16), false);
  view.setUint32(4, parseInt(bits.slice(8), 16), false);
  const value = view.getFloat64(0, false);
  if (!Number.isFinite(value)) refuse();
  return value;
}

// The key lists of the node forms, compared in order by `closed`.
const NUMBER_KEYS = ["tag", "bits"];
const VALUE_KEYS = ["tag", "value"];
const NULL_KEYS = ["tag"];
const ARRAY_KEYS = ["tag", "items"];
const RECORD_KEYS = ["tag", "entries"];

export function decode(tree, depth = 0, inRecord = false) {
  if (depth > MAX_DEPTH) refuse("NATIVE_TRANSPORT_LIMIT", "transport");
  if (!object(tree) || typeof tree.tag !== "string") refuse();
  switch (tree.tag) {
    case "number":
      closed(tree, NUMBER_KEYS);
      return bitsNumber(tree.bits);
    case "text":
      closed(tree, VALUE_KEYS);
      return text(tree.value);
    case "truth":
      return decodeTruth(tree, inRecord);
    case "boolean":
      closed(tree, VALUE_KEYS);
      if (typeof tree.value !== "boolean") refuse();
      return tree.value;
    case "null":
      closed(tree, NULL_KEYS);
      return null;
    case "array":
      return decodeArray(tree, depth, inRecord);
    case "record":
      return decodeRecord(tree, depth);
    default:
      return refuse();
  }
}

function decodeTruth(tree, inRecord) {
  closed(tree, VALUE_KEYS);
  if (inRecord) refuse();
  const word = tree.value;
  if (word === "unknown") return UNKNOWN;
  if (word !== "yes" && word !== "no") refuse();
  return word;
}

function decodeArray(tree, depth, inRecord) {
  closed(tree, ARRAY_KEYS);
  const items = tree.items;
  if (!Array.isArray(items)) refuse();
  const count = items.length;
  const values = new Array(count);
  for (let index = 0; index < count; index += 1) {
    values[index] = decode(items[index], depth + 1, inRecord);
  }
  return values;
}

// The record has no prototype, so `in` sees exactly the keys defined so far
// and a plain assignment defines an own enumerable, writable, configurable
// data property (also for a key such as `__proto__`).
function decodeRecord(tree, depth) {
  closed(tree, RECORD_KEYS);
  const entries = tree.entries;
  if (!Array.isArray(entries)) refuse();
  const record = Object.create(null);
  const count = entries.length;
  for (let index = 0; index < count; index += 1) {
    const entry = entries[index];
    if (!Array.isArray(entry) || entry.length !== 2) refuse();
    const key = text(entry[0]);
    if (key in record) refuse();
    record[key] = decode(entry[1], depth + 1, true);
  }
  return record;
}

function splitOptional(type) {
  const optional = type.endsWith("?");
  return { optional, base: optional ? type.slice(0, -1) : type };
}

function expectedTag(base) {
  if (base.endsWith("[]")) return "array";
  switch (base) {
    case "Int":
    case "Float":
      return "number";
    case "Text":
      return "text";
    case "Truth":
      return "truth";
    case "Record":
      return "record";
    default:
      return undefined;
  }
}

// Whether a request node stands for the unknown value of an optional input.
function absentNode(tree, value) {
  if (tree.tag === "null") return true;
  if (tree.tag === "truth") return tree.value === "unknown";
  return tree.tag === "record" && value.kind === "quelt-unknown";
}

// Checks the tags of a decoded run input against its declared type. Only
// the node kinds are compared; integrality and ranges are the runtime's.
export function checkTag(tree, value, type) {
  if (type === undefined) return;
  const { optional, base } = splitOptional(type);
  if (optional && absentNode(tree, value)) return;
  if (tree.tag !== expectedTag(base)) throw new RuntimeDiagnostic("VALUE_TYPE", "Native typed input");
  if (!base.endsWith("[]")) return;
  const element = base.slice(0, -2);
  for (let index = 0; index < tree.items.length; index += 1) {
    checkTag(tree.items[index], value[index], element);
  }
}

function hostFailure() {
  return refuse("NATIVE_HOST_FAILURE", "host");
}

// Encodes an output value with its declared type; only the type Truth (also
// optional or as an array element) yields Truth nodes.
export function encode(value, type) {
  if (typeof type !== "string") hostFailure();
  const { optional, base } = splitOptional(type);
  if ((optional || base === "Truth") && isUnknown(value)) return { tag: "truth", value: "unknown" };
  if (base === "Truth") {
    if (value !== "yes" && value !== "no") hostFailure();
    return { tag: "truth", value };
  }
  if (base.endsWith("[]")) {
    if (!Array.isArray(value)) hostFailure();
    const element = base.slice(0, -2);
    return { tag: "array", items: value.map((item) => encode(item, element)) };
  }
  return encodeJSON(value);
}

// Encodes plain data without a type: strings are text nodes, objects are
// records in the engine's own-key order.
export function encodeJSON(value, depth = 0) {
  if (depth > MAX_DEPTH) refuse("NATIVE_TRANSPORT_LIMIT", "transport");
  if (value === null) return { tag: "null" };
  switch (typeof value) {
    case "number":
      if (!Number.isFinite(value)) hostFailure();
      return { tag: "number", bits: numberBits(value) };
    case "string":
      return { tag: "text", value: text(value) };
    case "boolean":
      return { tag: "boolean", value };
    case "object":
      if (Array.isArray(value)) return { tag: "array", items: value.map((item) => encodeJSON(item, depth + 1)) };
      if (isUnknown(value)) hostFailure();
      return { tag: "record", entries: Object.keys(value).map((key) => [key, encodeJSON(value[key], depth + 1)]) };
    default:
      return hostFailure();
  }
}
