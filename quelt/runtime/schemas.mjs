// Named schemas and Results at run time. A value is of a schema or Result type
// only by evidence: the plan of the running Program keeps, in weak tables keyed
// by the very typed value, the token of the declaration that admitted or
// constructed it. Copies, re-wrapped data and values of another Program's plan
// carry no evidence.
//
// Exports (all take the plan of ctx.program):
//   typedTransition(item, type, ctx) -> typed value   binding to a declared type:
//                                 Result and schema values are verified and passed
//                                 on unchanged, built-in types are normalized.
//   admitNamed(record, name, ctx)    -> schema value  (asSchema)
//   requireNamed(item, name, ctx)    -> schema descriptor
//   schemaFailure(code, schema, field, ctx, index = -1)   never returns
//   constructResult(child, name, tag, ctx) -> Result value {value: {tag, value}, type: name}
//   requireResult(item, name, ctx)   -> {descriptor, evidence}
//   resultCopyWork(value, type, ctx) -> steps a payload costs to copy
// All but typedTransition call ctx.check() on entry.

import { fail } from "./diagnostics.mjs";
import { RUNTIME_LIMITS } from "./limits.mjs";
import { matchesFieldType } from "./records.mjs";
import { jsonQuote } from "./utf8.mjs";
import { ev, normalize } from "./values.mjs";
import { planFor } from "./plans.mjs";

export function typedTransition(item, type, ctx) {
  const program = ctx.program;
  const plan = planFor(program);
  if (program.version >= 23 && plan.results !== undefined && plan.results.has(type)) {
    requireResult(item, type, ctx);
    return item;
  }
  if (plan.schemas !== undefined && plan.schemas.has(type)) {
    requireNamed(item, type, ctx);
    return item;
  }
  return ev(normalize(item.value, type), type);
}

// ---- schemas -------------------------------------------------------------------

export function requireNamed(item, name, ctx) {
  ctx.check();
  const plan = planFor(ctx.program);
  const descriptor = plan.schemas === undefined ? undefined : plan.schemas.get(name);
  if (
    descriptor === undefined ||
    !item ||
    item.type !== name ||
    plan.evidence.get(item) !== descriptor.token
  ) {
    fail("VALUE_TYPE", "Ожидается внутреннее значение той же схемы и compiler-issued Program.");
  }
  return descriptor;
}

export function admitNamed(record, name, ctx) {
  ctx.check();
  const plan = planFor(ctx.program);
  const schema = plan.schemas === undefined ? undefined : plan.schemas.get(name);
  if (schema === undefined || !record || record.type !== "Record") {
    fail("VALUE_TYPE", "asSchema требует внутренний Record и исходную схему.");
  }
  const data = record.value;
  for (const field of schema.definition.fields) {
    ctx.step();
    checkSchemaField(schema, field, data, ctx);
  }
  ctx.check();
  const admitted = ev(data, name);
  plan.evidence.set(admitted, schema.token);
  return admitted;
}

function checkSchemaField(schema, field, data, ctx) {
  if (!Object.hasOwn(data, field.key)) schemaFailure("SCHEMA_FIELD_MISSING", schema, field, ctx);
  const value = data[field.key];
  const type = field.type;
  if (!type.endsWith("[]")) {
    if (!matchesFieldType(value, type, ctx)) schemaFailure("SCHEMA_FIELD_TYPE", schema, field, ctx);
    return;
  }
  if (!Array.isArray(value)) schemaFailure("SCHEMA_FIELD_TYPE", schema, field, ctx);
  const itemType = type.slice(0, -2);
  for (let index = 0; index < value.length; index += 1) {
    ctx.step();
    if (!matchesFieldType(value[index], itemType, ctx)) {
      schemaFailure("SCHEMA_FIELD_ITEM_TYPE", schema, field, ctx, index);
    }
  }
}

// A pending cancellation or an expired deadline is reported instead.
export function schemaFailure(code, schema, field, ctx, index = -1) {
  ctx.check();
  fail(
    code,
    "Schema " + schema.definition.name + ", field " + jsonQuote(field.key) +
      ", expected " + field.type + ", index=" + String(index) + ".",
  );
}

// ---- Results -------------------------------------------------------------------

export function requireResult(item, name, ctx) {
  ctx.check();
  const plan = planFor(ctx.program);
  const descriptor = plan.results === undefined ? undefined : plan.results.get(name);
  const evidence = descriptor === undefined || !item ? undefined : plan.resultEvidence.get(item);
  if (
    descriptor === undefined ||
    !item ||
    item.type !== name ||
    evidence === undefined ||
    evidence.token !== descriptor.token
  ) {
    fail("VALUE_TYPE", "Ожидается внутренний Result той же декларации и compiler-issued Program.");
  }
  return { descriptor, evidence };
}

export function constructResult(child, name, tag, ctx) {
  ctx.check();
  const plan = planFor(ctx.program);
  const descriptor = plan.results === undefined ? undefined : plan.results.get(name);
  if (descriptor === undefined || (tag !== "ok" && tag !== "err")) {
    fail("VALUE_TYPE", "Неизвестная внутренняя декларация Result.");
  }
  const payloadType = tag === "ok" ? descriptor.definition.successType : "Text";
  const work = resultCopyWork(child.value, payloadType, ctx);
  ctx.step(work + 2);
  const payload = normalize(child.value, payloadType);
  ctx.check();
  const observation = Object.freeze({ tag, value: payload });
  const constructed = ev(observation, name);
  // The last check runs before the evidence is recorded, so a refused
  // construction leaves nothing behind.
  ctx.check();
  plan.resultEvidence.set(constructed, { token: descriptor.token, tag, payload });
  return constructed;
}

// Steps that copying a payload of `type` costs: arrays their length plus their
// items' work, Records their members at every level, anything else nothing.
export function resultCopyWork(value, type, ctx) {
  ctx.check();
  if (type.endsWith("[]")) return arrayWork(value, type.slice(0, -2), ctx);
  if (type === "Record") return recordMembers(value, ctx);
  return 0;
}

function arrayWork(value, itemType, ctx) {
  if (!Array.isArray(value)) return 0;
  let total = value.length;
  for (let index = 0; index < value.length; index += 1) {
    ctx.check();
    total += resultCopyWork(value[index], itemType, ctx);
    if (!Number.isSafeInteger(total)) fail("VALUE_TYPE", "Небезопасный размер внутреннего Result.");
    ctx.check();
  }
  return total;
}

function recordMembers(value, ctx) {
  const counts = { members: 0 };
  visitMembers(value, 0, counts, ctx);
  return counts.members;
}

function visitMembers(value, depth, counts, ctx) {
  ctx.check();
  if (value === null || typeof value !== "object") return;
  if (depth > RUNTIME_LIMITS.recordDepth) fail("RECORD_LIMIT", "Record depth limit");
  const array = Array.isArray(value);
  const names = array ? null : Object.keys(value);
  const length = array ? value.length : names.length;
  counts.members += length;
  if (counts.members > RUNTIME_LIMITS.recordMembers) fail("RECORD_LIMIT", "Record member limit");
  for (let index = 0; index < length; index += 1) {
    ctx.check();
    visitMembers(array ? value[index] : value[names[index]], depth + 1, counts, ctx);
    ctx.check();
  }
}
