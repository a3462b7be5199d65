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
//
// ctx.step runs once per evaluated node, so it is written for speed: the clock
// is looked up once per run instead of on every reading, the usual run (a
// signal object and the platform clock) gets a check without the tests the
// other cases need, the check is written out inside step, and a Ledger's step
// charge is done in place. Every step still tests cancellation, then reads the
// clock against the deadline, then charges the budget, in that order, with
// the same outcome as check() and ledger.step(n).

import { abortReason, fail, now } from "./diagnostics.mjs";
import { Ledger, STEP_BUDGET_MESSAGE } from "./ledger.mjs";

const isSafeInteger = Number.isSafeInteger;
const DEADLINE_MESSAGE = "Истёк срок выполнения.";

export function checkRun(signal, deadline) {
  if (signal && signal.aborted) throw abortReason(signal);
  if (now() >= deadline) fail("DEADLINE", DEADLINE_MESSAGE);
}

// The clock object now() reads, looked up once: the platform's `performance`
// when it has performance.now(), otherwise null (Date.now() serves).
function clockSource() {
  if (typeof performance !== "undefined" && performance !== null && typeof performance.now === "function") {
    return performance;
  }
  return null;
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
  const source = clockSource();
  // A Ledger is charged in place, with the test of Ledger.step. Its bound is
  // read once: a Ledger's limits are a frozen budget record that nothing
  // replaces. Its steps are always a safe integer (only Ledger.step and this
  // charge write them, and only safe totals), so with a safe-integer bound a
  // single step passes exactly when it stays within the bound; other charges
  // also test the total. Any other ledger object, or a bound that is not a safe
  // integer, is charged through the ledger's step method.
  const maxSteps = ledger instanceof Ledger ? ledger.limits.maxSteps : undefined;
  const ownLedger = isSafeInteger(maxSteps) && ledger.step === Ledger.prototype.step;
  const { check, step } =
    signal !== null && typeof signal === "object" && source !== null
      ? signalAndClock(signal, source, deadline, ledger, ownLedger ? maxSteps : undefined)
      : anySignalOrClock(signal, source, deadline, ledger, ownLedger ? maxSteps : undefined);
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
    step,
  };
}

// check and step for a signal object and the platform clock: the usual run.
// A reading that is null or undefined falls back to Date.now(), as now() does.
// With `maxSteps` (a Ledger with a safe-integer bound) the whole step is
// written out in one function.
function signalAndClock(signal, source, deadline, ledger, maxSteps) {
  const check = () => {
    if (signal.aborted) throw abortReason(signal);
    const value = source.now();
    if ((value != null ? value : Date.now()) >= deadline) fail("DEADLINE", DEADLINE_MESSAGE);
  };
  if (maxSteps === undefined) return { check, step: checkThenCharge(check, ledger, maxSteps) };
  const step = (n = 1) => {
    if (signal.aborted) throw abortReason(signal);
    const value = source.now();
    if ((value != null ? value : Date.now()) >= deadline) fail("DEADLINE", DEADLINE_MESSAGE);
    const next = ledger.steps + n;
    if (next > maxSteps || (n !== 1 && !isSafeInteger(next))) fail("STEP_BUDGET", STEP_BUDGET_MESSAGE);
    ledger.steps = next;
  };
  return { check, step };
}

// check and step for any other signal (none at all, say) or without the
// platform clock (Date.now() then serves).
function anySignalOrClock(signal, source, deadline, ledger, maxSteps) {
  const check = () => {
    if (signal && signal.aborted) throw abortReason(signal);
    const value = source !== null ? source.now() : null;
    if ((value != null ? value : Date.now()) >= deadline) fail("DEADLINE", DEADLINE_MESSAGE);
  };
  return { check, step: checkThenCharge(check, ledger, maxSteps) };
}

// step as check() then the charge: in place with `maxSteps` (a Ledger with a
// safe-integer bound), else through the ledger's step method.
function checkThenCharge(check, ledger, maxSteps) {
  if (maxSteps === undefined) {
    return (n = 1) => {
      check();
      ledger.step(n);
    };
  }
  return (n = 1) => {
    check();
    const next = ledger.steps + n;
    if (next > maxSteps || (n !== 1 && !isSafeInteger(next))) fail("STEP_BUDGET", STEP_BUDGET_MESSAGE);
    ledger.steps = next;
  };
}
