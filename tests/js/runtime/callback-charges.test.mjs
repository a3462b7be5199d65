// The exact sequence of checks and step charges of the callback stages, and
// call resolution when the same compiled Program meets different function
// tables (including a table that makes a function call itself).
import { compileModule } from "quelt/compiler.mjs";
import { test, assertEqual, assertDeepEqual } from "../harness.mjs";
import { evaluate, evaluateSync } from "../../../quelt/runtime/evaluator.mjs";
import { planFor } from "../../../quelt/runtime/plans.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { normalize } from "../../../quelt/runtime/values.mjs";

// A context that records every check ("c") and step charge ("s" + n) in order.
function tracing(program, functions = planFor(program).functions, maxSteps = Infinity) {
  const trace = [];
  let steps = 0;
  return {
    trace,
    program,
    functions,
    check() {
      trace.push("c");
    },
    step(n = 1) {
      trace.push("s" + n);
      if (steps + n > maxSteps) throw new RuntimeDiagnostic("STEP_BUDGET", "Исчерпан общий бюджет шагов.");
      steps += n;
    },
  };
}

function derive(program, name) {
  return program.derives.find((item) => item.name === name).expression;
}

async function traced(program, env, ctx, path) {
  const node = derive(program, "d");
  const item = path === "sync" ? evaluateSync(node, env, ctx) : await evaluate(node, env, ctx);
  return item;
}

// The merge of the bottom-up sort over number keys: a check per width, a check
// and a step per comparison, a check per item copied after a run ran out.
function mergeTrace(keys) {
  const trace = [];
  let order = keys.map((_, i) => i);
  for (let width = 1; width < keys.length; width *= 2) {
    trace.push("c");
    const next = [];
    for (let begin = 0; begin < keys.length; begin += 2 * width) {
      let left = begin;
      const middle = Math.min(begin + width, keys.length);
      let right = middle;
      const end = Math.min(begin + 2 * width, keys.length);
      while (left < middle && right < end) {
        trace.push("c", "s1");
        next.push(keys[order[left]] <= keys[order[right]] ? order[left++] : order[right++]);
      }
      while (left < middle) trace.push("c") && next.push(order[left++]);
      while (right < end) trace.push("c") && next.push(order[right++]);
    }
    order = next;
  }
  return trace;
}

const repeat = (count, parts) => Array.from({ length: count }, () => parts).flat();

// Canonical bytes of {"score":k} measured by walking it: the item, the braces,
// the name with its colon, the value and its bytes.
const WALKED_RECORD = ["c", "c", "c", "c", "c"];

const SORT_SOURCE =
  'fn k(r: Record) -> Int { return readInt(r, "score") } ' +
  "brindlet m { input rows: Record[] derive d: Record[] = rows |> sortBy(k) output d }";
const FILTER_SOURCE =
  'fn p(r: Record) -> Truth { return readInt(r, "score") > 1 } ' +
  "brindlet m { input rows: Record[] derive d: Record[] = rows |> filter(p) output d }";

const SCORES = [3, 1, 2, 1, 0];

test("sortBy and filter over Records charge keys, Record work, size check and result in order", async () => {
  const rows = SCORES.map((score) => ({ score }));
  const sortProgram = compileModule(SORT_SOURCE);
  const filterProgram = compileModule(FILTER_SOURCE);
  // Admitted items are sized from what admission knows (one check each);
  // items that were never admitted are walked.
  const receivers = [
    ["admitted", () => ({ value: normalize(rows, "Record[]"), type: "Record[]" }), ["c", "c"]],
    ["raw", () => ({ value: Object.freeze(rows.map((row) => Object.freeze({ ...row }))), type: "Record[]" }), ["c", ...WALKED_RECORD]],
  ];
  for (const [label, receiver, sizeCheck] of receivers) {
    for (const path of ["sync", "async"]) {
      // per key: the loop's step, the call's check, the call node, ref and
      // literal, readInt's charge for a scalar field, then two checks
      const key = ["s1", "c", "s1", "s1", "s1", "s0", "c", "c"];
      const sortCtx = tracing(sortProgram);
      const sorted = await traced(sortProgram, new Map([["rows", receiver()]]), sortCtx, path);
      assertDeepEqual(sorted.value.map((row) => row.score), [0, 1, 1, 2, 3], `${label} ${path} sorted`);
      assertDeepEqual(
        sortCtx.trace,
        [
          "s1", "s1", "c",
          ...repeat(SCORES.length, key),
          "s" + SCORES.length,
          ...repeat(SCORES.length, ["c", "s1"]),
          ...repeat(SCORES.length, sizeCheck),
          "c", ...mergeTrace(SCORES), "c",
          ...repeat(SCORES.length, ["c"]),
          "c",
        ],
        `${label} ${path} sortBy trace`,
      );

      // per item: the loop's step, the call's check, the comparison node,
      // the read as above, the literal 1, then the check of the verdict
      const verdict = ["s1", "c", "s1", "s1", "s1", "s1", "s0", "s1", "c"];
      const kept = SCORES.filter((score) => score > 1).length;
      const filterCtx = tracing(filterProgram);
      const filtered = await traced(filterProgram, new Map([["rows", receiver()]]), filterCtx, path);
      assertDeepEqual(filtered.value.map((row) => row.score), [3, 2], `${label} ${path} filtered`);
      assertDeepEqual(
        filterCtx.trace,
        [
          "s1", "s1", "c",
          ...repeat(SCORES.length, verdict),
          "s" + kept,
          ...repeat(kept, ["c", "s1"]),
          ...repeat(kept, sizeCheck),
          "c",
          ...repeat(kept, ["c"]),
          "c",
        ],
        `${label} ${path} filter trace`,
      );
    }
  }
});

// f reads n after its call of g, so a call that clobbered the environment or
// argument list of a call still in progress would change the result.
const TABLE_SOURCE =
  "fn f(n: Int) -> Int { return choose(n > 0, g(n - 1) + n, 0, 0) } " +
  "fn g(n: Int) -> Int { return n * 10 } " +
  "brindlet m { input x: Int derive d: Int = f(x) output d }";

test("a call follows the function table it is handed, including one that recurses", async () => {
  const program = compileModule(TABLE_SOURCE);
  const plan = planFor(program).functions;
  const f = plan.get("f");
  const recursive = new Map([["f", f], ["g", f]]);
  const env = new Map([["x", { value: 4, type: "Int" }]]);
  const cases = [
    ["plan", plan, { value: 34 }],
    ["g as f", recursive, { value: 10 }],
    ["plan again", plan, { value: 34 }],
    ["plain object", Object.freeze({ f }), { code: "UNKNOWN_FUNCTION", message: "Неизвестная функция g." }],
    ["budget inside the recursion", recursive, { code: "STEP_BUDGET" }, 30],
    ["g as f after a failure", recursive, { value: 10 }],
  ];
  for (const path of ["sync", "async"]) {
    for (const [label, functions, expected, maxSteps] of cases) {
      const ctx = tracing(program, functions, maxSteps);
      let outcome;
      try {
        outcome = { value: (await traced(program, env, ctx, path)).value };
      } catch (error) {
        if (!(error instanceof RuntimeDiagnostic)) throw error;
        outcome = expected.message === undefined ? { code: error.code } : { code: error.code, message: error.message };
      }
      assertDeepEqual(outcome, expected, `${path} ${label}`);
    }
  }
});

test("the recursive call charges each level's nodes before the next level's", () => {
  const program = compileModule(TABLE_SOURCE);
  const f = planFor(program).functions.get("f");
  const ctx = tracing(program, new Map([["f", f], ["g", f]]));
  const env = new Map([["x", { value: 1, type: "Int" }]]);
  assertEqual(evaluateSync(derive(program, "d"), env, ctx).value, 1);
  // f(1): the call and its ref, f's check; choose, n > 0 (node, ref, literal);
  // the yes branch: the sum, the call of g, n - 1 (node, ref, literal); g is
  // f(0): its check, choose, n > 0, the "no" branch 0; back in f(1): ref n.
  assertDeepEqual(
    ctx.trace,
    [
      "s1", "s1", "c",
      "s1", "s1", "s1", "s1",
      "s1", "s1", "s1", "s1", "s1", "c",
      "s1", "s1", "s1", "s1", "s1",
      "s1",
    ],
  );
});
