// Deterministic input generators and outcome checks for fuzzing the
// compiler's two entry points, compileModule and getSourceTokens.
//
// The property: compileModule answers a frozen, compiler-issued Program or
// throws a CompileDiagnostic with a known code and a location inside the
// source; getSourceTokens answers a frozen, well-formed token list or throws
// such a diagnostic; both agree on lexical faults; nothing else is thrown (no
// TypeError, no engine stack overflow) and no call takes unreasonably long.
//
// Exports
//   createRandom(seed) -> random source {next(), int(n), pick(list), chance(p)}
//   VALID_MODULES                 small valid modules covering the grammar
//   tokenSoup(random, count)      text of `count` tokens from the vocabulary
//   mutateModule(random, source)  a valid module with 1-3 token/char edits
//   nestingCases()                deep nesting of every kind, around the limits
//   randomText(random)            odd strings: surrogates, controls, long runs
//   randomModule(random)          grammar-shaped random module (checker paths)
//   randomInterfaces(random)      adapter declarations, sometimes malformed
//   randomAdapterModule(random)   modules with use, adapter calls, effect fns
//   inDerive(expression, type)    a module whose derive d is `expression`
//   runCompile(source, options)   -> {fault, outcome, ms}: fault is null or a
//                                 description; outcome the error thrown or null
//   runTokens(source)             -> {fault, outcome} for getSourceTokens
//   checkBoth(source)             -> null | fault: both entry points and their
//                                 agreement on lexical faults
//   describeSource(source)        short printable form of a source
//   KNOWN_CODES, LEXICAL_CODES    the compiler's codes; those of the lexer
//   SLOW_MS                       a call slower than this is a fault
import {
  compileModule,
  getSourceTokens,
  CompileDiagnostic,
  isCompiledProgram,
  getDeriveSourceRange,
  getExpressionType,
} from "quelt/compiler.mjs";

// ------------------------------------------------------------ randomness

// mulberry32: small, fast and the same in every engine.
export function createRandom(seed) {
  let state = seed >>> 0;
  const next = () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  return {
    next,
    int: (n) => Math.floor(next() * n),
    pick: (list) => list[Math.floor(next() * list.length)],
    chance: (p) => next() < p,
  };
}

// ------------------------------------------------------------ vocabulary

const KEYWORDS = [
  "fn", "return", "brindlet", "use", "input", "derive", "output", "yes", "no", "unknown",
  "not", "and", "or", "Int", "Float", "Text", "Truth", "Record",
];
const BUILTINS = [
  "sum", "len", "choose", "take", "keepGt", "keepGe", "keepLt", "keepLe", "keepEq", "keepNe",
  "mapAdd", "mapSub", "mapMul", "hasField", "readInt", "readFloat", "readText", "readTruth",
  "readRecord", "readInts", "readFloats", "readTexts", "readTruths", "readRecords",
];
const CONTEXTUAL = ["schema", "result", "effect", "let", "ok", "err", "match", "Unknown", "EmptyArray"];
const STAGES = [
  "ok", "err", "match", "bitAnd", "bitOr", "bitXor", "shiftLeft", "shiftRight", "bitNot", "asSchema",
  "field", "toRecord", "toJson", "checkFields", "concat", "withField", "withoutField", "contains",
  "startsWith", "endsWith", "split", "join", "keys", "slice", "parseInt", "parseFloat", "toText",
  "quotient", "remainder", "present", "require", "orElse", "append", "at", "sortBy", "filter", "each",
  "fold", "repeat", "keep", "map",
];
// Names an object-keyed lookup could inherit.
const INHERITED = ["__proto__", "constructor", "toString", "valueOf", "hasOwnProperty", "prototype", "length"];
const NAMES = ["a", "b", "x", "xs", "r", "t", "f", "g", "m", "S", "R", "Shape", "Outcome", "value"];
const SYMBOLS = [
  "->", "|>", ">=", "<=", "==", "!=", "{", "}", "(", ")", "[", "]", ",", ":", ";", "?", "=", ".",
  "+", "-", "*", "/", "<", ">",
];
const NUMBERS = ["0", "1", "2", "3.5", "1e3", "007", "9007199254740991", "-0", "2.0", "1e-400"];
const TEXTS = ['"a"', '""', '"Int"', '"Text[]"', '"w"', '"__proto__"', '"\\u00e9"', '"x\\ny"', '"Record[]"'];

const VOCABULARY = [
  ...KEYWORDS, ...BUILTINS, ...CONTEXTUAL, ...STAGES, ...INHERITED, ...NAMES,
  ...SYMBOLS, ...SYMBOLS, ...SYMBOLS, ...NUMBERS, ...TEXTS,
];

export function tokenSoup(random, count) {
  const parts = [];
  // Most soups start like a module so the parser gets past the first token.
  if (random.chance(0.5)) parts.push(random.pick(["brindlet m {", "fn f(", "schema S {", "result R:", "brindlet m { derive d: Int ="]));
  for (let i = 0; i < count; i += 1) parts.push(random.pick(VOCABULARY));
  return parts.join(random.chance(0.2) ? "" : " ");
}

// ------------------------------------------------------------ valid modules

export const VALID_MODULES = [
  "brindlet m { input a: Int output a }",
  'brindlet hello { input name: Text = "world" derive greeting: Text = "Hello, " + name output greeting }',
  [
    "fn isSmall(v: Int) -> Truth { return v < 10 }",
    "fn add(total: Int, v: Int) -> Int { return total + v }",
    "fn double(v: Int) -> Int { return v * 2 }",
    "fn weight(v: Int) -> Int { return 0 - v }",
    "brindlet lists {",
    "  input xs: Int[] = [3, 1, 20]",
    "  derive small: Int[] = xs |> filter(isSmall) |> sortBy(weight)",
    "  derive total: Int = small |> fold(add, 0)",
    "  derive doubled: Int[] = xs |> each(double) |> append(4) |> concat([5])",
    "  derive first: Int = doubled |> at(0)",
    "  derive kept: Int[] = xs |> keep(>= 2) |> map(- 1) |> take(2)",
    "  output total output first output kept",
    "}",
  ].join("\n"),
  [
    "schema Box { w: Int, \"h\": Float, tags: Text[] }",
    "fn area(b: Box) -> Float { return (b |> field(\"w\")) * (b |> field(\"h\")) }",
    "brindlet shapes {",
    "  input r: Record = {w: 2, h: 1.5, tags: [\"a\"]}",
    "  derive b: Box = r |> asSchema(Box)",
    "  derive a: Float = area(b)",
    "  derive back: Record = b |> toRecord()",
    "  output a output back",
    "}",
  ].join("\n"),
  [
    "result Outcome: Int",
    "fn onOk(v: Int) -> Text { return v |> toText() }",
    "fn onErr(e: Text) -> Text { return e }",
    "fn check(v: Int) -> Outcome { return choose(v > 0, v |> ok(Outcome), \"negative\" |> err(Outcome), v |> ok(Outcome)) }",
    "brindlet results {",
    "  input n: Int = -3",
    "  derive said: Text = check(n) |> match(onOk, onErr)",
    "  output said",
    "}",
  ].join("\n"),
  [
    "brindlet records {",
    "  input r: Record = {a: 1, b: unknown, c: [\"x\", \"y\"]}",
    "  input t: Text? = unknown",
    "  derive checked: Record = r |> checkFields({a: \"Int\", c: \"Text[]\"}) |> withoutField(\"b\")",
    "  derive json: Text = checked |> toJson()",
    "  derive names: Text[] = r |> keys()",
    "  derive has: Truth = hasField(r, \"a\") and not (json |> contains(\"z\"))",
    "  derive n: Int = readInt(r, \"a\") + (\"42\" |> parseInt()) + len(names)",
    "  derive f: Float = \"2.5\" |> parseFloat()",
    "  derive text: Text = t |> orElse(\"none\") |> slice(0, 2)",
    "  derive parts: Text[] = \"a,b\" |> split(\",\")",
    "  derive there: Truth = t |> present()",
    "  output has output n output f output text output parts output there",
    "}",
  ].join("\n"),
  [
    "fn step(state: Int, i: Int) -> Int { let next: Int = state + i; return next |> bitXor(i |> shiftLeft(1)) }",
    "brindlet bits {",
    "  input n: Int = 5",
    "  input o: Int? = unknown",
    "  derive r: Int = n |> repeat(step, 1) |> bitAnd(255) |> bitOr(1) |> shiftRight(1) |> bitNot()",
    "  derive q: Int = n |> quotient(2) + (n |> remainder(3)) + (o |> require())",
    "  derive mix: Float = choose(yes, 1, 2.5, o |> orElse(0))",
    "  output r output q",
    "}",
  ].join("\n"),
  "fn Unknown() -> Int { return 1 }\nbrindlet m { use lib; input sum: Int; derive d: Int = sum + Unknown(); output d; };",
];

// ------------------------------------------------------------ mutations

// Token spans of a lexically valid source, eof excluded.
function spans(source) {
  return getSourceTokens(source).slice(0, -1).map((token) => [token.offset, token.end]);
}

export function mutateModule(random, source) {
  let text = source;
  const edits = 1 + random.int(3);
  for (let e = 0; e < edits; e += 1) {
    let list;
    try {
      list = spans(text);
    } catch {
      list = null;
    }
    text = list === null || list.length === 0 ? characterEdit(random, text) : tokenEdit(random, text, list);
  }
  return text;
}

function tokenEdit(random, text, list) {
  const [start, end] = random.pick(list);
  const piece = text.slice(start, end);
  switch (random.int(7)) {
    case 0: // delete
      return text.slice(0, start) + text.slice(end);
    case 1: // duplicate
      return text.slice(0, end) + " " + piece + text.slice(end);
    case 2: { // swap with another token
      const [s2, e2] = random.pick(list);
      if (s2 === start) return text;
      const [a, b] = s2 < start ? [[s2, e2], [start, end]] : [[start, end], [s2, e2]];
      return text.slice(0, a[0]) + text.slice(b[0], b[1]) + text.slice(a[1], b[0]) + text.slice(a[0], a[1]) + text.slice(b[1]);
    }
    case 3: // truncate after a token or inside one
      return text.slice(0, random.chance(0.5) ? end : start + random.int(end - start + 1));
    case 4: // replace by a vocabulary token
      return text.slice(0, start) + random.pick(VOCABULARY) + text.slice(end);
    case 5: // insert a vocabulary token
      return text.slice(0, start) + random.pick(VOCABULARY) + " " + text.slice(start);
    default: // repeat a token many times
      return text.slice(0, end) + (" " + piece).repeat(1 + random.int(80)) + text.slice(end);
  }
}

function characterEdit(random, text) {
  const at = random.int(text.length + 1);
  switch (random.int(3)) {
    case 0:
      return text.slice(0, at) + text.slice(at + 1);
    case 1:
      return text.slice(0, at) + String.fromCharCode(random.int(0x80)) + text.slice(at);
    default:
      return text.slice(0, at);
  }
}

// ------------------------------------------------------------ nesting

// A derive of module `m` with the given expression text.
export const inDerive = (expression, type = "Int") =>
  `fn f(v: Int) -> Int { return v }\nbrindlet m { input x: Int input t: Truth derive d: ${type} = ${expression} output d }`;

// Nesting of every kind at depths around the limits: [label, source].
export function nestingCases() {
  const cases = [];
  const depths = [1, 31, 62, 63, 64, 65, 66, 200, 1000, 5000, 9999, 10001, 30000];
  for (const n of depths) {
    cases.push([`parentheses ${n}`, inDerive("(".repeat(n) + "x" + ")".repeat(n))]);
    cases.push([`unclosed parentheses ${n}`, inDerive("(".repeat(n) + "x")]);
    cases.push([`arrays ${n}`, inDerive("[".repeat(n) + "1" + "]".repeat(n), "Int[]")]);
    cases.push([`records ${n}`, inDerive("{a: ".repeat(n) + "1" + "}".repeat(n), "Record")]);
    cases.push([`unary minus ${n}`, inDerive("- ".repeat(n) + "x")]);
    cases.push([`not chain ${n}`, inDerive("not ".repeat(n) + "t", "Truth")]);
    cases.push([`left operator chain ${n}`, inDerive(Array.from({ length: n }, () => "x").join(" + "))]);
    cases.push([`right operator nesting ${n}`, inDerive("x + (".repeat(n) + "x" + ")".repeat(n))]);
    cases.push([`pipeline chain ${n}`, inDerive("x" + " |> bitNot()".repeat(n))]);
    cases.push([`nested stage arguments ${n}`, inDerive("x |> bitAnd(".repeat(n) + "x" + ")".repeat(n))]);
    cases.push([`nested calls ${n}`, inDerive("f(".repeat(n) + "x" + ")".repeat(n))]);
    cases.push([`default arrays ${n}`, `brindlet m { input a: Int[] = ${"[".repeat(n)}1${"]".repeat(n)} output a }`]);
    cases.push([`braces before the block ${n}`, `fn f() -> Int ${"{".repeat(n)}${"}".repeat(n)} brindlet m { input a: Int output a }`]);
    cases.push([`open braces in a schema ${n}`, `schema S ${"{".repeat(n)} brindlet m { input a: Int output a }`]);
    cases.push([`block comments ${n}`, `${"/* ".repeat(n)}*/ brindlet m { input a: Int output a }`]);
  }
  return cases;
}

// ------------------------------------------------------------ odd strings

const ODD_UNITS = [
  0x0000, 0x0001, 0x0008, 0x0009, 0x000a, 0x000b, 0x000c, 0x000d, 0x001f, 0x0022, 0x0027, 0x005c,
  0x007f, 0x00a0, 0x00e9, 0x1680, 0x2028, 0x2029, 0x202f, 0x3000, 0xfeff, 0xfffe, 0xffff,
  0xd800, 0xdbff, 0xdc00, 0xdfff, 0xd83d, 0xde00, 0x0021, 0x0023, 0x0025, 0x0026, 0x007c,
];

function oddUnit(random) {
  return String.fromCharCode(random.chance(0.8) ? random.pick(ODD_UNITS) : random.int(0x10000));
}

export function randomText(random) {
  switch (random.int(10)) {
    case 0: { // code units of every kind
      let text = "";
      const n = random.int(60);
      for (let i = 0; i < n; i += 1) text += random.chance(0.5) ? oddUnit(random) : random.pick(VOCABULARY);
      return text;
    }
    case 1: // an identifier of 60-70 or thousands of characters
      return inDerive("x".repeat(random.chance(0.7) ? 60 + random.int(10) : 1000 + random.int(60000)));
    case 2: // long numbers: integers, fractions, exponents
      return inDerive(random.pick([
        "9".repeat(1 + random.int(400)),
        "1" + "0".repeat(random.int(400)) + ".5",
        "0." + "0".repeat(random.int(60000)) + "1",
        "1e" + "9".repeat(1 + random.int(500)),
        "1e-" + "9".repeat(1 + random.int(500)),
        "1e+",
        "1.5E",
        "9007199254740992",
        "9007199254740991",
      ]), "Float");
    case 3: { // text literals with escapes, raw controls and surrogates
      let body = "";
      const n = random.int(40);
      for (let i = 0; i < n; i += 1) {
        body += random.pick(["\\n", "\\u", "\\ud83d", "\\ude00", "\\uD83D\\uDE00", "\\x", "\\", "\"", "a", "\\\\", "\\/"]);
        if (random.chance(0.2)) body += oddUnit(random);
      }
      return inDerive(`"${body}${random.chance(0.8) ? '"' : ""}`, "Text");
    }
    case 4: // a long text literal, possibly near the byte limit
      return inDerive(`"${random.pick(["a", "é", "€", "\u{1f600}", "\\n"]).repeat(random.int(40000))}"`, "Text");
    case 5: // many tokens around the token limit
      return inDerive(Array.from({ length: 9990 + random.int(20) }, () => "1").join("+"));
    case 6: // a source near the byte limit made of multi-byte characters
      return "// " + random.pick(["é", "€", "\u{1f600}", "\ud800"]).repeat(16000 + random.int(8000)) + "\nbrindlet m { input a: Int output a }";
    case 7: // unclosed comments and comment edge forms
      return random.pick(["/*", "/*/", "/* */*/", "//\r brindlet", "/", "/ /", "*/"]) + inDerive("x");
    case 8: // characters spliced into a valid module
    {
      const base = random.pick(VALID_MODULES);
      const at = random.int(base.length + 1);
      return base.slice(0, at) + oddUnit(random) + base.slice(at);
    }
    default: // keys and names an object lookup could inherit
      return random.pick([
        `brindlet m { input x: Int derive d: Int = x |> ${random.pick(INHERITED)}() output d }`,
        `brindlet m { input r: Record = {${random.pick(INHERITED)}: 1, ${random.pick(INHERITED)}: 2} output r }`,
        `fn ${random.pick(INHERITED)}(v: Int) -> Int { return v } brindlet m { input x: Int derive d: Int = ${random.pick(INHERITED)}(x) output d }`,
        `schema S { ${random.pick(INHERITED)}: Int, "${random.pick(INHERITED)}": Text } brindlet m { input r: Record derive s: S = r |> asSchema(S) derive n: Int = s |> field("${random.pick(INHERITED)}") output n }`,
        `result ${random.pick(INHERITED)}: Int brindlet m { input ${random.pick(INHERITED)}: Int output ${random.pick(INHERITED)} }`,
        `brindlet m { input x: ${random.pick(INHERITED)} derive ${random.pick(INHERITED)}: Int = x output ${random.pick(INHERITED)} }`,
        `brindlet m { input xs: Int[] derive d: Int[] = xs |> keep(${random.pick(INHERITED)} 1) |> map(${random.pick(INHERITED)} 2) output d }`,
      ]);
  }
}

// ------------------------------------------------------------ random modules

// Grammar-shaped random modules: declarations and expressions that parse
// most of the time, with stages, calls and operands of every type, so that
// the checker's rules meet operands they do not expect.
const TYPES = [
  "Int", "Float", "Text", "Truth", "Record", "Int[]", "Float[]", "Text[]", "Truth[]", "Record[]",
  "Int?", "Float?", "Text?", "Truth?", "Record?", "Int[]?", "Text[]?", "S", "R",
];
const INPUT_NAMES = [
  ["i", "Int"], ["fl", "Float"], ["s", "Text"], ["t", "Truth"], ["r", "Record"], ["xs", "Int[]"],
  ["ts", "Text[]"], ["oi", "Int?"], ["os", "Text?"], ["rs", "Record[]"], ["ot", "Truth?"], ["oxs", "Int[]?"],
];
const OPERATORS = ["+", "-", "*", "/", "==", "!=", "<", "<=", ">", ">=", "and", "or"];
const STAGE_ARGUMENTS = {
  ok: () => "R", err: () => "R", match: (g) => `${g.fn()}, ${g.fn()}`,
  bitAnd: (g) => g.expr(), bitOr: (g) => g.expr(), bitXor: (g) => g.expr(), shiftLeft: (g) => g.expr(),
  shiftRight: (g) => g.expr(), bitNot: () => "", asSchema: (g) => g.random.pick(["S", "R", "Nope"]),
  field: (g) => g.random.pick(['"a"', '"b"', '"zz"']), toRecord: () => "", toJson: () => "",
  checkFields: (g) => g.random.pick(['{a: "Int"}', '{a: "Int?"}', "{a: 1}", '{"b": "Text[]", c: "Record"}', "x"]),
  concat: (g) => g.expr(), withField: (g) => `${g.expr()}, ${g.expr()}`, withoutField: (g) => g.expr(),
  contains: (g) => g.expr(), startsWith: (g) => g.expr(), endsWith: (g) => g.expr(), split: (g) => g.expr(),
  join: (g) => g.expr(), keys: () => "", slice: (g) => `${g.expr()}, ${g.expr()}`, parseInt: () => "",
  parseFloat: () => "", toText: () => "", quotient: (g) => g.expr(), remainder: (g) => g.expr(),
  present: () => "", require: () => "", orElse: (g) => g.expr(), append: (g) => g.expr(), at: (g) => g.expr(),
  sortBy: (g) => g.fn(), filter: (g) => g.fn(), each: (g) => g.fn(), fold: (g) => `${g.fn()}, ${g.expr()}`,
  repeat: (g) => `${g.fn()}, ${g.expr()}`, keep: (g) => `${g.random.pick([">", ">=", "<", "<=", "==", "!="])} ${g.random.pick(["1", "-2", "2.5", "+0"])}`,
  map: (g) => `${g.random.pick(["+", "-", "*"])} ${g.random.pick(["1", "-2", "2.5"])}`, take: (g) => g.random.pick(["1", "-1", "-0", "0"]),
  sum: () => "",
};
const STAGE_NAMES = Object.keys(STAGE_ARGUMENTS);

function expressionGenerator(random, names, functions) {
  const g = { random };
  g.fn = () => (random.chance(0.9) && functions.length > 0 ? random.pick(functions) : random.pick(["nope", "len", "sum"]));
  g.expr = (budget = 3) => {
    const choice = budget <= 0 ? random.int(3) : random.int(11);
    switch (choice) {
      case 0: return random.pick(["0", "1", "-1", "2.5", '"a"', '""', '"Int"', "yes", "no", "unknown", "[]", "{}"]);
      case 1:
      case 2: return random.chance(0.95) ? random.pick(names) : random.pick(["nope", "S", "R"]);
      case 3: return `${random.pick(["-", "not "])}${g.expr(budget - 1)}`;
      case 4:
      case 5: return `${g.expr(budget - 1)} ${random.pick(OPERATORS)} ${g.expr(budget - 1)}`;
      case 6: return `[${Array.from({ length: random.int(4) }, () => g.expr(budget - 1)).join(", ")}]`;
      case 7: {
        const key = (k) => random.pick([`a${k}`, `b${k}`, `fn${k}`, `"c${k}"`]);
        return `{${Array.from({ length: random.int(4) }, (_, k) => `${key(k)}: ${g.expr(budget - 1)}`).join(", ")}}`;
      }
      case 8: {
        const name = random.chance(0.5) ? random.pick(BUILTINS) : g.fn();
        return `${name}(${Array.from({ length: random.int(5) }, () => g.expr(budget - 1)).join(", ")})`;
      }
      default: {
        const stage = random.pick(STAGE_NAMES);
        return `(${g.expr(budget - 1)} |> ${stage}(${STAGE_ARGUMENTS[stage](g)}))`;
      }
    }
  };
  return g;
}

export function randomModule(random) {
  const lines = [];
  const named = random.chance(0.6);
  if (named && random.chance(0.7)) lines.push(random.pick(["schema S { a: Int, b: Text[] }", 'schema S { "a": Record, fn: Float }']));
  if (named) lines.push(random.pick(["result R: Int", "result R: Text[]", "result R: Record"]));
  const pickType = () => (named || random.chance(0.05) ? random.pick(TYPES) : random.pick(TYPES.slice(0, -2)));
  const functions = [];
  const functionCount = random.int(5);
  for (let k = 0; k < functionCount; k += 1) functions.push(`f${k}`);
  for (const name of functions) {
    const params = Array.from({ length: 1 + random.int(2) }, (_, j) => [`p${j}`, pickType()]);
    const g = expressionGenerator(random, params.map(([n]) => n), functions);
    const local = random.chance(0.4) ? `let l: ${pickType()} = ${g.expr()}; ` : "";
    lines.push(`fn ${name}(${params.map(([n, t]) => `${n}: ${t}`).join(", ")}) -> ${pickType()} { ${local}return ${g.expr()} }`);
  }
  const inputs = INPUT_NAMES.filter(() => random.chance(0.7));
  const derives = Array.from({ length: 1 + random.int(4) }, (_, k) => `d${k}`);
  const names = [...inputs.map(([n]) => n), ...derives];
  const g = expressionGenerator(random, names.length > 0 ? names : ["d0"], functions);
  const block = inputs.map(([n, t]) => `input ${n}: ${t}${random.chance(0.2) ? ` = ${g.expr(1)}` : ""}`);
  for (const name of derives) block.push(`derive ${name}: ${pickType()} = ${g.expr()}`);
  block.push(`output ${random.pick(names.length > 0 ? names : ["d0"])}`);
  lines.push(`brindlet m { ${block.join("; ")} }`);
  return lines.join("\n");
}

// ------------------------------------------------------------ adapters

const ADAPTER_NAMES = ["io.read", "io.write", "net.get", "io", "io.", ".read", "a.b.c", "IO.Read", "__proto__.x", "io.read\u0301"];
const TYPE_TEXTS = ["Int", "Float?", "Text[]", "Record[]?", "Truth", "Int??", "Int[][]", "Shape", "", "int"];

// Interface declarations, mostly well-formed, sometimes odd in one place.
export function randomInterfaces(random) {
  const interfaces = {};
  for (let k = random.int(4); k > 0; k -= 1) {
    const declaration = {
      params: Array.from({ length: random.int(random.chance(0.05) ? 20 : 3) }, () => random.pick(TYPE_TEXTS.slice(0, random.chance(0.9) ? 5 : 10))),
      result: random.pick(TYPE_TEXTS.slice(0, random.chance(0.9) ? 5 : 10)),
      effects: random.chance(0.9) ? random.pick([[], ["net"], ["io:read", "io:write"]]) : random.pick([["a", "a"], ["9bad"], ["x".repeat(65)]]),
    };
    const name = random.chance(0.85) ? random.pick(ADAPTER_NAMES.slice(0, 3)) : random.pick(ADAPTER_NAMES);
    interfaces[name] = random.chance(0.95) ? declaration : random.pick([null, [], "x", { params: [], result: "Int" }, { ...declaration, extra: 1 }]);
  }
  return random.chance(0.97) ? interfaces : random.pick([[], "x", 1, new Map(), Object.create(interfaces)]);
}

// Modules that use adapters directly, through effect functions, and where
// adapters are not allowed.
export function randomAdapterModule(random) {
  const call = () => `${random.pick(["io.read", "io.write", "net.get", "io.nope", "zz.read"])}(${random.pick(["", "x", "x, x", "1.5", '"t"', "unknown"])})`;
  const lines = [];
  for (let k = random.int(3); k > 0; k -= 1) {
    const effect = random.chance(0.7) ? "effect " : "";
    const body = random.pick([call(), `${call()} + ${call()}`, "x", `g${k}(x)`, `[x] |> each(e${k}) |> sum()`]);
    lines.push(`${effect}fn e${k}(x: Int) -> Int { return ${body} }`);
    if (random.chance(0.3)) lines.push(`fn g${k}(x: Int) -> Int { return ${random.pick(["x", `e${k}(x)`, call()])} }`);
  }
  const uses = ["io", "net", "zz"].filter(() => random.chance(0.6)).map((name) => `use ${name}`);
  const derive = random.pick([call(), "e1(x)", "e2(x) + e1(x)", `[x] |> each(${random.pick(["e1", "g1"])})`, "x"]);
  lines.push(`brindlet m { ${uses.join("; ")} input x: Int derive d: ${random.pick(["Int", "Int[]", "Float"])} = ${derive} output d }`);
  return lines.join("\n");
}

// ------------------------------------------------------------ checks

export const KNOWN_CODES = new Set([
  "SOURCE_LIMIT", "COMMENT", "IDENTIFIER_LIMIT", "NUMBER", "NUMBER_RANGE", "TEXT", "UNSUPPORTED_TOKEN", "TOKEN_LIMIT",
  "TYPE", "RESULT_TYPE", "SCHEMA_TYPE",
  "SYNTAX", "IDENTIFIER", "DUPLICATE", "RESULT_LIMIT", "RESULT_SUCCESS_TYPE", "SCHEMA_LIMIT", "SCHEMA_FIELD",
  "SCHEMA_FIELD_TYPE", "FUNCTION_LIMIT", "PARAMETER_LIMIT", "FUNCTION_LOCAL_LIMIT", "INPUT_LIMIT", "DERIVE_LIMIT",
  "UNSUPPORTED", "OUTPUT",
  "DEPTH_LIMIT", "NODE_LIMIT", "RECORD_FIELD_LIMIT", "RECORD_KEY", "ARRAY_LIMIT", "ARGUMENT_LIMIT", "EXPRESSION",
  "TYPE_MISMATCH", "UNKNOWN_REFERENCE", "UNKNOWN_CALL", "VALUE",
  "PIPELINE", "FIELD_SCHEMA", "RESULT_UNKNOWN", "SCHEMA_REFERENCE",
  "UNKNOWN_OUTPUT", "SCHEMA_BOUNDARY", "RESULT_BOUNDARY", "FUNCTION_CYCLE", "DEFAULT_LITERAL", "DERIVE_CYCLE",
  "INTERFACES", "INTERFACE_LIMIT", "FUNCTION_EFFECT_LIMIT", "FUNCTION_EFFECT", "MISSING_USE",
]);

export const LEXICAL_CODES = new Set([
  "SOURCE_LIMIT", "COMMENT", "IDENTIFIER_LIMIT", "NUMBER", "NUMBER_RANGE", "TEXT", "UNSUPPORTED_TOKEN", "TOKEN_LIMIT",
]);

// A call slower than this is reported as a fault (a hang or a superlinear
// path); compiling a module at the full bounds takes tens of milliseconds.
export const SLOW_MS = 1000;

export function describeSource(source) {
  const shown = source.length > 160 ? `${source.slice(0, 120)}…${source.slice(-30)}` : source;
  return `${JSON.stringify(shown)} (length ${source.length})`;
}

function describeError(error) {
  if (error instanceof Error) return `${error.name}: ${error.message}`;
  return `non-error thrown: ${String(error)}`;
}

function expectedPosition(source, offset) {
  let line = 1;
  let lastFeed = -1;
  const stop = Math.min(offset, source.length);
  for (let i = source.indexOf("\n"); i !== -1 && i < stop; i = source.indexOf("\n", i + 1)) {
    line += 1;
    lastFeed = i;
  }
  return { line, column: offset - lastFeed };
}

// null when `error` is a well-formed diagnostic for `source`, else a fault.
function diagnosticFault(error, source, codes) {
  if (!(error instanceof CompileDiagnostic)) return `threw ${describeError(error)}`;
  if (!(error instanceof Error) || error.name !== "CompileDiagnostic") return `diagnostic with name ${error.name}`;
  if (!codes.has(error.code)) return `diagnostic with unexpected code ${error.code}: ${error.message}`;
  const { offset } = error;
  if (!Number.isInteger(offset) || offset < 0 || offset > source.length) {
    return `diagnostic ${error.code} with offset ${offset} outside the source`;
  }
  const { line, column } = expectedPosition(source, offset);
  if (error.line !== line || error.column !== column) {
    return `diagnostic ${error.code} at ${offset} reports line ${error.line}, column ${error.column}; expected ${line}, ${column}`;
  }
  if (!error.message.endsWith(` (line ${line}, column ${column})`)) return `diagnostic message without its location suffix: ${error.message}`;
  return null;
}

function timed(work) {
  const start = performance.now();
  let value;
  let error;
  let threw = false;
  try {
    value = work();
  } catch (caught) {
    error = caught;
    threw = true;
  }
  return { value, error, threw, ms: performance.now() - start };
}

function programFault(program, source) {
  if (!isCompiledProgram(program)) return "returned a value that is not a compiler-issued Program";
  if (!Object.isFrozen(program) || !Object.isFrozen(program.derives) || !Object.isFrozen(program.inputs)) {
    return "returned a Program that is not deep-frozen";
  }
  if (program.kind !== "quelt-program" || program.source !== source) return "returned a Program with wrong kind or source";
  if (!Number.isInteger(program.version) || program.version < 1 || program.version > 27) return `Program version ${program.version}`;
  for (const derive of program.derives) {
    const range = getDeriveSourceRange(program, derive.name);
    if (!(range.start >= 0 && range.start < range.end && range.end <= source.length)) {
      return `derive ${derive.name} has the range ${range.start}..${range.end}`;
    }
    if (typeof getExpressionType(program, derive.expression) !== "string") return `derive ${derive.name} has no expression type`;
  }
  return null;
}

// Runs compileModule once: {fault, outcome} where outcome is the error
// thrown (or null for a Program).
export function runCompile(source, options) {
  const result = timed(() => compileModule(source, options));
  let fault;
  try {
    fault = result.threw ? diagnosticFault(result.error, source, KNOWN_CODES) : programFault(result.value, source);
  } catch (error) {
    fault = `inspecting the result threw ${describeError(error)}`;
  }
  if (fault === null && result.ms > SLOW_MS) fault = `took ${Math.round(result.ms)} ms`;
  return { fault, outcome: result.threw ? result.error : null, ms: result.ms };
}

function tokensFault(tokens, source) {
  if (!Array.isArray(tokens) || !Object.isFrozen(tokens)) return "token list is not a frozen array";
  if (tokens.length === 0 || tokens.length > 20001) return `token list of length ${tokens.length}`;
  const eof = tokens[tokens.length - 1];
  if (eof.kind !== "eof" || eof.value !== "<eof>" || eof.offset !== source.length || "end" in eof) return "malformed eof token";
  let previous = 0;
  for (let i = 0; i < tokens.length - 1; i += 1) {
    const token = tokens[i];
    if (!Object.isFrozen(token)) return `token ${i} is not frozen`;
    if (!(token.offset >= previous && token.end > token.offset && token.end <= source.length)) {
      return `token ${i} spans ${token.offset}..${token.end} after ${previous}`;
    }
    previous = token.end;
    const spelling = source.slice(token.offset, token.end);
    switch (token.kind) {
      case "identifier":
        if (token.value !== spelling || typeof token.reserved !== "boolean" || typeof token.builtin !== "boolean") {
          return `identifier token ${i} is malformed`;
        }
        break;
      case "symbol":
        if (token.value !== spelling || "reserved" in token) return `symbol token ${i} is malformed`;
        break;
      case "number":
        if (!Object.isFrozen(token.value) || !Number.isFinite(token.value.value) || (token.value.type !== "Int" && token.value.type !== "Float")) {
          return `number token ${i} is malformed`;
        }
        break;
      case "text":
        if (typeof token.value !== "string" || spelling[0] !== '"') return `text token ${i} is malformed`;
        break;
      default:
        return `token ${i} has kind ${token.kind}`;
    }
  }
  return null;
}

export function runTokens(source) {
  const result = timed(() => getSourceTokens(source));
  let fault;
  try {
    fault = result.threw ? diagnosticFault(result.error, source, LEXICAL_CODES) : tokensFault(result.value, source);
  } catch (error) {
    fault = `inspecting the tokens threw ${describeError(error)}`;
  }
  if (fault === null && result.ms > SLOW_MS) fault = `getSourceTokens took ${Math.round(result.ms)} ms`;
  return { fault, outcome: result.threw ? result.error : null };
}

// Both entry points, and their agreement: the same lexical fault at the same
// offset, and no lexical fault from compileModule when the tokens are fine.
export function checkBoth(source) {
  const tokens = runTokens(source);
  if (tokens.fault) return `getSourceTokens ${tokens.fault}`;
  const compiled = runCompile(source);
  if (compiled.fault) return `compileModule ${compiled.fault}`;
  const lexical = tokens.outcome;
  const error = compiled.outcome;
  if (lexical !== null) {
    if (error === null || error.code !== lexical.code || error.offset !== lexical.offset) {
      return `getSourceTokens failed with ${lexical.code} at ${lexical.offset} but compileModule ${error === null ? "compiled" : `failed with ${error.code} at ${error.offset}`}`;
    }
  } else if (error !== null && LEXICAL_CODES.has(error.code)) {
    return `compileModule failed with ${error.code} at ${error.offset} on a source that getSourceTokens accepts`;
  }
  return null;
}
