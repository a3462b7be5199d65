// Run-time benchmark inside the engine: each workload's program is compiled
// once (compileProject on the sources of its request), then
// execute(program, inputs, {budget}) is timed next to the same loops written
// directly in JavaScript (workloads.mjs), alternating the two, medians over
// several runs. Also timed: the set-up alone (the same execute with maxSteps 0,
// which stops at the first derive, after input copying and hashing).
//
// Timed first: the floor every run pays, 100,000 calls of the run context's
// step() alone (cancellation test, clock reading, budget charge). The
// "floor ratio" column is a program's steps at that rate divided by its
// baseline: the ratio that the per-node charge alone already reaches.
//
// Needs build/bench-run/requests.mjs, written by bench/run/requests.sh (the
// quelt-request output of every program folder). Runs in the test host
// (build/quelt-test-host bench/run/runtime-bench.mjs) and in Node.js
// (node bench/run/runtime-bench.mjs). A program whose outputs differ from its
// baseline's stops the benchmark with an error.
import { compileProject } from "quelt/project.mjs";
import { execute } from "quelt/runtime.mjs";
import { createRunContext } from "../../quelt/runtime/context.mjs";
import { Ledger } from "../../quelt/runtime/ledger.mjs";
import requests from "../../build/bench-run/requests.mjs";
import { WORKLOADS } from "./workloads.mjs";

const print = typeof globalThis.__queltTestPrint === "function" ? globalThis.__queltTestPrint : (line) => console.log(line);
const WARMUP = 2;
const RUNS = 9;
const BASELINE_MIN_MS = 5;
const BUDGET = { maxSteps: 100000 };

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[sorted.length >> 1];
}

// Milliseconds of one baseline call, averaged over enough calls to last
// BASELINE_MIN_MS (the direct loops are far below the clock's resolution).
function baselineTime(work) {
  let calls = 0;
  const start = performance.now();
  let elapsed = 0;
  do {
    work();
    calls += 1;
    elapsed = performance.now() - start;
  } while (elapsed < BASELINE_MIN_MS);
  return elapsed / calls;
}

async function timed(work) {
  const start = performance.now();
  await work();
  return performance.now() - start;
}

async function setupOnly(program, inputs) {
  try {
    await execute(program, inputs, { budget: { maxSteps: 0 } });
  } catch (error) {
    if (error.code === "STEP_BUDGET") return;
    throw error;
  }
  throw new Error("maxSteps 0 did not stop the run");
}

function sameOutputs(receipt, expected) {
  return JSON.stringify(receipt.outputs) === JSON.stringify(expected);
}

async function measureWorkload(workload) {
  const request = requests[workload.name];
  if (request === undefined) throw new Error(`no request for ${workload.name}: run bench/run/requests.sh`);
  const program = await compileProject(request.entry, { sources: request.sources });
  const inputs = workload.inputs();
  const expected = workload.baseline(inputs);
  const receipt = await execute(program, inputs, { budget: BUDGET });
  if (!sameOutputs(receipt, expected)) {
    throw new Error(`${workload.name}: outputs ${JSON.stringify(receipt.outputs)} differ from the baseline's ${JSON.stringify(expected)}`);
  }
  for (let i = 0; i < WARMUP; i += 1) {
    await execute(program, inputs, { budget: BUDGET });
    workload.baseline(inputs);
  }
  const runs = [];
  const setups = [];
  const baselines = [];
  for (let i = 0; i < RUNS; i += 1) {
    runs.push(await timed(() => execute(program, inputs, { budget: BUDGET })));
    setups.push(await timed(() => setupOnly(program, inputs)));
    baselines.push(baselineTime(() => workload.baseline(inputs)));
  }
  const steps = receipt.metrics.runSteps;
  const run = median(runs);
  const baseline = median(baselines);
  return { name: workload.name, steps, run, setup: median(setups), baseline, ratio: run / baseline };
}

const pad = (text, width) => String(text).padStart(width);

function row(cells) {
  const widths = [14, 8, 10, 10, 11, 12, 9, 12];
  return cells.map((cell, i) => (i === 0 ? String(cell).padEnd(widths[0]) : pad(cell, widths[i]))).join(" ");
}

// The per-step floor: ctx.step() on a real ledger, nothing else.
function stepFloor() {
  const ctx = createRunContext({
    program: null,
    ledger: new Ledger({ maxSteps: Number.MAX_SAFE_INTEGER }),
    pool: null,
    signal: new AbortController().signal,
    capabilities: new Set(),
    adapters: {},
    functions: new Map(),
    trace: [],
    deadline: Infinity,
  });
  for (let i = 0; i < BUDGET.maxSteps; i += 1) ctx.step();
}
const floors = [];
for (let i = 0; i < RUNS; i += 1) floors.push(await timed(async () => stepFloor()));
const floorMs = median(floors);

const engine = typeof globalThis.__queltTestPrint === "function" ? "QuickJS (quelt-test-host)" : "Node.js " + globalThis.process?.version;
print(`# run-time benchmark in ${engine}: median of ${RUNS} runs, budget maxSteps ${BUDGET.maxSteps}`);
print(row(["program", "steps", "run ms", "setup ms", "Msteps/s", "baseline ms", "ratio", "floor ratio"]));
for (const workload of WORKLOADS) {
  const result = await measureWorkload(workload);
  print(row([
    result.name,
    result.steps,
    result.run.toFixed(2),
    result.setup.toFixed(2),
    (result.steps / result.run / 1000).toFixed(2),
    result.baseline.toFixed(4),
    result.ratio.toFixed(0) + "x",
    ((result.steps / BUDGET.maxSteps) * floorMs / result.baseline).toFixed(0) + "x",
  ]));
}
print(`floor: ${BUDGET.maxSteps} ctx.step() calls take ${floorMs.toFixed(2)} ms; "floor ratio" is what the`);
print("program's steps cost at that rate alone, as a multiple of its baseline: no evaluator can go below it.");

