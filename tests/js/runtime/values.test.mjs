import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import {
  UNKNOWN,
  isUnknown,
  ev,
  base,
  ownObject,
  dataKeys,
  dense,
  boundedText,
  unknownMarker,
  jsonCopy,
  normalize,
  canonical,
  canonicalSize,
} from "../../../quelt/runtime/values.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const INT = fault("VALUE_TYPE", "Int требует безопасное целое число.");
const FLOAT = fault("VALUE_TYPE", "Float требует конечное число.");
const TRUTH = fault("VALUE_TYPE", "Truth требует yes, no или unknown; числа и Boolean не преобразуются.");
const RECORD = fault("VALUE_TYPE", "Record требует JSON-объект.");
const TEXT_LIMIT = fault("TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8.");
const ARRAY_SHAPE = fault("ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита.");
const ARRAY_HOLES = fault("ARRAY_SCHEMA", "Пропуски и getters в массиве не разрешены.");
const DEPTH = fault("RECORD_LIMIT", "Превышена глубина Record.");
const SIZE = fault("RECORD_LIMIT", "Превышен размер Record.");
const ITEMS = fault("RECORD_LIMIT", "Record содержит слишком много элементов.");
const FIELDS = fault("RECORD_LIMIT", "Record содержит слишком много полей.");
const CYCLE = fault("VALUE_TYPE", "Record должен содержать конечные JSON-данные без циклов.");
const NOT_FINITE = fault("VALUE_TYPE", "JSON-число должно быть конечным.");
const NOT_DATA = fault("VALUE_SCHEMA", "Ожидается объект данных.");
const HIDDEN = fault("VALUE_SCHEMA", "Символы, скрытые поля и getters не разрешены.");

const marker = () => ({ kind: "quelt-unknown" });
const nested = (levels, inner = {}) => {
  let value = inner;
  for (let i = 0; i < levels; i += 1) value = { a: value };
  return value;
};
const isNegativeZero = (value) => Object.is(value, -0);

test("the unknown value is one frozen object recognised by identity", () => {
  assert(Object.isFrozen(UNKNOWN));
  assertDeepEqual(Object.keys(UNKNOWN), ["kind"]);
  assertEqual(UNKNOWN.kind, "quelt-unknown");
  assert(isUnknown(UNKNOWN));
  assert(!isUnknown(marker()));
  assert(!isUnknown(null));
  assertDeepEqual(ev(1, "Int"), { value: 1, type: "Int" });
  assertEqual(base("Int[]?"), "Int[]");
  assertEqual(base("Text"), "Text");
});

test("normalize admits each built-in type by its rule", () => {
  const accepted = [
    [5.0, "Int", 5],
    [-0, "Int", 0],
    [9007199254740991, "Int", 9007199254740991],
    [-9007199254740991, "Int", -9007199254740991],
    [null, "Int?", UNKNOWN],
    [marker(), "Text?", UNKNOWN],
    [UNKNOWN, "Float?", UNKNOWN],
    [1.5, "Float", 1.5],
    [3, "Float", 3],
    ["", "Text", ""],
    ["yes", "Truth", "yes"],
    ["no", "Truth", "no"],
    ["unknown", "Truth", UNKNOWN],
    [null, "Truth", UNKNOWN],
    [marker(), "Truth", UNKNOWN],
    [UNKNOWN, "Truth", UNKNOWN],
    ["no", "Truth?", "no"],
  ];
  for (const [value, type, expected] of accepted) {
    assertEqual(normalize(value, type), expected, `${String(value)} as ${type}`);
  }
  assert(isNegativeZero(normalize(-0, "Float")), "negative zero stays a Float");
});

test("normalize refuses values outside their type", () => {
  const refused = [
    [9007199254740992, "Int", INT],
    [1.5, "Int", INT],
    ["1", "Int", INT],
    [null, "Int", INT],
    [UNKNOWN, "Int", INT],
    [Infinity, "Float", FLOAT],
    [NaN, "Float", FLOAT],
    ["1", "Float", FLOAT],
    [true, "Truth", TRUTH],
    [1, "Truth", TRUTH],
    ["Yes", "Truth", TRUTH],
    [{ kind: "quelt-unknown", extra: 1 }, "Truth", TRUTH],
    [UNKNOWN, "Text", TEXT_LIMIT],
    [5, "Text", TEXT_LIMIT],
    [null, "Record", RECORD],
    [[], "Record", RECORD],
    [new Date(0), "Record", RECORD],
    [null, "Int[]", ARRAY_SHAPE],
    [[1, "x"], "Int[]", INT],
    [1, "Shape", fault("VALUE_TYPE", "Неподдерживаемый тип Shape.")],
    [1, "Shape?", fault("VALUE_TYPE", "Неподдерживаемый тип Shape?.")],
    [1, "EmptyArray", fault("VALUE_TYPE", "Неподдерживаемый тип EmptyArray.")],
  ];
  for (const [value, type, expected] of refused) {
    assertThrows(() => normalize(value, type), expected, `${String(value)} as ${type}`);
  }
});

test("normalize copies arrays item by item and freezes them", () => {
  const source = [null, "unknown", "yes", marker()];
  const truths = normalize(source, "Truth[]");
  assert(truths !== source && Object.isFrozen(truths));
  assertDeepEqual(truths, [UNKNOWN, UNKNOWN, "yes", UNKNOWN]);
  assertEqual(normalize(null, "Int[]?"), UNKNOWN);
  assertDeepEqual(normalize([-0, 2], "Int[]?"), [0, 2]);
  const records = normalize([{ b: 1 }], "Record[]");
  assertEqual(Object.getPrototypeOf(records[0]), null);
});

test("boundedText measures UTF-8 with unpaired surrogates as three bytes", () => {
  const cases = [
    ["a".repeat(65536), true],
    ["a".repeat(65537), false],
    ["\u20ac".repeat(21845) + "a", true], // 65536 bytes
    ["\u20ac".repeat(21846), false], // 65538 bytes
    ["\ud800".repeat(21845) + "a", true],
    ["\ud800".repeat(21845) + "ab", false],
    ["\u{1f600}".repeat(16384), true], // pairs count 4, not 6
    ["\u{1f600}".repeat(16384) + "a", false],
  ];
  for (const [text, passes] of cases) {
    if (passes) assertEqual(boundedText(text), text);
    else assertThrows(() => boundedText(text), TEXT_LIMIT);
  }
  assertEqual(boundedText("\ud800", 3), "\ud800");
  assertThrows(() => boundedText("\ud800", 2), TEXT_LIMIT);
  assertThrows(() => boundedText(null), TEXT_LIMIT);
});

test("ownObject and dataKeys accept only plain data objects", () => {
  assert(ownObject({}) && ownObject(Object.create(null)));
  for (const value of [null, [], new Map(), new (class Shape {})(), "x", 1]) assert(!ownObject(value));
  assertDeepEqual(dataKeys({ b: 1, 2: 0, a: 2, 1: 0 }), ["1", "2", "b", "a"]);
  const hidden = {};
  Object.defineProperty(hidden, "x", { value: 1, enumerable: false });
  const getter = { get x() { return 1; } };
  const symbol = { [Symbol("s")]: 1 };
  for (const value of [hidden, getter, symbol]) assertThrows(() => dataKeys(value), HIDDEN);
  assertThrows(() => dataKeys([]), NOT_DATA);
  assertThrows(() => dataKeys(5, "INPUT_SCHEMA"), { code: "INPUT_SCHEMA", message: "Ожидается объект данных." });
});

test("dense accepts only dense arrays within the limit", () => {
  const named = [1, 2];
  named.extra = 3;
  const getter = [1, 2];
  Object.defineProperty(getter, 1, { get: () => 2, enumerable: true });
  const hidden = [1];
  Object.defineProperty(hidden, 0, { value: 1, enumerable: false });
  // eslint-disable-next-line no-sparse-arrays
  const holey = [1, , 3];
  const shapeFaults = [[named], [holey], ["abc"], [{ length: 0 }], [new Array(4097).fill(0)], [[1, 2, 3], 2]];
  for (const [value, limit] of shapeFaults) assertThrows(() => dense(value, limit), ARRAY_SHAPE);
  for (const value of [getter, hidden]) assertThrows(() => dense(value), ARRAY_HOLES);
  const full = new Array(4096).fill(0);
  assertEqual(dense(full), full);
});

test("unknownMarker recognises UNKNOWN, null and the stored marker only", () => {
  const hidden = {};
  Object.defineProperty(hidden, "kind", { value: "quelt-unknown", enumerable: false });
  const cases = [
    [UNKNOWN, true],
    [null, true],
    [marker(), true],
    [Object.assign(Object.create(null), { kind: "quelt-unknown" }), true],
    [hidden, true],
    [{ kind: "quelt-unknown", other: 1 }, false],
    [{ kind: "unknown" }, false],
    [{ get kind() { return "quelt-unknown"; } }, false],
    [["quelt-unknown"], false],
    ["unknown", false],
    [undefined, false],
  ];
  for (const [value, expected] of cases) assertEqual(unknownMarker(value), expected, JSON.stringify(value));
});

test("jsonCopy makes a frozen, prototype-free copy in own-key order", () => {
  const source = { b: [1, { c: "x" }], 1: null, a: -0, t: true };
  const copy = jsonCopy(source);
  assert(copy !== source);
  assertEqual(Object.getPrototypeOf(copy), null);
  assertDeepEqual(Object.keys(copy), ["1", "b", "a", "t"]);
  assert(Object.isFrozen(copy) && Object.isFrozen(copy.b) && Object.isFrozen(copy.b[1]));
  assert(isNegativeZero(copy.a));
  const field = Object.getOwnPropertyDescriptor(copy, "b");
  assert(field.enumerable && !field.writable && !field.configurable);
  const withProto = jsonCopy(JSON.parse('{"__proto__": {"x": 1}}'));
  assertDeepEqual(Object.keys(withProto), ["__proto__"]);
  assertEqual(Object.getPrototypeOf(withProto), null);
  const stored = normalize({ flag: UNKNOWN }, "Record").flag;
  assert(stored !== UNKNOWN && unknownMarker(stored));
});

test("jsonCopy bounds depth at 24 levels", () => {
  jsonCopy(nested(24));
  assertThrows(() => jsonCopy(nested(25)), DEPTH);
  jsonCopy(nested(23, [5]));
  assertThrows(() => jsonCopy(nested(24, [5])), DEPTH, "a scalar at depth 25");
});

test("jsonCopy bounds the members of the whole Record", () => {
  const zeros = (n) => new Array(n).fill(0);
  jsonCopy({ a: zeros(4095) });
  assertThrows(() => jsonCopy({ a: zeros(4096) }), ITEMS);
  jsonCopy({ a: zeros(4092), b: { x: 1, y: 2 } });
  assertThrows(() => jsonCopy({ a: zeros(4093), b: { x: 1, y: 2 } }), FIELDS);
  const many = {};
  for (let i = 0; i < 4097; i += 1) many[`k${i}`] = 0;
  assertThrows(() => jsonCopy(many), FIELDS);
  const shared = zeros(2047);
  const twice = jsonCopy({ a: shared, b: shared });
  assert(twice.a !== twice.b, "a shared sub-array is copied per occurrence");
  assertThrows(() => jsonCopy({ a: zeros(2048), b: zeros(2048) }), ITEMS);
  const sharedLarge = zeros(2048);
  assertThrows(() => jsonCopy({ a: sharedLarge, b: sharedLarge }), ITEMS, "both occurrences count");
});

test("jsonCopy bounds the JSON bytes of scalars and names", () => {
  // `"a"` (3 bytes) plus 15 texts of 65536 JSON bytes plus one of 65533.
  const full = "x".repeat(65534);
  const texts = (last) => [...new Array(15).fill(full), "x".repeat(last)];
  jsonCopy({ a: texts(65531) });
  assertThrows(() => jsonCopy({ a: texts(65532) }), SIZE);
  // Escapes count as written: a control character is 6 bytes, -0 is "0".
  // 15 texts of 10922 controls (65534 JSON bytes each), `"a"`, and a last
  // text of 65563 JSON bytes make exactly 1048576.
  const controls = "\u0001".repeat(10922);
  const escaped = (tail) => ({ a: [...new Array(15).fill(controls), "\u0001".repeat(10926) + "x".repeat(tail)] });
  jsonCopy(escaped(5));
  assertThrows(() => jsonCopy(escaped(6)), SIZE);
  // With the field `"b"` (3 bytes) holding -0, written "0" (1 byte).
  jsonCopy({ a: texts(65527), b: -0 });
  assertThrows(() => jsonCopy({ a: texts(65528), b: -0 }), SIZE);
  assertThrows(() => jsonCopy({ ["k".repeat(65537)]: 1 }), TEXT_LIMIT);
});

test("jsonCopy refuses non-JSON data", () => {
  const cyclic = { a: [] };
  cyclic.a.push(cyclic);
  const cases = [
    [cyclic, CYCLE],
    [{ a: undefined }, CYCLE],
    [{ a: () => 1 }, CYCLE],
    [{ a: 1n }, CYCLE],
    [{ a: Symbol("s") }, CYCLE],
    [{ a: Infinity }, NOT_FINITE],
    [{ a: NaN }, NOT_FINITE],
    [{ a: new Date(0) }, NOT_DATA],
    [{ a: [1, , 2] }, ARRAY_SHAPE], // eslint-disable-line no-sparse-arrays
    [{ a: "x".repeat(65537) }, TEXT_LIMIT],
  ];
  for (const [value, expected] of cases) assertThrows(() => jsonCopy(value), expected);
});

test("canonical writes sorted names, -0 and JSON scalars without whitespace", () => {
  const cases = [
    [{ b: [1, "x"], a: -0 }, '{"a":-0,"b":[1,"x"]}'],
    [{ a: 1, B: 2, ab: 3 }, '{"B":2,"a":1,"ab":3}'],
    [{ "\ue000": 1, "\u{10000}": 2 }, '{"\u{10000}":2,"\ue000":1}'],
    [UNKNOWN, '{"kind":"quelt-unknown"}'],
    [marker(), '{"kind":"quelt-unknown"}'],
    [[0.1, 1e21, 1e-7, 5e-324, -1.5], "[0.1,1e+21,1e-7,5e-324,-1.5]"],
    [[null, true, false, []], "[null,true,false,[]]"],
    ["a\"\\\b\f\n\r\t\u0001/\u007f\u00e9", '"a\\"\\\\\\b\\f\\n\\r\\t\\u0001/\u007f\u00e9"'],
    ["\udc00\ud83d\ude00\ud800", '"\\udc00\ud83d\ude00\\ud800"'],
  ];
  for (const [value, expected] of cases) assertEqual(canonical(value), expected);
});

test("canonicalSize is the UTF-8 size of the canonical form", () => {
  const values = [[], {}, [1], { a: -0, b: ["é", "\ud800", null, true] }, "\u0001\u{1f600}", 1e21, [[{}]]];
  for (const value of values) {
    const expected = new TextEncoder().encode(canonical(value)).length;
    assertEqual(canonicalSize(value), expected, canonical(value));
  }
});
