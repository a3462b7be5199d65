import { test, assertDeepEqual } from "../harness.mjs";
import { assertFault, compiles, deriveModule, repeat, block } from "./compile-support.mjs";

const lit = (value, type = "Int") => ({ kind: "literal", value, type });
const ref = (name) => ({ kind: "ref", name });
const bin = (operator, left, right) => ({ kind: "binary", operator, left, right });
const neg = (value) => ({ kind: "unary", operator: "-", value });

function derived(expression, type) {
  return compiles(deriveModule(expression, type)).derives[0].expression;
}

test("expressions: precedence and associativity", () => {
  const cases = [
    ["1 + 2 * 3", "Int", bin("+", lit(1), bin("*", lit(2), lit(3)))],
    ["10 - 2 - 3", "Int", bin("-", bin("-", lit(10), lit(2)), lit(3))],
    ["(10 - 2) * 3", "Int", bin("*", bin("-", lit(10), lit(2)), lit(3))],
    ["-5", "Int", neg(lit(5))],
    ["- - 5", "Int", neg(neg(lit(5)))],
    ["-i * i", "Int", bin("*", neg(ref("i")), ref("i"))],
    ["not b and b", "Truth", bin("and", { kind: "unary", operator: "not", value: ref("b") }, ref("b"))],
    ["b or b and b", "Truth", bin("or", ref("b"), bin("and", ref("b"), ref("b")))],
    ["i < 2 == b", "Truth", bin("==", bin("<", ref("i"), lit(2)), ref("b"))],
    ["i + 1 >= 2 * f", "Truth", bin(">=", bin("+", ref("i"), lit(1)), bin("*", lit(2), ref("f")))],
    // the pipe is loosest: the stage applies to the whole operand on its left
    ["xs |> take(2) |> sum() + 1", "Int", bin("+", { kind: "call", name: "sum", args: [{ kind: "call", name: "take", args: [ref("xs"), lit(2)] }] }, lit(1))],
    ["i + i |> toText()", "Text", { kind: "toText", value: bin("+", ref("i"), ref("i")) }],
    ["b and b |> toText()", "Text", { kind: "toText", value: bin("and", ref("b"), ref("b")) }],
    ['{a: 1, "b c": [2.5], fn: unknown}', "Record", {
      kind: "record",
      fields: [
        { key: "a", expression: lit(1) },
        { key: "b c", expression: { kind: "array", items: [lit(2.5, "Float")] } },
        { key: "fn", expression: lit(null, "Unknown") },
      ],
    }],
    ['choose(yes, "x", "y", t)', "Text", { kind: "call", name: "choose", args: [lit("yes", "Truth"), lit("x", "Text"), lit("y", "Text"), ref("t")] }],
    ["1e3", "Float", lit(1000, "Float")],
  ];
  for (const [expression, type, expected] of cases) assertDeepEqual(derived(expression, type), expected, expression);
});

test("expressions: parse faults", () => {
  const cases = [
    ["Int(3)", "EXPRESSION", "Expected expression, received Int", "Int(3)"],
    ["i +", "EXPRESSION", "Expected expression, received output", "output"],
    [")", "EXPRESSION", "Expected expression, received )", ") output"],
    ['"a" "b"', "UNSUPPORTED", 'Expected use, input, derive, or output; received b', '"b"'],
    ["(1 + 2", "SYNTAX", "Expected ), received output", "output"],
    ["m.f", "UNSUPPORTED", "Module members must be called", "m.f"],
    ["m.f.g()", "UNSUPPORTED", "Module members must be called", "m.f"],
    ["m.Int()", "IDENTIFIER", "Expected a non-reserved identifier", "Int()"],
    ["{a: 1, a: 2}", "DUPLICATE", "Duplicate Record literal key", "a: 2"],
    ['{"a": 1, a: 2}', "DUPLICATE", "Duplicate Record literal key", "a: 2"],
    ["{1: 2}", "RECORD_KEY", "Record keys require an identifier or Text literal", "1: 2"],
    ["{a: 1,}", "RECORD_KEY", "Record keys require an identifier or Text literal", "} output"],
    ["{a 1}", "SYNTAX", "Expected :, received 1", "1}"],
    ["[1, 2,]", "EXPRESSION", "Expected expression, received ]", "] output"],
    ["[1 2]", "SYNTAX", "Expected ], received 2", "2]"],
    ["len(xs,)", "EXPRESSION", "Expected expression, received )", ") output"],
    [`{${repeat(257, (k) => `k${k}: 1`, ", ")}}`, "RECORD_FIELD_LIMIT", "Record literal field limit is 256", "k256"],
    [`choose(${repeat(17, (k) => `${k}`, ", ")})`, "ARGUMENT_LIMIT", "Call argument limit is 16", "16)"],
  ];
  for (const [expression, code, message, at] of cases) {
    const source = deriveModule(expression);
    const marker = typeof at === "string" && at !== "<eof>" ? { text: at, last: true } : at;
    assertFault(source, { code, message, at: marker });
  }
});

test("expressions: literal and call bounds accept their limit", () => {
  compiles(block(`derive x: Record = {${repeat(256, (k) => `k${k}: 1`, ", ")}}`));
  const params = repeat(16, (k) => `p${k}: Int`, ", ");
  compiles(`fn f(${params}) -> Int { return p15 } ${block(`derive x: Int = f(${repeat(16, (k) => `${k}`, ", ")})`)}`);
});

test("expressions: parse depth limit counts parentheses and prefixes", () => {
  const nest = (n, inner) => `${"(".repeat(n)}${inner}${")".repeat(n)}`;
  compiles(block(`derive x: Int = ${nest(63, "1")}`));
  const deep = block(`derive x: Int = ${nest(64, "1")}`);
  assertFault(deep, { code: "DEPTH_LIMIT", message: "Expression depth limit is 64", at: "1)" });
  compiles(block(`derive x: Int = ${"-".repeat(63)}1`));
  assertFault(block(`derive x: Int = ${"-".repeat(64)}1`), { code: "DEPTH_LIMIT", message: "Expression depth limit is 64", at: "1 " });
});

test("expressions: tree height limit is checked after parsing", () => {
  // 64 operands nest 63 binary nodes: the leftmost operand sits at height 64
  compiles(block(`derive x: Int = ${repeat(64, () => "1", " + ")}`));
  const tall = block(`derive x: Int = ${repeat(65, () => "1", " + ")}`);
  assertFault(tall, { code: "DEPTH_LIMIT", message: "Expression depth limit is 64", at: "1 +" });
  // a chain of stages nests the same way
  compiles(block(`input n: Int derive y: Int = n ${repeat(63, () => "|> bitNot()")} output y`, ""));
  const stages = block(`input n: Int derive y: Int = n ${repeat(64, () => "|> bitNot()")} output y`, "");
  assertFault(stages, { code: "DEPTH_LIMIT", message: "Expression depth limit is 64", at: "n |>" });
});

test("expressions: node limit counts every declaration of the module", () => {
  // 1999 items and their array make 2000 nodes
  const items = (n) => `[${repeat(n, () => "1", ",")}]`;
  compiles(block(`derive x: Int[] = ${items(1999)}`));
  assertFault(block(`derive x: Int[] = ${items(2000)}`), { code: "NODE_LIMIT", message: "Expression node limit is 2000", at: "[1" });
  // split over a function, an input default and a derive: 1000 + 500 + 501 nodes
  const split = `fn f() -> Int[] { return ${items(999)} } brindlet m { input d: Int[] = ${items(499)} derive x: Int[] = ${items(500)} output x }`;
  assertFault(split, { code: "NODE_LIMIT", message: "Expression node limit is 2000", at: { text: "[1", last: true } });
  const fits = `fn f() -> Int[] { return ${items(999)} } brindlet m { input d: Int[] = ${items(499)} derive x: Int[] = ${items(499)} output x }`;
  compiles(fits);
});
