// Copying the external adapter declarations handed to compileModule.
//
// Exports
//   copyInterfaces(value, fail?) -> frozen record
//     Validates `value` (the `interfaces` option) and returns a deep-frozen
//     copy keyed in sorted name order: {"mod.fn": {params, result, effects}}.
//     Every failure is raised through `fail(offset, code, message)` at
//     offset 0 (default: throws a CompileDiagnostic located at line 1,
//     column 1). Codes: INTERFACES and INTERFACE_LIMIT. Getters are never
//     invoked: everything is read through property descriptors.
//   isAdapterName(name) -> boolean
//     Two ASCII identifiers of 1 to 64 characters joined by one ".".
//   compareCodePoints(a, b) -> -1 | 0 | 1
//     Orders two strings by Unicode code points (not UTF-16 code units).

import { CompileDiagnostic } from "./diagnostics.mjs";
import { LIMITS } from "./limits.mjs";
import { validType } from "./types.mjs";

const DECLARATION_FIELDS = ["params", "result", "effects"];
const LIST_LIMIT = 16;

function defaultFail(offset, code, message) {
  throw new CompileDiagnostic("", offset, code, message);
}

function isPlainObject(value) {
  if (typeof value !== "object" || value === null || Array.isArray(value)) return false;
  const prototype = Object.getPrototypeOf(value);
  return prototype === Object.prototype || prototype === null;
}

function isAsciiLetter(c) {
  return (c >= 0x61 && c <= 0x7a) || (c >= 0x41 && c <= 0x5a);
}

function isDigit(c) {
  return c >= 0x30 && c <= 0x39;
}

// Length of the ASCII identifier starting at `start` (0 when there is none).
function identifierLength(text, start) {
  let i = start;
  const first = text.charCodeAt(i);
  if (!(isAsciiLetter(first) || first === 0x5f)) return 0;
  i += 1;
  while (i < text.length) {
    const c = text.charCodeAt(i);
    if (!(isAsciiLetter(c) || isDigit(c) || c === 0x5f)) break;
    i += 1;
  }
  return i - start;
}

export function isAdapterName(name) {
  if (typeof name !== "string") return false;
  const moduleLength = identifierLength(name, 0);
  if (moduleLength === 0 || moduleLength > LIMITS.identifier) return false;
  if (name.charCodeAt(moduleLength) !== 0x2e) return false;
  const functionLength = identifierLength(name, moduleLength + 1);
  if (functionLength === 0 || functionLength > LIMITS.identifier) return false;
  return moduleLength + 1 + functionLength === name.length;
}

function isEffectName(name) {
  if (typeof name !== "string" || name.length < 1 || name.length > 64) return false;
  if (!isAsciiLetter(name.charCodeAt(0))) return false;
  for (let i = 1; i < name.length; i += 1) {
    const c = name.charCodeAt(i);
    const allowed = isAsciiLetter(c) || isDigit(c) || c === 0x5f || c === 0x2e || c === 0x3a || c === 0x2d;
    if (!allowed) return false;
  }
  return true;
}

export function compareCodePoints(a, b) {
  let i = 0;
  let j = 0;
  while (i < a.length && j < b.length) {
    const x = a.codePointAt(i);
    const y = b.codePointAt(j);
    if (x !== y) return x < y ? -1 : 1;
    i += x > 0xffff ? 2 : 1;
    j += y > 0xffff ? 2 : 1;
  }
  if (i < a.length) return 1;
  if (j < b.length) return -1;
  return 0;
}

function keyText(key) {
  return typeof key === "symbol" ? String(key) : key;
}

function sortedKeys(keys) {
  const entries = keys.map((key) => ({ key, order: keyText(key).normalize("NFC") }));
  entries.sort((x, y) => compareCodePoints(x.order, y.order));
  return entries.map((entry) => entry.key);
}

function dataValue(object, key) {
  const descriptor = Object.getOwnPropertyDescriptor(object, key);
  if (descriptor === undefined || !("value" in descriptor)) return { ok: false };
  return { ok: true, value: descriptor.value };
}

// A fresh copy of a dense array of at most LIST_LIMIT entries that all pass
// `valid`, or null.
function copyDenseList(list, valid) {
  if (!Array.isArray(list)) return null;
  const length = list.length;
  if (length > LIST_LIMIT) return null;
  if (Reflect.ownKeys(list).length !== length + 1) return null;
  const copy = [];
  for (let i = 0; i < length; i += 1) {
    const item = dataValue(list, String(i));
    if (!item.ok || !valid(item.value)) return null;
    copy.push(item.value);
  }
  return copy;
}

function copyDeclaration(holder, key, fail) {
  const entry = dataValue(holder, key);
  if (!entry.ok || !isPlainObject(entry.value)) fail(0, "INTERFACES", `Invalid interface ${key}`);
  const declaration = entry.value;
  const fields = Reflect.ownKeys(declaration);
  if (fields.length !== DECLARATION_FIELDS.length || !DECLARATION_FIELDS.every((field) => fields.includes(field))) {
    fail(0, "INTERFACES", `Interface ${key} requires exactly params, result, effects`);
  }
  const values = {};
  for (const field of DECLARATION_FIELDS) {
    const read = dataValue(declaration, field);
    if (!read.ok) fail(0, "INTERFACES", `Interface ${key} cannot contain getters`);
    values[field] = read.value;
  }
  const params = copyDenseList(values.params, validType);
  const effects = copyDenseList(values.effects, isEffectName);
  const valid = params !== null && validType(values.result) && effects !== null && new Set(effects).size === effects.length;
  if (!valid) fail(0, "INTERFACES", `Invalid types or effects for interface ${key}`);
  return Object.freeze({
    params: Object.freeze(params),
    result: values.result,
    effects: Object.freeze(effects),
  });
}

export function copyInterfaces(value, fail = defaultFail) {
  if (!isPlainObject(value)) fail(0, "INTERFACES", "interfaces must be a plain object");
  const keys = Reflect.ownKeys(value);
  if (keys.length > LIMITS.interfaces) fail(0, "INTERFACE_LIMIT", `Interface limit is ${LIMITS.interfaces}`);
  const copy = {};
  for (const key of sortedKeys(keys)) {
    if (!isAdapterName(key)) fail(0, "INTERFACES", "Interface names must be module.function identifiers");
    copy[key] = copyDeclaration(value, key, fail);
  }
  return Object.freeze(copy);
}
