import { test, assert, assertEqual, assertDeepEqual } from "../harness.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { evaluateRaw, expectFailure, moduleOf } from "./evaluator-support.mjs";

const range = (count, make = (i) => i) => Array.from({ length: count }, (_, i) => make(i));

// Runs derive `d` with the given declarations and inputs; `inputs` maps each
// input name to [type, value].
async function stage(type, expression, { declarations = "", inputs = {}, env, maxSteps } = {}) {
  const declared = Object.entries(inputs).map(([name, [inputType]]) => `input ${name}: ${inputType}`).join(" ");
  const values = Object.fromEntries(Object.entries(inputs).map(([name, [, value]]) => [name, value]));
  return evaluateRaw(moduleOf(type, expression, { declarations, inputs: declared }), { inputs: values, env, maxSteps });
}

function expectValue(outcome, value, type, steps, label) {
  if (outcome.error !== undefined) throw outcome.error;
  assertDeepEqual(outcome.item.value, value, label);
  if (type !== undefined) assertEqual(outcome.item.type, type, `${label} type`);
  if (steps !== undefined) assertEqual(outcome.steps, steps, `${label} steps`);
  assert(Object.isFrozen(outcome.item.value), `${label} frozen`);
}

// ---- sortBy -------------------------------------------------------------------

const IDENTITY_TEXT = "fn k(x: Text) -> Text { return x }";

test("sortBy orders Text keys by code units", async () => {
  // 5 nodes, 3 key calls of 2 steps, the item count 3, and three comparisons:
  // "b"/"a" (1 unit), "a"/"ab" (1 unit, prefix), "b"/"ab" (1 unit).
  expectValue(await stage("Text[]", '["b", "a", "ab"] |> sortBy(k)', { declarations: IDENTITY_TEXT }), ["a", "ab", "b"], "Text[]", 5 + 6 + 3 + 6, "texts");
  expectValue(await stage("Text[]", '["a", "B"] |> sortBy(k)', { declarations: IDENTITY_TEXT }), ["B", "a"], "Text[]", undefined, "case");
  // 0 and 1 items make no comparison: node, receiver, then key calls and count.
  expectValue(await stage("Text[]", "x |> sortBy(k)", { declarations: IDENTITY_TEXT, inputs: { x: ["Text[]", []] } }), [], "Text[]", 2, "empty");
  expectValue(await stage("Text[]", "x |> sortBy(k)", { declarations: IDENTITY_TEXT, inputs: { x: ["Text[]", ["z"]] } }), ["z"], "Text[]", 5, "single");
});

test("sortBy is stable and treats -0 and 0 as equal", async () => {
  const records = [{ k: "b", i: 1 }, { k: "a", i: 2 }, { k: "b", i: 3 }, { k: "a", i: 4 }];
  const byKey = await stage("Record[]", "x |> sortBy(key)", {
    declarations: 'fn key(r: Record) -> Text { return readText(r, "k") }',
    inputs: { x: ["Record[]", records] },
  });
  assertDeepEqual(byKey.item.value.map((r) => r.i), [2, 4, 1, 3]);

  const floats = await stage("Float[]", "x |> sortBy(f)", {
    declarations: "fn f(v: Float) -> Float { return v }",
    inputs: { x: ["Float[]", [0, -0, -1, 0.5, -0]] },
  });
  const sorted = floats.item.value;
  assertEqual(sorted[0], -1);
  assert(Object.is(sorted[1], 0) && Object.is(sorted[2], -0) && Object.is(sorted[3], -0), "zeros keep their order");
  assertEqual(sorted[4], 0.5);
});

test("sortBy charges Record members and bounds keys and result", async () => {
  const one = await stage("Record[]", "x |> sortBy(key)", {
    declarations: 'fn key(r: Record) -> Int { return readInt(r, "n") }',
    inputs: { x: ["Record[]", [{ n: 1, m: [1, 2] }]] },
  });
  // 2 nodes; 1 + key body (call, ref, literal) = 4; count 1; members n, m, 1, 2 = 4
  assertEqual(one.steps, 2 + 4 + 1 + 4);

  const longKeys = await stage("Text[]", "x |> sortBy(k)", {
    declarations: IDENTITY_TEXT,
    inputs: { x: ["Text[]", range(4000, (i) => String(i).padEnd(300, "x"))] },
  });
  expectFailure(longKeys, { code: "SORT_KEYS_BYTES", message: "Полный префикс ключей sortBy превышает лимит UTF-8." });
  // 2 + 302 per key + 1 per comma passes 1048576 at the 3461st key
  assertEqual(longKeys.steps, 2 + 3461 * 2);

  const bigRecords = await stage("Record[]", "x |> sortBy(key)", {
    declarations: 'fn key(r: Record) -> Int { return readInt(r, "n") }',
    inputs: { x: ["Record[]", range(18, (n) => ({ n, t: "x".repeat(60000) }))] },
  });
  expectFailure(bigRecords, { code: "SORT_RESULT_BYTES", message: "Полный результат sortBy превышает лимит UTF-8." });

  const tooMany = await stage("Int[]", "x |> sortBy(f)", {
    declarations: "fn f(v: Int) -> Int { return v }",
    inputs: { x: ["Int[]", []] },
    env: { x: { value: Object.freeze(range(4097)), type: "Int[]" } },
  });
  expectFailure(tooMany, { code: "SORT_ITEMS", message: "Массив sortBy содержит слишком много элементов." });
  const untyped = await stage("Int[]", "x |> sortBy(f)", {
    declarations: "fn f(v: Int) -> Int { return v }",
    inputs: { x: ["Int[]", []] },
    env: { x: { value: UNKNOWN, type: "Int[]" } },
  });
  expectFailure(untyped, { code: "ARRAY_SCHEMA", message: "Ожидается проверенный типизированный массив." });
});

// ---- filter ---------------------------------------------------------------------

test("filter keeps the items its predicate accepts", async () => {
  // 1 + array 4; per item 1 + body 3; then the 2 kept
  expectValue(
    await stage("Int[]", "[1, 2, 3] |> filter(big)", { declarations: "fn big(x: Int) -> Truth { return x > 1 }" }),
    [2, 3],
    "Int[]",
    5 + 12 + 2,
    "filter",
  );
  const records = await stage("Record[]", "x |> filter(p)", {
    declarations: 'fn p(r: Record) -> Truth { return hasField(r, "a") }',
    inputs: { x: ["Record[]", [{ a: [1] }, { b: 1 }]] },
  });
  // 2 + per item (1 + call, ref, literal) + kept 1 + members of {a: [1]} 2
  expectValue(records, [{ a: [1] }], "Record[]", 2 + 8 + 1 + 2, "records");
});

test("a filter predicate returning unknown fails at once", async () => {
  const outcome = await stage("Int[]", "[1, 2] |> filter(p)", {
    declarations: "fn p(x: Int) -> Truth { return choose(x == 1, unknown, yes, yes) }",
  });
  expectFailure(outcome, { code: "FILTER_PREDICATE_UNKNOWN", message: "Предикат filter вернул unknown." });
  const tooMany = await stage("Int[]", "x |> filter(p)", {
    declarations: "fn p(v: Int) -> Truth { return yes }",
    inputs: { x: ["Int[]", []] },
    env: { x: { value: Object.freeze(range(4097)), type: "Int[]" } },
  });
  expectFailure(tooMany, { code: "FILTER_ITEMS", message: "Массив filter содержит слишком много элементов." });
});

// ---- each, fold, repeat ---------------------------------------------------------

test("each maps items and types the result by the node", async () => {
  expectValue(
    await stage("Int[]", "[1, 2] |> each(double)", { declarations: "fn double(x: Int) -> Int { return x * 2 }" }),
    [2, 4],
    "Int[]",
    4 + 2 * 4,
    "each",
  );
  expectValue(
    await stage("Int[]", "[] |> each(size)", { declarations: "fn size(x: Text) -> Int { return len(x) }" }),
    [],
    "Int[]",
    2,
    "empty",
  );
  const big = await stage("Text[]", "x |> each(id)", {
    declarations: "fn id(t: Text) -> Text { return t }",
    inputs: { x: ["Text[]", range(20, () => "y".repeat(60000))] },
  });
  expectFailure(big, { code: "EACH_RESULT_BYTES", message: "Полный результат each превышает лимит UTF-8." });
  // 2 + 60002 per result + 1 per comma passes 1048576 at the 18th result
  assertEqual(big.steps, 2 + 18 * 2);
});

test("fold threads its state through the items", async () => {
  const add = "fn add(s: Int, x: Int) -> Int { return s + x }";
  const cases = [
    // 6 nodes, 3 x (1 + 3)
    ["Int", "[1, 2, 3] |> fold(add, 0)", add, 6, "Int", 18],
    ["Int", "[] |> fold(add, 7)", add, 7, "Int", 3],
    ["Float", "[1, 2] |> fold(addf, 0)", "fn addf(s: Float, x: Int) -> Float { return s + x }", 3, "Float", 5 + 8],
  ];
  for (const [type, expression, declarations, value, resultType, steps] of cases) {
    expectValue(await stage(type, expression, { declarations }), value, resultType, steps, expression);
  }
});

test("a fold state past the canonical-byte limit fails right after its step", async () => {
  // Sixteen fields whose key and value are the same 32765-unit text: the Record
  // stays within the Record limits (1048544 JSON bytes) while its canonical
  // form reaches 1048577 bytes.
  const keys = range(16, (i) => String.fromCharCode(97 + i) + "x".repeat(32764));
  const outcome = await stage("Record", "x |> fold(put, {})", {
    declarations: "fn put(s: Record, k: Text) -> Record { return s |> withField(k, k) }",
    inputs: { x: ["Text[]", keys] },
  });
  expectFailure(outcome, { code: "FOLD_STATE_BYTES", message: "Полное состояние fold превышает лимит UTF-8." });
  // 3 nodes; for the k-th item 1 + 4 nodes + k fields
  assertEqual(outcome.steps, 3 + range(16, (i) => 5 + i + 1).reduce((a, b) => a + b, 0));
  const fifteen = await stage("Record", "x |> fold(put, {})", {
    declarations: "fn put(s: Record, k: Text) -> Record { return s |> withField(k, k) }",
    inputs: { x: ["Text[]", keys.slice(0, 15)] },
  });
  assertEqual(Object.keys(fifteen.item.value).length, 15);
});

test("repeat runs its callback with the index", async () => {
  const step = "fn step(s: Int, i: Int) -> Int { return s + i }";
  expectValue(await stage("Int", "3 |> repeat(step, 0)", { declarations: step }), 3, "Int", 3 + 3 * 4, "three");
  expectValue(await stage("Int", "0 |> repeat(step, 5)", { declarations: step }), 5, "Int", 3, "zero");
  expectValue(
    await stage("Float", "2 |> repeat(stepf, 1)", { declarations: "fn stepf(s: Float, i: Int) -> Float { return s * 2.0 }" }),
    4,
    "Float",
    3 + 2 * 4,
    "float state",
  );
  for (const count of [-1, 4097]) {
    const outcome = await stage("Int", "n |> repeat(step, 0)", { declarations: step, inputs: { n: ["Int", count] } });
    expectFailure(outcome, { code: "REPEAT_COUNT", message: "Число повторений repeat выходит за допустимые границы." });
  }
  const unknown = await stage("Int", "n |> repeat(step, 0)", {
    declarations: step,
    inputs: { n: ["Int", 0] },
    env: { n: { value: UNKNOWN, type: "Int" } },
  });
  expectFailure(unknown, { code: "VALUE_TYPE", message: "Int требует безопасное целое число." });
});

// ---- at, append, concat -----------------------------------------------------------

test("at reads one item after checking the array", async () => {
  expectValue(await stage("Int", "[10, 20, 30] |> at(1)", {}), 20, "Int", 7, "at");
  // Record items charge their members: {a: [1, 2]} has 3
  const record = await stage("Record", "x |> at(0)", { inputs: { x: ["Record[]", [{ a: [1, 2] }]] } });
  assertEqual(record.steps, 4 + 3);
  for (const index of [3, -1]) {
    const outcome = await stage("Int", "[10, 20, 30] |> at(i)", { inputs: { i: ["Int", index] } });
    expectFailure(outcome, { code: "ARRAY_INDEX", message: "Индекс выходит за границы массива." });
  }
  const unknownIndex = await stage("Int", "[10] |> at(i)", { inputs: { i: ["Int", 0] }, env: { i: { value: UNKNOWN, type: "Int" } } });
  expectFailure(unknownIndex, { code: "VALUE_TYPE", message: "Int требует безопасное целое число." });
  // The array is checked before the index is evaluated.
  const notArray = await stage("Int", "x |> at(i)", {
    inputs: { x: ["Int[]", []], i: ["Int", 0] },
    env: { x: { value: UNKNOWN, type: "Int[]" }, i: { value: UNKNOWN, type: "Int" } },
  });
  expectFailure(notArray, { code: "ARRAY_SCHEMA", message: "Ожидается проверенный массив." });
  assertEqual(notArray.steps, 2);
});

test("append adds one item under the count and size limits", async () => {
  expectValue(await stage("Int[]", "[1, 2] |> append(3)", {}), [1, 2, 3], "Int[]", 8, "append");
  expectValue(await stage("Float[]", "x |> append(2)", { inputs: { x: ["Float[]", [1.5]] } }), [1.5, 2], "Float[]", undefined, "int into float");
  expectValue(await stage("Truth[]", "[yes] |> append(unknown)", {}), ["yes", UNKNOWN], "Truth[]", undefined, "unknown truth");
  const full = await stage("Int[]", "x |> append(1)", { inputs: { x: ["Int[]", range(4096)] } });
  expectFailure(full, { code: "APPEND_ITEMS", message: "Результат append содержит слишком много элементов." });
  const large = await stage("Text[]", "x |> append(y)", {
    inputs: { x: ["Text[]", range(16, () => "z".repeat(65530))], y: ["Text", "z".repeat(65530)] },
  });
  expectFailure(large, { code: "APPEND_RESULT_BYTES", message: "Полный результат append превышает лимит UTF-8." });
  const retyped = await stage("Int[]", "x |> append(1)", { inputs: { x: ["Int[]", []] }, env: { x: { value: Object.freeze([1]), type: "Float[]" } } });
  expectFailure(retyped, { code: "ARRAY_SCHEMA", message: "Ожидается проверенный типизированный массив." });
});

test("concat joins two compatible arrays", async () => {
  expectValue(await stage("Int[]", "[1] |> concat([2, 3])", {}), [1, 2, 3], "Int[]", 9, "concat");
  expectValue(await stage("Float[]", "[1.5] |> concat([1, 2])", {}), [1.5, 1, 2], "Float[]", undefined, "float and int");
  expectValue(await stage("Int[]", "x |> concat([])", { inputs: { x: ["Int[]", [4, 5]] } }), [4, 5], "Int[]", undefined, "empty right");
  // Record items charge their members
  const records = await stage("Record[]", "x |> concat(x)", { inputs: { x: ["Record[]", [{ a: 1 }]] } });
  assertEqual(records.steps, 3 + 2 + 2);

  const half = range(2048);
  expectValue(
    await stage("Int[]", "x |> concat(y)", { inputs: { x: ["Int[]", half], y: ["Int[]", half] } }),
    half.concat(half),
    "Int[]",
    3 + 4096,
    "4096 items",
  );
  const over = await stage("Int[]", "x |> concat(y)", { inputs: { x: ["Int[]", half], y: ["Int[]", range(2049)] } });
  expectFailure(over, { code: "CONCAT_ITEMS", message: "Результат concat содержит слишком много элементов." });
  const notArray = await stage("Int[]", "x |> concat(y)", {
    inputs: { x: ["Int[]", []], y: ["Int[]", []] },
    env: { y: { value: UNKNOWN, type: "Int[]" } },
  });
  expectFailure(notArray, { code: "ARRAY_SCHEMA", message: "Ожидаются проверенные совместимые типизированные массивы." });
  const large = await stage("Text[]", "x |> concat(x)", { inputs: { x: ["Text[]", range(9, () => "w".repeat(65530))] } });
  expectFailure(large, { code: "CONCAT_RESULT_BYTES", message: "Полный результат concat превышает лимит UTF-8." });
});
