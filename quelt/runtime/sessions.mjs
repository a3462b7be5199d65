// Reactive sessions: one Program kept with its current inputs and re-run on
// every change. Each update merges the changed inputs into the accepted ones
// and runs the Program through the driver's shared core, handing it the state
// of the last successful run so that unchanged inputs keep their versions and
// value objects, the adapter hash and cache keys are taken over when nothing
// they depend on changed. Updates run strictly one after another; one ledger
// and one task pool serve them all, so the budget bounds the session's totals.
//
// Exports:
//   ReactiveSession(program, options = {})          (exported by the unit)
//     update(partialInputs = {}) -> promise of a run receipt
//     metrics -> frozen {steps, adapterCalls, outputBytes, pool}
//   sessionPatchCopy(program, supplied, accepted, previous) -> frozen patch
//   prepareSessionInputs(program, accepted, patch, previous)
//       -> {inputs, inputMetadata: Map name -> {value, bytes, version}, reusedInputs}

import { abortReason, fail } from "./diagnostics.mjs";
import { runPrepared } from "./driver.mjs";
import { Ledger } from "./ledger.mjs";
import { RUNTIME_LIMITS } from "./limits.mjs";
import { ensureProgram, planFor } from "./plans.mjs";
import { adaptersCopy, optionsCopy } from "./settings.mjs";
import { TaskPool } from "./task-pool.mjs";
import { dataKeys, normalize } from "./values.mjs";
import { utf8Size } from "./versions.mjs";

export class ReactiveSession {
  #program;
  #settings;
  #adapterSources;
  #ledger;
  #pool;
  #inputs;
  #tail;
  #pending;
  #state;

  constructor(program, options = {}) {
    ensureProgram(program);
    this.#program = program;
    this.#settings = optionsCopy(options);
    this.#adapterSources = adapterSourcesCopy(options.adapters);
    this.#ledger = new Ledger(this.#settings.budget);
    this.#pool = new TaskPool(this.#settings.budget);
    this.#inputs = Object.freeze(Object.create(null));
    this.#tail = Promise.resolve();
    this.#pending = 0;
    this.#state = null;
  }

  get metrics() {
    const ledger = this.#ledger;
    return Object.freeze({
      steps: ledger.steps,
      adapterCalls: ledger.adapterCalls,
      outputBytes: ledger.outputBytes,
      pool: this.#pool.stats,
    });
  }

  // Refusals found before queuing reject the returned promise and leave the
  // session unchanged. The patch is checked against the inputs accepted now,
  // and merged with the inputs accepted when its turn comes.
  update(partialInputs = {}) {
    let patch;
    let settings;
    try {
      patch = sessionPatchCopy(this.#program, partialInputs, this.#inputs, this.#state);
      // Providers are re-read on every update, so a changed version text
      // gives a new adapter hash.
      settings = Object.freeze({ ...this.#settings, adapters: adaptersCopy(this.#adapterSources) });
      if (this.#pending > this.#settings.budget.maxQueued) {
        fail("QUEUE_FULL", "Очередь обновлений заполнена.");
      }
    } catch (error) {
      return Promise.reject(error);
    }
    this.#pending += 1;
    const turn = this.#tail;
    // The count drops before the caller learns the outcome, so an update
    // requested right after an earlier one settled sees it finished.
    const run = (async () => {
      try {
        await turn;
        return await this.#run(patch, settings);
      } finally {
        this.#pending -= 1;
      }
    })();
    this.#tail = run.catch(() => undefined);
    return run;
  }

  async #run(patch, settings) {
    const signal = settings.signal;
    if (signal !== undefined && signal.aborted) throw abortReason(signal);
    const prepared = prepareSessionInputs(this.#program, this.#inputs, patch, this.#state);
    const incremental = { previous: this.#state, prepared, next: null };
    const receipt = await runPrepared(this.#program, prepared.inputs, settings, this.#ledger, this.#pool, incremental);
    this.#state = incremental.next;
    this.#inputs = this.#state.inputs;
    return receipt;
  }
}

function adapterSourcesCopy(adapters) {
  const copy = Object.create(null);
  if (adapters !== undefined && adapters !== null) {
    for (const name of Object.keys(adapters)) copy[name] = adapters[name];
  }
  return Object.freeze(copy);
}

function jsonBytes(value) {
  return utf8Size(JSON.stringify(value));
}

// Braces and commas of a JSON object with `count` members.
function frameBytes(count) {
  return 2 + Math.max(0, count - 1);
}

export function sessionPatchCopy(program, supplied, accepted, previous) {
  const plan = planFor(program);
  const names = dataKeys(supplied, "INPUT_SCHEMA");
  let bytes = frameBytes(names.length);
  const patch = Object.create(null);
  for (const name of names) {
    const input = plan.inputs.get(name);
    if (input === undefined) fail("INPUT_SCHEMA", "Передан необъявленный вход.");
    const value = supplied[name];
    let size;
    if (Object.hasOwn(accepted, name) && Object.is(accepted[name], value)) {
      patch[name] = accepted[name];
      size = previous.inputMetadata.get(name).bytes;
    } else {
      patch[name] = normalize(value, input.type);
      size = jsonBytes(patch[name]);
    }
    bytes += plan.inputKeyBytes.get(name) + size;
  }
  if (bytes > RUNTIME_LIMITS.inputBytes) fail("INPUT_LIMIT", "Превышен размер входных данных.");
  return Object.freeze(patch);
}

export function prepareSessionInputs(program, accepted, patch, previous) {
  const plan = planFor(program);
  let bytes = frameBytes(program.inputs.length);
  let reusedInputs = 0;
  const inputs = Object.create(null);
  const inputMetadata = new Map();
  for (const input of program.inputs) {
    const name = input.name;
    const value = mergedValue(input, accepted, patch);
    const old = previous === null ? undefined : previous.inputMetadata.get(name);
    const same = old !== undefined && Object.is(old.value, value);
    const size = same ? old.bytes : jsonBytes(value);
    if (same) reusedInputs += 1;
    inputs[name] = value;
    inputMetadata.set(name, { value, bytes: size, version: same ? old.version : null });
    bytes += plan.inputKeyBytes.get(name) + size;
  }
  if (bytes > RUNTIME_LIMITS.inputBytes) fail("INPUT_LIMIT", "Превышен размер входных данных.");
  return { inputs: Object.freeze(inputs), inputMetadata, reusedInputs };
}

function mergedValue(input, accepted, patch) {
  const name = input.name;
  if (Object.hasOwn(patch, name)) return patch[name];
  if (Object.hasOwn(accepted, name)) return accepted[name];
  if (Object.hasOwn(input, "defaultValue")) return normalize(input.defaultValue, input.type);
  return fail("MISSING_INPUT", "Отсутствует вход " + input.name + ".");
}
