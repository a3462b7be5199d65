// What a caller sees when a multi-file project is wrong: which fault comes
// first, in which file, at which line and column, and with which names.
import { test, assert, assertEqual, assertRejects } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic, compileProject } from "quelt/project.mjs";
import { sourcesOf } from "./fixtures.mjs";

// {offset, line, column} of the nth occurrence of `needle` in `source`:
// lines end at line feeds only, columns count UTF-16 code units from 1.
function place(source, needle, nth = 0) {
  let offset = -1;
  for (let index = 0; index <= nth; index += 1) {
    offset = source.indexOf(needle, offset + 1);
    if (offset === -1) throw new Error(`fixture has no ${needle}`);
  }
  const before = source.slice(0, offset);
  const lastFeed = before.lastIndexOf("\n");
  return { offset, line: before.split("\n").length, column: offset - lastFeed };
}

const SUFFIX = / \(line \d+, column \d+\)$/;

// Compiles `files` (entry main.quelt) and checks the error against
// [type, code, bare message, path, needle or [needle, nth] or "end"].
async function expectFault(label, files, [type, code, message, path, needle]) {
  const error = await assertRejects(async () => compileProject("main.quelt", { sources: await sourcesOf(files) }), { type, code }, label);
  const source = files[path];
  const where = needle === "end" ? place(source + "\u0000", "\u0000") : Array.isArray(needle) ? place(source, ...needle) : place(source, needle);
  assertEqual(error.sourcePath, path, `${label}: path`);
  assertEqual(error.offset, where.offset, `${label}: offset`);
  assertEqual(error.line, where.line, `${label}: line`);
  assertEqual(error.column, where.column, `${label}: column`);
  if (type === CompileDiagnostic) {
    assertEqual(error.message.replace(SUFFIX, ""), message, `${label}: message`);
    assert(error.message.endsWith(` (line ${where.line}, column ${where.column})`), `${label}: suffix`);
  } else {
    assertEqual(error.message, message, `${label}: message`);
  }
  return error;
}

const C = CompileDiagnostic;
const P = ProjectDiagnostic;
const SHAPES = 'schema Shape { w: Int }\nresult Area: Int\nfn area(s: Shape) -> Area {\n  return s |> field("w") |> ok(Area)\n}\n';

test("compile faults are located in the file that holds them, with the names as written", async () => {
  const cases = [
    ["return type in a nested library", {
      "lib/util.quelt": 'fn helper(x: Int) -> Int {\n  return "a"\n}\n',
      "main.quelt": 'import { helper } from "./lib/util.quelt";\nbrindlet m { input a: Int derive d: Int = helper(a) output d }',
    }, [C, "TYPE_MISMATCH", "Function helper returns Text, declared Int", "lib/util.quelt", '"a"']],
    ["argument of an imported function, schema names restored", {
      "lib/shapes.quelt": SHAPES,
      "main.quelt": 'import { area, Area } from "./lib/shapes.quelt";\nbrindlet m {\n  input r: Record\n  derive d: Area = area(r)\n  output r\n}',
    }, [C, "TYPE_MISMATCH", "Argument 1 of area requires Shape, received Record", "main.quelt", "area(r)"]],
    ["unknown call in a library", {
      "lib.quelt": "fn twice(x: Int) -> Int {\n  return thrice(x)\n}",
      "main.quelt": 'import { twice } from "./lib.quelt";\nbrindlet m { input a: Int derive d: Int = twice(a) output d }',
    }, [C, "UNKNOWN_CALL", "Unknown function thrice", "lib.quelt", "thrice"]],
    ["unknown schema, reported at the stage", {
      "lib.quelt": SHAPES + "fn make(r: Record) -> Shape { return r |> asSchema(Shap) }\n",
      "main.quelt": 'import { make } from "./lib.quelt";\nbrindlet m { input a: Int output a }',
    }, [C, "SCHEMA_REFERENCE", "Unknown schema Shap", "lib.quelt", "asSchema"]],
    ["unknown Result, reported at the stage", {
      "lib.quelt": SHAPES + "fn fine(n: Int) -> Area { return n |> err(Aria) }\n",
      "main.quelt": 'import { fine } from "./lib.quelt";\nbrindlet m { input a: Int output a }',
    }, [C, "RESULT_UNKNOWN", "Unknown Result Aria", "lib.quelt", "err"]],
    ["unknown match handler, reported at the stage", {
      "lib.quelt": SHAPES + "fn show(n: Int) -> Int { return n }\n",
      "main.quelt": 'import { area, show, Shape } from "./lib.quelt";\nbrindlet m {\n  input r: Record\n  derive s: Shape = r |> asSchema(Shape)\n  derive d: Int = area(s) |> match(show, shout)\n  output d\n}',
    }, [C, "UNKNOWN_CALL", "Unknown source callback shout", "main.quelt", "match"]],
    ["unknown annotation in a project with schemas", {
      "lib.quelt": SHAPES,
      "main.quelt": 'import { Shape } from "./lib.quelt";\nfn g(x: Shapes[]?) -> Int { return 1 }\nbrindlet m { input a: Int output a }',
    }, [C, "TYPE", "Unknown annotation type Shapes[]?", "main.quelt", "Shapes"]],
    ["unknown callback in an imported library", {
      "lib.quelt": "fn g(xs: Int[]) -> Int[] { return xs |> each(inc) }",
      "main.quelt": 'import { g } from "./lib.quelt";\nbrindlet m { input a: Int[] derive d: Int[] = g(a) output d }',
    }, [C, "UNKNOWN_CALL", "Unknown source callback inc", "lib.quelt", "inc"]],
    ["fault at the end of the entry", {
      "lib.quelt": "fn g() -> Int { return 1 }",
      "main.quelt": 'import { g } from "./lib.quelt";\nbrindlet m { input a: Int output a\n',
    }, [C, "UNSUPPORTED", "Expected use, input, derive, or output; received <eof>", "main.quelt", "end"]],
    ["columns count UTF-16 code units; a carriage return is not a line end", {
      "lib.quelt": 'fn f() -> Int {\r\n  /* \u{1F600} */ return "a"\r\n}',
      "main.quelt": 'import { f } from "./lib.quelt";\nbrindlet m { input a: Int derive d: Int = f() output d }',
    }, [C, "TYPE_MISMATCH", "Function f returns Text, declared Int", "lib.quelt", '"a"']],
    ["a multi-line import keeps the entry's lines", {
      "lib.quelt": "fn g(x: Int) -> Int { return x }",
      "main.quelt": 'import {\n  g\n} from "./lib.quelt";\nbrindlet m {\n  input a: Text\n  derive d: Int = g(a)\n  output d\n}',
    }, [C, "TYPE_MISMATCH", "Argument 1 of g requires Int, received Text", "main.quelt", "g(a)"]],
  ];
  for (const [label, files, expected] of cases) await expectFault(label, files, expected);
});

test("a relocated compile fault keeps its place in the linked text", async () => {
  const files = {
    "lib.quelt": "fn g(x: Int) -> Int { return x }",
    "main.quelt": 'import { g } from "./lib.quelt";\nbrindlet m {\n  input a: Text\n  derive d: Int = g(a)\n  output d\n}',
  };
  const error = await expectFault("linked", files, [C, "TYPE_MISMATCH", "Argument 1 of g requires Int, received Text", "main.quelt", "g(a)"]);
  // header, module line, one library line, its added line feed, the separator,
  // the entry's module line: the entry's line 4 is linked line 9
  const linkedName = "__quelt_module_0_f0";
  const prefix = 85 + "// virtual module lib.quelt\n".length + `fn ${linkedName}(x: Int) -> Int { return x }\n\n`.length + "// virtual module main.quelt\n".length;
  assertEqual(JSON.stringify(error.linkedLocation), JSON.stringify({ offset: prefix + files["main.quelt"].indexOf("g(a)"), line: 9, column: 19 }));
  assert(Object.isFrozen(error.linkedLocation));
});

test("project faults are located at the import that causes them", async () => {
  const cases = [
    ["re-export through a library", {
      "a.quelt": 'import { g } from "./b.quelt";\nfn f() -> Int { return g() }',
      "b.quelt": "fn g() -> Int { return 1 }",
      "main.quelt": 'import { f, g } from "./a.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Requested binding is not declared by its target library; re-exports are unsupported", "main.quelt", '"']],
    ["name not declared by the target", {
      "lib/a.quelt": "fn f() -> Int { return 1 }",
      "main.quelt": 'import { f } from "./lib/a.quelt";\nimport { h } from "./lib/../lib/b.quelt";\nbrindlet m { input x: Int output x }',
      "lib/b.quelt": 'import { f } from "./a.quelt";\nfn g() -> Int { return f() }',
    }, [P, "PROJECT_IMPORT", "Requested binding is not declared by its target library; re-exports are unsupported", "main.quelt", ['"', 2]]],
    ["escape from a nested library", {
      "lib/a.quelt": 'import { g } from "../../g.quelt";',
      "main.quelt": 'import { g } from "./lib/a.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_PATH", "Import escapes the virtual root", "lib/a.quelt", '"']],
    // the specifier is short, but the path it resolves to is 263 code units long
    ["resolved path over its bound", {
      ["a/".repeat(123) + "x.quelt"]: 'import { y } from "./yyyyyyyyyyy.quelt";',
      "main.quelt": `import { y } from "./${"a/".repeat(123)}x.quelt";\nbrindlet m { input x: Int output x }`,
    }, [P, "PROJECT_PATH", "Use a canonical relative ASCII .quelt virtual path", "a/".repeat(123) + "x.quelt", '"']],
    ["missing target of a nested library", {
      "lib/a.quelt": '\n\nimport { g } from "./g.quelt";',
      "main.quelt": 'import { g } from "./lib/a.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Imported source is missing", "lib/a.quelt", '"']],
  ];
  for (const [label, files, expected] of cases) await expectFault(label, files, expected);
});

test("the first fault wins in the order validation, digests, parsing, linking, compiling", async () => {
  const broken = "fn f( -> Int { return 1 }"; // a fault the compiler would report
  const chain = (count, last) => {
    const files = {};
    for (let index = 1; index <= count; index += 1) {
      files[`c${index}.quelt`] = index < count ? `import { f${index + 1} } from "./c${index + 1}.quelt";\nfn f${index}() -> Int { return f${index + 1}() }` : last;
    }
    return files;
  };
  const cases = [
    // parsing is depth first in statement order: c.quelt (under a.quelt) before b.quelt
    ["depth first", {
      "a.quelt": 'import { c } from "./c.quelt";\nfn a() -> Int { return c() }',
      "b.quelt": "fn b() -> Int { return 1 } brindlet",
      "c.quelt": "fn c() -> Int { return 1 } 42",
      "main.quelt": 'import { a } from "./a.quelt";\nimport { b } from "./b.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Imported libraries may contain imports and pure function declarations only", "c.quelt", "42"]],
    ["a missing file before a later sibling's fault", {
      "a.quelt": 'import { x } from "./x.quelt";',
      "b.quelt": "brindlet",
      "main.quelt": 'import { a } from "./a.quelt";\nimport { b } from "./b.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Imported source is missing", "a.quelt", '"']],
    // entry -> c1 ... c8 is 9 files high, which is only known when the entry
    // finishes, after its second import has been parsed
    ["a later sibling's fault before the entry's own height", {
      ...chain(8, "fn f8() -> Int { return 8 }"),
      "z.quelt": "brindlet",
      "main.quelt": 'import { f1 } from "./c1.quelt";\nimport { z } from "./z.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Imported libraries may contain imports and pure function declarations only", "z.quelt", "brindlet"]],
    // every parse precedes linking: the entry's undeclared binding loses to a library's fault
    ["parsing before linking", {
      "a.quelt": "fn a() -> Int { return 1 }",
      "b.quelt": "fn b() -> Int { return 1 } brindlet",
      "main.quelt": 'import { nope } from "./a.quelt";\nimport { b } from "./b.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Imported libraries may contain imports and pure function declarations only", "b.quelt", "brindlet"]],
    // linking walks the libraries in path order and the entry last
    ["libraries before the entry when linking", {
      "a.quelt": "fn a() -> Int { return 1 }",
      "z.quelt": 'import { nope } from "./a.quelt";\nfn z() -> Int { return 1 }',
      "main.quelt": 'import { also } from "./a.quelt";\nimport { z } from "./z.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Requested binding is not declared by its target library; re-exports are unsupported", "z.quelt", '"']],
    ["linking before compiling", {
      "a.quelt": "fn f() -> Int { return 1 + yes }",
      "b.quelt": "fn b() -> Int { return 1 }",
      "main.quelt": 'import { f } from "./a.quelt";\nimport { nope } from "./b.quelt";\nbrindlet m { input x: Int output x }',
    }, [P, "PROJECT_IMPORT", "Requested binding is not declared by its target library; re-exports are unsupported", "main.quelt", ['"', 2]]],
  ];
  for (const [label, files, expected] of cases) await expectFault(label, files, expected);

  // a chain ten files high fails when its first library finishes, before the entry's next import
  const tooDeep = {
    ...chain(9, "fn f9() -> Int { return 9 }"),
    "z.quelt": "brindlet",
    "main.quelt": 'import { f1 } from "./c1.quelt";\nimport { z } from "./z.quelt";\nbrindlet m { input x: Int output x }',
  };
  const error = await assertRejects(async () => compileProject("main.quelt", { sources: await sourcesOf(tooDeep) }), {
    type: ProjectDiagnostic,
    code: "PROJECT_LIMIT",
    message: "Source import depth exceeds 8",
  });
  assert(!Object.hasOwn(error, "sourcePath") && !Object.hasOwn(error, "line"));

  // a wrong digest anywhere is found before any file is parsed
  const sources = await sourcesOf({ "main.quelt": broken, "unused.quelt": "fn u() -> Int { return 1 }" });
  sources["unused.quelt"].sha256 = sources["main.quelt"].sha256;
  await assertRejects(() => compileProject("main.quelt", { sources }), { type: ProjectDiagnostic, code: "PROJECT_HASH" });
});

test("the bounds of the one linked module apply across files, located at the first excess in linked order", async () => {
  const functions = (prefix, count) => Array.from({ length: count }, (_, k) => `fn ${prefix}${k}() -> Int { return ${k} }`).join("\n");
  const schemas = (prefix, count) => Array.from({ length: count }, (_, k) => `schema ${prefix}${k} { v: Int }`).join("\n");
  const cases = [
    // 40 + 25 functions: the 65th is the entry's 25th (libraries are linked first)
    ["functions", {
      "lib.quelt": functions("a", 40),
      "main.quelt": `import { a0 } from "./lib.quelt";\n${functions("m", 25)}\nbrindlet m { input x: Int output x }`,
    }, [C, "FUNCTION_LIMIT", "Function limit is 64", "main.quelt", "m24"]],
    // 9 + 9 schemas, each file within its own bound of 16: the 17th is b.quelt's 8th
    ["schemas", {
      "a.quelt": schemas("A", 9),
      "b.quelt": schemas("B", 9),
      "main.quelt": 'import { A0 } from "./a.quelt";\nimport { B0 } from "./b.quelt";\nbrindlet m { input x: Int output x }',
    }, [C, "SCHEMA_LIMIT", "Schema limit is 16", "b.quelt", "B7"]],
  ];
  for (const [label, files, expected] of cases) await expectFault(label, files, expected);

  // 12,000 tokens in the library and 8,016 in the entry: the linked text's
  // 20,001st token is the entry's 8,001st
  const library = `fn f() -> Int { return ${"1 + ".repeat(5995)}1 }`;
  const head = "brindlet m { input a: Int derive d: Int = ";
  const entry = `import { f } from "./lib.quelt";\n${head}${"1 + ".repeat(4000)}1 output d }`;
  const offset = entry.indexOf(head) + head.length + 3994 * 4;
  const error = await assertRejects(
    async () => compileProject("main.quelt", { sources: await sourcesOf({ "lib.quelt": library, "main.quelt": entry }) }),
    { type: CompileDiagnostic, code: "TOKEN_LIMIT", sourcePath: "main.quelt", offset, line: 2, column: offset - entry.indexOf("\n") },
  );
  assertEqual(error.message.replace(SUFFIX, ""), "Token limit is 20000");
});
