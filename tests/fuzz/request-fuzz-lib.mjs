// Whole requests for the test host's __queltTestRunEntry: well-typed random
// modules (so that "run" reaches the runtime with every stage), random tagged
// inputs and budgets, and now and then a broken envelope. The property: the
// answer is one JSON line in the response format, and never the host's own
// failure ("NATIVE_HOST_FAILURE", which means an unexpected exception inside
// the scripts) nor a timeout.
//
// Exports
//   typedModule(random)           a module that type-checks, with defaults
//   randomRequest(random)         -> Promise<{raw, label}>
//   checkResponse(line)           -> null | fault description
//   runRequest(raw)               -> null | fault description; a failing
//     request is run a second time, and a fault that does not come back is
//     reported as such (the units are read from disk for every request, so
//     an edit made during a long run can fail one request)
import { sha256Hex } from "./project-fuzz-lib.mjs";
import { mutateModule, randomText, tokenSoup } from "./fuzz-lib.mjs";

const HELPERS = [
  "fn isSmall(v: Int) -> Truth { return v < 4 }",
  "fn neg(v: Int) -> Int { return 0 - v }",
  "fn double(v: Int) -> Int { return v * 2 }",
  "fn addUp(total: Int, v: Int) -> Int { return total + v }",
  "fn step(state: Int, i: Int) -> Int { return state + i }",
  'fn shout(v: Text) -> Text { return v + "!" }',
  "fn size(v: Text) -> Int { return len(v) }",
].join("\n");

// Inputs with defaults, so that a run needs no supplied value.
const INPUTS = [
  ["i", "Int", "3"],
  ["fl", "Float", "2.5"],
  ["s", "Text", '"h\\u00e9llo, w\\u00f6rld \\ud83d\\ude00"'],
  ["t", "Truth", "yes"],
  ["r", "Record", '{a: 1, b: "x", c: [1, 2], d: {e: unknown}, "": 0}'],
  ["xs", "Int[]", "[5, 1, 4]"],
  ["ts", "Text[]", '["a", "b,c"]'],
  ["oi", "Int?", "unknown"],
  ["os", "Text?", '"o"'],
  ["fs", "Float[]", "[0.5, -2]"],
];

const INT_LITERALS = ["0", "1", "2", "7", "31", "65536", "4294967295", "9007199254740991", "-1", "-(9007199254740991)"];
const TEXT_LITERALS = ['""', '"a"', '"1"', '"-42"', '"2.5e3"', '"x,y,z"', '","', '"\\u00e9"', '"\\ud83d\\ude00"', '"{\\"a\\":1}"', '" 7 "'];

function generator(random) {
  const g = {};
  const pick = random.pick;
  const small = (budget) => budget <= 0 || random.chance(0.3);
  g.Int = (b) => {
    if (small(b)) return pick([...INT_LITERALS, "i", "i", "(oi |> orElse(0))"]);
    const n = b - 1;
    switch (random.int(16)) {
      case 0: return `(${g.Int(n)} ${pick(["+", "-", "*"])} ${g.Int(n)})`;
      case 1: return `len(${random.chance(0.5) ? g.Text(n) : g.Ints(n)})`;
      case 2: return `sum(${g.Ints(n)})`;
      case 3: return `(${g.Ints(n)} |> at(${g.Int(n)}))`;
      case 4: return `(${g.Int(n)} |> ${pick(["quotient", "remainder"])}(${g.Int(n)}))`;
      case 5: return `(${g.Text(n)} |> parseInt())`;
      case 6: return `(${g.Int(n)} |> ${pick(["bitAnd", "bitOr", "bitXor", "shiftLeft", "shiftRight"])}(${g.Int(n)}))`;
      case 7: return `(${g.Int(n)} |> bitNot())`;
      case 8: return `choose(${g.Truth(n)}, ${g.Int(n)}, ${g.Int(n)}, ${g.Int(n)})`;
      case 9: return `readInt(${g.Record(n)}, ${g.Text(n)})`;
      case 10: return `(${g.Ints(n)} |> fold(addUp, ${g.Int(n)}))`;
      case 11: return `(${g.Int(n)} |> repeat(step, ${g.Int(n)}))`;
      case 12: return `(${g.Ints(n)} |> sum())`;
      case 13: return `size(${g.Text(n)})`;
      case 14: return `(- ${g.Int(n)})`;
      default: return `(oi |> require())`;
    }
  };
  g.Float = (b) => {
    if (small(b)) return pick(["fl", "0.5", "1e308", "5e-324", "2.0"]);
    const n = b - 1;
    switch (random.int(6)) {
      case 0: return `(${g.Float(n)} ${pick(["+", "-", "*", "/"])} ${random.chance(0.5) ? g.Int(n) : g.Float(n)})`;
      case 1: return `(${g.Text(n)} |> parseFloat())`;
      case 2: return `sum(fs)`;
      case 3: return `readFloat(${g.Record(n)}, ${g.Text(n)})`;
      case 4: return `(${g.Int(n)} / ${g.Float(n)})`;
      default: return `(fs |> at(${g.Int(n)}))`;
    }
  };
  g.Text = (b) => {
    if (small(b)) return pick([...TEXT_LITERALS, "s", "s"]);
    const n = b - 1;
    switch (random.int(10)) {
      case 0: return `(${g.Text(n)} + ${g.Text(n)})`;
      case 1: return `(${pick([g.Int, g.Float, g.Truth])(n)} |> toText())`;
      case 2: return `(${g.Text(n)} |> slice(${g.Int(n)}, ${g.Int(n)}))`;
      case 3: return `(${g.Texts(n)} |> join(${g.Text(n)}))`;
      case 4: return `(${g.Record(n)} |> toJson())`;
      case 5: return `readText(${g.Record(n)}, ${g.Text(n)})`;
      case 6: return `(os |> orElse(${g.Text(n)}))`;
      case 7: return `shout(${g.Text(n)})`;
      case 8: return `(${g.Texts(n)} |> at(${g.Int(n)}))`;
      default: return `choose(${g.Truth(n)}, ${g.Text(n)}, ${g.Text(n)}, os |> orElse("u"))`;
    }
  };
  g.Truth = (b) => {
    if (small(b)) return pick(["yes", "no", "(t and unknown)", "t"]);
    const n = b - 1;
    switch (random.int(8)) {
      case 0: return `(${g.Int(n)} ${pick(["<", "<=", ">", ">=", "==", "!="])} ${random.chance(0.5) ? g.Int(n) : g.Float(n)})`;
      case 1: return `(${g.Text(n)} ${pick(["<", "==", "!=", ">="])} ${g.Text(n)})`;
      case 2: return `(${g.Truth(n)} ${pick(["and", "or"])} ${g.Truth(n)})`;
      case 3: return `(not ${g.Truth(n)})`;
      case 4: return `(${g.Text(n)} |> ${pick(["contains", "startsWith", "endsWith"])}(${g.Text(n)}))`;
      case 5: return `hasField(${g.Record(n)}, ${g.Text(n)})`;
      case 6: return `(oi |> present())`;
      default: return `readTruth(${g.Record(n)}, ${g.Text(n)})`;
    }
  };
  g.Record = (b) => {
    if (small(b)) return pick(["r", "{}", '{a: 1, b: "x"}']);
    const n = b - 1;
    switch (random.int(6)) {
      case 0: {
        const keys = ["a", "b", '"c d"', "__proto__", "fn", '""'];
        const fields = keys.filter(() => random.chance(0.4));
        return `{${fields.map((k) => `${k}: ${pick([g.Int, g.Text, g.Truth, g.Ints, g.Record])(n)}`).join(", ")}}`;
      }
      case 1: return `(${g.Record(n)} |> withField(${g.Text(n)}, ${pick([g.Int, g.Float, g.Text, g.Texts])(n)}))`;
      case 2: return `(${g.Record(n)} |> withoutField(${g.Text(n)}))`;
      case 3: return `readRecord(${g.Record(n)}, ${g.Text(n)})`;
      case 4: return `(${g.Record(n)} |> checkFields({a: "Int", b: "Text"}))`;
      default: return `(readRecords(${g.Record(n)}, "list") |> at(${g.Int(n)}))`;
    }
  };
  g.Ints = (b) => {
    if (small(b)) return pick(["xs", "[1, 2, 3]", "[9007199254740991, 1]"]);
    const n = b - 1;
    switch (random.int(11)) {
      case 0: return `[${Array.from({ length: random.int(4) + 1 }, () => g.Int(n)).join(", ")}]`;
      case 1: return `(${g.Ints(n)} |> filter(isSmall))`;
      case 2: return `(${g.Ints(n)} |> sortBy(neg))`;
      case 3: return `(${g.Ints(n)} |> each(double))`;
      case 4: return `(${g.Ints(n)} |> append(${g.Int(n)}))`;
      case 5: return `(${g.Ints(n)} |> concat(${g.Ints(n)}))`;
      case 6: return `(${g.Ints(n)} |> keep(${pick([">", "<=", "=="])} ${pick(["1", "-2", "3"])}))`;
      case 7: return `(${g.Ints(n)} |> map(${pick(["+", "-", "*"])} ${pick(["2", "-1", "4294967296"])}))`;
      case 8: return `(${g.Ints(n)} |> take(${pick(["0", "1", "5"])}))`;
      case 9: return `readInts(${g.Record(n)}, ${g.Text(n)})`;
      default: return `(${g.Texts(n)} |> each(size))`;
    }
  };
  g.Texts = (b) => {
    if (small(b)) return pick(["ts", '["x"]', '["", "é"]']);
    const n = b - 1;
    switch (random.int(5)) {
      case 0: return `(${g.Text(n)} |> split(${g.Text(n)}))`;
      case 1: return `(${g.Record(n)} |> keys())`;
      case 2: return `(${g.Texts(n)} |> each(shout))`;
      case 3: return `readTexts(${g.Record(n)}, ${g.Text(n)})`;
      default: return `(${g.Texts(n)} |> sortBy(shout))`;
    }
  };
  return g;
}

const DERIVE_TYPES = [["Int", "Int"], ["Float", "Float"], ["Text", "Text"], ["Truth", "Truth"], ["Record", "Record"], ["Int[]", "Ints"], ["Text[]", "Texts"]];

export function typedModule(random) {
  const g = generator(random);
  const block = INPUTS.map(([name, type, value]) => `input ${name}: ${type} = ${value}`);
  const names = [];
  for (let k = 0; k <= random.int(5); k += 1) {
    const [type, kind] = random.pick(DERIVE_TYPES);
    block.push(`derive d${k}: ${type} = ${g[kind](1 + random.int(4))}`);
    names.push(`d${k}`);
  }
  for (const name of names) block.push(`output ${name}`);
  if (random.chance(0.3)) block.push(`output ${random.pick(INPUTS)[0]}`);
  return `${HELPERS}\nbrindlet fuzz {\n  ${block.join("\n  ")}\n}`;
}

// ------------------------------------------------------------ transport

function bits(number) {
  const view = new DataView(new ArrayBuffer(8));
  view.setFloat64(0, number);
  let text = "";
  for (let i = 0; i < 8; i += 1) text += view.getUint8(i).toString(16).padStart(2, "0");
  return text;
}

const NUMBERS = [0, -0, 1, -1, 3, 2.5, 2 ** 31, 2 ** 32, 2 ** 53 - 1, 2 ** 53, 1e308, 5e-324, -7];

function node(random, depth = 0) {
  const kind = depth > 3 ? random.int(4) : random.chance(0.1) ? 6 : random.int(6);
  switch (kind) {
    case 0: return { tag: "number", bits: random.chance(0.97) ? bits(random.pick(NUMBERS)) : random.pick(["7ff0000000000000", "7ff8000000000000", "XYZ", "0"]) };
    case 1: return { tag: "text", value: random.pick(["", "a", "é", "\ud83d\ude00", "1,2", "\u0000", "\ud800"]) };
    case 2: return { tag: "truth", value: random.pick(["yes", "no", "unknown", "maybe"]) };
    case 3: return random.chance(0.5) ? { tag: "null" } : { tag: "boolean", value: random.chance(0.5) };
    case 4: return { tag: "array", items: Array.from({ length: random.int(4) }, () => node(random, depth + 1)) };
    case 5: return { tag: "record", entries: Array.from({ length: random.int(4) }, (_, k) => [random.pick(["a", "b", "__proto__", "", `k${k}`]), node(random, depth + 1)]) };
    default: return random.pick([{ tag: "weird" }, { value: "x", tag: "text" }, { tag: "number" }, nested(70)]);
  }
}

function nested(depth) {
  let value = { tag: "null" };
  for (let i = 0; i < depth; i += 1) value = { tag: "array", items: [value] };
  return value;
}

// A typical value of a declared input type, as a tagged node.
function typedNode(random, type) {
  switch (type) {
    case "Int": return { tag: "number", bits: bits(random.pick([0, 1, -5, 2 ** 53 - 1, 2 ** 32 + 1])) };
    case "Float": return { tag: "number", bits: bits(random.pick([0.5, -0, 1e300, 3])) };
    case "Text": case "Text?": return { tag: "text", value: random.pick(["", "x,y", "12", "\ud83d\ude00é"]) };
    case "Truth": return { tag: "truth", value: random.pick(["yes", "no", "unknown"]) };
    case "Int[]": return { tag: "array", items: Array.from({ length: random.int(5) }, () => typedNode(random, "Int")) };
    case "Text[]": return { tag: "array", items: [typedNode(random, "Text")] };
    case "Float[]": return { tag: "array", items: [typedNode(random, "Float"), typedNode(random, "Int")] };
    case "Int?": return random.chance(0.5) ? { tag: "truth", value: "unknown" } : typedNode(random, "Int");
    default: return node(random, 1);
  }
}

export async function randomRequest(random) {
  let source = typedModule(random);
  if (random.chance(0.1)) source = mutateModule(random, source);
  else if (random.chance(0.05)) source = random.chance(0.5) ? tokenSoup(random, 1 + random.int(60)) : randomText(random);
  const operation = random.chance(0.8) ? "run" : "check";
  const inputs = [];
  for (const [name, type] of INPUTS) {
    if (random.chance(0.3)) inputs.push([name, random.chance(0.9) ? typedNode(random, type) : node(random)]);
  }
  if (random.chance(0.05)) inputs.push(["nosuch", { tag: "null" }]);
  const budget = random.chance(0.8) ? {} : random.pick([{ maxSteps: 1 + random.int(200) }, { maxOutputBytes: 1 + random.int(300) }, { deadlineMs: 1 }, { maxSteps: 0 }, { deadlineMs: 86400001 }]);
  const request = {
    format: "quelt-native-project-json-v1",
    operation,
    entry: "main.quelt",
    sources: { "main.quelt": { source, sha256: await sha256Hex(source) } },
    inputs,
    budget,
  };
  let raw = JSON.stringify(request);
  if (random.chance(0.05)) raw = random.pick([raw + "\n", raw.replace(":", ": "), raw.slice(0, raw.length >> 1), raw.replace('"run"', '"RUN"')]);
  return { raw, source };
}

const PHASES = new Set(["request", "transport", "unsupported", "compile", "runtime", "host"]);

export function checkResponse(line) {
  if (typeof line !== "string" || !line.endsWith("\n") || line.indexOf("\n") !== line.length - 1) return "the answer is not one line";
  let response;
  try {
    response = JSON.parse(line);
  } catch {
    return "the answer is not JSON";
  }
  if (response.format !== "quelt-native-project-json-v1" || response.profile !== "closed-pure-native-project-macos-v1") return "the answer has the wrong format or profile";
  if (response.status === "ok") return null;
  if (response.status !== "error" || response.error === null || typeof response.error !== "object") return "the answer has no status";
  const { code, phase } = response.error;
  if (!PHASES.has(phase)) return `unknown phase ${phase}`;
  if (code === "NATIVE_HOST_FAILURE" || code === "NATIVE_TIMEOUT") return `answered ${code} (${phase})`;
  return null;
}

export function runRequest(raw) {
  const fault = checkResponse(globalThis.__queltTestRunEntry(raw));
  if (fault === null) return null;
  const again = checkResponse(globalThis.__queltTestRunEntry(raw));
  return again === null ? `${fault}, but not on a second run` : fault;
}
