// Generators of valid modules whose size is a chosen fraction of the
// compiler's bounds (source bytes, tokens, expression nodes, functions,
// derives). Used by the compile benchmark and as seeds for the fuzzer.
//
// Exports
//   FULL_LIMITS                     the bounds a module at fraction 1 aims at
//   SHAPES                          names of the module shapes below
//   generateModule(shape, fraction) -> {source, nodes}
//     `nodes` is the number of expression nodes the module builds.
//
// Shapes
//   mixed     every dimension at once: functions (one with 16 parameters, one
//             with 16 locals, callbacks, bit and division stages), derives of
//             Int, Truth, Text and Record types, inputs with defaults, the
//             node budget filled exactly, tokens filled with parentheses and
//             bytes with comments.
//   literals  few declarations, big literals: a 256-field record, a long
//             array of numbers, long text literals filling the bytes.
//   deep      expressions at the height and parse-depth bounds: operator
//             chains of 64 operands, 63 nested parentheses, unary chains.

export const FULL_LIMITS = Object.freeze({
  source: 65536,
  tokens: 20000,
  nodes: 2000,
  functions: 64,
  derives: 256,
});

export const SHAPES = Object.freeze(["mixed", "literals", "deep"]);

const encoder = new TextEncoder();
const utf8Length = (text) => encoder.encode(text).length;

function scaled(fraction) {
  return {
    source: Math.floor(FULL_LIMITS.source * fraction),
    tokens: Math.floor(FULL_LIMITS.tokens * fraction),
    nodes: Math.floor(FULL_LIMITS.nodes * fraction),
    functions: Math.max(5, Math.floor(FULL_LIMITS.functions * fraction)),
    derives: Math.max(4, Math.floor(FULL_LIMITS.derives * fraction)),
  };
}

// Counts tokens of generated text exactly as the lexer would for the
// subset of the language the generators write (no comments inside, text
// literals without escaped quotes).
function countTokens(text) {
  let count = 0;
  let i = 0;
  const n = text.length;
  while (i < n) {
    const c = text.charCodeAt(i);
    if (c === 32 || c === 10) { i += 1; continue; }
    count += 1;
    if (c === 34) {
      i = text.indexOf('"', i + 1) + 1;
    } else if (c >= 48 && c <= 57) {
      while (i < n && isDigit(text.charCodeAt(i))) i += 1;
      if (text[i] === "." && isDigit(text.charCodeAt(i + 1))) {
        i += 1;
        while (i < n && isDigit(text.charCodeAt(i))) i += 1;
      }
    } else if (isWord(c)) {
      while (i < n && isWord(text.charCodeAt(i))) i += 1;
    } else if (i + 1 < n && TWO.has(text.slice(i, i + 2))) {
      i += 2;
    } else {
      i += 1;
    }
  }
  return count;
}
const TWO = new Set(["->", "|>", ">=", "<=", "==", "!="]);
const isDigit = (c) => c >= 48 && c <= 57;
const isWord = (c) => isDigit(c) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c === 95;

// Wraps `text` in `pairs` parentheses (two tokens each, no node).
function wrap(text, pairs) {
  return "(".repeat(pairs) + text + ")".repeat(pairs);
}

// Appends line comments until the source reaches `bytes` (never beyond).
function padBytes(source, bytes) {
  let remaining = bytes - utf8Length(source);
  const lines = [];
  while (remaining >= 4) {
    const width = Math.min(remaining - 1, 96);
    lines.push("\n//" + "=".repeat(width - 2));
    remaining -= width + 1;
  }
  return source + lines.join("");
}

// ---------------------------------------------------------------- mixed

const HELPERS = [
  { text: "fn isPositive(v: Int) -> Truth { return v > 0 }", nodes: 3 },
  { text: "fn addUp(total: Int, v: Int) -> Int { return total + v }", nodes: 3 },
  { text: 'fn label(v: Int) -> Text { return "n=" + (v |> toText()) }', nodes: 4 },
  {
    text: "fn wide(" + Array.from({ length: 16 }, (_, i) => `p${i}: Int`).join(", ") + ") -> Int { return "
      + Array.from({ length: 16 }, (_, i) => `p${i}`).join(" + ") + " }",
    nodes: 31,
  },
  {
    text: "fn deepLocals(a: Int, b: Int) -> Int { let l0: Int = a + b; "
      + Array.from({ length: 15 }, (_, i) => `let l${i + 1}: Int = l${i} * 2 - b;`).join(" ")
      + " return l15 }",
    nodes: 3 + 15 * 5 + 1,
  },
];

// Function bodies over (a: Int, b: Int) -> Int; `previous` is a function of
// the same signature declared earlier.
const FUNCTION_BODIES = [
  { body: (previous) => `let s: Int = a + b; return s * 2 - ${previous}(s, b)`, nodes: 10 },
  { body: () => "return [a, b, a * b] |> filter(isPositive) |> fold(addUp, 0)", nodes: 9 },
  { body: () => "let q: Int = a |> quotient(b |> bitOr(1)); return choose(a > b, q, b, a |> remainder(3))", nodes: 14 },
  { body: () => "return a |> shiftLeft(2) |> bitXor(b) |> bitAnd(255)", nodes: 7 },
];

const INPUTS = [
  { text: "input n: Int = 7", nodes: 1 },
  { text: "input scale: Float = 1.5", nodes: 1 },
  { text: "input xs: Int[] = [1, 2, 3, 4]", nodes: 5 },
  { text: 'input rec: Record = {w: 3, name: "box", tags: ["a", "b"]}', nodes: 6 },
  { text: "input words: Text[]", nodes: 0 },
  { text: "input flag: Truth = unknown", nodes: 1 },
];

// Derive templates: `int` is the name of an earlier Int value, `fn` a
// generated function. Each returns [type, expression]; `int: true` marks
// derives whose value can feed later Int templates.
const DERIVES = [
  { nodes: 1, int: true, make: ({ int }) => ["Int", int] },
  { nodes: 3, int: true, make: ({ int, k }) => ["Int", `${int} + ${k}`] },
  { nodes: 5, int: true, make: ({ int, fn, k }) => ["Int", `${fn}(${int}, n) + ${k}`] },
  { nodes: 10, int: false, make: ({ int }) => ["Truth", `${int} > 3 and flag or not (${int} == 4)`] },
  { nodes: 8, int: false, make: ({ int }) => ["Truth", `${int} > 3 and (label(${int}) |> startsWith("n"))`] },
  { nodes: 12, int: true, make: ({ int }) => ["Int", `readInt(rec, "w") + (xs |> keep(> 2) |> map(* 3) |> sum()) - ${int}`] },
  { nodes: 11, int: false, make: ({ int }) => ["Record", `{id: ${int}, tag: "t", tags: ["a", "b"]} |> withField("more", ${int} * 2)`] },
  { nodes: 13, int: false, make: ({ int }) => ["Text", `label(${int}) + " of " + (words |> join(", ")) + (scale * 2.0 |> toText())`] },
];

function generateMixed(limits) {
  const parts = [];
  let nodes = 0;
  const functionCount = limits.functions;
  const helpers = HELPERS.slice(0, Math.min(HELPERS.length, functionCount - 1));
  for (const helper of helpers) {
    parts.push(helper.text);
    nodes += helper.nodes;
  }
  const functionNames = [];
  // The first generated function has no earlier one of its signature.
  parts.push("fn f0(a: Int, b: Int) -> Int { return a - b }");
  nodes += 3;
  functionNames.push("f0");
  for (let k = 1; functionNames.length + helpers.length < functionCount; k += 1) {
    const template = FUNCTION_BODIES[k % FUNCTION_BODIES.length];
    const name = `f${k}`;
    parts.push(`fn ${name}(a: Int, b: Int) -> Int { ${template.body(functionNames[k - 1])} }`);
    nodes += template.nodes;
    functionNames.push(name);
  }

  const block = [];
  for (const input of INPUTS) {
    block.push(input.text);
    nodes += input.nodes;
  }
  const derives = [];
  let lastInt = "n";
  const deriveCount = limits.derives;
  for (let k = 0; k < deriveCount; k += 1) {
    const remainingDerives = deriveCount - k;
    const budget = Math.floor((limits.nodes - nodes) / remainingDerives);
    if (k === deriveCount - 1) break;
    let choice = DERIVES[0];
    const fitting = DERIVES.filter((d) => d.nodes <= budget);
    if (fitting.length > 0) choice = fitting[(k * 7) % fitting.length];
    const [type, expression] = choice.make({
      int: lastInt,
      fn: functionNames[(k * 5) % functionNames.length],
      k,
    });
    const name = `derivedValue${k}`;
    derives.push({ name, type, expression });
    nodes += choice.nodes;
    if (choice.int) lastInt = name;
  }
  // The last derive takes the rest of the node budget as an array literal.
  const rest = Math.max(1, limits.nodes - nodes);
  const items = rest === 1 ? "[]" : `[${Array.from({ length: rest - 1 }, (_, i) => String(i)).join(", ")}]`;
  derives.push({ name: "remainder", type: "Int[]", expression: items });
  nodes += rest;

  const assemble = (pairs) => {
    const lines = [...parts, "brindlet benchmark {", ...block.map((line) => `  ${line}`)];
    derives.forEach((d, index) => {
      lines.push(`  derive ${d.name}: ${d.type} = ${wrap(d.expression, pairs[index])}`);
    });
    lines.push(`  output ${lastInt}`, "  output remainder", "}");
    return lines.join("\n");
  };
  const pairs = derives.map(() => 0);
  let source = assemble(pairs);
  let spare = Math.floor((limits.tokens - countTokens(source)) / 2);
  // Spread parenthesis pairs over the derives, at most 48 each (parse depth).
  for (let round = 0; spare > 0 && round < 48; round += 1) {
    for (let i = 0; i < pairs.length && spare > 0; i += 1) {
      pairs[i] += 1;
      spare -= 1;
    }
  }
  source = assemble(pairs);
  return { source: padBytes(source, limits.source), nodes };
}

// ------------------------------------------------------------- literals

function generateLiterals(limits) {
  const fieldCount = Math.min(256, Math.floor(limits.nodes * 0.128));
  const fields = Array.from({ length: fieldCount }, (_, i) => `field_${i}: ${i}`);
  let nodes = fieldCount + 1;
  const lines = ["brindlet literals {", "  input seed: Int = 1"];
  nodes += 1;
  lines.push(`  derive table: Record = {${fields.join(", ")}}`);
  const textCount = 8;
  nodes += textCount;
  const arrayItems = limits.nodes - nodes - 1;
  lines.push(`  derive numbers: Float[] = [${Array.from({ length: arrayItems }, (_, i) => (i % 3 === 0 ? `${i}.5` : String(i))).join(", ")}]`);
  nodes += arrayItems + 1;
  const texts = [];
  for (let i = 0; i < textCount; i += 1) {
    texts.push({ name: `text${i}`, index: lines.length });
    lines.push("");
  }
  lines.push("  output table", "  output numbers", "}");
  const fixed = lines.join("\n");
  // Long text literals (with a few escapes) share the remaining bytes.
  const free = limits.source - utf8Length(fixed) - texts.length * 40;
  const chunk = Math.max(0, Math.floor(free / texts.length));
  const unit = "lorem ipsum \\u00e9\\n dolor ";
  for (const t of texts) {
    const body = unit.repeat(Math.ceil(chunk / unit.length)).slice(0, chunk);
    lines[t.index] = `  derive ${t.name}: Text = "${safeEscapes(body)}"`;
  }
  return { source: lines.join("\n"), nodes };
}

// Drops a trailing partial escape so the literal stays valid JSON text.
function safeEscapes(body) {
  const cut = body.lastIndexOf("\\");
  if (cut === -1) return body;
  const tail = body.slice(cut);
  if (/^\\u[0-9a-fA-F]{4}/.test(tail) || /^\\[nrtbf"\\/]/.test(tail)) return body;
  return body.slice(0, cut);
}

// ----------------------------------------------------------------- deep

function generateDeep(limits) {
  const lines = ["fn twice(v: Int) -> Int { return v * 2 }", "brindlet deep {", "  input x: Int = 1", "  input t: Truth = yes"];
  let nodes = 3 + 2;
  const templates = [
    // 64 operands joined by +: tree height 64, 127 nodes.
    { nodes: 127, type: "Int", text: () => Array.from({ length: 64 }, () => "x").join(" + ") },
    // A literal inside 63 parentheses: parse depth 64, one node.
    { nodes: 1, type: "Int", text: () => wrap("x", 63) },
    // 62 prefix minus signs over a reference: parse depth 63.
    { nodes: 63, type: "Int", text: () => "- ".repeat(62) + "x" },
    // not-chains mixed with and: height 32.
    { nodes: 95, type: "Truth", text: () => Array.from({ length: 32 }, () => "not t").join(" and ") },
    // A pipeline of 60 stages: tree height 61.
    { nodes: 61, type: "Int", text: () => "x" + " |> bitXor(1)".repeat(30) },
    // Nested calls: height 40.
    { nodes: 41, type: "Int", text: () => "twice(".repeat(40) + "x" + ")".repeat(40) },
  ];
  let k = 0;
  while (true) {
    const template = templates[k % templates.length];
    if (nodes + template.nodes > limits.nodes - 1) break;
    lines.push(`  derive deep${k}: ${template.type} = ${template.text()}`);
    nodes += template.nodes;
    k += 1;
  }
  // The rest of the node budget: an array literal of that many nodes.
  const rest = limits.nodes - nodes;
  lines.push(`  derive rest: Int[] = [${Array.from({ length: rest - 1 }, () => "x").join(", ")}]`);
  nodes += rest;
  lines.push("  output deep0", "}");
  return { source: padBytes(lines.join("\n"), limits.source), nodes };
}

const GENERATORS = { mixed: generateMixed, literals: generateLiterals, deep: generateDeep };

export function generateModule(shape, fraction) {
  const generate = GENERATORS[shape];
  if (generate === undefined) throw new TypeError(`unknown shape ${shape}`);
  return generate(scaled(fraction));
}
