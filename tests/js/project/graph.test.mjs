import { test, assertEqual, assertDeepEqual, assertThrows, assert } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic } from "quelt/project.mjs";
import { loadModules } from "../../../quelt/project/graph.mjs";

function sourceMap(files) {
  return new Map(Object.entries(files).map(([path, source]) => [path, { source, sha256: "" }]));
}

const ENTRY_BLOCK = "\nbrindlet m { input a: Int output a }";

test("files are parsed once each, depth first from the entry, imports in statement order", () => {
  const modules = loadModules(
    "main.quelt",
    sourceMap({
      "main.quelt": 'import { fa } from "./a.quelt";\nimport { fb } from "./b.quelt";' + ENTRY_BLOCK,
      "a.quelt": 'import { fc } from "./lib/c.quelt";\nfn fa() -> Int { return fc() }',
      "b.quelt": 'import { fc } from "./lib/c.quelt";\nfn fb() -> Int { return fc() }',
      "lib/c.quelt": "fn fc() -> Int { return 1 }",
      // never imported, so never parsed: its fault goes unreported
      "unused.quelt": "this is not { a library",
    }),
  );
  assertDeepEqual([...modules.keys()], ["main.quelt", "a.quelt", "lib/c.quelt", "b.quelt"]);
});

test("a cycle is reported at the specifier that closes it", () => {
  const files = {
    "main.quelt": 'import { fa } from "./a.quelt";' + ENTRY_BLOCK,
    "a.quelt": 'import { fb } from "./b.quelt";\nfn fa() -> Int { return fb() }',
    "b.quelt": 'import { x } from "./main.quelt";\nfn fb() -> Int { return 1 }',
  };
  assertThrows(() => loadModules("main.quelt", sourceMap(files)), {
    type: ProjectDiagnostic,
    code: "PROJECT_CYCLE",
    message: "Source import graph contains a cycle",
    sourcePath: "b.quelt",
    offset: files["b.quelt"].indexOf('"'),
    line: 1,
    column: files["b.quelt"].indexOf('"') + 1,
  });
  const self = { "main.quelt": 'import { x } from "./main.quelt";' + ENTRY_BLOCK };
  assertThrows(() => loadModules("main.quelt", sourceMap(self)), { code: "PROJECT_CYCLE", sourcePath: "main.quelt", offset: 18 });
});

test("an import of a file that was not supplied is reported at its specifier", () => {
  const files = { "main.quelt": '// header\nimport { f } from "./gone.quelt";' + ENTRY_BLOCK };
  assertThrows(() => loadModules("main.quelt", sourceMap(files)), {
    type: ProjectDiagnostic,
    code: "PROJECT_IMPORT",
    message: "Imported source is missing",
    sourcePath: "main.quelt",
    line: 2,
    column: 19,
  });
});

function chain(length) {
  const files = { "main.quelt": 'import { f1 } from "./m1.quelt";' + ENTRY_BLOCK };
  for (let index = 1; index < length; index += 1) {
    const next = index + 1 < length ? `import { f${index + 1} } from "./m${index + 1}.quelt";\n` : "";
    files[`m${index}.quelt`] = `${next}fn f${index}() -> Int { return 1 }`;
  }
  return sourceMap(files);
}

test("an import chain of 8 files is accepted, 9 exceed the depth bound without a location", () => {
  assertEqual(loadModules("main.quelt", chain(8)).size, 8);
  const error = assertThrows(() => loadModules("main.quelt", chain(9)), {
    type: ProjectDiagnostic,
    code: "PROJECT_LIMIT",
    message: "Source import depth exceeds 8",
  });
  assert(!("sourcePath" in error) && !("line" in error));
});

test("a fault inside an imported file names that file", () => {
  const files = {
    "main.quelt": 'import { f } from "./lib/a.quelt";' + ENTRY_BLOCK,
    "lib/a.quelt": "fn f() -> Int {\n  return \"a\tb\" }",
  };
  assertThrows(() => loadModules("main.quelt", sourceMap(files)), {
    type: CompileDiagnostic,
    code: "TEXT",
    sourcePath: "lib/a.quelt",
    line: 2,
    column: 10,
  });
});
