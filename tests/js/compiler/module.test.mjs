import { test, assert, assertEqual, assertDeepEqual } from "../harness.mjs";
import { assertFault, compiles } from "./compile-support.mjs";

test("module: derives are ordered by dependency, depth first in declaration order", () => {
  const program = compiles(
    "brindlet m { input x: Int derive a: Int = c + b derive b: Int = x derive c: Int = b * 2 derive e: Int = x output a output e }",
  );
  assertDeepEqual(program.derives.map((d) => d.name), ["b", "c", "a", "e"]);
  assertDeepEqual(program.derives.map((d) => d.dependencies), [["x"], ["b"], ["b", "c"], ["x"]]);
});

test("module: dependencies are listed once, in declaration order of inputs and derives", () => {
  const program = compiles(
    "brindlet m { input z: Int derive y: Int = z input a: Int derive d: Int = a + y + z + a + y + choose(yes, z, a, 1) output d }",
  );
  const d = program.derives.find((derive) => derive.name === "d");
  assertDeepEqual(d.dependencies, ["z", "y", "a"]);
});

test("module: cycles and scopes", () => {
  const cases = [
    ["brindlet m { derive a: Int = b derive b: Int = a output a }", "DERIVE_CYCLE", "Derive dependency cycle includes a", "a:"],
    ["brindlet m { input x: Int derive a: Int = a + x output x }", "DERIVE_CYCLE", "Derive dependency cycle includes a", "a:"],
    ["brindlet m { input x: Int derive q: Int = x derive a: Int = b derive b: Int = c derive c: Int = b output q }", "DERIVE_CYCLE", "Derive dependency cycle includes b", "b:"],
    ["fn f(x: Int) -> Int { return g(x) } fn g(x: Int) -> Int { return f(x) } brindlet m { input x: Int output x }", "FUNCTION_CYCLE", "Recursive function cycle includes f", "f(x: Int)"],
    ["fn f(x: Int) -> Int { return f(x) } brindlet m { input x: Int output x }", "FUNCTION_CYCLE", "Recursive function cycle includes f", "f(x: Int)"],
    ["fn f(x: Int) -> Int[] { return [x] |> each(f) } brindlet m { input x: Int output x }", "TYPE_MISMATCH", "each callback f requires exactly one nonoptional primitive or Record parameter and result", "f) }"],
    ["fn f(x: Int) -> Int { return [x] |> fold(f, 0) } brindlet m { input x: Int output x }", "TYPE_MISMATCH", "fold callback f requires exactly two nonoptional primitive or Record parameters and result", "f, 0"],
    ["fn k(a: Int, x: Int) -> Int { return [x] |> fold(k, 0) } brindlet m { input x: Int output x }", "FUNCTION_CYCLE", "Recursive function cycle includes k", "k(a"],
    // a type error anywhere in the functions comes before any recursion cycle
    ["fn f(x: Int) -> Int { return g(x) } fn g(x: Int) -> Int { return f(x) } fn h() -> Int { return 1.5 } brindlet m { input x: Int output x }", "TYPE_MISMATCH", "Function h returns Float, declared Int", "1.5"],
    ["fn f(a: Int) -> Int { return x } brindlet m { input x: Int output x }", "UNKNOWN_REFERENCE", "Unknown reference x", "x }"],
    ["fn f(a: Int) -> Int { let b: Int = b; return a } brindlet m { input x: Int output x }", "UNKNOWN_REFERENCE", "Unknown reference b", "b; "],
    ["fn f(a: Int) -> Int { let b: Int = c; let c: Int = 1; return a } brindlet m { input x: Int output x }", "UNKNOWN_REFERENCE", "Unknown reference c", "c; "],
    ["fn f(a: Int) -> Int { let b: Text = a; return a } brindlet m { input x: Int output x }", "TYPE_MISMATCH", "Local b receives Int, declared Text", "a; "],
    ["fn f(a: Int) -> Int { let b: Float = a; return b } brindlet m { input x: Int output x }", "TYPE_MISMATCH", "Function f returns Float, declared Int", "b }"],
    ["brindlet m { input x: Int derive d: Int = x + 1.5 output d }", "TYPE_MISMATCH", "Derive d is Float, declared Int", "+"],
    // a derive's type error comes before an unknown output when no named type is declared
    ["brindlet m { input x: Int derive d: Int = 1.5 output nope }", "TYPE_MISMATCH", "Derive d is Float, declared Int", "1.5"],
    ["brindlet m { input x: Int derive d: Int = x output nope }", "UNKNOWN_OUTPUT", "Unknown output nope", "nope"],
  ];
  for (const [source, code, message, at] of cases) assertFault(source, { code, message, at });
});

test("module: input defaults become plain values", () => {
  const program = compiles(
    "brindlet m { input n: Int = -3 input f: Float = -0.5 input t: Truth = unknown input y: Truth = yes " +
      'input r: Record = {a: unknown, b: [1, 2], c: {d: "e"}} input xs: Int[] = [] input s: Text = "hi" input o: Int? = unknown output n }',
  );
  const values = Object.fromEntries(program.inputs.map((input) => [input.name, input.defaultValue]));
  assertEqual(values.n, -3);
  assertEqual(values.f, -0.5);
  assertEqual(values.t, null);
  assertEqual(values.y, "yes");
  assertEqual(values.s, "hi");
  assertEqual(values.o, null);
  assertDeepEqual(values.xs, []);
  assertEqual(Object.getPrototypeOf(values.r), null);
  assertDeepEqual(Object.keys(values.r), ["a", "b", "c"]);
  assertDeepEqual({ ...values.r.a }, { kind: "quelt-unknown" });
  assertDeepEqual(values.r.b, [1, 2]);
  assertEqual(Object.getPrototypeOf(values.r.c), null);
  assertEqual(values.r.c.d, "e");
  // inputs without a default carry neither field
  const plain = compiles("brindlet m { input x: Int output x }").inputs[0];
  assertDeepEqual(Object.keys(plain), ["name", "type"]);
});

test("module: default faults", () => {
  const cases = [
    ["input x: Int = 1 + 1", "DEFAULT_LITERAL", "Input default must contain only literals, arrays or Records of literals", "+"],
    ["input y: Int input x: Int = y", "DEFAULT_LITERAL", "Input default must contain only literals, arrays or Records of literals", "y output"],
    ["input x: Int = -(-1)", "DEFAULT_LITERAL", "Input default must contain only literals, arrays or Records of literals", "-("],
    ["input x: Int[] = [1, len([])]", "DEFAULT_LITERAL", "Input default must contain only literals, arrays or Records of literals", "len"],
    ["input x: Truth = not yes", "DEFAULT_LITERAL", "Input default must contain only literals, arrays or Records of literals", "not"],
    ["input x: Int = 3 |> bitNot()", "DEFAULT_LITERAL", "Input default must contain only literals, arrays or Records of literals", "bitNot"],
    // conversion succeeds, then the type rules refuse it
    ["input x: Int[]? = [unknown]", "TYPE_MISMATCH", "Array items must be known primitive values or Records", "[unknown"],
    ["input x: Int = 1.5", "TYPE_MISMATCH", "Default for x is Float, declared Int", "1.5"],
    ["input x: Truth = -1", "TYPE_MISMATCH", "Default for x is Int, declared Truth", "-1"],
    ["input x: Record = {a: 1, b: {c: [1, \"x\"]}}", "TYPE_MISMATCH", "Array elements must have compatible types", "[1"],
  ];
  for (const [items, code, message, at] of cases) {
    const source = `brindlet m { ${items} output x }`;
    assertFault(source, { code, message, at: typeof at === "string" ? { text: at, nth: 1 } : at });
  }
});

test("module: phase order with named types", () => {
  const schemaFirst = "schema S { a: Int } fn f() -> Int { return \"x\" } brindlet m { input x: Int output y }";
  assertFault(schemaFirst, { code: "UNKNOWN_OUTPUT", message: "Unknown output y", at: "y }" });
  const plain = "fn f() -> Int { return \"x\" } brindlet m { input x: Int output y }";
  assertFault(plain, { code: "TYPE_MISMATCH", message: "Function f returns Text, declared Int", at: '"x"' });
  const cases = [
    // named annotations are checked before outputs
    ["schema S { a: Int } fn f(a: Q) -> Int { return 1 } brindlet m { input x: Int output y }", "TYPE", "Unknown annotation type Q", "Q)"],
    ["schema S { a: Int } brindlet m { input x: Int input s: S output s }", "SCHEMA_BOUNDARY", "Named schemas cannot be root inputs", "s: S"],
    ["schema S { a: Int } fn f(r: Record) -> S { return r |> asSchema(S) } brindlet m { input r: Record derive s: S = f(r) output r output s }", "SCHEMA_BOUNDARY", "Named schemas cannot be root outputs", "s }"],
    ["result R: Int brindlet m { input x: Int input q: R output x }", "RESULT_BOUNDARY", "Named Results cannot be root inputs", "q: R"],
    ["result R: Int fn f(x: Int) -> R { return x |> ok(R) } brindlet m { input x: Int derive q: R = f(x) output q }", "RESULT_BOUNDARY", "Named Results cannot be root outputs", "q }"],
    // all schema boundary faults come before the Result boundary
    ["result R: Int schema S { a: Int } brindlet m { input q: R input s: S output q }", "SCHEMA_BOUNDARY", "Named schemas cannot be root inputs", "s: S"],
    // the effect function rule runs before type checking
    ["fn f() -> Int { return \"x\" } effect fn e() -> Int { return 1 } brindlet m { input x: Int output x }", "FUNCTION_EFFECT", "Effect function requires one external adapter call", "e()"],
  ];
  for (const [source, code, message, at] of cases) assertFault(source, { code, message, at });
});

const INTERFACES = { interfaces: { "db.get": { params: ["Text"], result: "Int", effects: ["read"] } } };

test("module: version is the first row that applies", () => {
  const body = (derive, prelude = "") => `${prelude} brindlet m { use db input x: Int input t: Text input xs: Int[] input r: Record input o: Int? ${derive} output x }`;
  const fns =
    "fn one(a: Int) -> Int { return a } fn two(a: Int, b: Int) -> Int { return a } fn small(a: Int) -> Truth { return a < 3 } ";
  const rows = [
    [27, body("derive d: Int = e1() + e2()", 'effect fn e1() -> Int { return db.get("a") } effect fn e2() -> Int { return db.get("b") }')],
    [26, body("derive d: Float = e1() + (t |> parseFloat())", 'effect fn e1() -> Int { return db.get("a") }')],
    [25, body("derive d: Float = t |> parseFloat() + (x |> bitNot())")],
    [24, body("derive d: Int = x |> bitNot()", "result R: Int")],
    [23, body("derive d: Int = x |> toText() |> parseInt()", "result R: Int schema S { a: Int }")],
    [22, body("derive d: Text = r |> toJson()", "schema S { a: Int }")],
    [21, body('derive d: Text = r |> checkFields({a: "Int"}) |> toJson()')],
    [20, body('derive d: Int = r |> checkFields({a: "Int"}) |> keys() |> join(",") |> parseInt()')],
    [19, body("derive d: Int = xs |> sortBy(one) |> at(0) |> toText() |> parseInt()", fns)],
    [18, body("derive d: Int[] = xs |> sortBy(one) |> filter(small)", fns)],
    [17, body("derive d: Int[] = xs |> filter(small) |> concat(xs)", fns)],
    [16, body('derive d: Int[] = xs |> concat(xs) |> append(len(r |> withField("k", 1) |> keys()))')],
    [15, body('derive d: Record = r |> withoutField("a") |> withField("k", t |> split(","))')],
    [14, body('derive d: Truth = r |> keys() |> join(",") |> contains(t)')],
    [13, body("derive d: Text = r |> keys() |> at(0) |> slice(0, 1)")],
    [12, body("derive d: Text = x |> toText() |> slice(0, 1)")],
    [11, body("derive d: Text = x |> quotient(2) |> toText()")],
    [10, body("derive d: Int = x |> remainder(2) + (o |> orElse(1))")],
    [9, body("derive p: Truth = o |> present() derive d: Int = xs |> append(1) |> at(0)")],
    [8, body("derive d: Int = xs |> append(1) |> at(0) + len(t + t)")],
    [7, body('derive d: Int = xs |> at(0) + len(t + "!")')],
    [6, body('derive d: Int = x |> repeat(two, 0) + len(t + "!")', fns)],
    [5, body("derive d: Int = x |> repeat(two, 0) + (xs |> fold(two, 0))", fns)],
    [4, body("derive d: Int = xs |> each(one) |> fold(two, 0)", fns)],
    [3, body("derive d: Int[] = xs |> each(one)", `${fns} fn three(a: Int) -> Int { let b: Int = a; return b }`)],
    [2, body("derive d: Int = three(x)", "fn three(a: Int) -> Int { let b: Int = a; return b }")],
    [1, body("derive d: Int = sum(xs |> keep(> 2) |> map(* 3) |> take(1)) + choose(yes, 1, 2, 3)", fns)],
  ];
  for (const [version, source] of rows) {
    assertEqual(compiles(source, INTERFACES).version, version, source);
  }
  // a Result declaration raises the level whatever else the module uses
  const withResult = body("derive d: Int[] = xs |> filter(small)", `result R: Int ${fns}`);
  assertEqual(compiles(withResult).version, 23);
  // adapter calls in derives do not raise the level
  assertEqual(compiles(body('derive d: Int = db.get("k")'), INTERFACES).version, 1);
});

test("module: a compiled module leaves its parse state unshared", () => {
  const source = "brindlet m { input x: Int derive d: Int = x + 1 output d }";
  const a = compiles(source);
  const b = compiles(source);
  assert(a !== b && a.derives[0].expression !== b.derives[0].expression);
  assertDeepEqual(JSON.parse(JSON.stringify(a)), JSON.parse(JSON.stringify(b)));
});

test("module: names of inherited object members are ordinary names", () => {
  const program = compiles(
    "schema constructor { __proto__: Int } fn toString(hasOwnProperty: Int) -> Int { return hasOwnProperty } " +
      "brindlet valueOf { input __proto__: Record = {__proto__: 1, constructor: unknown} " +
      "derive constructor: Int = toString(__proto__ |> asSchema(constructor) |> field(\"__proto__\")) output constructor }",
  );
  const value = program.inputs[0].defaultValue;
  assertEqual(Object.getPrototypeOf(value), null);
  assertDeepEqual(Object.keys(value), ["__proto__", "constructor"]);
  assertEqual(value.__proto__, 1);
  assertDeepEqual(program.derives[0].dependencies, ["__proto__"]);
  assertFault("brindlet m { input x: Int derive d: Int = toString(x) output d }", {
    code: "UNKNOWN_CALL", message: "Unknown function toString", at: "toString",
  });
  assertFault("brindlet m { input x: Int derive d: Int = constructor output d }", {
    code: "UNKNOWN_REFERENCE", message: "Unknown reference constructor", at: "constructor",
  });
});

test("module: a chain of 256 derives declared in reverse order is ordered", () => {
  const derives = [];
  for (let i = 0; i < 256; i += 1) derives.push(`derive d${i}: Int = ${i === 255 ? "x" : `d${i + 1} + 1`}`);
  const program = compiles(`brindlet m { input x: Int ${derives.join(" ")} output d0 }`);
  assertEqual(program.derives[0].name, "d255");
  assertEqual(program.derives[255].name, "d0");
});
