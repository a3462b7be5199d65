// Pipeline stages: how each is read, the node it builds, its type rule, its
// failures and their anchors, and the feature level it gives a module.
import { test, assert, assertEqual, assertDeepEqual } from "../harness.mjs";
import { compileModule, getExpressionType, CompileDiagnostic } from "quelt/compiler.mjs";

// ---- fixture ---------------------------------------------------------------

// Every test puts its expression into the derive `out` of this block.
const INPUTS = [
  "n: Int", "f: Float", "s: Text", "b: Truth", "r: Record",
  "xs: Int[]", "fs: Float[]", "ss: Text[]", "rs: Record[]",
  "on: Int?", "of: Float?", "ob: Truth?", "os: Text?", "oxs: Int[]?", "obs: Truth[]?",
];

// Callback candidates that use no stage, so a module's feature level comes
// from the derive alone.
const PLAIN = `
fn inc(x: Int) -> Int { return x + 1 }
fn small(x: Int) -> Truth { return x < 3 }
fn weight(x: Float) -> Float { return x }
fn add(acc: Int, x: Int) -> Int { return acc + x }
fn addf(acc: Float, x: Int) -> Float { return acc + x }
fn bad(acc: Float, x: Int) -> Int { return 1 }
fn step(state: Int, i: Int) -> Int { return state + i }
fn skew(state: Int, i: Float) -> Int { return state }
`;

const NAMED = `${PLAIN}
schema Person { name: Text, tags: Text[] }
result Outcome: Int
fn okInt(x: Int) -> Text { return "ok" }
fn errText(e: Text) -> Text { return e }
fn okFloat(x: Float) -> Text { return "ok" }
fn errOpt(e: Text) -> Int? { return unknown }
fn okN(x: Int) -> Int { return x }
fn errF(e: Text) -> Float { return 0.5 }
fn toOutcome(x: Int) -> Outcome { return x |> ok(Outcome) }
fn pairOutcome(a: Int, b: Int) -> Outcome { return a |> ok(Outcome) }
fn stepOutcome(o: Outcome, i: Int) -> Outcome { return o }
fn badIndex(o: Outcome, i: Float) -> Outcome { return o }
`;

function moduleSource(decls, expr, type = "Int", items = "") {
  const inputs = INPUTS.map((input) => `  input ${input}\n`).join("");
  return `${decls}\nbrindlet t {\n${items}${inputs}  derive out: ${type} = ${expr}\n  output n\n}\n`;
}

function compileExpression(decls, expr, type, options) {
  const program = compileModule(moduleSource(decls, expr, type), options);
  return { program, expression: program.derives.find((d) => d.name === "out").expression };
}

// Offset of `at` (a text, or [text, occurrence from 1]) inside the derive's
// expression as it stands in `source`.
function anchorOffset(source, expr, at) {
  const [text, occurrence] = Array.isArray(at) ? at : [at, 1];
  let index = -1;
  for (let i = 0; i < occurrence; i += 1) index = expr.indexOf(text, index + 1);
  assert(index >= 0, `anchor ${text} not in ${expr}`);
  return source.indexOf("= ", source.indexOf("derive out: ")) + 2 + index;
}

function lineColumn(source, offset) {
  const before = source.slice(0, offset);
  const lastFeed = before.lastIndexOf("\n");
  return { line: before.split("\n").length, column: offset - lastFeed };
}

// Compiles and expects one diagnostic {code, message} anchored at `at`.
function expectFailure(decls, expr, { code, message, at }, options, items = "") {
  const source = moduleSource(decls, expr, "Int", items);
  let error;
  try {
    compileModule(source, options);
  } catch (caught) {
    error = caught;
  }
  const label = `${expr}`;
  assert(error instanceof CompileDiagnostic, `${label}: expected a CompileDiagnostic, got ${error && error.message}`);
  const offset = anchorOffset(source, expr, at);
  const { line, column } = lineColumn(source, offset);
  assertEqual(error.code, code, `${label} code`);
  assertEqual(error.message, `${message} (line ${line}, column ${column})`, `${label} message`);
  assertEqual(error.offset, offset, `${label} offset`);
}

function expectType(decls, expr, expected) {
  const declared = expected === "EmptyArray" ? "Int[]" : expected === "Unknown" ? "Truth" : expected;
  const { program, expression } = compileExpression(decls, expr, declared);
  assertEqual(getExpressionType(program, expression), expected, expr);
}

// ---- reading ---------------------------------------------------------------

test("stage reading failures carry their code, message and token", () => {
  const cases = [
    ["(n |> nosuch)", "SYNTAX", "Expected (, received )", ")"],
    ["n |> nosuch()", "PIPELINE", "Unsupported pipeline stage nosuch", "nosuch"],
    ["xs |> len()", "PIPELINE", "Unsupported pipeline stage len", "len"],
    ["xs |> keepGt(1)", "PIPELINE", "Unsupported pipeline stage keepGt", "keepGt"],
    ["n |> input()", "IDENTIFIER", "Expected a non-reserved identifier", "input"],
    ["xs |> keep(3)", "PIPELINE", "keep requires a comparison and numeric literal", "3"],
    ["xs |> keep(=> 3)", "PIPELINE", "keep requires a comparison and numeric literal", "="],
    ["xs |> map(/ 2)", "PIPELINE", "map supports +, -, or * numeric literal", "/"],
    ["xs |> map(+ n)", "SYNTAX", "Expected numeric literal", "n)"],
    ["xs |> take(- - 2)", "SYNTAX", "Expected numeric literal", ["-", 2]],
    ["xs |> take(3.5 + 1)", "SYNTAX", "Expected ), received +", "+"],
    ["p |> field(name)", "SCHEMA_FIELD", "field requires one bounded literal Text key", "name"],
    ["p |> field(\"a\" + \"b\")", "SYNTAX", "Expected ), received +", "+"],
    ["r |> checkFields(nosuch)", "FIELD_SCHEMA", "checkFields requires a static Record literal descriptor", "nosuch"],
    ["r |> checkFields([\"Int\"])", "FIELD_SCHEMA", "checkFields requires a static Record literal descriptor", "["],
    ["r |> checkFields({id: \"Int?\"})", "FIELD_SCHEMA", "checkFields field types require exact required reader-domain Text literals", "\"Int?\""],
    ["r |> checkFields({id: \"Int\", p: s})", "FIELD_SCHEMA", "checkFields field types require exact required reader-domain Text literals", "s}"],
    ["r |> checkFields({id: \"Person\"})", "FIELD_SCHEMA", "checkFields field types require exact required reader-domain Text literals", "\"Person\""],
    ["r |> checkFields({a: \"Int\", a: \"Text\"})", "DUPLICATE", "Duplicate Record literal key", ["a", 2]],
    ["x |> ok(R.y)", "IDENTIFIER", "Static metadata requires one bare identifier", "."],
    ["x |> match(a, b(1))", "IDENTIFIER", "Static metadata requires one bare identifier", "(1"],
    ["x |> match(a b)", "SYNTAX", "Expected ,, received b", "b)"],
    ["r |> asSchema(Record)", "IDENTIFIER", "Expected a non-reserved identifier", "Record)"],
    ["xs |> sortBy(fn)", "IDENTIFIER", "Expected a non-reserved identifier", "fn)"],
    ["n |> bitNot(1)", "SYNTAX", "Expected ), received 1", "1"],
    ["r |> withField(\"k\")", "SYNTAX", "Expected ,, received )", ")"],
  ];
  for (const [expr, code, message, at] of cases) expectFailure(PLAIN, expr, { code, message, at });
});

test("checkFields descriptor nodes count toward the node limit although they are dropped", () => {
  // 1990 items + the array = 1991 nodes; then r, 7 field literals, the record
  // and the stage: the stage is node 2001.
  const items = new Array(1990).fill("1").join(",");
  const fields = ["a", "b", "c", "d", "e", "g", "h"].map((key) => `${key}: "Int"`).join(", ");
  const expr = `r |> checkFields({${fields}})`;
  const source = moduleSource("", expr, "Record", `  derive big: Int[] = [${items}]\n`);
  let error;
  try {
    compileModule(source);
  } catch (caught) {
    error = caught;
  }
  assertEqual(error?.code, "NODE_LIMIT");
  assertEqual(error.offset, anchorOffset(source, expr, "checkFields"));
});

// ---- node shapes -------------------------------------------------------------

const ref = (name) => ({ kind: "ref", name });
const int = (value) => ({ kind: "literal", value, type: "Int" });
const text = (value) => ({ kind: "literal", value, type: "Text" });

test("stages build their nodes with the fields in order", () => {
  const person = { kind: "asSchema", record: ref("r"), schema: "Person" };
  const cases = [
    ["xs |> fold(add, 0)", "Int", { kind: "fold", array: ref("xs"), name: "add", initial: int(0) }],
    ["5 |> repeat(step, 1)", "Int", { kind: "repeat", count: int(5), name: "step", initial: int(1) }],
    ["xs |> sortBy(inc)", "Int[]", { kind: "sortBy", array: ref("xs"), name: "inc" }],
    ["n |> bitNot()", "Int", { kind: "intBits", op: "not", value: ref("n") }],
    ["n |> shiftRight(2)", "Int", { kind: "intBits", op: "shr", value: ref("n"), argument: int(2) }],
    ["n |> bitXor(n)", "Int", { kind: "intBits", op: "xor", value: ref("n"), argument: ref("n") }],
    ["r |> asSchema(Person) |> field(\"tags\")", "Text[]", { kind: "schemaField", value: person, field: "tags", schema: "Person" }],
    ["r |> asSchema(Person) |> toRecord()", "Record", { kind: "toRecord", value: person, schema: "Person" }],
    ["r |> checkFields(({id: \"Int\", \"x y\": \"Record[]\"}))", "Record", {
      kind: "checkFields", record: ref("r"), fields: [{ key: "id", type: "Int" }, { key: "x y", type: "Record[]" }],
    }],
    ["r |> toJson()", "Text", { kind: "toJson", record: ref("r") }],
    ["r |> withField(\"k\", 1)", "Record", { kind: "withField", record: ref("r"), key: text("k"), value: int(1) }],
    ["r |> withoutField(\"k\")", "Record", { kind: "withoutField", record: ref("r"), key: text("k") }],
    ["ss |> join(\",\")", "Text", { kind: "textOp", op: "join", value: ref("ss"), argument: text(",") }],
    ["s |> slice(0, 2)", "Text", { kind: "slice", value: ref("s"), start: int(0), count: int(2) }],
    ["n |> remainder(3)", "Int", { kind: "remainder", left: ref("n"), right: int(3) }],
    ["on |> orElse(0)", "Int", { kind: "orElse", value: ref("on"), fallback: int(0) }],
    ["xs |> append(1)", "Int[]", { kind: "append", array: ref("xs"), item: int(1) }],
    ["xs |> at(0)", "Int", { kind: "at", array: ref("xs"), index: int(0) }],
    ["xs |> concat([])", "Int[]", { kind: "concat", left: ref("xs"), right: { kind: "array", items: [] } }],
    ["n |> ok(Outcome) |> match(okInt, errText)", "Text", {
      kind: "resultMatch", value: { kind: "resultValue", name: "Outcome", tag: "ok", value: ref("n") }, ok: "okInt", err: "errText",
    }],
    ["xs |> keep(>= -2)", "Int[]", { kind: "call", name: "keepGe", args: [ref("xs"), int(-2)] }],
    ["xs |> keep(\"!=\" +2)", "Int[]", { kind: "call", name: "keepNe", args: [ref("xs"), int(2)] }],
    ["xs |> map(* 1.5)", "Float[]", { kind: "call", name: "mapMul", args: [ref("xs"), { kind: "literal", value: 1.5, type: "Float" }] }],
    ["xs |> sum()", "Int", { kind: "call", name: "sum", args: [ref("xs")] }],
    ["xs |> take(-0)", "Int[]", { kind: "call", name: "take", args: [ref("xs"), int(-0)] }],
  ];
  for (const [expr, type, expected] of cases) {
    const { expression } = compileExpression(NAMED, expr, type);
    assertDeepEqual(expression, expected, expr);
  }
});

test("stage nodes inside a Program are typed, including named and internal types", () => {
  const named = compileExpression(NAMED, "r |> asSchema(Person) |> field(\"name\")", "Text");
  assertEqual(getExpressionType(named.program, named.expression), "Text");
  assertEqual(getExpressionType(named.program, named.expression.value), "Person");
  const result = compileExpression(NAMED, "n |> ok(Outcome) |> match(okInt, errText)", "Text");
  assertEqual(getExpressionType(result.program, result.expression.value), "Outcome");
  const taken = compileExpression(PLAIN, "[] |> take(1)", "Int[]");
  assertEqual(getExpressionType(taken.program, taken.expression), "EmptyArray");
  assertEqual(getExpressionType(taken.program, taken.expression.args[0]), "EmptyArray");
  const kept = compileExpression(PLAIN, "xs |> keep(< -2.5)", "Int[]");
  assertEqual(getExpressionType(kept.program, kept.expression.args[1]), "Float");
  const widened = compileExpression(PLAIN, "r |> withField(\"k\", unknown)", "Record");
  assertEqual(getExpressionType(widened.program, widened.expression.value), "Unknown");
});

// ---- type rules: accepted ------------------------------------------------------

test("stage types", () => {
  const cases = [
    ["xs |> keep(> 2.5)", "Int[]"],
    ["fs |> keep(== 1)", "Float[]"],
    ["xs |> map(* 2.0)", "Float[]"],
    ["xs |> map(- 1)", "Int[]"],
    ["xs |> sum()", "Int"],
    ["fs |> sum()", "Float"],
    ["[] |> sum()", "Int"],
    ["xs |> take(-0)", "Int[]"],
    ["[] |> take(2)", "EmptyArray"],
    ["n |> bitNot()", "Int"],
    ["n |> shiftLeft(3) |> bitAnd(n)", "Int"],
    ["r |> checkFields({id: \"Int\", tags: \"Text[]\"})", "Record"],
    ["r |> toJson()", "Text"],
    ["r |> keys()", "Text[]"],
    ["r |> withField(\"k\", unknown)", "Record"],
    ["r |> withField(\"k\", oxs)", "Record"],
    ["r |> withoutField(s)", "Record"],
    ["s |> contains(\"a\")", "Truth"],
    ["s |> endsWith(s)", "Truth"],
    ["s |> split(\",\")", "Text[]"],
    ["ss |> join(\",\")", "Text"],
    ["s |> slice(0, n)", "Text"],
    ["s |> parseInt()", "Int"],
    ["s |> parseFloat()", "Float"],
    ["b |> toText()", "Text"],
    ["f |> toText()", "Text"],
    ["n |> quotient(2)", "Int"],
    ["n |> remainder(n)", "Int"],
    ["oxs |> present()", "Truth"],
    ["obs |> present()", "Truth"],
    ["on |> require()", "Int"],
    ["obs |> require()", "Truth[]"],
    ["on |> orElse(0)", "Int"],
    ["of |> orElse(1)", "Float"],
    ["oxs |> orElse([])", "Int[]"],
    ["xs |> concat([])", "Int[]"],
    ["fs |> concat(xs)", "Float[]"],
    ["fs |> append(1)", "Float[]"],
    ["xs |> at(0)", "Int"],
    ["rs |> at(n)", "Record"],
    ["xs |> sortBy(inc)", "Int[]"],
    ["xs |> sortBy(weight)", "Int[]"],
    ["xs |> filter(small)", "Int[]"],
    ["xs |> each(small)", "Truth[]"],
    ["[] |> each(inc)", "Int[]"],
    ["[] |> fold(add, 0)", "Int"],
    ["xs |> fold(addf, 0)", "Float"],
    ["5 |> repeat(step, 0)", "Int"],
    ["5 |> repeat(addf, 0)", "Float"],
    ["xs |> filter(small) |> sortBy(inc) |> take(3)", "Int[]"],
  ];
  for (const [expr, type] of cases) expectType(PLAIN, expr, type);
});

test("named stage types", () => {
  const cases = [
    ["r |> asSchema(Person)", "Person"],
    ["r |> asSchema(Person) |> field(\"tags\")", "Text[]"],
    ["r |> asSchema(Person) |> toRecord()", "Record"],
    ["n |> ok(Outcome)", "Outcome"],
    ["s |> err(Outcome)", "Outcome"],
    ["n |> ok(Outcome) |> match(okInt, errText)", "Text"],
  ];
  for (const [expr, type] of cases) expectType(NAMED, expr, type);
});

// ---- type rules: refused -------------------------------------------------------

const MISMATCH = "TYPE_MISMATCH";
const FORBIDDEN = ["RESULT_TYPE", "Named Result is forbidden in this operation"];

test("Result stage failures", () => {
  const cases = [
    ["nosuch |> ok(Nope)", "UNKNOWN_REFERENCE", "Unknown reference nosuch", "nosuch"],
    ["n |> ok(Nope)", "RESULT_UNKNOWN", "Unknown Result Nope", "ok"],
    ["n |> ok(Person)", "RESULT_UNKNOWN", "Unknown Result Person", "ok"],
    ["s |> ok(Outcome)", MISMATCH, "ok requires Int, received Text", "ok"],
    ["n |> err(Outcome)", MISMATCH, "err requires Text, received Int", "err"],
    ["os |> err(Outcome)", MISMATCH, "err requires Text, received Text?", "err"],
    ["n |> match(okInt, errText)", "RESULT_TYPE", "match requires a known Result", "match"],
    ["n |> ok(Outcome) |> match(nosuch, errText)", "UNKNOWN_CALL", "Unknown source callback nosuch", "match"],
    ["n |> ok(Outcome) |> match(okInt, len)", "UNKNOWN_CALL", "Unknown source callback len", "match"],
    ["n |> ok(Outcome) |> match(okFloat, nosuch)", MISMATCH, "match callback okFloat requires exactly Int and one required old result domain", "match"],
    ["n |> ok(Outcome) |> match(okInt, errOpt)", MISMATCH, "match callback errOpt requires exactly Text and one required old result domain", "match"],
    ["n |> ok(Outcome) |> match(okInt, okInt)", MISMATCH, "match callback okInt requires exactly Text and one required old result domain", "match"],
    ["n |> ok(Outcome) |> match(toOutcome, errText)", MISMATCH, "match callback toOutcome requires exactly Int and one required old result domain", "match"],
    ["n |> ok(Outcome) |> match(okN, errF)", MISMATCH, "match handlers require the same exact return domain", "match"],
  ];
  for (const [expr, code, message, at] of cases) expectFailure(NAMED, expr, { code, message, at });
});

test("bit, schema and record stage failures", () => {
  const cases = [
    ["n |> shiftLeft(1.5)", MISMATCH, "Int bit operations require known nonoptional Int operands", "shiftLeft"],
    ["on |> bitNot()", MISMATCH, "Int bit operations require known nonoptional Int operands", "bitNot"],
    ["n |> ok(Outcome) |> bitAnd(1)", ...FORBIDDEN, "bitAnd"],
    ["n |> bitOr(nosuch)", "UNKNOWN_REFERENCE", "Unknown reference nosuch", "nosuch"],
    ["n |> asSchema(Person)", MISMATCH, "asSchema requires a known nonoptional Record", "asSchema"],
    ["r |> asSchema(Nobody)", "SCHEMA_REFERENCE", "Unknown schema Nobody", "asSchema"],
    ["r |> asSchema(Outcome)", "SCHEMA_REFERENCE", "Unknown schema Outcome", "asSchema"],
    ["r |> field(\"name\")", MISMATCH, "field requires a named schema value", "field"],
    ["r |> asSchema(Person) |> field(\"age\")", "SCHEMA_FIELD", "Schema Person has no declared field \"age\"", "field"],
    ["r |> asSchema(Person) |> field(\"a\\\"b\\n\")", "SCHEMA_FIELD", "Schema Person has no declared field \"a\\\"b\\n\"", "field"],
    ["r |> asSchema(Person) |> field(\"\\udc00\u00e9\")", "SCHEMA_FIELD", "Schema Person has no declared field \"\\udc00\u00e9\"", "field"],
    ["r |> toRecord()", MISMATCH, "toRecord requires a named schema value", "toRecord"],
    ["n |> ok(Outcome) |> toRecord()", ...FORBIDDEN, "toRecord"],
    ["s |> toJson()", MISMATCH, "toJson requires a known nonoptional Record", "toJson"],
    ["r |> asSchema(Person) |> toJson()", MISMATCH, "toJson requires a known nonoptional Record", "toJson"],
    ["s |> checkFields({a: \"Int\"})", MISMATCH, "checkFields requires a known nonoptional Record", "checkFields"],
    ["r |> withField(\"p\", r |> asSchema(Person))", MISMATCH, "withField cannot implicitly erase a named schema", "withField"],
    ["s |> withField(1, r |> asSchema(Person))", MISMATCH, "withField cannot implicitly erase a named schema", "withField"],
    ["r |> withField(1, 2)", MISMATCH, "withField requires known nonoptional Record and Text", "withField"],
    ["r |> withField(os, 2)", MISMATCH, "withField requires known nonoptional Record and Text", "withField"],
    ["r |> withField(\"k\", n |> ok(Outcome))", ...FORBIDDEN, "withField"],
    ["r |> withoutField(os)", MISMATCH, "withoutField requires known nonoptional Record and Text", "withoutField"],
    ["rs |> keys()", MISMATCH, "keys requires known nonoptional Record", "keys"],
  ];
  for (const [expr, code, message, at] of cases) expectFailure(NAMED, expr, { code, message, at });
});

test("text, division and optional-data stage failures", () => {
  const cases = [
    ["os |> contains(\"a\")", MISMATCH, "contains requires known nonoptional Text and Text", "contains"],
    ["s |> startsWith(1)", MISMATCH, "startsWith requires known nonoptional Text and Text", "startsWith"],
    ["ss |> split(\",\")", MISMATCH, "split requires known nonoptional Text and Text", "split"],
    ["s |> join(\",\")", MISMATCH, "join requires known nonoptional Text[] and Text", "join"],
    ["s |> slice(0, 1.0)", MISMATCH, "slice requires known nonoptional Text, Int start and Int count", "slice"],
    ["s |> slice(on, 1)", MISMATCH, "slice requires known nonoptional Text, Int start and Int count", "slice"],
    ["os |> parseInt()", MISMATCH, "parseInt requires known nonoptional Text", "parseInt"],
    ["n |> parseFloat()", MISMATCH, "parseFloat requires known nonoptional Text", "parseFloat"],
    ["s |> toText()", MISMATCH, "toText requires known nonoptional Int, Float or Truth", "toText"],
    ["ob |> toText()", MISMATCH, "toText requires known nonoptional Int, Float or Truth", "toText"],
    ["f |> quotient(2)", MISMATCH, "quotient requires two known nonoptional Int operands", "quotient"],
    ["n |> remainder(on)", MISMATCH, "remainder requires two known nonoptional Int operands", "remainder"],
    ["ob |> present()", MISMATCH, "present requires known Optional DATA; scalar Truth is excluded", "present"],
    ["n |> require()", MISMATCH, "require requires known Optional DATA; scalar Truth is excluded", "require"],
    ["unknown |> present()", MISMATCH, "present requires known Optional DATA; scalar Truth is excluded", "present"],
    ["ob |> orElse(nosuch)", "UNKNOWN_REFERENCE", "Unknown reference nosuch", "nosuch"],
    ["ob |> orElse(yes)", MISMATCH, "orElse requires known Optional DATA; scalar Truth is excluded", "orElse"],
    ["on |> orElse(unknown)", MISMATCH, "orElse fallback requires nonoptional Int, received Unknown", "orElse"],
    ["on |> orElse(1.5)", MISMATCH, "orElse fallback requires nonoptional Int, received Float", "orElse"],
    ["on |> orElse(on)", MISMATCH, "orElse fallback requires nonoptional Int, received Int?", "orElse"],
    ["on |> orElse(n |> ok(Outcome))", ...FORBIDDEN, "orElse"],
  ];
  for (const [expr, code, message, at] of cases) expectFailure(NAMED, expr, { code, message, at });
});

test("array stage failures, builtin stages anchored at the pipe", () => {
  const cases = [
    ["[] |> concat(xs)", MISMATCH, "concat requires a known nonoptional primitive or Record array receiver", "concat"],
    ["oxs |> concat(xs)", MISMATCH, "concat requires a known nonoptional primitive or Record array receiver", "concat"],
    ["xs |> concat(fs)", MISMATCH, "concat RHS requires a nonoptional array assignable to Int[], received Float[]", "concat"],
    ["xs |> concat(oxs)", MISMATCH, "concat RHS requires a nonoptional array assignable to Int[], received Int[]?", "concat"],
    ["xs |> concat(n)", MISMATCH, "concat RHS requires a nonoptional array assignable to Int[], received Int", "concat"],
    ["oxs |> append(1)", MISMATCH, "append requires a known nonoptional primitive or Record array", "append"],
    ["[] |> append(1)", MISMATCH, "append requires a known nonoptional primitive or Record array", "append"],
    ["xs |> append(1.5)", MISMATCH, "append item requires Int, received Float", "append"],
    ["xs |> append(n |> ok(Outcome))", ...FORBIDDEN, "append"],
    ["[] |> at(0)", MISMATCH, "at requires a known nonoptional primitive or Record array", "at"],
    ["xs |> at(on)", MISMATCH, "at requires a known nonoptional Int index", "at("],
    ["oxs |> keep(> 1)", MISMATCH, "keepGt requires a known numeric array and numeric operand", "|>"],
    ["ss |> map(+ 1)", MISMATCH, "mapAdd requires a known numeric array and numeric operand", "|>"],
    ["ss |> sum()", MISMATCH, "sum requires a known numeric array", "|>"],
    ["n |> take(1)", MISMATCH, "take requires an array and Int count", "|>"],
    ["xs |> take(1.0)", MISMATCH, "take requires an array and Int count", "|>"],
    ["xs |> take(-2)", "VALUE", "take count cannot be negative", "-2"],
  ];
  for (const [expr, code, message, at] of cases) expectFailure(NAMED, expr, { code, message, at });
});

test("callback stage failures, anchored at the callback", () => {
  const cases = [
    ["[] |> sortBy(inc)", MISMATCH, "sortBy requires a known nonoptional primitive or Record array", "inc"],
    ["[] |> filter(small)", MISMATCH, "filter requires a known nonoptional primitive or Record array", "small"],
    ["oxs |> each(inc)", MISMATCH, "each requires a known nonoptional primitive or Record array", "inc"],
    ["n |> fold(add, 0)", MISMATCH, "fold requires a known nonoptional primitive or Record array", "add"],
    ["f |> repeat(step, 0)", MISMATCH, "repeat requires a known nonoptional Int count", "step"],
    ["on |> repeat(step, 0)", MISMATCH, "repeat requires a known nonoptional Int count", "step"],
    ["n |> ok(Outcome) |> repeat(step, 0)", ...FORBIDDEN, "step"],
    ["xs |> fold(add, nosuch)", "UNKNOWN_REFERENCE", "Unknown reference nosuch", "nosuch"],
    ["xs |> filter(nosuch)", "UNKNOWN_CALL", "Unknown source callback nosuch", "nosuch"],
    ["xs |> each(sum)", "UNKNOWN_CALL", "Unknown source callback sum", "sum"],
    ["xs |> sortBy(small)", MISMATCH, "sortBy callback small requires exactly one nonoptional primitive or Record parameter and exact Int, Float or Text result", "small"],
    ["xs |> filter(inc)", MISMATCH, "filter callback inc requires exactly one nonoptional primitive or Record parameter and exact Truth result", "inc"],
    ["xs |> each(add)", MISMATCH, "each callback add requires exactly one nonoptional primitive or Record parameter and result", "add"],
    ["xs |> each(errOpt)", MISMATCH, "each callback errOpt requires exactly one nonoptional primitive or Record parameter and result", "errOpt"],
    ["xs |> fold(inc, 0)", MISMATCH, "fold callback inc requires exactly two nonoptional primitive or Record parameters and result", "inc"],
    ["5 |> repeat(skew, 0)", MISMATCH, "repeat callback skew requires exactly two nonoptional parameters: primitive or Record state and Int index, with primitive or Record result", "skew"],
    ["xs |> fold(bad, 0.0)", MISMATCH, "fold callback bad result must exactly match state type Float", "bad"],
    ["5 |> repeat(bad, 0.0)", MISMATCH, "repeat callback bad result must exactly match state type Float", "bad"],
    ["xs |> fold(add, 1.5)", MISMATCH, "fold callback add seed requires Int, received Float", "add"],
    ["5 |> repeat(step, on)", MISMATCH, "repeat callback step seed requires Int, received Int?", "step"],
    ["ss |> fold(add, 0)", MISMATCH, "fold callback add item requires Int, received Text", "add"],
    ["fs |> sortBy(inc)", MISMATCH, "sortBy callback inc requires Int, received Float", "inc"],
    ["ss |> each(inc)", MISMATCH, "each callback inc requires Int, received Text", "inc"],
    // Callbacks that involve a Result always fail: the shape first, then the Result.
    ["xs |> each(toOutcome)", ...FORBIDDEN, "toOutcome"],
    ["xs |> each(pairOutcome)", MISMATCH, "each requires exactly one ordinary callback parameter", "pairOutcome"],
    ["xs |> sortBy(pairOutcome)", MISMATCH, "sortBy requires exactly one ordinary callback parameter", "pairOutcome"],
    ["xs |> filter(toOutcome)", ...FORBIDDEN, "toOutcome"],
    ["xs |> fold(add, n |> ok(Outcome))", ...FORBIDDEN, "add"],
    ["xs |> fold(inc, n |> ok(Outcome))", MISMATCH, "fold requires exactly two callback parameters and an ordinary item domain", "inc"],
    ["5 |> repeat(stepOutcome, n |> ok(Outcome))", ...FORBIDDEN, "stepOutcome"],
    ["5 |> repeat(badIndex, 0)", MISMATCH, "repeat requires exactly two callback parameters and an Int index", "badIndex"],
  ];
  for (const [expr, code, message, at] of cases) expectFailure(NAMED, expr, { code, message, at });
});

// ---- effect functions and recorded calls ----------------------------------------

const STORE = {
  interfaces: {
    "store.get": { params: ["Int"], result: "Int", effects: [] },
    "store.name": { params: ["Text"], result: "Text", effects: [] },
  },
};

test("effect functions are refused as callbacks and handlers, in derives too", () => {
  const decls = `${NAMED}\neffect fn fetch(x: Int) -> Int { return store.get(x) }\neffect fn fetchText(e: Text) -> Text { return store.name(e) }\n`;
  const effect = ["FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler"];
  const cases = [
    ["xs |> each(fetch)", "fetch"],
    ["xs |> sortBy(fetch)", "fetch"],
    ["5 |> repeat(fetch, 0)", "fetch"],
    ["n |> ok(Outcome) |> match(okInt, fetchText)", "match"],
  ];
  for (const [expr, at] of cases) {
    expectFailure(decls, expr, { code: effect[0], message: effect[1], at }, STORE, "  use store\n");
  }
});

test("callbacks and handlers used inside a function count as its calls", () => {
  const cases = [
    ["fn selfish(x: Int) -> Int { return [x] |> each(selfish) |> sum() }", "selfish"],
    ["fn h(x: Int) -> Int { return x |> ok(Outcome) |> match(h, eh) }\nfn eh(e: Text) -> Int { return 0 }", "h"],
    ["fn a(x: Int) -> Int { return 3 |> repeat(b, x) }\nfn b(s: Int, i: Int) -> Int { return [s] |> fold(c, i) }\nfn c(s: Int, i: Int) -> Int { return [s] |> filter(d) |> sum() }\nfn d(x: Int) -> Truth { return len([x] |> sortBy(a)) > 0 }", "a"],
  ];
  for (const [decls, name] of cases) {
    const source = moduleSource(`result Outcome: Int\n${decls}`, "n");
    let error;
    try {
      compileModule(source);
    } catch (caught) {
      error = caught;
    }
    assertEqual(error?.code, "FUNCTION_CYCLE", decls);
    assertEqual(error.message.startsWith(`Recursive function cycle includes ${name} (`), true, decls);
    assertEqual(error.offset, source.indexOf(`fn ${name}(`) + 3, decls);
  }
});

// ---- feature levels ------------------------------------------------------------

test("each stage sets the feature level it needs", () => {
  const cases = [
    ["xs |> keep(> 1) |> map(+ 1) |> take(2) |> sum()", "Int", 1],
    ["xs |> each(inc)", "Int[]", 3],
    ["xs |> fold(add, 0)", "Int", 4],
    ["5 |> repeat(step, 0)", "Int", 5],
    ["xs |> at(0)", "Int", 7],
    ["xs |> append(1)", "Int[]", 8],
    ["on |> present()", "Truth", 9],
    ["on |> require()", "Int", 9],
    ["on |> orElse(1)", "Int", 9],
    ["n |> quotient(2)", "Int", 10],
    ["n |> remainder(2)", "Int", 10],
    ["n |> toText()", "Text", 11],
    ["s |> slice(0, 1)", "Text", 12],
    ["r |> keys()", "Text[]", 13],
    ["s |> startsWith(s)", "Truth", 14],
    ["ss |> join(s)", "Text", 14],
    ["r |> withoutField(s)", "Record", 15],
    ["r |> withField(s, 1)", "Record", 15],
    ["xs |> concat(xs)", "Int[]", 16],
    ["xs |> filter(small)", "Int[]", 17],
    ["xs |> sortBy(inc)", "Int[]", 18],
    ["s |> parseInt()", "Int", 19],
    ["r |> checkFields({a: \"Int\"})", "Record", 20],
    ["r |> toJson()", "Text", 21],
    ["n |> shiftRight(1)", "Int", 24],
    ["n |> bitNot()", "Int", 24],
    ["s |> parseFloat() + (n |> bitNot() |> toText() |> parseInt())", "Float", 25],
    ["xs |> each(inc) |> sortBy(inc) |> at(0) |> toText()", "Text", 18],
  ];
  for (const [expr, type, version] of cases) {
    assertEqual(compileExpression(PLAIN, expr, type).program.version, version, expr);
  }
  const schemaOnly = moduleSource("schema P { a: Int }", "r |> asSchema(P) |> field(\"a\")");
  assertEqual(compileModule(schemaOnly).version, 22, "asSchema and field mark nothing");
});
