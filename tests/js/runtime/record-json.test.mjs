import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { UNKNOWN, normalize } from "../../../quelt/runtime/values.mjs";
import { encodeRecordJson, jsonNumberText, jsonRecordNames } from "../../../quelt/runtime/record-json.mjs";
import { countingContext, seededRandom } from "./fake-context.mjs";

const record = (value) => normalize(value, "Record");
const encode = (value, ctx = countingContext()) => encodeRecordJson(record(value), ctx);

test("records encode with sorted names and no whitespace", () => {
  const cases = [
    [{ b: 1, a: [true, null] }, '{"a":[true,null],"b":1}'],
    [{ a: 1, B: 2, aa: 3 }, '{"B":2,"a":1,"aa":3}'],
    [{ "\ue000": 1, "\u{10000}": 2 }, '{"\u{10000}":2,"\ue000":1}'],
    [{}, "{}"],
    [{ a: [], b: {}, c: [[{}]] }, '{"a":[],"b":{},"c":[[{}]]}'],
    [{ flag: UNKNOWN }, '{"flag":{"kind":"quelt-unknown"}}'],
    [{ n: [-0, 2.0, 0.1, -7, 1e21, 2 ** 53] }, '{"n":[-0.0,2,1e-1,-7,1e21,9.007199254740992e15]}'],
  ];
  for (const [value, expected] of cases) assertEqual(encode(value), expected);
});

test("texts are escaped by the fixed table", () => {
  const cases = [
    ["\t\"\u001f", '"\\t\\"\\u001f"'],
    ["\\\b\f\n\r", '"\\\\\\b\\f\\n\\r"'],
    ["/\u007f\u00e9\u20ac", '"/\u007f\u00e9\u20ac"'],
    ["\u0000\u000b", '"\\u0000\\u000b"'],
    ["\udc00", '"\\udc00"'],
    ["\ud800", '"\\ud800"'],
    ["\ud800x", '"\\ud800x"'],
    ["\ud800\ud800\udc00", '"\\ud800\u{10000}"'],
    ["\u{1f600}", '"\u{1f600}"'],
  ];
  for (const [value, expected] of cases) assertEqual(encode({ t: value }), `{"t":${expected}}`, JSON.stringify(value));
  assertEqual(encode({ "\n": 1 }), '{"\\n":1}', "names are quoted the same way");
});

test("encoding charges every value, unit, comparison and atom", () => {
  const cases = [
    // root 1, name 1, "{" 1, name quote 1+1+1+1, ":" 1, field 1, value 1, "1" 1, "}" 1
    [{ a: 1 }, 12],
    // as above with a text value: quote marks 2, one lookahead pair: 1+1 taken, 2 emitted;
    // an unpaired high surrogate: 1 taken + 1 lookahead, 6 emitted; the looked-ahead
    // unit is not charged again.
    [{ a: "\ud800\ud800\udc00" }, 24],
    // two names: 2 copies, one comparison of one position (2)
    [{ b: null, a: null }, 1 + 2 + 2 + 1 + 4 + 1 + 1 + 1 + 4 + 1 + 4 + 1 + 1 + 1 + 4 + 1],
  ];
  for (const [value, steps] of cases) {
    const ctx = countingContext();
    encode(value, ctx);
    assertEqual(ctx.steps, steps, JSON.stringify(value));
  }
});

test("the JSON text is bounded at 65536 UTF-8 bytes", () => {
  // {"a":"…"} is 8 bytes plus the text
  assertEqual(encode({ a: "x".repeat(65528) }).length, 65536);
  const bytes = { type: RuntimeDiagnostic, code: "JSON_TEXT_BYTES", message: "Полный JSON Text превышает исходный лимит Text." };
  assertThrows(() => encode({ a: "x".repeat(65529) }), bytes);
  // escapes count as written, non-ASCII by its UTF-8 bytes
  assertEqual(encode({ a: "\u0001".repeat(10921) + "xx" }).length, 65536);
  assertThrows(() => encode({ a: "\u0001".repeat(10921) + "xxx" }), bytes);
  assertThrows(() => encode({ a: "\u20ac".repeat(21843) }), bytes);
  encode({ a: "\u20ac".repeat(21842) + "xx" });
  // the limit is met before all of a large Record is walked
  const ctx = countingContext();
  const many = {};
  for (let i = 0; i < 100; i += 1) many[`k${String(i).padStart(3, "0")}`] = "y".repeat(1000);
  assertThrows(() => encode(many, ctx), bytes);
  assert(ctx.steps < 200000);
});

test("names are sorted with charged comparisons", () => {
  const ctx = countingContext();
  assertDeepEqual(jsonRecordNames(record({ b: 1, ab: 2, a: 3 }), ctx), ["a", "ab", "b"]);
  // 3 name copies; width 1: b against ab (1 + 1 position); width 2: ab against
  // a (1 + 1 position, a is a prefix); the rest is copied without comparing.
  assertEqual(ctx.steps, 7);
});

test("number text", () => {
  const cases = [
    [0, "0"], [-0, "-0.0"], [42, "42"], [-7, "-7"], [3.0, "3"],
    [9007199254740991, "9007199254740991"], [-9007199254740991, "-9007199254740991"],
    [0.5, "5e-1"], [1.5, "1.5e0"], [0.1, "1e-1"], [123.456, "1.23456e2"], [1e21, "1e21"],
    [-2.5e-7, "-2.5e-7"], [2 ** 53, "9.007199254740992e15"], [5e-324, "5e-324"],
    [1.7976931348623157e308, "1.7976931348623157e308"], [-1e100, "-1e100"], [100.25, "1.0025e2"],
    [27206510631367.562, "2.7206510631367563e13"],
  ];
  for (const [value, expected] of cases) assertEqual(jsonNumberText(value, countingContext()), expected, String(value));
  const ctx = countingContext();
  jsonNumberText(123.456, ctx);
  assertEqual(ctx.steps, 6, "one step per precision tried");
});

// Digits of a number text without sign, point, exponent and leading or
// trailing zeros.
function digitsOf(text) {
  return text.replace(/^-/, "").replace(/e.*$/i, "").replace(".", "").replace(/^0+/, "").replace(/0+$/, "");
}

test("number text reads back to the same double with the shortest digits", () => {
  const random = seededRandom(7);
  const view = new DataView(new ArrayBuffer(8));
  let checked = 0;
  for (let i = 0; i < 3000; i += 1) {
    view.setUint32(0, Math.floor(random() * 2 ** 32));
    view.setUint32(4, Math.floor(random() * 2 ** 32));
    const value = i % 3 === 0 ? view.getFloat64(0) : (random() - 0.5) * 10 ** Math.floor(random() * 40 - 20);
    if (!Number.isFinite(value)) continue;
    const text = jsonNumberText(value, countingContext());
    assert(Object.is(Number(text.replace(/^-0\.0$/, "-0")), value), `${value} -> ${text}`);
    if (!Number.isSafeInteger(value) && value !== 0) {
      // as short as the engine's shortest form (the digits may differ when two
      // shortest candidates are equally near: toExponential rounds half up)
      assertEqual(digitsOf(text).length, digitsOf(String(value)).length, `${value} -> ${text}`);
      assert(/^-?[1-9](\.\d*[1-9])?e-?[1-9]\d*$|^-?[1-9](\.\d*[1-9])?e0$/.test(text), `form of ${text}`);
    }
    checked += 1;
  }
  assert(checked > 2500);
});
