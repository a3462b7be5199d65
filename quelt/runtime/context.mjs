// The per-run context handed to the evaluator and to every runtime operation.
//
// Exports:
//   createRunContext({program, ledger, pool, signal, capabilities, adapters,
//                     functions, trace, deadline}) -> ctx
//     ctx has the fields program, ledger, pool, signal, capabilities, adapters,
//     functions, trace, check, step (in this order); the driver adds
//     programSourceHash once the source identity is known.
//     ctx.check(): an aborted signal throws abortReason(signal); then a clock at
//       or past `deadline` (milliseconds of now()) fails DEADLINE.
//     ctx.step(n = 1): ctx.check(), then ledger.step(n).
//   checkRun(signal, deadline)  the same test as ctx.check, for other callers.

import { abortReason, fail, now } from "./diagnostics.mjs";

export function checkRun(signal, deadline) {
  if (signal && signal.aborted) throw abortReason(signal);
  if (now() >= deadline) fail("DEADLINE", "Истёк срок выполнения.");
}

export function createRunContext({
  program,
  ledger,
  pool,
  signal,
  capabilities,
  adapters,
  functions,
  trace,
  deadline,
}) {
  const check = () => checkRun(signal, deadline);
  return {
    program,
    ledger,
    pool,
    signal,
    capabilities,
    adapters,
    functions,
    trace,
    check,
    step(n = 1) {
      check();
      ledger.step(n);
    },
  };
}
