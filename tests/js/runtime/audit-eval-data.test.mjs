// Second-reader checks of value admission, the canonical form, the Record
// operations and the Record JSON text, called directly with a counting
// context. Expected texts, sizes and step counts are worked out by hand.
import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { encodeRecordJson, jsonNumberText } from "../../../quelt/runtime/record-json.mjs";
import { checkRecordFields, matchesFieldType, recordFields, recordKeys, recordWork } from "../../../quelt/runtime/records.mjs";
import { textJoinBytes, textOperation } from "../../../quelt/runtime/text.mjs";
import { UNKNOWN, canonical, canonicalSize, jsonCopy, normalize } from "../../../quelt/runtime/values.mjs";
import { utf8Length } from "../../../quelt/runtime/utf8.mjs";
import { countingContext, seededRandom } from "./fake-context.mjs";

const MARKER = Object.freeze({ kind: "quelt-unknown" });
const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });

test("normalize: unknown forms, zeros and refused types", () => {
  const admitted = [
    [null, "Int?", UNKNOWN],
    [MARKER, "Text?", UNKNOWN],
    [MARKER, "Record?", UNKNOWN],
    [null, "Int[]?", UNKNOWN],
    ["unknown", "Truth", UNKNOWN],
    [[null, "unknown", "yes", MARKER], "Truth[]", [UNKNOWN, UNKNOWN, "yes", UNKNOWN]],
    [-0, "Int", 0],
    [-0, "Float", -0],
    [5.0, "Int", 5],
    [2, "Float?", 2],
    [MARKER, "Record", { kind: "quelt-unknown" }],
    [UNKNOWN, "Record?", UNKNOWN],
    [{ u: UNKNOWN }, "Record", { u: { kind: "quelt-unknown" } }],
  ];
  for (const [value, type, expected] of admitted) {
    const result = normalize(value, type);
    assertDeepEqual(result, expected, `${JSON.stringify(value)} as ${type}`);
    if (typeof expected === "number") assert(Object.is(result, expected), `${type}: sign of zero`);
  }
  const refused = [
    [null, "Int", fault("VALUE_TYPE", "Int требует безопасное целое число.")],
    [2 ** 53, "Int", fault("VALUE_TYPE", "Int требует безопасное целое число.")],
    ["unknown", "Text?", null],
    [true, "Truth", fault("VALUE_TYPE", "Truth требует yes, no или unknown; числа и Boolean не преобразуются.")],
    [1, "Truth", fault("VALUE_TYPE", "Truth требует yes, no или unknown; числа и Boolean не преобразуются.")],
    [{ kind: "quelt-unknown", more: 1 }, "Truth", fault("VALUE_TYPE", "Truth требует yes, no или unknown; числа и Boolean не преобразуются.")],
    [{ kind: "quelt-unknown", more: 1 }, "Int?", fault("VALUE_TYPE", "Int требует безопасное целое число.")],
    [MARKER, "Int", fault("VALUE_TYPE", "Int требует безопасное целое число.")],
    [Infinity, "Float", fault("VALUE_TYPE", "Float требует конечное число.")],
    ["1", "Float", fault("VALUE_TYPE", "Float требует конечное число.")],
    [[1], "Record", fault("VALUE_TYPE", "Record требует JSON-объект.")],
    // a non-optional Record never admits the unknown value (only Record? does)
    [UNKNOWN, "Record", fault("VALUE_TYPE", "Record требует JSON-объект.")],
    [[UNKNOWN], "Record[]", fault("VALUE_TYPE", "Record требует JSON-объект.")],
    [[1, null], "Int[]", fault("VALUE_TYPE", "Int требует безопасное целое число.")],
    ["ab", "Text[]", fault("ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита.")],
    ["x", "Shape?", fault("VALUE_TYPE", "Неподдерживаемый тип Shape?.")],
    [null, "Unknown", fault("VALUE_TYPE", "Неподдерживаемый тип Unknown.")],
    [[], "EmptyArray", fault("VALUE_TYPE", "Неподдерживаемый тип EmptyArray.")],
  ];
  for (const [value, type, failure] of refused) {
    if (failure === null) {
      assertEqual(normalize(value, type), "unknown", "the text unknown is an ordinary Text");
      continue;
    }
    assertThrows(() => normalize(value, type), failure);
  }
});

test("jsonCopy counts a shared sub-value once per occurrence", () => {
  const shared = (count) => Array.from({ length: count }, (_, i) => i);
  // 2 fields and 2 x 2047 items: exactly 4096 members
  const items = shared(2047);
  const copy = jsonCopy({ a: items, b: items });
  assert(copy.a !== copy.b && copy.a !== items, "each occurrence is copied");
  const big = shared(2048);
  assertThrows(() => jsonCopy({ a: big, b: big }), fault("RECORD_LIMIT", "Record содержит слишком много элементов."));
  // the object's own fields push the total over: the message names fields
  const fields = Object.fromEntries(Array.from({ length: 4096 }, (_, i) => ["k" + i, i]));
  assertEqual(Object.keys(jsonCopy(fields)).length, 4096);
  assertThrows(() => jsonCopy({ ...fields, extra: 1 }), fault("RECORD_LIMIT", "Record содержит слишком много полей."));
});

test("jsonCopy bounds the JSON bytes of all scalars and names at 1048576", () => {
  // the name "a" is 3 bytes; fifteen texts of 65536 units are 65538 bytes
  // each; the last text's quotes add 2 more: 3 + 983070 + 65503 = 1048576.
  const texts = (last) => [...Array.from({ length: 15 }, () => "x".repeat(65536)), "x".repeat(last)];
  assertEqual(jsonCopy({ a: texts(65501) }).a.length, 16);
  assertThrows(() => jsonCopy({ a: texts(65502) }), fault("RECORD_LIMIT", "Превышен размер Record."));
  // negative zero is written "0": one byte
  assertEqual(Object.is(jsonCopy({ z: -0 }).z, -0), true);
});

// Data admitted once is admitted again (as every function argument and every
// Record read is) under exactly the same limits, as a fresh frozen copy.
test("re-admitting admitted data gives a fresh copy under the same limits", () => {
  const source = { b: [1, -0, { c: "\u00e9\u{1F600}" }], a: { kind: "quelt-unknown" }, e: [], o: {} };
  const first = jsonCopy(source);
  const second = jsonCopy(first);
  assertDeepEqual(second, source);
  assert(second !== first && second.b !== first.b && second.b[2] !== first.b[2], "a fresh copy at every level");
  assert(Object.isFrozen(second.b[2]) && Object.getPrototypeOf(second.b[2]) === null, "frozen and prototype-free");
  assert(Object.is(second.b[1], -0), "negative zero kept");

  // A chain of objects whose innermost scalar sits at depth 24 when admitted
  // on its own, and one level deeper once wrapped.
  let chain = 1;
  for (let i = 0; i < 24; i += 1) chain = { n: chain };
  const admitted = jsonCopy(chain);
  const depth = fault("RECORD_LIMIT", "Превышена глубина Record.");
  assertThrows(() => jsonCopy({ w: admitted }), depth);
  assertThrows(() => jsonCopy({ w: chain }), depth);
  assertDeepEqual(jsonCopy({ w: admitted.n }), { w: chain.n });

  // Two admitted arrays of 2048 items and their two fields pass the member bound.
  const items = jsonCopy({ list: Array.from({ length: 2047 }, (_, i) => i) }).list;
  assertEqual(jsonCopy({ a: items, b: items }).b.length, 2047);
  const more = jsonCopy({ list: Array.from({ length: 2048 }, (_, i) => i) }).list;
  assertThrows(() => jsonCopy({ a: more, b: more }), fault("RECORD_LIMIT", "Record содержит слишком много элементов."));

  // Admitted texts count toward the byte bound of the Record that holds them:
  // seven texts of 65538 bytes and one of 65518 per copy, and the names a and
  // b, make 1048574 bytes; a third field of 6 bytes passes the bound.
  const texts = jsonCopy({ t: [...Array.from({ length: 7 }, () => "x".repeat(65536)), "x".repeat(65516)] }).t;
  assertEqual(jsonCopy({ a: texts, b: texts }).b.length, 8);
  assertThrows(() => jsonCopy({ a: texts, b: texts, c: "x" }), fault("RECORD_LIMIT", "Превышен размер Record."));
  // Invalid data mixed into a new Record is still refused.
  assertThrows(() => jsonCopy({ a: first, b: [1, Infinity] }), fault("VALUE_TYPE", "JSON-число должно быть конечным."));
});

test("canonical size is the UTF-8 length of the canonical form", () => {
  const values = [
    { b: [1, "x"], a: -0 },
    { "\u{10000}": [null, true, false, 0.1, 1e21, -1e-7], "\u0001q": "\"\\\udc00\u00e9", e: {}, f: [] },
    { kind: "quelt-unknown" },
    [[], [{}], [[1, -0]]],
  ];
  for (const value of values) {
    const expected = utf8Length(canonical(value));
    assertEqual(canonicalSize(value), expected, canonical(value));
    const copy = jsonCopy({ w: value }).w;
    assertEqual(canonicalSize(copy), expected, `admitted ${canonical(value)}`);
    assertEqual(canonicalSize(jsonCopy({ w: copy })), expected + 6, `wrapped ${canonical(value)}`);
  }
});

test("canonical form: sorted names, -0, unknown marker and escapes", () => {
  const cases = [
    [{ b: [1, "x"], a: -0 }, '{"a":-0,"b":[1,"x"]}'],
    [{ ab: 1, a: 2, B: 3 }, '{"B":3,"a":2,"ab":1}'],
    [{ "\uE000": 1, "\u{10000}": 2 }, '{"\u{10000}":2,"\uE000":1}'],
    [UNKNOWN, '{"kind":"quelt-unknown"}'],
    [[MARKER, null, true], '[{"kind":"quelt-unknown"},null,true]'],
    [[0.1, 1e21, 1e-7, -0, 5], "[0.1,1e+21,1e-7,-0,5]"],
    ["\u0001\"\\/\u007f\udc00\t", '"\\u0001\\"\\\\/\u007f\\udc00\\t"'],
    [{}, "{}"],
    [[], "[]"],
  ];
  for (const [value, text] of cases) assertEqual(canonical(value), text);
});

test("Record member counting and field operations charge the members they build", () => {
  assertEqual(recordWork(5), 0);
  assertEqual(recordWork("text"), 0);
  assertEqual(recordWork({ a: [1, 2], b: { c: 1 } }), 5);

  const ctx = countingContext();
  const added = recordFields(jsonCopy({ a: [1, 2] }), "b", { c: 1 }, false, ctx);
  assertDeepEqual(added.value, { a: [1, 2], b: { c: 1 } });
  assertEqual(added.type, "Record");
  // two fields, the two items of a, the one field of b
  assertEqual(ctx.steps, 5);

  const removed = countingContext();
  assertDeepEqual(recordFields(jsonCopy({ a: [1, 2], b: 1 }), "a", undefined, true, removed).value, { b: 1 });
  assertEqual(removed.steps, 1);

  const keys = countingContext();
  assertDeepEqual(recordKeys(jsonCopy({ b: 1, a: 2, B: 3 }), keys), ["B", "a", "b"]);
  // three names, then two comparisons of one unit each: b/a, a/B
  assertEqual(keys.steps, 3 + 2 + 2);
});

test("checkFields reports the first mismatch and never looks further", () => {
  const record = jsonCopy({ a: 1, b: [1] });
  const cases = [
    // a: 1 step; b: 1 step and 1 for its item; 5 for the report
    [[{ key: "a", type: "Int" }, { key: "b", type: "Text[]" }], { valid: "no", code: "FIELD_ITEM_TYPE", field: "b", expected: "Text[]", index: 0 }, 1 + 2 + 5],
    [[{ key: "zz", type: "Int" }, { key: "b", type: "Text[]" }], { valid: "no", code: "FIELD_MISSING", field: "zz", expected: "Int", index: -1 }, 1 + 5],
    [[{ key: "a", type: "Text[]" }], { valid: "no", code: "FIELD_TYPE", field: "a", expected: "Text[]", index: -1 }, 1 + 5],
    [[{ key: "a", type: "Float" }, { key: "b", type: "Int[]" }], { valid: "yes", code: "OK", field: "", expected: "", index: -1 }, 1 + 2 + 5],
  ];
  for (const [fields, report, steps] of cases) {
    const ctx = countingContext();
    const result = checkRecordFields(record, fields, ctx);
    assertDeepEqual(result, report);
    assertEqual(Object.keys(result).join(), "valid,code,field,expected,index");
    assertEqual(ctx.steps, steps, report.code);
  }
  const matches = [
    [null, "Truth", true],
    ["unknown", "Truth", true],
    [MARKER, "Truth", true],
    [true, "Truth", false],
    ["maybe", "Truth", false],
    [[], "Truth", false],
    [{ kind: "quelt-unknown", x: 1 }, "Truth", false],
    [1, "Float", true],
    ["1", "Float", false],
    [1.5, "Int", false],
    [2 ** 53, "Int", false],
    [MARKER, "Record", true],
    [[], "Record", false],
    [null, "Record", false],
    ["", "Text", true],
    [[1], "Int[]", false],
  ];
  for (const [value, type, expected] of matches) {
    assertEqual(matchesFieldType(value, type, countingContext()), expected, `${JSON.stringify(value)} as ${type}`);
  }
});

test("join and split bound their exact result sizes", () => {
  const joinFault = fault("TEXT_JOIN_BYTES", "Полный результат join превышает лимит UTF-8.");
  // a high surrogate ending an item and a low one starting the separator form one 4-byte character
  textJoinBytes(["a".repeat(65532) + "\uD83D", ""], "\uDE00", countingContext());
  assertThrows(() => textJoinBytes(["a".repeat(65533) + "\uD83D", ""], "\uDE00", countingContext()), joinFault);
  // a high surrogate left at the very end counts three bytes
  textJoinBytes(["a".repeat(65533), "\uD800"], "", countingContext());
  assertThrows(() => textJoinBytes(["a".repeat(65534), "\uD800"], "", countingContext()), joinFault);

  const ctx = countingContext();
  assertDeepEqual(textOperation("join", ["a", "b", "c"], "--", ctx).value, "a--b--c");
  // one step per item, then 3 + 2 x 2 units
  assertEqual(ctx.steps, 3 + 7);
  assertEqual(textOperation("join", [], ",", countingContext()).value, "");

  const many = ",".repeat(4095);
  assertEqual(textOperation("split", many, ",", countingContext()).value.length, 4096);
  assertThrows(() => textOperation("split", many + ",", ",", countingContext()), fault("TEXT_SPLIT_ITEMS", "split содержит слишком много частей."));
  const split = countingContext();
  assertDeepEqual(textOperation("split", "a,,b", ",", split).value, ["a", "", "b"]);
  // the lengths 4 + 1, then one step per part
  assertEqual(split.steps, 5 + 3);
});

test("toJson: sorted names, escapes, numbers, and a bound of exactly 65536 bytes", () => {
  const ctx = countingContext();
  assertEqual(encodeRecordJson(jsonCopy({ b: 1, a: [true, null] }), ctx), '{"a":[true,null],"b":1}');
  // root 1; names 2 + one comparison of one unit 2; "{" 1; "a" 4, ":" 1,
  // a step 1, the array 16; "," 1, "b" 4, ":" 1, a step 1, the number 2; "}" 1
  assertEqual(ctx.steps, 1 + 4 + 1 + 22 + 9 + 1);
  const escaped = encodeRecordJson(jsonCopy({ t: "\t\"\u001f/\u00e9\udc00\u{1F600}\ud800x" }), countingContext());
  assertEqual(escaped, '{"t":"\\t\\"\\u001f/\u00e9\\udc00\u{1F600}\\ud800x"}');
  // {"a":"…"} is 8 bytes around the text
  assertEqual(encodeRecordJson(jsonCopy({ a: "x".repeat(65528) }), countingContext()).length, 65536);
  assertThrows(
    () => encodeRecordJson(jsonCopy({ a: "x".repeat(65529) }), countingContext()),
    fault("JSON_TEXT_BYTES", "Полный JSON Text превышает исходный лимит Text."),
  );
  const numbers = [
    [0.5, "5e-1", 1],
    [1.5, "1.5e0", 2],
    [0.1, "1e-1", 1],
    [123.456, "1.23456e2", 6],
    [1e21, "1e21", 1],
    [-2.5e-7, "-2.5e-7", 2],
    [2 ** 53, "9.007199254740992e15", 16],
    [100.5, "1.005e2", 4],
    [5e-324, "5e-324", 1],
    [1.7976931348623157e308, "1.7976931348623157e308", 17],
    [-0, "-0.0", 0],
    [3, "3", 0],
    [-7, "-7", 0],
    [9007199254740991, "9007199254740991", 0],
  ];
  for (const [value, text, steps] of numbers) {
    const counting = countingContext();
    assertEqual(jsonNumberText(value, counting), text, String(value));
    assertEqual(counting.steps, steps, `${value} precisions tried`);
  }
});

// Plain, unadmitted deep copy with the standard prototype.
function plainClone(value) {
  if (Array.isArray(value)) return value.map(plainClone);
  if (value !== null && typeof value === "object") {
    const copy = {};
    for (const key of Object.keys(value)) copy[key] = plainClone(value[key]);
    return copy;
  }
  return value;
}

function outcomeOf(run) {
  try {
    return { value: run() };
  } catch (error) {
    if (!(error instanceof RuntimeDiagnostic)) throw error;
    return { code: error.code, message: error.message };
  }
}

test("admitting data that holds admitted parts agrees with admitting plain data", () => {
  const random = seededRandom(2024);
  const pick = (n) => Math.floor(random() * n);
  // Values near the Record bounds: deep chains, long arrays, long texts.
  const longText = () => "x".repeat(60000 + pick(5537));
  const scalar = () => (random() < 0.002 ? longText() : [null, true, -0, 0.5, 7, "", "x".repeat(pick(40)), "\udc00\u{1F600}"][pick(8)]);
  // Long arrays hold scalars only; nesting comes from short arrays, objects
  // and deep chains, so a part stays within a few thousand values.
  function grow(level) {
    if (level > 26 || random() < 0.2) return scalar();
    switch (pick(5)) {
      case 0:
        return random() < 0.3 ? Array.from({ length: 4 + pick(8) }, longText) : Array.from({ length: 1000 + pick(1500) }, scalar);
      case 1:
        return Array.from({ length: pick(4) }, () => grow(level + 1));
      case 2: {
        const length = pick(24);
        let chain = grow(level + length + 1);
        for (let i = length; i > 0; i -= 1) chain = { n: chain };
        return chain;
      }
      default: {
        const object = {};
        const count = pick(4);
        for (let i = 0; i < count; i += 1) object["k" + i] = grow(level + 1 + pick(3));
        return object;
      }
    }
  }
  for (let round = 0; round < 100; round += 1) {
    const parts = Array.from({ length: 1 + pick(4) }, () => grow(pick(20)));
    const admittedParts = parts.map((part) => {
      const admitted = outcomeOf(() => jsonCopy({ p: part }).p);
      return admitted.value !== undefined ? admitted.value : part;
    });
    const mixed = {};
    const plain = {};
    admittedParts.forEach((part, i) => {
      let wrapped = part;
      let raw = plainClone(part);
      for (let level = pick(8); level > 0; level -= 1) {
        wrapped = [wrapped];
        raw = [raw];
      }
      mixed["f" + i] = wrapped;
      plain["f" + i] = raw;
    });
    const expected = outcomeOf(() => jsonCopy(plain));
    const actual = outcomeOf(() => jsonCopy(mixed));
    assertEqual(actual.code, expected.code, `round ${round} code`);
    assertEqual(actual.message, expected.message, `round ${round} message`);
    if (expected.value !== undefined) {
      assertDeepEqual(actual.value, expected.value, `round ${round} value`);
      assertEqual(canonicalSize(actual.value), utf8Length(canonical(expected.value)), `round ${round} canonical size`);
      assertEqual(recordWork(actual.value), recordWork(plainClone(expected.value)), `round ${round} members`);
      for (const [name, part] of Object.entries(actual.value)) {
        assertEqual(recordWork(part), recordWork(plainClone(part)), `round ${round} ${name} members`);
      }
    }
  }
});
