// The purity preflight compares neighbouring tokens by value whatever their
// kind, keeps the module flag to the end of the source, and looks only at
// sources that are objects with a string `source`.
import { test, assertEqual, assertThrows } from "../harness.mjs";
import { Boundary } from "../../../quelt/entry/boundary.mjs";
import { purePreflight } from "../../../quelt/entry/purity.mjs";
import { main, FORMAT } from "../../../quelt/entry/protocol.mjs";

const UNSUPPORTED = { type: Boundary, code: "NATIVE_UNSUPPORTED", phase: "unsupported" };

test("neighbouring tokens are compared by value, the first token by kind", () => {
  const refused = [
    ["a text holding a dot between two names", 'brindlet m { derive b: Int = x "." y(1) output b }'],
    ["a text holding the opening parenthesis", 'brindlet m { derive b: Int = x.y "(" output b }'],
    ["use at depth 1 after the module block has closed", "brindlet m { input a: Int output a }\nfn f() -> Int { use }"],
    ["use right after the module keyword's brace", "brindlet m {use}"],
  ];
  for (const [label, source] of refused) assertThrows(() => purePreflight(source), UNSUPPORTED, label);
  const passed = [
    ["effect written as a text", '"effect" fn'],
    ["a name followed by a dot and a text", 'x . "y" ('],
    ["use at depth 2 of the module", "brindlet m { input r: Record = { a: { use: 1 } } output r }"],
    ["a module keyword at depth 1 does not open the module", "fn f() -> Int { brindlet } schema S { use }"],
    ["an extra closing brace moves the module keyword off depth 0", "} brindlet m {{ use }}"],
    ["a dotted call cut off by the end of the source", "a.b"],
  ];
  for (const [label, source] of passed) assertEqual(purePreflight(source), undefined, label);
});

test("sources that are not objects with a string source are left to the project's validation", async () => {
  const effect = "effect fn f() -> Int { return 1 }";
  const main_ = "brindlet m { input a: Int output a }";
  const cases = [
    ["source text given directly", { "a.quelt": effect, "main.quelt": { source: main_, sha256: "0".repeat(64) } }],
    ["source held in an array", { "a.quelt": { source: [effect], sha256: "0".repeat(64) } }],
    ["sources as an array", [{ source: 1 }]],
  ];
  for (const [label, sources] of cases) {
    const raw = JSON.stringify({ format: FORMAT, operation: "check", entry: "main.quelt", sources, inputs: [], budget: {} });
    const lines = [];
    await main(raw, null, (line) => lines.push(line));
    assertEqual(lines.length, 1, label);
    assertEqual(JSON.parse(lines[0]).error.phase, "compile", label);
  }
});
