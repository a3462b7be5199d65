// Quick seeded fuzzing of whole requests through the test host's
// __queltTestRunEntry (a fresh engine per request, exactly as quelt-native
// runs it): well-typed random modules run on random tagged inputs and
// budgets, plus some broken envelopes. The answer is always one response
// line, and never the host's own failure or a timeout. Needs the test host;
// under Node.js the test has nothing to run.
import { test, assert } from "../harness.mjs";
import { createRandom } from "../../fuzz/fuzz-lib.mjs";
import { randomRequest, runRequest, typedModule } from "../../fuzz/request-fuzz-lib.mjs";
import { compileModule } from "quelt/compiler.mjs";

test("the well-typed module generator writes modules that compile", () => {
  const random = createRandom(8);
  for (let index = 0; index < 200; index += 1) {
    const source = typedModule(random);
    try {
      compileModule(source);
    } catch (error) {
      assert(false, `case ${index}: ${error.code} ${error.message}\n${source}`);
    }
  }
});

test("random requests answer one response line, never a host failure", async () => {
  if (typeof globalThis.__queltTestRunEntry !== "function") return;
  const seed = 9;
  const random = createRandom(seed);
  const faults = [];
  for (let index = 0; index < 100 && faults.length < 3; index += 1) {
    const { raw, source } = await randomRequest(random);
    const fault = runRequest(raw);
    if (fault !== null) faults.push(`request seed ${seed} case ${index}: ${fault}\n    source ${JSON.stringify(source)}\n    request ${raw.length > 600 ? raw.slice(0, 600) + "…" : raw}`);
  }
  assert(faults.length === 0, faults.join("\n  "));
});
