// The canonical text of admitted data is written by JSON.stringify when the
// copy found nothing that writes differently (names out of code-unit order,
// negative zero); these cases check it against the general writer, which
// every value that jsonCopy did not make goes through.
import { test, assertEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { jsonTextBytes, utf8Length } from "../../../quelt/runtime/utf8.mjs";
import { UNKNOWN, canonical, canonicalSize, jsonCopy, normalize } from "../../../quelt/runtime/values.mjs";

const utf8 = (text) => new TextEncoder().encode(text).length;

// Each value with its canonical text; the raw value is written by the general
// writer, its admitted copy (and copies of that) by whichever path applies.
const CASES = [
  [{}, "{}"],
  [{ a: 1, b: "x", c: [true, null] }, '{"a":1,"b":"x","c":[true,null]}'],
  [{ b: 1, a: 2 }, '{"a":2,"b":1}'],
  [{ B: 1, a: 2, ab: 3 }, '{"B":1,"a":2,"ab":3}'],
  [{ 10: 1, 9: 2, a: 3 }, '{"10":1,"9":2,"a":3}'],
  [{ 1: "x", 2: "y", a: 0 }, '{"1":"x","2":"y","a":0}'],
  [{ "": 1, a: 2 }, '{"":1,"a":2}'],
  [{ "\ue000": 1, "\u{10000}": 2 }, '{"\u{10000}":2,"\ue000":1}'],
  [{ a: -0 }, '{"a":-0}'],
  [{ a: [1, [2, [-0]]] }, '{"a":[1,[2,[-0]]]}'],
  [{ a: { b: { c: { d: -0 } } }, e: 0 }, '{"a":{"b":{"c":{"d":-0}}},"e":0}'],
  [{ a: [{ y: 1, x: 2 }], b: { k: 1 } }, '{"a":[{"x":2,"y":1}],"b":{"k":1}}'],
  [{ a: 0.1, b: 1e21, c: 1e-7, d: -1.5, e: 5e-324 }, '{"a":0.1,"b":1e+21,"c":1e-7,"d":-1.5,"e":5e-324}'],
  [{ 't"\\\n': "a\"\\\b\f\n\r\t\u0001\u007f/é" }, '{"t\\"\\\\\\n":"a\\"\\\\\\b\\f\\n\\r\\t\\u0001\u007f/é"}'],
  [{ s: ["\ud800", "\udc00x", "\ud83d\ude00", "\ude00\ud83d"] }, '{"s":["\\ud800","\\udc00x","\ud83d\ude00","\\ude00\\ud83d"]}'],
  [{ "\ud800": 1 }, '{"\\ud800":1}'],
  [{ m: { kind: "quelt-unknown" }, u: UNKNOWN }, '{"m":{"kind":"quelt-unknown"},"u":{"kind":"quelt-unknown"}}'],
  [{ toJSON: "x", __proto__: null }, '{"toJSON":"x"}'],
  [JSON.parse('{"__proto__": [1], "z": {}}'), '{"__proto__":[1],"z":{}}'],
];

test("admitted data has the canonical text of the data itself", () => {
  for (const [value, text] of CASES) {
    const admitted = normalize(value, "Record");
    const label = text;
    assertEqual(canonical(value), text, `raw ${label}`);
    assertEqual(canonical(admitted), text, `admitted ${label}`);
    assertEqual(canonical(admitted), text, `admitted, kept text ${label}`);
    assertEqual(canonical(normalize(admitted, "Record")), text, `copied ${label}`);
    assertEqual(canonical([admitted, normalize(admitted, "Record")]), `[${text},${text}]`, `in an array ${label}`);
    assertEqual(canonicalSize(admitted), utf8(text), `size ${label}`);
  }
});

test("admitted data inside new data keeps its own canonical text", () => {
  // The inner Records are copied as admitted data; what they hold must
  // still decide how the new Record is written.
  const negative = normalize({ z: -0 }, "Record");
  const unordered = normalize({ y: 1, x: 2 }, "Record");
  const ordered = normalize({ x: 1, y: [2] }, "Record");
  const cases = [
    [{ a: negative }, '{"a":{"z":-0}}'],
    [{ a: unordered }, '{"a":{"x":2,"y":1}}'],
    [{ a: [ordered, negative] }, '{"a":[{"x":1,"y":[2]},{"z":-0}]}'],
    [{ a: ordered, b: [ordered] }, '{"a":{"x":1,"y":[2]},"b":[{"x":1,"y":[2]}]}'],
    [{ b: ordered, a: 1 }, '{"a":1,"b":{"x":1,"y":[2]}}'],
  ];
  for (const [value, text] of cases) {
    const admitted = normalize(value, "Record");
    assertEqual(canonical(admitted), text);
    assertEqual(canonical(normalize(admitted, "Record")), text, `copied ${text}`);
    assertEqual(canonical(normalize([admitted], "Record[]")), `[${text}]`, `as a Record[] ${text}`);
  }
});

test("a toJSON method on the standard prototypes does not reach the canonical text", () => {
  const admitted = normalize({ a: [1, { b: [2] }], c: "x" }, "Record");
  const text = '{"a":[1,{"b":[2]}],"c":"x"}';
  for (const prototype of [Array.prototype, Object.prototype]) {
    Object.defineProperty(prototype, "toJSON", { value: () => "replaced", configurable: true, writable: true });
    try {
      assertEqual(canonical(admitted), text);
      assertEqual(canonical(normalize(admitted, "Record")), text);
    } finally {
      delete prototype.toJSON;
    }
  }
  assertEqual(canonical(admitted), text);
});

test("Record[] admits each item as a Record", () => {
  const fault = { type: RuntimeDiagnostic, code: "VALUE_TYPE", message: "Record требует JSON-объект." };
  for (const items of [[1], [null], [UNKNOWN], [[]], [{ a: 1 }, "x"], [new Date(0)]]) {
    assertThrows(() => normalize(items, "Record[]"), fault, String(items));
  }
  // The first failing item decides, whatever follows it.
  assertThrows(() => normalize([{ a: Infinity }, 1], "Record[]"), { code: "VALUE_TYPE", message: "JSON-число должно быть конечным." });
  const admitted = jsonCopy({ a: 1 });
  const records = normalize([admitted, { b: [2] }], "Record[]");
  assertEqual(records[0] === admitted, false, "an admitted item is copied again");
  assertEqual(canonical(records), '[{"a":1},{"b":[2]}]');
  assertEqual(Object.isFrozen(records) && Object.isFrozen(records[1].b), true);
});

test("text sizes of plain ASCII texts and of texts just outside that set", () => {
  const texts = [
    "",
    "row-42",
    "A-Z_a.z/0@9*+",
    "a b",
    "50%",
    "a,b",
    "~",
    "é",
    "\u0100",
    "a\u007f",
    "x\ud800",
    "\ud83d\ude00",
    'q"',
    "\\",
    "\n",
  ];
  for (const text of texts) {
    assertEqual(utf8Length(text), utf8(text), `utf8Length ${JSON.stringify(text)}`);
    assertEqual(jsonTextBytes(text), utf8(JSON.stringify(text)), `jsonTextBytes ${JSON.stringify(text)}`);
  }
});
