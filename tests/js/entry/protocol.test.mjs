import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic } from "quelt/project.mjs";
import { RuntimeDiagnostic } from "quelt/runtime.mjs";
import { Boundary, refuse } from "../../../quelt/entry/boundary.mjs";
import { main, emit, budget, readRequest, errorPayload, FORMAT, PROFILE } from "../../../quelt/entry/protocol.mjs";

const REQUEST = { type: Boundary, code: "NATIVE_REQUEST", phase: "request" };
const LIMIT = { type: Boundary, code: "NATIVE_TRANSPORT_LIMIT", phase: "transport" };
const ONE = { tag: "number", bits: "3ff0000000000000" };

function errorLine(code, phase) {
  return (
    '{"format":"quelt-native-project-json-v1","status":"error","profile":"closed-pure-native-project-macos-v1",' +
    `"error":{"code":"${code}","phase":"${phase}","location":null}}\n`
  );
}

function envelope(fields = {}) {
  return {
    format: FORMAT,
    operation: "check",
    entry: "main.quelt",
    sources: {},
    inputs: [],
    budget: {},
    ...fields,
  };
}

// Runs `main` on a raw text and returns every line handed over.
async function answer(raw, requestError = null) {
  const lines = [];
  await main(raw, requestError, (line) => lines.push(line));
  return lines;
}

test("format and profile constants", () => {
  assertEqual(FORMAT, "quelt-native-project-json-v1");
  assertEqual(PROFILE, "closed-pure-native-project-macos-v1");
});

test("a host refusal is answered before any parsing", async () => {
  const canonical = JSON.stringify(envelope());
  assertDeepEqual(await answer("", "NATIVE_TRANSPORT_LIMIT"), [errorLine("NATIVE_TRANSPORT_LIMIT", "transport")]);
  assertDeepEqual(await answer(canonical, "NATIVE_REQUEST"), [errorLine("NATIVE_REQUEST", "request")]);
});

test("requests that break the envelope rules are refused with one error line", async () => {
  const canonical = JSON.stringify(envelope());
  const reordered = envelope();
  delete reordered.format;
  reordered.format = FORMAT;
  const withoutBudget = envelope();
  delete withoutBudget.budget;
  const withoutInputs = envelope();
  delete withoutInputs.inputs;
  const cases = [
    ["empty text", ""],
    ["not JSON", "{"],
    ["trailing line feed", canonical + "\n"],
    ["leading space", " " + canonical],
    ["space after a colon", canonical.replace('"operation":', '"operation": ')],
    ["duplicate key", canonical.replace('"budget":{}', '"budget":{},"budget":{}')],
    ["escaped solidus", JSON.stringify(envelope({ entry: "/main.quelt" })).replace("/main", "\\/main")],
    ["escaped non-ASCII", JSON.stringify(envelope({ entry: "/é.quelt" })).replace("é", "\\u00e9")],
    ["upper-case unicode escape", JSON.stringify(envelope({ entry: "/\u0001.quelt" })).replace("\\u0001", "\\u0001".toUpperCase())],
    ["number not in shortest form", JSON.stringify(envelope({ budget: { maxSteps: 10 } })).replace("10", "1e1")],
    ["keys in another order", JSON.stringify(reordered)],
    ["budget missing", JSON.stringify(withoutBudget)],
    ["inputs missing", JSON.stringify(withoutInputs)],
    ["extra key", JSON.stringify({ ...envelope(), extra: 1 })],
    ["top-level array", "[]"],
    ["top-level null", "null"],
    ["wrong format", JSON.stringify(envelope({ format: "quelt-native-project-json-v2" }))],
    ["unknown operation", JSON.stringify(envelope({ operation: "compile" }))],
    ["entry not a string", JSON.stringify(envelope({ entry: 1 }))],
    ["entry with an unpaired surrogate", JSON.stringify(envelope({ entry: "/\ud800.quelt" }))],
    ["inputs not an array", JSON.stringify(envelope({ inputs: {} }))],
    ["input not a pair", JSON.stringify(envelope({ inputs: [["a"]] }))],
    ["input name not a string", JSON.stringify(envelope({ inputs: [[1, ONE]] }))],
    ["duplicate input names", JSON.stringify(envelope({ inputs: [["a", ONE], ["a", ONE]] }))],
    ["malformed input on a check", JSON.stringify(envelope({ inputs: [["a", { tag: "number", bits: "3FF0000000000000" }]] }))],
    ["budget not an object", JSON.stringify(envelope({ budget: [] }))],
    ["budget null", JSON.stringify(envelope({ budget: null }))],
  ];
  for (const [label, raw] of cases) {
    assertDeepEqual(await answer(raw), [errorLine("NATIVE_REQUEST", "request")], label);
  }
});

test("an input nested deeper than 64 is a transport limit, also on a check", async () => {
  let node = ONE;
  for (let level = 0; level < 65; level += 1) node = { tag: "array", items: [node] };
  const raw = JSON.stringify(envelope({ inputs: [["deep", node]] }));
  assertDeepEqual(await answer(raw), [errorLine("NATIVE_TRANSPORT_LIMIT", "transport")]);
});

test("readRequest returns the validated parts of a canonical request", () => {
  const limits = { maxSteps: 5, deadlineMs: 86400000 };
  const request = envelope({
    operation: "run",
    entry: "/a/é.quelt",
    sources: { "/a/é.quelt": { source: "x", sha256: "0" } },
    inputs: [["b", ONE], ["a", { tag: "truth", value: "no" }]],
    budget: limits,
  });
  const read = readRequest(JSON.stringify(request), null);
  assertEqual(read.operation, "run");
  assertEqual(read.entry, "/a/é.quelt");
  assertDeepEqual(read.sources, request.sources);
  assertDeepEqual(read.limits, limits);
  assertDeepEqual(
    read.inputs.map(({ name, node, value }) => [name, node, value]),
    [["b", ONE, 1], ["a", { tag: "truth", value: "no" }, "no"]],
  );
});

test("budget accepts an ordered subsequence of the known keys and returns the object itself", () => {
  const cases = [
    {},
    { maxSteps: 1 },
    { maxOutputBytes: 9007199254740991 },
    { deadlineMs: 86400000 },
    { maxSteps: 1, deadlineMs: 2 },
    { maxSteps: 3, maxOutputBytes: 2, deadlineMs: 1 },
  ];
  for (const value of cases) assertEqual(budget(value), value, JSON.stringify(value));
});

test("budget refuses other keys, other orders and values outside 1 to 2^53-1", () => {
  const cases = [
    null,
    [],
    "budget",
    { deadlineMs: 5, maxSteps: 5 },
    { maxOutputBytes: 5, maxSteps: 5 },
    { maxSteps: 5, maxAdapterCalls: 5 },
    { maxConcurrent: 1 },
    { maxSteps: 0 },
    { maxSteps: -1 },
    { maxSteps: 1.5 },
    { maxSteps: 9007199254740992 },
    { maxSteps: "5" },
    { maxSteps: null },
    { maxOutputBytes: true },
    { deadlineMs: 86400001 },
  ];
  for (const value of cases) assertThrows(() => budget(value), REQUEST, JSON.stringify(value));
});

test("errorPayload maps each kind of failure to code, phase and location", () => {
  const located = new ProjectDiagnostic("PROJECT_IMPORT", "Unknown import");
  Object.assign(located, { sourcePath: "/lib/a.quelt", offset: 4, line: 2, column: 3 });
  const unmapped = new CompileDiagnostic("ab\ncd", 4, "SYNTAX", "Expected x");
  const badLine = new ProjectDiagnostic("PROJECT_IMPORT", "m");
  Object.assign(badLine, { sourcePath: "/a.quelt", offset: 0, line: 0, column: 1 });
  const fractional = new ProjectDiagnostic("PROJECT_IMPORT", "m");
  Object.assign(fractional, { sourcePath: 7, offset: 1.5, line: 1, column: 1 });
  const numericPath = new ProjectDiagnostic("PROJECT_IMPORT", "m");
  Object.assign(numericPath, { sourcePath: 7, offset: 0, line: 1, column: 1 });
  let boundary;
  try {
    refuse("NATIVE_UNSUPPORTED", "unsupported");
  } catch (error) {
    boundary = error;
  }
  const cases = [
    [boundary, { code: "NATIVE_UNSUPPORTED", phase: "unsupported", location: null }],
    [located, { code: "PROJECT_IMPORT", phase: "compile", location: { path: "/lib/a.quelt", offset: 4, line: 2, column: 3 } }],
    [unmapped, { code: "SYNTAX", phase: "compile", location: { path: null, offset: 4, line: 2, column: 2 } }],
    [new ProjectDiagnostic("PROJECT_SCHEMA", "m"), { code: "PROJECT_SCHEMA", phase: "compile", location: null }],
    [badLine, { code: "PROJECT_IMPORT", phase: "compile", location: null }],
    [fractional, { code: "PROJECT_IMPORT", phase: "compile", location: null }],
    [numericPath, { code: "PROJECT_IMPORT", phase: "compile", location: { path: null, offset: 0, line: 1, column: 1 } }],
    [new RuntimeDiagnostic("STEP_BUDGET", "m"), { code: "STEP_BUDGET", phase: "runtime", location: null }],
    [new TypeError("x"), { code: "NATIVE_HOST_FAILURE", phase: "host", location: null }],
    [Object.assign(new Error("x"), { code: "STEP_BUDGET" }), { code: "NATIVE_HOST_FAILURE", phase: "host", location: null }],
    ["thrown text", { code: "NATIVE_HOST_FAILURE", phase: "host", location: null }],
    [undefined, { code: "NATIVE_HOST_FAILURE", phase: "host", location: null }],
  ];
  for (const [error, payload] of cases) assertDeepEqual(errorPayload(error), payload, String(error && error.code));
});

test("emit writes the fixed keys, then the payload, as one line", () => {
  const lines = [];
  const hand = (line) => lines.push(line);
  emit({ status: "ok", contract: { name: "m" } }, hand);
  emit({ status: "ok", outputs: [["x", { tag: "null" }]] }, hand);
  emit({ status: "ok", contract: 1, outputs: [] }, hand);
  emit({ status: "error", error: { code: "C", phase: "host", location: null }, contract: 1 }, hand);
  const head = '{"format":"quelt-native-project-json-v1","status":"ok","profile":"closed-pure-native-project-macos-v1",';
  assertDeepEqual(lines, [
    head + '"contract":{"name":"m"}}\n',
    head + '"outputs":[["x",{"tag":"null"}]]}\n',
    head + '"outputs":[]}\n',
    errorLine("C", "host"),
  ]);
});

test("emit refuses a line above 16 MiB as a transport limit, measured in UTF-8 bytes", () => {
  const limit = 16777216;
  let frame = 0;
  emit({ status: "ok", contract: "" }, (line) => (frame = line.length));
  const cases = [
    ["ASCII at the limit", "a".repeat(limit - frame), true],
    ["ASCII one byte over", "a".repeat(limit - frame + 1), false],
    ["two-byte characters at the limit", "é".repeat((limit - frame) / 2), true],
    ["two-byte characters one byte over", "é".repeat((limit - frame) / 2) + "a", false],
    ["three-byte characters over", "€".repeat(Math.ceil((limit - frame) / 3) + 1), false],
    ["astral characters far over", "\u{1F600}".repeat(limit / 3), false],
  ];
  assertEqual((limit - frame) % 2, 0, "the frame leaves an even room");
  for (const [label, contract, fits] of cases) {
    let handed = 0;
    const hand = (line) => {
      handed = line.length;
    };
    if (fits) {
      emit({ status: "ok", contract }, hand);
      assert(handed > 0, label);
    } else {
      assertThrows(() => emit({ status: "ok", contract }, hand), LIMIT, label);
      assertEqual(handed, 0, `${label}: nothing handed over`);
    }
  }
});

test("main rejects when even the error line cannot be handed over", async () => {
  let calls = 0;
  let rejected;
  try {
    await main("", null, () => {
      calls += 1;
      throw new TypeError("One response");
    });
  } catch (error) {
    rejected = error;
  }
  assertEqual(calls, 1);
  assert(rejected instanceof TypeError, "the failure reaches the caller");
});
