// Check order inside one declaration or literal: a bound is tested before
// the token it stands on is looked at, and a name is checked for duplicates
// only after the parts the grammar reads before that check.
import { test } from "../harness.mjs";
import { assertFault, repeat } from "./compile-support.mjs";

const OK = "brindlet m { input x: Int output x }";

// [source, code, message, anchor]
const CASES = [
  // bounds come before the trailing-comma and key checks
  [`schema S { ${repeat(256, (i) => `k${i}: Int`, ", ")}, } ${OK}`, "SCHEMA_LIMIT", "Schema field limit is 256", "} brindlet"],
  [`brindlet m { input x: Int derive d: Record = {${repeat(256, (i) => `k${i}: 1`, ", ")},} output x }`, "RECORD_FIELD_LIMIT", "Record literal field limit is 256", "} output"],
  [`brindlet m { input x: Int derive d: Int = choose(${repeat(16, () => "1", ", ")},) output x }`, "ARGUMENT_LIMIT", "Call argument limit is 16", ") output"],
  [`fn f(${repeat(16, (i) => `p${i}: Int`, ", ")},) -> Int { return 1 } ${OK}`, "PARAMETER_LIMIT", "Parameter limit is 16", ") ->"],
  [`fn f() -> Int { ${repeat(16, (i) => `let l${i}: Int = 1;`)} let 5 } ${OK}`, "FUNCTION_LOCAL_LIMIT", "Local declaration limit is 16", "5 }"],
  [`${repeat(16, (i) => `result R${i}: Int`)} result Unknown: Int ${OK}`, "RESULT_LIMIT", "Result limit is 16", "Unknown"],
  [`${repeat(16, (i) => `schema S${i} { a: Int }`)} schema 7 ${OK}`, "SCHEMA_LIMIT", "Schema limit is 16", "7 brindlet"],
  [`${repeat(64, (i) => `fn f${i}() -> Int { return 1 }`)} fn sum() ${OK}`, "FUNCTION_LIMIT", "Function limit is 64", "sum"],
  // an input or derive name is checked after its type has been read, and the
  // count after the duplicate check
  ["brindlet m { input x: Int input x: Shape output x }", "TYPE", "Expected Int, Float, Text, Truth, or Record type", "Shape"],
  [`brindlet m { ${repeat(256, (i) => `input x${i}: Int`)} input x0: Int output x0 }`, "DUPLICATE", "Duplicate input or derive x0", { text: "x0", nth: 2 }],
  [`brindlet m { ${repeat(256, (i) => `input x${i}: Int`)} input y: Int = output x0 }`, "INPUT_LIMIT", "Input limit is 256", "y:"],
  [`brindlet m { input x: Int ${repeat(256, (i) => `derive d${i}: Int = x`)} derive e: Int 5 output x }`, "DERIVE_LIMIT", "Derive limit is 256", "e:"],
  // a duplicate parameter written without its colon reports the colon
  [`fn f(a: Int, a Int) -> Int { return 1 } ${OK}`, "SYNTAX", "Expected :, received Int", "Int) "],
  [`fn f(a: Int, a: Shape) -> Int { return 1 } ${OK}`, "DUPLICATE", "Duplicate parameter a", { text: "a:", nth: 2 }],
  [`fn f(a: Int) -> Int { let a = 1; return 1 } ${OK}`, "DUPLICATE", "Duplicate parameter or local a", "a = 1"],
  [`result R: Int result R Int ${OK}`, "DUPLICATE", "Duplicate or reserved Result R", { text: "R Int" }],
  [`fn R() -> Int { return 1 } result R: Int ${OK}`, "DUPLICATE", "Duplicate or reserved Result R", "R: Int"],
  [`result len: Int ${OK}`, "DUPLICATE", "Duplicate or reserved Result len", "len"],
  [`schema S { a: Int, a Int } ${OK}`, "DUPLICATE", "Duplicate schema field key", { text: "a Int" }],
  [`schema S { "a": Int, a: Text } ${OK}`, "DUPLICATE", "Duplicate schema field key", "a: Text"],
  [`schema S { 1: Int } ${OK}`, "SCHEMA_FIELD", "Schema keys require a bounded identifier or literal Text", "1:"],
  [`schema S { a: Int? } ${OK}`, "SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain", "Int?"],
  [`schema S { a: [Int] } ${OK}`, "SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain", "[Int]"],
  [`schema S { a: Int[ } ${OK}`, "SYNTAX", "Expected ], received }", "} brindlet"],
  // static references and callbacks
  [`result R: Int brindlet m { input x: Int derive d: R = x |> ok(R[0]) output x }`, "IDENTIFIER", "Static metadata requires one bare identifier", "[0]"],
  [`result R: Int fn a(x: Int) -> Int { return x } brindlet m { input x: Int derive d: Int = x |> ok(R) |> match(a a) output x }`, "SYNTAX", "Expected ,, received a", "a) output"],
  ["brindlet m { input x: Int derive d: Int = x |> ok(Int) output x }", "IDENTIFIER", "Expected a non-reserved identifier", "Int) output"],
  ["brindlet m { input x: Int derive d: Int = x |> not() output x }", "IDENTIFIER", "Expected a non-reserved identifier", "not"],
  ["brindlet m { input xs: Int[] derive d: Int[] = xs |> keep(> x) output xs }", "SYNTAX", "Expected numeric literal", "x) output"],
  ["brindlet m { input xs: Int[] derive d: Int[] = xs |> take(- -1) output xs }", "SYNTAX", "Expected numeric literal", "-1"],
  ["brindlet m { input r: Record derive d: Record = r |> checkFields({a: \"Int\"}, 1) output r }", "SYNTAX", "Expected ), received ,", ", 1"],
];

test("audit: check order inside declarations, literals and stage arguments", () => {
  for (const [source, code, message, at] of CASES) assertFault(source, { code, message, at });
});
