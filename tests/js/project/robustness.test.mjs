import { test, assert } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic, compileProject } from "quelt/project.mjs";
import { sourcesOf } from "./fixtures.mjs";
import { BASE, ENTRY, LIBRARY } from "../../fuzz/project-fuzz-lib.mjs";

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

// Every prefix of a valid project file, as entry and as library: whatever
// the cut, the linker answers with a diagnostic or a Program, never a crash.
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
