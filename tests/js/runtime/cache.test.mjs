import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import {
  createRuntimeCache,
  runtimeCacheStats,
  cacheRecord,
  isRuntimeCache,
  cacheCount,
  cacheHit,
  cachePut,
  cacheCommit,
} from "../../../quelt/runtime/cache.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";

const SCHEMA = (message) => ({ type: RuntimeDiagnostic, code: "CACHE_SCHEMA", message });
const BAD_BOUNDS = SCHEMA("Неверная политика или границы кеша.");
const NOT_A_CACHE = SCHEMA("Кеш должен быть создан createRuntimeCache().");

function cache(options) {
  const token = createRuntimeCache(options);
  return { token, record: cacheRecord(token) };
}

function keys(record) {
  return [...record.entries.keys()];
}

// Stats without the fixed descriptive fields, for compact comparisons.
function counters(token) {
  const s = runtimeCacheStats(token);
  return {
    entries: s.entries,
    bytes: s.accountedBytes,
    hits: s.hits,
    misses: s.misses,
    admissions: s.admissions,
    evictions: s.evictions,
    rejections: s.rejections,
    oversized: s.oversizedEntries,
    computed: s.computedEntries,
  };
}

test("a default cache and its statistics snapshot", () => {
  const token = createRuntimeCache();
  assertDeepEqual(Object.keys(token), ["kind"]);
  assertEqual(token.kind, "quelt-runtime-cache");
  assert(Object.isFrozen(token));
  assert(isRuntimeCache(token));
  const stats = runtimeCacheStats(token);
  assert(Object.isFrozen(stats));
  assertDeepEqual(stats, {
    policy: "fifo",
    maxBytes: 4194304,
    maxEntries: 1024,
    accounting: "v03-utf8-key-json-value-version-estimate",
    accountedBytes: 0,
    entries: 0,
    hits: 0,
    misses: 0,
    admissions: 0,
    evictions: 0,
    rejections: 0,
    oversizedEntries: 0,
    computedEntries: 0,
    computeMs: 0,
    estimatedAvoidedComputeMs: 0,
    invalidTimings: 0,
    countersSaturated: false,
  });
  assert(createRuntimeCache() !== token, "a new token per cache");
  assertEqual(cacheRecord(token).tick, 0n);
  assertEqual(runtimeCacheStats(createRuntimeCache({ policy: "lru" })).maxEntries, 1024);
});

test("cache options: bounds, unknown names and unreadable objects", () => {
  const accepted = [
    [{ maxEntries: 4096 }, "fifo", 4194304, 4096],
    [{ maxBytes: 67108864, policy: "cost-aware" }, "cost-aware", 67108864, 1024],
    [{ maxBytes: 0, maxEntries: 0, policy: "lru" }, "lru", 0, 0],
  ];
  for (const [options, policy, maxBytes, maxEntries] of accepted) {
    const s = runtimeCacheStats(createRuntimeCache(options));
    assertDeepEqual([s.policy, s.maxBytes, s.maxEntries], [policy, maxBytes, maxEntries]);
  }
  const getter = {};
  Object.defineProperty(getter, "policy", { get: () => "fifo", enumerable: true });
  const exotic = new Proxy({}, { ownKeys() { throw new Error("trap"); } });
  const refused = [
    [{ maxEntries: 4097 }, BAD_BOUNDS],
    [{ maxBytes: 67108865 }, BAD_BOUNDS],
    [{ maxBytes: -1 }, BAD_BOUNDS],
    [{ maxEntries: 1.5 }, BAD_BOUNDS],
    [{ maxBytes: "1024" }, BAD_BOUNDS],
    [{ policy: "LRU" }, BAD_BOUNDS],
    [{ policy: undefined }, BAD_BOUNDS],
    [{ size: 10 }, SCHEMA("Неизвестная настройка кеша.")],
    [{ size: 10, maxEntries: -1 }, SCHEMA("Неизвестная настройка кеша.")],
    [null, SCHEMA("Ожидается объект данных.")],
    [getter, SCHEMA("Символы, скрытые поля и getters не разрешены.")],
    [exotic, SCHEMA("Не удалось безопасно прочитать настройки кеша.")],
  ];
  for (const [options, expected] of refused) assertThrows(() => createRuntimeCache(options), expected, expected.message);
});

test("only registered tokens count as caches", () => {
  const token = createRuntimeCache();
  for (const value of [undefined, null, 1, {}, { ...token }, Object.freeze({ kind: "quelt-runtime-cache" })]) {
    assertThrows(() => runtimeCacheStats(value), NOT_A_CACHE);
    assert(!isRuntimeCache(value));
  }
});

test("accounted size: UTF-8 of key, JSON of value and version", () => {
  const { token, record } = cache();
  cachePut(record, "k", Object.freeze({ a: 1 }), "h:ab", 1); // 1 + 7 + 4
  cachePut(record, "é", UNKNOWN, undefined, 1); // 2 + 24
  cachePut(record, "n", -0, "p:x", 1); // 1 + 1 + 3
  assertEqual(runtimeCacheStats(token).accountedBytes, 12 + 26 + 5);
  assertEqual(record.entries.get("k").bytes, 12);
  cachePut(record, "k", "yes", "h:ab", 1); // replaced: 1 + 5 + 4
  assertEqual(runtimeCacheStats(token).accountedBytes, 10 + 26 + 5);
  assertDeepEqual(keys(record), ["é", "n", "k"]);
});

test("rejections: zero bounds, oversized entries and invalid timings", () => {
  for (const options of [{ maxEntries: 0 }, { maxBytes: 0 }]) {
    const { token, record } = cache(options);
    cachePut(record, "A", 1, undefined, 2);
    cachePut(record, "B", 2, undefined, 3);
    const s = runtimeCacheStats(token);
    assertDeepEqual([s.entries, s.computedEntries, s.rejections, s.admissions, s.computeMs], [0, 2, 2, 0, 5]);
  }
  // With maxBytes 0 every entry is oversized as well.
  const empty = cache({ maxBytes: 0 });
  cachePut(empty.record, "A", 1, undefined, 0);
  assertEqual(runtimeCacheStats(empty.token).oversizedEntries, 1);

  const { token, record } = cache({ maxBytes: 10 });
  cachePut(record, "A", "xx", undefined, 1); // 5 bytes
  cachePut(record, "B", "x".repeat(20), undefined, 1); // 23 bytes
  cachePut(record, "C", "yy", undefined, null);
  const s = runtimeCacheStats(token);
  assertDeepEqual(keys(record), ["A"]);
  assertDeepEqual(
    [s.computedEntries, s.admissions, s.rejections, s.oversizedEntries, s.invalidTimings, s.evictions, s.computeMs],
    [3, 1, 2, 1, 1, 0, 2],
  );
});

test("fifo evicts the earliest inserted or re-inserted key", () => {
  const { token, record } = cache({ maxEntries: 2 });
  for (const key of ["A", "B", "C"]) cachePut(record, key, 1, undefined, 1);
  assertDeepEqual(keys(record), ["B", "C"]);
  cachePut(record, "A", 1, undefined, 1);
  assertDeepEqual(keys(record), ["C", "A"]);
  cacheHit(record, "C", record.entries.get("C"));
  assertDeepEqual(keys(record), ["C", "A"], "a hit does not reorder fifo");
  cachePut(record, "C", 2, undefined, 1);
  assertDeepEqual(keys(record), ["A", "C"], "re-storing moves the key to the back");
  assertDeepEqual(counters(token), {
    entries: 2, bytes: 4, hits: 1, misses: 0, admissions: 5, evictions: 2, rejections: 0, oversized: 0, computed: 5,
  });

  const bytes = cache({ maxBytes: 10 });
  cachePut(bytes.record, "A", "xx", undefined, 1); // 5
  cachePut(bytes.record, "B", "yy", undefined, 1); // 5
  cachePut(bytes.record, "C", "z", undefined, 1); // 4
  assertDeepEqual(keys(bytes.record), ["B", "C"]);
  assertEqual(runtimeCacheStats(bytes.token).accountedBytes, 9);
});

test("lru evicts the least recently hit or stored key", () => {
  const { token, record } = cache({ policy: "lru", maxEntries: 2 });
  cachePut(record, "A", 1, undefined, 4);
  cachePut(record, "B", 1, undefined, 1);
  const tick = record.tick;
  cacheHit(record, "A", record.entries.get("A"));
  assertEqual(record.entries.get("A").access, tick + 1n);
  assertEqual(record.tick, tick + 1n);
  cachePut(record, "C", 1, undefined, 1);
  assertDeepEqual(keys(record), ["A", "C"]);
  const s = runtimeCacheStats(token);
  assertDeepEqual([s.hits, s.estimatedAvoidedComputeMs, s.evictions], [1, 4, 1]);
});

test("a hit whose entry changed since the lookup only counts", () => {
  const { token, record } = cache({ policy: "lru", maxEntries: 2 });
  cachePut(record, "A", 1, undefined, 3);
  cachePut(record, "B", 1, undefined, 1);
  const seenA = record.entries.get("A");
  const access = seenA.access;
  cachePut(record, "A", 2, undefined, 1); // replaced by another run: [B, A]
  cachePut(record, "B", 2, undefined, 1); // [A, B]
  const tick = record.tick;
  cacheHit(record, "A", seenA);
  assertDeepEqual(keys(record), ["A", "B"], "order unchanged");
  assertEqual(record.tick, tick);
  assertEqual(seenA.access, access);

  const seenB = record.entries.get("B");
  cachePut(record, "C", 1, undefined, 1);
  cachePut(record, "D", 1, undefined, 1); // B evicted
  cacheHit(record, "B", seenB);
  assertDeepEqual(keys(record), ["C", "D"]);
  const s = runtimeCacheStats(token);
  assertDeepEqual([s.hits, s.estimatedAvoidedComputeMs], [2, 4]);
});

test("cost-aware evicts by cost density, older first, and never the cheaper candidate", () => {
  // Candidate cheaper than everything stored: rejected, nothing evicted.
  const cheap = cache({ policy: "cost-aware", maxEntries: 2 });
  cachePut(cheap.record, "A", 1, undefined, 10);
  cachePut(cheap.record, "B", 1, undefined, 10);
  cachePut(cheap.record, "C", 1, undefined, 1);
  assertDeepEqual(keys(cheap.record), ["A", "B"]);
  assertDeepEqual(
    [counters(cheap.token).rejections, counters(cheap.token).evictions, runtimeCacheStats(cheap.token).computeMs],
    [1, 0, 21],
  );

  // Equal densities: the oldest access goes first; a hit makes an entry newer.
  const equal = cache({ policy: "cost-aware", maxEntries: 2 });
  cachePut(equal.record, "A", 1, undefined, 5);
  cachePut(equal.record, "B", 1, undefined, 5);
  cachePut(equal.record, "C", 1, undefined, 5);
  assertDeepEqual(keys(equal.record), ["B", "C"]);
  cacheHit(equal.record, "B", equal.record.entries.get("B"));
  assertDeepEqual(keys(equal.record), ["B", "C"], "hits do not reorder cost-aware");
  cachePut(equal.record, "D", 1, undefined, 5);
  assertDeepEqual(keys(equal.record), ["B", "D"]);

  // Density is cost per byte: a larger entry of the same cost ranks lower.
  const density = cache({ policy: "cost-aware", maxEntries: 2 });
  cachePut(density.record, "A", 1, undefined, 6); // 2 bytes: density 3
  cachePut(density.record, "B", "xxxxxxxx", undefined, 6); // 11 bytes: density < 1
  cachePut(density.record, "C", 1, undefined, 4); // density 2
  assertDeepEqual(keys(density.record), ["A", "C"]);
});

test("cost-aware evicts as many victims as the candidate needs, in ranking order", () => {
  const { token, record } = cache({ policy: "cost-aware", maxBytes: 12 });
  cachePut(record, "A", "xx", undefined, 2); // 5 bytes, density 0.4
  cachePut(record, "B", "yy", undefined, 1); // 5 bytes, density 0.2
  cachePut(record, "C", 1, undefined, 1); // 2 bytes, density 0.5
  cachePut(record, "D", "z".repeat(6), undefined, 50); // 9 bytes
  assertDeepEqual(keys(record), ["C", "D"]);
  assertDeepEqual([counters(token).evictions, counters(token).bytes], [2, 11]);

  // Re-storing a key replaces it without ranking the old entry.
  const again = cache({ policy: "cost-aware", maxEntries: 2 });
  cachePut(again.record, "A", 1, undefined, 1);
  cachePut(again.record, "B", 1, undefined, 100);
  cachePut(again.record, "A", 2, undefined, 1);
  assertDeepEqual(keys(again.record), ["B", "A"]);
  assertDeepEqual([counters(again.token).evictions, counters(again.token).rejections], [0, 0]);
});

test("counters saturate at the largest safe integer", () => {
  const { token, record } = cache();
  cacheCount(record, "misses", Number.MAX_SAFE_INTEGER - 1);
  cacheCount(record, "misses");
  assertEqual(runtimeCacheStats(token).countersSaturated, false);
  cacheCount(record, "misses");
  cacheCount(record, "computeMs", Number.POSITIVE_INFINITY);
  cachePut(record, "A", 1, undefined, 0.25);
  const s = runtimeCacheStats(token);
  assertDeepEqual([s.misses, s.computeMs, s.countersSaturated], [Number.MAX_SAFE_INTEGER, Number.MAX_SAFE_INTEGER, true]);

  const fractions = cache();
  cachePut(fractions.record, "A", 1, undefined, 0.25);
  cachePut(fractions.record, "B", 1, undefined, 0.5);
  assertEqual(runtimeCacheStats(fractions.token).computeMs, 0.75);
});

test("committing a run's lookups: hits refreshed, misses counted then offered", () => {
  const { token, record } = cache({ policy: "lru" });
  cachePut(record, "A", 1, "p:a", 2);
  cachePut(record, "B", 1, undefined, 1);
  const hit = record.entries.get("A");
  cacheCommit(record, [
    { key: "A", hit },
    { key: "C", computed: { value: "x", version: "h:c", costMs: 3 } },
    { key: "D", computed: { value: 2, version: undefined, costMs: null } },
  ]);
  assertDeepEqual(keys(record), ["B", "A", "C"]);
  const s = runtimeCacheStats(token);
  assertDeepEqual(
    [s.hits, s.misses, s.computedEntries, s.admissions, s.rejections, s.invalidTimings, s.estimatedAvoidedComputeMs],
    [1, 2, 4, 3, 1, 1, 2],
  );
});
