// Version identities: short texts equal for equal values and different, with
// the strength of SHA-256, for different ones. The driver composes cache keys
// from them and sessions compare them to skip work.
//
//   hash(value)                       -> promise of 64 lowercase hex digits: SHA-256 of the
//                                        UTF-8 of "KORVANTIS/runtime/v1", NUL, canonical(value)
//   sourceDigest(plan, program)       -> {promise, reused}: the source hash, once per plan
//   dependencyVersion(value, type, metrics)
//                                     -> promise of "p:" + canonical text (scalars, unknown)
//                                        or "h:" + hash (texts, arrays, Records)
//   resultDependencyVersion(item, type, ctx, metrics, requireResult)
//                                     -> promise of "h:" + hash of the Result dependency record;
//                                        `requireResult` is the Result evidence check
//   cacheKey(sourceHash, adapterHash, name, dependencies) -> the cache key text
//   sameVersions(a, b), sameDependencies(a, b) -> Boolean
//   utf8Size(text)                    -> UTF-8 size (an unpaired surrogate counting 3 bytes)
//                                        of texts of any length

import { canonical, isUnknown } from "./values.mjs";
import { fail } from "./diagnostics.mjs";
import { utf8Length } from "./utf8.mjs";

const DOMAIN_PREFIX = "KORVANTIS/runtime/v1\u0000";
const RESULT_SCHEMA = "quelt-result-dependency-v1";

let sharedEncoder = null;

function encoder() {
  if (sharedEncoder === null) sharedEncoder = new TextEncoder();
  return sharedEncoder;
}

// The platform encoder refuses texts above 16 MiB of UTF-8; texts that may
// be that long (a receipt's JSON text, a cached value's) are counted by a scan.
const ENCODER_MEASURE_UNITS = 4194304;

export function utf8Size(text) {
  if (text.length <= ENCODER_MEASURE_UNITS) return utf8Length(text);
  let bytes = 0;
  for (let index = 0; index < text.length; index += 1) {
    const unit = text.charCodeAt(index);
    if (unit < 0x80) bytes += 1;
    else if (unit < 0x800) bytes += 2;
    else if (unit >= 0xd800 && unit <= 0xdbff && isTrailSurrogate(text.charCodeAt(index + 1))) {
      bytes += 4;
      index += 1;
    } else bytes += 3;
  }
  return bytes;
}

function isTrailSurrogate(unit) {
  return unit >= 0xdc00 && unit <= 0xdfff;
}

export async function hash(value) {
  const webCrypto = globalThis.crypto;
  if (!webCrypto || !webCrypto.subtle) {
    fail("CRYPTO_UNAVAILABLE", "Для идентичности версий нужен WebCrypto.");
  }
  const bytes = encoder().encode(DOMAIN_PREFIX + canonical(value));
  const digest = await webCrypto.subtle.digest("SHA-256", bytes);
  return hexDigits(new Uint8Array(digest));
}

function hexDigits(bytes) {
  let text = "";
  for (let index = 0; index < bytes.length; index += 1) {
    const byte = bytes[index];
    text += (byte < 16 ? "0" : "") + byte.toString(16);
  }
  return text;
}

// The source record of a Program: AST version 1 hashed the source alone.
function sourceRecord(program) {
  if (program.version === 1) return { source: program.source };
  return { astVersion: program.version, source: program.source };
}

// The hash is started at most once per plan while it succeeds; runs that
// start while it is pending share the promise, and a failure clears the slot
// so that a later run tries again.
export function sourceDigest(plan, program) {
  const reused = plan.sourceHash !== null && plan.sourceHash !== undefined;
  if (!reused) {
    const promise = hash(sourceRecord(program));
    plan.sourceHash = promise;
    promise.catch(() => {
      if (plan.sourceHash === promise) plan.sourceHash = null;
    });
  }
  return { promise: plan.sourceHash, reused };
}

export async function dependencyVersion(value, type, metrics) {
  if (isUnknown(value) || (typeof value !== "object" && typeof value !== "string")) {
    return "p:" + canonical({ type, value });
  }
  metrics.dependencyHashes += 1;
  return "h:" + (await hash({ type, value }));
}

export async function resultDependencyVersion(item, type, ctx, metrics, requireResult) {
  const { descriptor, evidence } = requireResult(item, type, ctx);
  ctx.check();
  metrics.dependencyHashes += 1;
  const version =
    "h:" +
    (await hash({
      schema: RESULT_SCHEMA,
      sourceHash: ctx.programSourceHash,
      result: descriptor.definition.name,
      successType: descriptor.definition.successType,
      tag: evidence.tag,
      payload: evidence.payload,
    }));
  ctx.check();
  return version;
}

export function cacheKey(sourceHash, adapterHash, name, dependencies) {
  return sourceHash + ":" + adapterHash + ":" + name + ":" + dependencies.join("\u0000");
}

// Same own enumerable fields with identical values; field order is ignored.
export function sameVersions(a, b) {
  const keys = Object.keys(a);
  if (keys.length !== Object.keys(b).length) return false;
  for (const key of keys) {
    if (!Object.hasOwn(b, key) || a[key] !== b[key]) return false;
  }
  return true;
}

export function sameDependencies(a, b) {
  if (a.length !== b.length) return false;
  for (let index = 0; index < a.length; index += 1) {
    if (a[index] !== b[index]) return false;
  }
  return true;
}
