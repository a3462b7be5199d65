import { test, assert, assertEqual, assertDeepEqual, assertThrows, assertRejects } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { RuntimeDiagnostic } from "quelt/runtime.mjs";
import { NO_DIGEST, errorLine, rawRequest, answerRaw } from "./request-support.mjs";
import { contractOf, runOutputs } from "../../../quelt/entry/pipelines.mjs";

const HEAD = '{"format":"quelt-native-project-json-v1","status":"ok","profile":"closed-pure-native-project-macos-v1",';

async function answer(request) {
  return answerRaw(await rawRequest(request));
}

test("every supplied source is preflighted before the project is compiled", async () => {
  const main = "brindlet m { input a: Int output a }";
  const cases = [
    ["effect function in an unreachable file with a wrong digest", { "main.quelt": main, "lib.quelt": ["effect fn f() -> Int { return 1 }", NO_DIGEST] }, "NATIVE_UNSUPPORTED", "unsupported"],
    ["use in the entry's module block", { "main.quelt": "brindlet m { use store input a: Int output a }" }, "NATIVE_UNSUPPORTED", "unsupported"],
    ["lone surrogate escape in an unreachable file", { "main.quelt": main, "z.quelt": ['fn f() -> Text { return "\\udc00" }', NO_DIGEST] }, "NATIVE_REQUEST", "request"],
    ["lone surrogate in a source text", { "main.quelt": main, "z.quelt": ["fn f() -> Int { return 1 } \ud800", NO_DIGEST] }, "NATIVE_REQUEST", "request"],
    ["first file in key order decides", { "b.quelt": ['"\\ud800"', NO_DIGEST], "a.quelt": ["effect fn", NO_DIGEST], "main.quelt": main }, "NATIVE_REQUEST", "request"],
  ];
  for (const [label, files, code, phase] of cases) {
    assertEqual(await answer({ files }), errorLine(code, phase), label);
  }
});

test("contractOf lists inputs with their defaults and outputs by name", () => {
  const program = compileModule(
    'brindlet hello { input name: Text = "world" input n: Int input flag: Truth? = unknown derive greeting: Text = "hi " + name output greeting output n }',
  );
  assertDeepEqual(contractOf(program), {
    name: "hello",
    astVersion: 6,
    inputs: [
      { name: "name", type: "Text", hasDefault: true },
      { name: "n", type: "Int", hasDefault: false },
      { name: "flag", type: "Truth?", hasDefault: true },
    ],
    outputs: ["greeting", "n"],
  });
});

test("runOutputs refuses an input whose tag does not fit before anything runs", async () => {
  const program = compileModule("brindlet m { input a: Int input b: Text[] derive c: Int = a + 1 output c }");
  const triple = (name, node, value) => ({ name, node, value });
  const cases = [
    [triple("a", { tag: "truth", value: "yes" }, "yes")],
    [triple("a", { tag: "number", bits: "3ff0000000000000" }, 1), triple("b", { tag: "array", items: [{ tag: "null" }] }, [null])],
  ];
  for (const inputs of cases) {
    await assertRejects(() => runOutputs(program, { inputs, limits: {} }), { type: RuntimeDiagnostic, code: "VALUE_TYPE" });
  }
});

test("check answers with the contract of the linked project", async () => {
  const files = {
    "main.quelt": 'import { greet } from "./lib/greet.quelt";\nbrindlet hello { input name: Text = "world" input n: Int derive greeting: Text = greet(name) output greeting output n }',
    "lib/greet.quelt": 'fn greet(who: Text) -> Text { return "hi " + who }',
  };
  const contract = {
    name: "hello",
    astVersion: 6,
    inputs: [
      { name: "name", type: "Text", hasDefault: true },
      { name: "n", type: "Int", hasDefault: false },
    ],
    outputs: ["greeting", "n"],
  };
  assertEqual(await answer({ files }), HEAD + `"contract":${JSON.stringify(contract)}}\n`);
  const inputs = [["n", { tag: "truth", value: "yes" }], ["undeclared", { tag: "null" }]];
  assertEqual(await answer({ files, inputs }), HEAD + `"contract":${JSON.stringify(contract)}}\n`, "check never compares inputs");
});

test("compile faults carry the location in the file that holds them", async () => {
  const files = {
    "main.quelt": 'import { f } from "./lib.quelt";\nbrindlet m { derive b: Int = f() output b }',
    "lib.quelt": "fn f() -> Int {\n  return 1 +\n}",
  };
  const line = await answer({ files });
  const { error } = JSON.parse(line);
  assertEqual(error.phase, "compile");
  assertEqual(error.code, "EXPRESSION");
  assertDeepEqual(error.location, { path: "lib.quelt", offset: 29, line: 3, column: 1 });
  assertEqual(
    await answer({ files: { "main.quelt": ["brindlet m { input a: Int output a }", NO_DIGEST] } }),
    errorLine("PROJECT_HASH", "compile"),
  );
});

test("run answers with the encoded outputs in output order", async () => {
  const files = {
    "main.quelt":
      "brindlet m { input a: Int input t: Truth? input f: Float = 0.5 derive u: Truth = unknown " +
      'derive r: Record = { k: "yes", n: a } derive xs: Int[] = [a, a + 1] output xs output u output t output r output f output a }',
  };
  const inputs = [["a", { tag: "number", bits: "4000000000000000" }], ["t", { tag: "truth", value: "unknown" }]];
  const outputs = [
    ["xs", { tag: "array", items: [{ tag: "number", bits: "4000000000000000" }, { tag: "number", bits: "4008000000000000" }] }],
    ["u", { tag: "truth", value: "unknown" }],
    ["t", { tag: "truth", value: "unknown" }],
    ["r", { tag: "record", entries: [["k", { tag: "text", value: "yes" }], ["n", { tag: "number", bits: "4000000000000000" }]] }],
    ["f", { tag: "number", bits: "3fe0000000000000" }],
    ["a", { tag: "number", bits: "4000000000000000" }],
  ];
  assertEqual(await answer({ operation: "run", files, inputs }), HEAD + `"outputs":${JSON.stringify(outputs)}}\n`);
});

test("run failures are answered with the runtime's code", async () => {
  const files = { "main.quelt": "brindlet m { input a: Int derive b: Int = a + 1 output b }" };
  const number = { tag: "number", bits: "3ff0000000000000" };
  const cases = [
    ["tag mismatch", [["a", { tag: "truth", value: "yes" }]], {}, "VALUE_TYPE"],
    ["undeclared input", [["a", number], ["z", number]], {}, "INPUT_SCHEMA"],
    ["step budget", [["a", number]], { maxSteps: 1 }, "STEP_BUDGET"],
  ];
  for (const [label, inputs, budget, code] of cases) {
    assertEqual(await answer({ operation: "run", files, inputs, budget }), errorLine(code, "runtime"), label);
  }
});

test("a run whose response line would pass 16 MiB is answered as a transport limit", async () => {
  // 257 items of 65536 UTF-8 bytes each, but only 32768 code units: the
  // line is short in code units and too long in bytes.
  const files = { "main.quelt": `brindlet m { input s: Text derive xs: Text[] = [${"s, ".repeat(256)}s] output xs }` };
  const inputs = [["s", { tag: "text", value: "é".repeat(32768) }]];
  const line = await answer({ operation: "run", files, inputs, budget: { maxOutputBytes: 100000000 } });
  assertEqual(line, errorLine("NATIVE_TRANSPORT_LIMIT", "transport"));
});
