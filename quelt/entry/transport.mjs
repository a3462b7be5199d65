// Tagged values: the JSON form in which inputs and outputs cross the process
// boundary. `decode` reads request nodes, `checkTag` matches them against the
// declared input types, `encode` writes output values back as nodes.
import { UNKNOWN, isUnknown, RuntimeDiagnostic } from "quelt/runtime.mjs";
import { refuse, closed, text } from "./boundary.mjs";

const MAX_DEPTH = 64;

// Built-ins called on every node, held once: a call through a module binding
// skips the global lookup and the property read.
const ownKeys = Object.keys;
const isArray = Array.isArray;
const parseInteger = parseInt;

// The length of the JSON text of the nodes decoded since the last
// `takeTextLength`, counting each string as its characters between two
// quotation marks: the length of their `JSON.stringify` text when no string
// among them needs an escape. Decoding adds each node's share once the node
// is accepted; after a refusal the sum means nothing.
let textLength = 0;

// Returns the text length summed so far and starts a new sum.
export function takeTextLength() {
  const length = textLength;
  textLength = 0;
  return length;
}

// Text lengths of the node forms without their strings' characters, items
// and entries; an entry `[key,node]` adds its brackets, quotes and comma.
const NUMBER_TEXT = JSON.stringify({ tag: "number", bits: "0".repeat(16) }).length;
const TEXT_TEXT = JSON.stringify({ tag: "text", value: "" }).length;
const TRUTH_TEXT = JSON.stringify({ tag: "truth", value: "" }).length;
const BOOLEAN_TEXT = JSON.stringify({ tag: "boolean", value: null }).length - "null".length;
const NULL_TEXT = JSON.stringify({ tag: "null" }).length;
const ARRAY_TEXT = JSON.stringify({ tag: "array", items: [] }).length;
const RECORD_TEXT = JSON.stringify({ tag: "record", entries: [] }).length;
export const ENTRY_TEXT = JSON.stringify(["", null]).length - "null".length;

// The commas between `count` items.
export function commas(count) {
  return count > 0 ? count - 1 : 0;
}

// One 8-byte scratch double seen as two 32-bit words, made on first use.
// Typed arrays use the machine's byte order, so the indexes of the high and
// low words are found once; element access is cheaper in the engine than
// DataView calls.
let double = null;
let words = null;
let highIndex = 1;
let lowIndex = 0;
function makeScratch() {
  const buffer = new ArrayBuffer(8);
  double = new Float64Array(buffer);
  words = new Uint32Array(buffer);
  double[0] = 1;
  highIndex = words[1] === 0x3ff00000 ? 1 : 0;
  lowIndex = 1 - highIndex;
}

// The 16 lowercase hexadecimal digits of the big-endian IEEE-754 bits.
export function numberBits(value) {
  if (words === null) makeScratch();
  double[0] = value;
  return hex32(words[highIndex]) + hex32(words[lowIndex]);
}

function hex32(word) {
  return word.toString(16).padStart(8, "0");
}

const ZERO_WORD = "00000000";
const WORD = 4294967296;

// The number of a node's `bits`: 16 lowercase hexadecimal digits, finite.
//
// When the last 8 digits are zeros (integers and other doubles with a short
// mantissa), the high word is read from all 16 at once. Valid digits then
// parse exactly, their value having at most 32 significant bits, so `high`
// is an integer below 2^32 and 2^32 + high prints as "1" followed by the
// first 8 digits. Conversely, when it prints so, the first 8 digits are
// those 8 characters, which are lowercase hexadecimal digits unless a point
// is among them; a point needs 2^32 + high below 2^32, so a negative
// `high`, which `parseInt` gives only after a blank or sign in front, and
// the first digit is neither.
function bitsNumber(bits) {
  if (typeof bits !== "string" || bits.length !== 16) refuse();
  if (words === null) makeScratch();
  const low = bits.slice(8);
  if (low === ZERO_WORD) {
    const high = parseInteger(bits, 16) / WORD;
    if ("1" + bits !== (high + WORD).toString(16) + ZERO_WORD) refuse();
    words[highIndex] = high;
    words[lowIndex] = 0;
  } else {
    const high = bits.slice(0, 8);
    words[highIndex] = high === ZERO_WORD ? 0 : hexWord(high);
    words[lowIndex] = hexWord(low);
  }
  const value = double[0];
  if (value - value !== 0) refuse();
  return value;
}

// The value of 8 lowercase hexadecimal digits. `parseInt` alone also takes
// signs, blanks, a 0x prefix, upper case and trailing junk, so the digits are
// accepted only when they are exactly the ones the value prints as (with the
// leading 1 of 2^32 keeping the zeros); cheaper in the engine than a regular
// expression test.
function hexWord(digits) {
  const word = parseInteger(digits, 16);
  if ((word + WORD).toString(16) !== "1" + digits) refuse();
  return word;
}

// Whether a node's own enumerable keys are exactly `tag` and `second`, in
// that order.
function tagAnd(tree, second) {
  const keys = ownKeys(tree);
  return keys.length === 2 && keys[0] === "tag" && keys[1] === second;
}

// Decoding is the hot path of a request with large inputs, so the node checks
// are written out here rather than spread over small helpers: the refusals and
// their order are those of `object`, `closed` and `text`.
export function decode(tree, depth = 0, inRecord = false) {
  if (depth > MAX_DEPTH) refuse("NATIVE_TRANSPORT_LIMIT", "transport");
  if (typeof tree !== "object" || tree === null || isArray(tree)) refuse();
  const tag = tree.tag;
  if (typeof tag !== "string") refuse();
  return decodeTagged(tree, tag, depth, inRecord);
}

// The same for an item or entry value, with the common kinds of nodes read
// before the full dispatch.
function decodeChild(tree, depth, inRecord) {
  if (depth > MAX_DEPTH) refuse("NATIVE_TRANSPORT_LIMIT", "transport");
  if (typeof tree !== "object" || tree === null || isArray(tree)) refuse();
  const tag = tree.tag;
  if (tag === "number") return decodeNumber(tree);
  if (tag === "record") return decodeRecord(tree, depth);
  if (tag === "text") return decodeText(tree);
  if (typeof tag !== "string") refuse();
  return decodeTagged(tree, tag, depth, inRecord);
}

// The node's checks by its tag, once it is known to be an object with a
// string tag.
function decodeTagged(tree, tag, depth, inRecord) {
  switch (tag) {
    case "number":
      return decodeNumber(tree);
    case "record":
      return decodeRecord(tree, depth);
    case "text":
      return decodeText(tree);
    case "array":
      return decodeArray(tree, depth, inRecord);
    case "truth":
      return decodeTruth(tree, inRecord);
    case "boolean":
      if (!tagAnd(tree, "value")) refuse();
      if (typeof tree.value !== "boolean") refuse();
      textLength += BOOLEAN_TEXT + (tree.value ? 4 : 5);
      return tree.value;
    case "null":
      closed(tree, NULL_KEYS);
      textLength += NULL_TEXT;
      return null;
    default:
      return refuse();
  }
}

const NULL_KEYS = ["tag"];

function decodeNumber(tree) {
  const keys = ownKeys(tree);
  if (keys.length !== 2 || keys[0] !== "tag" || keys[1] !== "bits") refuse();
  const number = bitsNumber(tree.bits);
  textLength += NUMBER_TEXT;
  return number;
}

function decodeText(tree) {
  const keys = ownKeys(tree);
  if (keys.length !== 2 || keys[0] !== "tag" || keys[1] !== "value") refuse();
  const value = tree.value;
  if (typeof value !== "string" || !value.isWellFormed()) refuse();
  textLength += TEXT_TEXT + value.length;
  return value;
}

function decodeTruth(tree, inRecord) {
  if (!tagAnd(tree, "value")) refuse();
  if (inRecord) refuse();
  const word = tree.value;
  if (word !== "unknown" && word !== "yes" && word !== "no") refuse();
  textLength += TRUTH_TEXT + word.length;
  return word === "unknown" ? UNKNOWN : word;
}

function decodeArray(tree, depth, inRecord) {
  const keys = ownKeys(tree);
  if (keys.length !== 2 || keys[0] !== "tag" || keys[1] !== "items") refuse();
  const items = tree.items;
  if (!isArray(items)) refuse();
  const count = items.length;
  const values = new Array(count);
  const below = depth + 1;
  for (let index = 0; index < count; index += 1) {
    values[index] = decodeChild(items[index], below, inRecord);
  }
  textLength += ARRAY_TEXT + commas(count);
  return values;
}

// The record has no prototype, so `in` sees exactly the keys defined so far
// and a plain assignment defines an own enumerable, writable, configurable
// data property (also for a key such as `__proto__`).
function decodeRecord(tree, depth) {
  const keys = ownKeys(tree);
  if (keys.length !== 2 || keys[0] !== "tag" || keys[1] !== "entries") refuse();
  const entries = tree.entries;
  if (!isArray(entries)) refuse();
  const record = Object.create(null);
  const count = entries.length;
  const below = depth + 1;
  let length = RECORD_TEXT + commas(count);
  for (let index = 0; index < count; index += 1) {
    const entry = entries[index];
    if (!isArray(entry) || entry.length !== 2) refuse();
    const key = entry[0];
    if (typeof key !== "string" || !key.isWellFormed()) refuse();
    if (key in record) refuse();
    record[key] = decodeChild(entry[1], below, true);
    length += ENTRY_TEXT + key.length;
  }
  textLength += length;
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
  checkShape(tree, value, shapeOf(type));
}

// A declared type taken apart once: whether it is optional, the node tag it
// expects and, for arrays, the element type, whose shape is made when the
// first item is checked (so a type nests only as deep as the nodes do).
function shapeOf(type) {
  const { optional, base } = splitOptional(type);
  const array = base.endsWith("[]");
  return { optional, tag: expectedTag(base), array, elementType: array ? base.slice(0, -2) : null, element: null };
}

function checkShape(tree, value, shape) {
  if (shape.optional && absentNode(tree, value)) return;
  if (tree.tag !== shape.tag) throw new RuntimeDiagnostic("VALUE_TYPE", "Native typed input");
  if (!shape.array) return;
  const items = tree.items;
  for (let index = 0; index < items.length; index += 1) {
    if (shape.element === null) shape.element = shapeOf(shape.elementType);
    checkShape(items[index], value[index], shape.element);
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
    if (!isArray(value)) hostFailure();
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
      if (isArray(value)) return { tag: "array", items: value.map((item) => encodeJSON(item, depth + 1)) };
      if (isUnknown(value)) hostFailure();
      return { tag: "record", entries: ownKeys(value).map((key) => [key, encodeJSON(value[key], depth + 1)]) };
    default:
      return hostFailure();
  }
}
