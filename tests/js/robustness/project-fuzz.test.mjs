// Quick seeded fuzzing of compileProject: random project objects (odd
// values, proxies with throwing traps, accessors, foreign prototypes, bad
// paths and digests) and random sources (mutated files, odd imports, noise).
// The answer is always a Program or a located Project/Compile diagnostic.
import { test, assert } from "../harness.mjs";
import { createRandom, randomModule, mutateModule, describeSource, VALID_MODULES } from "../../fuzz/fuzz-lib.mjs";
import { randomProjectCall, checkProject, checkSingleFileProject, describeCall } from "../../fuzz/project-fuzz-lib.mjs";
import { typedModule } from "../../fuzz/request-fuzz-lib.mjs";

test("random projects answer a Program or a located diagnostic", async () => {
  const seed = 5;
  const random = createRandom(seed);
  const faults = [];
  for (let index = 0; index < 250 && faults.length < 3; index += 1) {
    const { entry, options } = await randomProjectCall(random);
    const fault = await checkProject(entry, options);
    if (fault !== null) faults.push(`project seed ${seed} case ${index}: ${fault}\n    call ${describeCall(entry, options)}`);
  }
  assert(faults.length === 0, faults.join("\n  "));
});

test("a one-file project reports the faults of compileModule, mapped back unchanged", async () => {
  const seed = 10;
  const random = createRandom(seed);
  const generators = [
    () => randomModule(random),
    () => mutateModule(random, random.pick(VALID_MODULES)),
    () => typedModule(random),
    () => mutateModule(random, typedModule(random)),
  ];
  const faults = [];
  for (let index = 0; index < 200 && faults.length < 3; index += 1) {
    const source = generators[index % generators.length]();
    const fault = await checkSingleFileProject(source);
    if (fault !== null) faults.push(`single-file seed ${seed} case ${index}: ${fault}\n    source ${describeSource(source)}`);
  }
  assert(faults.length === 0, faults.join("\n  "));
});
