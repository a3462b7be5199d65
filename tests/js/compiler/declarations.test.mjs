import { test, assertEqual, assertDeepEqual } from "../harness.mjs";
import { getDeriveSourceRange } from "quelt/compiler.mjs";
import { assertFault, compiles, block, repeat } from "./compile-support.mjs";

const OK = block("input x: Int");

test("declarations: modules that compile", () => {
  const sources = [
    OK,
    "brindlet m { input x: Int output x };",
    `result R: Record[] ${OK}`,
    `result R: Int; schema S { fn: Int, "": Text, "a b": Record[] }; ${OK}`,
    `fn Unknown() -> Int { return 1 } ${OK}`,
    `fn result(a: Int) -> Int { return a }; ${OK}`,
    // an input, a derive and a function may share a name with a builtin or each other
    "fn x(a: Int) -> Int { return a } brindlet m { input sum: Int derive x: Int = sum output x }",
    // semicolons are optional after items and declarations, required after a local
    "fn f(a: Int) -> Int { let b: Int = a; return b; }; brindlet m { input x: Int; derive y: Int = f(x); output y; }",
    // a function written before the first schema reads its annotations in named mode
    `fn f(p: S) -> Int { return 1 } schema S { a: Int } ${OK}`,
    // outputs may come before the derive they name
    "brindlet m { output y input x: Int derive y: Int = x }",
    "brindlet m { use db input x: Int output x }",
    `${repeat(16, (i) => `schema S${i} { a: Int }`)} ${OK}`,
    `${repeat(16, (i) => `result R${i}: Int`)} ${OK}`,
    `${repeat(64, (i) => `fn f${i}() -> Int { return 1 }`)} ${OK}`,
    `fn f(${repeat(16, (i) => `p${i}: Int`, ", ")}) -> Int { return 1 } ${OK}`,
    `fn f() -> Int { ${repeat(16, (i) => `let l${i}: Int = 1;`)} return 1 } ${OK}`,
    `schema S { ${repeat(256, (i) => `k${i}: Int`, ", ")} } ${OK}`,
    `brindlet m { ${repeat(256, (i) => `input x${i}: Int`)} output x0 }`,
    `brindlet m { input x: Int ${repeat(256, (i) => `derive d${i}: Int = x`)} output x }`,
  ];
  for (const source of sources) compiles(source);
});

test("declarations: module block faults", () => {
  const cases = [
    ["brindlet m { input x: Int }", "OUTPUT", "Module requires at least one output", "m {"],
    [`${OK} brindlet n { output x }`, "UNSUPPORTED", "Only functions followed by one brindlet module are supported", "brindlet n"],
    ["brindlet m { input x: Int", "UNSUPPORTED", "Expected use, input, derive, or output; received <eof>", "<eof>"],
    ["brindlet m { let x: Int output x }", "UNSUPPORTED", "Expected use, input, derive, or output; received let", "let x"],
    ["brindlet m { 12.50 }", "UNSUPPORTED", "Expected use, input, derive, or output; received 12.50", "12"],
    ['brindlet m { "in put" }', "UNSUPPORTED", "Expected use, input, derive, or output; received in put", '"'],
    ["input x: Int", "SYNTAX", "Expected brindlet, received input", "input"],
    ["", "SYNTAX", "Expected brindlet, received <eof>", 0],
    ["brindlet { output x }", "IDENTIFIER", "Expected a non-reserved identifier", "{"],
    ["brindlet Int { output x }", "IDENTIFIER", "Expected a non-reserved identifier", "Int"],
    ["brindlet m { input x Int output x }", "SYNTAX", "Expected :, received Int", "Int"],
    ["brindlet m { input x: Int input x: Float output x }", "DUPLICATE", "Duplicate input or derive x", { text: "x", nth: 2 }],
    ["brindlet m { input x: Int derive x: Int = 1 output x }", "DUPLICATE", "Duplicate input or derive x", { text: "x", nth: 2 }],
    // the type is read before the duplicate is reported
    ["brindlet m { input x: Int input x: Shape output x }", "TYPE", "Expected Int, Float, Text, Truth, or Record type", "Shape"],
    ["brindlet m { input x: Int derive y: Int x output x }", "SYNTAX", "Expected =, received x", { text: "x", nth: 2 }],
    ["brindlet m { input x: Int output x output x }", "DUPLICATE", "Duplicate output x", { text: "x", last: true }],
    ["brindlet m { use db use db input x: Int output x }", "DUPLICATE", "Duplicate use db", { text: "db", nth: 2 }],
    ["brindlet m { input x: Int output x } ; ;", "UNSUPPORTED", "Only functions followed by one brindlet module are supported", { text: ";", last: true }],
    [`brindlet m { ${repeat(257, (i) => `input x${i}: Int`)} output x0 }`, "INPUT_LIMIT", "Input limit is 256", "x256"],
    [`brindlet m { input x: Int ${repeat(257, (i) => `derive d${i}: Int = x`)} output x }`, "DERIVE_LIMIT", "Derive limit is 256", "d256"],
  ];
  for (const [source, code, message, at] of cases) assertFault(source, { code, message, at });
});

test("declarations: Result and schema faults", () => {
  const cases = [
    [`result R: Int? ${OK}`, "RESULT_SUCCESS_TYPE", "Result success requires one required old domain", "Int?"],
    [`result R: Shape ${OK}`, "RESULT_SUCCESS_TYPE", "Result success requires one required old domain", "Shape"],
    [`result R: Int[]? ${OK}`, "RESULT_SUCCESS_TYPE", "Result success requires one required old domain", "Int[]"],
    [`result R: "Int" ${OK}`, "RESULT_SUCCESS_TYPE", "Result success requires one required old domain", '"Int"'],
    [`result R: Int[ ${OK}`, "SYNTAX", "Expected ], received brindlet", "brindlet"],
    [`result R Int ${OK}`, "SYNTAX", "Expected :, received Int", "Int"],
    [`result Unknown: Int ${OK}`, "DUPLICATE", "Duplicate or reserved Result Unknown", "Unknown"],
    [`result EmptyArray: Int ${OK}`, "DUPLICATE", "Duplicate or reserved Result EmptyArray", "EmptyArray"],
    [`result len: Int ${OK}`, "DUPLICATE", "Duplicate or reserved Result len", "len"],
    [`schema R { a: Int } result R: Int ${OK}`, "DUPLICATE", "Duplicate or reserved Result R", { text: "R", nth: 2 }],
    [`${repeat(17, (i) => `result R${i}: Int`)} ${OK}`, "RESULT_LIMIT", "Result limit is 16", "R16"],
    [`schema S { } ${OK}`, "SCHEMA_LIMIT", "A schema requires at least one field", "S {"],
    [`schema S { a: Int, } ${OK}`, "SYNTAX", "Schema fields do not permit a trailing comma", "} brindlet"],
    [`schema S { a: Int b: Int } ${OK}`, "SYNTAX", "Expected }, received b", "b:"],
    [`schema S { 1: Int } ${OK}`, "SCHEMA_FIELD", "Schema keys require a bounded identifier or literal Text", "1"],
    [`schema S { a: Int, "a": Text } ${OK}`, "DUPLICATE", "Duplicate schema field key", '"a"'],
    [`schema S { a: Int? } ${OK}`, "SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain", "Int?"],
    [`schema S { a: S } ${OK}`, "SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain", "S }"],
    [`schema S { a: [ } ${OK}`, "SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain", "["],
    [`schema Unknown { a: Int } ${OK}`, "DUPLICATE", "Duplicate or reserved schema Unknown", "Unknown"],
    [`schema take { a: Int } ${OK}`, "DUPLICATE", "Duplicate or reserved schema take", "take"],
    [`fn f() -> Int { return 1 } schema f { a: Int } ${OK}`, "DUPLICATE", "Duplicate or reserved schema f", "f {"],
    [`result S: Int schema S { a: Int } ${OK}`, "DUPLICATE", "Duplicate or reserved schema S", "S {"],
    [`${repeat(17, (i) => `schema S${i} { a: Int }`)} ${OK}`, "SCHEMA_LIMIT", "Schema limit is 16", "S16"],
    [`schema S { ${repeat(257, (i) => `k${i}: Int`, ", ")} } ${OK}`, "SCHEMA_LIMIT", "Schema field limit is 256", "k256"],
    [
      `schema A { ${repeat(200, (i) => `k${i}: Int`, ", ")} } schema B { ${repeat(57, (i) => `j${i}: Int`, ", ")} } ${OK}`,
      "SCHEMA_LIMIT", "Schema field limit is 256", "j56",
    ],
  ];
  for (const [source, code, message, at] of cases) assertFault(source, { code, message, at });
});

test("declarations: function faults", () => {
  const cases = [
    [`fn f(a: Int,) -> Int { return a } ${OK}`, "IDENTIFIER", "Expected a non-reserved identifier", ")"],
    [`fn f(a: Int, a Int) -> Int { return a } ${OK}`, "SYNTAX", "Expected :, received Int", { text: "Int", nth: 2 }],
    [`fn f(a: Int, a: Int) -> Int { return a } ${OK}`, "DUPLICATE", "Duplicate parameter a", "a: Int)"],
    [`fn f(a: Int) -> Int { let a: Int = 1; return a } ${OK}`, "DUPLICATE", "Duplicate parameter or local a", "a: Int ="],
    [`fn f() -> Int { let a: Int = 1; let a: Int = 2; return a } ${OK}`, "DUPLICATE", "Duplicate parameter or local a", { text: "a:", nth: 2 }],
    [`fn f() -> Int { let a: Int = 1 return a } ${OK}`, "SYNTAX", "Expected ;, received return", "return"],
    [`fn f() -> Int { 1 } ${OK}`, "SYNTAX", "Expected return, received 1", "1"],
    [`fn f() -> Int { return 1 ${OK}`, "SYNTAX", "Expected }, received brindlet", "brindlet"],
    [`fn f() Int { return 1 } ${OK}`, "SYNTAX", "Expected ->, received Int", "Int"],
    [`fn f -> Int { return 1 } ${OK}`, "SYNTAX", "Expected (, received ->", "->"],
    [`fn sum() -> Int { return 1 } ${OK}`, "DUPLICATE", "Duplicate or reserved function sum", "sum"],
    [`fn f() -> Int { return 1 } fn f() -> Int { return 2 } ${OK}`, "DUPLICATE", "Duplicate or reserved function f", { text: "f(", nth: 2 }],
    [`result f: Int fn f() -> Int { return 2 } ${OK}`, "DUPLICATE", "Duplicate or reserved function f", "f()"],
    [`fn not() -> Int { return 1 } ${OK}`, "IDENTIFIER", "Expected a non-reserved identifier", "not"],
    [`effect f() -> Int { return 1 } ${OK}`, "SYNTAX", "Expected brindlet, received effect", "effect"],
    [`fn f(${repeat(17, (i) => `p${i}: Int`, ", ")}) -> Int { return 1 } ${OK}`, "PARAMETER_LIMIT", "Parameter limit is 16", "p16"],
    [`fn f() -> Int { ${repeat(17, (i) => `let l${i}: Int = 1;`)} return 1 } ${OK}`, "FUNCTION_LOCAL_LIMIT", "Local declaration limit is 16", "l16"],
    [`${repeat(65, (i) => `fn f${i}() -> Int { return 1 }`)} ${OK}`, "FUNCTION_LIMIT", "Function limit is 64", "f64"],
    [`fn f(a: Int?[]) -> Int { return 1 } ${OK}`, "SYNTAX", "Expected ), received [", "["],
    [`fn f(a: Int[) -> Int { return 1 } ${OK}`, "SYNTAX", "Expected ], received )", ")"],
  ];
  for (const [source, code, message, at] of cases) assertFault(source, { code, message, at });
});

test("declarations: annotations in plain and named mode", () => {
  const plain = `fn f(a: Shape) -> Int { return 1 } ${OK}`;
  assertFault(plain, { code: "TYPE", message: "Expected Int, Float, Text, Truth, or Record type", at: "Shape" });
  assertFault(`fn f(a: "Int") -> Int { return 1 } ${OK}`, { code: "TYPE", message: "Expected Int, Float, Text, Truth, or Record type", at: '"Int"' });
  // the same annotation once a schema is declared: reported after parsing
  const named = `schema S { a: Int } fn f(a: Shape[]?) -> Int { return 1 } ${OK}`;
  assertFault(named, { code: "TYPE", message: "Unknown annotation type Shape[]?", at: "Shape" });
  // a parse fault later in the module wins over the named annotation check
  assertFault(`schema S { a: Int } fn f(a: Shape) -> Int { return 1 } brindlet m { input x: Int }`, {
    code: "OUTPUT", message: "Module requires at least one output", at: "m {",
  });
  assertFault(`result R: Int fn f(a: R[]) -> Int { return 1 } ${OK}`, {
    code: "RESULT_TYPE", message: "Named Results require a nonoptional scalar type", at: "R[]",
  });
  assertFault(`schema S { a: Int } fn f(a: S?) -> Int { return 1 } ${OK}`, {
    code: "SCHEMA_TYPE", message: "Named schemas require a nonoptional scalar type", at: "S?",
  });
  // whitespace and comments may stand inside an annotation
  const program = compiles("brindlet m { input x: Int [ /* c */ ] ? output x }");
  assertEqual(program.inputs[0].type, "Int[]?");
});

test("declarations: derive source range covers the expression only", () => {
  const source = "brindlet m { input a: Int input b: Int derive d: Int = a + b; output d }";
  const program = compiles(source);
  const range = getDeriveSourceRange(program, "d");
  assertDeepEqual({ ...range }, { start: source.indexOf("a + b"), end: source.indexOf("a + b") + 5 });
  const nested = "brindlet m { input a: Int derive d: Int = ( a\n // note\n + 1 ) output d }";
  const r = getDeriveSourceRange(compiles(nested), "d");
  assertEqual(nested.slice(r.start, r.end), "( a\n // note\n + 1 )");
});
