import { compileModule } from "quelt/compiler.mjs";
import { execute } from "quelt/runtime.mjs";
import { sources } from "./_s.mjs";
const print = globalThis.__queltTestPrint ?? console.log;
const xs = Array.from({length: 4096}, (_, i) => (i * 7919) % 10007);
const rows = xs.map((x, i) => ({ id: i, name: "n" + i, score: x }));
const inputs = { arith: {}, fold: {xs}, repeat: {}, "sort-records": {rows}, "text-build": {xs} };
for (const name of Object.keys(inputs)) {
  const src = sources[name];
  try {
    const p = compileModule(src);
    const times = [];
    let r;
    for (let k = 0; k < 5; k++) { const t = performance.now(); r = await execute(p, inputs[name]); times.push(performance.now() - t); }
    print(name + " " + r.metrics.runSteps + " " + times.map((t) => t.toFixed(1)).join(" ") + " " + JSON.stringify(r.outputs).slice(0, 60));
  } catch (e) { print(name + " " + e.code + " " + e.message); }
}
