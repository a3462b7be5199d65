// The execution driver: runs one compiler-issued Program on a set of inputs
// under budgets, a deadline and an optional caller signal, and resolves to a
// frozen run receipt.
//
// Exports:
//   execute(program, inputs = {}, options = {}) -> promise of a receipt   (exported by the unit)
//   runPrepared(program, inputs, settings, ledger, pool, incremental = null)
//       the run itself, shared with reactive sessions. `inputs` is the frozen,
//       normalized record of every declared input. `incremental` (sessions only):
//       {previous, prepared: {inputs, inputMetadata, reusedInputs}, next: null};
//       a successful run stores in `next` the state the following run takes over:
//       {inputs, inputMetadata: Map name -> {value, version, bytes},
//        memo: Map derive -> {key, dependencies}, adapterVersions, adapterHash}.
//
// The evaluator receives `env` as a Map from input and derive names to typed
// values, and the run context of context.mjs. Derives that cannot reach an
// adapter (plan item `reachesAdapter` false) are evaluated synchronously.

import { RuntimeDiagnostic, abortReason, fail, now } from "./diagnostics.mjs";
import { cacheCommit, cacheRecord } from "./cache.mjs";
import { createRunContext } from "./context.mjs";
import { evaluate, evaluateSync } from "./evaluator.mjs";
import { Ledger } from "./ledger.mjs";
import { ensureProgram, inputCopy, planFor } from "./plans.mjs";
import { deriveTraceEntry, metricsBase, registerReceipt, reuseMetrics, sizedReceipt } from "./receipts.mjs";
import { requireResult, typedTransition } from "./schemas.mjs";
import { optionsCopy } from "./settings.mjs";
import { TaskPool } from "./task-pool.mjs";
import { canonical, ev, isUnknown } from "./values.mjs";
import {
  cacheKey,
  dependencyVersion,
  hash,
  resultDependencyVersion,
  sameDependencies,
  sameVersions,
  sourceDigest,
} from "./versions.mjs";

// Failures before the run body reach the caller unchanged.
export async function execute(program, inputs = {}, options = {}) {
  ensureProgram(program);
  const copied = inputCopy(program, inputs);
  const settings = optionsCopy(options);
  const ledger = new Ledger(settings.budget);
  const pool = new TaskPool(settings.budget);
  return runPrepared(program, copied, settings, ledger, pool);
}

export async function runPrepared(program, inputs, settings, ledger, pool, incremental = null) {
  const controller = new AbortController();
  const external = settings.signal;
  const onAbort = () => controller.abort(abortReason(external));
  if (external !== undefined) {
    external.addEventListener("abort", onAbort, { once: true });
    if (external.aborted) onAbort();
  }
  const limit = ledger.limits.deadlineMs;
  const deadline = now() + limit;
  const timer = setTimeout(() => {
    controller.abort(new RuntimeDiagnostic("DEADLINE", "Истёк срок выполнения."));
  }, limit);
  const run = {
    program,
    inputs,
    settings,
    ledger,
    pool,
    incremental,
    start: { steps: ledger.steps, adapterCalls: ledger.adapterCalls, outputBytes: ledger.outputBytes },
    plan: planFor(program),
    previous: incremental === null ? null : incremental.previous,
    cacheHits: 0,
    computedDerives: 0,
    reuse: reuseMetrics(incremental === null ? 0 : incremental.prepared.reusedInputs),
    ctx: null,
    lookups: [],
    cache: cacheRecord(settings.cache),
  };
  run.ctx = createRunContext({
    program,
    ledger,
    pool,
    signal: controller.signal,
    capabilities: new Set(settings.capabilities),
    adapters: settings.adapters,
    functions: run.plan.functions,
    trace: [],
    deadline,
  });
  try {
    return await runBody(run);
  } catch (error) {
    controller.abort(error);
    throw wrappedFailure(error);
  } finally {
    clearTimeout(timer);
    if (external !== undefined) external.removeEventListener("abort", onAbort);
  }
}

function wrappedFailure(error) {
  if (error instanceof RuntimeDiagnostic) return error;
  let message = "";
  try {
    if (error !== null && typeof error === "object" && typeof error.message === "string") message = error.message;
  } catch {
    message = "";
  }
  return new RuntimeDiagnostic("EXECUTION_FAILURE", message !== "" ? message : "Исполнение завершилось ошибкой.");
}

async function runBody(run) {
  const { program, ctx } = run;
  ctx.check();
  const source = sourceDigest(run.plan, program);
  run.reuse.sourceHashReused = source.reused;
  const programSourceHash = await source.promise;
  ctx.programSourceHash = programSourceHash;
  const { adapterVersions, adapterHash } = await adapterIdentity(run);
  const identities = await inputIdentities(run);
  const committedInputs = Object.freeze(identities.acceptedInputs);
  ctx.check();
  const state = {
    programSourceHash,
    adapterHash,
    env: new Map(),
    valueVersions: new Map(),
    nextMemo: new Map(),
  };
  for (const input of program.inputs) {
    state.env.set(input.name, ev(committedInputs[input.name], input.type));
    state.valueVersions.set(input.name, "h:" + identities.inputVersions[input.name]);
  }
  for (const item of run.plan.derives) await runDerive(run, state, item);
  const receipt = buildReceipt(run, state.env, programSourceHash, adapterVersions, identities.inputVersions);
  if (run.incremental !== null) {
    run.incremental.next = {
      inputs: committedInputs,
      inputMetadata: identities.inputMetadata,
      memo: state.nextMemo,
      adapterVersions,
      adapterHash,
    };
  }
  registerReceipt(receipt, program);
  return receipt;
}

async function adapterIdentity(run) {
  const adapterVersions = Object.create(null);
  const table = run.settings.adapters;
  for (const name of Object.keys(table)) adapterVersions[name] = table[name].version;
  Object.freeze(adapterVersions);
  const previous = run.previous;
  if (previous !== null && sameVersions(adapterVersions, previous.adapterVersions)) {
    return { adapterVersions, adapterHash: previous.adapterHash };
  }
  run.reuse.adapterHashes += 1;
  return { adapterVersions, adapterHash: await hash(adapterVersions) };
}

// An input equal in identity (same version) to the previous run's keeps the
// previous value object.
async function inputIdentities(run) {
  const { program, inputs, incremental, previous, reuse } = run;
  const inputVersions = Object.create(null);
  const acceptedInputs = Object.create(null);
  const inputMetadata = new Map();
  const preparedMetadata = incremental === null ? null : incremental.prepared.inputMetadata;
  for (const input of program.inputs) {
    const name = input.name;
    const prepared = preparedMetadata === null ? undefined : preparedMetadata.get(name);
    const old = previous === null ? undefined : previous.inputMetadata.get(name);
    let value = inputs[name];
    let version;
    if (prepared !== undefined && typeof prepared.version === "string" && prepared.version !== "") {
      version = prepared.version;
    } else {
      reuse.inputHashes += 1;
      version = await hash({ type: input.type, value });
    }
    if (old !== undefined && version === old.version && !Object.is(value, old.value)) {
      value = old.value;
      reuse.reusedInputs += 1;
    }
    inputVersions[name] = version;
    acceptedInputs[name] = value;
    if (incremental !== null) inputMetadata.set(name, { value, version, bytes: prepared.bytes });
  }
  return { inputVersions: Object.freeze(inputVersions), acceptedInputs, inputMetadata };
}

async function runDerive(run, state, item) {
  const { ctx, plan, reuse } = run;
  const { derive, cacheable } = item;
  const name = derive.name;
  ctx.step();
  let lookup = null;
  if (cacheable) {
    const key = deriveKey(run, state, derive);
    lookup = { key, hit: run.cache.entries.get(key) };
    run.lookups.push(lookup);
  }
  const needed = plan.neededVersions.has(name);
  let result;
  let version;
  let status;
  if (lookup !== null && lookup.hit !== undefined) {
    result = ev(lookup.hit.value, derive.type);
    version = lookup.hit.version;
    run.cacheHits += 1;
    status = "cache-hit";
  } else {
    const started = cacheable ? now() : undefined;
    const computed = item.reachesAdapter
      ? await evaluate(derive.expression, state.env, ctx)
      : evaluateSync(derive.expression, state.env, ctx);
    result = typedTransition(computed, derive.type, ctx);
    run.computedDerives += 1;
    const costMs = cacheable ? elapsed(started, now()) : null;
    if (needed) {
      // the plain form of scalars is known at once; only digests are awaited
      const pending = valueVersion(run, result, derive.type);
      version = typeof pending === "string" ? pending : await pending;
    }
    if (lookup !== null) lookup.computed = { value: result.value, version, costMs };
    status = "computed";
  }
  state.env.set(name, result);
  if (needed) state.valueVersions.set(name, version);
  ctx.trace.push(deriveTraceEntry(name, status, derive.dependencies, cacheable, isUnknown(result.value)));
}

// The memo of the previous session run supplies the key when the adapters and
// every dependency version are unchanged.
function deriveKey(run, state, derive) {
  const dependencies = derive.dependencies.map((name) => state.valueVersions.get(name));
  const previous = run.previous;
  const memo = previous === null ? undefined : previous.memo.get(derive.name);
  let key;
  if (memo !== undefined && previous.adapterHash === state.adapterHash && sameDependencies(memo.dependencies, dependencies)) {
    key = memo.key;
    run.reuse.cacheKeysReused += 1;
  } else {
    key = cacheKey(state.programSourceHash, state.adapterHash, derive.name, dependencies);
    run.reuse.cacheKeysBuilt += 1;
  }
  state.nextMemo.set(derive.name, { key, dependencies });
  return key;
}

function elapsed(started, finished) {
  if (!Number.isFinite(started) || started < 0) return null;
  if (!Number.isFinite(finished) || finished < started) return null;
  const difference = finished - started;
  return Number.isFinite(difference) && difference <= Number.MAX_SAFE_INTEGER ? difference : null;
}

function valueVersion(run, result, type) {
  const { program, plan, ctx, reuse } = run;
  if (program.version >= 23 && plan.results !== undefined && plan.results.has(type)) {
    return resultDependencyVersion(result, type, ctx, reuse, requireResult);
  }
  const value = result.value;
  // Scalars and unknown take the plain form, which needs no digest.
  if (isUnknown(value) || (typeof value !== "object" && typeof value !== "string")) {
    return "p:" + canonical({ type, value });
  }
  return dependencyVersion(value, type, reuse);
}

function buildReceipt(run, env, programSourceHash, adapterVersions, inputVersions) {
  const { program, ledger, ctx } = run;
  const values = Object.create(null);
  for (const [name, item] of env) values[name] = item.value;
  Object.freeze(values);
  const outputs = Object.create(null);
  for (const name of program.outputs) outputs[name] = env.get(name).value;
  Object.freeze(outputs);
  const parts = {
    program: Object.freeze({ name: program.name, version: program.version, sourceHash: programSourceHash }),
    programSource: program.source,
    values,
    outputs,
    trace: ctx.trace,
    versions: Object.freeze({ programSourceHash, adapters: adapterVersions, inputs: inputVersions }),
  };
  const base = metricsBase(ledger, run.start, {
    cacheHits: run.cacheHits,
    computedDerives: run.computedDerives,
    poolHighWater: run.pool.stats.highWater,
  }, run.reuse);
  const { receipt, bytes } = sizedReceipt(parts, base, run.start.outputBytes);
  ctx.check();
  const total = run.start.outputBytes + bytes;
  if (!Number.isSafeInteger(total) || total > ledger.limits.maxOutputBytes) {
    fail("OUTPUT_BUDGET", "Полный результат превышает общий бюджет выходных байтов.");
  }
  ledger.outputBytes = total;
  cacheCommit(run.cache, run.lookups);
  return receipt;
}
