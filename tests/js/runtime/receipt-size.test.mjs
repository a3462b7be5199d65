// The receipt's size is counted without writing its values; it must always be
// the UTF-8 size of JSON.stringify of the very receipt built.
import { test, assert, assertEqual } from "../harness.mjs";
import { deriveTraceEntry, receiptByteSize, sizedReceipt } from "../../../quelt/runtime/receipts.mjs";
import { UNKNOWN, frozenDense, jsonCopy, normalize } from "../../../quelt/runtime/values.mjs";
import { utf8Size } from "../../../quelt/runtime/versions.mjs";

const METRICS_BASE = Object.freeze({ steps: 3, adapterCalls: 0, runSteps: 3 });

function parts(values, outputs = values) {
  return {
    program: Object.freeze({ name: "m", version: 27, sourceHash: "f".repeat(64) }),
    programSource: "brindlet m { input a: Int output a } // \u00e9\ud83d\ude00",
    values: Object.freeze(Object.assign(Object.create(null), values)),
    outputs: Object.freeze(Object.assign(Object.create(null), outputs)),
    trace: [deriveTraceEntry("b", "computed", ["a"], true, false)],
    versions: Object.freeze({ programSourceHash: "f".repeat(64), adapters: Object.freeze({}), inputs: Object.freeze({}) }),
  };
}

// The size sizedReceipt settles on, checked against the receipt's own text.
function assertSized(given, label, start = 0) {
  const { receipt, bytes } = sizedReceipt(given, METRICS_BASE, start);
  const measured = utf8Size(JSON.stringify(receipt));
  assertEqual(bytes, measured, label);
  assertEqual(receipt.metrics.runOutputBytes, measured, label);
  assertEqual(receiptByteSize(receipt), measured, label);
}

const record = (data) => normalize(data, "Record");
const LONG = "x".repeat(70);

test("receipt size: admitted and runtime-built values of every kind", () => {
  const shared = record({ id: 1, name: "r\u00e9" });
  const nested = record({ a: { b: [1, { c: -0 }], d: [] }, e: {} });
  const cases = [
    ["scalars", { i: 7, f: 0.1, big: 1e21, tiny: 1.5e-7, neg: -2.5, t: "yes", n: "no", s: "" }],
    ["-0 at the top and in arrays", { z: -0, fs: normalize([0, -0, 1], "Float[]") }],
    ["-0 deep in a Record", { r: nested, r2: record({ x: [[[-0]]] }) }],
    ["UNKNOWN values and markers", { u: UNKNOWN, us: frozenDense([UNKNOWN, "yes"]), m: record({ k: null, v: { kind: "quelt-unknown" } }) }],
    ["unsorted and integer-like names", { r: record({ b: 1, a: 2 }), q: record({ 10: "x", 9: "y", z: { 2: 1, 1: 0 } }) }],
    ["escapes and lone surrogates", {
      s: "q\"b\\n\n\t\u0001\u007f\ud800 \udc00x\ud83d\ude00",
      long: LONG + "\ud800\"\u2028" + LONG,
      r: record({ ["k\ud800\"\n"]: "v\udfff", [LONG + "\u00e9"]: LONG + "\u0000" }),
    }],
    ["nested arrays and empty containers", {
      a: frozenDense([frozenDense([]), frozenDense([1, frozenDense(["a"])])]),
      e: frozenDense([]),
      er: record({}),
      rs: normalize([{ a: 1 }, { b: [] }], "Record[]"),
    }],
    ["Results and schema values", {
      ok: Object.freeze({ tag: "ok", value: record({ total: -0, items: [1, 2] }) }),
      err: Object.freeze({ tag: "err", value: "bad \ud800" }),
      unsure: Object.freeze({ tag: "ok", value: UNKNOWN }),
      schema: record({ name: "n", score: 3 }),
    }],
    ["values copied more than once", {
      a: shared,
      b: normalize([shared, shared, jsonCopy(shared)], "Record[]"),
      c: frozenDense([shared, record(shared)]),
    }],
  ];
  for (const [label, values] of cases) assertSized(parts(values), label);
  // Outputs hold the same values again.
  const sorted = normalize([{ k: 2, n: -0 }, { k: 1, n: "\ud800" }], "Record[]");
  assertSized(parts({ rows: sorted, top: sorted, r: nested }, { top: sorted, r: nested }), "outputs sharing values");
  assertSized(parts({ rows: sorted }), "large start", 999999);
});

// Anything the count cannot vouch for is written out, so the size stays exact:
// toJSON methods, accessors, holes, arrays not known dense, omitted fields.
test("receipt size: values left to JSON.stringify", () => {
  let reads = 0;
  const getter = Object.defineProperty({}, "g", { enumerable: true, get: () => (reads += 1, "got") });
  const cases = [
    ["getter", { g: Object.freeze(getter) }],
    ["own toJSON method", { t: Object.freeze({ toJSON: () => "replaced", x: 1 }) }],
    ["toJSON as data", { t: record({ toJSON: "data" }) }],
    ["unfrozen array", { a: [1, "two", record({ b: -0 })] }],
    ["sparse array", { a: Object.freeze([1, , 3]) }],
    ["undefined and functions", { u: undefined, f: () => 1, a: frozenDense([undefined, () => 1]) }],
    ["non-finite numbers", { n: NaN, i: -Infinity }],
    ["class instance", { d: Object.freeze(new (class Box { constructor() { this.v = 1; } })()) }],
  ];
  for (const [label, values] of cases) assertSized(parts(values), label);
  // The getter runs as often as when the receipt is written: once in values,
  // once in outputs.
  reads = 0;
  sizedReceipt(parts({ g: cases[0][1].g }), METRICS_BASE, 0);
  assertEqual(reads, 2, "getter reads");
  const { receipt } = sizedReceipt(parts({ a: 1 }), METRICS_BASE, 0);
  assertEqual(receiptByteSize(Object.freeze({ ...receipt, toJSON: () => "replaced" })), 10, "toJSON on the receipt");
  const deep = [];
  let level = deep;
  for (let i = 0; i < 80; i += 1) level = level[0] = [];
  assertSized(parts({ deep: Object.freeze(deep) }), "deeper than the count goes");

  for (const proto of [Object.prototype, Array.prototype]) {
    proto.toJSON = function () { return "!"; };
    try {
      assertSized(parts({ r: record({ a: 1 }), a: frozenDense([1]) }), "toJSON on a prototype");
    } finally {
      delete proto.toJSON;
    }
  }
});

test("receipt size: cycles and receipts too large to write fail as writing does", () => {
  const cyclic = { a: 1 };
  cyclic.self = cyclic;
  let thrown = null;
  try {
    sizedReceipt(parts({ c: cyclic }), METRICS_BASE, 0);
  } catch (error) {
    thrown = error;
  }
  assert(thrown instanceof TypeError, "a cycle fails in JSON.stringify");
  // About 18 MB of text from one shared 60 kB text.
  const text = "\u00e9".repeat(30000);
  const many = frozenDense(new Array(300).fill(text));
  assertSized(parts({ many }, {}), "above the written-out bound");
});
