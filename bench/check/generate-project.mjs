// Writes a project at the linker's limits into a folder: 16 files, imports
// 8 levels deep (main.quelt -> lib/l01 -> ... -> lib/l07), and about 65,536
// bytes of source in total, padded with line comments. The linked text the
// compiler sees is a little longer than the sources (header lines and
// mangled names), so the padding stops where that text still fits the
// compiler's 65,536-unit source bound.
//
//   node bench/check/generate-project.mjs DIR [TOTAL_BYTES]
//
// Prints the total number of source bytes written.
import { mkdirSync, writeFileSync } from "node:fs";
import { join } from "node:path";

const FILES = 16;
const CHAIN = 7; // libraries l01..l07 import each other in a chain
const FUNCTIONS_PER_FILE = 4;
export const DEFAULT_TOTAL = 63000;

const libraryName = (index) => `l${String(index).padStart(2, "0")}`;

// One library: imports its successor in the chain (if any) and declares four
// functions; `fill` is the comment text before each function.
function library(index, fill) {
  const own = libraryName(index);
  const next = index < CHAIN ? libraryName(index + 1) : null;
  const lines = [];
  if (next !== null) lines.push(`import { ${next}f0 } from "./${next}.quelt";`);
  for (let k = 0; k < FUNCTIONS_PER_FILE; k += 1) {
    const call = k > 0 ? `${own}f${k - 1}(x)` : next !== null ? `${next}f0(x)` : "x";
    lines.push(`// ${fill}`);
    lines.push(`fn ${own}f${k}(x: Int) -> Int {`);
    lines.push(`  let a: Int = x * 3 + 1;`);
    lines.push(`  return a + ${call} * 2 - (a + 7) * (x - 1) + (a * a - x) * 3 - 4`);
    lines.push("}");
  }
  return lines.join("\n") + "\n";
}

function entry() {
  const imports = [`import { ${libraryName(1)}f3 } from "./lib/${libraryName(1)}.quelt";`];
  const derives = [`  derive d1: Int = ${libraryName(1)}f3(n)`];
  const outputs = ["d1"];
  for (let index = CHAIN + 1; index < FILES; index += 1) {
    imports.push(`import { ${libraryName(index)}f3 } from "./lib/${libraryName(index)}.quelt";`);
    derives.push(`  derive d${index}: Int = ${libraryName(index)}f3(n)`);
    outputs.push(`d${index}`);
  }
  return [...imports, "brindlet linkerLimits {", "  input n: Int = 1", ...derives,
    ...outputs.map((name) => `  output ${name}`), "}"].join("\n") + "\n";
}

export function generateProject(total = DEFAULT_TOTAL) {
  const build = (width) => {
    const files = { "main.quelt": entry() };
    for (let index = 1; index < FILES; index += 1) {
      files[`lib/${libraryName(index)}.quelt`] = library(index, "-".repeat(width));
    }
    return files;
  };
  const size = (files) => Object.values(files).reduce((sum, text) => sum + Buffer.byteLength(text), 0);
  // Every byte of comment width adds one byte per function of every library.
  const perWidth = (FILES - 1) * FUNCTIONS_PER_FILE;
  const width = Math.max(0, Math.floor((total - size(build(0))) / perWidth));
  return build(width);
}

if (process.argv[1] && import.meta.url.endsWith(process.argv[1].split("/").pop())) {
  const [folder, total] = process.argv.slice(2);
  if (!folder) {
    console.error("usage: node bench/check/generate-project.mjs DIR [TOTAL_BYTES]");
    process.exit(2);
  }
  const files = generateProject(total ? Number(total) : DEFAULT_TOTAL);
  let bytes = 0;
  for (const [path, text] of Object.entries(files)) {
    mkdirSync(join(folder, path, ".."), { recursive: true });
    writeFileSync(join(folder, path), text);
    bytes += Buffer.byteLength(text);
  }
  console.log(bytes);
}
