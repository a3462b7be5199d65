// Phase timings of one compileProject on a generated project at the project
// bounds: 16 files, imports 8 levels deep, close to 65,536 bytes (as much as
// the compiler's limits on the linked text allow). Not a test; run it with
//   build/quelt-test-host bench/project/measure-compile-project.mjs
//   node tests/js/node-run.mjs bench/project/measure-compile-project.mjs
import { test } from "../../tests/js/harness.mjs";
import { compileModule, getDeriveSourceRange, getSourceTokens } from "quelt/compiler.mjs";
import { compileProject } from "quelt/project.mjs";
import { canonical, domainSha, sha } from "../../quelt/project/digest.mjs";
import { loadModules } from "../../quelt/project/graph.mjs";
import { BUNDLE_DOMAIN, INFO_SCHEMA } from "../../quelt/project/limits.mjs";
import { linkSources } from "../../quelt/project/link.mjs";
import { mappedPoint } from "../../quelt/project/source-map.mjs";
import { exportTables } from "../../quelt/project/rewrite.mjs";
import { checkDigests, copySources, normaliseInterfaces } from "../../quelt/project/validate.mjs";
import { sourcesOf } from "../../tests/js/project/fixtures.mjs";

const print = globalThis.__queltTestPrint ?? console.log;
const FILES = 16;
const FUNCTIONS_PER_FILE = 4; // 64 functions: the compiler's bound
const CHAIN = 7; // main -> l01 -> ... -> l07: 8 levels

const name = (index) => `l${String(index).padStart(2, "0")}`;

// One library: imports its successor in the chain (or nothing), four
// functions of about 30 expression nodes each, and comment padding.
function library(index, padding) {
  const lines = [];
  const next = index < CHAIN ? index + 1 : null;
  if (next !== null) lines.push(`import { ${name(next)}f0 } from "./${name(next)}.quelt";`);
  for (let k = 0; k < FUNCTIONS_PER_FILE; k += 1) {
    const call = next !== null && k === 0 ? `${name(next)}f0(x)` : k > 0 ? `${name(index)}f${k - 1}(x)` : "x";
    lines.push(`// ${"-".repeat(padding)}`);
    lines.push(`fn ${name(index)}f${k}(x: Int) -> Int {`);
    lines.push(`  let a: Int = x * 3 + 1;`);
    lines.push(`  return a + ${call} * 2 - (a + 7) * (x - 1) + (a * a - x) * 3 - 4`);
    lines.push("}");
  }
  return lines.join("\n") + "\n";
}

export function project(padding) {
  const files = {};
  for (let index = 1; index < FILES; index += 1) files[`lib/${name(index)}.quelt`] = library(index, padding);
  const imports = [`import { ${name(1)}f3 } from "./lib/${name(1)}.quelt";`];
  const derives = [];
  for (let index = CHAIN + 1; index < FILES; index += 1) {
    imports.push(`import { ${name(index)}f3 } from "./lib/${name(index)}.quelt";`);
    derives.push(`  derive d${index}: Int = ${name(index)}f3(n)`);
  }
  files["main.quelt"] = [
    ...imports,
    "brindlet measured {",
    "  input n: Int = 1",
    `  derive d1: Int = ${name(1)}f3(n)`,
    ...derives,
    `  output d1`,
    "}",
  ].join("\n") + "\n";
  return files;
}

function bytes(files) {
  return Object.values(files).reduce((total, text) => total + new TextEncoder().encode(text).length, 0);
}

// Comment padding per function: the largest with which the linked text stays
// within the compiler's 65,536-unit source bound (one more fails).
export const PADDING = 913;

async function phases(options) {
  const times = {};
  let mark = performance.now();
  const lap = (key) => {
    const now = performance.now();
    times[key] = (times[key] ?? 0) + (now - mark);
    mark = now;
  };
  const sources = copySources(options.sources);
  lap("validation: sources");
  const interfaces = normaliseInterfaces(options);
  lap("validation: interfaces");
  await checkDigests(sources);
  lap("digests");
  for (const { source } of sources.values()) getSourceTokens(source);
  lap("(tokens alone)");
  const modules = loadModules("main.quelt", sources);
  lap("pre-parse");
  const ordered = [...modules.keys()].sort();
  const tables = exportTables(ordered, modules);
  const files = ordered.map((path) => ({
    path,
    sha256: sources.get(path).sha256,
    imports: modules.get(path).imports.map(({ path: target, names }) => ({ path: target, names })),
  }));
  lap("linking");
  const bundle = await domainSha(BUNDLE_DOMAIN, canonical({ schema: INFO_SCHEMA, entry: "main.quelt", files }));
  lap("digests");
  const linked = linkSources("main.quelt", ordered, modules, tables, bundle);
  lap("linking");
  const program = compileModule(linked.source, { interfaces });
  lap("compileModule");
  await sha(program.source);
  lap("digests");
  const state = { manifest: { entry: "main.quelt", sources: Object.fromEntries(sources) }, source: linked.source, segments: linked.segments };
  const cache = new Map();
  for (const derive of program.derives) {
    const range = getDeriveSourceRange(program, derive.name);
    mappedPoint(state, range.start, false, cache);
    mappedPoint(state, range.end, true, cache);
  }
  lap("targets");
  return { times, linkedLength: linked.source.length, tokens: [...modules.values()].reduce((n, m) => n + m.tokens.length, 0) };
}

test("compileProject phase timings at the project bounds", async () => {
  const files = project(PADDING);
  const options = { sources: await sourcesOf(files) };
  // the first run is the cold one: nothing of the project unit has run before it
  const runs = [];
  for (let run = 0; run < 7; run += 1) runs.push(await phases(options));
  const keys = ["validation: sources", "validation: interfaces", "digests", "pre-parse", "linking", "compileModule", "targets"];
  const median = (values) => values.slice().sort((a, b) => a - b)[values.length >> 1];
  const line = (key, values) => print(`${key.padEnd(24)} first ${values[0].toFixed(2)} ms, median of 7 ${median(values).toFixed(2)} ms`);
  print(`files ${Object.keys(files).length}, source bytes ${bytes(files)}, linked code units ${runs[0].linkedLength}, tokens ${runs[0].tokens}`);
  for (const key of keys) line(key, runs.map((r) => r.times[key]));
  line("(tokenizing alone)", runs.map((r) => r.times["(tokens alone)"]));
  line("total", runs.map((r) => keys.reduce((sum, key) => sum + r.times[key], 0)));
  const start = performance.now();
  await compileProject("main.quelt", options);
  print(`compileProject once more: ${(performance.now() - start).toFixed(2)} ms`);
  // the padding is the largest that compiles
  const tooLong = { sources: await sourcesOf(project(PADDING + 1)) };
  await compileProject("main.quelt", tooLong).then(
    () => print("note: PADDING is no longer the largest that compiles"),
    (error) => print(`padding ${PADDING + 1} fails with ${error.code}`),
  );
});
