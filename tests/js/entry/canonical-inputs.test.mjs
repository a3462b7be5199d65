// The inputs of a request are checked for the canonical spelling while they
// are decoded, without serializing them. These cases respell the inputs text
// (and the text around it) and compare `readRequest` with the rule itself: a
// text is canonical exactly when it is the serializer's text of its value.
import { test, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { Boundary } from "../../../quelt/entry/boundary.mjs";
import { readRequest, FORMAT } from "../../../quelt/entry/protocol.mjs";
import { decode } from "../../../quelt/entry/transport.mjs";
import { REQUEST_REFUSAL as REQUEST, TRANSPORT_LIMIT as LIMIT, num, txt, arr, rec } from "./request-support.mjs";
import { seededRandom } from "../runtime/fake-context.mjs";


// The padding source makes every request long enough for the shortcut, which
// small requests skip.
const PADDING = " ".repeat(65536);

function requestText(inputs, budget = { maxSteps: 7 }) {
  const sources = { "main.quelt": { source: "x", sha256: "0" }, "pad.quelt": { source: PADDING, sha256: "0" } };
  return JSON.stringify({ format: FORMAT, operation: "run", entry: "main.quelt", sources, inputs, budget });
}

// Every node form, with strings that are written literally.
const PLAIN = [
  ["n", num("3ff0000000000000")],
  ["t", txt("a/é\u{1F600}\u007f")],
  ["b", { tag: "boolean", value: false }],
  ["u", arr({ tag: "truth", value: "unknown" }, { tag: "truth", value: "yes" }, { tag: "null" }, arr())],
  ["r", rec(["k", rec()], ["", { tag: "boolean", value: true }], ["z", arr(txt(""))])],
];

// Strings whose serialization holds escapes.
const ESCAPED = [
  ["q", txt('say "hi"\\')],
  ["c", rec(["line\nfeed", txt("\t\u0001\u001f")])],
];

// The inputs as the rule reads them: null for a text that is not canonical,
// else the decoded inputs (decoding may refuse).
function expectedRead(raw) {
  const parsed = JSON.parse(raw);
  if (JSON.stringify(parsed) !== raw) return null;
  return parsed.inputs.map(([name, node]) => ({ name, node, value: decode(node) }));
}

function checkRead(raw, label) {
  let expected;
  try {
    expected = expectedRead(raw);
  } catch (error) {
    assertThrows(() => readRequest(raw, null), { type: Boundary, code: error.code, phase: error.phase }, label);
    return;
  }
  if (expected === null) {
    assertThrows(() => readRequest(raw, null), REQUEST, label);
    return;
  }
  const read = readRequest(raw, null);
  assertDeepEqual(read.inputs, expected, label);
  assertDeepEqual(read.limits, JSON.parse(raw).budget, label);
}

test("canonical inputs are read, with and without escapes in their strings", () => {
  for (const [label, inputs] of [["plain", PLAIN], ["escaped", ESCAPED], ["both", [...ESCAPED, ...PLAIN]], ["none", []]]) {
    const raw = requestText(inputs);
    assertEqual(expectedRead(raw) === null, false, label);
    checkRead(raw, label);
  }
});

test("every other spelling of the inputs, or of what surrounds them, is refused", () => {
  const plain = requestText(PLAIN);
  const escaped = requestText([...PLAIN, ...ESCAPED]);
  const cases = [
    ["blank after a comma", plain.replace('"n",{', '"n", {')],
    ["blank before the inputs", plain.replace('"inputs":[', '"inputs": [')],
    ["blank after the inputs", plain.replace('],"budget"', '] ,"budget"')],
    ["escaped letter", plain.replace('"tag":"array"', '"tag":"\\u0061rray"')],
    ["escaped digit in bits", plain.replace('"3ff0', '"3ff\\u0030')],
    ["escaped solidus", plain.replace("a/é", "a\\/é")],
    ["escaped non-ASCII", plain.replace("a/é", "a/\\u00e9")],
    ["upper-case escape of a control character", escaped.replace("\\u001f", "\\u001F")],
    ["escaped line feed as unicode", escaped.replace("line\\nfeed", "line\\u000afeed")],
    ["node keys in another order", plain.replace('{"tag":"boolean","value":false}', '{"value":false,"tag":"boolean"}')],
    ["repeated node key", plain.replace('{"tag":"null"}', '{"tag":"null","tag":"null"}')],
    ["repeated inputs member", plain.replace('"inputs":[', '"inputs":[],"inputs":[')],
    ["repeated format member after the inputs", plain.replace(',"budget"', `,"format":"${FORMAT}","budget"`)],
    ["repeated budget member", plain.replace(',"budget":', ',"budget":{},"budget":')],
    ["budget in another spelling", plain.replace('"maxSteps":7', '"maxSteps":7.0')],
    ["trailing line feed", plain + "\n"],
  ];
  for (const [label, raw] of cases) {
    JSON.parse(raw);
    checkRead(raw, label);
  }
});

test("a too-deep input is a transport limit only in a canonical text", () => {
  let deep = num("3ff0000000000000");
  for (let level = 0; level < 65; level += 1) deep = arr(deep);
  const raw = requestText([["d", deep], ["later", txt("x")]]);
  assertThrows(() => readRequest(raw, null), LIMIT, "canonical");
  assertThrows(() => readRequest(raw.replace('"later",', '"later", '), null), REQUEST, "blank after the deep input");
  assertThrows(() => readRequest(raw.replace('"x"', '"\\u0078"'), null), REQUEST, "escape after the deep input");
});

// One-character edits of the inputs text and its two ends: whatever the edit
// makes of the request, readRequest answers as the rule does (the budget is
// left alone: the rule here does not check it). Seeded, so a failure names
// an edit that reappears.
function isCanonical(raw) {
  try {
    return JSON.stringify(JSON.parse(raw)) === raw;
  } catch {
    return false;
  }
}

// Whether expectedRead can read the inputs: a list of pairs.
function ruleApplies(raw) {
  const inputs = JSON.parse(raw).inputs;
  return Array.isArray(inputs) && inputs.every((pair) => Array.isArray(pair) && pair.length === 2);
}

test("single edits of a large request are read exactly as the rule reads them", () => {
  const random = seededRandom(20261210);
  const pick = (text) => text[Math.floor(random() * text.length)];
  const INSERTS = ' \\",:0123456789abcdefu{}[]-+.eE\n';
  let canonical = 0;
  // Inputs without escapes (checked by length) and with them (compared).
  for (const raw of [requestText(PLAIN), requestText([...PLAIN, ...ESCAPED])]) {
    const start = raw.indexOf('"inputs":');
    const end = raw.indexOf(',"budget":') + 1;
    for (let round = 0; round < 300; round += 1) {
      const at = start + Math.floor(random() * (end - start));
      const kind = Math.floor(random() * 3);
      let edited;
      if (kind === 0) edited = raw.slice(0, at) + pick(INSERTS) + raw.slice(at);
      else if (kind === 1) edited = raw.slice(0, at) + raw.slice(at + 1);
      else edited = raw.slice(0, at) + pick(INSERTS) + raw.slice(at + 1);
      const label = `edit ${round} (${kind} at ${at})`;
      if (!isCanonical(edited)) {
        // Every other spelling is refused, whatever it would decode to.
        assertThrows(() => readRequest(edited, null), REQUEST, label);
        continue;
      }
      canonical += 1;
      if (ruleApplies(edited)) checkRead(edited, label);
    }
  }
  // Some edits keep the text canonical (a changed letter inside a string).
  assertEqual(canonical > 0, true, "canonical edits seen");
});
