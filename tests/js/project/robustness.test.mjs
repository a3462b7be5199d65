import { test, assert } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic, compileProject } from "quelt/project.mjs";
import { sourcesOf } from "./fixtures.mjs";

// Every prefix of a valid project file, as entry and as library: whatever
// the cut, the linker answers with a diagnostic or a Program, never a crash.
const LIBRARY = [
  'import { base } from "../base.quelt";',
  "schema Box { w: Int, \"h\": Float }",
  "result Res: Int[];",
  "fn area(b: Box) -> Int { let w: Int = b |> field(\"w\"); return w + base() ; }",
  "fn wrap(r: Record) -> Res { return [readInt(r, \"w\")] |> ok(Res) }",
].join("\n");
const ENTRY = [
  'import { area, wrap, Box } from "./lib/shapes.quelt";',
  "fn one(x: Int[]) -> Int { return 1 }",
  "fn bad(e: Text) -> Int { return 0 }",
  "brindlet m {",
  "  input r: Record",
  "  derive b: Box = r |> asSchema(Box)",
  "  derive n: Int = area(b) + (wrap(r) |> match(one, bad))",
  "  output n",
  "}",
].join("\n");
const BASE = "fn base() -> Int { return 2 }";

function isDiagnostic(error) {
  return error instanceof ProjectDiagnostic || error instanceof CompileDiagnostic;
}

async function outcome(files) {
  try {
    await compileProject("main.quelt", { sources: await sourcesOf(files) });
    return null;
  } catch (error) {
    return error;
  }
}

test("the unbroken project compiles", async () => {
  const error = await outcome({ "main.quelt": ENTRY, "lib/shapes.quelt": LIBRARY, "base.quelt": BASE });
  assert(error === null, error && `${error.name}: ${error.message}`);
});

test("every cut of a library or of the entry fails as a diagnostic", async () => {
  for (let cut = 0; cut < LIBRARY.length; cut += 1) {
    const error = await outcome({ "main.quelt": ENTRY, "lib/shapes.quelt": LIBRARY.slice(0, cut), "base.quelt": BASE });
    assert(error === null || isDiagnostic(error), `library cut at ${cut}: ${error && error.stack}`);
  }
  for (let cut = 0; cut < ENTRY.length; cut += 1) {
    const error = await outcome({ "main.quelt": ENTRY.slice(0, cut), "lib/shapes.quelt": LIBRARY, "base.quelt": BASE });
    assert(isDiagnostic(error), `entry cut at ${cut}: ${error && error.stack}`);
  }
});
