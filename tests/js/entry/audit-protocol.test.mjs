// A second look at the request protocol, written from the protocol's rules:
// the order in which the request is checked, the canonical text, and the
// failures that decide the one response line.
import { test, assertEqual, assertThrows } from "../harness.mjs";
import { Boundary } from "../../../quelt/entry/boundary.mjs";
import { NO_DIGEST, errorLine, rawRequest, answerRaw as answer } from "./request-support.mjs";
import { decode } from "../../../quelt/entry/transport.mjs";

const OK_HEAD = '{"format":"quelt-native-project-json-v1","status":"ok","profile":"closed-pure-native-project-macos-v1",';
const ONE = { tag: "number", bits: "3ff0000000000000" };

// A node whose innermost node sits at `depth`.
function nested(depth, inner = ONE) {
  let node = inner;
  for (let level = 0; level < depth; level += 1) node = { tag: "array", items: [node] };
  return node;
}

const PURE = "brindlet m { input a: Int derive b: Int = a + 1 output b }";
const EFFECT = ["effect fn f() -> Int { return 1 }", NO_DIGEST];

test("the request is checked in order: envelope, entry, inputs, budget, preflight, compile, tags, run", async () => {
  const deep = nested(65);
  const cases = [
    ["entry before inputs", { entry: 7, files: { "main.quelt": PURE }, inputs: [["a", deep]] }, "NATIVE_REQUEST", "request"],
    ["inputs before budget", { files: { "main.quelt": PURE }, inputs: [["a", deep]], budget: { maxSteps: 0 } }, "NATIVE_TRANSPORT_LIMIT", "transport"],
    ["a repeated name is refused before its node is decoded", { files: { "main.quelt": PURE }, inputs: [["a", ONE], ["a", deep]] }, "NATIVE_REQUEST", "request"],
    ["inputs in supply order", { files: { "main.quelt": PURE }, inputs: [["a", deep], ["b"]] }, "NATIVE_TRANSPORT_LIMIT", "transport"],
    ["budget before the preflight", { files: { "main.quelt": PURE, "x.quelt": EFFECT }, budget: { deadlineMs: 86400001 } }, "NATIVE_REQUEST", "request"],
    ["inputs of a check before the preflight", { files: { "main.quelt": PURE, "x.quelt": EFFECT }, inputs: [["a", deep]] }, "NATIVE_TRANSPORT_LIMIT", "transport"],
    ["preflight before the project's own validation", { entry: "missing.quelt", files: { "main.quelt": PURE, "x.quelt": EFFECT } }, "NATIVE_UNSUPPORTED", "unsupported"],
    ["compile before the tag check", { operation: "run", files: { "main.quelt": "brindlet m { input a: Int output b }" }, inputs: [["a", { tag: "text", value: "x" }]] }, null, "compile"],
    ["tag check before the step budget", { operation: "run", files: { "main.quelt": PURE }, inputs: [["a", { tag: "text", value: "x" }]], budget: { maxSteps: 1 } }, "VALUE_TYPE", "runtime"],
    ["tag check before undeclared inputs are refused", { operation: "run", files: { "main.quelt": PURE }, inputs: [["z", ONE], ["a", { tag: "null" }]] }, "VALUE_TYPE", "runtime"],
    ["an undeclared input alone reaches the runtime", { operation: "run", files: { "main.quelt": PURE }, inputs: [["z", ONE], ["a", ONE]] }, "INPUT_SCHEMA", "runtime"],
  ];
  for (const [label, request, code, phase] of cases) {
    const { error } = JSON.parse(await answer(await rawRequest(request)));
    assertEqual(error.phase, phase, label);
    if (code !== null) assertEqual(error.code, code, label);
  }
});

test("the depth limit is tested before the node's own shape", () => {
  const garbage = { tag: "number", bits: "not bits" };
  assertThrows(() => decode(nested(65, garbage)), { type: Boundary, code: "NATIVE_TRANSPORT_LIMIT", phase: "transport" });
  assertThrows(() => decode(nested(64, garbage)), { type: Boundary, code: "NATIVE_REQUEST", phase: "request" });
  assertThrows(() => decode(nested(65, "not even an object")), { type: Boundary, code: "NATIVE_TRANSPORT_LIMIT" });
  const emptyAt64 = nested(64, { tag: "array", items: [] });
  assertEqual(decode(emptyAt64).length, 1, "an empty array at depth 64 has no node at depth 65");
});

test("only the serializer's own spelling is canonical", async () => {
  // The comment holds characters that the serializer writes literally or
  // with one fixed escape; the budget holds a number in its shortest form.
  const source = 'brindlet m { input a: Int output a } // \u007f \u2028 é / \u{1F600} \t \u001f "q" \\ end';
  const canonical = await rawRequest({ files: { "main.quelt": source }, budget: { maxSteps: 100 } });
  const contract = '"contract":{"name":"m","astVersion":1,"inputs":[{"name":"a","type":"Int","hasDefault":false}],"outputs":["a"]}}\n';
  assertEqual(await answer(canonical), OK_HEAD + contract, "the canonical text itself");
  const respelled = [
    ["DEL escaped", "\u007f", "\\u007f"],
    ["line separator escaped", "\u2028", "\\u2028"],
    ["non-ASCII escaped", "é", "\\u00e9"],
    ["solidus escaped", "/ ", "\\/ "],
    ["astral character as an escaped pair", "\u{1F600}", "\\ud83d\\ude00"],
    ["tab as a unicode escape", "\\t", "\\u0009"],
    ["control character escaped in upper case", "\\u001f", "\\u001F"],
    ["quotation mark as a unicode escape", '\\"q', '\\u0022q'],
    ["backslash as a unicode escape", "\\\\ end", "\\u005c end"],
    ["number with an exponent", '"maxSteps":100', '"maxSteps":1e2'],
    ["number with a fraction", '"maxSteps":100', '"maxSteps":100.0'],
    ["number with a capital exponent", '"maxSteps":100', '"maxSteps":1E+2'],
    ["byte order mark before the document", '{"format"', '\ufeff{"format"'],
    ["tab between tokens", '"budget":{', '"budget":\t{'],
    ["carriage return at the end", '}}', '}}\r'],
  ];
  for (const [label, from, to] of respelled) {
    const raw = canonical.replace(from, to);
    assertEqual(raw !== canonical, true, `${label}: the fixture changed`);
    assertEqual(await answer(raw), errorLine("NATIVE_REQUEST", "request"), label);
  }
});

test("numbers outside the budget's range never reach the budget check as numbers", async () => {
  const canonical = await rawRequest({ files: { "main.quelt": PURE }, budget: { maxSteps: 5 } });
  const cases = ["-0", "1e400", "-1e400", "5.0", "05", "9007199254740993", "0x5"];
  for (const spelling of cases) {
    const raw = canonical.replace('"maxSteps":5', `"maxSteps":${spelling}`);
    assertEqual(await answer(raw), errorLine("NATIVE_REQUEST", "request"), spelling);
  }
});

test("a document nested deeper than the engine can serialize is refused as a request fault", async () => {
  const canonical = await rawRequest({ files: { "main.quelt": PURE } });
  for (const depth of [100000, 300000]) {
    const deep = "[".repeat(depth) + "]".repeat(depth);
    const cases = [
      ["in sources", canonical.replace('"sources":{', `"sources":{"deep.quelt":${deep},`)],
      ["as an input node", canonical.replace('"inputs":[]', `"inputs":[["a",${deep}]]`)],
      ["as the whole document", deep],
    ];
    for (const [label, raw] of cases) {
      assertEqual(await answer(raw), errorLine("NATIVE_REQUEST", "request"), `${label}, depth ${depth}`);
    }
  }
});

test("keys that name object internals are ordinary keys everywhere in the request", async () => {
  const files = { "main.quelt": PURE };
  const cases = [
    ["__proto__ as a request key", (raw) => raw.replace('{"format"', '{"__proto__":{},"format"'), "NATIVE_REQUEST"],
    ["__proto__ as a budget key", (raw) => raw.replace('"budget":{}', '"budget":{"__proto__":{"maxSteps":1}}'), "NATIVE_REQUEST"],
    ["__proto__ as a node key", (raw) => raw.replace('"inputs":[]', '"inputs":[["a",{"__proto__":{"tag":"null"}}]]'), "NATIVE_REQUEST"],
  ];
  const canonical = await rawRequest({ files });
  for (const [label, edit, code] of cases) {
    assertEqual(await answer(edit(canonical)), errorLine(code, "request"), label);
  }
  // As an input name it passes the envelope and is refused by the runtime
  // as an undeclared input.
  const named = await rawRequest({ operation: "run", files, inputs: [["a", ONE], ["__proto__", ONE]] });
  assertEqual(await answer(named), errorLine("INPUT_SCHEMA", "runtime"));
});
