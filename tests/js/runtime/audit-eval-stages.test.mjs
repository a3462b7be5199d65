// Second-reader checks of the pipeline stages as programs meet them: the
// callback stages, indexing and growing arrays, integer division, the optional
// stages, and the text and record stages. Expected values and step counts are
// worked out by hand from the stage rules.
import { test, assert, assertEqual, assertDeepEqual } from "../harness.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { evaluateDerive as stage, expectFailure, expectItem } from "./evaluator-support.mjs";

const MAX = 9007199254740991;


// A Record of 2000 fields "k0000" … whose canonical form is larger than its
// Record size: each field adds a colon and a comma that the Record size does
// not count. With 515-unit texts the Record holds 2000 x (7 + 517) = 1048000
// bytes of names and scalars, while its canonical form has
// 2 + 2000 x (7 + 1 + 517) + 1999 = 1052001 bytes.
function wideRecord(textLength) {
  const record = {};
  for (let i = 0; i < 2000; i += 1) record["k" + String(i).padStart(4, "0")] = "x".repeat(textLength);
  return record;
}

test("fold and repeat test the canonical size of the seed before any step", async () => {
  const declarations =
    "fn keep(s: Record, x: Int) -> Record { return s }\n" +
    "fn again(s: Record, i: Int) -> Record { return s }";
  const cases = [
    ["xs |> fold(keep, r)", { code: "FOLD_STATE_BYTES", message: "Полное состояние fold превышает лимит UTF-8." }],
    ["n |> repeat(again, r)", { code: "REPEAT_STATE_BYTES", message: "Полное состояние repeat превышает лимит UTF-8." }],
  ];
  for (const [expression, failure] of cases) {
    const inputs = { xs: ["Int[]", []], n: ["Int", 0], r: ["Record", wideRecord(515)] };
    const outcome = await stage("Record", expression, { declarations, inputs });
    expectFailure(outcome, failure);
    // the stage, its receiver and its seed; no callback ran
    assertEqual(outcome.steps, 3, expression);
    const small = await stage("Record", expression, { declarations, inputs: { ...inputs, r: ["Record", { a: 1 }] } });
    expectItem(small, { a: 1 }, "Record", `${expression} small seed`, 3);
  }
});

test("repeat runs count times with the index and bounds the count first", async () => {
  const step = "fn step(s: Int, i: Int) -> Int { return s * 10 + i }";
  // 3 nodes, then per iteration 1 + the body's 5 nodes
  expectItem(await stage("Int", "n |> repeat(step, 7)", { declarations: step, inputs: { n: ["Int", 3] } }), 7012, "Int", "three", 3 + 3 * 6);
  const countFault = { code: "REPEAT_COUNT", message: "Число повторений repeat выходит за допустимые границы." };
  for (const count of [-1, 4097]) {
    // the seed is not evaluated once the count is refused
    const outcome = await stage("Int", "n |> repeat(step, 9007199254740991 + 1)", { declarations: step, inputs: { n: ["Int", count] } });
    expectFailure(outcome, countFault);
  }
  const unknown = await stage("Int", "n |> repeat(step, 0)", {
    declarations: step,
    inputs: { n: ["Int", 1] },
    env: { n: { value: UNKNOWN, type: "Int" } },
  });
  expectFailure(unknown, { code: "VALUE_TYPE", message: "Int требует безопасное целое число." });
});

test("fold normalizes the seed at the state type and returns the last state", async () => {
  const declarations = "fn add(s: Float, x: Int) -> Float { return s + x }";
  // an Int seed is admitted at Float and typed so, even with no items
  expectItem(await stage("Float", "[] |> fold(add, 0)", { declarations }), 0, "Float", "empty", 3);
  // 5 nodes; per item 1 + 3 body nodes
  expectItem(await stage("Float", "[1, 2] |> fold(add, 0.5)", { declarations }), 3.5, "Float", "two items", 5 + 2 * 4);
});

test("filter charges each predicate call and the items kept", async () => {
  const declarations = "fn big(x: Int) -> Truth { return x > 1 }";
  // 5 nodes; per item 1 + 3 body nodes; 2 kept
  expectItem(await stage("Int[]", "[1, 2, 3] |> filter(big)", { declarations }), [2, 3], "Int[]", "kept", 5 + 3 * 4 + 2);
  const unknownAt = 'fn ok(r: Record) -> Truth { return readTruth(r, "ok") }';
  const items = [{ ok: "yes" }, { ok: null }, { ok: "yes" }];
  const outcome = await stage("Record[]", "xs |> filter(ok)", { declarations: unknownAt, inputs: { xs: ["Record[]", items] } });
  expectFailure(outcome, { code: "FILTER_PREDICATE_UNKNOWN", message: "Предикат filter вернул unknown." });
  // 2 nodes; two predicate calls of 1 + 3 nodes each; the third item is never reached
  assertEqual(outcome.steps, 2 + 2 * 4);
});

test("each types its result by the node and passes results on unconverted", async () => {
  const declarations = "fn name(x: Int) -> Text { return x |> toText() }\nfn half(x: Int) -> Float { return x / 2.0 }";
  expectItem(await stage("Text[]", "[] |> each(name)", { declarations }), [], "Text[]", "empty", 2);
  // 4 nodes; per item 1 + 3 body nodes
  expectItem(await stage("Float[]", "[1, 2] |> each(half)", { declarations }), [0.5, 1], "Float[]", "halves", 4 + 2 * 4);
  expectItem(await stage("Text[]", "[7, -7] |> each(name)", { declarations }), ["7", "-7"], "Text[]", "texts");
});

test("at checks the array before it evaluates the index", async () => {
  const large = Object.freeze(Array.from({ length: 4097 }, (_, i) => i));
  const refused = await stage("Int", "xs |> at(9007199254740991 + 1)", {
    inputs: { xs: ["Int[]", []] },
    env: { xs: { value: large, type: "Int[]" } },
  });
  expectFailure(refused, { code: "ARRAY_SCHEMA", message: "Ожидается проверенный массив." });
  assertEqual(refused.steps, 2, "the index is never evaluated");
  const unknownIndex = await stage("Int", "xs |> at(i)", {
    inputs: { xs: ["Int[]", [1]], i: ["Int", 0] },
    env: { i: { value: UNKNOWN, type: "Int" } },
  });
  expectFailure(unknownIndex, { code: "VALUE_TYPE", message: "Int требует безопасное целое число." });
  const index = { code: "ARRAY_INDEX", message: "Индекс выходит за границы массива." };
  for (const i of [-1, 3, MAX]) {
    expectFailure(await stage("Int", "[10, 20, 30] |> at(i)", { inputs: { i: ["Int", i] } }), index);
  }
  // 6 nodes and 1 for the read
  expectItem(await stage("Int", "[10, 20, 30] |> at(i)", { inputs: { i: ["Int", 2] } }), 30, "Int", "last", 7);
  // a Record item also charges its members: a, and the two items of a
  const records = [{ a: [1, 2] }];
  expectItem(await stage("Record", "xs |> at(0)", { inputs: { xs: ["Record[]", records] } }), { a: [1, 2] }, "Record", "record", 3 + 1 + 3);
});

test("append and concat type, count and charge their results", async () => {
  // 4 nodes; the new count 2; the unknown item is admitted as a Truth
  expectItem(await stage("Truth[]", "[yes] |> append(unknown)", {}), ["yes", UNKNOWN], "Truth[]", "unknown Truth", 4 + 2);
  // Int items of the right side stay integral inside a Float[]
  expectItem(await stage("Float[]", "[1.5] |> concat([2, 3])", {}), [1.5, 2, 3], "Float[]", "mixed", 6 + 3);
  expectItem(await stage("Float[]", "[1.5] |> concat([])", {}), [1.5], "Float[]", "empty right", 4 + 1);
  const records = [{ a: [1, 2] }, { b: 1 }];
  // 3 nodes (stage, ref, record literal with one field) + 1 member of the
  // literal; the count 3; members 3 + 1 + 1
  expectItem(
    await stage("Record[]", "xs |> append({c: 1})", { inputs: { xs: ["Record[]", records] } }),
    [{ a: [1, 2] }, { b: 1 }, { c: 1 }],
    "Record[]",
    "records",
    4 + 1 + 3 + 5,
  );
  const full = (count) => ["Int[]", Array.from({ length: count }, (_, i) => i)];
  expectFailure(await stage("Int[]", "xs |> append(1)", { inputs: { xs: full(4096) } }), {
    code: "APPEND_ITEMS",
    message: "Результат append содержит слишком много элементов.",
  });
  const half = await stage("Int[]", "xs |> concat(ys)", { inputs: { xs: full(2048), ys: full(2048) } });
  assertEqual(half.item.value.length, 4096);
  expectFailure(await stage("Int[]", "xs |> concat(ys)", { inputs: { xs: full(2048), ys: full(2049) } }), {
    code: "CONCAT_ITEMS",
    message: "Результат concat содержит слишком много элементов.",
  });
});

test("append bounds the exact canonical size of its whole result", async () => {
  // {"t":"…"} is the text plus 8 bytes: fifteen Records of 65536 bytes, the
  // brackets, 15 commas and a last Record of 65519 bytes make 1048576.
  const xs = Array.from({ length: 15 }, () => ({ t: "x".repeat(65528) }));
  const fits = await stage("Record[]", "xs |> append(r)", { inputs: { xs: ["Record[]", xs], r: ["Record", { t: "x".repeat(65511) }] } });
  assertEqual(fits.item.value.length, 16);
  // 3 nodes, the count 16 and one member per Record
  assertEqual(fits.steps, 3 + 16 + 16);
  const over = await stage("Record[]", "xs |> append(r)", { inputs: { xs: ["Record[]", xs], r: ["Record", { t: "x".repeat(65512) }] } });
  expectFailure(over, { code: "APPEND_RESULT_BYTES", message: "Полный результат append превышает лимит UTF-8." });
});

test("sortBy orders keys by code units and keeps equal keys in input order", async () => {
  const declarations = 'fn key(r: Record) -> Text { return readText(r, "k") }';
  const items = [
    { k: "b", i: 0 },
    { k: "\uE000", i: 1 },
    { k: "\u{10000}", i: 2 },
    { k: "B", i: 3 },
    { k: "b", i: 4 },
    { k: "", i: 5 },
  ];
  const outcome = await stage("Record[]", "xs |> sortBy(key)", { declarations, inputs: { xs: ["Record[]", items] } });
  assertDeepEqual(outcome.item.value.map((item) => item.i), [5, 3, 0, 4, 2, 1]);
  assertEqual(outcome.item.type, "Record[]");
});

test("quotient truncates toward zero; remainder takes the dividend's sign, never -0", async () => {
  const cases = [
    [-7, 2, -3, -1],
    [7, -2, -3, 1],
    [-7, -2, 3, -1],
    [6, 3, 2, 0],
    [-6, 3, -2, 0],
    [0, -5, 0, 0],
    [-1, 2, 0, -1],
    [-MAX, -1, MAX, 0],
    [MAX, 2, 4503599627370495, 1],
  ];
  for (const [x, y, quotient, remainder] of cases) {
    const inputs = { x: ["Int", x], y: ["Int", y] };
    expectItem(await stage("Int", "x |> quotient(y)", { inputs }), quotient, "Int", `${x} quotient ${y}`, 3);
    expectItem(await stage("Int", "x |> remainder(y)", { inputs }), remainder, "Int", `${x} remainder ${y}`, 3);
  }
  const zero = { code: "INT_DIV_ZERO", message: "Делитель Int не может быть нулём." };
  expectFailure(await stage("Int", "x |> quotient(0)", { inputs: { x: ["Int", 0] } }), zero);
  expectFailure(await stage("Int", "x |> remainder(0)", { inputs: { x: ["Int", 5] } }), zero);
});

test("orElse evaluates its fallback only for an absent value; present and require", async () => {
  const fallback = "x |> orElse(1 |> quotient(0))";
  // the stage, the receiver and the stage's own extra step
  expectItem(await stage("Int", fallback, { inputs: { x: ["Int?", 5] } }), 5, "Int", "present", 3);
  expectFailure(await stage("Int", fallback, { inputs: { x: ["Int?", null] } }), { code: "INT_DIV_ZERO" });
  expectItem(await stage("Int", "x |> orElse(4)", { inputs: { x: ["Int?", null] } }), 4, "Int", "absent", 4);
  // a stored unknown marker read back through an optional Record is absent
  const marker = { kind: "quelt-unknown" };
  expectItem(await stage("Truth", "r |> present()", { inputs: { r: ["Record?", marker] } }), "no", "Truth", "marker", 3);
  expectItem(await stage("Truth", "r |> present()", { inputs: { r: ["Record?", { kind: "other" }] } }), "yes", "Truth", "record", 3);
  expectFailure(await stage("Record", "r |> require()", { inputs: { r: ["Record?", null] } }), {
    code: "OPTIONAL_ABSENT",
    message: "Отсутствует обязательное значение DATA.",
  });
  expectItem(await stage("Int[]", "xs |> require()", { inputs: { xs: ["Int[]?", [1]] } }), [1], "Int[]", "present array", 3);
});

test("slice, toText and text stages on the documented examples", async () => {
  const x = "a\u{1F600}b";
  const cases = [
    ["Text", "t |> slice(1, 1)", "\u{1F600}"],
    ["Text", "t |> slice(3, 1)", ""],
    ["Text", "t |> slice(1, 9)", "\u{1F600}b"],
    ["Text", "f |> toText()", "1e+21"],
    ["Text", "z |> toText()", "-0"],
    ["Text", "u |> toText()", "unknown"],
    ["Text[]", 'c |> split(",")', ["a", "", "b"]],
    ["Text[]", '"" |> split(",")', [""]],
    ["Text", '["a", "b"] |> join(",")', "a,b"],
    ["Truth", 't |> contains("")', "yes"],
    ["Truth", 't |> endsWith("b")', "yes"],
  ];
  const inputs = { t: ["Text", x], f: ["Float", 1e21], z: ["Float", -0], u: ["Truth", "unknown"], c: ["Text", "a,,b"] };
  for (const [type, expression, value] of cases) {
    const outcome = await stage(type, expression, { inputs });
    expectItem(outcome, value, type, expression);
  }
  expectFailure(await stage("Text[]", 'c |> split("")', { inputs }), {
    code: "TEXT_SPLIT_SEPARATOR",
    message: "split требует непустой разделитель.",
  });
  expectFailure(await stage("Text", "t |> slice(-1, 1)", { inputs }), {
    code: "TEXT_SLICE_RANGE",
    message: "Начало и количество slice должны быть неотрицательными.",
  });
});

test("record stages: field position, the unknown marker, keys, checkFields and toJson", async () => {
  const r = { b: 1, a: [2], B: "x" };
  const cases = [
    ["Record", 'r |> withField("a", unknown)', { b: 1, a: { kind: "quelt-unknown" }, B: "x" }],
    ["Record", 'r |> withField("c", 1)', { b: 1, a: [2], B: "x", c: 1 }],
    ["Record", 'r |> withoutField("zz")', { b: 1, a: [2], B: "x" }],
    ["Record", 'r |> withoutField("b")', { a: [2], B: "x" }],
    ["Text[]", "r |> keys()", ["B", "a", "b"]],
    ["Text", "r |> toJson()", '{"B":"x","a":[2],"b":1}'],
    ["Text", "{n: -0.0, f: 2.0, g: 0.1, e: 1.0e21, u: unknown} |> toJson()", '{"e":1e21,"f":2,"g":1e-1,"n":-0.0,"u":{"kind":"quelt-unknown"}}'],
    ["Record", 'r |> checkFields({b: "Text[]"})', { valid: "no", code: "FIELD_TYPE", field: "b", expected: "Text[]", index: -1 }],
    ["Record", 'r |> checkFields({b: "Int", a: "Text[]"})', { valid: "no", code: "FIELD_ITEM_TYPE", field: "a", expected: "Text[]", index: 0 }],
    ["Record", 'r |> checkFields({zz: "Int", b: "Text"})', { valid: "no", code: "FIELD_MISSING", field: "zz", expected: "Int", index: -1 }],
    ["Record", 'r |> checkFields({a: "Float[]", b: "Float", B: "Text"})', { valid: "yes", code: "OK", field: "", expected: "", index: -1 }],
  ];
  for (const [type, expression, value] of cases) {
    const outcome = await stage(type, expression, { inputs: { r: ["Record", r] } });
    expectItem(outcome, value, type, expression);
    if (type === "Record") assert(Object.keys(outcome.item.value).join() === Object.keys(value).join(), `${expression} field order`);
  }
});

test("Result and schema stages charge their payloads and declared fields", async () => {
  const results = "result L: Int[]\nfn h(x: Int[]) -> Int { return len(x) }\nfn e(t: Text) -> Int { return len(t) }";
  const match = "[1, 2, 3] |> ok(L) |> match(h, e)";
  // 6 nodes; construction 3 + 2; matching 1 + 3; the handler's 2 nodes
  expectItem(await stage("Int", match, { declarations: results }), 3, "Int", "ok", 6 + 5 + 4 + 2);
  // construction needs work + 2 = 5 steps after the 6 nodes
  expectFailure(await stage("Int", match, { declarations: results, maxSteps: 6 + 4 }), { code: "STEP_BUDGET" });
  const errors = await stage("Int", '"bad" |> err(L) |> match(h, e)', { declarations: results });
  expectItem(errors, 3, "Int", "err", 3 + 2 + 1 + 2);

  const schema = "schema S { a: Int, tags: Text[] }";
  const record = { a: 1, tags: ["x", "y"], extra: 3 };
  // 3 nodes; admission 1 for a, 1 + 2 for tags; the field read 1 and its 2 members
  expectItem(await stage("Text[]", 'r |> asSchema(S) |> field("tags")', { declarations: schema, inputs: { r: ["Record", record] } }), ["x", "y"], "Text[]", "field", 3 + 4 + 1 + 2);
  // undeclared fields stay in the admitted Record
  expectItem(await stage("Record", "r |> asSchema(S) |> toRecord()", { declarations: schema, inputs: { r: ["Record", record] } }), record, "Record", "toRecord", 3 + 4);
  const badItem = await stage("Record", "r |> asSchema(S) |> toRecord()", { declarations: schema, inputs: { r: ["Record", { a: 1, tags: ["a", 1, "b"] }] } });
  expectFailure(badItem, { code: "SCHEMA_FIELD_ITEM_TYPE", message: 'Schema S, field "tags", expected Text[], index=1.' });
  const quoted = await stage("Record", "r |> asSchema(Q) |> toRecord()", { declarations: 'schema Q { "q\\"k": Int }', inputs: { r: ["Record", {}] } });
  expectFailure(quoted, { code: "SCHEMA_FIELD_MISSING", message: 'Schema Q, field "q\\"k", expected Int, index=-1.' });
});
