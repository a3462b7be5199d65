// Strict copies of caller-supplied data: plain objects and dense lists only,
// read through property descriptors so no accessor ever runs.
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";

function isPlainObject(value) {
  if (!value || typeof value !== "object" || Array.isArray(value)) return false;
  const prototype = Object.getPrototypeOf(value);
  return prototype === Object.prototype || prototype === null;
}

// A fresh prototype-free copy of a plain object (values are not copied deeply).
export function dataObject(value, fields = null, maximum = 256, limitCode = "PROJECT_LIMIT") {
  if (!isPlainObject(value)) fail("PROJECT_SCHEMA", "Expected a plain project data object");
  const keys = Reflect.ownKeys(value);
  for (const key of keys) {
    if (typeof key !== "string") fail("PROJECT_SCHEMA", "Unexpected project fields");
  }
  if (fields) {
    if (keys.length !== fields.length || !fields.every((field) => keys.includes(field))) {
      fail("PROJECT_SCHEMA", "Unexpected project fields");
    }
  }
  if (keys.length > maximum) fail(limitCode, "Project data field count exceeds its bound");
  const copy = Object.create(null);
  for (const key of keys) {
    const descriptor = Object.getOwnPropertyDescriptor(value, key);
    if (!descriptor || !descriptor.enumerable || !Object.hasOwn(descriptor, "value")) {
      fail("PROJECT_SCHEMA", "Project data cannot contain accessors or hidden fields");
    }
    copy[key] = descriptor.value;
  }
  return copy;
}

// A fresh copy of an ordinary dense array of at most `maximum` items.
export function dataArray(value, maximum) {
  if (!Array.isArray(value) || Object.getPrototypeOf(value) !== Array.prototype) {
    fail("PROJECT_SCHEMA", "Interface lists require ordinary dense arrays");
  }
  const length = Object.getOwnPropertyDescriptor(value, "length")?.value;
  if (!Number.isSafeInteger(length) || length < 0 || length > maximum) {
    fail("PROJECT_LIMIT", "Interface list exceeds its bound");
  }
  if (Reflect.ownKeys(value).length !== length + 1) {
    fail("PROJECT_SCHEMA", "Interface lists cannot contain extra fields");
  }
  const copy = new Array(length);
  for (let index = 0; index < length; index += 1) {
    const descriptor = Object.getOwnPropertyDescriptor(value, String(index));
    if (!descriptor || !descriptor.enumerable || !Object.hasOwn(descriptor, "value")) {
      fail("PROJECT_SCHEMA", "Interface lists cannot contain holes or accessors");
    }
    copy[index] = descriptor.value;
  }
  return copy;
}

// A plain-data snapshot of the adapter interfaces; the compiler checks the
// contents. Every failure here is one INTERFACES compile diagnostic.
export function snapshotInterfaces(value) {
  try {
    const declared = dataObject(value, null, 256);
    const snapshot = Object.create(null);
    for (const name of Object.keys(declared)) {
      const spec = dataObject(declared[name], ["params", "result", "effects"], 3);
      snapshot[name] = {
        params: dataArray(spec.params, 16),
        result: spec.result,
        effects: dataArray(spec.effects, 16),
      };
    }
    return snapshot;
  } catch {
    throw new CompileDiagnostic("", 0, "INTERFACES", "Interfaces require bounded ordinary data and dense lists without accessors");
  }
}
