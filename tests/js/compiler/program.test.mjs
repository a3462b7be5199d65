import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { compileModule, isCompiledProgram, getExpressionType, getDeriveSourceRange } from "quelt/compiler.mjs";
import { compiles } from "./compile-support.mjs";

const TYPE_MISUSE = "Expression type requires an AST node belonging to the compiler-issued Program";
const RANGE_MISUSE = "Source range requires a derive in the compiler-issued Program";

const lit = (value, type = "Int") => ({ kind: "literal", value, type });
const ref = (name) => ({ kind: "ref", name });

// Every node reachable from a Program, in a stable order.
function nodesOf(program) {
  const found = [];
  const visit = (value) => {
    if (Array.isArray(value)) return value.forEach(visit);
    if (value === null || typeof value !== "object") return;
    if (typeof value.kind === "string" && value.kind !== "quelt-unknown") found.push(value);
    for (const key of Object.keys(value)) {
      if (key !== "defaultValue") visit(value[key]);
    }
  };
  visit([program.inputs, program.derives, program.functions]);
  return found;
}

test("program: a representative module, field by field", () => {
  const source = [
    "result Outcome: Int",
    "schema Person { name: Text, \"age\": Int }",
    "fn half(n: Int) -> Float { let h: Float = n / 2.0; return h }",
    "fn check(n: Int) -> Outcome { return n |> ok(Outcome) }",
    "brindlet demo {",
    "  input n: Int = 4",
    "  input tags: Text[]",
    "  derive total: Float = half(n) + base",
    "  derive base: Int = len(tags)",
    "  output total",
    "}",
  ].join("\n");
  const program = compiles(source);
  assertDeepEqual(Object.keys(program), ["kind", "version", "name", "source", "inputs", "derives", "outputs", "functions", "interfaces", "schemas", "results"]);
  assertEqual(program.kind, "quelt-program");
  assertEqual(program.version, 23);
  assertEqual(program.name, "demo");
  assertEqual(program.source, source);
  assertDeepEqual(program.inputs, [
    { name: "n", type: "Int", defaultExpression: lit(4), defaultValue: 4 },
    { name: "tags", type: "Text[]" },
  ]);
  assertDeepEqual(program.derives, [
    { name: "base", type: "Int", expression: { kind: "call", name: "len", args: [ref("tags")] }, dependencies: ["tags"] },
    {
      name: "total",
      type: "Float",
      expression: { kind: "binary", operator: "+", left: { kind: "call", name: "half", args: [ref("n")] }, right: ref("base") },
      dependencies: ["n", "base"],
    },
  ]);
  assertDeepEqual(program.outputs, ["total"]);
  assertDeepEqual(program.functions, [
    {
      name: "half",
      params: [{ name: "n", type: "Int" }],
      returnType: "Float",
      locals: [{ name: "h", type: "Float", expression: { kind: "binary", operator: "/", left: ref("n"), right: lit(2, "Float") } }],
      expression: ref("h"),
    },
    {
      name: "check",
      params: [{ name: "n", type: "Int" }],
      returnType: "Outcome",
      expression: { kind: "resultValue", name: "Outcome", tag: "ok", value: ref("n") },
    },
  ]);
  assertDeepEqual(program.interfaces, {});
  assertDeepEqual(program.schemas, [{ name: "Person", fields: [{ key: "name", type: "Text" }, { key: "age", type: "Int" }] }]);
  assertDeepEqual(program.results, [{ name: "Outcome", successType: "Int" }]);
});

test("program: no schemas or results fields without declarations", () => {
  const program = compiles("brindlet m { input x: Int output x }");
  assert(!Object.hasOwn(program, "schemas") && !Object.hasOwn(program, "results"));
  assertEqual(program.version, 1);
});

test("program: issued Programs are recognised by identity only", () => {
  const program = compiles("brindlet m { input x: Int derive d: Int = x output d }");
  assertEqual(isCompiledProgram(program), true);
  for (const value of [null, undefined, 5, "quelt-program", { ...program }, JSON.parse(JSON.stringify(program)), program.derives]) {
    assertEqual(isCompiledProgram(value), false);
  }
});

test("program: every node has a type", () => {
  const program = compiles(
    "schema P { a: Int } result R: Int fn mk(x: Int) -> R { return x |> ok(R) } " +
      "fn p(r: Record) -> P { return r |> asSchema(P) } " +
      "brindlet m { input r: Record input e: Int[] = [] derive u: Int? = unknown derive z: Int = len([]) + len({a: 1} |> keys()) " +
      "derive k: R = mk(1) derive q: Int = p(r) |> field(\"a\") output z }",
  );
  const nodes = nodesOf(program);
  assert(nodes.length > 10);
  for (const node of nodes) assertEqual(typeof getExpressionType(program, node), "string", node.kind);
  const byDerive = Object.fromEntries(program.derives.map((d) => [d.name, d.expression]));
  assertEqual(getExpressionType(program, byDerive.u), "Unknown");
  assertEqual(getExpressionType(program, byDerive.z.left.args[0]), "EmptyArray");
  assertEqual(getExpressionType(program, program.inputs[1].defaultExpression), "EmptyArray");
  assertEqual(getExpressionType(program, byDerive.k), "R");
  assertEqual(getExpressionType(program, program.functions[0].expression), "R");
  assertEqual(getExpressionType(program, program.functions[1].expression), "P");
  assertEqual(getExpressionType(program, byDerive.q), "Int");
  assertEqual(byDerive.q.schema, "P");
});

test("program: misuse of the side tables throws TypeError", () => {
  const a = compiles("brindlet m { input x: Int derive d: Int = x + 1 output d }");
  const b = compiles("brindlet m { input x: Int derive d: Int = x + 1 output d }");
  const node = a.derives[0].expression;
  assertEqual(getExpressionType(a, node), "Int");
  const misuse = [
    [b, node],
    [a, { ...node }],
    [a, { key: "k", expression: node }],
    [a, null],
    [a, "binary"],
    [JSON.parse(JSON.stringify(a)), node],
    [null, node],
  ];
  for (const [program, value] of misuse) {
    assertThrows(() => getExpressionType(program, value), { type: TypeError, message: TYPE_MISUSE });
  }
  for (const [program, name] of [[a, "x"], [a, "nope"], [b, undefined], [{ ...a }, "d"], [null, "d"], [a, "toString"]]) {
    assertThrows(() => getDeriveSourceRange(program, name), { type: TypeError, message: RANGE_MISUSE });
  }
  const range = getDeriveSourceRange(a, "d");
  assert(Object.isFrozen(range));
  assertEqual(a.source.slice(range.start, range.end), "x + 1");
});

test("program: frozen at every depth", () => {
  const program = compiles(
    'fn f(a: Int) -> Int { let b: Int = a; return b } brindlet m { input r: Record = {a: [{c: 1}, {b: unknown}]} derive d: Int = f(1) output d }',
  );
  const seen = [];
  const visit = (value) => {
    if (value === null || typeof value !== "object") return;
    seen.push(value);
    for (const key of Object.keys(value)) visit(value[key]);
  };
  visit(program);
  for (const value of seen) assert(Object.isFrozen(value), JSON.stringify(value));
  assertThrows(() => {
    "use strict";
    program.derives[0].expression.args.push(1);
  }, TypeError);
});

test("program: API misuse and options", () => {
  for (const source of [undefined, null, 5, {}, ["brindlet"]]) {
    assertThrows(() => compileModule(source), { type: TypeError, message: "source must be a string" });
  }
  assertThrows(() => compileModule("brindlet m { input x: Int output x }", null), TypeError);
  // the source is refused before the interfaces are looked at
  assertThrows(() => compileModule(7, { interfaces: [] }), { type: TypeError, message: "source must be a string" });
  compiles("brindlet m { input x: Int output x }", undefined);
  compiles("brindlet m { input x: Int output x }", { interfaces: undefined });
});
