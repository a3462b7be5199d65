import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic } from "quelt/project.mjs";
import { parseFile } from "../../../quelt/project/parse-file.mjs";

// Offset of the n-th occurrence of `text` in `source`.
function offsetOf(source, text, nth = 0) {
  let offset = -1;
  for (let index = 0; index <= nth; index += 1) {
    offset = source.indexOf(text, offset + 1);
    if (offset === -1) throw new Error(`no ${text} in fixture`);
  }
  return offset;
}

const ENTRY_TAIL = " brindlet m { input a: Int output a }";

// [label, path, isEntry, source, kind, code, bare message, at (text located, or [text, nth], or "eof")]
function checkFailures(cases) {
  for (const [label, path, entry, source, kind, code, message, at] of cases) {
    const expectedOffset = at === "eof" ? source.length : Array.isArray(at) ? offsetOf(source, ...at) : offsetOf(source, at);
    const error = assertThrows(() => parseFile(path, source, entry), { type: kind, code, sourcePath: path, offset: expectedOffset }, label);
    const text = kind === CompileDiagnostic ? error.message.replace(/ \(line \d+, column \d+\)$/, "") : error.message;
    assertEqual(text, message, label);
    if (kind === CompileDiagnostic) assert(error.message.endsWith(`(line ${error.line}, column ${error.column})`), label);
  }
}

const P = ProjectDiagnostic;
const C = CompileDiagnostic;
const IMPORT_SYNTAX = "Unsupported source import syntax";

test("the linker prefix is reserved anywhere, before any other check", () => {
  checkFailures([
    ["in the block", "main.quelt", true, "brindlet m { input __quelt_module_0_f0: Int output a }", P, "PROJECT_RESERVED",
      "Identifiers beginning with the internal module prefix are reserved for linking", "__quelt_module_0_f0"],
    ["before a bad import", "main.quelt", true, "import { } from 1; fn __quelt_module_x() -> Int { return 1 }", P, "PROJECT_RESERVED",
      "Identifiers beginning with the internal module prefix are reserved for linking", "__quelt_module_x"],
  ]);
});

test("lexical faults are located in the file", () => {
  checkFailures([
    ["quote", "lib/a.quelt", false, "fn f() -> Int {\n  return 'x' }", C, "UNSUPPORTED_TOKEN", "Unsupported token \"'\"", "'"],
    ["comment", "lib/a.quelt", false, "fn f() -> Int { return 1 } /* open", C, "COMMENT", "Unclosed block comment", "/*"],
  ]);
});

test("import statements: syntax, bindings, specifiers and duplicates", () => {
  const lib = "lib/a.quelt";
  checkFailures([
    ["trailing comma", lib, false, 'import { a, } from "./b.quelt";', P, "PROJECT_IMPORT", IMPORT_SYNTAX, "}"],
    ["empty braces", lib, false, 'import { } from "./b.quelt";', P, "PROJECT_IMPORT", IMPORT_SYNTAX, "}"],
    ["missing semicolon", lib, false, 'import { a } from "./b.quelt"', P, "PROJECT_IMPORT", IMPORT_SYNTAX, "eof"],
    ["non-text path", lib, false, "import { a } from b;", P, "PROJECT_IMPORT", IMPORT_SYNTAX, "b;"],
    ["missing from", lib, false, 'import { a } "./b.quelt";', P, "PROJECT_IMPORT", IMPORT_SYNTAX, '"'],
    ["reserved name", lib, false, 'import { fn } from "./b.quelt";', P, "PROJECT_IMPORT", IMPORT_SYNTAX, "fn"],
    ["builtin name", lib, false, 'import { sum } from "./b.quelt";', P, "PROJECT_DUPLICATE", "Duplicate or builtin import binding", "sum"],
    ["repeated name", lib, false, 'import { a, a } from "./b.quelt";', P, "PROJECT_DUPLICATE", "Duplicate or builtin import binding", ["a", 1]],
    ["escape", lib, false, 'import { a } from "../../b.quelt";', P, "PROJECT_PATH", "Import escapes the virtual root", '"'],
    ["not dotted", lib, false, 'import { a } from "b.quelt";', P, "PROJECT_PATH", "Imports require a relative dot path within the virtual root", '"'],
    ["no extension", lib, false, 'import { a } from "./b";', P, "PROJECT_PATH", "Use a canonical relative ASCII .quelt virtual path", '"'],
    ["alias", lib, false, 'import { a } from "./b.quelt";\nimport { c } from "./x/../b.quelt";', P, "PROJECT_DUPLICATE",
      "Duplicate import path or path alias", ['"', 2]],
    ["late import in library", lib, false, 'fn f() -> Int { return 1 }\nimport { a } from "./b.quelt";', P, "PROJECT_IMPORT",
      "Imported libraries may contain imports and pure function declarations only", "import"],
    ["late import in entry", "main.quelt", true, 'fn f() -> Int { return 1 }\nimport { a } from "./b.quelt";' + ENTRY_TAIL, C, "SYNTAX",
      "Entry requires functions followed by one brindlet module", "import"],
    ["module block in library", lib, false, "brindlet m { input a: Int output a }", P, "PROJECT_IMPORT",
      "Imported libraries may contain imports and pure function declarations only", "brindlet"],
    ["entry without block", "main.quelt", true, "fn f() -> Int { return 1 }", C, "SYNTAX",
      "Entry requires functions followed by one brindlet module", "eof"],
    ["import conflicts with local", lib, false, 'import { f } from "./b.quelt";\nfn f() -> Int { return 1 }', P, "PROJECT_DUPLICATE",
      "An imported binding conflicts with an import or local function", '"'],
    ["two imports of one name", lib, false, 'import { f } from "./b.quelt";\nimport { g, f } from "./c.quelt";', P, "PROJECT_DUPLICATE",
      "An imported binding conflicts with an import or local function", ['"', 2]],
  ]);
});

test("Result declarations", () => {
  const lib = "r.quelt";
  const seventeen = Array.from({ length: 17 }, (_, index) => `result R${index}: Int`).join("\n");
  checkFailures([
    ["optional success", lib, false, "result R: Int?", C, "RESULT_SUCCESS_TYPE", "Result success requires one required old domain", "Int"],
    ["named success", lib, false, "result R: Shape", C, "RESULT_SUCCESS_TYPE", "Result success requires one required old domain", "Shape"],
    ["number success", lib, false, "result R: 1", C, "RESULT_SUCCESS_TYPE", "Result success requires one required old domain", "1"],
    ["extra suffix", lib, false, "result R: Int[] [", C, "SYNTAX", "Unexpected Result descriptor suffix", ["[", 1]],
    ["unclosed list", lib, false, "result R: Int [ x", C, "SYNTAX", "Expected ] in source module", "x"],
    ["reserved word", lib, false, "result Int: Int", C, "IDENTIFIER", "Expected a non-reserved Result identifier", "Int"],
    ["reserved name", lib, false, "result Unknown: Int", C, "DUPLICATE", "Reserved Result name", ":"],
    ["builtin name", lib, false, "result len: Int", P, "PROJECT_DUPLICATE", "Duplicate or builtin local Result", ":"],
    ["repeated name", lib, false, "result R: Int\nresult R: Text", P, "PROJECT_DUPLICATE", "Duplicate or builtin local Result", [":", 1]],
    ["missing colon", lib, false, "result R Int", C, "SYNTAX", "Expected : in source module", "Int"],
    ["seventeenth", lib, false, seventeen, C, "RESULT_LIMIT", "Result limit is 16", "R16"],
  ]);
  const record = parseFile(lib, "result A: Record[];\nresult B: Int", false);
  assertDeepEqual(record.results.map(({ name, successType }) => [name, successType]), [["A", "Record[]"], ["B", "Int"]]);
});

test("schema declarations", () => {
  const lib = "s.quelt";
  const seventeen = Array.from({ length: 17 }, (_, index) => `schema S${index} { a: Int }`).join("\n");
  const fields = (prefix, count) => Array.from({ length: count }, (_, index) => `${prefix}${index}: Int`).join(", ");
  const tooManyFields = `schema A { ${fields("a", 200)} }\nschema B { ${fields("b", 57)} }`;
  checkFailures([
    ["no field", lib, false, "schema S { }", C, "SCHEMA_LIMIT", "A schema requires at least one field", "S"],
    ["trailing comma", lib, false, "schema S { a: Int, }", C, "SYNTAX", "Schema fields do not permit a trailing comma", "}"],
    ["number key", lib, false, "schema S { 1: Int }", C, "SCHEMA_FIELD", "Schema keys require a bounded identifier or literal Text", "1"],
    ["repeated key", lib, false, 'schema S { a: Int, "a": Text }', C, "DUPLICATE", "Duplicate schema field key", [":", 1]],
    ["named field type", lib, false, "schema S { a: Shape }", C, "SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain", "Shape"],
    ["optional field type", lib, false, "schema S { a: Int? }", C, "SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain", "Int"],
    ["reserved word", lib, false, "schema Text { a: Int }", C, "IDENTIFIER", "Expected a non-reserved schema identifier", "Text"],
    ["reserved name", lib, false, "schema EmptyArray { a: Int }", C, "DUPLICATE", "Reserved schema name", "{"],
    ["clashes with a Result", lib, false, "result S: Int\nschema S { a: Int }", P, "PROJECT_DUPLICATE", "Duplicate or builtin local schema", "{"],
    ["seventeenth", lib, false, seventeen, C, "SCHEMA_LIMIT", "Schema limit is 16", "S16"],
    ["257th field in the file", lib, false, tooManyFields, C, "SCHEMA_LIMIT", "Schema field limit is 256", "b56"],
  ]);
  const record = parseFile(lib, 'schema S { "": Int, fn: Text[] };', false);
  assertDeepEqual(record.schemas[0].fields, [{ key: "", type: "Int" }, { key: "fn", type: "Text[]" }]);
});

test("function declarations", () => {
  const lib = "f.quelt";
  checkFailures([
    ["repeated name", lib, false, "fn f() -> Int { return 1 }\nfn f() -> Int { return 2 }", P, "PROJECT_DUPLICATE",
      "Duplicate or builtin local function", ["(", 1]],
    ["builtin name", lib, false, "fn sum() -> Int { return 1 }", P, "PROJECT_DUPLICATE", "Duplicate or builtin local function", "("],
    ["clashes with a schema", lib, false, "schema S { a: Int }\nfn S() -> Int { return 1 }", P, "PROJECT_DUPLICATE",
      "Duplicate or builtin local function", "()"],
    ["reserved name", lib, false, "fn Int() -> Int { return 1 }", C, "SYNTAX", "Expected a non-reserved identifier", "Int"],
    ["no parameter list", lib, false, "fn f -> Int { return 1 }", C, "SYNTAX", "Function requires a parameter list", "->"],
    ["no body", lib, false, "fn f() -> Int", C, "SYNTAX", "Expected { in source module", "eof"],
    ["unclosed body", lib, false, "fn f() -> Int { return { a: 1 }", C, "SYNTAX", "Unclosed function body", "eof"],
  ]);
});

test("a parsed entry records imports, declarations, annotations, references and removals", () => {
  const source = [
    'import { helper, Shape } from "./lib/b.quelt";',
    "import {\r\n  other\r\n} from \"./c.quelt\";",
    "schema Point { x: Int, \"y\": Float }",
    "result Res: Int",
    "effect fn fetch(p: Point) -> Int { return store.get(1) }",
    "fn f(a: Shape, b: Int) -> Point? {",
    "  let p: Point = a;",
    "  let q: Int = { return: 1 } |> readInt(\"return\");",
    "  return p ;",
    "}",
    "brindlet m {",
    "  input a: Shape",
    "  derive d: Int = a |> asSchema(Point) |> ok(Res) |> match(h1, h2)",
    "  output d",
    "}",
  ].join("\n");
  const record = parseFile("main.quelt", source, true);
  assertEqual(record.path, "main.quelt");
  assertEqual(record.source, source);
  assertEqual(record.tokens.at(-1).kind, "eof");
  assertDeepEqual(record.imports, [
    { path: "lib/b.quelt", names: ["helper", "Shape"], offset: offsetOf(source, '"./lib') },
    { path: "c.quelt", names: ["other"], offset: offsetOf(source, '"./c') },
  ]);
  assertDeepEqual([...record.bindings], [["helper", "lib/b.quelt"], ["Shape", "lib/b.quelt"], ["other", "c.quelt"]]);
  assertDeepEqual(record.functions.map(({ name, token }) => [name, token.offset]), [
    ["fetch", offsetOf(source, "fetch")],
    ["f", offsetOf(source, "f(a")],
  ]);
  // the result expression is the returned name only: not the space, the semicolon or the brace
  assertDeepEqual(record.functions[1].expressionRange, { start: offsetOf(source, "p ;"), end: offsetOf(source, "p ;") + 1 });
  assertDeepEqual(record.functions[0].expressionRange, { start: offsetOf(source, "store"), end: offsetOf(source, "(1) }") + 3 });
  assertDeepEqual(record.schemas.map(({ name, fields }) => [name, fields]), [["Point", [{ key: "x", type: "Int" }, { key: "y", type: "Float" }]]]);
  assertDeepEqual(record.results.map(({ name, successType }) => [name, successType]), [["Res", "Int"]]);
  const annotations = [
    offsetOf(source, "Point) ->"), offsetOf(source, "Int { return store"),
    offsetOf(source, "Shape, b"), offsetOf(source, "Int) -> Point?"), offsetOf(source, "Point? {"),
    offsetOf(source, "Point = a"), offsetOf(source, "Int = {"),
    offsetOf(source, "Shape\n"), offsetOf(source, "Int = a |>"),
  ].sort((a, b) => a - b);
  assertDeepEqual([...record.annotationOffsets].sort((a, b) => a - b), annotations);
  assertDeepEqual([...record.schemaReferenceOffsets], [offsetOf(source, "Point) |>")]);
  assertDeepEqual([...record.resultReferenceOffsets], [offsetOf(source, "Res) |>")]);
  assertDeepEqual([...record.matchHandlerOffsets], [offsetOf(source, "h1"), offsetOf(source, "h2")]);
  assertDeepEqual([...record.effectMarkerOffsets], [offsetOf(source, "effect")]);
  // one removal per import token, same length, line breaks kept
  assertEqual(record.removals.length, 9 + 7);
  const secondBrace = record.removals[10];
  assertDeepEqual(secondBrace, { start: offsetOf(source, "{\r\n"), end: offsetOf(source, "{\r\n") + 1, text: " " });
  for (const { start, end, text } of record.removals) {
    assertEqual(text.length, end - start);
    assert(/^ +$/.test(text));
  }
  assertEqual(record.removals.at(-1).start, offsetOf(source, ";", 1));
});

test("a library may hold only imports and declarations; an empty one is fine", () => {
  const record = parseFile("empty.quelt", "// nothing here\n", false);
  assertDeepEqual([record.imports, record.functions, record.schemas, record.results, record.removals], [[], [], [], [], []]);
});
