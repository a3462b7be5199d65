// Calls of external adapters while a Program runs: the evaluator's only real
// suspension point.
//
// Exports:
//   callAdapter(name, signature, args, ctx) -> promise of a typed value
//     name       the interface name (a key of ctx.program.interfaces)
//     signature  the interface declaration {params, result, effects}
//     args       the already evaluated arguments (typed values)
//   It checks the granted capabilities, finds the adapter, counts the call
//   against the adapter budget, runs it in ctx.pool under the run's signal,
//   accounts the usage it reports, re-admits its result at the declared result
//   type and appends an adapter entry to ctx.trace. Failures of the adapter
//   itself propagate unchanged (the driver wraps foreign ones).

import { fail } from "./diagnostics.mjs";
import { adapterTraceEntry } from "./receipts.mjs";
import { dataKeys, ev, normalize, ownObject } from "./values.mjs";

export async function callAdapter(name, signature, args, ctx) {
  for (const effect of signature.effects) {
    if (!ctx.capabilities.has(effect)) {
      fail("CAPABILITY_REQUIRED", "Для " + name + " требуется capability " + effect + ".");
    }
  }
  const adapter = Object.hasOwn(ctx.adapters, name) ? ctx.adapters[name] : undefined;
  if (adapter === undefined) fail("MISSING_ADAPTER", "Не подключён адаптер " + name + ".");
  const params = signature.params;
  if (args.length !== params.length) fail("ADAPTER_ARGUMENTS", "Неверное число параметров адаптера.");
  const values = new Array(args.length);
  for (let index = 0; index < args.length; index += 1) {
    values[index] = normalize(args[index].value, params[index]);
  }
  Object.freeze(values);
  ctx.check();
  ctx.ledger.call();
  const task = ({ signal }) => adapter.invoke(values, adapterContext(signal, ctx));
  const result = await ctx.pool.run(task, { signal: ctx.signal });
  ctx.check();
  const { payload, usage } = usageEnvelope(result);
  ctx.ledger.usage(usage);
  const checked = normalize(payload, signature.result);
  ctx.trace.push(adapterTraceEntry(name, adapter.version, usage !== undefined));
  return ev(checked, signature.result);
}

// What the adapter sees of the run; the budget is read when the task starts,
// so adapterCallsUsed already includes this call.
function adapterContext(signal, ctx) {
  const ledger = ctx.ledger;
  return Object.freeze({
    signal,
    programSourceHash: ctx.programSourceHash,
    capabilities: Object.freeze([...ctx.capabilities]),
    budget: Object.freeze({
      maxSteps: ledger.limits.maxSteps,
      stepsUsed: ledger.steps,
      maxAdapterCalls: ledger.limits.maxAdapterCalls,
      adapterCallsUsed: ledger.adapterCalls,
    }),
  });
}

// {value, usage} and nothing else is an envelope carrying a usage report;
// any other result is the payload itself.
function usageEnvelope(result) {
  const envelope =
    ownObject(result) &&
    Object.hasOwn(result, "value") &&
    Object.hasOwn(result, "usage") &&
    dataKeys(result).length === 2;
  if (envelope) return { payload: result.value, usage: result.usage };
  return { payload: result, usage: undefined };
}
