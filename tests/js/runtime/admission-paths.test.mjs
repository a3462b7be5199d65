// The shortcuts of value admission and evaluation give the results of the
// full rules: short texts measured by a scan, arrays accepted once, canonical
// texts kept for admitted data, Int arithmetic without the range test.
import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { jsonTextBytes } from "../../../quelt/runtime/utf8.mjs";
import { UNKNOWN, canonical, canonicalSize, dense, jsonCopy, normalize } from "../../../quelt/runtime/values.mjs";
import { runModule } from "./evaluator-support.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const SIZE = fault("RECORD_LIMIT", "Превышен размер Record.");
const RECORD = fault("VALUE_TYPE", "Record требует JSON-объект.");
const ARRAY_SHAPE = fault("ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита.");
const ARRAY_ITEMS = fault("ARRAY_SCHEMA", "Пропуски и getters в массиве не разрешены.");

test("the JSON size of a text counts escapes, surrogates and UTF-8 as written", () => {
  const cases = [
    ["", 2],
    ["abc", 5],
    ['a"b', 6],
    ["a\\b", 6],
    ["\b\f\n\r\t", 12],
    ["\u0000", 8],
    ["\u000b", 8],
    ["\u001f", 8],
    ["\u007f", 3],
    ["é", 4],
    ["€", 5],
    ["😀", 6],
    ["\ud800", 8],
    ["\udc00x", 9],
    ["\ud800\ud800", 14],
    ["😀".slice(0, 1) + "a", 9],
    ["a".repeat(64), 66],
    ["a".repeat(65), 67],
    ["\u0001".repeat(64), 386],
    ["\u0001".repeat(65), 392],
  ];
  for (const [text, bytes] of cases) assertEqual(jsonTextBytes(text), bytes, JSON.stringify(text));
});

test("short texts count toward the Record size exactly", () => {
  // `"a"` (3) + 2716 texts of 386 JSON bytes (1048376) + 130 + 65 + 2 = 1048576.
  for (const filler of ["\u0001".repeat(64), "\ud800".repeat(64)]) {
    const record = (last) => ({ a: [...new Array(2716).fill(filler), "😀".repeat(32), "€".repeat(21), last] });
    const copy = jsonCopy(record(""));
    assertEqual(copy.a.length, 2719);
    assertThrows(() => jsonCopy(record("x")), SIZE);
  }
  // Field names are measured the same way: `"a"` (3) + fields of a name of 60
  // controls and 4 hex digits (366) holding "" (2): 2849 fit, 2850 do not.
  const named = (count) => {
    const fields = {};
    for (let i = 0; i < count; i += 1) fields["\u0001".repeat(60) + i.toString(16).padStart(4, "0")] = "";
    return { a: fields };
  };
  assertEqual(Object.keys(jsonCopy(named(2849)).a).length, 2849);
  assertThrows(() => jsonCopy(named(2850)), SIZE);
});

test("re-admitted Records are fresh copies; other values are refused as before", () => {
  const admitted = normalize({ id: 1, name: "n", inner: { z: [1, 2] } }, "Record");
  const again = normalize(admitted, "Record");
  assert(again !== admitted && again.inner !== admitted.inner && again.inner.z !== admitted.inner.z, "a fresh copy");
  assert(Object.isFrozen(again) && Object.isFrozen(again.inner.z), "frozen at every level");
  assertEqual(Object.getPrototypeOf(again), null);
  assertDeepEqual(Object.keys(again), ["id", "name", "inner"]);
  const flat = normalize(normalize({ a: 1, b: "x" }, "Record"), "Record");
  assertDeepEqual({ ...flat }, { a: 1, b: "x" });
  assert(Object.isFrozen(flat) && Object.getPrototypeOf(flat) === null, "a flat copy is frozen and prototype-free");
  assertThrows(() => normalize(admitted.inner.z, "Record"), RECORD);
  assertThrows(() => normalize(UNKNOWN, "Record"), RECORD);
  const marker = jsonCopy({ m: { kind: "quelt-unknown" } }).m;
  assertDeepEqual({ ...normalize(marker, "Record") }, { kind: "quelt-unknown" });
});

test("dense accepts an array once only while it cannot change", () => {
  const frozen = Object.freeze([1, 2, 3]);
  dense(frozen);
  dense(frozen);
  assertThrows(() => dense(frozen, 2), ARRAY_SHAPE);
  const open = [1, 2, 3];
  dense(open);
  delete open[1];
  assertThrows(() => dense(open), ARRAY_SHAPE);
  const later = [1, 2, 3];
  dense(later);
  Object.defineProperty(later, 1, { get: () => 2, enumerable: true });
  assertThrows(() => dense(later), ARRAY_ITEMS);
  const hidden = [1, 2];
  Object.defineProperty(hidden, 0, { value: 1, enumerable: false });
  Object.freeze(hidden);
  assertThrows(() => dense(hidden), ARRAY_ITEMS);
  assertThrows(() => dense(hidden), ARRAY_ITEMS);
});

test("canonical texts of admitted data are those of the data itself", () => {
  const first = normalize({ b: [1, "x"], a: -0, o: { z: 1 } }, "Record");
  const text = '{"a":-0,"b":[1,"x"],"o":{"z":1}}';
  assertEqual(canonical(first), text);
  assertEqual(canonical(first), text);
  assertEqual(canonical(normalize(first, "Record")), text);
  assertEqual(canonical(normalize(first.o, "Record")), '{"z":1}');
  assertEqual(canonicalSize(first), text.length);
  const other = normalize({ b: [2, "x"], a: 0, o: { z: 1 } }, "Record");
  assertEqual(canonical(other), '{"a":0,"b":[2,"x"],"o":{"z":1}}');
  assertEqual(canonical({ type: "Record[]", value: [first, other] }), `{"type":"Record[]","value":[${text},${canonical(other)}]}`);
});

test("Int arithmetic around the 32-bit and safe ranges", async () => {
  const outcome = await runModule(`brindlet m {
    derive a: Int = 2147483647 + 1
    derive b: Int = 46341 * 46341
    derive c: Int = (0 - 2147483648) - 1
    derive d: Int = 9007199254740990 + 1
    derive e: Int = 0 * (0 - 5)
    derive f: Int = 4503599627370496 + 4503599627370495
    output a
  }`);
  assertEqual(outcome.error, undefined);
  assertDeepEqual(outcome.values, { a: 2147483648, b: 2147488281, c: -2147483649, d: 9007199254740991, e: 0, f: 9007199254740991 });
  assert(Object.is(outcome.values.e, 0), "never negative zero");
  const overflows = [
    "(9007199254740991 + 1) * 0",
    "9007199254740991 + 1",
    "(0 - 9007199254740991) - 1",
    "4503599627370496 * 2",
    "3037000500 * 3037000500",
  ];
  for (const expression of overflows) {
    const failed = await runModule(`brindlet m { derive a: Int = ${expression} output a }`);
    assertEqual(failed.error?.code, "INT_OVERFLOW", expression);
  }
});

test("nested arithmetic hands Int results on and falls back to the general rules", async () => {
  const outcome = await runModule(`brindlet m {
    input u: Int?
    derive a: Float = 1.5 + (2 + 3)
    derive b: Float = (2 * 3) * 0.5
    derive c: Int = ((1 + 2) * (3 - 4)) - (5 * (6 + 7))
    derive d: Int? = (u + 1) + 2
    derive e: Float = (2 - 2) * -1.0
    output a
  }`, { inputs: { u: null } });
  assertEqual(outcome.error, undefined);
  assertDeepEqual(
    [outcome.values.a, outcome.values.b, outcome.values.c, outcome.values.d],
    [6.5, 3, -68, UNKNOWN],
  );
  assertDeepEqual([outcome.types.a, outcome.types.b, outcome.types.c], ["Float", "Float", "Int"]);
  assert(Object.is(outcome.values.e, -0), "Int 0 times Float -1.0 is the Float -0");
});

test("sortBy by number keys charges one step per comparison of its merge", async () => {
  // node and receiver 2, a key call of 2 per item, the count, then the
  // comparisons: [3, 1, 2] merges with 1 + 2, [4, 3, 2, 1] with 2 + 2.
  const cases = [
    [[3, 1, 2], [1, 2, 3], 2 + 6 + 3 + 3],
    [[4, 3, 2, 1], [1, 2, 3, 4], 2 + 8 + 4 + 4],
    [[7], [7], 2 + 2 + 1],
  ];
  for (const [items, sorted, steps] of cases) {
    const outcome = await runModule("fn f(v: Int) -> Int { return v }\nbrindlet m { input x: Int[] derive s: Int[] = x |> sortBy(f) output s }", {
      inputs: { x: items },
    });
    assertEqual(outcome.error, undefined);
    assertDeepEqual(outcome.values.s, sorted);
    assertEqual(outcome.steps.s, steps, JSON.stringify(items));
  }
});

test("len counts code points of short and long texts alike", async () => {
  const pair = "😀";
  const lead = pair[0];
  const trail = pair[1];
  const cases = [
    ["", 0],
    ["abc", 3],
    [pair, 1],
    [lead, 1],
    [trail + lead, 2],
    [lead + lead + trail, 2],
    [trail + pair + lead, 3],
    ["a".repeat(32), 32],
    ["a".repeat(33), 33],
    [pair.repeat(20), 20],
    [lead + pair.repeat(20) + trail + "x".repeat(10), 32],
    [(trail + lead).repeat(20), 21],
  ];
  for (const [text, count] of cases) {
    const outcome = await runModule("brindlet m { input t: Text derive n: Int = len(t) output n }", { inputs: { t: text } });
    assertEqual(outcome.values.n, count, JSON.stringify(text));
  }
});
