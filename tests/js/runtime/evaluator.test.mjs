import { compileModule } from "quelt/compiler.mjs";
import { test, assert, assertEqual, assertDeepEqual, assertThrows, assertRejects } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import {
  evaluate,
  evaluateSync,
  invokeFunction,
  invokeFunctionSync,
  reachesAdapter,
} from "../../../quelt/runtime/evaluator.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";
import { TaskPool } from "../../../quelt/runtime/task-pool.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { contextFor, evaluateRaw, expectFailure, moduleOf } from "./evaluator-support.mjs";

const EMPTY = compileModule("brindlet m { input a: Int = 0 output a }");
const lit = (value, type) => Object.freeze({ kind: "literal", value, type });

// Hand-built nodes reach the runtime checks that the compiler never lets through.
async function evaluateNode(node, { maxSteps } = {}) {
  const outcomes = [];
  for (const run of [(ctx) => evaluateSync(node, new Map(), ctx), (ctx) => evaluate(node, new Map(), ctx)]) {
    const ctx = contextFor(EMPTY, { maxSteps });
    try {
      outcomes.push({ item: await run(ctx), steps: ctx.steps });
    } catch (error) {
      outcomes.push({ error, steps: ctx.steps });
    }
  }
  assertEqual(outcomes[1].error?.code, outcomes[0].error?.code, "both paths fail alike");
  assertEqual(outcomes[1].steps, outcomes[0].steps, "both paths charge alike");
  return outcomes[0];
}

test("nodes are charged one step each, plus the documented work", async () => {
  const fn = "fn f(x: Int) -> Int { let y: Int = x * 2; return y + 1 }";
  const cases = [
    ["Int", "1 + 2 * 3", "", 7, 5],
    ["Truth", "yes and unknown", "", UNKNOWN, 3],
    ["Int", "f(2)", fn, 5, 8],
    ["Int", "[1, 2, 3] |> sum()", "", 6, 8],
    ["Int[]", "[1, 2, 3] |> take(2)", "", [1, 2], 8],
    ["Text", '"ab" + "cde"', "", "abcde", 8],
    // a, b and b's two items are the Record's members
    ["Record", "{a: 1, b: [1, 2]}", "", { a: 1, b: [1, 2] }, 9],
  ];
  for (const [type, expression, declarations, value, steps] of cases) {
    const outcome = await evaluateRaw(moduleOf(type, expression, { declarations }));
    assertEqual(outcome.error, undefined, expression);
    assertDeepEqual(outcome.item.value, value, expression);
    assertEqual(outcome.steps, steps, `${expression} steps`);
  }
});

test("the step budget stops a run exactly at its boundary, before the work", async () => {
  const cases = [
    ["Int", "1 + 2 * 3", 5],
    ["Text", '"ab" + "cde"', 8],
    ["Int", "[1, 2, 3] |> sum()", 8],
    ["Int", "f(2)", 8],
  ];
  const declarations = "fn f(x: Int) -> Int { let y: Int = x * 2; return y + 1 }";
  for (const [type, expression, steps] of cases) {
    const source = moduleOf(type, expression, { declarations });
    const enough = await evaluateRaw(source, { maxSteps: steps });
    assertEqual(enough.error, undefined, `${expression} within ${steps}`);
    const short = await evaluateRaw(source, { maxSteps: steps - 1 });
    expectFailure(short, { code: "STEP_BUDGET" });
  }
  // Text concatenation charges its length before joining: 3 nodes, then 5.
  assertEqual((await evaluateRaw(moduleOf("Text", '"ab" + "cde"'), { maxSteps: 7 })).steps, 3);
});

test("and, or, not follow three-valued logic", async () => {
  const cases = [
    ["yes and unknown", UNKNOWN],
    ["no and unknown", "no"],
    ["unknown and no", "no"],
    ["yes and yes", "yes"],
    ["yes or unknown", "yes"],
    ["no or unknown", UNKNOWN],
    ["unknown or unknown", UNKNOWN],
    ["no or no", "no"],
    ["not unknown", UNKNOWN],
    ["not yes", "no"],
    ["not no", "yes"],
  ];
  for (const [expression, value] of cases) {
    const outcome = await evaluateRaw(moduleOf("Truth", expression));
    assertEqual(outcome.item.value, value, expression);
    assertEqual(outcome.item.type, "Truth", expression);
  }
});

test("and / or evaluate both operands and check both", async () => {
  // The right operand runs even when the left already decides: 5 steps in all.
  const source = moduleOf("Truth", "no and (1 < 2)");
  assertEqual((await evaluateRaw(source, { maxSteps: 5 })).item.value, "no");
  expectFailure(await evaluateRaw(source, { maxSteps: 4 }), { code: "STEP_BUDGET" });

  const notTruth = { code: "VALUE_TYPE", message: "Логическая операция требует Truth." };
  for (const operator of ["and", "or"]) {
    for (const [left, right] of [[lit("no", "Truth"), lit(1, "Int")], [lit(1, "Int"), lit("yes", "Truth")]]) {
      const outcome = await evaluateNode({ kind: "binary", operator, left, right });
      expectFailure(outcome, notTruth);
      assertEqual(outcome.steps, 3);
    }
  }
});

test("choose evaluates only the selected branch", async () => {
  const cases = [
    ["choose(unknown, 1 |> quotient(0), 2 |> quotient(0), 3)", 3],
    ["choose(yes, 1, 2 |> quotient(0), 3 |> quotient(0))", 1],
    ["choose(no, 1 |> quotient(0), 2, 3 |> quotient(0))", 2],
  ];
  for (const [expression, value] of cases) {
    const outcome = await evaluateRaw(moduleOf("Int", expression));
    assertEqual(outcome.item.value, value, expression);
    assertEqual(outcome.steps, 3, expression);
  }
  // The selected value is re-typed with the node's static type, unconverted.
  const optional = await evaluateRaw(moduleOf("Int?", "choose(unknown, 1, 2, unknown)"));
  assertEqual(optional.item.value, UNKNOWN);
  assertEqual(optional.item.type, "Int?");
});

test("unary minus and not", async () => {
  const cases = [
    ["Int", 0, 0, "Int"],
    ["Float", 0, -0, "Float"],
    ["Float", -0, 0, "Float"],
    ["Int", -9007199254740991, 9007199254740991, "Int"],
    ["Int?", null, UNKNOWN, "Unknown"],
    ["Float?", 1.5, -1.5, "Float?"],
    ["Int?", 4, -4, "Int"],
  ];
  for (const [type, input, value, resultType] of cases) {
    const outcome = await evaluateRaw(moduleOf(type, "-x", { inputs: `input x: ${type}` }), { inputs: { x: input } });
    assertEqual(outcome.item.value, value, `-(${type} ${input})`);
    assertEqual(outcome.item.type, resultType, `-(${type} ${input}) type`);
  }
  const notText = await evaluateNode({ kind: "unary", operator: "not", value: lit(1, "Int") });
  expectFailure(notText, { code: "VALUE_TYPE", message: "Логическая операция требует Truth." });
  const minusText = await evaluateNode({ kind: "unary", operator: "-", value: lit("a", "Text") });
  expectFailure(minusText, { code: "VALUE_TYPE", message: "Арифметика требует числовые значения." });
  const other = await evaluateNode({ kind: "unary", operator: "~", value: lit(1, "Int") });
  expectFailure(other, { code: "OPERATOR", message: "Неизвестная унарная операция." });
  const otherUnknown = await evaluateNode({ kind: "unary", operator: "~", value: lit(null, "Unknown") });
  assertEqual(otherUnknown.item.value, UNKNOWN);
});

test("binary arithmetic and comparison", async () => {
  const cases = [
    ["Int", "9007199254740990 + 1", 9007199254740991, "Int"],
    ["Float", "9007199254740991.0 + 1", 9007199254740992, "Float"],
    ["Float", "1.0 / 2", 0.5, "Float"],
    ["Float", "-1.5 * 0.0", -0, "Float"],
    ["Truth", "2 == 2.0", "yes", "Truth"],
    ["Truth", '"Z" < "a"', "yes", "Truth"],
    ["Truth", '"a" < "ab"', "yes", "Truth"],
  ];
  for (const [type, expression, value, resultType] of cases) {
    const outcome = await evaluateRaw(moduleOf(type, expression));
    assertEqual(outcome.item.value, value, expression);
    assertEqual(outcome.item.type, resultType, expression);
  }
  const failures = [
    ["Int", "9007199254740991 + 1", "INT_OVERFLOW"],
    ["Int", "-9007199254740991 - 1", "INT_OVERFLOW"],
    ["Int", "4503599627370496 * 2", "INT_OVERFLOW"],
    ["Float", "1.0 / 0", "FLOAT_OVERFLOW"],
  ];
  for (const [type, expression, code] of failures) {
    expectFailure(await evaluateRaw(moduleOf(type, expression)), { code });
  }
  const optional = await evaluateRaw(moduleOf("Int?", "x + 1", { inputs: "input x: Int?" }), { inputs: { x: null } });
  assertEqual(optional.item.value, UNKNOWN);
  assertEqual(optional.item.type, "Unknown");
  const comparison = await evaluateRaw(moduleOf("Truth", "x < 1", { inputs: "input x: Int?" }), { inputs: { x: null } });
  assertEqual(comparison.item.value, UNKNOWN);
  assertEqual(comparison.item.type, "Truth");
  // An optional Int that is present still takes the exact Int path.
  const present = await evaluateRaw(moduleOf("Int?", "x * 3", { inputs: "input x: Int?" }), { inputs: { x: -0 } });
  assertEqual(present.item.value, 0);
  assertEqual(present.item.type, "Int");

  const modulo = await evaluateNode({ kind: "binary", operator: "%", left: lit(1, "Int"), right: lit(2, "Int") });
  expectFailure(modulo, { code: "OPERATOR", message: "Неизвестная бинарная операция." });
  assertEqual(modulo.steps, 3);
  const division = await evaluateNode({ kind: "binary", operator: "/", left: lit(1, "Int"), right: lit(2, "Int") });
  expectFailure(division, { code: "INTEGER_DIVISION", message: "Для деления требуется Float." });
});

test("Text concatenation", async () => {
  const source = moduleOf("Text?", 'x + "b"', { inputs: "input x: Text?" });
  const absent = await evaluateRaw(source, { inputs: { x: null } });
  assertEqual(absent.item.value, UNKNOWN);
  assertEqual(absent.item.type, "Text?");
  assertEqual(absent.steps, 3, "no length is charged for an unknown operand");

  const pair = moduleOf("Text", "x + y", { inputs: "input x: Text input y: Text" });
  const cases = [
    ["a".repeat(40000), "a".repeat(30000), "TEXT_CONCAT_BYTES"],
    // 65536 UTF-8 bytes pass; the limit counts bytes, not code units
    ["é".repeat(16384), "é".repeat(16384), null],
    ["é".repeat(22000), "é".repeat(11000), "TEXT_CONCAT_BYTES"],
  ];
  for (const [x, y, code] of cases) {
    const outcome = await evaluateRaw(pair, { inputs: { x, y } });
    if (code === null) {
      assertEqual(outcome.item.value, x + y);
      assertEqual(outcome.steps, 3 + x.length + y.length);
    } else {
      expectFailure(outcome, { code, message: "Полный результат конкатенации превышает лимит UTF-8." });
    }
  }
  const node = (operator, left) => ({ kind: "binary", operator, textConcat: true, left, right: lit("b", "Text") });
  expectFailure(await evaluateNode(node("-", lit("a", "Text"))), {
    code: "OPERATOR",
    message: "Конкатенация Text требует +.",
  });
  expectFailure(await evaluateNode(node("+", lit(1, "Int"))), {
    code: "VALUE_TYPE",
    message: "Конкатенация требует Text.",
  });
});

test("array literals are typed from their items", async () => {
  const cases = [
    ["Float[]", "[1, 2.5]", [1, 2.5], "Float[]"],
    ["Int[]", "[]", [], "EmptyArray"],
    ["Int[]", "[1, x]", [1, 2], "Int[]"],
  ];
  for (const [type, expression, value, resultType] of cases) {
    const outcome = await evaluateRaw(moduleOf(type, expression, { inputs: "input x: Int = 2" }));
    assertDeepEqual(outcome.item.value, value, expression);
    assertEqual(outcome.item.type, resultType, expression);
    assert(Object.isFrozen(outcome.item.value), "frozen");
  }
  // The compiler refuses unknown items, but the runtime rule still types them.
  const mixed = await evaluateNode({ kind: "array", items: [lit("yes", "Truth"), lit(null, "Unknown")] });
  assertDeepEqual(mixed.item.value, ["yes", UNKNOWN]);
  assertEqual(mixed.item.type, "Truth[]");
  const numbers = await evaluateNode({ kind: "array", items: [lit(1, "Int"), lit(2.5, "Float"), lit(3, "Int")] });
  assertEqual(numbers.item.type, "Float[]");
});

test("record literals store unknown as the marker and charge their members", async () => {
  const outcome = await evaluateRaw(moduleOf("Record", "{a: unknown, b: {c: [1]}}"));
  assertDeepEqual(outcome.item.value, { a: { kind: "quelt-unknown" }, b: { c: [1] } });
  assert(outcome.item.value.a !== UNKNOWN, "stored as a plain marker");
  assert(Object.isFrozen(outcome.item.value.b), "deep frozen");
  // The inner record: 3 nodes and its members c and the item 1; the outer one:
  // 2 nodes more and its members a, b, c, the item and the marker's kind.
  assertEqual(outcome.steps, 3 + 2 + 2 + 5);
});

test("references, unknown kinds and unknown functions", async () => {
  const program = compileModule(moduleOf("Int", "a + 1", { inputs: "input a: Int = 1" }));
  const ctx = contextFor(program);
  assertThrows(() => evaluateSync(program.derives[0].expression, new Map(), ctx), {
    code: "MISSING_REFERENCE",
    message: "Нет значения a.",
  });
  // A reference returns the stored typed value itself.
  const stored = { value: 1, type: "Int" };
  const env = new Map([["a", stored]]);
  assertEqual(evaluateSync({ kind: "ref", name: "a" }, env, ctx), stored);
  const record = Object.assign(Object.create(null), { a: stored });
  assertEqual(evaluateSync({ kind: "ref", name: "a" }, record, ctx), stored);
  assertThrows(() => evaluateSync({ kind: "ref", name: "toString" }, {}, ctx), { code: "MISSING_REFERENCE" });

  for (const node of [{ kind: "nope" }, { kind: 7 }, {}]) {
    const outcome = await evaluateNode(node);
    expectFailure(outcome, { code: "EXPRESSION_KIND", message: "Неизвестный узел выражения." });
    assertEqual(outcome.steps, 1);
  }
  const call = (arg) => ({ kind: "call", name: "nosuch", args: [arg] });
  expectFailure(await evaluateNode(call(lit(1, "Int"))), { code: "UNKNOWN_FUNCTION", message: "Неизвестная функция nosuch." });
  // Any unknown argument makes a built-in unknown before anything else is looked at.
  const unknown = await evaluateNode(call(lit(null, "Unknown")));
  assertEqual(unknown.item.value, UNKNOWN);
  assertEqual(unknown.item.type, "Unknown");
});

test("function invocation converts arguments, locals and the result", async () => {
  const program = compileModule(
    "fn f(x: Int, y: Float) -> Float { let z: Float = x; return z + y }\n" +
      "fn g(r: Record) -> Record { return r }\n" +
      "brindlet m { input a: Int = 0 output a }",
  );
  const [f, g] = program.functions;
  const ctx = contextFor(program);
  const result = invokeFunctionSync(f, [{ value: 2, type: "Int" }, { value: 0.5, type: "Float" }], ctx);
  assertDeepEqual(result, { value: 2.5, type: "Float" });
  assertEqual(ctx.steps, 4);
  assertDeepEqual(await invokeFunction(f, [{ value: 2, type: "Int" }, { value: 1, type: "Int" }], ctx), { value: 3, type: "Float" });

  const wrongCount = { code: "FUNCTION_ARGUMENTS", message: "Неверное число параметров функции." };
  assertThrows(() => invokeFunctionSync(f, [{ value: 2, type: "Int" }], ctx), wrongCount);
  await assertRejects(invokeFunction(f, [], ctx), wrongCount);
  assertThrows(() => invokeFunctionSync(f, [{ value: UNKNOWN, type: "Unknown" }, { value: 1, type: "Float" }], ctx), {
    code: "VALUE_TYPE",
    message: "Int требует безопасное целое число.",
  });
  // A Record argument is re-admitted as a fresh frozen copy.
  const data = { a: [1] };
  const copied = invokeFunctionSync(g, [{ value: data, type: "Record" }], ctx).value;
  assert(copied !== data && Object.isFrozen(copied) && Object.getPrototypeOf(copied) === null);
  assertDeepEqual(copied, data);
});

test("cancellation and the deadline are checked after binding and before the body", async () => {
  const program = compileModule("fn f(x: Int) -> Int { return x }\nbrindlet m { input a: Int = 0 output a }");
  const [f] = program.functions;
  const log = [];
  const ctx = {
    program,
    functions: new Map([["f", f]]),
    check() {
      log.push("check");
    },
    step() {
      log.push("step");
    },
  };
  invokeFunctionSync(f, [{ value: 1, type: "Int" }], ctx);
  assertDeepEqual(log, ["check", "step"]);
  log.length = 0;
  await invokeFunction(f, [{ value: 1, type: "Int" }], ctx);
  assertDeepEqual(log, ["check", "step"]);
});

test("Record reads, hasField, len and take", async () => {
  const record = { n: 5, u: { kind: "quelt-unknown" }, list: [{ x: 1 }, { y: [1, 2] }] };
  const cases = [
    ["Int", 'readInt(r, "n")', 5, "Int", 3],
    ["Truth", 'readTruth(r, "u")', UNKNOWN, "Truth", 3 + 1],
    ["Record[]", 'readRecords(r, "list")', [{ x: 1 }, { y: [1, 2] }], "Record[]", 3 + 6],
    ["Truth", 'hasField(r, "zz")', "no", "Truth", 3],
    ["Truth", 'hasField(r, "n")', "yes", "Truth", 3],
    ["Int", 'len("😀")', 1, "Int", 2],
    ["Int", 'len("\\uD800x")', 2, "Int", 2],
    ["Int", "len([1, 2, 3])", 3, "Int", 5],
    ["Int[]", "[1, 2] |> take(0)", [], "Int[]", 5],
    ["Int[]", "[1, 2] |> take(5)", [1, 2], "Int[]", 5 + 2],
  ];
  for (const [type, expression, value, resultType, steps] of cases) {
    const outcome = await evaluateRaw(moduleOf(type, expression, { inputs: "input r: Record" }), { inputs: { r: record } });
    assertEqual(outcome.error, undefined, expression);
    assertDeepEqual(outcome.item.value, value, expression);
    assertEqual(outcome.item.type, resultType, expression);
    assertEqual(outcome.steps, steps, `${expression} steps`);
  }
  const failures = [
    ["Int", 'readInt(r, "u")', "VALUE_TYPE", "Int требует безопасное целое число."],
    ["Int", 'readInt(r, "zz")', "RECORD_FIELD", "Missing Record field zz."],
    ["Text[]", 'readTexts(r, "list")', "TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8."],
  ];
  for (const [type, expression, code, message] of failures) {
    const outcome = await evaluateRaw(moduleOf(type, expression, { inputs: "input r: Record" }), { inputs: { r: record } });
    expectFailure(outcome, { code, message });
  }
  const negative = await evaluateNode({ kind: "call", name: "take", args: [{ kind: "array", items: [] }, lit(-1, "Int")] });
  expectFailure(negative, { code: "TAKE_COUNT", message: "take требует неотрицательный Int." });
  const unknownRead = await evaluateRaw(moduleOf("Int", 'readInt(r, "n")', { inputs: "input r: Record" }), {
    env: { r: { value: UNKNOWN, type: "Record" } },
  });
  assertEqual(unknownRead.item.value, UNKNOWN);
});

test("sum, keep and map over numeric arrays", async () => {
  const cases = [
    ["Int", "[] |> sum()", 0, "Int", 2],
    ["Float", "[1.5, 2] |> sum()", 3.5, "Float", 2 + 2 + 2],
    ["Int[]", "[1, 2, 3] |> keep(> 1)", [2, 3], "Int[]", 1 + 4 + 1 + 3],
    ["Int[]", "[1, 2, 3] |> keep(>= 2.5)", [3], "Int[]", 9],
    ["Int[]", "[1, 2, 3] |> keep(!= 2)", [1, 3], "Int[]", 9],
    ["Float[]", "[1, 2] |> map(* 2.0)", [2, 4], "Float[]", 1 + 3 + 1 + 2],
    ["Int[]", "[1, 2] |> map(- 3)", [-2, -1], "Int[]", 7],
    ["Float[]", "[0.5] |> map(+ 1)", [1.5], "Float[]", 5],
  ];
  for (const [type, expression, value, resultType, steps] of cases) {
    const outcome = await evaluateRaw(moduleOf(type, expression));
    assertDeepEqual(outcome.item.value, value, expression);
    assertEqual(outcome.item.type, resultType, expression);
    assertEqual(outcome.steps, steps, `${expression} steps`);
  }
  const overflow = await evaluateRaw(moduleOf("Int", "[9007199254740991, 1, 1] |> sum()"));
  expectFailure(overflow, { code: "INT_OVERFLOW", message: "Переполнение Int." });
  assertEqual(overflow.steps, 5 + 2, "stops at the first offending item");
  expectFailure(await evaluateRaw(moduleOf("Int[]", "[9007199254740991] |> map(+ 1)")), { code: "INT_OVERFLOW" });
  expectFailure(await evaluateRaw(moduleOf("Float[]", "[1.0e308] |> map(* 10)")), { code: "FLOAT_OVERFLOW" });
  const texts = await evaluateNode({ kind: "call", name: "sum", args: [{ kind: "array", items: [lit("a", "Text")] }] });
  expectFailure(texts, { code: "VALUE_TYPE", message: "Числовая операция требует числовой массив." });
});

// ---- adapters -----------------------------------------------------------------

const INTERFACES = { "m.f": { params: ["Int"], result: "Int", effects: ["net"] } };

function adapterContext(program, calls) {
  const ctx = contextFor(program);
  return Object.assign(ctx, {
    ledger: new Ledger({ maxSteps: 1000, maxAdapterCalls: 8 }),
    pool: new TaskPool({}),
    signal: new AbortController().signal,
    capabilities: new Set(["net"]),
    adapters: {
      "m.f": {
        version: "v1",
        async invoke(values) {
          calls.push(values);
          return values[0] + 10;
        },
      },
    },
    trace: [],
    programSourceHash: "0".repeat(64),
  });
}

test("adapter calls suspend only on the asynchronous path", async () => {
  const cases = [
    // binary, literal, call, literal
    ["brindlet m { use m derive d: Int = 1 + m.f(2) output d }", 13, 4],
    // binary, call g, literal 3, then g's body (binary, call, ref, literal), literal 1
    ["effect fn g(x: Int) -> Int { return m.f(x) * 2 }\nbrindlet m { use m derive d: Int = g(3) + 1 output d }", 27, 8],
  ];
  for (const [source, value, steps] of cases) {
    const program = compileModule(source, { interfaces: INTERFACES });
    const expression = program.derives[0].expression;
    assert(reachesAdapter(expression, program), "reaches an adapter");
    const calls = [];
    const ctx = adapterContext(program, calls);
    const result = await evaluate(expression, new Map(), ctx);
    assertDeepEqual(result, { value, type: "Int" });
    assertEqual(ctx.steps, steps);
    assertEqual(calls.length, 1);
    assertEqual(ctx.trace.length, 1);
    assertEqual(ctx.trace[0].adapter, "m.f");
    // The synchronous path refuses to meet an adapter.
    const syncCtx = adapterContext(program, []);
    const error = assertThrows(() => evaluateSync(expression, new Map(), syncCtx), Error);
    assert(!(error instanceof RuntimeDiagnostic), "an internal error, not a diagnostic");
  }
  const pure = compileModule(moduleOf("Int", "1 + 2"));
  assert(!reachesAdapter(pure.derives[0].expression, pure));
});

test("adapter failures pass through after the arguments were evaluated", async () => {
  const program = compileModule("brindlet m { use m derive d: Int = m.f(1 + 1) output d }", { interfaces: INTERFACES });
  const ctx = adapterContext(program, []);
  ctx.capabilities = new Set();
  await assertRejects(evaluate(program.derives[0].expression, new Map(), ctx), {
    code: "CAPABILITY_REQUIRED",
    message: "Для m.f требуется capability net.",
  });
  assertEqual(ctx.steps, 4);
});
