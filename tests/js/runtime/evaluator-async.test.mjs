// The asynchronous path: every node kind whose child may call an adapter gets
// the same steps, values and failures as with a pure function in that place.
import { compileModule } from "quelt/compiler.mjs";
import { test, assertEqual, assertDeepEqual } from "../harness.mjs";
import { evaluate, evaluateSync, reachesAdapter } from "../../../quelt/runtime/evaluator.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";
import { TaskPool } from "../../../quelt/runtime/task-pool.mjs";
import { contextFor } from "./evaluator-support.mjs";

const INTERFACES = {
  "m.n": { params: ["Int"], result: "Int", effects: [] },
  "m.o": { params: ["Int"], result: "Int?", effects: [] },
  "m.t": { params: ["Int"], result: "Text", effects: [] },
};

const ADAPTERS = {
  "m.n": { version: "1", invoke: async ([x]) => x + 10 },
  "m.o": { version: "1", invoke: async ([x]) => (x > 0 ? x : null) },
  "m.t": { version: "1", invoke: async ([x]) => String(x) },
};

// Pure stand-ins: each body costs three steps more than the adapter call.
const PURE = `fn pn(x: Int) -> Int { return x + 10 }
fn po(x: Int) -> Int? { return choose(x > 0, x, unknown, unknown) }
fn pt(x: Int) -> Text { return x |> toText() }`;
const PURE_BODY_STEPS = { n: 3, o: 5, t: 2 };

const HELPERS = `result R: Int
fn key(x: Int) -> Int { return 0 - x }
fn big(x: Int) -> Truth { return x > 11 }
fn add(s: Int, x: Int) -> Int { return s + x }
fn twice(x: Int) -> Int { return x * 2 }
fn ok1(x: Int) -> Int { return x + 1 }
fn errLen(m: Text) -> Int { return len(m) }`;

// Each expression uses N(x), O(x), T(x) for the adapters (or their stand-ins);
// a third entry gives [calls made, steps of the stand-ins' bodies] when not
// every call is made.
const CASES = [
  ["Int", "N(1) + N(2) * 3"],
  ["Int", "-N(1)"],
  ["Truth", "N(1) > 3 and N(2) < 3"],
  ["Int", "choose(N(1) > 5, N(2), 0, 1)"],
  ["Int", "choose(N(1) < 5, 0, N(2), 1)"],
  // the branch holding an adapter call is not selected, so it is never made
  ["Int", "choose(N(1) > 5, 0, N(2), N(3))", [1, 3]],
  ["Int[]", "[N(3), 1, N(2)] |> sortBy(key)"],
  ["Int[]", "[N(3), 1, N(2)] |> filter(big)"],
  ["Int[]", "[N(3), 1] |> each(twice)"],
  ["Int", "[N(1), 2] |> fold(add, N(0))"],
  ["Int", "(N(1) - 8) |> repeat(add, N(0))"],
  ["Int", "[5, 6] |> at(N(1) - 10)"],
  ["Int[]", "[N(5)] |> append(N(6))"],
  ["Int[]", "[N(5)] |> concat([N(6)])"],
  ["Text", "T(12345) |> slice(N(1) - 10, 2)"],
  ["Int", "N(7) |> quotient(N(-8))"],
  ["Int", "O(0) |> orElse(N(4))"],
  ["Int", "O(3) |> orElse(N(4))", [1, 5]],
  ["Truth", "O(0) |> present()"],
  ["Int", "O(5) |> require()"],
  ["Record", '{a: N(1), b: [N(2)]} |> withField(T(3), N(4))'],
  ["Text", '{a: N(1)} |> toJson()'],
  ["Int", "T(77) |> parseInt()"],
  ["Int", "N(2) |> shiftLeft(N(-9))"],
  ["Truth", 'T(123) |> contains(T(2))'],
  ["Int", "[N(1), N(2)] |> sum()"],
  ["Int", "len(T(N(90)))"],
  ["Int", "twice(N(1))"],
  ["Int", "N(1) |> ok(R) |> match(ok1, errLen)"],
  ["Text", "N(1) |> toText()"],
];

function instantiate(expression, pure) {
  let calls = 0;
  let bodySteps = 0;
  const text = expression.replace(/([NOT])\(/g, (_, letter) => {
    calls += 1;
    bodySteps += PURE_BODY_STEPS[letter.toLowerCase()];
    return pure ? `p${letter.toLowerCase()}(` : `m.${letter.toLowerCase()}(`;
  });
  return { text, calls, bodySteps };
}

function adapterContext(program) {
  return Object.assign(contextFor(program), {
    ledger: new Ledger({ maxSteps: 100000, maxAdapterCalls: 64 }),
    pool: new TaskPool({}),
    signal: new AbortController().signal,
    capabilities: new Set(),
    adapters: ADAPTERS,
    trace: [],
    programSourceHash: "0".repeat(64),
  });
}

async function outcomeOf(run) {
  try {
    return { item: await run() };
  } catch (error) {
    return { error };
  }
}

test("every node kind awaits adapter calls in its children in order", async () => {
  for (const [type, expression, made] of CASES) {
    const adapted = instantiate(expression, false);
    const pure = instantiate(expression, true);
    const header = `${HELPERS}\n${PURE}\n`;
    const withAdapters = compileModule(`${header}brindlet m { use m derive d: ${type} = ${adapted.text} output d }`, { interfaces: INTERFACES });
    const withFunctions = compileModule(`${header}brindlet m { derive d: ${type} = ${pure.text} output d }`);
    const adapterExpression = withAdapters.derives[0].expression;
    assertEqual(reachesAdapter(adapterExpression, withAdapters), true, expression);

    const ctx = adapterContext(withAdapters);
    const asynchronous = await outcomeOf(() => evaluate(adapterExpression, new Map(), ctx));
    const reference = contextFor(withFunctions);
    const synchronous = await outcomeOf(() => evaluateSync(withFunctions.derives[0].expression, new Map(), reference));

    if (synchronous.error !== undefined) throw synchronous.error;
    if (asynchronous.error !== undefined) throw asynchronous.error;
    assertDeepEqual(asynchronous.item.value, synchronous.item.value, expression);
    assertEqual(asynchronous.item.type, synchronous.item.type, `${expression} type`);
    const [calls, bodySteps] = made ?? [adapted.calls, pure.bodySteps];
    assertEqual(ctx.trace.length, calls, `${expression} calls`);
    assertEqual(ctx.steps, reference.steps - bodySteps, `${expression} steps`);
  }
});

test("an adapter failure inside a stage stops it where a pure failure would", async () => {
  const failing = { "m.n": { version: "1", invoke: async () => { throw new Error("down"); } } };
  const program = compileModule(
    `${HELPERS}\nbrindlet m { use m derive d: Int = [1, 2] |> fold(add, m.n(0)) output d }`,
    { interfaces: INTERFACES },
  );
  const ctx = Object.assign(adapterContext(program), { adapters: failing });
  const outcome = await outcomeOf(() => evaluate(program.derives[0].expression, new Map(), ctx));
  assertEqual(outcome.error.message, "down");
  // fold, the array and its two items, the seed's call and literal
  assertEqual(ctx.steps, 1 + 3 + 2);
});

test("an effect function with locals runs on the asynchronous path", async () => {
  const program = compileModule(
    `effect fn g(x: Int) -> Int { let y: Int = x * 2; let z: Int = m.n(y); return z + y }
brindlet m { use m derive d: Int = g(3) output d }`,
    { interfaces: INTERFACES },
  );
  const ctx = adapterContext(program);
  const result = await evaluate(program.derives[0].expression, new Map(), ctx);
  assertDeepEqual(result, { value: 22, type: "Int" });
  // call, literal; y: 3; z: call and ref; body: 3
  assertEqual(ctx.steps, 2 + 3 + 2 + 3);
});
