// Run receipts: the frozen record a successful run returns, and the registry
// by which the runtime recognises its own receipts (by identity, never by
// shape).
//
//   isRunReceipt(receipt[, program]) -> Boolean   (exported by the unit)
//   registerReceipt(receipt, program)              last step of a successful run
//   sizedReceipt(parts, metricsBase, startOutputBytes) -> {receipt, bytes}
//       builds the receipt whose metrics state its own JSON size (fixed point,
//       at most 8 passes); parts: {program, programSource, values, outputs,
//       trace, versions} with `program` and `versions` already frozen
//   receiptValidation()                            the fixed validation record
//   reuseMetrics(reusedInputs = 0)                 a run's reuse counters, in receipt order
//   metricsBase(ledger, start, run, reuse)         the metrics before the two size fields;
//       start: {steps, adapterCalls} at the run's start; run: {cacheHits,
//       computedDerives, poolHighWater}; reuse: the run's reuseMetrics
//   deriveTraceEntry(name, status, dependencies, cacheable, unknown)
//   adapterTraceEntry(adapter, version, usageReported)
//   receiptByteSize(receipt)                       UTF-8 size of its JSON text (its values'
//       share counted from what is known of them, not written out)

import { dataField, measuredJsonBytes, plainObject } from "./json-size.mjs";
import { jsonWritesArraysAsData } from "./values.mjs";
import { utf8Size } from "./versions.mjs";

const receipts = new WeakMap();

const SIZE_PASSES = 8;

export function registerReceipt(receipt, program) {
  receipts.set(receipt, program);
}

// With one argument any registered receipt is recognised; with two, only one
// made for that very Program (an explicit undefined compares as undefined).
export function isRunReceipt(receipt, program) {
  if (!receipt || typeof receipt !== "object" || !receipts.has(receipt)) return false;
  return arguments.length === 1 || receipts.get(receipt) === program;
}

export function receiptValidation() {
  return Object.freeze({
    scope: "types-and-execution",
    types: true,
    checks: Object.freeze([]),
    externalTruthVerified: false,
  });
}

export function reuseMetrics(reusedInputs = 0) {
  return {
    reusedInputs,
    inputHashes: 0,
    sourceHashReused: false,
    dependencyHashes: 0,
    adapterHashes: 0,
    cacheKeysBuilt: 0,
    cacheKeysReused: 0,
  };
}

export function metricsBase(ledger, start, run, reuse) {
  return {
    steps: ledger.steps,
    adapterCalls: ledger.adapterCalls,
    inputTokens: ledger.inputTokens,
    outputTokens: ledger.outputTokens,
    reasoningTokens: ledger.reasoningTokens,
    usageComplete: ledger.usageComplete,
    runSteps: ledger.steps - start.steps,
    runAdapterCalls: ledger.adapterCalls - start.adapterCalls,
    cacheHits: run.cacheHits,
    computedDerives: run.computedDerives,
    poolHighWater: run.poolHighWater,
    reusedInputs: reuse.reusedInputs,
    inputHashes: reuse.inputHashes,
    sourceHashReused: reuse.sourceHashReused,
    dependencyHashes: reuse.dependencyHashes,
    adapterHashes: reuse.adapterHashes,
    cacheKeysBuilt: reuse.cacheKeysBuilt,
    cacheKeysReused: reuse.cacheKeysReused,
  };
}

export function deriveTraceEntry(name, status, dependencies, cacheable, unknown) {
  return Object.freeze({
    derive: name,
    status,
    dependencies: Object.freeze([...dependencies]),
    cacheable,
    unknown,
  });
}

export function adapterTraceEntry(adapter, version, usageReported) {
  return Object.freeze({ adapter, version, status: "type-checked", usageReported });
}

export function receiptByteSize(receipt) {
  const measured = jsonWritesArraysAsData() ? measuredReceiptSize(receipt) : -1;
  return measured >= 0 ? measured : utf8Size(JSON.stringify(receipt));
}

// The receipt charges its own size: each pass writes the size measured in the
// previous one into the metrics until the two agree. After the last pass
// without agreement the last receipt built stands with its measured size.
export function sizedReceipt(parts, metricsBase, startOutputBytes) {
  const trace = Object.freeze([...parts.trace]);
  const validation = receiptValidation();
  const build = (bytes) => Object.freeze({
    kind: "quelt-run-receipt",
    version: 1,
    status: "success",
    program: parts.program,
    programSource: parts.programSource,
    values: parts.values,
    outputs: parts.outputs,
    metrics: Object.freeze({ ...metricsBase, outputBytes: startOutputBytes + bytes, runOutputBytes: bytes }),
    trace,
    versions: parts.versions,
    validation,
  });
  // Only the two byte counts change between passes, and they are written as
  // decimal integers, so every later size follows from the first one.
  const first = receiptByteSize(build(0));
  const digits = (n) => String(n).length;
  const sizeWith = (bytes) => first - digits(startOutputBytes) - 1 + digits(startOutputBytes + bytes) + digits(bytes);
  let bytes = 0;
  let built = 0;
  let next = first;
  for (let pass = 0; pass < SIZE_PASSES; pass += 1) {
    built = bytes;
    next = pass === 0 ? first : sizeWith(bytes);
    if (next === bytes) break;
    bytes = next;
  }
  return { receipt: build(built), bytes };
}

// ---- the receipt's JSON size without writing its values ---------------------

// The receipt's `values` and `outputs` hold whole Records and arrays of them;
// writing them out only to count their bytes is most of the receipt's cost.
// Their sizes are summed from what is known of them (measuredJsonBytes), and
// only the rest of the receipt is written, with null in their place. When a
// value cannot be vouched for, the whole receipt is written; so is a receipt
// measured above FULL_TEXT_BYTES, so that one too large to be written fails
// as writing it fails.

const FULL_TEXT_BYTES = 16777216;
const NULL_BYTES = 4;
const hasOwn = Object.hasOwn;

// The UTF-8 size of JSON.stringify(receipt), or -1. Called only while
// jsonWritesArraysAsData() holds: no plain object or array has a toJSON.
function measuredReceiptSize(receipt) {
  if (!plainObject(receipt) || hasOwn(receipt, "toJSON")) return -1;
  if (!dataField(receipt, "values") || !dataField(receipt, "outputs")) return -1;
  const sizes = new Map();
  const values = measuredJsonBytes(receipt.values, sizes);
  const outputs = values < 0 ? -1 : measuredJsonBytes(receipt.outputs, sizes);
  if (outputs < 0) return -1;
  // The copy keeps the receipt's field order: both fields already exist.
  const rest = { ...receipt };
  rest.values = null;
  rest.outputs = null;
  const bytes = utf8Size(JSON.stringify(rest)) - 2 * NULL_BYTES + values + outputs;
  return bytes <= FULL_TEXT_BYTES ? bytes : -1;
}
