// When one expression breaks several rules at once, the checker reports the
// one its check order reaches first: children before the parent, then the
// rule's own conditions in their written order. Each case below breaks two
// rules; the expected fault is the earlier one.
import { test } from "../harness.mjs";
import { assertFault } from "./compile-support.mjs";

const PRELUDE = [
  "result R: Int",
  "schema P { name: Text }",
  "fn one(x: Int) -> Int { return x }",
  "fn pair(s: Int, x: Int) -> Int { return s }",
  "fn single(s: Int) -> Int { return s }",
  "fn toFloat(s: Float, x: Int) -> Int { return x }",
  "fn onText(x: Text) -> Int { return 1 }",
  "fn okInt(x: Int) -> Int { return x }",
  "fn okBad(x: Int) -> Int? { return x }",
  "fn errText(x: Text) -> Int { return 1 }",
  "effect fn fetch(k: Text) -> Int { return db.get(k) }",
].join("\n");

const INPUTS =
  "input i: Int input f: Float input t: Text input b: Truth input r: Record input xs: Int[] " +
  "input oi: Int? input ob: Truth?";

// Locals `res` (a Result) and `p` (a schema value) are derives so that the
// expressions under test can use them.
function moduleWith(expression) {
  return `${PRELUDE}\nbrindlet m { use db ${INPUTS} derive res: R = i |> ok(R) derive p: P = r |> asSchema(P) derive d: Int = ${expression} output i }`;
}

const INTERFACES = { interfaces: { "db.get": { params: ["Text"], result: "Int", effects: [] } } };

// [expression, code, message, anchor text inside the expression (default: its start)]
const CASES = [
  // operators: children first, then noResult, then the operator's own rule
  ["res + zz", "UNKNOWN_REFERENCE", "Unknown reference zz", "zz"],
  ["res and b", "RESULT_TYPE", "Named Result is forbidden in this operation", "and"],
  ["not res", "RESULT_TYPE", "Named Result is forbidden in this operation", "not"],
  ["t + res", "RESULT_TYPE", "Named Result is forbidden in this operation", "+"],
  ["res == res", "RESULT_TYPE", "Named Result is forbidden in this operation", "=="],
  // a record refuses Results over all fields before it looks for schema values
  ["len({a: p, b: res} |> keys())", "RESULT_TYPE", "Named Result is forbidden in this operation", "{"],
  ["len({a: p, b: 1} |> keys())", "TYPE_MISMATCH", "Record fields cannot implicitly erase a named schema", "{"],
  // an array applies every rule to one item before it checks the next
  ["len([unknown, res])", "TYPE_MISMATCH", "Array items must be known primitive values or Records", "["],
  ["len([1, \"a\", res])", "TYPE_MISMATCH", "Array elements must have compatible types", "["],
  ["len([res, unknown])", "RESULT_TYPE", "Named Result is forbidden in this operation", "["],
  // builtins: arguments, then the count, then noResult, then the type rule
  ["sum(zz, res)", "UNKNOWN_REFERENCE", "Unknown reference zz", "zz"],
  ["sum(res, res)", "TYPE_MISMATCH", "sum expects 1 arguments", "sum"],
  ["take(res, 1.5) |> sum()", "RESULT_TYPE", "Named Result is forbidden in this operation", "take"],
  ["choose(res, 1, 2)", "TYPE_MISMATCH", "choose expects 4 arguments", "choose"],
  ["choose(i, res, 1, 2)", "TYPE_MISMATCH", "choose first argument must be Truth", "choose"],
  ["len(choose(b, res, p, p) |> field(\"name\"))", "RESULT_TYPE", "choose requires three identical Result branches", "choose"],
  // module functions: arguments, existence, count, then each argument in order
  ["nosuch(zz)", "UNKNOWN_REFERENCE", "Unknown reference zz", "zz"],
  ["pair(1.5)", "TYPE_MISMATCH", "pair expects 2 arguments", "pair"],
  ["pair(t, 1.5)", "TYPE_MISMATCH", "Argument 1 of pair requires Int, received Text", "pair"],
  ["pair(1, oi)", "TYPE_MISMATCH", "Argument 2 of pair requires Int, received Int?", "pair"],
  // adapter calls: use, declaration, count, argument types
  ["nope.get(1)", "MISSING_USE", "External call nope.get requires use nope", "nope"],
  ["db.put(1)", "UNKNOWN_CALL", "Unknown adapter interface db.put", "db"],
  ["db.get(1, 2)", "TYPE_MISMATCH", "db.get expects 1 arguments", "db"],
  ["db.get(1)", "TYPE_MISMATCH", "Argument 1 of db.get requires Text, received Int", "db"],
  // Result stages
  ["i |> ok(Q) |> match(okInt, errText)", "RESULT_UNKNOWN", "Unknown Result Q", "ok"],
  ["zz |> ok(Q) |> match(okInt, errText)", "UNKNOWN_REFERENCE", "Unknown reference zz", "zz"],
  ["t |> ok(R) |> match(okInt, errText)", "TYPE_MISMATCH", "ok requires Int, received Text", "ok"],
  ["i |> err(R) |> match(okInt, errText)", "TYPE_MISMATCH", "err requires Text, received Int", "err"],
  ["i |> match(nosuch, fetch)", "RESULT_TYPE", "match requires a known Result", "match"],
  ["res |> match(nosuch, fetch)", "UNKNOWN_CALL", "Unknown source callback nosuch", "match"],
  ["res |> match(okInt, fetch)", "FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler", "match"],
  ["res |> match(okBad, nosuch)", "TYPE_MISMATCH", "match callback okBad requires exactly Int and one required old result domain", "match"],
  ["res |> match(errText, okInt)", "TYPE_MISMATCH", "match callback errText requires exactly Int and one required old result domain", "match"],
  ["res |> match(okInt, okInt)", "TYPE_MISMATCH", "match callback okInt requires exactly Text and one required old result domain", "match"],
  // bit operations refuse Results in either operand before the Int rule
  ["f |> bitAnd(res)", "RESULT_TYPE", "Named Result is forbidden in this operation", "bitAnd"],
  ["i |> shiftLeft(oi)", "TYPE_MISMATCH", "Int bit operations require known nonoptional Int operands", "shiftLeft"],
  // schemas and records
  ["len(f |> asSchema(Q) |> field(\"name\"))", "TYPE_MISMATCH", "asSchema requires a known nonoptional Record", "asSchema"],
  ["len(r |> asSchema(Q) |> field(\"name\"))", "SCHEMA_REFERENCE", "Unknown schema Q", "asSchema"],
  ["len(r |> field(\"name\"))", "TYPE_MISMATCH", "field requires a named schema value", "field"],
  ["len(p |> field(\"age\"))", "SCHEMA_FIELD", "Schema P has no declared field \"age\"", "field"],
  ["len(res |> withField(\"k\", p) |> keys())", "TYPE_MISMATCH", "withField cannot implicitly erase a named schema", "withField"],
  ["len(res |> withField(\"k\", 1) |> keys())", "RESULT_TYPE", "Named Result is forbidden in this operation", "withField"],
  ["len(t |> withField(\"k\", res) |> keys())", "TYPE_MISMATCH", "withField requires known nonoptional Record and Text", "withField"],
  ["len(r |> withField(\"k\", res) |> keys())", "RESULT_TYPE", "Named Result is forbidden in this operation", "withField"],
  ["len(t |> withoutField(res) |> keys())", "RESULT_TYPE", "Named Result is forbidden in this operation", "withoutField"],
  // text: noResult over receiver and argument before the exact-type rule
  ["len(i |> split(res))", "RESULT_TYPE", "Named Result is forbidden in this operation", "split"],
  ["len(t |> slice(f, res))", "RESULT_TYPE", "Named Result is forbidden in this operation", "slice"],
  ["i |> quotient(res)", "RESULT_TYPE", "Named Result is forbidden in this operation", "quotient"],
  // optional data: the receiver rule comes before the fallback's own checks
  ["len(ob |> orElse(res))", "TYPE_MISMATCH", "orElse requires known Optional DATA; scalar Truth is excluded", "orElse"],
  ["oi |> orElse(res)", "RESULT_TYPE", "Named Result is forbidden in this operation", "orElse"],
  ["oi |> orElse(zz)", "UNKNOWN_REFERENCE", "Unknown reference zz", "zz"],
  ["oi |> orElse(oi)", "TYPE_MISMATCH", "orElse fallback requires nonoptional Int, received Int?", "orElse"],
  // arrays: receiver rules come before the item or index
  ["i |> append(res) |> sum()", "TYPE_MISMATCH", "append requires a known nonoptional primitive or Record array", "append"],
  ["xs |> append(res) |> sum()", "RESULT_TYPE", "Named Result is forbidden in this operation", "append"],
  ["i |> at(res)", "TYPE_MISMATCH", "at requires a known nonoptional primitive or Record array", "at"],
  ["xs |> concat(res) |> sum()", "RESULT_TYPE", "Named Result is forbidden in this operation", "concat"],
  ["[] |> concat(xs) |> sum()", "TYPE_MISMATCH", "concat requires a known nonoptional primitive or Record array receiver", "concat"],
  // callbacks: receiver, then the function, then the Result guard, the
  // signature, the state rules and last the element rule
  ["i |> filter(nosuch) |> sum()", "TYPE_MISMATCH", "filter requires a known nonoptional primitive or Record array", "nosuch"],
  ["xs |> each(nosuch) |> sum()", "UNKNOWN_CALL", "Unknown source callback nosuch", "nosuch"],
  ["xs |> each(fetch) |> sum()", "FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler", "fetch"],
  ["xs |> fold(single, res)", "TYPE_MISMATCH", "fold requires exactly two callback parameters and an ordinary item domain", "single"],
  ["xs |> fold(pair, res)", "RESULT_TYPE", "Named Result is forbidden in this operation", "pair"],
  ["i |> repeat(single, res)", "TYPE_MISMATCH", "repeat requires exactly two callback parameters and an Int index", "single"],
  ["xs |> fold(toFloat, t)", "TYPE_MISMATCH", "fold callback toFloat result must exactly match state type Float", "toFloat"],
  ["xs |> fold(pair, t)", "TYPE_MISMATCH", "fold callback pair seed requires Int, received Text", "pair"],
  ["[1.5] |> fold(pair, 0)", "TYPE_MISMATCH", "fold callback pair item requires Int, received Float", "pair"],
  ["[\"a\"] |> each(one) |> sum()", "TYPE_MISMATCH", "each callback one requires Int, received Text", "one"],
  ["xs |> sortBy(onText) |> sum()", "TYPE_MISMATCH", "sortBy callback onText requires Text, received Int", "onText"],
];

test("audit: the first rule an expression breaks is the one reported", () => {
  for (const [expression, code, message, anchor] of CASES) {
    const source = moduleWith(expression);
    const start = source.lastIndexOf(expression);
    const at = anchor === undefined ? start : start + expression.indexOf(anchor);
    assertFault(source, { code, message, at }, INTERFACES);
  }
});
