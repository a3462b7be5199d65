// A second look at reactive sessions: what is taken over from the previous
// run, and the order of the refusals made before an update is queued.
import { test, assert, assertEqual, assertDeepEqual, assertRejects } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { ReactiveSession, createRuntimeCache, RuntimeDiagnostic } from "quelt/runtime.mjs";
import { cacheRecord } from "../../../quelt/runtime/cache.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const QUEUE_FULL = fault("QUEUE_FULL", "Очередь обновлений заполнена.");

const reuse = (receipt) => {
  const m = receipt.metrics;
  return [m.reusedInputs, m.inputHashes, m.cacheKeysBuilt, m.cacheKeysReused, m.cacheHits];
};

test("a new Record equal to the previous one keeps the old object, and the keys built from it", async () => {
  const program = compileModule('brindlet m { input r: Record input n: Int derive t: Text = r |> toJson() derive u: Text = t + "!" output u }');
  const cache = createRuntimeCache();
  const session = new ReactiveSession(program, { cache });
  const first = await session.update({ r: { a: [1, 2] }, n: 1 });
  assertDeepEqual(reuse(first), [0, 2, 2, 0, 0]);
  const keys = [...cacheRecord(cache).entries.keys()];

  // [reusedInputs, inputHashes, cacheKeysBuilt, cacheKeysReused, cacheHits]
  const equal = await session.update({ r: { a: [1, 2] } });
  assertDeepEqual(reuse(equal), [2, 1, 0, 2, 2]);
  assert(equal.values.r === first.values.r, "the previous value object is kept");
  assertEqual(cacheRecord(cache).entries.size, keys.length, "no new keys");

  const changed = await session.update({ r: { a: [1, 3] } });
  assertDeepEqual(reuse(changed), [1, 1, 2, 0, 0]);
  assertEqual(changed.outputs.u, '{"a":[1,3]}!');
});

test("a defaulted input is accepted with the first run and then kept like a supplied one", async () => {
  const program = compileModule("brindlet m { input r: Record = {k: 1} input x: Int derive d: Int = x + 1 output d }");
  const session = new ReactiveSession(program);
  const first = await session.update({ x: 1 });
  assertEqual(first.metrics.inputHashes, 2);
  // the accepted value wins over the default: nothing is normalized or hashed again
  const again = await session.update({});
  assertDeepEqual([again.metrics.inputHashes, again.metrics.reusedInputs], [0, 2]);
  assert(again.values.r === first.values.r);
  assertEqual(again.metrics.cacheKeysReused, 1);
});

test("a Result dependency recomputed with the same evidence gives the same key", async () => {
  const program = compileModule(
    "result R: Int fn okf(v: Int) -> Int { return v } fn errf(e: Text) -> Int { return 0 } fn wrap(x: Int) -> R { return x |> ok(R) } " +
      "brindlet m { input x: Int input y: Int derive r: R = wrap(x) derive v: Int = r |> match(okf, errf) derive w: Int = y + 1 output v output w }",
  );
  const session = new ReactiveSession(program);
  await session.update({ x: 5, y: 1 });
  const next = await session.update({ y: 2 });
  // r is never cached and is evaluated again; its version is hashed again and equals the old one
  assertDeepEqual(next.trace.map((entry) => [entry.derive, entry.status]), [["r", "computed"], ["v", "cache-hit"], ["w", "computed"]]);
  assertEqual(next.metrics.dependencyHashes, 1);
  assertDeepEqual([next.metrics.cacheKeysReused, next.metrics.cacheKeysBuilt], [1, 1]);
});

test("refusals before queuing come in order: inputs, adapters, then the queue bound", async () => {
  const db = { interfaces: { "db.get": { params: [], result: "Int", effects: [] } } };
  const program = compileModule("brindlet m { use db input x: Int derive d: Int = db.get() + x output d }", db);
  const gates = [];
  const provider = {
    version: "1",
    invoke: () => new Promise((resolve) => gates.push(resolve)),
  };
  const session = new ReactiveSession(program, { adapters: { "db.get": provider }, budget: { maxQueued: 1 } });
  // one running and one waiting are allowed; a third is refused
  const first = session.update({ x: 1 });
  const second = session.update({ x: 2 });
  await assertRejects(session.update({ x: 3 }), QUEUE_FULL);
  await assertRejects(session.update({ z: 3 }), fault("INPUT_SCHEMA", "Передан необъявленный вход."));
  provider.version = " ";
  await assertRejects(session.update({ x: 3 }), fault("ADAPTER_SCHEMA", "Адаптер db.get требует version и invoke."));
  provider.version = "1";
  while (gates.length === 0) await new Promise((resolve) => setTimeout(resolve, 1));
  gates.shift()(10);
  assertEqual((await first).outputs.d, 11);
  while (gates.length === 0) await new Promise((resolve) => setTimeout(resolve, 1));
  gates.shift()(10);
  assertEqual((await second).outputs.d, 12);
  const third = session.update({ x: 3 });
  while (gates.length === 0) await new Promise((resolve) => setTimeout(resolve, 1));
  gates.shift()(10);
  assertEqual((await third).outputs.d, 13);
});
