// Decoding of tagged nodes against independent references: number bits
// against a byte-wise reading of the digits, node shapes against their own
// enumerable keys, and the text length summed while decoding against the
// serializer's text of the node.
import { test, assert, assertEqual, assertThrows } from "../harness.mjs";
import { decode, takeTextLength } from "../../../quelt/entry/transport.mjs";
import { REQUEST_REFUSAL as REQUEST, TRANSPORT_LIMIT as LIMIT, num, txt, arr, rec } from "./request-support.mjs";

const NULL = { tag: "null" };

// The double of 16 lowercase hexadecimal digits read one byte at a time, or
// undefined when the digits are not such or the double is not finite.
function referenceNumber(bits) {
  if (!/^[0-9a-f]{16}$/.test(bits)) return undefined;
  const view = new DataView(new ArrayBuffer(8));
  for (let index = 0; index < 8; index += 1) {
    view.setUint8(index, Number.parseInt(bits.slice(2 * index, 2 * index + 2), 16));
  }
  const value = view.getFloat64(0);
  return Number.isFinite(value) ? value : undefined;
}

function checkBits(bits) {
  const expected = referenceNumber(bits);
  if (expected === undefined) {
    assertThrows(() => decode(num(bits)), REQUEST, JSON.stringify(bits));
  } else {
    assert(Object.is(decode(num(bits)), expected), `${JSON.stringify(bits)} decodes to ${expected}`);
  }
}

test("decode reads number bits exactly as their bytes, with or without a zero low word", () => {
  const cases = [
    "0000000000000000",
    "8000000000000000",
    "0000000100000000",
    "000fffff00000000",
    "3ff0000000000000",
    "4340000000000000",
    "c3e0000000000000",
    "ffefffff00000000",
    "7fefffff00000000",
    "7fefffffffffffff",
    "3ff0000000000001",
    "3fefffffffffffff",
    "0000000000000001",
    "0000000080000000",
    // not finite
    "7ff0000000000000",
    "fff8000000000000",
    "7ff0000100000000",
    "ffffffff00000000",
    // junk that a lenient parser reads, before a zero low word
    " 3ff000000000000",
    "\t3ff000000000000",
    "+3ff000000000000",
    "-000000100000000",
    "-fffffff00000000",
    "0x3ff00000000000",
    "0X3ff00000000000",
    "3FF0000000000000",
    "3ff0000F00000000",
    "1.00000000000000",
    "0.00000100000000",
    "1.0000000000000p",
    "3ff0000 00000000",
    "3ff0" + "\u0000" + "000" + "00000000",
    "3ff0000_00000000",
    "1E30000000000000",
    "\uff13" + "ff00000" + "00000000",
    "Infinity00000000",
    "NaN0000000000000",
    // junk in the low word
    "3ff000000000000 ",
    "3ff0000000000-01",
    "3ff000000000000G",
    "3ff00000 0000001",
  ];
  for (const bits of cases) {
    assertEqual(bits.length, 16, JSON.stringify(bits));
    checkBits(bits);
  }
});

test("decode reads the high word of random digits with a zero low word as their bytes", () => {
  // A fixed linear congruential sequence, so a failure repeats.
  let seed = 12345;
  const next = () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0);
  for (let round = 0; round < 3000; round += 1) {
    const high = next().toString(16).padStart(8, "0");
    checkBits(high + "00000000");
    checkBits(high + next().toString(16).padStart(8, "0"));
  }
});

// The same node as the top node, as an array item and as a record value
// (Truth nodes are kept out of records by the callers).
function placements(node) {
  return [node, arr(node), rec(["k", node]), arr(rec(["k", node]))];
}

function nonEnumerable(object, key) {
  Object.defineProperty(object, key, { value: 1, enumerable: false });
  return object;
}

test("decode compares each node's own enumerable keys wherever the node stands", () => {
  const accepted = [
    ["number", num("4000000000000000"), 2],
    ["text", txt("é"), "é"],
    ["record", rec(["a", NULL]), undefined],
    ["array", arr(NULL), undefined],
    ["boolean", { tag: "boolean", value: true }, true],
    ["null", NULL, null],
    ["repeated key keeps the first place", JSON.parse('{"tag":"text","value":"a","tag":"text"}'), "a"],
    ["repeated key keeps the last value", JSON.parse('{"tag":"number","bits":"0","bits":"3ff0000000000000"}'), 1],
    ["non-enumerable extra key", nonEnumerable(num("3ff0000000000000"), "x"), 1],
    ["enumerable keys on the prototype", Object.assign(Object.create({ tag: "text", x: 1 }), txt("a")), "a"],
  ];
  for (const [label, node, value] of accepted) {
    for (const tree of placements(node)) {
      const decoded = decode(tree);
      if (value !== undefined && tree === node) assertEqual(decoded, value, label);
    }
  }
  const inherited = Object.create({ tag: "number" });
  inherited.bits = "3ff0000000000000";
  const refused = [
    ["keys reordered", { bits: "3ff0000000000000", tag: "number" }],
    ["keys reordered by a repeated key", JSON.parse('{"bits":"0","tag":"number","bits":"3ff0000000000000"}')],
    ["integer-like key", { tag: "text", value: "a", 0: "x" }],
    ["integer-like second key", { tag: "record", 1: [] }],
    ["extra key", { tag: "record", entries: [], x: 1 }],
    ["only the tag", { tag: "array" }],
    ["inherited tag", inherited],
    ["wrong second key", { tag: "text", bits: "a" }],
    ["wrong second key, payload inherited", Object.assign(Object.create({ bits: "3ff0000000000000" }), { tag: "number", x: 1 })],
    ["tag not a string", { tag: ["number"], bits: "3ff0000000000000" }],
    ["array with a tag", Object.assign([], { tag: "number", bits: "3ff0000000000000" })],
    ["text with unpaired surrogate", txt("\udc00")],
    ["record with a Truth value", rec(["a", { tag: "truth", value: "no" }])],
  ];
  for (const [label, node] of refused) {
    for (const tree of placements(node)) assertThrows(() => decode(tree), REQUEST, label);
  }
});

// A node whose deepest node `leaf` sits at `depth` inside alternating arrays
// and records.
function deep(leaf, depth) {
  let node = leaf;
  for (let level = 0; level < depth; level += 1) node = level % 2 === 0 ? arr(node) : rec(["k", node]);
  return node;
}

test("decode refuses the first fault depth-first, the depth limit before a node's own checks", () => {
  const bad = num("3FF0000000000000");
  const cases = [
    ["malformed leaf at depth 64", deep(bad, 64), REQUEST],
    ["malformed leaf at depth 65", deep(bad, 65), LIMIT],
    ["text leaf at depth 65", deep(txt("a"), 65), LIMIT],
    ["non-object at depth 65", deep(7, 65), LIMIT],
    ["too deep, then a repeated key", rec(["a", deep(NULL, 64)], ["a", NULL]), LIMIT],
    ["repeated key, then too deep", rec(["a", NULL], ["a", deep(NULL, 64)]), REQUEST],
    ["malformed item, then too deep", arr(bad, deep(NULL, 64)), REQUEST],
    ["too deep, then a malformed item", arr(deep(NULL, 64), bad), LIMIT],
  ];
  for (const [label, tree, expected] of cases) assertThrows(() => decode(tree), expected, label);
});

test("decode sums the serializer's text length of the nodes it accepts", () => {
  const trees = [
    num("3ff0000000000000"),
    num("3fb999999999999a"),
    txt("a/é\u{1F600}"),
    { tag: "truth", value: "unknown" },
    { tag: "boolean", value: false },
    NULL,
    arr(),
    rec(),
    arr(rec(["id", num("0000000000000000")], ["name", txt("row-0")], ["score", num("402a000000000000")]), arr(NULL, txt(""))),
    rec(["", rec(["__proto__", arr()])], ["b", { tag: "boolean", value: true }]),
    deep(txt("x"), 64),
  ];
  takeTextLength();
  for (const tree of trees) {
    decode(tree);
    assertEqual(takeTextLength(), JSON.stringify(tree).length, JSON.stringify(tree).slice(0, 60));
  }
});
