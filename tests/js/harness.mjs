// A small, engine-neutral test harness for the JavaScript units. Test files
// register cases with `test`; a runner (the QuickJS test host or Node.js)
// imports the files and then awaits `run()`, which prints one line per failure
// and the closing line "N passed, N failed".

const cases = [];

export function test(name, body) {
  cases.push({ name, body });
}

export class AssertionError extends Error {}

function show(value) {
  try {
    if (typeof value === "bigint") return `${value}n`;
    if (Object.is(value, -0)) return "-0";
    if (value === undefined) return "undefined";
    if (typeof value === "number" && !Number.isFinite(value)) return String(value);
    return JSON.stringify(value, (_, v) => (typeof v === "bigint" ? `${v}n` : v));
  } catch {
    return String(value);
  }
}

export function assert(condition, message = "assertion failed") {
  if (!condition) throw new AssertionError(message);
}

export function assertEqual(actual, expected, message = "") {
  if (!Object.is(actual, expected)) {
    throw new AssertionError(`${message ? message + ": " : ""}expected ${show(expected)}, got ${show(actual)}`);
  }
}

// Structural equality: same prototype kind (array / plain object), same own
// enumerable keys in the same order, equal leaves by Object.is.
export function deepEqual(a, b) {
  if (Object.is(a, b)) return true;
  if (typeof a !== "object" || typeof b !== "object" || a === null || b === null) return false;
  if (Array.isArray(a) !== Array.isArray(b)) return false;
  const ka = Object.keys(a);
  const kb = Object.keys(b);
  if (ka.length !== kb.length) return false;
  for (let i = 0; i < ka.length; i += 1) {
    if (ka[i] !== kb[i]) return false;
    if (!deepEqual(a[ka[i]], b[kb[i]])) return false;
  }
  return true;
}

export function assertDeepEqual(actual, expected, message = "") {
  if (!deepEqual(actual, expected)) {
    throw new AssertionError(`${message ? message + ": " : ""}expected ${show(expected)}, got ${show(actual)}`);
  }
}

// Checks an error against an expectation: a constructor, or a record whose
// fields (name, code, message, line, ...) must all match the error's fields.
function matches(error, expected, label) {
  if (expected === undefined) return;
  if (typeof expected === "function") {
    if (!(error instanceof expected)) {
      throw new AssertionError(`${label}: expected ${expected.name}, got ${error && error.name}: ${error && error.message}`);
    }
    return;
  }
  for (const key of Object.keys(expected)) {
    if (key === "type") {
      if (!(error instanceof expected.type)) {
        throw new AssertionError(`${label}: expected ${expected.type.name}, got ${error && error.name}: ${error && error.message}`);
      }
      continue;
    }
    if (!Object.is(error?.[key], expected[key])) {
      throw new AssertionError(`${label}: ${key} expected ${show(expected[key])}, got ${show(error?.[key])} (${error && error.message})`);
    }
  }
}

export function assertThrows(body, expected, message = "") {
  let error;
  try {
    body();
  } catch (caught) {
    error = caught;
  }
  if (error === undefined) throw new AssertionError(`${message ? message + ": " : ""}expected an exception`);
  matches(error, expected, message || "exception");
  return error;
}

export async function assertRejects(promiseOrBody, expected, message = "") {
  let error;
  try {
    await (typeof promiseOrBody === "function" ? promiseOrBody() : promiseOrBody);
  } catch (caught) {
    error = caught;
  }
  if (error === undefined) throw new AssertionError(`${message ? message + ": " : ""}expected a rejection`);
  matches(error, expected, message || "rejection");
  return error;
}

// Runs every registered case in order; `filter` keeps the cases whose name
// contains it. Returns the number of failures.
export async function run(filter = "") {
  let passed = 0;
  let failed = 0;
  for (const { name, body } of cases) {
    if (filter && !name.includes(filter)) continue;
    try {
      await body();
      passed += 1;
    } catch (error) {
      failed += 1;
      const detail = error instanceof Error ? `${error.name}: ${error.message}` : show(error);
      print(`FAIL ${name}\n  ${detail}${error && error.stack && !(error instanceof AssertionError) ? "\n" + error.stack : ""}`);
    }
  }
  print(`${passed} passed, ${failed} failed`);
  return failed;
}

function print(line) {
  if (typeof console !== "undefined" && console.log) console.log(line);
  else if (typeof globalThis.__queltTestPrint === "function") globalThis.__queltTestPrint(line);
}
