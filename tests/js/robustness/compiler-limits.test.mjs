// The compiler at and around its bounds: modules that reach every bound at
// once still compile, nesting of every kind stops at the depth bound with
// the right code and place, and the cost of compiling grows linearly.
import { test, assert, assertEqual } from "../harness.mjs";
import { compileModule, getSourceTokens, CompileDiagnostic } from "quelt/compiler.mjs";
import { generateModule, SHAPES } from "../../../bench/compile/generate.mjs";
import { inDerive } from "../../fuzz/fuzz-lib.mjs";

// Expression nodes of a Program: every record with a `kind` below its root.
function countNodes(value, seen = new Set()) {
  if (value === null || typeof value !== "object" || seen.has(value)) return 0;
  seen.add(value);
  let count = typeof value.kind === "string" && value.kind !== "quelt-program" ? 1 : 0;
  for (const key of Object.keys(value)) count += countNodes(value[key], seen);
  return count;
}

const utf8 = (text) => new TextEncoder().encode(text).length;

test("generated modules at a quarter, half and all of the bounds compile", () => {
  for (const shape of SHAPES) {
    for (const fraction of [0.25, 0.5, 1]) {
      const { source, nodes } = generateModule(shape, fraction);
      let program;
      try {
        program = compileModule(source);
      } catch (error) {
        assert(false, `${shape} ${fraction}: ${error.name} ${error.code} ${error.message}`);
      }
      assertEqual(countNodes(program), nodes, `${shape} ${fraction} nodes`);
    }
  }
});

test("one module reaches the source, token, node, function and derive bounds together", () => {
  const { source } = generateModule("mixed", 1);
  const program = compileModule(source);
  const bytes = utf8(source);
  const tokens = getSourceTokens(source).length - 1;
  assert(bytes > 65536 - 64 && bytes <= 65536, `source bytes ${bytes}`);
  assert(tokens > 20000 - 8 && tokens <= 20000, `tokens ${tokens}`);
  assertEqual(countNodes(program), 2000, "nodes");
  assertEqual(program.functions.length, 64, "functions");
  assertEqual(program.derives.length, 256, "derives");
});

// Offset of the first occurrence of `text`.
const at = (source, text) => source.indexOf(text);

function outcome(source) {
  try {
    compileModule(source);
    return "compiles";
  } catch (error) {
    if (!(error instanceof CompileDiagnostic)) throw error;
    return `${error.code} at ${error.offset}`;
  }
}

// [label, expression, derive type, expected]; expected is "compiles" or a
// code and a function of the source giving the offset of the fault.
const NESTING = [
  ["63 parentheses", "(".repeat(63) + "x" + ")".repeat(63), "Int", "compiles"],
  ["64 parentheses stop at the operand", "(".repeat(64) + "x" + ")".repeat(64), "Int", "DEPTH_LIMIT", (s) => at(s, "(x)") + 1],
  ["63 prefix minus signs", "- ".repeat(63) + "x", "Int", "compiles"],
  ["64 prefix minus signs", "- ".repeat(64) + "x", "Int", "DEPTH_LIMIT", (s) => at(s, "- x") + 2],
  ["63 nested calls", "f(".repeat(63) + "x" + ")".repeat(63), "Int", "compiles"],
  ["64 nested calls", "f(".repeat(64) + "x" + ")".repeat(64), "Int", "DEPTH_LIMIT", (s) => at(s, "(x)") + 1],
  ["63 nested records", "{a: ".repeat(63) + "1" + "}".repeat(63), "Record", "compiles"],
  ["64 nested records", "{a: ".repeat(64) + "1" + "}".repeat(64), "Record", "DEPTH_LIMIT", (s) => at(s, "1}")],
  ["63 nested stage arguments", "x |> bitAnd(".repeat(63) + "x" + ")".repeat(63), "Int", "compiles"],
  ["64 nested stage arguments", "x |> bitAnd(".repeat(64) + "x" + ")".repeat(64), "Int", "DEPTH_LIMIT", (s) => at(s, "(x)") + 1],
  ["64 operands of +", Array(64).fill("x").join(" + "), "Int", "compiles"],
  ["65 operands of + fail in the checker at the leftmost", Array(65).fill("x").join(" + "), "Int", "DEPTH_LIMIT", (s) => at(s, "= x") + 2],
  ["63 pipeline stages", "x" + " |> bitNot()".repeat(63), "Int", "compiles"],
  ["64 pipeline stages fail at the receiver", "x" + " |> bitNot()".repeat(64), "Int", "DEPTH_LIMIT", (s) => at(s, "= x") + 2],
  ["63 nested arrays parse, then fail typing", "[".repeat(63) + "1" + "]".repeat(63), "Int[]", "TYPE_MISMATCH", (s) => at(s, "[[1]")],
  ["64 nested arrays", "[".repeat(64) + "1" + "]".repeat(64), "Int[]", "DEPTH_LIMIT", (s) => at(s, "[1]") + 1],
  ["ten thousand parentheses stop at the token bound", "(".repeat(10000) + "x" + ")".repeat(10000), "Int", "TOKEN_LIMIT", null],
  ["thirty thousand not signs stop at the source bound", "not ".repeat(30000) + "t", "Truth", "SOURCE_LIMIT", () => 0],
];

test("nesting of every kind stops at the depth bound, at the deepest operand", () => {
  for (const [label, expression, type, code, offsetOf] of NESTING) {
    const source = inDerive(expression, type);
    const actual = outcome(source);
    if (code === "compiles") assertEqual(actual, "compiles", label);
    else if (offsetOf === null) assert(actual.startsWith(`${code} at `), `${label}: ${actual}`);
    else assertEqual(actual, `${code} at ${offsetOf(source)}`, label);
  }
});

// Smallest of a few timings after warming up: the least disturbed by other
// work on the machine.
function fastest(work, runs = 7) {
  for (let i = 0; i < 3; i += 1) work();
  let best = Infinity;
  for (let i = 0; i < runs; i += 1) {
    const start = performance.now();
    work();
    best = Math.min(best, performance.now() - start);
  }
  return best;
}

// Linear work gives about 4; quadratic work about 16. A ratio above 10 is
// measured again (up to three times) before it counts, since other work on
// a shared machine can slow any single measurement.
function growth(work, quarter, full) {
  let ratio = Infinity;
  for (let attempt = 0; attempt < 3 && ratio >= 10; attempt += 1) {
    ratio = Math.min(ratio, fastest(() => work(full)) / fastest(() => work(quarter)));
  }
  return ratio;
}

test("compiling four times the module costs about four times as much, not sixteen", () => {
  for (const shape of SHAPES) {
    const quarter = generateModule(shape, 0.25).source;
    const full = generateModule(shape, 1).source;
    const ratio = growth(compileModule, quarter, full);
    assert(ratio < 10, `${shape}: the full module compiles ${ratio.toFixed(1)} times slower than a quarter of it`);
    const tokenRatio = growth(getSourceTokens, quarter, full);
    assert(tokenRatio < 10, `${shape}: tokenizing the full module is ${tokenRatio.toFixed(1)} times slower`);
  }
});
