// The single-value pipeline stages of the evaluator: code-point slicing,
// scalar-to-text conversion, integer division, the optional-data stages, the
// record stages, the text stages, the parsers and bit operations, and the stages
// of named schemas and Results. Most verify that the compiler's static types
// and the runtime values agree and hand over to an operation of ./numeric.mjs,
// ./text.mjs, ./records.mjs, ./record-json.mjs or ./schemas.mjs.
//
// Exports:
//   stageCompiler(kind) -> (node, unit) -> {run, runAsync}, or undefined for
//                     a kind that is not one of these stages; used by the
//                     evaluator's dispatch (./evaluator.mjs).
//   matchResult(item, expression, ctx) -> typed value: runs the `ok` or `err`
//                     handler of a resultMatch node on a Result value.

import { fail } from "./diagnostics.mjs";
import { compiled, functionNamed, invokeFunctionSync, mapGet, runEither, sequence, staticType } from "./evaluator.mjs";
import { intBits, parseTextInt, textParseFloat } from "./numeric.mjs";
import { encodeRecordJson } from "./record-json.mjs";
import { checkRecordFields, recordFields, recordKeys, recordWork } from "./records.mjs";
import { admitNamed, constructResult, requireNamed, requireResult, resultCopyWork } from "./schemas.mjs";
import { textOperation } from "./text.mjs";
import { boundedText, canonical, ev, normalize, ownObject, unknownMarker } from "./values.mjs";

// ---- slice ------------------------------------------------------------------------

function finishSlice(node, ctx, value, start, count) {
  ctx.check();
  if (
    staticType(ctx, node.value) !== "Text" ||
    staticType(ctx, node.start) !== "Int" ||
    staticType(ctx, node.count) !== "Int"
  ) {
    fail("VALUE_TYPE", "slice требует Text и два Int.");
  }
  const text = normalize(value.value, "Text");
  const first = normalize(start.value, "Int");
  const size = normalize(count.value, "Int");
  if (first < 0 || size < 0) fail("TEXT_SLICE_RANGE", "Начало и количество slice должны быть неотрицательными.");
  if (size === 0) return ev("", "Text");
  let position = 0;
  let point = 0;
  let from = -1;
  let end = 0;
  let remaining = size;
  while (position < text.length) {
    ctx.step();
    let width = 1;
    const unit = text.charCodeAt(position);
    if (unit >= 0xd800 && unit <= 0xdbff && position + 1 < text.length) {
      ctx.check();
      const next = text.charCodeAt(position + 1);
      if (next >= 0xdc00 && next <= 0xdfff) {
        ctx.step();
        width = 2;
      }
    }
    if (point >= first) {
      if (from < 0) from = position;
      end = position + width;
      remaining -= 1;
    }
    position += width;
    point += 1;
    if (from >= 0 && remaining === 0) break;
  }
  ctx.check();
  return ev(from < 0 ? "" : text.slice(from, end), "Text");
}

// ---- toText, quotient, remainder ------------------------------------------------------

function finishToText(node, ctx, value) {
  ctx.check();
  const type = staticType(ctx, node.value);
  if (type !== "Int" && type !== "Float" && type !== "Truth") fail("VALUE_TYPE", "toText требует Int, Float или Truth.");
  const scalar = normalize(value.value, type);
  const text = type === "Truth" ? (unknownMarker(scalar) ? "unknown" : scalar) : canonical(scalar);
  return ev(boundedText(text), "Text");
}

// Exact on safe integers: the remainder is exact, and so is the division of
// the exact multiple that remains.
function integerDivision(quotient) {
  return (node, ctx, left, right) => {
    ctx.check();
    if (left.type !== "Int" || right.type !== "Int") fail("VALUE_TYPE", "Целочисленное деление требует Int.");
    const dividend = normalize(left.value, "Int");
    const divisor = normalize(right.value, "Int");
    if (divisor === 0) fail("INT_DIV_ZERO", "Делитель Int не может быть нулём.");
    const remainder = dividend % divisor;
    const result = quotient ? (dividend - remainder) / divisor : remainder;
    return ev(result === 0 ? 0 : result, "Int");
  };
}

// ---- present, orElse, require -------------------------------------------------------------

function optionalStage(node, unit) {
  const kind = node.kind;
  const value = compiled(node.value, unit);
  const fallback = kind === "orElse" ? compiled(node.fallback, unit) : null;
  const runValue = value.run;
  // What is decided once the receiver is known; `null` means "evaluate the fallback".
  const decide = (ctx, item) => {
    ctx.step();
    const absent = unknownMarker(item.value);
    if (kind === "present") return ev(absent ? "no" : "yes", "Truth");
    if (!absent) return ev(item.value, staticType(ctx, node));
    if (kind === "require") fail("OPTIONAL_ABSENT", "Отсутствует обязательное значение DATA.");
    return null;
  };
  const run = (env, ctx) => {
    ctx.step();
    const decided = decide(ctx, runValue(env, ctx));
    if (decided !== null) return decided;
    return ev(fallback.run(env, ctx).value, staticType(ctx, node));
  };
  const runAsync = value.runAsync !== null || (fallback !== null && fallback.runAsync !== null)
    ? async (env, ctx) => {
        ctx.step();
        const decided = decide(ctx, await runEither(value, env, ctx));
        if (decided !== null) return decided;
        return ev((await runEither(fallback, env, ctx)).value, staticType(ctx, node));
      }
    : null;
  return { run, runAsync };
}

// ---- record stages ------------------------------------------------------------------------

const FIELD_VALUE_TYPE = /^(Int|Float|Text|Truth|Record)(\[\])?\??$/;
const FIELD_OPERATION = "Операция поля требует Record, Text и исходные данные поля.";

function fieldValueTypeAllowed(type) {
  return type === "Unknown" || type === "EmptyArray" || FIELD_VALUE_TYPE.test(type);
}

function finishWithField(node, ctx, record, key, value) {
  ctx.check();
  if (
    staticType(ctx, node.record) !== "Record" ||
    staticType(ctx, node.key) !== "Text" ||
    !ownObject(record.value) ||
    typeof key.value !== "string" ||
    !fieldValueTypeAllowed(staticType(ctx, node.value))
  ) {
    fail("VALUE_TYPE", FIELD_OPERATION);
  }
  return recordFields(record.value, key.value, value.value, false, ctx);
}

function finishWithoutField(node, ctx, record, key) {
  ctx.check();
  if (
    staticType(ctx, node.record) !== "Record" ||
    staticType(ctx, node.key) !== "Text" ||
    !ownObject(record.value) ||
    typeof key.value !== "string"
  ) {
    fail("VALUE_TYPE", FIELD_OPERATION);
  }
  return recordFields(record.value, key.value, undefined, true, ctx);
}

function finishKeys(node, ctx, value) {
  ctx.check();
  if (staticType(ctx, node.value) !== "Record" || !ownObject(value.value)) fail("VALUE_TYPE", "keys требует известный Record.");
  return ev(recordKeys(value.value, ctx), "Text[]");
}

function finishCheckFields(node, ctx, record) {
  ctx.check();
  return ev(checkRecordFields(record.value, node.fields, ctx), "Record");
}

function finishToJson(node, ctx, record) {
  ctx.check();
  return ev(encodeRecordJson(record.value, ctx), "Text");
}

// ---- text stages, parsers, bits ----------------------------------------------------------------

function isTextOperation(op) {
  return op === "contains" || op === "startsWith" || op === "endsWith" || op === "split" || op === "join";
}

function finishTextOp(node, ctx, value, argument) {
  ctx.check();
  const op = node.op;
  const receiverType = op === "join" ? "Text[]" : "Text";
  if (
    !isTextOperation(op) ||
    staticType(ctx, node.value) !== receiverType ||
    staticType(ctx, node.argument) !== "Text" ||
    typeof argument.value !== "string" ||
    (op === "join" ? !Array.isArray(value.value) : typeof value.value !== "string")
  ) {
    fail("VALUE_TYPE", "Text-операция требует известные типизированные данные.");
  }
  return textOperation(op, value.value, argument.value, ctx);
}

function finishParseInt(node, ctx, value) {
  return ev(parseTextInt(value.value, ctx), "Int");
}

function finishParseFloat(node, ctx, value) {
  return textParseFloat(value, ctx);
}

function finishIntBits(node, ctx, receiver, argument) {
  return intBits(node.op, receiver, argument, ctx);
}

function compileIntBits(node, unit) {
  const children = Object.hasOwn(node, "argument") ? [node.value, node.argument] : [node.value];
  return sequence(node, unit, children, finishIntBits);
}

// ---- schemas and Results -------------------------------------------------------------------------

function finishAsSchema(node, ctx, record) {
  return admitNamed(record, node.schema, ctx);
}

function finishSchemaField(node, ctx, value) {
  const schema = requireNamed(value, node.schema, ctx);
  ctx.step();
  const entry = mapGet(schema.fields, node.field);
  if (entry === undefined) fail("VALUE_TYPE", "Неизвестное внутреннее поле исходной схемы.");
  const data = value.value;
  if (!Object.hasOwn(data, entry.key)) fail("VALUE_TYPE", "Отсутствует проверенное внутреннее поле схемы.");
  const field = data[entry.key];
  ctx.step(recordWork(field));
  const selected = normalize(field, entry.type);
  ctx.check();
  return ev(selected, entry.type);
}

function finishToRecord(node, ctx, value) {
  requireNamed(value, node.schema, ctx);
  ctx.check();
  return ev(value.value, "Record");
}

function finishResultValue(node, ctx, value) {
  return constructResult(value, node.name, node.tag, ctx);
}

export function matchResult(item, expression, ctx) {
  ctx.check();
  const name = staticType(ctx, expression.value);
  const { descriptor, evidence } = requireResult(item, name, ctx);
  ctx.step();
  const tag = evidence.tag;
  const payload = evidence.payload;
  const payloadType = tag === "ok" ? descriptor.definition.successType : "Text";
  ctx.step(resultCopyWork(payload, payloadType, ctx));
  const handlerName = tag === "ok" ? expression.ok : expression.err;
  const handler = functionNamed(ctx, handlerName);
  if (handler === undefined) fail("UNKNOWN_FUNCTION", "Неизвестная функция " + handlerName + ".");
  const result = invokeFunctionSync(handler, [ev(payload, payloadType)], ctx);
  ctx.check();
  return result;
}

function finishResultMatch(node, ctx, value) {
  return matchResult(value, node, ctx);
}

// ---- dispatch table ----------------------------------------------------------------------------------

const single = (finish) => (node, unit) => sequence(node, unit, [node.value], finish);
const onRecord = (finish) => (node, unit) => sequence(node, unit, [node.record], finish);

// Built on first use: a request that runs no Program never needs it.
let stageCompilers = null;

function buildStageCompilers() {
  return {
    parseFloat: single(finishParseFloat),
    intBits: compileIntBits,
    resultValue: single(finishResultValue),
    resultMatch: single(finishResultMatch),
    asSchema: onRecord(finishAsSchema),
    schemaField: single(finishSchemaField),
    toRecord: single(finishToRecord),
    toJson: onRecord(finishToJson),
    checkFields: onRecord(finishCheckFields),
    parseInt: single(finishParseInt),
    withField: (node, unit) => sequence(node, unit, [node.record, node.key, node.value], finishWithField),
    withoutField: (node, unit) => sequence(node, unit, [node.record, node.key], finishWithoutField),
    textOp: (node, unit) => sequence(node, unit, [node.value, node.argument], finishTextOp),
    keys: single(finishKeys),
    slice: (node, unit) => sequence(node, unit, [node.value, node.start, node.count], finishSlice),
    toText: single(finishToText),
    quotient: (node, unit) => sequence(node, unit, [node.left, node.right], integerDivision(true)),
    remainder: (node, unit) => sequence(node, unit, [node.left, node.right], integerDivision(false)),
    present: optionalStage,
    orElse: optionalStage,
    require: optionalStage,
  };
}

export function stageCompiler(kind) {
  stageCompilers ??= buildStageCompilers();
  return Object.hasOwn(stageCompilers, kind) ? stageCompilers[kind] : undefined;
}
