import { test, assert, assertEqual, assertDeepEqual } from "../harness.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { evaluateRaw, expectFailure, moduleOf, runBoth } from "./evaluator-support.mjs";

async function stage(type, expression, { declarations = "", inputs = {}, env } = {}) {
  const declared = Object.entries(inputs).map(([name, [inputType]]) => `input ${name}: ${inputType}`).join(" ");
  const values = Object.fromEntries(Object.entries(inputs).map(([name, [, value]]) => [name, value]));
  return evaluateRaw(moduleOf(type, expression, { declarations, inputs: declared }), { inputs: values, env });
}

function expectValue(outcome, value, type, steps, label) {
  if (outcome.error !== undefined) throw outcome.error;
  assertDeepEqual(outcome.item.value, value, label);
  if (type !== undefined) assertEqual(outcome.item.type, type, `${label} type`);
  if (steps !== undefined) assertEqual(outcome.steps, steps, `${label} steps`);
}

test("slice counts code points and charges every unit scanned", async () => {
  const text = "a\u{1F600}b";
  const cases = [
    // 4 nodes; "a" 1 step, the pair 2 steps, then stop
    [1, 1, "\u{1F600}", 4 + 3],
    [3, 1, "", 4 + 4],
    [1, 10, "\u{1F600}b", 4 + 4],
    [0, 0, "", 4],
    [2, 1, "b", 4 + 4],
  ];
  for (const [start, count, value, steps] of cases) {
    const outcome = await stage("Text", "t |> slice(s, n)", { inputs: { t: ["Text", text], s: ["Int", start], n: ["Int", count] } });
    expectValue(outcome, value, "Text", steps, `slice(${start}, ${count})`);
  }
  // An unpaired surrogate is one code point of one unit.
  expectValue(await stage("Text", "t |> slice(1, 1)", { inputs: { t: ["Text", "\uD800ab"] } }), "a", "Text", 4 + 2, "unpaired");
  for (const [start, count] of [[-1, 1], [0, -1]]) {
    const outcome = await stage("Text", "t |> slice(s, n)", { inputs: { t: ["Text", text], s: ["Int", start], n: ["Int", count] } });
    expectFailure(outcome, { code: "TEXT_SLICE_RANGE", message: "Начало и количество slice должны быть неотрицательными." });
  }
  const unknownStart = await stage("Text", "t |> slice(s, 1)", {
    inputs: { t: ["Text", "ab"], s: ["Int", 0] },
    env: { s: { value: UNKNOWN, type: "Int" } },
  });
  expectFailure(unknownStart, { code: "VALUE_TYPE", message: "Int требует безопасное целое число." });
});

test("toText writes the canonical form of scalars", async () => {
  const cases = [
    ["Float", -0, "-0"],
    ["Float", 1e21, "1e+21"],
    ["Float", 1e-7, "1e-7"],
    ["Float", 0.1, "0.1"],
    ["Float", 2, "2"],
    ["Int", 5, "5"],
    ["Int", -7, "-7"],
    ["Truth", "unknown", "unknown"],
    ["Truth", "yes", "yes"],
  ];
  for (const [type, input, text] of cases) {
    expectValue(await stage("Text", "x |> toText()", { inputs: { x: [type, input] } }), text, "Text", 2, `${type} ${input}`);
  }
});

test("quotient truncates toward zero and remainder takes the dividend's sign", async () => {
  const cases = [
    [-7, 2, -3, -1],
    [7, -2, -3, 1],
    [7, 2, 3, 1],
    [-4, 2, -2, 0],
    [9007199254740991, 2, 4503599627370495, 1],
    [-9007199254740991, 3, -3002399751580330, -1],
    [1, 9007199254740991, 0, 1],
  ];
  for (const [a, b, quotient, remainder] of cases) {
    const inputs = { a: ["Int", a], b: ["Int", b] };
    expectValue(await stage("Int", "a |> quotient(b)", { inputs }), quotient, "Int", 3, `${a} quotient ${b}`);
    const rest = await stage("Int", "a |> remainder(b)", { inputs });
    expectValue(rest, remainder, "Int", 3, `${a} remainder ${b}`);
    assert(!Object.is(rest.item.value, -0), "never negative zero");
  }
  for (const kind of ["quotient", "remainder"]) {
    const outcome = await stage("Int", `a |> ${kind}(0)`, { inputs: { a: ["Int", 5] } });
    expectFailure(outcome, { code: "INT_DIV_ZERO", message: "Делитель Int не может быть нулём." });
  }
  const optional = await stage("Int", "a |> quotient(2)", { inputs: { a: ["Int", 5] }, env: { a: { value: 5, type: "Int?" } } });
  expectFailure(optional, { code: "VALUE_TYPE", message: "Целочисленное деление требует Int." });
});

test("present, orElse and require", async () => {
  const absent = { x: ["Int?", null] };
  const present = { x: ["Int?", 5] };
  // 2 nodes and the stage's own step
  expectValue(await stage("Truth", "x |> present()", { inputs: absent }), "no", "Truth", 3, "present absent");
  expectValue(await stage("Truth", "x |> present()", { inputs: present }), "yes", "Truth", 3, "present");
  // The fallback is evaluated only for an absent value.
  const fallback = "x |> orElse(1 |> quotient(0))";
  expectValue(await stage("Int", fallback, { inputs: present }), 5, "Int", 3, "orElse present");
  expectFailure(await stage("Int", fallback, { inputs: absent }), { code: "INT_DIV_ZERO" });
  expectValue(await stage("Int", "x |> orElse(7)", { inputs: absent }), 7, "Int", 4, "orElse absent");
  expectValue(await stage("Int", "x |> require()", { inputs: present }), 5, "Int", 3, "require");
  expectFailure(await stage("Int", "x |> require()", { inputs: absent }), {
    code: "OPTIONAL_ABSENT",
    message: "Отсутствует обязательное значение DATA.",
  });
  // A present array passes on unchanged, typed by the stage.
  expectValue(await stage("Int[]", "x |> require()", { inputs: { x: ["Int[]?", [1]] } }), [1], "Int[]", 3, "array");
  const marker = await stage("Truth", "x |> present()", { inputs: absent, env: { x: { value: { kind: "quelt-unknown" }, type: "Int?" } } });
  assertEqual(marker.item.value, "no", "the stored marker is absent too");
});

test("withField and withoutField build new Records", async () => {
  const r = { r: ["Record", { a: 1, b: 2 }] };
  const cases = [
    ['r |> withField("a", 9)', { a: 9, b: 2 }],
    ['r |> withField("c", [3])', { a: 1, b: 2, c: [3] }],
    ['r |> withField("u", unknown)', { a: 1, b: 2, u: { kind: "quelt-unknown" } }],
    ['r |> withoutField("a")', { b: 2 }],
    ['r |> withoutField("zz")', { a: 1, b: 2 }],
  ];
  for (const [expression, value] of cases) {
    const outcome = await stage("Record", expression, { inputs: r });
    expectValue(outcome, value, "Record", undefined, expression);
    assertDeepEqual(Object.keys(outcome.item.value), Object.keys(value), `${expression} field order`);
    assert(Object.isFrozen(outcome.item.value), "frozen");
  }
  // 4 nodes and the new Record's members a, b, c and c's item
  assertEqual((await stage("Record", 'r |> withField("c", [3])', { inputs: r })).steps, 5 + 4);
  const notRecord = await stage("Record", 'r |> withoutField("a")', { inputs: r, env: { r: { value: [], type: "Record" } } });
  expectFailure(notRecord, { code: "VALUE_TYPE", message: "Операция поля требует Record, Text и исходные данные поля." });
});

test("keys, text operations, checkFields and toJson", async () => {
  const cases = [
    ["Text[]", "r |> keys()", { r: ["Record", { b: 1, a: 2, B: 3 }] }, ["B", "a", "b"], "Text[]"],
    ["Text[]", 't |> split(",")', { t: ["Text", "a,,b"] }, ["a", "", "b"], "Text[]"],
    ["Text", 'x |> join(",")', { x: ["Text[]", ["a", "b"]] }, "a,b", "Text"],
    ["Truth", 't |> contains("")', { t: ["Text", "abc"] }, "yes", "Truth"],
    ["Truth", 't |> endsWith("bc")', { t: ["Text", "abc"] }, "yes", "Truth"],
    [
      "Record",
      'r |> checkFields({a: "Int", b: "Text[]"})',
      { r: ["Record", { a: 1, b: [1] }] },
      { valid: "no", code: "FIELD_ITEM_TYPE", field: "b", expected: "Text[]", index: 0 },
      "Record",
    ],
    ["Text", "r |> toJson()", { r: ["Record", { b: 1, a: [true, null] }] }, '{"a":[true,null],"b":1}', "Text"],
  ];
  for (const [type, expression, inputs, value, resultType] of cases) {
    expectValue(await stage(type, expression, { inputs }), value, resultType, undefined, expression);
  }
  const notKeys = await stage("Text[]", "r |> keys()", { inputs: { r: ["Record", {}] }, env: { r: { value: "a", type: "Record" } } });
  expectFailure(notKeys, { code: "VALUE_TYPE", message: "keys требует известный Record." });
  const unknownText = await stage("Truth", 't |> contains("a")', { inputs: { t: ["Text", ""] }, env: { t: { value: UNKNOWN, type: "Text" } } });
  expectFailure(unknownText, { code: "VALUE_TYPE", message: "Text-операция требует известные типизированные данные." });
});

test("parsers and bit operations", async () => {
  const cases = [
    ["Int", '"-0" |> parseInt()', 0, "Int", 2 + 2],
    ["Float", '"0.1" |> parseFloat()', 0.1, "Float"],
    ["Int", "0 |> bitNot()", 4294967295, "Int", 2 + 32],
    ["Int", "4294967295 |> shiftLeft(1)", 4294967294, "Int", 3 + 32],
    ["Int", "12 |> bitAnd(10)", 8, "Int", 3 + 32],
  ];
  for (const [type, expression, value, resultType, steps] of cases) {
    expectValue(await stage(type, expression), value, resultType, steps, expression);
  }
  expectFailure(await stage("Float", '"1e" |> parseFloat()'), { code: "FLOAT_PARSE_SYNTAX" });
  expectFailure(await stage("Int", '"007" |> parseInt()'), { code: "INT_PARSE_SYNTAX" });
  expectFailure(await stage("Int", "1 |> shiftLeft(32)"), { code: "INT_BITS_SHIFT" });
});

// ---- schemas and Results ----------------------------------------------------------

const SCHEMA_MODULE = `schema S { a: Int, tags: Text[] }
fn pick(s: S) -> Int { return s |> field("a") }
brindlet m {
  input r: Record
  derive s: S = r |> asSchema(S)
  derive a: Int = s |> field("a")
  derive tags: Text[] = s |> field("tags")
  derive back: Record = s |> toRecord()
  derive picked: Int = pick(s)
  output a
}`;

test("schema stages admit, read and release Records", async () => {
  const outcome = await runBoth(SCHEMA_MODULE, { inputs: { r: { a: 4, tags: ["x", "y"], extra: true } } });
  assertEqual(outcome.error, undefined);
  assertEqual(outcome.types.s, "S");
  assertEqual(outcome.values.a, 4);
  assertDeepEqual(outcome.values.tags, ["x", "y"]);
  assertDeepEqual(outcome.values.back, { a: 4, tags: ["x", "y"], extra: true });
  assertEqual(outcome.values.picked, 4);
  // asSchema: 2 nodes, 1 per declared field, 1 per item; field: 2 nodes, 1, the
  // value's members; toRecord: 2 nodes; pick: call, ref, then field in the body
  assertDeepEqual(outcome.steps, { s: 2 + 2 + 2, a: 3, tags: 3 + 2, back: 2, picked: 2 + 3 });

  const bad = await runBoth(SCHEMA_MODULE, { inputs: { r: { a: 4, tags: ["a", 1, "b"] } } });
  expectFailure(bad, { code: "SCHEMA_FIELD_ITEM_TYPE", message: 'Schema S, field "tags", expected Text[], index=1.', at: "s" });
});

const RESULT_MODULE = `result R: Int
result L: Int[]
fn h(x: Int) -> Int { return x + 1 }
fn e(m: Text) -> Int { return len(m) }
fn total(xs: Int[]) -> Int { return xs |> sum() }
fn fail(m: Text) -> Int { return 0 }
brindlet m {
  input n: Int
  derive good: R = n |> ok(R)
  derive bad: R = "boom" |> err(R)
  derive chosen: R = choose(n > 0, good, bad, bad)
  derive fromGood: Int = good |> match(h, e)
  derive fromBad: Int = bad |> match(h, e)
  derive fromChosen: Int = chosen |> match(h, e)
  derive list: L = [1, 2, 3] |> ok(L)
  derive listed: Int = list |> match(total, fail)
  output fromGood
}`;

test("Result stages construct values and match them to handlers", async () => {
  const outcome = await runBoth(RESULT_MODULE, { inputs: { n: 5 } });
  assertEqual(outcome.error, undefined);
  assertDeepEqual(outcome.values.good, { tag: "ok", value: 5 });
  assertDeepEqual(outcome.values.bad, { tag: "err", value: "boom" });
  assertEqual(outcome.values.fromGood, 6);
  assertEqual(outcome.values.fromBad, 4);
  assertEqual(outcome.values.fromChosen, 6, "choose keeps the Result's identity");
  assertEqual(outcome.values.listed, 6);
  assertDeepEqual(outcome.steps, {
    // 2 nodes and 2 for construction
    good: 4,
    bad: 4,
    // call, condition (3), the branch
    chosen: 5,
    // 2 nodes, 1 for matching, then the handler's body
    fromGood: 3 + 3,
    fromBad: 3 + 2,
    fromChosen: 3 + 3,
    // 5 nodes, the payload's 3 items and 2
    list: 5 + 3 + 2,
    // 3, the payload's 3 items, then sum: call, ref and 3 items
    listed: 3 + 3 + 5,
  });
});
