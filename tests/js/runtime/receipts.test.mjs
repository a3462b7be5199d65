import { test, assert, assertEqual, assertDeepEqual } from "../harness.mjs";
import {
  isRunReceipt,
  registerReceipt,
  sizedReceipt,
  receiptValidation,
  deriveTraceEntry,
  adapterTraceEntry,
  reuseMetrics,
  metricsBase,
} from "../../../quelt/runtime/receipts.mjs";
import { isRunReceipt as exported } from "quelt/runtime.mjs";
import { UNKNOWN } from "../../../quelt/runtime/values.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";
import { DEFAULT_BUDGET } from "../../../quelt/runtime/limits.mjs";

const METRICS_BASE = Object.freeze({
  steps: 12,
  adapterCalls: 0,
  inputTokens: 0,
  outputTokens: 0,
  reasoningTokens: 0,
  usageComplete: true,
  runSteps: 12,
  runAdapterCalls: 0,
  cacheHits: 0,
  computedDerives: 2,
  poolHighWater: 0,
  reusedInputs: 0,
  inputHashes: 1,
  sourceHashReused: false,
  dependencyHashes: 0,
  adapterHashes: 1,
  cacheKeysBuilt: 2,
  cacheKeysReused: 0,
});

function parts(source = "brindlet m { input a: Int output a }") {
  return {
    program: Object.freeze({ name: "m", version: 27, sourceHash: "f".repeat(64) }),
    programSource: source,
    values: Object.freeze({ a: 5, b: -0, c: UNKNOWN, d: "héllo" }),
    outputs: Object.freeze({ a: 5 }),
    trace: [deriveTraceEntry("b", "computed", ["a"], true, false)],
    versions: Object.freeze({ programSourceHash: "f".repeat(64), adapters: Object.freeze({}), inputs: Object.freeze({ a: "e".repeat(64) }) }),
  };
}

function utf8(text) {
  return new TextEncoder().encode(text).length;
}

test("isRunReceipt recognises registered receipts by identity only", () => {
  const program = Object.freeze({ kind: "quelt-program" });
  const other = Object.freeze({ kind: "quelt-program" });
  const { receipt } = sizedReceipt(parts(), METRICS_BASE, 0);
  assert(!isRunReceipt(receipt), "not registered yet");
  registerReceipt(receipt, program);
  const cases = [
    [[receipt], true],
    [[receipt, program], true],
    [[receipt, other], false],
    [[receipt, undefined], false],
    [[Object.freeze({ ...receipt })], false],
    [[JSON.parse(JSON.stringify(receipt))], false],
    [[], false],
    [[null], false],
    [["receipt"], false],
  ];
  for (const [args, expected] of cases) {
    assertEqual(isRunReceipt(...args), expected, `${args.length} argument(s)`);
    assertEqual(exported(...args), expected, `front door, ${args.length} argument(s)`);
  }
});

test("the receipt states its own JSON size in its metrics", () => {
  for (const [source, start] of [
    ["brindlet m { input a: Int output a }", 0],
    ["brindlet é { input a: Int output a } // ünïcödé", 999990],
    ["x".repeat(9950), 7],
  ]) {
    const given = parts(source);
    const { receipt, bytes } = sizedReceipt(given, METRICS_BASE, start);
    const measured = utf8(JSON.stringify(receipt));
    assertEqual(bytes, measured, "bytes is the UTF-8 size of the JSON text");
    assertEqual(receipt.metrics.runOutputBytes, measured);
    assertEqual(receipt.metrics.outputBytes, start + measured);
  }
});

test("receipt layout: fields in order, frozen, trace copied", () => {
  const given = parts();
  const { receipt } = sizedReceipt(given, METRICS_BASE, 0);
  given.trace.push("added later");
  assertDeepEqual(Object.keys(receipt), [
    "kind", "version", "status", "program", "programSource", "values", "outputs", "metrics", "trace", "versions", "validation",
  ]);
  assertDeepEqual([receipt.kind, receipt.version, receipt.status], ["quelt-run-receipt", 1, "success"]);
  assertDeepEqual(Object.keys(receipt.metrics), [...Object.keys(METRICS_BASE), "outputBytes", "runOutputBytes"]);
  assertEqual(receipt.trace.length, 1);
  for (const part of [receipt, receipt.metrics, receipt.trace, receipt.validation, receipt.validation.checks, receipt.trace[0]]) {
    assert(Object.isFrozen(part));
  }
  assertEqual(receipt.values, given.values);
  assertDeepEqual(receiptValidation(), { scope: "types-and-execution", types: true, checks: [], externalTruthVerified: false });
});

test("trace entries", () => {
  const names = ["a"];
  const entry = deriveTraceEntry("total", "cache-hit", names, true, false);
  names.push("b");
  assertDeepEqual(entry, { derive: "total", status: "cache-hit", dependencies: ["a"], cacheable: true, unknown: false });
  assert(Object.isFrozen(entry.dependencies));
  assertDeepEqual(adapterTraceEntry("weather.now", "1.0", false), {
    adapter: "weather.now",
    version: "1.0",
    status: "type-checked",
    usageReported: false,
  });
});

test("metrics base: the ledger's totals, the run's share and the reuse counters", () => {
  const ledger = new Ledger(DEFAULT_BUDGET);
  ledger.step(5);
  ledger.call();
  const start = { steps: ledger.steps, adapterCalls: ledger.adapterCalls };
  ledger.step(7);
  ledger.call();
  ledger.usage({ inputTokens: 3, outputTokens: 4, reasoningTokens: 1 });
  const reuse = reuseMetrics(2);
  reuse.inputHashes = 1;
  reuse.cacheKeysBuilt = 3;
  const base = metricsBase(ledger, start, { cacheHits: 1, computedDerives: 2, poolHighWater: 1 }, reuse);
  assertDeepEqual(Object.keys(base), Object.keys(METRICS_BASE));
  assertDeepEqual(Object.values(base), [12, 2, 3, 4, null, false, 7, 1, 1, 2, 1, 2, 1, false, 0, 0, 3, 0]);
});
