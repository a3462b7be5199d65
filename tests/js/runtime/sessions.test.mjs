import { test, assert, assertEqual, assertDeepEqual, assertRejects, assertThrows } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { ReactiveSession, createRuntimeCache, runtimeCacheStats, RuntimeDiagnostic } from "quelt/runtime.mjs";
import { sessionPatchCopy, prepareSessionInputs } from "../../../quelt/runtime/sessions.mjs";
import { adapter, slowAdapter } from "./driver-support.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const INPUT_LIMIT = fault("INPUT_LIMIT", "Превышен размер входных данных.");
const QUEUE_FULL = fault("QUEUE_FULL", "Очередь обновлений заполнена.");

const SOURCE =
  'brindlet m { input t: Text input r: Record input n: Int = 3 derive a: Text = t + "!" derive b: Int = n * 2 derive c: Int = b + n output a output c }';

const reuse = (receipt) => {
  const m = receipt.metrics;
  return { reusedInputs: m.reusedInputs, inputHashes: m.inputHashes, adapterHashes: m.adapterHashes,
    cacheKeysBuilt: m.cacheKeysBuilt, cacheKeysReused: m.cacheKeysReused, cacheHits: m.cacheHits };
};

test("updates reuse versions, value objects, cache keys and cached values", async () => {
  const program = compileModule(SOURCE);
  const session = new ReactiveSession(program);
  await assertRejects(session.update({ t: "x" }), fault("MISSING_INPUT", "Отсутствует вход r."));
  const first = await session.update({ t: "x", r: { k: [1] } });
  assertDeepEqual(reuse(first), { reusedInputs: 0, inputHashes: 3, adapterHashes: 1, cacheKeysBuilt: 3, cacheKeysReused: 0, cacheHits: 0 });
  assertEqual(first.outputs.c, 9);

  // nothing named: nothing hashed, every key from the memo, every derive from the session's default cache
  const again = await session.update({});
  assertDeepEqual(reuse(again), { reusedInputs: 3, inputHashes: 0, adapterHashes: 0, cacheKeysBuilt: 0, cacheKeysReused: 3, cacheHits: 3 });
  assertEqual(again.metrics.sourceHashReused, true);
  assertDeepEqual(again.trace.map((entry) => entry.status), ["cache-hit", "cache-hit", "cache-hit"]);

  // the same text and the very same Record object: reused without hashing
  const same = await session.update({ t: "x", r: again.values.r });
  assertEqual(same.metrics.inputHashes, 0);
  assertEqual(same.metrics.reusedInputs, 3);

  // an equal but new Record is hashed once and still keeps the old object
  const equal = await session.update({ r: { k: [1] } });
  assertEqual(equal.metrics.inputHashes, 1);
  assertEqual(equal.metrics.reusedInputs, 3);
  assert(equal.values.r === first.values.r);

  // a changed input: new version, new key for its dependants only
  const changed = await session.update({ n: 4 });
  assertDeepEqual(reuse(changed), { reusedInputs: 2, inputHashes: 1, adapterHashes: 0, cacheKeysBuilt: 2, cacheKeysReused: 1, cacheHits: 1 });
  assertDeepEqual(changed.trace.map((entry) => entry.status), ["cache-hit", "computed", "computed"]);
  assertEqual(changed.outputs.c, 12);
  assertEqual(changed.metrics.steps, session.metrics.steps, "metrics.steps are the session's totals");
});

test("a changed adapter version rehashes the adapters and rebuilds every key", async () => {
  const program = compileModule(SOURCE);
  const provider = adapter(() => 1, "v1").provider;
  const cache = createRuntimeCache();
  const session = new ReactiveSession(program, { adapters: { "x.y": provider }, cache });
  await session.update({ t: "a", r: {} });
  provider.version = "v2";
  const receipt = await session.update({});
  assertDeepEqual(reuse(receipt), { reusedInputs: 3, inputHashes: 0, adapterHashes: 1, cacheKeysBuilt: 3, cacheKeysReused: 0, cacheHits: 0 });
  assertDeepEqual({ ...receipt.versions.adapters }, { "x.y": "v2" });
  assertEqual(runtimeCacheStats(cache).admissions, 6);
});

test("updates run one at a time; the queue bound counts outstanding updates", async () => {
  const db = { interfaces: { "db.get": { params: [], result: "Int", effects: [] } } };
  const program = compileModule("brindlet m { use db input x: Int derive d: Int = db.get() + x output d }", db);
  const slow = slowAdapter(30, 10);
  const session = new ReactiveSession(program, { adapters: { "db.get": slow.provider }, budget: { maxQueued: 0 } });
  const first = session.update({ x: 1 });
  await assertRejects(session.update({ x: 2 }), QUEUE_FULL);
  assertEqual((await first).outputs.d, 11);
  assertEqual((await session.update({ x: 2 })).outputs.d, 12, "accepted once the first has finished");

  const serial = new ReactiveSession(program, { adapters: { "db.get": slowAdapter(5, 10).provider } });
  const order = [];
  const updates = [1, 2, 3].map((x) => serial.update({ x }).then((receipt) => order.push(receipt.outputs.d)));
  await Promise.all(updates);
  assertDeepEqual(order, [11, 12, 13]);
  assertEqual(serial.metrics.pool.highWater, 1);
  assertEqual(serial.metrics.adapterCalls, 3);
});

test("a failed update leaves the accepted inputs as they were", async () => {
  const program = compileModule("brindlet m { input x: Int input y: Int = 1 derive d: Int = x * x output d }");
  const session = new ReactiveSession(program);
  assertEqual((await session.update({ x: 3 })).outputs.d, 9);
  await assertRejects(session.update({ x: 9007199254740991 }), fault("INT_OVERFLOW", "Переполнение Int."));
  await assertRejects(session.update({ x: "no" }), fault("VALUE_TYPE", "Int требует безопасное целое число."));
  await assertRejects(session.update({ z: 1 }), fault("INPUT_SCHEMA", "Передан необъявленный вход."));
  const receipt = await session.update({ y: 2 });
  assertDeepEqual({ ...receipt.values }, { x: 3, y: 2, d: 9 });
});

test("the step budget bounds the session's total", async () => {
  const program = compileModule("brindlet m { input x: Int derive d: Int = x + 1 output d }");
  // each run costs 4 steps (one per derive, three nodes) unless d is served from the cache (1 step)
  const session = new ReactiveSession(program, { budget: { maxSteps: 9 } });
  assertEqual((await session.update({ x: 1 })).metrics.steps, 4);
  assertEqual((await session.update({ x: 2 })).metrics.steps, 8);
  assertEqual((await session.update({ x: 1 })).metrics.steps, 9, "served from the cache");
  await assertRejects(session.update({ x: 3 }), fault("STEP_BUDGET", "Исчерпан общий бюджет шагов."));
  await assertRejects(session.update({}), fault("STEP_BUDGET", "Исчерпан общий бюджет шагов."));
  assertEqual(session.metrics.steps, 9);
});

test("an aborted session signal refuses every later update", async () => {
  const program = compileModule("brindlet m { input x: Int output x }");
  const controller = new AbortController();
  const session = new ReactiveSession(program, { signal: controller.signal });
  assertEqual((await session.update({ x: 1 })).outputs.x, 1);
  controller.abort(new Error("done"));
  await assertRejects(session.update({ x: 2 }), fault("CANCELLED", "Выполнение отменено."));
  await assertRejects(session.update({}), fault("CANCELLED", "Выполнение отменено."));
});

test("constructor refusals are thrown", () => {
  const program = compileModule("brindlet m { input x: Int output x }");
  assertThrows(() => new ReactiveSession({ ...program }), fault("UNCOMPILED_PROGRAM", "Исполняется только программа, выданная compiler.mjs."));
  assertThrows(() => new ReactiveSession(program, { budget: null }), fault("BUDGET_SCHEMA", "Ожидается объект данных."));
  assertThrows(() => new ReactiveSession(program, { adapters: { "a.b": { version: " ", invoke() {} } } }),
    fault("ADAPTER_SCHEMA", "Адаптер a.b требует version и invoke."));
  const metrics = new ReactiveSession(program).metrics;
  assertDeepEqual(Object.keys(metrics), ["steps", "adapterCalls", "outputBytes", "pool"]);
  assert(Object.isFrozen(metrics));
});

test("patch and merged input sizes equal their JSON text", () => {
  const program = compileModule("brindlet m { input a: Text input b: Text = \"\" output a }");
  const empty = Object.freeze(Object.create(null));
  // {"a":"…"}: 8 bytes around the text
  const fits = "x".repeat(65536);
  const patch = sessionPatchCopy(program, { a: fits }, empty, null);
  assertEqual(patch.a, fits);
  assert(Object.isFrozen(patch) && Object.getPrototypeOf(patch) === null);
  const prepared = prepareSessionInputs(program, empty, patch, null);
  assertDeepEqual({ ...prepared.inputs }, { a: fits, b: "" });
  assertEqual(prepared.reusedInputs, 0);
  assertDeepEqual([...prepared.inputMetadata].map(([name, entry]) => [name, entry.bytes, entry.version]), [["a", 65538, null], ["b", 2, null]]);
  // with 16 Text inputs of 65536 bytes the record is 16 * (65536 + 6) + 17 bytes: over the bound
  const names = Array.from({ length: 16 }, (_, index) => String.fromCharCode(97 + index));
  const wide = compileModule(`brindlet m { ${names.map((name) => `input ${name}: Text`).join(" ")} output a }`);
  const full = Object.fromEntries(names.map((name) => [name, fits]));
  assertThrows(() => sessionPatchCopy(wide, full, empty, null), INPUT_LIMIT);
  delete full.p;
  const partial = sessionPatchCopy(wide, full, empty, null);
  const lastOnly = sessionPatchCopy(wide, { p: fits }, empty, null);
  assertThrows(() => prepareSessionInputs(wide, partial, lastOnly, null), INPUT_LIMIT);
});
