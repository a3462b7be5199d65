import { test } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { evaluateSync } from "../../../quelt/runtime/evaluator.mjs";
import { createRunContext } from "../../../quelt/runtime/context.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";
import { planFor } from "../../../quelt/runtime/plans.mjs";
const out = [];
import { normalize } from "../../../quelt/runtime/values.mjs";
function bench(label, source, inputs) {
  const program = compileModule(source);
  const ctx = { program, functions: planFor(program).functions, steps: 0, check() {}, step(n = 1) { this.check(); this.steps += n; } }; const ledger = ctx;
  const env = new Map();
  for (const input of program.inputs) env.set(input.name, { value: normalize(inputs[input.name] ?? input.defaultValue, input.type), type: input.type });
  const t0 = performance.now();
  let rounds = 0;
  while (performance.now() - t0 < 300) { for (const d of program.derives) env.set(d.name, evaluateSync(d.expression, env, ctx)); rounds++; }
  const ms = performance.now() - t0;
  out.push(`${label} steps/s ${Math.round(ledger.steps / ms * 1000)} rounds ${rounds}`);
}
test("perf", () => {
  let derives = ""; let prev = "a";
  for (let d = 0; d < 10; d++) { let chain = prev; for (let i = 0; i < 25; i++) chain += ` + ${i} * a`; derives += ` derive d${d}: Int = ${chain} - ${prev}`; prev = `d${d}`; }
  bench("arith", `brindlet m { input a: Int = 3 ${derives} output d9 }`, {});
  bench("fold", `fn add(s: Int, x: Int) -> Int { return s + x * 2 }\nbrindlet m { input a: Int[] = [1] derive b: Int = a |> fold(add, 0) output b }`, { a: Array.from({length: 4000}, (_, i) => i) });
  bench("repeat", `fn step(s: Int, i: Int) -> Int { return s + i }\nbrindlet m { input a: Int = 1 derive b: Int = 4000 |> repeat(step, 0) output b }`, {});
  bench("sort", `fn k(x: Int) -> Int { return 0 - x }\nbrindlet m { input a: Int[] = [1] derive b: Int[] = a |> sortBy(k) output b }`, { a: Array.from({length: 4000}, (_, i) => (i * 7919) % 4001) });
  throw new Error(out.join("\n"));
});
