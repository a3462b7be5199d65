import { compileModule, getSourceTokens } from "quelt/compiler.mjs";
import { tokenize } from "../../quelt/compiler/lexer.mjs";
import { Parser } from "../../quelt/compiler/parser.mjs";
import { parseModule } from "../../quelt/compiler/declarations.mjs";
import { generateModule } from "./generate.mjs";
const print = globalThis.__queltTestPrint ?? console.log;
function med(work, runs = 15) { for (let i = 0; i < 3; i++) work(); const t = []; for (let i = 0; i < runs; i++) { const s = performance.now(); work(); t.push(performance.now() - s); } t.sort((a, b) => a - b); return t[runs >> 1]; }
const { source } = generateModule("mixed", 1);
const noParens = source.split("\n").map((line) => {
  if (!line.startsWith("  derive")) return line;
  const m = /= (\(*)/.exec(line); const n = m[1].length; if (n === 0) return line;
  return line.slice(0, m.index + 2) + " ".repeat(n) + line.slice(m.index + 2 + n, line.length - n) + " ".repeat(n);
}).join("\n");
// the above may break single parens inside expressions where "((" appear legitimately; check compile
let ok = true; try { compileModule(noParens); } catch (e) { ok = e.code; }
const fail = (o, c, m) => { throw new Error(c + m); };
for (const [label, s] of [["mixed", source], ["mixed without padding parens", noParens]]) {
  const n = getSourceTokens(s).length - 1;
  const tk = med(() => tokenize(s, fail));
  const toks = tokenize(s, fail);
  const ps = med(() => parseModule(new Parser(s, toks)));
  const all = med(() => compileModule(s));
  print(`${label}: tokens ${n}, tokenize ${tk.toFixed(2)}, parse ${ps.toFixed(2)}, compile ${all.toFixed(2)} ${ok}`);
}
const blank = " ".repeat(65000);
print(`65000 spaces tokenize ${med(() => tokenize(blank, fail)).toFixed(2)}`);
const comment = "//" + "=".repeat(64998);
print(`65000-char comment tokenize ${med(() => tokenize(comment, fail)).toFixed(2)}`);
const idents = Array.from({ length: 20000 }, () => "ab").join(" ");
print(`20000 identifiers tokenize ${med(() => tokenize(idents, fail)).toFixed(2)}`);
const parens = "(".repeat(20000);
print(`20000 parens tokenize ${med(() => tokenize(parens, fail)).toFixed(2)}`);
const empty = [];
print(`20000 small object allocations ${med(() => { const a = []; for (let i = 0; i < 20000; i++) a.push({ kind: "symbol", value: "(", offset: i, end: i + 1 }); return a; }).toFixed(2)}`);
