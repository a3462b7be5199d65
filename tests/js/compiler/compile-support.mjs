// Shared helpers for the compiler tests: compile a source and compare its
// first fault against an expectation written as code, bare message and the
// place where the fault is anchored.
import { compileModule, CompileDiagnostic } from "quelt/compiler.mjs";
import { AssertionError } from "../harness.mjs";

// Where a fault is expected: a number is an offset; a string is the first
// occurrence of that text; {text, nth} the nth occurrence (1-based);
// {text, last: true} the last one; "<eof>" the end of the source.
export function offsetOf(source, at) {
  if (typeof at === "number") return at;
  if (at === "<eof>") return source.length;
  if (typeof at === "string") at = { text: at, nth: 1 };
  if (at.last) return source.lastIndexOf(at.text);
  let offset = -1;
  for (let i = 0; i < (at.nth ?? 1); i += 1) {
    offset = source.indexOf(at.text, offset + 1);
    if (offset === -1) throw new AssertionError(`marker ${JSON.stringify(at.text)} not found ${i + 1} times`);
  }
  return offset;
}

function position(source, offset) {
  let line = 1;
  let start = 0;
  for (let i = 0; i < offset && i < source.length; i += 1) {
    if (source[i] === "\n") {
      line += 1;
      start = i + 1;
    }
  }
  return { line, column: offset - start + 1 };
}

export function faultOf(source, options) {
  try {
    compileModule(source, options);
  } catch (error) {
    if (!(error instanceof CompileDiagnostic)) throw error;
    return error;
  }
  throw new AssertionError(`expected a compile fault for ${JSON.stringify(source.slice(0, 200))}`);
}

// Asserts that `source` fails with `code` and `message` at `at`.
export function assertFault(source, { code, message, at }, options) {
  const error = faultOf(source, options);
  const offset = offsetOf(source, at);
  const { line, column } = position(source, offset);
  const label = JSON.stringify(source.length > 160 ? `${source.slice(0, 160)}…` : source);
  const actual = { code: error.code, message: error.message, offset: error.offset, line: error.line, column: error.column };
  const expected = { code, message: `${message} (line ${line}, column ${column})`, offset, line, column };
  for (const key of Object.keys(expected)) {
    if (actual[key] !== expected[key]) {
      throw new AssertionError(`${label}: ${key} expected ${JSON.stringify(expected[key])}, got ${JSON.stringify(actual[key])} (${error.message})`);
    }
  }
}

export function compiles(source, options) {
  try {
    return compileModule(source, options);
  } catch (error) {
    throw new AssertionError(`${JSON.stringify(source.slice(0, 200))} should compile: ${error.code ?? error.name} ${error.message}`);
  }
}

// A module block wrapped around the given items, with one output of `x`.
export function block(items, outputs = "output x") {
  return `brindlet m { ${items} ${outputs} }`;
}

// Inputs of every common type, for expression tables.
export const INPUTS =
  "input i: Int input f: Float input t: Text input b: Truth input r: Record " +
  "input xs: Int[] input fs: Float[] input ts: Text[] input oi: Int? input of: Float? " +
  "input ot: Text? input ob: Truth? input oxs: Int[]?";

// A module with the common inputs and one derive `d` of type `type`.
export function deriveModule(expression, type = "Int", prelude = "", output = "d") {
  return `${prelude} brindlet m { ${INPUTS} derive d: ${type} = ${expression} output ${output} }`;
}

// Repeats `make(i)` for i = 0 … count-1, joined by `separator`.
export function repeat(count, make, separator = " ") {
  const parts = [];
  for (let i = 0; i < count; i += 1) parts.push(make(i));
  return parts.join(separator);
}
