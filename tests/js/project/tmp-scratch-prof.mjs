import { test } from "../harness.mjs";
import { project, PADDING } from "./measure-compile-project.mjs";
import { sourcesOf } from "./fixtures.mjs";
import { copySources } from "../../../quelt/project/validate.mjs";
import { loadModules } from "../../../quelt/project/graph.mjs";
import { linkSources } from "../../../quelt/project/link.mjs";
import { exportTables } from "../../../quelt/project/rewrite.mjs";
const print = globalThis.__queltTestPrint ?? console.log;
test("x", async () => {
  const sources = copySources((await sourcesOf(project(PADDING))));
  const modules = loadModules("main.quelt", sources);
  const ordered = [...modules.keys()].sort();
  let acc = 0, acc2 = 0;
  for (let r = 0; r < 10; r++) {
    let t = performance.now();
    const tables = exportTables(ordered, modules);
    acc2 += performance.now() - t; t = performance.now();
    linkSources("main.quelt", ordered, modules, tables, "0".repeat(64));
    acc += performance.now() - t;
  }
  print(`exportTables ${(acc2 / 10).toFixed(3)} linkSources ${(acc / 10).toFixed(3)}`);
});
