import { test, assertEqual } from "../harness.mjs";
import { getExpressionType } from "quelt/compiler.mjs";
import { assertFault, compiles, deriveModule } from "./compile-support.mjs";

// The derive's declared type for an expression whose inferred type is `type`.
function declaredFor(type) {
  if (type === "Unknown") return "Int?";
  if (type === "EmptyArray") return "Int[]";
  return type;
}

function typeOf(expression, type, prelude = "") {
  // named types cannot leave the module, so such derives are not outputs
  const program = compiles(deriveModule(expression, declaredFor(type), prelude, prelude ? "i" : "d"));
  const node = program.derives[0].expression;
  return getExpressionType(program, node);
}

function assertTypes(cases, prelude = "") {
  for (const [expression, type] of cases) assertEqual(typeOf(expression, type, prelude), type, expression);
}

function assertFaults(cases, prelude = "", type = "Int") {
  for (const [expression, code, message, at] of cases) {
    const source = deriveModule(expression, type, prelude);
    const start = source.lastIndexOf(expression);
    const offset = at === undefined ? start : start + expression.indexOf(at);
    assertFault(source, { code, message, at: offset });
  }
}

test("checker: operator types", () => {
  assertTypes([
    ["unknown == unknown", "Truth"],
    ["t + unknown", "Text?"],
    ["unknown + ot", "Text?"],
    ["t + t", "Text"],
    ["ot + t", "Text?"],
    ["i + f", "Float"],
    ["oi + i", "Int?"],
    ["oi * unknown", "Int?"],
    ["i / f", "Float"],
    ["oi / f", "Float?"],
    ["unknown / 2.0", "Float?"],
    ["-oi", "Int?"],
    ["-2.5", "Float"],
    ["yes == no", "Truth"],
    ["oi == f", "Truth"],
    ["t < ot", "Truth"],
    ["unknown != t", "Truth"],
    ["not ob", "Truth"],
    ["not unknown", "Truth"],
    ["b and unknown", "Truth"],
    ["ob or b", "Truth"],
    ["[1, 2.5]", "Float[]"],
    ["[r, {}]", "Record[]"],
    ["[]", "EmptyArray"],
    ["unknown", "Unknown"],
    ["{a: unknown, b: oi, c: xs, d: []}", "Record"],
  ]);
});

test("checker: builtin call types", () => {
  assertTypes([
    ["choose(b, unknown, 1, 2.5)", "Float?"],
    ["choose(b, unknown, unknown, unknown)", "Unknown"],
    ["choose(b, [], [], [])", "EmptyArray"],
    ["choose(ob, [], xs, fs)", "Float[]"],
    ["choose(unknown, 1, 2, 3)", "Int"],
    ["len([])", "Int"],
    ["len(t)", "Int"],
    ["len(xs)", "Int"],
    ["sum([])", "Int"],
    ["sum(fs)", "Float"],
    ["take(xs, 0 - 1)", "Int[]"],
    ["take([], 2)", "EmptyArray"],
    ["keepGt(xs, 2.5)", "Int[]"],
    ["mapMul(xs, 2.0)", "Float[]"],
    ["mapAdd(fs, 1)", "Float[]"],
    ["readInts(r, \"k\")", "Int[]"],
    ["readTruth(r, t)", "Truth"],
    ["hasField(r, \"k\")", "Truth"],
  ]);
});

test("checker: operator faults", () => {
  assertFaults([
    ["unknown + unknown", "TYPE_MISMATCH", "+ requires typed numeric operands", "+"],
    ["t + i", "TYPE_MISMATCH", "+ requires typed numeric operands", "+"],
    ["xs * 2", "TYPE_MISMATCH", "* requires typed numeric operands", "*"],
    ["i / i", "TYPE_MISMATCH", "/ requires at least one Float operand", "/"],
    ["unknown / 2", "TYPE_MISMATCH", "/ requires at least one Float operand", "/"],
    ["yes < no", "TYPE_MISMATCH", "Comparison requires primitive operands; ordering supports numbers or Text", "<"],
    ["[] == []", "TYPE_MISMATCH", "Comparison requires compatible typed operands", "=="],
    ["r == r", "TYPE_MISMATCH", "Comparison requires primitive operands; ordering supports numbers or Text", "=="],
    ["xs != xs", "TYPE_MISMATCH", "Comparison requires primitive operands; ordering supports numbers or Text", "!="],
    ["i < t", "TYPE_MISMATCH", "Comparison requires compatible typed operands", "<"],
    ["i < 2 < 3", "TYPE_MISMATCH", "Comparison requires compatible typed operands", "< 3"],
    ["not i", "TYPE_MISMATCH", "not requires Truth"],
    ["-t", "TYPE_MISMATCH", "Unary - requires an Int or Float value"],
    ["-unknown", "TYPE_MISMATCH", "Unary - requires an Int or Float value"],
    ["i and b", "TYPE_MISMATCH", "and requires Truth operands", "and"],
    ["b or t", "TYPE_MISMATCH", "or requires Truth operands", "or"],
    ["zz + 1", "UNKNOWN_REFERENCE", "Unknown reference zz"],
    // children are checked left to right before the parent's rule
    ["(t + i) + zz", "TYPE_MISMATCH", "+ requires typed numeric operands", "+"],
    ["[unknown]", "TYPE_MISMATCH", "Array items must be known primitive values or Records"],
    ["[[1]]", "TYPE_MISMATCH", "Array items must be known primitive values or Records"],
    ["[oi]", "TYPE_MISMATCH", "Array items must be known primitive values or Records"],
    ["[[]]", "TYPE_MISMATCH", "Array items must be known primitive values or Records"],
    ["[1, \"a\"]", "TYPE_MISMATCH", "Array elements must have compatible types"],
  ]);
});

test("checker: builtin call faults", () => {
  assertFaults([
    ["len(ot)", "TYPE_MISMATCH", "len requires known Text or array"],
    ["len(unknown)", "TYPE_MISMATCH", "len requires known Text or array"],
    ["len(oxs)", "TYPE_MISMATCH", "len requires known Text or array"],
    ["len(1, 2)", "TYPE_MISMATCH", "len expects 1 arguments"],
    ["sum(xs, 1)", "TYPE_MISMATCH", "sum expects 1 arguments"],
    ["sum(oxs)", "TYPE_MISMATCH", "sum requires a known numeric array"],
    ["sum(ts)", "TYPE_MISMATCH", "sum requires a known numeric array"],
    ["take(xs)", "TYPE_MISMATCH", "take expects 2 arguments"],
    ["take(xs, -1)", "VALUE", "take count cannot be negative", "-1"],
    ["take(xs, f)", "TYPE_MISMATCH", "take requires an array and Int count"],
    ["take(oxs, 1)", "TYPE_MISMATCH", "take requires an array and Int count"],
    ["choose(b, 1, 2)", "TYPE_MISMATCH", "choose expects 4 arguments"],
    ["choose(i, 1, 2, 3)", "TYPE_MISMATCH", "choose first argument must be Truth"],
    ["choose(b, 1, \"a\", 2)", "TYPE_MISMATCH", "choose requires three branches of one compatible type"],
    ["choose(b, unknown, [], 1)", "TYPE_MISMATCH", "choose requires three branches of one compatible type"],
    ["keepGt(xs, oi)", "TYPE_MISMATCH", "keepGt requires a known numeric array and numeric operand"],
    ["mapSub(ts, 1)", "TYPE_MISMATCH", "mapSub requires a known numeric array and numeric operand"],
    ["keepEq(xs, unknown)", "TYPE_MISMATCH", "keepEq requires a known numeric array and numeric operand"],
    ["readInt(r, ot)", "TYPE_MISMATCH", "readInt requires a known Record and exact Text key"],
    ["hasField(t, \"k\")", "TYPE_MISMATCH", "hasField requires a known Record and exact Text key"],
    ["readRecords(r)", "TYPE_MISMATCH", "readRecords expects 2 arguments"],
    ["nope(1)", "UNKNOWN_CALL", "Unknown function nope"],
    ["nope(zz)", "UNKNOWN_REFERENCE", "Unknown reference zz", "zz"],
  ]);
});

test("checker: module functions, named types and Results", () => {
  const prelude =
    "result R: Int schema S { a: Int } " +
    "fn h(x: Int) -> Int { return x } fn g(x: Float?) -> Float? { return x } " +
    "fn mk(x: Int) -> R { return x |> ok(R) } fn sc(x: Record) -> S { return x |> asSchema(S) }";
  assertTypes([
    ["g(i)", "Float?"],
    ["mk(1)", "R"],
    ["choose(b, mk(1), mk(2), mk(3))", "R"],
    ["choose(b, sc(r), sc(r), sc(r))", "S"],
    ["sc(r) |> toRecord()", "Record"],
  ], prelude);
  assertFaults([
    ["h(f)", "TYPE_MISMATCH", "Argument 1 of h requires Int, received Float"],
    ["h(oi)", "TYPE_MISMATCH", "Argument 1 of h requires Int, received Int?"],
    ["h(1, 2)", "TYPE_MISMATCH", "h expects 1 arguments"],
    ["g()", "TYPE_MISMATCH", "g expects 1 arguments"],
    ["len([mk(1)])", "RESULT_TYPE", "Named Result is forbidden in this operation", "[mk"],
    ["len({a: mk(1)} |> keys())", "RESULT_TYPE", "Named Result is forbidden in this operation", "{"],
    ["len({a: sc(r)} |> keys())", "TYPE_MISMATCH", "Record fields cannot implicitly erase a named schema", "{"],
    ["-mk(1) |> quotient(1)", "RESULT_TYPE", "Named Result is forbidden in this operation", "-"],
    ["len(mk(1) == mk(1) |> toText())", "RESULT_TYPE", "Named Result is forbidden in this operation", "=="],
    ["len(sc(r))", "TYPE_MISMATCH", "len requires known Text or array"],
    ["choose(b, mk(1), mk(2), 3)", "RESULT_TYPE", "choose requires three identical Result branches"],
    ["len(choose(b, sc(r), sc(r), r) |> toRecord() |> keys())", "TYPE_MISMATCH", "choose requires three identical named schema branches", "choose"],
    ["len(sc(r) == sc(r) |> toText())", "TYPE_MISMATCH", "Comparison requires primitive operands; ordering supports numbers or Text", "=="],
  ], prelude);
});
