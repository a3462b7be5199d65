import { test, assert, assertEqual, assertRejects } from "../harness.mjs";
import {
  hash,
  sourceDigest,
  dependencyVersion,
  resultDependencyVersion,
  cacheKey,
  sameVersions,
  sameDependencies,
  utf8Size,
} from "../../../quelt/runtime/versions.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { RuntimeDiagnostic, fail } from "../../../quelt/runtime/diagnostics.mjs";

// Expected digests were computed outside the runtime with the sha256sum tool
// over the bytes "KORVANTIS/runtime/v1", NUL, and the canonical text shown.
const DIGESTS = [
  ['{"type":"Int","value":5}', { type: "Int", value: 5 }, "eabdeeccf231877e89a98c40784363d083a803172e65c889c3ca0e32bee84b5b"],
  ["{}", {}, "f6dfaed9813c1ccb240fd0beb2f8a41ea7f7df5c063becd6c70f20a4d5981025"],
  ['{"type":"Text","value":"héllo"}', { value: "héllo", type: "Text" }, "31e16c9ab37efde94e2247cc52d6ae40d73cd9a77cfc53ba3a8ed0b5dd5e979b"],
  ['{"type":"Int[]","value":[1,2]}', { type: "Int[]", value: [1, 2] }, "cbcbf490bd4caf50ac1e4b2a1babe10d6c1e8b9a1affe8d5e68ee458dcb52d5d"],
  ['{"alpha":"1.0","beta":"2"}', { beta: "2", alpha: "1.0" }, "52a2211e7980b90486a981a30e7a1653055d3875b06056b3fa5da953774b8cfc"],
];

const SOURCE = "brindlet m { input a: Int output a }";
const SOURCE_V1 = "161ad9193f85ef1294bf5afa91d3075dc4da6814bd39ea84be52d3954a8f73ba";
const SOURCE_V2 = "591c75746912d0110e8bb47cf45bf46b996d62065db63d234c3a0cdc0169987b";

test("hash is SHA-256 over the domain prefix, NUL and the canonical text", async () => {
  for (const [text, value, digest] of DIGESTS) {
    assertEqual(await hash(value), digest, text);
  }
});

test("hash without WebCrypto rejects with CRYPTO_UNAVAILABLE", async () => {
  const descriptor = Object.getOwnPropertyDescriptor(globalThis, "crypto");
  if (descriptor && !descriptor.configurable) return; // the engine's shims fix the global
  Object.defineProperty(globalThis, "crypto", { value: undefined, configurable: true, writable: true });
  try {
    await assertRejects(hash({}), {
      type: RuntimeDiagnostic,
      code: "CRYPTO_UNAVAILABLE",
      message: "Для идентичности версий нужен WebCrypto.",
    });
  } finally {
    if (descriptor) Object.defineProperty(globalThis, "crypto", descriptor);
    else delete globalThis.crypto;
  }
});

test("dependency versions: scalars and unknown are plain, texts and containers hashed", async () => {
  const cases = [
    [5, "Int", 'p:{"type":"Int","value":5}', 0],
    [-0, "Float", 'p:{"type":"Float","value":-0}', 0],
    [0, "Float", 'p:{"type":"Float","value":0}', 0],
    [UNKNOWN, "Int?", 'p:{"type":"Int?","value":{"kind":"quelt-unknown"}}', 0],
    [UNKNOWN, "Truth", 'p:{"type":"Truth","value":{"kind":"quelt-unknown"}}', 0],
    [5, "Int?", 'p:{"type":"Int?","value":5}', 0],
    ["yes", "Truth", "h:81a21047613f737a84495899d0aacd765a2678afdef45ae7e53706f21831f622", 1],
    ["héllo", "Text", "h:31e16c9ab37efde94e2247cc52d6ae40d73cd9a77cfc53ba3a8ed0b5dd5e979b", 1],
    [Object.freeze([1, 2]), "Int[]", "h:cbcbf490bd4caf50ac1e4b2a1babe10d6c1e8b9a1affe8d5e68ee458dcb52d5d", 1],
  ];
  for (const [value, type, expected, hashes] of cases) {
    const metrics = { dependencyHashes: 0 };
    assertEqual(await dependencyVersion(value, type, metrics), expected, `${type} ${String(value)}`);
    assertEqual(metrics.dependencyHashes, hashes, `hash count for ${type}`);
  }
});

test("source digest: per version record, computed once per plan, shared while pending", async () => {
  const v1 = { version: 1, source: SOURCE };
  const v2 = { version: 2, source: SOURCE };
  const plan = { sourceHash: null };
  const first = sourceDigest(plan, v2);
  const second = sourceDigest(plan, v2);
  assertEqual(first.reused, false);
  assertEqual(second.reused, true);
  assertEqual(first.promise, second.promise, "runs starting while pending share the promise");
  assertEqual(await first.promise, SOURCE_V2);
  assertEqual(await sourceDigest({ sourceHash: null }, v1).promise, SOURCE_V1);
  // Another Program object of the same source and AST version: its own plan,
  // computed afresh, same hash.
  const again = sourceDigest({ sourceHash: null }, { version: 2, source: SOURCE });
  assertEqual(again.reused, false);
  assertEqual(await again.promise, SOURCE_V2);
});

test("source digest failure clears the slot so that a later run retries", async () => {
  const plan = { sourceHash: null };
  // Writing the canonical text of this source throws inside the hash, so the
  // digest promise rejects.
  const unreadable = { get text() { throw new Error("unreadable"); } };
  const broken = { version: 2, source: unreadable };
  const failed = sourceDigest(plan, broken);
  await assertRejects(failed.promise, { message: "unreadable" });
  assertEqual(plan.sourceHash, null);
  const retry = sourceDigest(plan, { version: 2, source: SOURCE });
  assertEqual(retry.reused, false);
  assertEqual(await retry.promise, SOURCE_V2);
});

test("Result dependency version hashes the Result record and checks around it", async () => {
  const descriptor = { definition: { name: "Parsed", successType: "Int" } };
  const evidence = { tag: "ok", payload: 5 };
  const item = { value: Object.freeze({ tag: "ok", value: 5 }), type: "Parsed" };
  const calls = [];
  const ctx = { programSourceHash: "abc", check: () => calls.push("check") };
  const requireResult = (given, name, context) => {
    calls.push(["require", given === item, name, context === ctx]);
    return { descriptor, evidence };
  };
  const metrics = { dependencyHashes: 0 };
  const version = await resultDependencyVersion(item, "Parsed", ctx, metrics, requireResult);
  assertEqual(version, "h:df12b1ac3d68d7a3b27e5b8f6090e65033bf7e3f38cb0b2f8d0213029d1fa14c");
  assertEqual(metrics.dependencyHashes, 1);
  assertEqual(JSON.stringify(calls), '[["require",true,"Parsed",true],"check","check"]');

  const refusing = () => fail("VALUE_TYPE", "refused");
  const untouched = { dependencyHashes: 0 };
  await assertRejects(resultDependencyVersion(item, "Parsed", ctx, untouched, refusing), { code: "VALUE_TYPE" });
  assertEqual(untouched.dependencyHashes, 0);
});

test("cache key layout", () => {
  assertEqual(cacheKey("s", "a", "total", ["h:1", "p:2"]), "s:a:total:h:1\u0000p:2");
  assertEqual(cacheKey("s", "a", "constant", []), "s:a:constant:");
});

test("sameVersions ignores field order; sameDependencies compares in order", () => {
  const cases = [
    [{ a: "1", b: "2" }, { b: "2", a: "1" }, true],
    [{ a: "1" }, { a: "1", b: "2" }, false],
    [{ a: "1", b: "2" }, { a: "1", c: "2" }, false],
    [{ a: "1" }, { a: "2" }, false],
    [{}, Object.create(null), true],
    [{ toString: undefined }, {}, false],
  ];
  for (const [a, b, expected] of cases) {
    assertEqual(sameVersions(a, b), expected, JSON.stringify([a, b]));
  }
  assert(sameDependencies(["h:1", "p:2"], ["h:1", "p:2"]));
  assert(!sameDependencies(["h:1", "p:2"], ["p:2", "h:1"]));
  assert(!sameDependencies(["h:1"], ["h:1", "p:2"]));
  assert(sameDependencies([], []));
});

test("utf8Size counts an unpaired surrogate as three bytes", () => {
  const cases = [
    ["", 0],
    ["abc", 3],
    ["é", 2],
    ["€", 3],
    ["\u{1F600}", 4],
    ["\ud800", 3],
    ["\udc00x", 4],
  ];
  for (const [text, bytes] of cases) assertEqual(utf8Size(text), bytes, JSON.stringify(text));
});
