// Quick seeded fuzzing of compileModule and getSourceTokens (a few seconds
// inside QuickJS). Whatever the source, the answer is a frozen Program or a
// CompileDiagnostic with a known code located inside the source, both entry
// points agree on lexical faults, and nothing else is ever thrown. The long
// run of the same generators is tests/fuzz/run.sh.
import { test, assert } from "../harness.mjs";
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
} from "../../fuzz/fuzz-lib.mjs";
import { generateModule } from "../../../bench/compile/generate.mjs";

// Runs `count` generated sources through both entry points; fails with the
// first few faults and how to reproduce them.
function fuzz(label, seed, count, generate) {
  const random = createRandom(seed);
  const faults = [];
  for (let index = 0; index < count && faults.length < 3; index += 1) {
    const source = generate(random);
    const fault = checkBoth(source);
    if (fault !== null) faults.push(`${label} seed ${seed} case ${index}: ${fault}\n    source ${describeSource(source)}`);
  }
  assert(faults.length === 0, faults.join("\n  "));
}

const corpus = () => [
  ...VALID_MODULES,
  generateModule("mixed", 0.05).source,
  generateModule("deep", 0.1).source,
  generateModule("literals", 0.05).source,
];

test("the seed modules compile, so mutating them reaches every phase", () => {
  for (const source of corpus()) {
    const { fault, outcome } = runCompile(source);
    if (fault !== null || outcome !== null) assert(false, `${fault ?? outcome.message}: ${describeSource(source)}`);
  }
});

test("token soups from the language's vocabulary", () => {
  fuzz("soup", 1, 400, (random) => tokenSoup(random, 1 + random.int(60)));
});

test("valid modules with tokens deleted, duplicated, swapped, replaced or cut", () => {
  const seeds = corpus();
  fuzz("mutation", 2, 400, (random) => mutateModule(random, random.pick(seeds)));
});

test("odd strings: lone surrogates, controls, long identifiers, numbers and texts", () => {
  fuzz("odd", 3, 200, randomText);
});

test("grammar-shaped modules with operands of every type in every stage", () => {
  fuzz("module", 4, 400, randomModule);
});

test("adapter calls, effect functions and odd interface declarations", () => {
  const seed = 6;
  const random = createRandom(seed);
  const faults = [];
  for (let index = 0; index < 300 && faults.length < 3; index += 1) {
    const source = randomAdapterModule(random);
    const interfaces = randomInterfaces(random);
    const { fault } = runCompile(source, { interfaces });
    if (fault !== null) faults.push(`adapter seed ${seed} case ${index}: ${fault}\n    source ${describeSource(source)}`);
  }
  assert(faults.length === 0, faults.join("\n  "));
});

test("nesting of every kind up to and far past the depth bound", () => {
  const faults = [];
  for (const [label, source] of nestingCases()) {
    const fault = checkBoth(source);
    if (fault !== null) faults.push(`${label}: ${fault}`);
  }
  assert(faults.length === 0, faults.slice(0, 5).join("\n  "));
});
