// Second-reader checks of the evaluator's core: three-valued logic, exact Int
// and finite Float arithmetic, comparisons, Text concatenation limits, choose,
// and the built-in functions. Every expected value and step count is worked
// out by hand from the language rules, not taken from a run.
import { test, assert, assertEqual } from "../harness.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { evaluateDerive as derive, expectFailure, expectItem } from "./evaluator-support.mjs";

const MAX = 9007199254740991;


const OVERFLOW = { code: "INT_OVERFLOW", message: "Переполнение Int." };
const NOT_FINITE = { code: "FLOAT_OVERFLOW", message: "Результат Float должен быть конечным." };

test("and / or / not over every pair of Truth values", async () => {
  const Y = "yes";
  const N = "no";
  const U = UNKNOWN;
  // [a, b, a and b, a or b]
  const table = [
    [Y, Y, Y, Y], [Y, N, N, Y], [Y, U, U, Y],
    [N, Y, N, Y], [N, N, N, N], [N, U, N, U],
    [U, Y, U, Y], [U, N, N, U], [U, U, U, U],
  ];
  const raw = (v) => (v === U ? "unknown" : v);
  for (const [a, b, and, or] of table) {
    const inputs = { a: ["Truth", raw(a)], b: ["Truth", raw(b)] };
    expectItem(await derive("Truth", "a and b", { inputs }), and, "Truth", `${raw(a)} and ${raw(b)}`, 3);
    expectItem(await derive("Truth", "a or b", { inputs }), or, "Truth", `${raw(a)} or ${raw(b)}`, 3);
  }
  for (const [a, not] of [[Y, N], [N, Y], [U, U]]) {
    expectItem(await derive("Truth", "not a", { inputs: { a: ["Truth", raw(a)] } }), not, "Truth", `not ${raw(a)}`, 2);
  }
});

test("Int arithmetic is exact up to the safe bound and fails one past it", async () => {
  const cases = [
    ["+", MAX, 0, MAX],
    ["+", 4503599627370496, 4503599627370495, MAX],
    ["+", MAX, 1, OVERFLOW],
    ["+", -MAX, -1, OVERFLOW],
    ["-", 0, MAX, -MAX],
    ["-", -MAX, 1, OVERFLOW],
    ["-", MAX, -1, OVERFLOW],
    ["-", 5, 5, 0],
    ["*", 94906265, 94906265, 9007199136250225],
    ["*", 94906266, 94906266, OVERFLOW],
    // the exact product 9007199254740993 rounds to 2^53 as a double; still refused
    ["*", 3, 3002399751580331, OVERFLOW],
    ["*", 2, 4503599627370496, OVERFLOW],
    ["*", MAX, -1, -MAX],
    ["*", -1, 0, 0],
    ["*", 0, -5, 0],
  ];
  for (const [operator, x, y, expected] of cases) {
    const label = `${x} ${operator} ${y}`;
    const outcome = await derive("Int", `x ${operator} y`, { inputs: { x: ["Int", x], y: ["Int", y] } });
    if (typeof expected === "number") expectItem(outcome, expected, "Int", label, 3);
    else {
      expectFailure(outcome, expected);
      assertEqual(outcome.steps, 3, `${label} steps`);
    }
  }
});

test("Float arithmetic keeps negative zero and refuses every non-finite result", async () => {
  const cases = [
    ["Float", "+", MAX, "Float", 1, 9007199254740992],
    ["Int", "+", MAX, "Float", 1, 9007199254740992],
    ["Int", "/", 7, "Float", 2, 3.5],
    ["Float", "+", 0.1, "Float", 0.2, 0.30000000000000004],
    ["Float", "*", -1.5, "Int", 0, -0],
    ["Float", "+", -0, "Float", -0, -0],
    ["Float", "-", 0, "Float", 0, 0],
    ["Float", "/", 0, "Float", -1, -0],
    ["Float", "*", 1e308, "Int", 10, NOT_FINITE],
    ["Float", "-", -1e308, "Float", 1e308, NOT_FINITE],
    ["Float", "/", 1, "Float", 0, NOT_FINITE],
    ["Float", "/", -1, "Float", -0, NOT_FINITE],
    ["Float", "/", 0, "Float", 0, NOT_FINITE],
  ];
  for (const [xType, operator, x, yType, y, expected] of cases) {
    const label = `${xType} ${x} ${operator} ${yType} ${y}`;
    const outcome = await derive("Float", `x ${operator} y`, { inputs: { x: [xType, x], y: [yType, y] } });
    if (typeof expected === "number") expectItem(outcome, expected, "Float", label, 3);
    else expectFailure(outcome, expected);
  }
});

test("comparisons: numbers numerically, texts by code units, unknown stays unknown", async () => {
  const cases = [
    ["Float", -0, "Float", 0, "==", "yes"],
    ["Float", -0, "Float", 0, "<", "no"],
    ["Float", -0, "Float", 0, ">=", "yes"],
    ["Int", 2, "Float", 2, "==", "yes"],
    ["Int", 2, "Float", 2.5, "!=", "yes"],
    ["Int", MAX, "Float", 9007199254740992, "<", "yes"],
    ["Text", "a", "Text", "ab", "<", "yes"],
    ["Text", "ab", "Text", "a", "<=", "no"],
    ["Text", "Z", "Text", "a", "<", "yes"],
    ["Text", "", "Text", "a", "<", "yes"],
    // U+10000 is written D800 DC00, which sorts before U+E000 in code units
    ["Text", "\u{10000}", "Text", "\uE000", "<", "yes"],
    // no normalization: a precomposed letter differs from its decomposed form
    ["Text", "\u00e9", "Text", "e\u0301", "==", "no"],
    ["Truth", "yes", "Truth", "yes", "==", "yes"],
    ["Truth", "yes", "Truth", "no", "!=", "yes"],
    ["Truth", "unknown", "Truth", "unknown", "==", UNKNOWN],
    ["Int?", null, "Int", 1, "==", UNKNOWN],
    ["Text?", "a", "Text", "a", "==", "yes"],
  ];
  for (const [xType, x, yType, y, operator, expected] of cases) {
    const label = `${JSON.stringify(x)} ${operator} ${JSON.stringify(y)}`;
    const outcome = await derive("Truth", `x ${operator} y`, { inputs: { x: [xType, x], y: [yType, y] } });
    expectItem(outcome, expected, "Truth", label, 3);
  }
  // Arithmetic with an absent operand is unknown typed "Unknown", not "Truth".
  const absent = await derive("Float?", "x * 2.0", { inputs: { x: ["Float?", null] } });
  expectItem(absent, UNKNOWN, "Unknown", "absent operand", 3);
});

test("Text concatenation is bounded by the UTF-8 size of the whole result", async () => {
  const pair = (x, y) => derive("Text", "x + y", { inputs: { x: ["Text", x], y: ["Text", y] } });
  const tooLarge = { code: "TEXT_CONCAT_BYTES", message: "Полный результат конкатенации превышает лимит UTF-8." };
  const emoji = "\u{1F600}";
  const cases = [
    // 4-byte characters: 65536 bytes in 32768 code units pass
    [emoji.repeat(8192), emoji.repeat(8192), true],
    [emoji.repeat(8192), emoji.repeat(8192) + "a", false],
    // a high surrogate ending x and a low one starting y join into one 4-byte character
    ["a".repeat(65532) + "\uD83D", "\uDE00", true],
    ["a".repeat(65533) + "\uD83D", "\uDE00", false],
    // unpaired surrogates count three bytes each
    ["\uD800".repeat(21845), "a", true],
    ["\uD800".repeat(21845), "ab", false],
    ["a".repeat(40000), "a".repeat(30000), false],
  ];
  for (const [x, y, fits] of cases) {
    const outcome = await pair(x, y);
    const label = `${x.length} + ${y.length} units`;
    if (fits) expectItem(outcome, x + y, "Text", label, 3 + x.length + y.length);
    else expectFailure(outcome, tooLarge);
  }
  // The length is charged before the texts are joined.
  const x = "abc";
  const y = "de";
  const short = await derive("Text", "x + y", { inputs: { x: ["Text", x], y: ["Text", y] }, maxSteps: 3 + 5 - 1 });
  expectFailure(short, { code: "STEP_BUDGET" });
  assertEqual(short.steps, 3);
});

test("choose evaluates one branch and re-types it with the node's type", async () => {
  const inputs = (c) => ({ c: ["Truth", c] });
  // Each unselected branch would fail if it ran: an Int overflow, a division by zero.
  const expression = "choose(c, 1, 9007199254740991 + 1, 2 |> quotient(0))";
  expectItem(await derive("Int", expression, { inputs: inputs("yes") }), 1, "Int", "yes branch", 3);
  expectFailure(await derive("Int", expression, { inputs: inputs("no") }), OVERFLOW);
  expectFailure(await derive("Int", expression, { inputs: inputs("unknown") }), { code: "INT_DIV_ZERO" });
  // The selected value is not converted: an Int literal in a Float choice stays integral.
  const mixed = await derive("Float", "choose(c, 1, 2.5, 3.5)", { inputs: inputs("yes") });
  expectItem(mixed, 1, "Float", "re-typed, unconverted", 3);
});

test("built-in functions: reads, sums, keep and map", async () => {
  const record = { i: 3, f: 3, t: "x", list: [1, 2, 3], truths: [null, "unknown", "yes", { kind: "quelt-unknown" }], nested: { a: [1, { b: 2 }] }, n: null };
  const cases = [
    // 3 nodes; the read charges the members of the field's value
    ["Float", 'readFloat(r, "f")', 3, "Float", 3],
    ["Int[]", 'readInts(r, "list")', [1, 2, 3], "Int[]", 3 + 3],
    ["Truth[]", 'readTruths(r, "truths")', [UNKNOWN, UNKNOWN, "yes", UNKNOWN], "Truth[]", 3 + 4 + 1],
    // members: a, its two items, and b
    ["Record", 'readRecord(r, "nested")', { a: [1, { b: 2 }] }, "Record", 3 + 4],
    ["Truth", 'readTruth(r, "n")', UNKNOWN, "Truth", 3],
    ["Truth", 'hasField(r, "n")', "yes", "Truth", 3],
    ["Int", 'len("")', 0, "Int", 2],
    ["Text[]", '["a", "b", "c"] |> take(2)', ["a", "b"], "Text[]", 5 + 1 + 2],
    ["Int[]", "[0, 3] |> map(* -1)", [0, -3], "Int[]", 4 + 1 + 2],
    ["Float[]", "[0.0, 3.0] |> map(* -1)", [-0, -3], "Float[]", 4 + 1 + 2],
    ["Float[]", "[2.0, 2.5] |> keep(== 2)", [2], "Float[]", 4 + 1 + 2],
    ["Float", "[1.5, 2] |> sum()", 3.5, "Float", 4 + 2],
  ];
  for (const [type, expression, value, resultType, steps] of cases) {
    const outcome = await derive(type, expression, { inputs: { r: ["Record", record] } });
    expectItem(outcome, value, resultType, expression, steps);
  }
  assert(Object.is((await derive("Int[]", "[0, 3] |> map(* -1)")).item.value[0], 0), "an Int product is never -0");
  assert(Object.is((await derive("Float[]", "[0.0] |> map(* -1)")).item.value[0], -0), "a Float product keeps -0");

  const failures = [
    ["Text", 'readText(r, "i")', "TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8."],
    ["Record", 'readRecord(r, "list")', "VALUE_TYPE", "Record требует JSON-объект."],
    ["Int", 'readInt(r, "n")', "VALUE_TYPE", "Int требует безопасное целое число."],
    ["Int", 'readInt(r, "missing")', "RECORD_FIELD", "Missing Record field missing."],
    ["Float", "[1.0e308, 1.0e308] |> sum()", "FLOAT_OVERFLOW", "Результат Float должен быть конечным."],
  ];
  for (const [type, expression, code, message] of failures) {
    expectFailure(await derive(type, expression, { inputs: { r: ["Record", record] } }), { code, message });
  }
  // The sum stops at the second item: 4 nodes and one step per item reached.
  assertEqual((await derive("Float", "[1.0e308, 1.0e308] |> sum()")).steps, 4 + 2);
});
