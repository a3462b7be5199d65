import { test, assert, assertEqual, assertDeepEqual, assertRejects } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { execute, isRunReceipt, createRuntimeCache, runtimeCacheStats, RuntimeDiagnostic, UNKNOWN } from "quelt/runtime.mjs";
import { cacheRecord } from "../../../quelt/runtime/cache.mjs";
import { runtimeHash, utf8Bytes, adapter, slowAdapter } from "./driver-support.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const STEP_BUDGET = fault("STEP_BUDGET", "Исчерпан общий бюджет шагов.");
const OUTPUT_BUDGET = fault("OUTPUT_BUDGET", "Полный результат превышает общий бюджет выходных байтов.");
const DEADLINE = fault("DEADLINE", "Истёк срок выполнения.");
const CANCELLED = fault("CANCELLED", "Выполнение отменено.");
const DB = { interfaces: { "db.get": { params: ["Text"], result: "Int", effects: ["read"] } } };

const CHAIN = "brindlet m { input x: Int derive d: Int = x + 1 derive e: Int = d * 2 output e }";

test("a run without derives: the whole receipt", async () => {
  const source = "brindlet m { input x: Int output x }";
  const program = compileModule(source);
  const receipt = await execute(program, { x: 5 });
  const sourceHash = await runtimeHash(`{"source":${JSON.stringify(source)}}`);
  const inputHash = await runtimeHash('{"type":"Int","value":5}');
  const size = receipt.metrics.runOutputBytes;
  assertEqual(size, utf8Bytes(JSON.stringify(receipt)), "the receipt states its own size");
  assertDeepEqual(JSON.parse(JSON.stringify(receipt)), {
    kind: "quelt-run-receipt",
    version: 1,
    status: "success",
    program: { name: "m", version: 1, sourceHash },
    programSource: source,
    values: { x: 5 },
    outputs: { x: 5 },
    metrics: {
      steps: 0, adapterCalls: 0, inputTokens: 0, outputTokens: 0, reasoningTokens: 0, usageComplete: true,
      runSteps: 0, runAdapterCalls: 0, cacheHits: 0, computedDerives: 0, poolHighWater: 0,
      reusedInputs: 0, inputHashes: 1, sourceHashReused: false, dependencyHashes: 0, adapterHashes: 1,
      cacheKeysBuilt: 0, cacheKeysReused: 0, outputBytes: size, runOutputBytes: size,
    },
    trace: [],
    versions: { programSourceHash: sourceHash, adapters: {}, inputs: { x: inputHash } },
    validation: { scope: "types-and-execution", types: true, checks: [], externalTruthVerified: false },
  });
  const frozen = [receipt, receipt.program, receipt.values, receipt.outputs, receipt.metrics, receipt.trace,
    receipt.versions, receipt.versions.adapters, receipt.versions.inputs, receipt.validation, receipt.validation.checks];
  assert(frozen.every(Object.isFrozen), "everything in the receipt is frozen");
  assertDeepEqual(Object.keys(receipt.metrics).slice(-2), ["outputBytes", "runOutputBytes"]);
  // the source hash is computed once per Program object
  assertEqual((await execute(program, { x: 5 })).metrics.sourceHashReused, true);
});

test("values list inputs, then derives in evaluation order; outputs follow the declared order", async () => {
  const program = compileModule(
    "brindlet m { input b: Int input a: Int = 1 input o: Int? derive z: Int = a + b derive y: Int = z + 1 output y output b output z }",
  );
  const receipt = await execute(program, { b: 2, o: null });
  assertDeepEqual(Object.keys(receipt.values), ["b", "a", "o", "z", "y"]);
  assertEqual(receipt.values.o, UNKNOWN);
  assertDeepEqual(Object.keys(receipt.outputs), ["y", "b", "z"]);
  assertDeepEqual({ ...receipt.outputs }, { y: 4, b: 2, z: 3 });
  assertDeepEqual(receipt.trace.map((entry) => [entry.derive, entry.status, [...entry.dependencies], entry.cacheable, entry.unknown]), [
    ["z", "computed", ["b", "a"], true, false],
    ["y", "computed", ["z"], true, false],
  ]);
  assertEqual(receipt.metrics.computedDerives, 2);
  // z is needed by y: an Int takes the plain form, so nothing is hashed for it
  assertEqual(receipt.metrics.dependencyHashes, 0);
  assertEqual(receipt.metrics.inputHashes, 3);
});

test("step budget: one step per derive before anything else", async () => {
  const withDerive = compileModule(CHAIN);
  await assertRejects(execute(withDerive, { x: 1 }, { budget: { maxSteps: 0 } }), STEP_BUDGET);
  const withoutDerives = compileModule("brindlet m { input x: Int output x }");
  assertEqual((await execute(withoutDerives, { x: 1 }, { budget: { maxSteps: 0 } })).outputs.x, 1);
  // d = x + 1 costs 3 nodes, e = d * 2 costs 3: with the two per-derive steps, 8 in all
  const receipt = await execute(withDerive, { x: 1 }, { budget: { maxSteps: 8 } });
  assertEqual(receipt.metrics.runSteps, 8);
  await assertRejects(execute(withDerive, { x: 1 }, { budget: { maxSteps: 7 } }), STEP_BUDGET);
});

test("the output budget charges the whole receipt, and only after every derive ran", async () => {
  const program = compileModule(CHAIN);
  const cache = createRuntimeCache();
  await assertRejects(execute(program, { x: 1 }, { budget: { maxOutputBytes: 1 }, cache }), OUTPUT_BUDGET);
  const stats = runtimeCacheStats(cache);
  assertEqual(stats.misses + stats.hits + stats.admissions + stats.computedEntries, 0, "a failed run leaves the cache alone");
  const size = (await execute(program, { x: 1 })).metrics.runOutputBytes;
  const exact = await execute(program, { x: 1 }, { budget: { maxOutputBytes: size } });
  assertEqual(exact.metrics.outputBytes, size);
  await assertRejects(execute(program, { x: 1 }, { budget: { maxOutputBytes: size - 1 } }), OUTPUT_BUDGET);
});

test("cache keys, versions and hits", async () => {
  const program = compileModule(CHAIN);
  const cache = createRuntimeCache();
  const first = await execute(program, { x: 4 }, { cache });
  const sourceHash = first.versions.programSourceHash;
  const adapterHash = await runtimeHash("{}");
  const inputVersion = await runtimeHash('{"type":"Int","value":4}');
  const entries = cacheRecord(cache).entries;
  assertDeepEqual([...entries.keys()], [
    `${sourceHash}:${adapterHash}:d:h:${inputVersion}`,
    `${sourceHash}:${adapterHash}:e:p:{"type":"Int","value":5}`,
  ]);
  const [dEntry, eEntry] = [...entries.values()];
  assertEqual(dEntry.value, 5);
  assertEqual(dEntry.version, 'p:{"type":"Int","value":5}');
  assertEqual(eEntry.value, 10);
  assertEqual(eEntry.version, undefined, "no cacheable derive depends on e");
  assertEqual(first.metrics.cacheKeysBuilt, 2);

  // a Program compiled again from the same source shares the keys
  const second = await execute(compileModule(CHAIN), { x: 4 }, { cache });
  assertDeepEqual(second.trace.map((entry) => entry.status), ["cache-hit", "cache-hit"]);
  assertEqual(second.metrics.cacheHits, 2);
  assertEqual(second.metrics.computedDerives, 0);
  assertEqual(second.metrics.runSteps, 2, "a hit costs its one per-derive step");
  assertEqual(second.outputs.e, 10);
  assert(second.values.d === first.values.d);
  const stats = runtimeCacheStats(cache);
  assertDeepEqual([stats.hits, stats.misses, stats.admissions, stats.computedEntries], [2, 2, 2, 2]);
});

test("derives of schema and Result types are not cached; a Result dependency has its own version", async () => {
  const source =
    "result R: Int fn okf(v: Int) -> Int { return v } fn errf(e: Text) -> Int { return 0 } " +
    "fn wrap(x: Int) -> R { return x |> ok(R) } brindlet m { input x: Int derive r: R = wrap(x) derive y: Int = r |> match(okf, errf) output y }";
  const program = compileModule(source);
  const cache = createRuntimeCache();
  const receipt = await execute(program, { x: 5 }, { cache });
  assertDeepEqual({ ...receipt.values.r }, { tag: "ok", value: 5 });
  assertDeepEqual(receipt.trace.map((entry) => entry.cacheable), [false, true]);
  assertEqual(receipt.metrics.dependencyHashes, 1);
  const sourceHash = receipt.versions.programSourceHash;
  const resultVersion = await runtimeHash(
    `{"payload":5,"result":"R","schema":"quelt-result-dependency-v1","sourceHash":"${sourceHash}","successType":"Int","tag":"ok"}`,
  );
  const adapterHash = await runtimeHash("{}");
  assertDeepEqual([...cacheRecord(cache).entries.keys()], [`${sourceHash}:${adapterHash}:y:h:${resultVersion}`]);
});

test("a schema derive holds the admitted Record data and is versioned under its schema name", async () => {
  const program = compileModule(
    'schema S { a: Int } brindlet m { input r: Record derive s: S = r |> asSchema(S) derive t: Int = s |> field("a") output t }',
  );
  const cache = createRuntimeCache();
  const receipt = await execute(program, { r: { a: 7, b: "x" } }, { cache });
  assertEqual(receipt.outputs.t, 7);
  assert(receipt.values.s === receipt.values.r, "the schema value is the Record data itself");
  assertDeepEqual(receipt.trace.map((entry) => entry.cacheable), [false, true]);
  assertEqual(receipt.metrics.dependencyHashes, 1);
  const version = await runtimeHash('{"type":"S","value":{"a":7,"b":"x"}}');
  const key = [...cacheRecord(cache).entries.keys()][0];
  assert(key.endsWith(`:t:h:${version}`), key);
});

test("foreign failures become EXECUTION_FAILURE; diagnostics pass unchanged", async () => {
  const program = compileModule('brindlet m { use db input x: Int derive d: Int = db.get("k") + x output d }', DB);
  const own = new RuntimeDiagnostic("OWN_CODE", "своё");
  const cases = [
    [() => { throw new Error(""); }, fault("EXECUTION_FAILURE", "Исполнение завершилось ошибкой.")],
    [() => { throw new Error("boom"); }, fault("EXECUTION_FAILURE", "boom")],
    [() => Promise.reject(new TypeError("bad")), fault("EXECUTION_FAILURE", "bad")],
    [() => { throw "text"; }, fault("EXECUTION_FAILURE", "Исполнение завершилось ошибкой.")],
    [() => { throw own; }, fault("OWN_CODE", "своё")],
    [() => "five", fault("VALUE_TYPE", "Int требует безопасное целое число.")],
  ];
  for (const [answer, expected] of cases) {
    const { provider } = adapter(answer);
    await assertRejects(execute(program, { x: 1 }, { adapters: { "db.get": provider }, capabilities: ["read"] }), expected, expected.message);
  }
  const { provider, calls } = adapter(() => ({ value: 41, usage: { inputTokens: 3, outputTokens: 4 } }));
  const receipt = await execute(program, { x: 1 }, { adapters: { "db.get": provider }, capabilities: ["read"] });
  assertEqual(receipt.outputs.d, 42);
  assertDeepEqual(calls[0].values, ["k"]);
  assertEqual(calls[0].context.programSourceHash, receipt.versions.programSourceHash);
  assertDeepEqual(receipt.trace.map((entry) => entry.adapter ?? entry.derive), ["db.get", "d"]);
  assertEqual(receipt.trace[1].cacheable, false);
  assertDeepEqual({ ...receipt.versions.adapters }, { "db.get": "1" });
  const m = receipt.metrics;
  assertDeepEqual([m.adapterCalls, m.runAdapterCalls, m.inputTokens, m.outputTokens, m.reasoningTokens, m.usageComplete, m.poolHighWater],
    [1, 1, 3, 4, null, false, 1]);
});

test("a derive reaching an adapter through an effect function is evaluated and never cached", async () => {
  const program = compileModule(
    'effect fn load(k: Text) -> Int { return db.get(k) } brindlet m { use db input x: Int ' +
      'derive a: Int = load("k") + x derive b: Int = x * 3 output a output b }',
    DB,
  );
  assertEqual(program.version, 26);
  const { provider, calls } = adapter(async (values) => values[0].length);
  const cache = createRuntimeCache();
  const receipt = await execute(program, { x: 10 }, { adapters: { "db.get": provider }, capabilities: ["read"], cache });
  assertDeepEqual({ ...receipt.outputs }, { a: 11, b: 30 });
  assertEqual(calls.length, 1);
  assertDeepEqual(receipt.trace.map((entry) => [entry.adapter ?? entry.derive, entry.cacheable]), [["db.get", undefined], ["a", false], ["b", true]]);
  assertEqual(runtimeCacheStats(cache).admissions, 1);
});

test("the adapter hash ignores adapter order and follows version texts", async () => {
  const program = compileModule(CHAIN);
  const one = adapter(() => 1, "1").provider;
  const two = adapter(() => 2, "2").provider;
  const hashOf = async (adapters) => {
    const cache = createRuntimeCache();
    await execute(program, { x: 1 }, { adapters, cache });
    return [...cacheRecord(cache).entries.keys()][0].split(":")[1];
  };
  const forward = await hashOf({ "a.x": one, "b.y": two });
  assertEqual(forward, await runtimeHash('{"a.x":"1","b.y":"2"}'));
  assertEqual(await hashOf({ "b.y": two, "a.x": one }), forward);
  assert((await hashOf({ "a.x": one, "b.y": adapter(() => 2, "3").provider })) !== forward);
});

test("cancellation and the deadline", async () => {
  const program = compileModule('brindlet m { use db input x: Int derive d: Int = db.get("k") output d }', DB);
  const run = (provider, options) => execute(program, { x: 1 }, { adapters: { "db.get": provider }, capabilities: ["read"], ...options });

  const timed = slowAdapter(5000, 1);
  await assertRejects(run(timed.provider, { budget: { deadlineMs: 20 } }), DEADLINE);
  assert(timed.seen[0].aborted, "the deadline aborts the adapter's job");

  for (const [reason, expected] of [[new Error("stop"), CANCELLED], [new RuntimeDiagnostic("MINE", "m"), fault("MINE", "m")]]) {
    const controller = new AbortController();
    const slow = slowAdapter(5000, 1);
    const pending = run(slow.provider, { signal: controller.signal });
    while (slow.seen.length === 0) await new Promise((resolve) => setTimeout(resolve, 1));
    controller.abort(reason);
    await assertRejects(pending, expected);
    assert(slow.seen[0].aborted);
  }

  // an already aborted signal stops the run before anything is hashed
  const fresh = compileModule(CHAIN);
  const controller = new AbortController();
  controller.abort(new RuntimeDiagnostic("EARLY", "e"));
  await assertRejects(execute(fresh, { x: 1 }, { signal: controller.signal }), fault("EARLY", "e"));
  assertEqual((await execute(fresh, { x: 1 })).metrics.sourceHashReused, false);
});

test("receipts are recognised by identity and by Program", async () => {
  const program = compileModule(CHAIN);
  const other = compileModule(CHAIN);
  const receipt = await execute(program, { x: 1 });
  assert(isRunReceipt(receipt));
  assert(isRunReceipt(receipt, program));
  assert(!isRunReceipt(receipt, other));
  assert(!isRunReceipt(receipt, undefined));
  assert(!isRunReceipt({ ...receipt }));
  assert(!isRunReceipt(JSON.parse(JSON.stringify(receipt))));
});

test("refusals before the run reach the caller unchanged", async () => {
  const program = compileModule(CHAIN);
  const cases = [
    [() => execute(JSON.parse(JSON.stringify(program)), { x: 1 }), fault("UNCOMPILED_PROGRAM", "Исполняется только программа, выданная compiler.mjs.")],
    [() => execute(program, { y: 1 }), fault("INPUT_SCHEMA", "Передан необъявленный вход.")],
    [() => execute(program, {}), fault("MISSING_INPUT", "Отсутствует вход x.")],
    [() => execute(program, { x: 1 }, { verbose: true }), fault("OPTIONS_SCHEMA", "Неизвестная настройка исполнителя.")],
    [() => execute(program, { x: 1 }, { budget: { deadlineMs: 0 } }), fault("BUDGET_SCHEMA", "Неверная граница deadlineMs.")],
    [() => execute(program, { x: 1 }, { budget: { maxConcurrent: 0 } }), fault("BUDGET_SCHEMA", "Неверная граница maxConcurrent.")],
  ];
  for (const [call, expected] of cases) await assertRejects(call, expected, expected.message);
});
