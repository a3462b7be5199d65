import { createRandom, mutateModule, VALID_MODULES, runCompile } from "./fuzz-lib.mjs";
import { generateModule } from "../../bench/compile/generate.mjs";
const print = globalThis.__queltTestPrint ?? console.log;
const corpus = [...VALID_MODULES, generateModule("mixed", 0.05).source, generateModule("mixed", 0.25).source, generateModule("deep", 0.1).source, generateModule("literals", 0.05).source];
const random = createRandom(2 * 1000 + "mutation".length);
for (let i = 0; i <= 1056; i++) {
  const s = mutateModule(random, random.pick(corpus));
  if (i === 1056 || i === 2175) {
    for (let k = 0; k < 3; k++) { const r = runCompile(s); print(`${i} ${r.ms.toFixed(1)} ms ${r.outcome ? r.outcome.code : "ok"} len ${s.length}`); }
  }
}
