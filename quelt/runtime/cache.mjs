// The runtime cache: values of cacheable derives under keys that fix the
// program source, the adapter set and every dependency version. Callers hold
// only an opaque frozen token; the record behind it is reached through the
// `caches` registry.
//
//   createRuntimeCache(options = {}) -> token            (exported by the unit)
//   runtimeCacheStats(token)         -> frozen snapshot  (exported by the unit)
//   isRuntimeCache(value)            -> whether value is a registered token
//   cacheRecord(token)               -> the record behind a token (or undefined)
//   cacheCount(cache, name, amount = 1)                 saturating counter update
//   cacheHit(cache, key, hit)                           commit of one hit
//   cachePut(cache, key, value, version, costMs)        commit of one miss
//   cacheCommit(cache, lookups)                          commits a successful run's lookups,
//                                                        {key, hit} or {key, computed}, in order
//
// A run reads `record.entries` directly during evaluation and changes the cache
// only through cacheHit / cacheCount("misses") + cachePut once it succeeded.
// Every commit runs to completion without yielding.

import { RuntimeDiagnostic, fail } from "./diagnostics.mjs";
import { RUNTIME_LIMITS, RUNTIME_CACHE_LIMITS } from "./limits.mjs";
import { jsonByteSize } from "./json-size.mjs";
import { dataKeys } from "./values.mjs";
import { utf8Size } from "./versions.mjs";

const caches = new WeakMap();

function isPolicy(value) {
  return value === "fifo" || value === "lru" || value === "cost-aware";
}

function isOptionField(key) {
  return key === "policy" || key === "maxBytes" || key === "maxEntries";
}
const DEFAULT_MAX_ENTRIES = 1024;
const ACCOUNTING = "v03-utf8-key-json-value-version-estimate";
const COUNTER_CEILING = Number.MAX_SAFE_INTEGER;

export function createRuntimeCache(options = {}) {
  const given = readCacheOptions(options);
  const policy = Object.hasOwn(given, "policy") ? given.policy : "fifo";
  const maxBytes = Object.hasOwn(given, "maxBytes") ? given.maxBytes : RUNTIME_LIMITS.cacheBytes;
  const maxEntries = Object.hasOwn(given, "maxEntries") ? given.maxEntries : DEFAULT_MAX_ENTRIES;
  if (
    !isPolicy(policy) ||
    !withinBound(maxBytes, RUNTIME_CACHE_LIMITS.maxBytes) ||
    !withinBound(maxEntries, RUNTIME_CACHE_LIMITS.maxEntries)
  ) {
    fail("CACHE_SCHEMA", "Неверная политика или границы кеша.");
  }
  const token = Object.freeze({ kind: "quelt-runtime-cache" });
  caches.set(token, {
    entries: new Map(),
    bytes: 0,
    policy,
    maxBytes,
    maxEntries,
    tick: 0n,
    stats: {
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
    },
  });
  return token;
}

// Copies the given option fields into a private record. Exotic objects may
// throw while being read; that becomes the cache's own refusal.
function readCacheOptions(options) {
  try {
    const keys = dataKeys(options, "CACHE_SCHEMA");
    for (const key of keys) {
      if (!isOptionField(key)) fail("CACHE_SCHEMA", "Неизвестная настройка кеша.");
    }
    const given = Object.create(null);
    for (const key of keys) given[key] = options[key];
    return given;
  } catch (error) {
    if (error instanceof RuntimeDiagnostic) throw error;
    return fail("CACHE_SCHEMA", "Не удалось безопасно прочитать настройки кеша.");
  }
}

function withinBound(value, highest) {
  return Number.isSafeInteger(value) && value >= 0 && value <= highest;
}

export function isRuntimeCache(value) {
  return caches.has(value);
}

export function cacheRecord(token) {
  return caches.get(token);
}

export function runtimeCacheStats(token) {
  const cache = caches.get(token);
  if (cache === undefined) fail("CACHE_SCHEMA", "Кеш должен быть создан createRuntimeCache().");
  return Object.freeze({
    policy: cache.policy,
    maxBytes: cache.maxBytes,
    maxEntries: cache.maxEntries,
    accounting: ACCOUNTING,
    accountedBytes: cache.bytes,
    entries: cache.entries.size,
    ...cache.stats,
  });
}

export function cacheCount(cache, name, amount = 1) {
  const next = cache.stats[name] + amount;
  if (!Number.isFinite(next) || next > COUNTER_CEILING) {
    cache.stats[name] = COUNTER_CEILING;
    cache.stats.countersSaturated = true;
  } else {
    cache.stats[name] = next;
  }
}

// Commits a hit found at lookup time. The entry may have been replaced or
// evicted by another run's commit since; then only the counters change.
export function cacheHit(cache, key, hit) {
  cacheCount(cache, "hits");
  cacheCount(cache, "estimatedAvoidedComputeMs", hit.costMs);
  if (cache.entries.get(key) !== hit) return;
  cache.tick += 1n;
  hit.access = cache.tick;
  if (cache.policy === "lru") {
    cache.entries.delete(key);
    cache.entries.set(key, hit);
  }
}

// Offers a computed value. Never fails: whatever cannot be stored is counted
// as a rejection.
export function cachePut(cache, key, value, version, costMs) {
  cacheCount(cache, "computedEntries");
  if (costMs === null) {
    cacheCount(cache, "invalidTimings");
    cacheCount(cache, "rejections");
    return;
  }
  cacheCount(cache, "computeMs", costMs);
  const bytes = accountedSize(key, value, version);
  if (bytes > cache.maxBytes) {
    cacheCount(cache, "oversizedEntries");
    cacheCount(cache, "rejections");
    return;
  }
  if (cache.maxEntries === 0 || cache.maxBytes === 0) {
    cacheCount(cache, "rejections");
    return;
  }
  const old = cache.entries.get(key);
  cache.tick += 1n;
  const candidate = { value, version, bytes, costMs, access: cache.tick };
  if (cache.policy === "cost-aware" && !makeRoomByCost(cache, key, old, candidate)) {
    cacheCount(cache, "rejections");
    return;
  }
  if (old !== undefined) cache.bytes -= old.bytes;
  cache.entries.delete(key);
  cache.entries.set(key, candidate);
  cache.bytes += bytes;
  cacheCount(cache, "admissions");
  while (cache.bytes > cache.maxBytes || cache.entries.size > cache.maxEntries) {
    const [front, entry] = cache.entries.entries().next().value;
    evict(cache, front, entry);
  }
}

// The commit step of a successful run: each lookup in the order the derives
// were met, a hit refreshed, a miss counted and then offered.
export function cacheCommit(cache, lookups) {
  for (const lookup of lookups) {
    if (lookup.hit !== undefined) {
      cacheHit(cache, lookup.key, lookup.hit);
    } else {
      const { value, version, costMs } = lookup.computed;
      cacheCount(cache, "misses");
      cachePut(cache, lookup.key, value, version, costMs);
    }
  }
}

// The value's share is the UTF-8 size of its JSON text, counted from what is
// known of admitted data and written out only when that cannot vouch for it.
function accountedSize(key, value, version) {
  const size = utf8Size(key) + jsonByteSize(value);
  return typeof version === "string" ? size + utf8Size(version) : size;
}

// Under "cost-aware", evicts the entries of lowest cost density (older first
// among equals) until the candidate fits. Returns false, having evicted
// nothing, when the candidate itself would be the next victim.
function makeRoomByCost(cache, key, old, candidate) {
  let projectedBytes = cache.bytes - (old === undefined ? 0 : old.bytes) + candidate.bytes;
  let projectedEntries = cache.entries.size - (old === undefined ? 0 : 1) + 1;
  const fits = () => projectedBytes <= cache.maxBytes && projectedEntries <= cache.maxEntries;
  if (fits()) return true;
  const ranking = [];
  for (const [entryKey, entry] of cache.entries) {
    if (entryKey !== key) ranking.push({ key: entryKey, entry });
  }
  ranking.push({ key, entry: candidate });
  ranking.sort(byCostDensity);
  const victims = [];
  for (const item of ranking) {
    if (fits()) break;
    if (item.entry === candidate) return false;
    victims.push(item);
    projectedBytes -= item.entry.bytes;
    projectedEntries -= 1;
  }
  for (const victim of victims) evict(cache, victim.key, victim.entry);
  return true;
}

function byCostDensity(a, b) {
  const densityA = a.entry.costMs / a.entry.bytes;
  const densityB = b.entry.costMs / b.entry.bytes;
  if (densityA !== densityB) return densityA < densityB ? -1 : 1;
  if (a.entry.access === b.entry.access) return 0;
  return a.entry.access < b.entry.access ? -1 : 1;
}

function evict(cache, key, entry) {
  cache.entries.delete(key);
  cache.bytes -= entry.bytes;
  cacheCount(cache, "evictions");
}
