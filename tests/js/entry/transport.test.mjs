import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { UNKNOWN, RuntimeDiagnostic } from "quelt/runtime.mjs";
import { Boundary, closed, text } from "../../../quelt/entry/boundary.mjs";
import { decode, checkTag, encode, encodeJSON, numberBits } from "../../../quelt/entry/transport.mjs";

const REQUEST = { type: Boundary, code: "NATIVE_REQUEST", phase: "request" };
const LIMIT = { type: Boundary, code: "NATIVE_TRANSPORT_LIMIT", phase: "transport" };
const HOST = { type: Boundary, code: "NATIVE_HOST_FAILURE", phase: "host" };
const VALUE_TYPE = { type: RuntimeDiagnostic, name: "RuntimeDiagnostic", code: "VALUE_TYPE", message: "Native typed input" };

const num = (bits) => ({ tag: "number", bits });
const txt = (value) => ({ tag: "text", value });
const truth = (value) => ({ tag: "truth", value });
const arr = (...items) => ({ tag: "array", items });
const rec = (...entries) => ({ tag: "record", entries });
const NULL = { tag: "null" };

// A node whose deepest node sits at `depth`: arrays wrapped around a number,
// or records when `inRecords` is set.
function nested(depth, inRecords = false) {
  let node = num("3ff0000000000000");
  for (let level = 0; level < depth; level += 1) node = inRecords ? rec(["a", node]) : arr(node);
  return node;
}

function nestedValue(depth) {
  let value = 1;
  for (let level = 0; level < depth; level += 1) value = [value];
  return value;
}

test("numberBits writes big-endian IEEE-754 bits in lowercase hex", () => {
  const cases = [
    [1, "3ff0000000000000"],
    [-0, "8000000000000000"],
    [0, "0000000000000000"],
    [0.5, "3fe0000000000000"],
    [-2, "c000000000000000"],
    [Number.MIN_VALUE, "0000000000000001"],
    [Number.MAX_VALUE, "7fefffffffffffff"],
    [Number.MAX_SAFE_INTEGER, "433fffffffffffff"],
  ];
  for (const [value, bits] of cases) assertEqual(numberBits(value), bits, String(value));
});

test("decode accepts each node form", () => {
  const cases = [
    [num("3ff0000000000000"), 1],
    [num("3fe0000000000000"), 0.5],
    [txt(""), ""],
    [txt("a\u{1F600}b"), "a\u{1F600}b"],
    [truth("yes"), "yes"],
    [truth("no"), "no"],
    [{ tag: "boolean", value: false }, false],
    [{ tag: "boolean", value: true }, true],
    [NULL, null],
    [arr(), []],
    [arr(num("4000000000000000"), txt("x"), NULL, truth("no")), [2, "x", null, "no"]],
  ];
  for (const [tree, value] of cases) assertDeepEqual(decode(tree), value, JSON.stringify(tree));
});

test("decode keeps -0, maps the unknown Truth word to UNKNOWN and round-trips number bits", () => {
  assert(Object.is(decode(num("8000000000000000")), -0));
  assertEqual(numberBits(decode(num("8000000000000000"))), "8000000000000000");
  assertEqual(decode(truth("unknown")), UNKNOWN);
  assertEqual(decode(arr(truth("unknown")))[0], UNKNOWN, "Truth nodes are allowed inside top-level arrays");
});

test("decode builds records without a prototype, in entry order, with __proto__ as an own key", () => {
  const value = decode(rec(["b", num("3ff0000000000000")], ["__proto__", txt("p")], ["a", arr(NULL)]));
  assertEqual(Object.getPrototypeOf(value), null);
  assertDeepEqual(Object.keys(value), ["b", "__proto__", "a"]);
  assertEqual(value.__proto__, "p");
  assertDeepEqual(value.a, [null]);
  const descriptor = Object.getOwnPropertyDescriptor(value, "b");
  assert(descriptor.writable && descriptor.enumerable && descriptor.configurable, "ordinary data property");
});

test("decode refuses malformed nodes with NATIVE_REQUEST", () => {
  const cases = [
    ["upper-case bits", num("3FF0000000000000")],
    ["15 digits", num("3ff000000000000")],
    ["17 digits", num("3ff00000000000000")],
    ["bits not a string", num(1)],
    ["+infinity", num("7ff0000000000000")],
    ["-infinity", num("fff0000000000000")],
    ["quiet NaN", num("7ff8000000000000")],
    ["signalling NaN", num("7ff0000000000001")],
    ["negative NaN", num("ffffffffffffffff")],
    ["keys out of order", { bits: "3ff0000000000000", tag: "number" }],
    ["extra key", { tag: "number", bits: "3ff0000000000000", x: 1 }],
    ["missing payload", { tag: "text" }],
    ["unpaired high surrogate", txt("a\ud800")],
    ["unpaired low surrogate", txt("\udc00a")],
    ["text not a string", txt(1)],
    ["truth word", truth("maybe")],
    ["truth as boolean", truth(true)],
    ["truth inside a record", rec(["a", truth("yes")])],
    ["truth deep inside a record", rec(["a", arr(arr(truth("unknown")))])],
    ["boolean as text", { tag: "boolean", value: "true" }],
    ["null with a value", { tag: "null", value: null }],
    ["items not an array", { tag: "array", items: {} }],
    ["entries not an array", { tag: "record", entries: {} }],
    ["entry not a pair", rec(["a"])],
    ["entry of three", rec(["a", NULL, NULL])],
    ["entry as object", rec({ 0: "a", 1: NULL })],
    ["key not a string", rec([1, NULL])],
    ["key with unpaired surrogate", rec(["\ud800", NULL])],
    ["duplicate key", rec(["a", NULL], ["a", NULL])],
    ["unknown tag", { tag: "int", value: 1 }],
    ["tag missing", { value: 1 }],
    ["tag not a string", { tag: 1 }],
    ["null tree", null],
    ["array tree", [NULL]],
    ["string tree", "null"],
    ["malformed item", arr(NULL, { tag: "number" })],
  ];
  for (const [label, tree] of cases) assertThrows(() => decode(tree), REQUEST, label);
});

test("decode allows nesting depth 64 and refuses 65 as a transport limit", () => {
  assertEqual(decode(nested(64)).length, 1);
  assertThrows(() => decode(nested(65)), LIMIT, "arrays");
  assertEqual(Object.keys(decode(nested(64, true))).length, 1);
  assertThrows(() => decode(nested(65, true)), LIMIT, "records");
});

test("checkTag accepts nodes that fit the declared type", () => {
  const quietUnknown = rec(["kind", txt("quelt-unknown")]);
  const cases = [
    [num("3ff0000000000000"), "Int"],
    [num("3fe0000000000000"), "Int"],
    [num("3ff0000000000000"), "Float"],
    [txt("a"), "Text"],
    [truth("yes"), "Truth"],
    [truth("unknown"), "Truth"],
    [rec(), "Record"],
    [arr(num("3ff0000000000000"), num("4000000000000000")), "Int[]"],
    [arr(), "Text[]"],
    [arr(truth("unknown")), "Truth[]"],
    [NULL, "Int?"],
    [truth("unknown"), "Int?"],
    [quietUnknown, "Int?"],
    [NULL, "Record[]?"],
    [quietUnknown, "Text[]?"],
    [txt("a"), "Text?"],
    [arr(txt("a")), "Text[]?"],
    [rec(["kind", txt("other")]), "Record?"],
    [truth("yes"), undefined],
    [NULL, undefined],
  ];
  for (const [tree, type] of cases) checkTag(tree, decode(tree), type);
});

test("checkTag refuses mismatched nodes with VALUE_TYPE", () => {
  const cases = [
    [truth("yes"), "Int"],
    [NULL, "Int"],
    [txt("1"), "Float"],
    [num("3ff0000000000000"), "Text"],
    [{ tag: "boolean", value: true }, "Truth"],
    [txt("yes"), "Truth"],
    [arr(), "Record"],
    [rec(["kind", txt("quelt-unknown")]), "Int"],
    [rec(["kind", txt("other")]), "Int?"],
    [num("3ff0000000000000"), "Int[]"],
    [arr(num("3ff0000000000000"), txt("x")), "Int[]"],
    [arr(NULL), "Int[]"],
    [arr(NULL), "Int[]?"],
    [{ tag: "boolean", value: false }, "Truth?"],
    [rec(), "Point"],
    [rec(), "Point?"],
  ];
  for (const [tree, type] of cases) {
    assertThrows(() => checkTag(tree, decode(tree), type), VALUE_TYPE, `${JSON.stringify(tree)} as ${type}`);
  }
});

test("encode writes typed output values as nodes", () => {
  const cases = [
    [UNKNOWN, "Truth", truth("unknown")],
    [UNKNOWN, "Truth?", truth("unknown")],
    [UNKNOWN, "Float?", truth("unknown")],
    [UNKNOWN, "Int[]?", truth("unknown")],
    ["yes", "Truth", truth("yes")],
    ["no", "Truth?", truth("no")],
    ["yes", "Text", txt("yes")],
    [["yes", UNKNOWN, "no"], "Truth[]", arr(truth("yes"), truth("unknown"), truth("no"))],
    [[1, 0.5], "Float[]", arr(num("3ff0000000000000"), num("3fe0000000000000"))],
    [[], "Int[]?", arr()],
    [-0, "Float", num("8000000000000000")],
    [null, "Record", NULL],
    [{ a: "yes", b: false }, "Record", rec(["a", txt("yes")], ["b", { tag: "boolean", value: false }])],
    [{ kind: "quelt-unknown" }, "Record?", rec(["kind", txt("quelt-unknown")])],
    [[{ n: [1] }], "Record[]", arr(rec(["n", arr(num("3ff0000000000000"))]))],
  ];
  for (const [value, type, node] of cases) assertDeepEqual(encode(value, type), node, type);
});

test("encodeJSON lists record keys in the engine's own-key order", () => {
  const value = Object.create(null);
  for (const key of ["b", "10", "a", "2", "__proto__"]) value[key] = 1;
  const keys = encodeJSON(value).entries.map(([key]) => key);
  assertDeepEqual(keys, ["2", "10", "b", "a", "__proto__"]);
});

test("encode refuses values that cannot travel", () => {
  const cases = [
    ["Truth word", "maybe", "Truth", HOST],
    ["boolean as Truth", true, "Truth", HOST],
    ["unknown of a plain type", UNKNOWN, "Int", HOST],
    ["unknown array item", [UNKNOWN], "Int[]?", HOST],
    ["unknown inside a record", { a: UNKNOWN }, "Record", HOST],
    ["NaN", NaN, "Float", HOST],
    ["infinity", -Infinity, "Float", HOST],
    ["undefined", undefined, "Int", HOST],
    ["undefined field", { a: undefined }, "Record", HOST],
    ["function", () => 1, "Record", HOST],
    ["array type, no array", 1, "Int[]", HOST],
    ["unpaired surrogate", "a\udfff", "Text", REQUEST],
    ["unpaired surrogate in a record", { a: ["\ud800"] }, "Record", REQUEST],
  ];
  for (const [label, value, type, expected] of cases) assertThrows(() => encode(value, type), expected, label);
});

test("encodeJSON allows depth 64 and refuses 65 as a transport limit", () => {
  assertEqual(encodeJSON(nestedValue(64)).tag, "array");
  assertThrows(() => encodeJSON(nestedValue(65)), LIMIT);
  assertThrows(() => encode({ a: nestedValue(64) }, "Record"), LIMIT, "inside a record");
});

test("closed and text refuse with the request defaults", () => {
  closed({ a: 1, b: 2 }, ["a", "b"]);
  for (const value of [{ b: 2, a: 1 }, { a: 1 }, [1, 2], null, "ab"]) {
    assertThrows(() => closed(value, ["a", "b"]), REQUEST, JSON.stringify(value));
  }
  assertEqual(text("\ud83d\ude00"), "\ud83d\ude00");
  for (const value of ["\ude00\ud83d", "\ud83d", 1, null]) assertThrows(() => text(value), REQUEST, JSON.stringify(value));
});

test("decode reads every bit pattern of a finite double and refuses digits that only a lenient parser takes", () => {
  const accepted = [
    ["bff0000000000000", -1],
    ["400921fb54442d18", Math.PI],
    ["0000000000000001", Number.MIN_VALUE],
    ["7fefffffffffffff", Number.MAX_VALUE],
    ["ffefffffffffffff", -Number.MAX_VALUE],
    ["3fb999999999999a", 0.1],
    ["4340000000000000", 2 ** 53],
    ["00000000ffffffff", Number.MIN_VALUE * 0xffffffff],
  ];
  for (const [bits, value] of accepted) assertEqual(decode(num(bits)), value, bits);
  const refused = [
    "+3ff000000000000",
    "-3ff000000000000",
    " 3ff000000000000",
    "3ff00000 0000000",
    "0x3ff00000000000",
    "3ff0000000000x00",
    "3ff0000g00000000",
    "3ff000000000000A",
    "3fF0000000000000",
    "00000NaN00000000",
    "000000000000-001",
    "\u0663ff0000000000000".slice(0, 16),
  ];
  for (const bits of refused) assertThrows(() => decode(num(bits)), REQUEST, JSON.stringify(bits));
});

test("decode tells record keys apart by their own names only", () => {
  const value = decode(rec(["toString", NULL], ["constructor", num("3ff0000000000000")], ["hasOwnProperty", txt("h")]));
  assertDeepEqual(Object.keys(value), ["toString", "constructor", "hasOwnProperty"]);
  assertEqual(value.constructor, 1);
  for (const key of ["__proto__", "toString", ""]) {
    assertThrows(() => decode(rec([key, NULL], ["b", NULL], [key, NULL])), REQUEST, JSON.stringify(key));
  }
});

test("checkTag checks every item of nested array types against the element type", () => {
  const one = num("3ff0000000000000");
  const accepted = [
    [arr(arr(one), arr(), arr(one, one)), "Int[][]"],
    [arr(NULL, one, truth("unknown")), "Int?[]"],
    [arr(arr(truth("yes"), truth("unknown"))), "Truth[][]"],
    [arr(NULL, arr(one)), "Int[]?[]"],
  ];
  for (const [tree, type] of accepted) checkTag(tree, decode(tree), type);
  const refused = [
    [arr(arr(one), arr(one, txt("x"))), "Int[][]"],
    [arr(arr(one), one), "Int[][]"],
    [arr(one, one, NULL), "Int[]"],
    [arr(NULL, arr(NULL)), "Int[]?[]"],
    [arr(arr(one)), "Int" + "[]".repeat(100000)],
  ];
  for (const [tree, type] of refused) {
    assertThrows(() => checkTag(tree, decode(tree), type), VALUE_TYPE, `${JSON.stringify(tree)} as ${type.slice(0, 20)}`);
  }
});
