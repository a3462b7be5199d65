// Helpers for the evaluator and stage tests: compile a module, evaluate its
// derives in order (as the driver does) on the synchronous or the asynchronous
// path, and count the steps charged.
import { compileModule } from "quelt/compiler.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { evaluate, evaluateSync } from "../../../quelt/runtime/evaluator.mjs";
import { planFor } from "../../../quelt/runtime/plans.mjs";
import { typedTransition } from "../../../quelt/runtime/schemas.mjs";
import { normalize } from "../../../quelt/runtime/values.mjs";
import { AssertionError, assert, assertDeepEqual, assertEqual } from "../harness.mjs";

// A run context with a step counter; step() refuses a charge that would pass
// `maxSteps`, after its check, as the ledger does.
export function contextFor(program, { maxSteps = Infinity } = {}) {
  return {
    program,
    functions: planFor(program).functions,
    steps: 0,
    checks: 0,
    check() {
      this.checks += 1;
    },
    step(n = 1) {
      this.check();
      if (this.steps + n > maxSteps) throw new RuntimeDiagnostic("STEP_BUDGET", "Исчерпан общий бюджет шагов.");
      this.steps += n;
    },
  };
}

export const PATHS = ["sync", "async"];

// Evaluates every derive of `source` in order. Returns {values, types, steps,
// ctx, program} where `steps` maps each derive to the steps its evaluation
// charged; a failure is returned as {error, failed: derive name, ...}.
export async function runModule(source, { inputs = {}, maxSteps, path = "sync", compileOptions } = {}) {
  const program = typeof source === "string" ? compileModule(source, compileOptions) : source;
  const ctx = contextFor(program, { maxSteps });
  const env = new Map();
  for (const input of program.inputs) {
    const raw = Object.hasOwn(inputs, input.name) ? inputs[input.name] : input.defaultValue;
    env.set(input.name, { value: normalize(raw, input.type), type: input.type });
  }
  const values = {};
  const types = {};
  const steps = {};
  for (const derive of program.derives) {
    const before = ctx.steps;
    try {
      const item = path === "sync"
        ? evaluateSync(derive.expression, env, ctx)
        : await evaluate(derive.expression, env, ctx);
      const result = typedTransition(item, derive.type, ctx);
      env.set(derive.name, result);
      values[derive.name] = result.value;
      types[derive.name] = result.type;
      steps[derive.name] = ctx.steps - before;
    } catch (error) {
      return { error, failed: derive.name, values, types, steps, ctx, program, env };
    }
  }
  return { values, types, steps, ctx, program, env };
}

// Runs on both paths and checks that they agree; returns the sync outcome.
export async function runBoth(source, options = {}) {
  const program = compileModule(source, options.compileOptions);
  const sync = await runModule(program, { ...options, path: "sync" });
  const asynchronous = await runModule(program, { ...options, path: "async" });
  assertEqual(asynchronous.failed, sync.failed, "both paths fail at the same derive");
  assertEqual(asynchronous.error?.code, sync.error?.code, "both paths fail alike");
  assertEqual(asynchronous.error?.message, sync.error?.message, "both paths fail alike");
  assertEqual(asynchronous.ctx.steps, sync.ctx.steps, "both paths charge alike");
  assertDeepEqual(asynchronous.values, sync.values, "both paths compute alike");
  return sync;
}

// The failure of a run, checked against {code, message}.
export function expectFailure(outcome, { code, message, at }) {
  if (outcome.error === undefined) {
    throw new AssertionError(`expected ${code}, got ${JSON.stringify(outcome.values ?? outcome.item)}`);
  }
  if (!(outcome.error instanceof RuntimeDiagnostic)) throw outcome.error;
  assertEqual(outcome.error.code, code, "code");
  if (message !== undefined) assertEqual(outcome.error.message, message, "message");
  if (at !== undefined) assertEqual(outcome.failed, at, "failing derive");
}

// The raw typed value of derive `d` of `source` (before any conversion to the
// derive's type), on both paths; `env` entries override the inputs.
export async function evaluateRaw(source, { inputs = {}, env: overrides = {}, maxSteps, compileOptions, extra } = {}) {
  const program = typeof source === "string" ? compileModule(source, compileOptions) : source;
  const derive = program.derives.find((item) => item.name === "d");
  const outcomes = [];
  for (const path of PATHS) {
    const ctx = Object.assign(contextFor(program, { maxSteps }), extra ? extra() : {});
    const env = new Map();
    for (const input of program.inputs) {
      if (Object.hasOwn(overrides, input.name)) continue;
      const raw = Object.hasOwn(inputs, input.name) ? inputs[input.name] : input.defaultValue;
      env.set(input.name, { value: normalize(raw, input.type), type: input.type });
    }
    for (const [name, item] of Object.entries(overrides)) env.set(name, item);
    try {
      const item = path === "sync" ? evaluateSync(derive.expression, env, ctx) : await evaluate(derive.expression, env, ctx);
      outcomes.push({ item, steps: ctx.steps, ctx });
    } catch (error) {
      outcomes.push({ error, steps: ctx.steps, ctx });
    }
  }
  const [sync, asynchronous] = outcomes;
  assertEqual(asynchronous.error?.code, sync.error?.code, "both paths fail alike");
  assertEqual(asynchronous.error?.message, sync.error?.message, "both paths fail alike");
  assertEqual(asynchronous.steps, sync.steps, "both paths charge alike");
  if (sync.item !== undefined) {
    assertEqual(asynchronous.item.type, sync.item.type, "both paths type alike");
    assertDeepEqual(asynchronous.item.value, sync.item.value, "both paths compute alike");
  }
  return sync;
}

// A module around one derive `d` of type `type` with the given expression,
// preceded by `declarations` (functions, schemas, Results) and `inputs`.
export function moduleOf(type, expression, { declarations = "", inputs = "" } = {}) {
  return `${declarations}\nbrindlet m { ${inputs} derive d: ${type} = ${expression} output d }`;
}

// Evaluates derive `d` of `type` = `expression`; `inputs` maps a name to
// [type, value]; the result is evaluateRaw's outcome.
export function evaluateDerive(type, expression, { inputs = {}, declarations = "", env, maxSteps } = {}) {
  const declared = Object.entries(inputs).map(([name, [inputType]]) => `input ${name}: ${inputType}`).join(" ");
  const values = Object.fromEntries(Object.entries(inputs).map(([name, [, value]]) => [name, value]));
  return evaluateRaw(moduleOf(type, expression, { declarations, inputs: declared }), { inputs: values, env, maxSteps });
}

// Asserts a successful outcome with this value (the sign of zero included),
// type and, when given, step count.
export function expectItem(outcome, value, type, label, steps) {
  if (outcome.error !== undefined) throw new Error(`${label}: ${outcome.error.code} ${outcome.error.message}`);
  assertDeepEqual(outcome.item.value, value, label);
  if (typeof value === "number") assert(Object.is(outcome.item.value, value), `${label}: sign of zero`);
  assertEqual(outcome.item.type, type, `${label} type`);
  if (steps !== undefined) assertEqual(outcome.steps, steps, `${label} steps`);
}
