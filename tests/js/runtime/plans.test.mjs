import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { ensureProgram, planFor, hasAdapter, inputCopy } from "../../../quelt/runtime/plans.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { jsonByteSize, measuredJsonBytes } from "../../../quelt/runtime/json-size.mjs";
import { utf8Size } from "../../../quelt/runtime/versions.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const DB = { interfaces: { "db.get": { params: ["Text"], result: "Int", effects: ["read"] } } };

function cacheableByName(program) {
  const table = {};
  for (const item of planFor(program).derives) table[item.derive.name] = item.cacheable;
  return table;
}

test("ensureProgram admits only Programs issued by this compiler", () => {
  const program = compileModule("brindlet m { input x: Int derive y: Int = x + 1 output y }");
  ensureProgram(program);
  const refused = fault("UNCOMPILED_PROGRAM", "Исполняется только программа, выданная compiler.mjs.");
  for (const value of [null, undefined, 3, {}, JSON.parse(JSON.stringify(program)), { ...program }]) {
    assertThrows(() => ensureProgram(value), refused);
  }
});

test("one plan per Program object; a recompiled Program gets its own", () => {
  const source = "brindlet m { input x: Int derive y: Int = x + 1 output y }";
  const first = compileModule(source);
  const again = compileModule(source);
  assert(planFor(first) === planFor(first));
  assert(planFor(first) !== planFor(again));
});

test("plan tables: inputs, key sizes, functions, derive order and needed versions", () => {
  const program = compileModule(
    "fn twice(a: Int) -> Int { return a * 2 } brindlet m { input x: Int input long_name: Text = \"a\" " +
      "derive y: Int = twice(x) derive z: Int = y + 1 derive w: Text = long_name + \"!\" output z output w }",
  );
  const plan = planFor(program);
  assertDeepEqual([...plan.inputs.keys()], ["x", "long_name"]);
  assert(plan.inputs.get("x") === program.inputs[0]);
  // "x" is 3 bytes, "long_name" 11, each plus 1 for the colon
  assertDeepEqual([...plan.inputKeyBytes], [["x", 4], ["long_name", 12]]);
  assert(plan.functions.get("twice") === program.functions[0]);
  assertDeepEqual(plan.derives.map((item) => item.derive.name), ["y", "z", "w"]);
  assert(plan.derives.every((item, index) => item.derive === program.derives[index] && item.cacheable));
  assertDeepEqual([...plan.neededVersions].sort(), ["long_name", "x", "y"]);
  assertEqual(plan.sourceHash, null);
  for (const field of ["schemas", "evidence", "results", "resultEvidence"]) assert(!(field in plan), field);
});

test("which tables a plan holds follows the AST version", () => {
  const cases = [
    ["schema S { a: Int } brindlet m { input r: Record derive d: Text = r |> toJson() output d }", 22, true, false],
    ["result R: Int brindlet m { input x: Int output x }", 23, true, true],
    ["result R: Int brindlet m { input x: Int derive d: Int = x |> bitNot() output d }", 24, true, true],
  ];
  for (const [source, version, schemas, results] of cases) {
    const program = compileModule(source);
    assertEqual(program.version, version, source);
    const plan = planFor(program);
    assertEqual(plan.schemas instanceof Map, schemas, `schemas at ${version}`);
    assertEqual(plan.evidence instanceof WeakMap, schemas, `evidence at ${version}`);
    assertEqual(plan.results instanceof Map, results, `results at ${version}`);
    assertEqual(plan.resultEvidence instanceof WeakMap, results, `resultEvidence at ${version}`);
  }
  const plan = planFor(compileModule("result R: Int brindlet m { input x: Int output x }"));
  assertEqual(plan.schemas.size, 0, "version 23 without schemas has an empty table");
  const descriptor = plan.results.get("R");
  assertDeepEqual(descriptor.definition, { name: "R", successType: "Int" });
  assert(Object.isFrozen(descriptor.token) && Object.keys(descriptor.token).length === 0);
});

test("schema and Result tokens are unique to each plan", () => {
  const source = "schema S { a: Int } result R: Int brindlet m { input x: Int output x }";
  const [a, b] = [planFor(compileModule(source)), planFor(compileModule(source))];
  assert(a.schemas.get("S").token !== b.schemas.get("S").token);
  assert(a.results.get("R").token !== b.results.get("R").token);
  assertDeepEqual([...a.schemas.get("S").fields.keys()], ["a"]);
});

test("cacheable derives: schema and Result types, direct adapter calls", () => {
  const cases = [
    // version 21 has no schemas: every derive without a direct adapter call is cacheable
    ['brindlet m { use db input r: Record derive d: Text = r |> checkFields({a: "Int"}) |> toJson() ' +
      'derive e: Int = db.get("k") + 1 derive f: Text = d + "x" output d }', 21, { d: true, e: false, f: true }],
    ["schema S { a: Int } brindlet m { input r: Record derive s: S = r |> asSchema(S) " +
      'derive t: Int = s |> field("a") output t }', 22, { s: false, t: true }],
    ["result R: Int fn wrap(x: Int) -> R { return x |> ok(R) } brindlet m { input x: Int " +
      "derive r: R = wrap(x) derive y: Int = x + 1 output y }", 23, { r: false, y: true }],
    // an effect function reached from a derive makes it uncacheable at 26-27
    ['effect fn load() -> Int { return db.get("a") } brindlet m { use db input x: Int ' +
      "derive a: Int = load() + x derive b: Int = x + 1 derive c: Int = b + 1 output c }", 26, { a: false, b: true, c: true }],
  ];
  for (const [source, version, expected] of cases) {
    const program = compileModule(source, DB);
    assertEqual(program.version, version, source);
    assertDeepEqual(cacheableByName(program), expected, source);
  }
});

// Hand-built Program shapes reach the builders without the compiler's rules
// (planFor itself does not require a compiler-issued Program).
function shape(version, functions, derives, extra = {}) {
  return { kind: "quelt-program", version, name: "m", source: "", inputs: [], derives, outputs: [], functions, interfaces: { "db.get": {} }, ...extra };
}
const ref = (name) => ({ kind: "ref", name });
const call = (name, ...args) => ({ kind: "call", name, args });
const fn = (name, expression, more = {}) => ({ name, params: [], returnType: "Int", expression, ...more });
const derive = (name, expression) => ({ name, type: "Int", expression, dependencies: [] });

test("effect analysis follows functions, locals, handlers and callbacks; the direct test does not", () => {
  const functions = [
    fn("viaLocal", ref("v"), { locals: [{ name: "v", type: "Int", expression: call("db.get") }] }),
    fn("pure", ref("p")),
    fn("marked", ref("p"), { effect: { adapter: "db.get" } }),
    fn("caller", call("viaLocal")),
  ];
  const derives = [
    derive("a", call("caller")),
    derive("b", { kind: "each", array: ref("xs"), name: "viaLocal" }),
    derive("c", { kind: "resultMatch", value: ref("r"), ok: "pure", err: "marked" }),
    derive("d", { kind: "fold", array: ref("xs"), name: "pure", initial: call("pure") }),
    derive("e", { kind: "intBits", op: "not", value: call("db.get") }),
    derive("f", { kind: "record", fields: [{ key: "k", expression: { kind: "array", items: [call("db.get")] } }] }),
  ];
  const expected = { a: false, b: false, c: false, d: true, e: false, f: false };
  assertDeepEqual(cacheableByName(shape(26, functions, derives)), expected);
  // below 26 only direct calls count
  assertDeepEqual(cacheableByName(shape(21, functions, derives)), { a: true, b: true, c: true, d: true, e: false, f: false });
  const plan = planFor(shape(27, functions, derives));
  assert(Object.isFrozen(plan.derives) && plan.derives.every(Object.isFrozen), "frozen derive items at 26-27");
});

test("effect analysis refuses cycles and unknown nodes anywhere, and stores no plan", () => {
  const cycle = shape(26, [fn("f", call("g")), fn("g", call("f"))], []);
  const cyclic = fault("EXPRESSION_KIND", "Циклический граф функций в compiler-issued AST.");
  assertThrows(() => planFor(cycle), cyclic);
  assertThrows(() => planFor(cycle), cyclic, "a failed build is not stored");
  assertEqual(planFor(shape(25, [fn("f", call("g")), fn("g", call("f"))], [])).derives.length, 0, "lower versions do not analyse functions");
  const unknownNode = fault("EXPRESSION_KIND", "Неизвестный узел выражения.");
  const strange = { kind: "mystery", value: ref("x") };
  assertThrows(() => planFor(shape(27, [fn("unused", strange)], [])), unknownNode);
  assertThrows(() => planFor(shape(26, [], [derive("a", { kind: "binary", operator: "+", left: call("db.get"), right: strange })])), unknownNode,
    "children are visited after the answer is known");
  assertEqual(hasAdapter(strange, { "db.get": {} }), false);
});

test("hasAdapter inspects the documented children only", () => {
  const interfaces = { "db.get": {} };
  const adapter = call("db.get");
  const cases = [
    [call("other", ref("x"), adapter), true],
    [{ kind: "sortBy", array: ref("xs"), name: "db.get" }, false],
    [{ kind: "slice", value: ref("t"), start: ref("s"), count: adapter }, true],
    [{ kind: "withField", record: ref("r"), key: ref("k"), value: adapter }, true],
    [{ kind: "repeat", count: ref("n"), name: "f", initial: adapter }, true],
    [{ kind: "orElse", value: ref("o"), fallback: adapter }, true],
    [{ kind: "literal", value: 1, type: "Int" }, false],
    [call("toString"), false],
  ];
  for (const [node, expected] of cases) assertEqual(hasAdapter(node, interfaces), expected, JSON.stringify(node));
});

test("inputCopy: supplied values, defaults, unknown and frozen copies", () => {
  const program = compileModule(
    'brindlet m { input n: Int input t: Text = "d" input o: Int? input r: Record = {a: 1} output n output t output o output r }',
  );
  const supplied = { n: -0, o: null };
  const copy = inputCopy(program, supplied);
  assertDeepEqual(Object.keys(copy), ["n", "t", "o", "r"]);
  assertEqual(Object.getPrototypeOf(copy), null);
  assert(Object.isFrozen(copy) && Object.isFrozen(copy.r));
  assertEqual(copy.n, 0);
  assertEqual(copy.t, "d");
  assertEqual(copy.o, UNKNOWN);
  assertDeepEqual({ ...copy.r }, { a: 1 });
  const again = inputCopy(program, supplied);
  assert(again.r !== copy.r, "a Record default is copied afresh on every run");
});

test("inputCopy failures come in order: shape, undeclared names, each input, size", () => {
  const program = compileModule("brindlet m { input a: Int input b: Int input c: Int = 1 output a }");
  const hidden = { a: 1, b: 2 };
  Object.defineProperty(hidden, "z", { value: 1, enumerable: false });
  const cases = [
    [[], fault("INPUT_SCHEMA", "Ожидается объект данных.")],
    [hidden, fault("INPUT_SCHEMA", "Символы, скрытые поля и getters не разрешены.")],
    [{ a: 1, b: 2, zz: 3 }, fault("INPUT_SCHEMA", "Передан необъявленный вход.")],
    [{ zz: 3 }, fault("INPUT_SCHEMA", "Передан необъявленный вход.")],
    [{ b: "x" }, fault("MISSING_INPUT", "Отсутствует вход a.")],
    [{ a: "x" }, fault("VALUE_TYPE", "Int требует безопасное целое число.")],
    [{ a: 1 }, fault("MISSING_INPUT", "Отсутствует вход b.")],
    [{ a: 1, b: 2, c: 1.5 }, fault("VALUE_TYPE", "Int требует безопасное целое число.")],
  ];
  for (const [supplied, expected] of cases) assertThrows(() => inputCopy(program, supplied), expected, JSON.stringify(supplied));
  const bare = Object.assign(Object.create(null), { a: 1, b: 2 });
  assertDeepEqual({ ...inputCopy(program, bare) }, { a: 1, b: 2, c: 1 });
});

test("inputCopy bounds the JSON size of the whole input record", () => {
  const program = compileModule("brindlet m { input r: Record output r }");
  // {"r":{"a":"…",…,"p":"…"}}: 16 fields of 6 bytes plus the text each,
  // 15 commas, 2 inner braces and 6 bytes around: texts + 119 bytes.
  const record = (lastLength) => {
    const fields = {};
    for (const key of "abcdefghijklmno") fields[key] = "x".repeat(65536);
    fields.p = "x".repeat(lastLength);
    return { r: fields };
  };
  const exact = 1048576 - 119 - 15 * 65536;
  assertEqual(JSON.stringify(inputCopy(program, record(exact))).length, 1048576);
  assertThrows(() => inputCopy(program, record(exact + 1)), fault("INPUT_LIMIT", "Превышен размер входных данных."));
});

test("inputCopy measures the input record as its JSON text counts", () => {
  const program = compileModule(
    "brindlet m { input f: Float input t: Text input u: Truth? input rs: Record[] input fs: Float[] input n: Int? output f }",
  );
  const supplied = {
    f: -0,
    t: "é\u{1F600}\"\\\n",
    u: null,
    rs: [{ b: -0, a: [1, { "10": 1, "9": 2 }] }, { "": "\ud800", z: null }, {}],
    fs: [-0, 1e21, 0.1],
    n: null,
  };
  const copied = inputCopy(program, supplied);
  assertEqual(measuredJsonBytes(copied, new Map()), utf8Size(JSON.stringify(copied)), "counted, not written");
  assertEqual(jsonByteSize(copied), utf8Size(JSON.stringify(copied)));
});
