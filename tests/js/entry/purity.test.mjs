import { test, assertThrows } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { Boundary } from "../../../quelt/entry/boundary.mjs";
import { purePreflight, pureAST } from "../../../quelt/entry/purity.mjs";

const UNSUPPORTED = { type: Boundary, code: "NATIVE_UNSUPPORTED", phase: "unsupported" };
const REQUEST = { type: Boundary, code: "NATIVE_REQUEST", phase: "request" };

const ADAPTER = { "store.read": { params: ["Int"], result: "Int", effects: [] } };

test("purePreflight refuses effect functions, use in the module block and dotted calls", () => {
  const cases = [
    ["effect function", 'effect fn f(x: Int) -> Int { return store.read(x) }\nbrindlet m { output x }'],
    ["effect function in a library file", "effect fn f() -> Int { return 1 }"],
    ["effect followed by a text spelled fn", 'effect "fn"'],
    ["use in the module block", "brindlet m { use store input a: Int output a }"],
    ["use after a nested block closed", "brindlet m { input r: Record = { a: 1 } use store output r }"],
    ["dotted call", "brindlet m { derive b: Int = store.read(1) output b }"],
    ["dotted call with spaces", "brindlet m { derive b: Int = store . read ( 1 ) output b }"],
    ["dotted call in a function", "fn f() -> Int { return a.b() }"],
    ["a closing brace inside a text does not count", 'brindlet m { derive t: Text = "}" use store output t }'],
    ["an opening brace inside a text does not count", 'brindlet m { derive t: Text = "{" use store output t }'],
  ];
  for (const [label, source] of cases) assertThrows(() => purePreflight(source), UNSUPPORTED, label);
});

test("purePreflight lets through what only looks like the refused forms", () => {
  const cases = [
    ["use before the module keyword", "use store\nbrindlet m { input a: Int output a }"],
    ["use in a nested block of the module", "brindlet m { input r: Record = { use: 1 } output r }"],
    ["module keyword inside a block does not open the module", "schema S { brindlet } schema T { use }"],
    ["effect not followed by fn", "fn effect(x: Int) -> Int { return x }\nbrindlet m { derive effect: Int = 1 output effect }"],
    ["dotted name without a call", "brindlet m { derive b: Int = a.b output b }"],
    ["dot followed by a text", 'brindlet m { derive b: Int = a."b"() output b }'],
    ["dot followed by a number", "brindlet m { derive b: Int = a.1(2) output b }"],
    ["dotted call inside a comment", "// store.read(1)\n/* effect fn */ brindlet m { input a: Int output a }"],
    ["dotted call inside a text", 'brindlet m { derive t: Text = "store.read(1) effect fn" output t }'],
    ["unclosed block comment", "effect fn f() /* store.read(1)"],
    ["lexical error before an effect function", "# effect fn f() -> Int { return 1 }"],
    ["source over the lexer's limit", "effect fn f() " + " ".repeat(70000)],
    ["surrogate pair escapes", 'brindlet m { derive t: Text = "\\ud83d\\ude00" output t }'],
    ["empty source", ""],
  ];
  for (const [label, source] of cases) purePreflight(source);
});

test("purePreflight refuses text literals holding unpaired surrogates, first offending token first", () => {
  const cases = [
    ["lone high surrogate escape", 'brindlet m { derive t: Text = "\\ud800" output t }', REQUEST],
    ["reversed pair", '"\\ude00\\ud83d"', REQUEST],
    ["text before the effect function", '"\\udfff" effect fn', REQUEST],
    ["effect function before the text", 'effect fn "\\udfff"', UNSUPPORTED],
  ];
  for (const [label, source, expected] of cases) assertThrows(() => purePreflight(source), expected, label);
});

test("purePreflight lets failures other than lexical ones propagate", () => {
  assertThrows(() => purePreflight(42), TypeError);
});

test("pureAST accepts a compiled pure Program, also one whose input default looks like a call", () => {
  pureAST(compileModule("brindlet m { input a: Int = 2 derive b: Int = a + 1 output b }"));
  pureAST(
    compileModule(
      "fn f(x: Int) -> Int { return x }\n" +
        'brindlet m { input r: Record = { kind: "call", name: "store.read" } derive b: Int = f(1) output r output b }',
    ),
  );
});

test("pureAST refuses interfaces, effect functions and adapter calls in a compiled Program", () => {
  const cases = [
    ["declared interfaces only", "brindlet m { input a: Int output a }", { interfaces: ADAPTER }],
    [
      "direct adapter call",
      "brindlet m { use store input a: Int derive b: Int = a + store.read(a) output b }",
      { interfaces: ADAPTER },
    ],
    [
      "effect function",
      "effect fn load(x: Int) -> Int { return store.read(x) }\nbrindlet m { use store derive b: Int = load(1) output b }",
      { interfaces: ADAPTER },
    ],
  ];
  for (const [label, source, options] of cases) {
    assertThrows(() => pureAST(compileModule(source, options)), UNSUPPORTED, label);
  }
});

test("pureAST finds a dotted call at any depth of functions, derives and input defaults", () => {
  const call = (name, ...args) => ({ kind: "call", name, args });
  const program = (fields) => ({ functions: [], interfaces: {}, derives: [], inputs: [], ...fields });
  const deep = { kind: "binary", operator: "+", left: { kind: "literal", value: 1, type: "Int" }, right: call("sum", call("a.b")) };
  const cases = [
    ["derive", program({ derives: [{ name: "d", type: "Int", expression: deep, dependencies: [] }] })],
    ["function local", program({ functions: [{ name: "f", params: [], returnType: "Int", locals: [{ name: "l", type: "Int", expression: deep }], expression: call("f") }] })],
    ["record field", program({ derives: [{ name: "d", type: "Record", expression: { kind: "record", fields: [{ key: "k", expression: call("x.y") }] } }] })],
    ["input default expression", program({ inputs: [{ name: "a", type: "Int", defaultExpression: call("x.y"), defaultValue: 1 }] })],
    ["effect field", program({ functions: [{ name: "f", params: [], returnType: "Int", expression: call("f"), effect: { adapter: "a.b" } }] })],
  ];
  for (const [label, value] of cases) assertThrows(() => pureAST(value), UNSUPPORTED, label);
});
