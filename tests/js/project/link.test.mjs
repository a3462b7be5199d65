import { test, assert, assertEqual, assertDeepEqual, assertThrows, assertRejects } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic, compileProject, getProjectInfo, getProjectSourceMap, getProjectEditTargets, mapProjectLocation } from "quelt/project.mjs";
import { parseFile } from "../../../quelt/project/parse-file.mjs";
import { exportTables, rewrite } from "../../../quelt/project/rewrite.mjs";
import { sha256Hex, sourcesOf } from "./fixtures.mjs";

const M = "__quelt_module_";

async function bundleDigest(canonicalIdentity) {
  return sha256Hex(`KORVANTIS/project-bundle/v1\u0000${canonicalIdentity}`);
}

// Rewrites every file of a small project without compiling it.
function rewriteAll(files, entry) {
  const modules = new Map(Object.entries(files).map(([path, source]) => [path, parseFile(path, source, path === entry)]));
  const ordered = [...modules.keys()].sort();
  const tables = exportTables(ordered, modules);
  const texts = {};
  ordered.forEach((path, ordinal) => {
    texts[path] = rewrite(modules.get(path), tables.exports, ordinal, tables.schemaExports, tables.resultExports).source;
  });
  return texts;
}

const ONE_FILE = "fn f() -> Int { return 1 }\nbrindlet m { input a: Int derive d: Int = f() output d }";

test("a one-file project links to the header, its module line and the rewritten entry", async () => {
  const sources = await sourcesOf({ "main.quelt": ONE_FILE });
  const program = await compileProject("main.quelt", { sources });
  const digest = sources["main.quelt"].sha256;
  const bundle = await bundleDigest(
    `{"entry":"main.quelt","files":[{"imports":[],"path":"main.quelt","sha256":"${digest}"}],"schema":"quelt-project-info-v1"}`,
  );
  const expected =
    `// quelt-project-v1 ${bundle}\n// virtual module main.quelt\n` +
    `fn ${M}0_f0() -> Int { return 1 }\nbrindlet m { input a: Int derive d: Int = ${M}0_f0() output d }\n`;
  assertEqual(program.source, expected);
  assertEqual(program.source.length, 234);
  assertDeepEqual(getProjectInfo(program), {
    schema: "quelt-project-info-v1",
    entry: "main.quelt",
    files: [{ path: "main.quelt", sha256: digest, imports: [] }],
    bundleSha256: bundle,
    sourceSha256: await sha256Hex(expected),
  });
  // the header is 85 code units and the module line 29, so the entry starts at 114
  assertDeepEqual(getProjectSourceMap(program).segments, [
    { start: 114, end: 117, path: "main.quelt", sourceStart: 0, sourceEnd: 3, kind: "copy" },
    { start: 117, end: 136, path: "main.quelt", sourceStart: 3, sourceEnd: 4, kind: "identifier" },
    { start: 136, end: 201, path: "main.quelt", sourceStart: 4, sourceEnd: 69, kind: "copy" },
    { start: 201, end: 220, path: "main.quelt", sourceStart: 69, sourceEnd: 70, kind: "identifier" },
    { start: 220, end: 233, path: "main.quelt", sourceStart: 70, sourceEnd: 83, kind: "copy" },
  ]);
  assertDeepEqual(getProjectEditTargets(program), [
    { path: "main.quelt", kind: "function", target: "f", type: "Int", range: { start: 23, end: 24 }, linkedName: `${M}0_f0` },
    { path: "main.quelt", kind: "derive", target: "d", type: "Int", range: { start: 69, end: 72 }, linkedName: "d" },
  ]);
});

test("linked offsets map to file positions; generated text maps to nothing", async () => {
  const program = await compileProject("main.quelt", { sources: await sourcesOf({ "main.quelt": ONE_FILE }) });
  const points = [
    [114, { path: "main.quelt", offset: 0, line: 1, column: 1 }],
    [118, { path: "main.quelt", offset: 3, line: 1, column: 4 }], // inside a replaced name: its start
    [136, { path: "main.quelt", offset: 4, line: 1, column: 5 }],
    [141, { path: "main.quelt", offset: 9, line: 1, column: 10 }],
    [232, { path: "main.quelt", offset: 82, line: 2, column: 56 }],
    [234, { path: "main.quelt", offset: 83, line: 2, column: 57 }], // the linked length: end of the entry
  ];
  for (const [offset, expected] of points) assertDeepEqual(mapProjectLocation(program, offset), expected, String(offset));
  for (const offset of [0, 84, 113, 233]) {
    assertThrows(() => mapProjectLocation(program, offset), {
      type: ProjectDiagnostic,
      code: "PROJECT_LOCATION",
      message: "Generated header/separator has no original source position",
    });
  }
  for (const offset of [-1, 235, 1.5, "114", null, Number.MAX_SAFE_INTEGER + 1]) {
    assertThrows(() => mapProjectLocation(program, offset), {
      type: ProjectDiagnostic,
      code: "PROJECT_LOCATION",
      message: "Expected a linked UTF-16 source offset",
    });
  }
});

test("modules are linked in path order with the entry last; ordinals follow path order", async () => {
  const files = {
    "z.quelt": "fn fz(x: Int) -> Int { return x + 1 }",
    "main.quelt": 'import { fa } from "./a.quelt";\nimport { fz } from "./z.quelt";\nbrindlet m {\n  input a: Int\n  derive d: Int = fa(a) + fz(a)\n  output d\n}',
    "a.quelt": "fn fa(x: Int) -> Int { return x }",
  };
  const sources = await sourcesOf(files);
  const program = await compileProject("main.quelt", { sources });
  const sha = (path) => sources[path].sha256;
  const bundle = await bundleDigest(
    `{"entry":"main.quelt","files":[` +
      `{"imports":[],"path":"a.quelt","sha256":"${sha("a.quelt")}"},` +
      `{"imports":[{"names":["fa"],"path":"a.quelt"},{"names":["fz"],"path":"z.quelt"}],"path":"main.quelt","sha256":"${sha("main.quelt")}"},` +
      `{"imports":[],"path":"z.quelt","sha256":"${sha("z.quelt")}"}` +
      `],"schema":"quelt-project-info-v1"}`,
  );
  const expected = [
    `// quelt-project-v1 ${bundle}`,
    "// virtual module a.quelt",
    `fn ${M}0_f0(x: Int) -> Int { return x }`,
    "",
    "// virtual module z.quelt",
    `fn ${M}2_f0(x: Int) -> Int { return x + 1 }`,
    "",
    "// virtual module main.quelt",
    " ".repeat(31),
    " ".repeat(31),
    "brindlet m {",
    "  input a: Int",
    `  derive d: Int = ${M}0_f0(a) + ${M}2_f0(a)`,
    "  output d",
    "}",
    "",
  ].join("\n");
  assertEqual(program.source, expected);
  assertDeepEqual(getProjectInfo(program).files.map((file) => file.path), ["a.quelt", "main.quelt", "z.quelt"]);
  assertDeepEqual(
    getProjectEditTargets(program).map(({ path, target, range, linkedName }) => [path, target, range.start, range.end, linkedName]),
    [
      ["a.quelt", "fa", 30, 31, `${M}0_f0`],
      ["z.quelt", "fz", 30, 35, `${M}2_f0`],
      ["main.quelt", "d", files["main.quelt"].indexOf("fa(a)"), files["main.quelt"].indexOf("\n  output"), "d"],
    ],
  );
});

test("calls and callbacks are rewritten; stage names, adapter parts, builtins and bare names are not", () => {
  const library = [
    "fn keys(r: Record) -> Int { return 1 }",
    "fn g(r: Record, xs: Int[]) -> Int {",
    "  return keys(r) + (r |> keys() |> len()) + store.keys(r) + sum(xs) + keys",
    "    + (xs |> each(keys)) + (xs |> fold(keys, 0)) + (xs |> fold(keys)) + (xs |> each(keys, 1))",
    "    + missing(1) + (xs |> sortBy(nowhere))",
    "}",
  ].join("\n");
  const { "lib.quelt": text } = rewriteAll({ "lib.quelt": library }, "main.quelt");
  const expected = [
    `fn ${M}0_f0(r: Record) -> Int { return 1 }`,
    `fn ${M}0_f1(r: Record, xs: Int[]) -> Int {`,
    `  return ${M}0_f0(r) + (r |> keys() |> len()) + store.keys(r) + sum(xs) + keys`,
    `    + (xs |> each(${M}0_f0)) + (xs |> fold(${M}0_f0, 0)) + (xs |> fold(keys)) + (xs |> each(keys, 1))`,
    `    + ${M}0_unresolved(1) + (xs |> sortBy(${M}0_unresolved))`,
    "}",
  ].join("\n");
  assertEqual(text, expected);
});

test("schema and Result names are rewritten only when the project declares one", () => {
  const lib = 'schema Shape { a: Int }\nresult Res: Int\nfn mk(s: Shape) -> Res { return s |> readInt("a") |> ok(Res) }';
  const main = [
    'import { Shape, Res, mk } from "./lib.quelt";',
    "fn h(x: Res) -> Int { return 1 }",
    "brindlet m {",
    "  input r: Record",
    "  derive s: Shape = r |> asSchema(Shape)",
    "  derive u: Missing = r |> asSchema(Nope) |> ok(Gone) |> match(h, mk)",
    "  output s",
    "}",
  ].join("\n");
  const texts = rewriteAll({ "lib.quelt": lib, "main.quelt": main }, "main.quelt");
  assertEqual(
    texts["lib.quelt"],
    `schema ${M}0_s0 { a: Int }\nresult ${M}0_r0: Int\nfn ${M}0_f0(s: ${M}0_s0) -> ${M}0_r0 { return s |> readInt("a") |> ok(${M}0_r0) }`,
  );
  assertEqual(
    texts["main.quelt"],
    [
      " ".repeat(45),
      `fn ${M}1_f0(x: ${M}0_r0) -> Int { return 1 }`,
      "brindlet m {",
      "  input r: Record",
      `  derive s: ${M}0_s0 = r |> asSchema(${M}0_s0)`,
      `  derive u: ${M}1_type_unresolved = r |> asSchema(${M}1_schema_unresolved) |> ok(${M}1_result_unresolved) |> match(${M}1_f0, ${M}0_f0)`,
      "  output s",
      "}",
    ].join("\n"),
  );
  // without any schema or Result in the project, annotations stay as written
  const plain = rewriteAll({ "main.quelt": "fn k(x: Shape) -> Int { return 1 }\nbrindlet m { input r: Shape output r }" }, "main.quelt");
  assertEqual(plain["main.quelt"], `fn ${M}0_f0(x: Shape) -> Int { return 1 }\nbrindlet m { input r: Shape output r }`);
});

test("importing a name the target does not declare is refused at the specifier", async () => {
  const files = {
    "lib.quelt": "fn f() -> Int { return 1 }",
    "main.quelt": '\nimport { f, g } from "./lib.quelt";\nbrindlet m { input a: Int output a }',
  };
  await assertRejects(async () => compileProject("main.quelt", { sources: await sourcesOf(files) }), {
    type: ProjectDiagnostic,
    code: "PROJECT_IMPORT",
    message: "Requested binding is not declared by its target library; re-exports are unsupported",
    sourcePath: "main.quelt",
    offset: files["main.quelt"].indexOf('"'),
    line: 2,
    column: 22,
  });
});

test("compile faults are reported in the source file with declared names restored", async () => {
  const lib = "fn g(t: Text) -> Int { return 1 }\nfn f(x: Int) -> Int {\n  return g(x)\n}";
  const main = 'import { f } from "./lib.quelt";\nbrindlet m { input a: Int derive d: Int = f(a) output d }';
  const error = await assertRejects(async () => compileProject("main.quelt", { sources: await sourcesOf({ "lib.quelt": lib, "main.quelt": main }) }), {
    type: CompileDiagnostic,
    code: "TYPE_MISMATCH",
    message: "Argument 1 of g requires Text, received Int (line 3, column 10)",
    sourcePath: "lib.quelt",
    offset: lib.indexOf("g(x)"),
    line: 3,
    column: 10,
  });
  assert(Object.isFrozen(error.linkedLocation));
  assertDeepEqual(Object.keys(error.linkedLocation), ["offset", "line", "column"]);
  // lib.quelt is linked first: line 2 of the linked text is its module line
  assertEqual(error.linkedLocation.line, 5);
  assertEqual(error.linkedLocation.column, 10);
});

test("an unresolved call is reported with the name as written", async () => {
  // main.quelt is module 1 (after a.quelt): its placeholder is __quelt_module_1_unresolved
  const main = 'import { k } from "./a.quelt";\nbrindlet m {\n  input a: Int\n  derive d: Int = k() + helper(a)\n  output d\n}';
  const files = { "a.quelt": "fn k() -> Int { return 1 }", "main.quelt": main };
  await assertRejects(async () => compileProject("main.quelt", { sources: await sourcesOf(files) }), {
    type: CompileDiagnostic,
    code: "UNKNOWN_CALL",
    message: "Unknown function helper (line 4, column 25)",
    sourcePath: "main.quelt",
    offset: main.indexOf("helper"),
  });
  // an unknown annotation in a project with a schema: the type placeholder, reported as written
  const typed = 'schema S { a: Int }\nbrindlet m {\n  input a: Record\n  derive d: Shape[]? = a\n  output d\n}';
  await assertRejects(async () => compileProject("main.quelt", { sources: await sourcesOf({ "main.quelt": typed }) }), {
    type: CompileDiagnostic,
    code: "TYPE",
    message: "Unknown annotation type Shape[]? (line 4, column 13)",
    sourcePath: "main.quelt",
  });
});

test("the compiler's source limit applies to the linked text and is reported there", async () => {
  const entry = "brindlet m { input a: Int output a }\n";
  const padded = entry + "//" + "x".repeat(65536 - entry.length - 2);
  assertEqual(padded.length, 65536);
  const error = await assertRejects(async () => compileProject("main.quelt", { sources: await sourcesOf({ "main.quelt": padded }) }), {
    type: CompileDiagnostic,
    code: "SOURCE_LIMIT",
    offset: 0,
    line: 1,
    column: 1,
  });
  assert(!("sourcePath" in error) && !("linkedLocation" in error));
});

test("bundleSha256 depends on the reachable files' digests, paths and imports only", async () => {
  const lib = "fn f() -> Int { return 1 }";
  const main = 'import { f } from "./lib.quelt";\nbrindlet m { input a: Int derive d: Int = f() output d }';
  const bundleOf = async (files, entry = "main.quelt") =>
    getProjectInfo(await compileProject(entry, { sources: await sourcesOf(files) })).bundleSha256;
  const base = await bundleOf({ "lib.quelt": lib, "main.quelt": main });
  assertEqual(await bundleOf({ "lib.quelt": lib, "main.quelt": main }), base);
  assertEqual(await bundleOf({ "lib.quelt": lib, "main.quelt": main, "spare.quelt": "fn s() -> Int { return 2 }" }), base);
  const changed = [
    { "lib.quelt": lib.replace("1", "2"), "main.quelt": main },
    { "lib2.quelt": lib, "main.quelt": main.replace("./lib.quelt", "./lib2.quelt") },
    { "lib.quelt": lib + "\nfn f2() -> Int { return 2 }", "main.quelt": main.replace("{ f }", "{ f, f2 }") },
  ];
  for (const files of changed) assert((await bundleOf(files)) !== base, JSON.stringify(Object.keys(files)));
});
