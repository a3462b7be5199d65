// Long seeded fuzzing of compileModule, getSourceTokens, compileProject and
// whole requests, run by hand through tests/fuzz/run.sh (inside QuickJS,
// optionally also in Node.js, where the request target has nothing to run).
// One test per seed and target, named "<target> fuzz seed N:" so that
// --filter can pick one. Each test prints its distinct faults with a
// reproduction and the slowest sources it met, and fails on any fault.
import { test, assert } from "../js/harness.mjs";
import {
  createRandom,
  tokenSoup,
  mutateModule,
  randomText,
  randomModule,
  randomAdapterModule,
  randomInterfaces,
  nestingCases,
  checkBoth,
  runCompile,
  describeSource,
  VALID_MODULES,
} from "./fuzz-lib.mjs";
import { randomProjectCall, checkProject, checkSingleFileProject, describeCall } from "./project-fuzz-lib.mjs";
import { randomRequest, runRequest, typedModule } from "./request-fuzz-lib.mjs";
import { generateModule } from "../../bench/compile/generate.mjs";

const print = typeof globalThis.__queltTestPrint === "function" ? globalThis.__queltTestPrint : (line) => console.log(line);
const SEEDS = 20;
const PER_SEED = { soup: 1500, mutation: 2500, odd: 800, module: 2500 };
const ADAPTER_CASES = 1500;
const PROJECTS_PER_SEED = 1500;
const REQUESTS_PER_SEED = 600;

const corpus = [
  ...VALID_MODULES,
  generateModule("mixed", 0.05).source,
  generateModule("mixed", 0.25).source,
  generateModule("deep", 0.1).source,
  generateModule("literals", 0.05).source,
];

const GENERATORS = {
  soup: (random) => tokenSoup(random, 1 + random.int(random.chance(0.1) ? 3000 : 80)),
  mutation: (random) => mutateModule(random, random.pick(corpus)),
  odd: randomText,
  module: randomModule,
};

// Distinct faults, keyed by their text with numbers blanked.
function collector() {
  const faults = new Map();
  return {
    add(fault, reproduction) {
      const key = fault.replace(/\d+/g, "#");
      if (!faults.has(key)) faults.set(key, `${fault}\n    ${reproduction}`);
    },
    report(label) {
      for (const line of faults.values()) print(`  ${label}: ${line}`);
      return faults.size;
    },
  };
}

for (let seed = 1; seed <= SEEDS; seed += 1) {
  test(`compiler fuzz seed ${seed}:`, () => {
    const faults = collector();
    const slowest = [];
    let cases = 0;
    const started = performance.now();
    if (seed === 1) {
      for (const [label, source] of nestingCases()) {
        const fault = checkBoth(source);
        if (fault !== null) faults.add(fault, `nesting ${label}`);
      }
    }
    for (const [kind, count] of Object.entries(PER_SEED)) {
      const random = createRandom(seed * 1000 + kind.length);
      for (let index = 0; index < count; index += 1) {
        const source = GENERATORS[kind](random);
        cases += 1;
        const fault = checkBoth(source);
        if (fault !== null) faults.add(fault, `${kind} case ${index}: ${describeSource(source)}`);
        const { ms } = runCompile(source);
        slowest.push([ms, `${kind} case ${index}`]);
        if (slowest.length > 64) slowest.sort((a, b) => b[0] - a[0]).length = 3;
      }
    }
    const random = createRandom(seed * 1000 + 99);
    for (let index = 0; index < ADAPTER_CASES; index += 1) {
      const source = randomAdapterModule(random);
      const interfaces = randomInterfaces(random);
      cases += 1;
      const { fault } = runCompile(source, { interfaces });
      if (fault !== null) faults.add(fault, `adapter case ${index}: ${describeSource(source)} with interfaces ${JSON.stringify(interfaces)}`);
    }
    slowest.sort((a, b) => b[0] - a[0]);
    print(`compiler fuzz seed ${seed}: ${cases} sources in ${Math.round(performance.now() - started)} ms; slowest ${slowest.slice(0, 3).map(([ms, what]) => `${what} ${ms.toFixed(1)} ms`).join(", ")}`);
    assert(faults.report(`seed ${seed}`) === 0, "faults found (listed above)");
  });
}

for (let seed = 1; seed <= SEEDS; seed += 1) {
  test(`project fuzz seed ${seed}:`, async () => {
    const faults = collector();
    const random = createRandom(seed * 7919);
    const started = performance.now();
    for (let index = 0; index < PROJECTS_PER_SEED; index += 1) {
      const { entry, options } = await randomProjectCall(random);
      const fault = await checkProject(entry, options);
      if (fault !== null) faults.add(fault, `case ${index}: ${describeCall(entry, options)}`);
    }
    const sources = [
      () => randomModule(random),
      () => mutateModule(random, random.pick(corpus)),
      () => typedModule(random),
      () => mutateModule(random, typedModule(random)),
    ];
    for (let index = 0; index < PROJECTS_PER_SEED; index += 1) {
      const source = sources[index % sources.length]();
      const fault = await checkSingleFileProject(source);
      if (fault !== null) faults.add(fault, `single-file case ${index}: ${describeSource(source)}`);
    }
    print(`project fuzz seed ${seed}: ${PROJECTS_PER_SEED} projects and as many one-file projects in ${Math.round(performance.now() - started)} ms`);
    assert(faults.report(`seed ${seed}`) === 0, "faults found (listed above)");
  });
}

for (let seed = 1; seed <= SEEDS; seed += 1) {
  test(`request fuzz seed ${seed}:`, async () => {
    if (typeof globalThis.__queltTestRunEntry !== "function") return;
    const faults = collector();
    const random = createRandom(seed * 104729);
    const started = performance.now();
    for (let index = 0; index < REQUESTS_PER_SEED; index += 1) {
      const { raw, source } = await randomRequest(random);
      const fault = runRequest(raw);
      if (fault !== null) faults.add(fault, `case ${index}: source ${JSON.stringify(source)}\n    request ${raw}`);
    }
    print(`request fuzz seed ${seed}: ${REQUESTS_PER_SEED} requests in ${Math.round(performance.now() - started)} ms`);
    assert(faults.report(`seed ${seed}`) === 0, "faults found (listed above)");
  });
}
