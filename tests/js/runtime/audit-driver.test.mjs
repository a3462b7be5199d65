// A second look at the execution driver, its identities and its receipts.
// Digests below were computed with an independent SHA-256 tool over
// "KORVANTIS/runtime/v1", one NUL byte and the canonical text shown beside them.
import { test, assert, assertEqual, assertDeepEqual, assertRejects } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { execute, createRuntimeCache, runtimeCacheStats, ReactiveSession, RuntimeDiagnostic, UNKNOWN } from "quelt/runtime.mjs";
import * as runtime from "quelt/runtime.mjs";
import { cacheRecord } from "../../../quelt/runtime/cache.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const CANCELLED = fault("CANCELLED", "Выполнение отменено.");
const DEADLINE = fault("DEADLINE", "Истёк срок выполнения.");
const OUTPUT_BUDGET = fault("OUTPUT_BUDGET", "Полный результат превышает общий бюджет выходных байтов.");
const STEP_BUDGET = fault("STEP_BUDGET", "Исчерпан общий бюджет шагов.");

const DIGEST = {
  // {"type":"Int","value":5}
  int5: "eabdeeccf231877e89a98c40784363d083a803172e65c889c3ca0e32bee84b5b",
  // {"type":"Int?","value":5}
  optionalInt5: "0cfb17d4cc62c9e60c8372bfc8823524eaa90a1f061900a1b5cb92a00707de60",
  // {}
  noAdapters: "f6dfaed9813c1ccb240fd0beb2f8a41ea7f7df5c063becd6c70f20a4d5981025",
  // {"a.x":"1","b.y":"2"}
  twoAdapters: "2fc259e81893dad772705480386bcde1b3be33995ac7515a8d94b0108934a8ae",
  // {"type":"Truth","value":"yes"}
  truthYes: "81a21047613f737a84495899d0aacd765a2678afdef45ae7e53706f21831f622",
  // {"source":"brindlet m { input x: Int output x }"}
  plainSource: "16143df7c835a528e8ce24c7e01b537ff878f4b23acaa9307a5dba1d32b5af07",
  // {"astVersion":2,"source":LOCALS}
  localsSource: "16d15c2a55406a0d13a12a3c3915b29b214cf3ac39675eb8d3cdf86996c3bb9c",
  // {"source":LOCALS}, the form of AST version 1 only
  localsSourceAsVersion1: "8287846369baa0cd52e9bed3e4d7d089711d1d2d7e3cd89b2c7470b69c9f0a26",
};
const LOCALS = "fn f(a: Int) -> Int { let b: Int = a + 1; return b } brindlet m { input x: Int derive d: Int = f(x) output d }";

const cacheKeys = (cache) => [...cacheRecord(cache).entries.keys()];

test("source, input and adapter identities are the documented digests", async () => {
  const plain = await execute(compileModule("brindlet m { input x: Int output x }"), { x: 5 });
  assertEqual(plain.program.version, 1);
  assertEqual(plain.versions.programSourceHash, DIGEST.plainSource);
  assertEqual(plain.program.sourceHash, DIGEST.plainSource);
  assertDeepEqual({ ...plain.versions.inputs }, { x: DIGEST.int5 });

  const program = compileModule(LOCALS);
  assertEqual(program.version, 2);
  const cache = createRuntimeCache();
  const receipt = await execute(program, { x: 5 }, { cache });
  assertEqual(receipt.versions.programSourceHash, DIGEST.localsSource);
  assert(receipt.versions.programSourceHash !== DIGEST.localsSourceAsVersion1, "from version 2 the AST version is hashed too");
  assertDeepEqual(cacheKeys(cache), [`${DIGEST.localsSource}:${DIGEST.noAdapters}:d:h:${DIGEST.int5}`]);

  // the adapter record is hashed whether or not the Program uses adapters
  const provider = (version) => ({ version, invoke: () => 0 });
  const withAdapters = createRuntimeCache();
  await execute(program, { x: 5 }, { cache: withAdapters, adapters: { "b.y": provider("2"), "a.x": provider("1") } });
  assertDeepEqual(cacheKeys(withAdapters), [`${DIGEST.localsSource}:${DIGEST.twoAdapters}:d:h:${DIGEST.int5}`]);

  // the same value under two declared types has two versions
  const typed = await execute(compileModule("brindlet m { input a: Int input b: Int? output a }"), { a: 5, b: 5 });
  assertDeepEqual({ ...typed.versions.inputs }, { a: DIGEST.int5, b: DIGEST.optionalInt5 });
});

test("derive versions in cache keys: plain scalars and unknown, hashed texts", async () => {
  const chain = (type) => `brindlet m { input x: ${type} derive d: ${type} = x derive e: ${type} = d output e }`;
  const cases = [
    [chain("Float"), { x: -0 }, 'p:{"type":"Float","value":-0}'],
    [chain("Float"), { x: 0 }, 'p:{"type":"Float","value":0}'],
    [chain("Int?"), { x: null }, 'p:{"type":"Int?","value":{"kind":"quelt-unknown"}}'],
    [chain("Truth"), { x: "unknown" }, 'p:{"type":"Truth","value":{"kind":"quelt-unknown"}}'],
    [chain("Truth"), { x: "yes" }, `h:${DIGEST.truthYes}`],
  ];
  for (const [source, inputs, version] of cases) {
    const cache = createRuntimeCache();
    const receipt = await execute(compileModule(source), inputs, { cache });
    const label = `${source} ${JSON.stringify(inputs)}`;
    const keys = cacheKeys(cache);
    assertEqual(keys[1].slice(keys[1].indexOf(":e:") + 3), version, label);
    assertEqual(receipt.metrics.dependencyHashes, version.startsWith("h:") ? 1 : 0, label);
    assertEqual(receipt.trace[0].unknown, receipt.values.d === UNKNOWN, label);
  }
  // a derive without dependencies: the key ends in its name and a colon
  const cache = createRuntimeCache();
  const constant = await execute(compileModule("brindlet m { derive d: Int = 5 output d }"), {}, { cache });
  assertDeepEqual(cacheKeys(cache), [`${constant.versions.programSourceHash}:${DIGEST.noAdapters}:d:`]);
});

test("receipt size is counted in UTF-8 bytes of its JSON text", async () => {
  const fresh = () => compileModule('brindlet m { input t: Text derive d: Text = t + "жёлтый 😀" output d }');
  const receipt = await execute(fresh(), { t: "é" });
  const text = JSON.stringify(receipt);
  const size = new TextEncoder().encode(text).length;
  assert(size > text.length, "the receipt holds multi-byte characters");
  assertEqual(receipt.metrics.runOutputBytes, size);
  assertEqual(receipt.metrics.outputBytes, size);
  // a fresh Program each time, so that sourceHashReused (and the size) stays the same
  assertEqual((await execute(fresh(), { t: "é" }, { budget: { maxOutputBytes: size } })).metrics.runOutputBytes, size);
  await assertRejects(execute(fresh(), { t: "é" }, { budget: { maxOutputBytes: size - 1 } }), OUTPUT_BUDGET);
});

test("an output budget refusal comes after every derive was charged and commits nothing", async () => {
  const program = compileModule("brindlet m { input x: Int derive d: Int = x + 1 output d }");
  const cache = createRuntimeCache();
  const session = new ReactiveSession(program, { budget: { maxOutputBytes: 1 }, cache });
  await assertRejects(session.update({ x: 1 }), OUTPUT_BUDGET);
  // one step for the derive and three for its nodes stay charged; no bytes are
  assertDeepEqual([session.metrics.steps, session.metrics.outputBytes], [4, 0]);
  const stats = runtimeCacheStats(cache);
  assertDeepEqual([stats.entries, stats.misses, stats.computedEntries], [0, 0, 0]);
  // the failed run left no accepted inputs behind
  await assertRejects(session.update({}), fault("MISSING_INPUT", "Отсутствует вход x."));
});

// A caller signal shaped like an abort signal, recording its listeners.
function recordingSignal(aborted, reason) {
  const added = [];
  const removed = [];
  return {
    added,
    removed,
    signal: {
      aborted,
      reason,
      addEventListener: (type, listener, options) => added.push([type, listener, options]),
      removeEventListener: (type, listener) => removed.push([type, listener]),
    },
  };
}

test("the caller's signal: one once-only listener, removed after success and failure", async () => {
  const program = compileModule("brindlet m { input x: Int derive d: Int = x + 1 output d }");
  for (const [budget, expected] of [[{}, null], [{ maxSteps: 0 }, STEP_BUDGET]]) {
    const { signal, added, removed } = recordingSignal(false);
    const run = execute(program, { x: 1 }, { signal, budget });
    if (expected === null) await run;
    else await assertRejects(run, expected);
    assertEqual(added.length, 1);
    assertEqual(added[0][0], "abort");
    assertEqual(added[0][2].once, true);
    assertDeepEqual(removed, [["abort", added[0][1]]]);
  }
});

test("an already aborted signal refuses the run before anything is hashed or charged", async () => {
  const own = new RuntimeDiagnostic("MINE", "своё");
  for (const [reason, expected] of [[undefined, CANCELLED], [new Error("stop"), CANCELLED], ["text", CANCELLED], [own, fault("MINE", "своё")]]) {
    const program = compileModule("brindlet m { input x: Int derive d: Int = x + 1 output d }");
    const { signal, removed } = recordingSignal(true, reason);
    const cache = createRuntimeCache();
    await assertRejects(execute(program, { x: 1 }, { signal, cache }), expected);
    assertEqual(removed.length, 1);
    assertEqual(runtimeCacheStats(cache).misses, 0);
    const later = await execute(program, { x: 1 });
    assertEqual(later.metrics.sourceHashReused, false, "the refused run started no source hash");
  }
});

test("a pure computation is stopped by its own deadline", async () => {
  const derives = Array.from({ length: 40 }, (_, index) => `derive d${index}: Int = x |> repeat(next, ${index})`).join(" ");
  const program = compileModule(`fn next(a: Int, i: Int) -> Int { return a + i } brindlet m { input x: Int ${derives} output d0 }`);
  const cache = createRuntimeCache();
  await assertRejects(execute(program, { x: 4096 }, { cache, budget: { deadlineMs: 1, maxSteps: 100000000 } }), DEADLINE);
  assertEqual(runtimeCacheStats(cache).misses, 0);
});

test("the runtime module exports exactly its public interface", () => {
  assertDeepEqual(Object.keys(runtime).sort(), [
    "DEFAULT_BUDGET", "FUNCTION_SORT_BY_LIMITS", "RECORD_JSON_LIMITS", "RUNTIME_CACHE_LIMITS", "RUNTIME_LIMITS",
    "ReactiveSession", "RuntimeDiagnostic", "TEXT_PARSE_FLOAT_LIMITS", "TEXT_PARSE_INT_LIMITS", "TaskPool", "UNKNOWN",
    "createRuntimeCache", "execute", "isRunReceipt", "isUnknown", "runtimeCacheStats",
  ]);
});

test("every expression kind passes the effect analysis, and a second run is served from the cache", async () => {
  const db = { interfaces: { "db.get": { params: ["Text"], result: "Int", effects: [] } } };
  const derives = [
    "a: Int[] = xs |> each(inc)", "b: Int[] = xs |> filter(pos)", "c: Int = xs |> fold(add, 0)",
    "d: Int = 3 |> repeat(add, 0)", "e: Int[] = xs |> sortBy(inc)", "f: Int[] = a |> concat(b) |> append(7)",
    "g: Int? = f |> at(0)", 'h: Truth = t |> contains("x")', "i: Text = t |> slice(0, 1)", "j: Text[] = r |> keys()",
    "k: Text = r |> toJson()", 'l: Int? = "12" |> parseInt()', 'l2: Float? = "1.5" |> parseFloat()', "n: Text = 5 |> toText()",
    "p: Int = 7 |> quotient(2)", "q: Int = 7 |> remainder(2)", "s1: Truth = o |> present()", "s2: Int = o |> orElse(1)",
    's3: Record = r |> withField("z", 1) |> withoutField("z")', "s4: Int = 5 |> bitAnd(3)", "s5: Int = 5 |> bitNot()",
    "s6: S = r |> asSchema(S)", 's7: Int = s6 |> field("a")', "s8: Record = s6 |> toRecord()", "s9: R = 4 |> ok(R)",
    "s10: Int = s9 |> match(okf, errf)", "s11: Int = 0 - c", "s12: Int = load(t) + 1", "s13: Int = db.get(t)",
    's14: Record = {u: [1, 2], v: c}',
  ];
  const source =
    "schema S { a: Int } result R: Int fn inc(v: Int) -> Int { return v + 1 } fn pos(v: Int) -> Truth { return v > 0 } " +
    "fn add(s: Int, v: Int) -> Int { return s + v } fn okf(v: Int) -> Int { return v } fn errf(e: Text) -> Int { return 0 } " +
    "effect fn load(k: Text) -> Int { return db.get(k) } " +
    `brindlet m { use db input xs: Int[] input t: Text input r: Record input o: Int? ${derives.map((d) => "derive " + d).join(" ")} output c }`;
  const program = compileModule(source, db);
  assertEqual(program.version, 26);
  const uncached = new Set(["s6", "s9", "s12", "s13"]);
  const options = { adapters: { "db.get": { version: "1", invoke: (values) => values[0].length } }, cache: createRuntimeCache() };
  const inputs = { xs: [3, -1, 2], t: "xy", r: { a: 1, b: 2 }, o: null };
  const first = await execute(program, inputs, options);
  const traced = first.trace.filter((entry) => entry.derive !== undefined);
  assertDeepEqual(traced.map((entry) => entry.cacheable), traced.map((entry) => !uncached.has(entry.derive)));
  const second = await execute(compileModule(source, db), inputs, options);
  const statuses = second.trace.filter((entry) => entry.derive !== undefined).map((entry) => [entry.derive, entry.status]);
  assertDeepEqual(statuses, traced.map((entry) => [entry.derive, uncached.has(entry.derive) ? "computed" : "cache-hit"]));
  assertDeepEqual([second.metrics.cacheHits, second.metrics.computedDerives], [derives.length - 4, 4]);
  assertDeepEqual({ ...second.values }, { ...first.values });
});
