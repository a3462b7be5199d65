// The budget ledger of one run or one session: counts evaluation steps,
// adapter calls, receipt bytes and the token usage that adapters report, and
// refuses any charge that would pass a limit. A refused charge or report
// changes nothing. The fields are plain and read by the driver, the evaluator
// and sessions.
//
//   new Ledger(limits)   limits: a budget record (see budgetCopy)
//   ledger.step(n = 1)   STEP_BUDGET once the total would pass maxSteps
//   ledger.call()        ADAPTER_BUDGET once the calls would pass maxAdapterCalls
//   ledger.usage(report) ADAPTER_USAGE for a malformed report; undefined = no report

import { dataKeys } from "./values.mjs";
import { fail } from "./diagnostics.mjs";

function isUsageField(key) {
  return key === "inputTokens" || key === "outputTokens" || key === "reasoningTokens";
}

const isSafeInteger = Number.isSafeInteger;
export const STEP_BUDGET_MESSAGE = "Исчерпан общий бюджет шагов.";

export class Ledger {
  constructor(limits) {
    this.limits = limits;
    this.steps = 0;
    this.adapterCalls = 0;
    this.outputBytes = 0;
    this.inputTokens = 0;
    this.outputTokens = 0;
    this.reasoningTokens = 0;
    this.reasoningKnown = 0;
    this.reasoningAvailable = true;
    this.usageComplete = true;
    this.unreportedCalls = 0;
  }

  // The run context charges a Ledger's steps in place with this same test
  // (./context.mjs); change both together.
  step(n = 1) {
    const next = this.steps + n;
    if (next > this.limits.maxSteps || !isSafeInteger(next)) fail("STEP_BUDGET", STEP_BUDGET_MESSAGE);
    this.steps = next;
  }

  call() {
    if (this.adapterCalls + 1 > this.limits.maxAdapterCalls) {
      fail("ADAPTER_BUDGET", "Исчерпан общий бюджет вызовов адаптеров.");
    }
    this.adapterCalls += 1;
    this.unreportedCalls += 1;
    this.reasoningTokens = null;
    this.usageComplete = false;
  }

  usage(report) {
    if (report === undefined) return;
    const keys = dataKeys(report, "ADAPTER_USAGE");
    const shaped =
      Object.hasOwn(report, "inputTokens") &&
      Object.hasOwn(report, "outputTokens") &&
      keys.every(isUsageField);
    if (!shaped) fail("ADAPTER_USAGE", "Неверные поля учёта токенов.");
    const input = report.inputTokens;
    const output = report.outputTokens;
    if (!countable(input, this.inputTokens) || !countable(output, this.outputTokens)) {
      fail("ADAPTER_USAGE", "Использование токенов должно быть неотрицательным безопасным целым.");
    }
    const reasoning = report.reasoningTokens ?? null;
    if (reasoning !== null && !countable(reasoning, this.reasoningKnown)) {
      fail("ADAPTER_USAGE", "Reasoning usage должен быть безопасным целым либо null.");
    }
    this.inputTokens += input;
    this.outputTokens += output;
    if (reasoning === null) this.reasoningAvailable = false;
    else this.reasoningKnown += reasoning;
    this.unreportedCalls -= 1;
    this.usageComplete = this.unreportedCalls === 0 && this.reasoningAvailable;
    this.reasoningTokens = this.usageComplete ? this.reasoningKnown : null;
  }
}

// A reported amount that can be added to `total` without leaving the safe integers.
function countable(amount, total) {
  return Number.isSafeInteger(amount) && amount >= 0 && Number.isSafeInteger(total + amount);
}
