// Compile benchmark: median time of compileModule on generated modules at a
// quarter, a half and the whole of the compiler's bounds, next to the
// tokenizer alone (getSourceTokens) on the same source, measured in the same
// run. For the modules at the full bounds it also times each phase of
// compileModule (tokenize, parse, check and issue, and a deep freeze of a
// copy of the Program, which the issue step performs), and for the mixed
// modules the whole project path (compileProject of a one-file project).
//
// Runs in the test host (build/quelt-test-host bench/compile/compile-bench.mjs)
// and in Node.js (node bench/compile/compile-bench.mjs). bench/compile/run.sh
// runs it.
import { compileModule, getSourceTokens } from "quelt/compiler.mjs";
import { compileProject } from "quelt/project.mjs";
// The phases are the compiler's internal steps, in the order compileModule
// runs them; namespace imports keep the benchmark loadable while they change.
import * as lexer from "../../quelt/compiler/lexer.mjs";
import { Parser } from "../../quelt/compiler/parser.mjs";
import { parseModule } from "../../quelt/compiler/declarations.mjs";
import { checkModule } from "../../quelt/compiler/module-check.mjs";
import { copyInterfaces } from "../../quelt/compiler/interfaces.mjs";
import { generateModule, SHAPES } from "./generate.mjs";

const print = typeof globalThis.__queltTestPrint === "function" ? globalThis.__queltTestPrint : (line) => console.log(line);
const FRACTIONS = [0.25, 0.5, 1];
const WARMUP = 3;
const RUNS = 31;
const TARGET_MS = 25;
const encoder = new TextEncoder();

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[sorted.length >> 1];
}

// Wall times of `work()` in milliseconds: {median, best}.
function timings(work) {
  for (let i = 0; i < WARMUP; i += 1) work();
  const times = [];
  for (let i = 0; i < RUNS; i += 1) {
    const start = performance.now();
    work();
    times.push(performance.now() - start);
  }
  return { median: median(times), best: Math.min(...times) };
}

const measure = (work) => timings(work).median;

const fixed = (value, digits = 2) => value.toFixed(digits);
const pad = (text, width) => String(text).padStart(width);

function row(cells, widths) {
  return cells.map((cell, i) => (i === 0 ? String(cell).padEnd(widths[0]) : pad(cell, widths[i]))).join("  ");
}

// Times of the phases of one compileModule call on `source`.
function phases(source) {
  const fail = (offset, code) => {
    throw new Error(`benchmark module failed with ${code} at ${offset}`);
  };
  // compileModule scans into the parser's compact token list when the lexer
  // offers one, else it uses the record list of tokenize.
  const scan = lexer.scanTokens ?? lexer.tokenize;
  const tokenizeMs = measure(() => {
    lexer.checkSourceLimit(source, fail);
    scan(source, fail);
  });
  const tokens = scan(source, fail);
  const parseMs = measure(() => parseModule(new Parser(source, tokens)));
  const checkMs = measure(() => {
    const parser = new Parser(source, tokens);
    checkModule(parseModule(parser), parser, copyInterfaces({}, fail));
  }) - parseMs;
  const program = compileModule(source);
  const copy = JSON.stringify(program);
  const freezeMs = measure(() => deepFreeze(JSON.parse(copy))) - measure(() => JSON.parse(copy));
  return { tokenizeMs, parseMs, checkMs, freezeMs };
}

function deepFreeze(value) {
  Object.freeze(value);
  for (const key of Object.keys(value)) {
    const field = value[key];
    if (field !== null && typeof field === "object" && !Object.isFrozen(field)) deepFreeze(field);
  }
  return value;
}

const engine = typeof globalThis.__queltTestPrint === "function" ? "QuickJS (quelt-test-host)" : `Node.js ${globalThis.process?.version ?? ""}`;
print(`compile benchmark: ${engine}, ${RUNS} runs after ${WARMUP} warm-up runs, medians in ms`);
const widths = [14, 7, 7, 6, 5, 9, 10, 7, 12];
print(row(["module", "bytes", "tokens", "nodes", "fns", "tokens ms", "compile ms", "ratio", "best compile"], widths));
const fullSources = [];
let slowest = 0;
for (const shape of SHAPES) {
  for (const fraction of FRACTIONS) {
    const { source, nodes } = generateModule(shape, fraction);
    const program = compileModule(source);
    const tokenCount = getSourceTokens(source).length - 1;
    const baseline = measure(() => getSourceTokens(source));
    const { median: compile, best } = timings(() => compileModule(source));
    if (fraction === 1) {
      fullSources.push({ shape, source });
      slowest = Math.max(slowest, compile);
    }
    print(row([
      `${shape} ${fraction === 1 ? "1" : fraction === 0.5 ? "1/2" : "1/4"}`,
      encoder.encode(source).length,
      tokenCount,
      nodes,
      program.functions.length,
      fixed(baseline),
      fixed(compile),
      fixed(compile / baseline),
      fixed(best),
    ], widths));
  }
}

print("");
print("phases of compileModule at the full bounds (ms)");
const phaseWidths = [14, 9, 7, 12, 10, 13, 10];
print(row(["module", "tokenize", "parse", "check+issue", "freeze~", "tokenize/tok", "parse/tok"], phaseWidths));
for (const { shape, source } of fullSources) {
  const p = phases(source);
  const count = getSourceTokens(source).length - 1;
  const micro = (ms) => `${fixed((ms * 1000) / count)} us`;
  print(row([
    `${shape} 1`, fixed(p.tokenizeMs), fixed(p.parseMs), fixed(p.checkMs), fixed(Math.max(0, p.freezeMs)),
    micro(p.tokenizeMs), micro(p.parseMs),
  ], phaseWidths));
}
print("freeze~: deep freeze of a JSON copy of the Program, an estimate of the freeze inside check+issue");
// The project path: the same modules as the entry file of a one-file project
// (without the comment padding, since the linked source adds a header and
// longer names and must itself fit the source bound).
async function medianAsync(work) {
  for (let i = 0; i < WARMUP; i += 1) await work();
  const times = [];
  for (let i = 0; i < RUNS; i += 1) {
    const start = performance.now();
    await work();
    times.push(performance.now() - start);
  }
  return median(times);
}

async function sha256Hex(text) {
  const digest = await crypto.subtle.digest("SHA-256", encoder.encode(text));
  return Array.from(new Uint8Array(digest), (byte) => byte.toString(16).padStart(2, "0")).join("");
}

print("");
print("the mixed modules without comment padding, through compileProject (ms)");
const projectWidths = [14, 7, 7, 10, 10, 14, 7];
print(row(["module", "bytes", "tokens", "compile", "tokens", "compileProject", "ratio"], projectWidths));
for (const fraction of FRACTIONS) {
  const padded = generateModule("mixed", fraction).source;
  const cut = padded.indexOf("\n//");
  const source = cut === -1 ? padded : padded.slice(0, cut);
  const sources = { "main.quelt": { source, sha256: await sha256Hex(source) } };
  const compile = measure(() => compileModule(source));
  const tokens = measure(() => getSourceTokens(source));
  const project = await medianAsync(() => compileProject("main.quelt", { sources }));
  print(row([
    `mixed ${fraction === 1 ? "1" : fraction === 0.5 ? "1/2" : "1/4"}`,
    encoder.encode(source).length, getSourceTokens(source).length - 1,
    fixed(compile), fixed(tokens), fixed(project), fixed(project / compile),
  ], projectWidths));
}

print("");
print(`slowest module at the full bounds: ${fixed(slowest)} ms (target under ${TARGET_MS} ms: ${slowest < TARGET_MS ? "met" : "missed"})`);
