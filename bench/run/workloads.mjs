// The run-time benchmark workloads: for each program folder under
// bench/run/programs/, its input values and the same loops written directly
// in JavaScript (the baseline). The baseline returns the program's outputs, so
// a benchmark run also shows that both compute the same thing.
//
//   WORKLOADS  [{name, inputs() -> {name: value}, baseline(inputs) -> {output: value}}]
//   taggedInputs(inputs) -> the request's [name, node] list of tagged values
//   taggedOutputs(outputs, types) -> the response's [name, node] list
//
// Input data is generated, deterministic and the same in every run.

const ITEMS = 4096;

// Deterministic pseudo-random Ints in [0, 10007).
function numbers(count) {
  const values = new Array(count);
  for (let i = 0; i < count; i += 1) values[i] = (i * 7919 + 13) % 10007;
  return values;
}

function rows(count) {
  const scores = numbers(count);
  const values = new Array(count);
  for (let i = 0; i < count; i += 1) values[i] = { id: i, name: "row-" + i, score: scores[i] };
  return values;
}

// The language's remainder: the sign follows the dividend, as JavaScript's %.
function mix(s, i) {
  return (s * 7 + i * 3 - (s - i) * 2 + 11 - i) % 1000003;
}

function repeatLoop(times, seed, body) {
  let state = seed;
  for (let i = 0; i < times; i += 1) state = body(state, i);
  return state;
}

export const WORKLOADS = [
  {
    name: "arith",
    inputs: () => ({}),
    baseline() {
      const a = repeatLoop(4096, 1, mix);
      return { b: repeatLoop(860, a, mix) };
    },
  },
  {
    name: "fold",
    inputs: () => ({ xs: numbers(ITEMS) }),
    baseline({ xs }) {
      const fold = (seed) => {
        let s = seed;
        for (let i = 0; i < xs.length; i += 1) s = s + xs[i] * 2 - 1;
        return s;
      };
      return { c: fold(fold(fold(0))) };
    },
  },
  {
    name: "repeat",
    inputs: () => ({}),
    baseline() {
      let state = 0;
      for (let k = 0; k < 6; k += 1) state = repeatLoop(4096, state, (s, i) => s + i);
      return { f: state };
    },
  },
  {
    name: "sort-records",
    inputs: () => ({ rows: rows(ITEMS) }),
    baseline({ rows }) {
      // A stable sort by the score field: key once per row, then sort the indexes.
      const keys = rows.map((row) => row.score);
      const order = rows.map((row, i) => i);
      order.sort((a, b) => keys[a] - keys[b] || a - b);
      const sorted = order.map((i) => rows[i]);
      return { top: sorted.slice(0, 10) };
    },
  },
  {
    name: "text-build",
    inputs: () => ({ xs: numbers(ITEMS) }),
    baseline({ xs }) {
      const parts = xs.slice(0, 3000).map((i) => "item-" + String(i));
      const joined = parts.join(",");
      let size = 0;
      for (const _ of joined) size += 1;
      return { size };
    },
  },
];

// ---- tagged transport -------------------------------------------------------

function numberBits(value) {
  const view = new DataView(new ArrayBuffer(8));
  view.setFloat64(0, value);
  let hex = "";
  for (let i = 0; i < 8; i += 1) hex += view.getUint8(i).toString(16).padStart(2, "0");
  return hex;
}

function tagged(value) {
  if (typeof value === "number") return { tag: "number", bits: numberBits(value) };
  if (typeof value === "string") return { tag: "text", value };
  if (Array.isArray(value)) return { tag: "array", items: value.map(tagged) };
  return { tag: "record", entries: Object.keys(value).map((key) => [key, tagged(value[key])]) };
}

export function taggedInputs(inputs) {
  return Object.keys(inputs).map((name) => [name, tagged(inputs[name])]);
}

export function taggedOutputs(outputs) {
  return Object.keys(outputs).map((name) => [name, tagged(outputs[name])]);
}
