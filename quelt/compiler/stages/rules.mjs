// Type rules of the stage nodes. Each rule receives the node and a small
// context `c` bound to it (see stages.mjs):
//   c.check(child)          walks a child one level deeper, returns its type text
//   c.require(ok, message)  TYPE_MISMATCH at the node unless ok
//   c.noResult(...types)    RESULT_TYPE when any type names a declared Result
//   c.fail(code, message)   any other failure at the node
//   c.result(name)          the declared Result record, or undefined
//   c.schema(name)          the declared schema record, or undefined
//   c.isResult(type), c.isSchema(type)
//   c.callback(name)        the module function a callback or handler names,
//                           refusing unknown and effect functions
//   c.recordCall(name)      notes a call from the enclosing function, if any
// Children are checked in the listed order before the rule's own conditions.
import { parts, assignable, isBase, isScalar, isReaderDomain } from "../types.mjs";

// A non-optional array of one of the five built-in bases.
function isBaseArray(type) {
  const p = parts(type);
  return p.array && !p.optional && isBase(p.base);
}

function elementOf(type) {
  return parts(type).base;
}

// ---- Results ---------------------------------------------------------------

function resultValue(node, c) {
  const received = c.check(node.value);
  const declared = c.result(node.name);
  if (declared === undefined) c.fail("RESULT_UNKNOWN", `Unknown Result ${node.name}`);
  const required = node.tag === "ok" ? declared.successType : "Text";
  c.require(assignable(received, required), `${node.tag} requires ${required}, received ${received}`);
  return node.name;
}

function resultMatch(node, c) {
  const received = c.check(node.value);
  const declared = c.isResult(received) ? c.result(received) : undefined;
  if (declared === undefined) c.fail("RESULT_TYPE", "match requires a known Result");
  const okType = matchHandler(node.ok, declared.successType, c);
  const errType = matchHandler(node.err, "Text", c);
  c.require(okType === errType, "match handlers require the same exact return domain");
  c.recordCall(node.ok);
  c.recordCall(node.err);
  return okType;
}

function matchHandler(name, parameterType, c) {
  const handler = c.callback(name);
  const params = handler.params;
  c.require(
    params.length === 1 && params[0].type === parameterType && isReaderDomain(handler.returnType),
    `match callback ${name} requires exactly ${parameterType} and one required old result domain`,
  );
  return handler.returnType;
}

// ---- Integer bits ----------------------------------------------------------

function intBits(node, c) {
  const value = c.check(node.value);
  const types = [value];
  if (node.op !== "not") types.push(c.check(node.argument));
  c.noResult(...types);
  c.require(
    types.every((type) => type === "Int"),
    "Int bit operations require known nonoptional Int operands",
  );
  return "Int";
}

// ---- Schemas and records ---------------------------------------------------

function asSchema(node, c) {
  const received = c.check(node.record);
  c.noResult(received);
  c.require(received === "Record", "asSchema requires a known nonoptional Record");
  if (c.schema(node.schema) === undefined) c.fail("SCHEMA_REFERENCE", `Unknown schema ${node.schema}`);
  return node.schema;
}

function schemaField(node, c) {
  const received = c.check(node.value);
  c.noResult(received);
  c.require(c.isSchema(received), "field requires a named schema value");
  const declared = c.schema(received).fields.find((field) => field.key === node.field);
  if (declared === undefined) {
    c.fail("SCHEMA_FIELD", `Schema ${received} has no declared field ${JSON.stringify(node.field)}`);
  }
  node.schema = received;
  return declared.type;
}

function toRecord(node, c) {
  const received = c.check(node.value);
  c.noResult(received);
  c.require(c.isSchema(received), "toRecord requires a named schema value");
  node.schema = received;
  return "Record";
}

// Rules of the form: check one receiver, noResult, require an exact type.
function exactReceiver(field, required, message, type) {
  return (node, c) => {
    const received = c.check(node[field]);
    c.noResult(received);
    c.require(required.includes(received), message);
    return type;
  };
}

function withField(node, c) {
  const record = c.check(node.record);
  const key = c.check(node.key);
  const value = c.check(node.value);
  c.require(!c.isSchema(value), "withField cannot implicitly erase a named schema");
  c.noResult(record, key);
  c.require(record === "Record" && key === "Text", "withField requires known nonoptional Record and Text");
  c.noResult(value);
  return "Record";
}

function withoutField(node, c) {
  const record = c.check(node.record);
  const key = c.check(node.key);
  c.noResult(record, key);
  c.require(record === "Record" && key === "Text", "withoutField requires known nonoptional Record and Text");
  return "Record";
}

// ---- Text ------------------------------------------------------------------

const TEXT_OP_TYPES = { contains: "Truth", startsWith: "Truth", endsWith: "Truth", split: "Text[]", join: "Text" };

function textOp(node, c) {
  const value = c.check(node.value);
  const argument = c.check(node.argument);
  c.noResult(value, argument);
  const receiver = node.op === "join" ? "Text[]" : "Text";
  c.require(
    value === receiver && argument === "Text",
    `${node.op} requires known nonoptional ${receiver} and Text`,
  );
  return TEXT_OP_TYPES[node.op];
}

function slice(node, c) {
  const value = c.check(node.value);
  const start = c.check(node.start);
  const count = c.check(node.count);
  c.noResult(value, start, count);
  c.require(
    value === "Text" && start === "Int" && count === "Int",
    "slice requires known nonoptional Text, Int start and Int count",
  );
  return "Text";
}

// ---- Integer division ------------------------------------------------------

function integerDivision(node, c) {
  const left = c.check(node.left);
  const right = c.check(node.right);
  c.noResult(left, right);
  c.require(left === "Int" && right === "Int", `${node.kind} requires two known nonoptional Int operands`);
  return "Int";
}

// ---- Optional data ---------------------------------------------------------

// Checks the receiver (and the fallback of orElse) and answers the receiver's
// plain type after the optional-data receiver rule.
function optionalReceiver(node, c) {
  const received = c.check(node.value);
  const fallback = node.kind === "orElse" ? c.check(node.fallback) : null;
  c.noResult(received);
  const p = parts(received);
  c.require(
    p.optional && isBase(p.base) && (p.array || p.base !== "Truth"),
    `${node.kind} requires known Optional DATA; scalar Truth is excluded`,
  );
  return { plain: p.plain, fallback };
}

function present(node, c) {
  optionalReceiver(node, c);
  return "Truth";
}

function requirePlain(node, c) {
  return optionalReceiver(node, c).plain;
}

function orElse(node, c) {
  const { plain, fallback } = optionalReceiver(node, c);
  c.noResult(fallback);
  c.require(
    !parts(fallback).optional && assignable(fallback, plain),
    `orElse fallback requires nonoptional ${plain}, received ${fallback}`,
  );
  return plain;
}

// ---- Arrays ----------------------------------------------------------------

function concat(node, c) {
  const left = c.check(node.left);
  const right = c.check(node.right);
  c.noResult(left, right);
  c.require(isBaseArray(left), "concat requires a known nonoptional primitive or Record array receiver");
  const rightParts = parts(right);
  c.require(
    right === "EmptyArray" || (rightParts.array && !rightParts.optional && assignable(right, left)),
    `concat RHS requires a nonoptional array assignable to ${left}, received ${right}`,
  );
  return left;
}

function append(node, c) {
  const array = c.check(node.array);
  const item = c.check(node.item);
  c.noResult(array);
  c.require(isBaseArray(array), "append requires a known nonoptional primitive or Record array");
  c.noResult(item);
  const base = elementOf(array);
  c.require(assignable(item, base), `append item requires ${base}, received ${item}`);
  return array;
}

function at(node, c) {
  const array = c.check(node.array);
  const index = c.check(node.index);
  c.noResult(array);
  c.require(isBaseArray(array), "at requires a known nonoptional primitive or Record array");
  c.noResult(index);
  c.require(index === "Int", "at requires a known nonoptional Int index");
  return elementOf(array);
}

// ---- Callbacks -------------------------------------------------------------

const ARRAY_RECEIVER = (stage) => `${stage} requires a known nonoptional primitive or Record array`;

// One entry per callback stage: the receiver field and rule, the guard's shape
// requirement and message, the signature rule and message, and the type.
// Built on first use, like the table of rules below.
let callbackStages = null;

function buildCallbackStages() {
  return {
    sortBy: {
      receiver: "array",
      acceptsEmpty: false,
      guard: "sortBy requires exactly one ordinary callback parameter",
      guardShape: oneScalarParameter,
      signature: (p, ret) => oneScalarParameter(p) && (ret === "Int" || ret === "Float" || ret === "Text"),
      signatureMessage: (name) =>
        `sortBy callback ${name} requires exactly one nonoptional primitive or Record parameter and exact Int, Float or Text result`,
      type: (receiver) => receiver,
    },
    filter: {
      receiver: "array",
      acceptsEmpty: false,
      guard: "filter requires exactly one ordinary callback parameter",
      guardShape: oneScalarParameter,
      signature: (p, ret) => oneScalarParameter(p) && ret === "Truth",
      signatureMessage: (name) =>
        `filter callback ${name} requires exactly one nonoptional primitive or Record parameter and exact Truth result`,
      type: (receiver) => receiver,
    },
    each: {
      receiver: "array",
      acceptsEmpty: true,
      guard: "each requires exactly one ordinary callback parameter",
      guardShape: oneScalarParameter,
      signature: (p, ret) => oneScalarParameter(p) && isScalar(ret),
      signatureMessage: (name) =>
        `each callback ${name} requires exactly one nonoptional primitive or Record parameter and result`,
      type: (receiver, ret) => `${ret}[]`,
    },
    fold: {
      receiver: "array",
      acceptsEmpty: true,
      guard: "fold requires exactly two callback parameters and an ordinary item domain",
      guardShape: (p) => p.length === 2 && isScalar(p[1].type),
      signature: (p, ret) => p.length === 2 && isScalar(p[0].type) && isScalar(p[1].type) && isScalar(ret),
      signatureMessage: (name) =>
        `fold callback ${name} requires exactly two nonoptional primitive or Record parameters and result`,
      type: (receiver, ret) => ret,
    },
    repeat: {
      receiver: "count",
      acceptsEmpty: false,
      guard: "repeat requires exactly two callback parameters and an Int index",
      guardShape: (p) => p.length === 2 && p[1].type === "Int",
      signature: (p, ret) => p.length === 2 && isScalar(p[0].type) && p[1].type === "Int" && isScalar(ret),
      signatureMessage: (name) =>
        `repeat callback ${name} requires exactly two nonoptional parameters: primitive or Record state and Int index, with primitive or Record result`,
      type: (receiver, ret) => ret,
    },
  };
}

function oneScalarParameter(params) {
  return params.length === 1 && isScalar(params[0].type);
}

function callbackStage(node, c) {
  const stage = node.kind;
  callbackStages ??= buildCallbackStages();
  const rule = callbackStages[stage];
  const seeded = stage === "fold" || stage === "repeat";
  const receiver = c.check(node[rule.receiver]);
  const seed = seeded ? c.check(node.initial) : null;
  c.noResult(receiver);

  if (stage === "repeat") c.require(receiver === "Int", "repeat requires a known nonoptional Int count");
  else c.require((rule.acceptsEmpty && receiver === "EmptyArray") || isBaseArray(receiver), ARRAY_RECEIVER(stage));

  const name = node.name;
  const callback = c.callback(name);
  const params = callback.params;
  const returned = callback.returnType;
  const state = params.length > 0 ? params[0].type : undefined;

  const involvesResult = seeded
    ? c.isResult(seed) || (state !== undefined && c.isResult(state)) || c.isResult(returned)
    : c.isResult(returned);
  if (involvesResult) {
    c.require(rule.guardShape(params), rule.guard);
    c.fail("RESULT_TYPE", "Named Result is forbidden in this operation");
  }

  c.require(rule.signature(params, returned), rule.signatureMessage(name));

  if (seeded) {
    c.require(returned === state, `${stage} callback ${name} result must exactly match state type ${state}`);
    c.require(assignable(seed, state), `${stage} callback ${name} seed requires ${state}, received ${seed}`);
  }

  if (stage !== "repeat" && receiver !== "EmptyArray") {
    const element = elementOf(receiver);
    const parameter = stage === "fold" ? params[1].type : params[0].type;
    const wording = stage === "fold" ? " item requires " : " requires ";
    c.require(assignable(element, parameter), `${stage} callback ${name}${wording}${parameter}, received ${element}`);
  }

  c.recordCall(name);
  return rule.type(receiver, returned);
}

// ---- the table -------------------------------------------------------------

// Node kind -> rule, built on first use: only a source with a pipeline stage
// needs it.
let rules = null;

function buildRules() {
  return {
    __proto__: null,
    resultValue,
    resultMatch,
    intBits,
    asSchema,
    schemaField,
    toRecord,
    toJson: exactReceiver("record", ["Record"], "toJson requires a known nonoptional Record", "Text"),
    checkFields: exactReceiver("record", ["Record"], "checkFields requires a known nonoptional Record", "Record"),
    concat,
    withField,
    withoutField,
    textOp,
    keys: exactReceiver("value", ["Record"], "keys requires known nonoptional Record", "Text[]"),
    slice,
    parseInt: exactReceiver("value", ["Text"], "parseInt requires known nonoptional Text", "Int"),
    parseFloat: exactReceiver("value", ["Text"], "parseFloat requires known nonoptional Text", "Float"),
    toText: exactReceiver("value", ["Int", "Float", "Truth"], "toText requires known nonoptional Int, Float or Truth", "Text"),
    quotient: integerDivision,
    remainder: integerDivision,
    present,
    require: requirePlain,
    orElse,
    append,
    at,
    sortBy: callbackStage,
    filter: callbackStage,
    each: callbackStage,
    fold: callbackStage,
    repeat: callbackStage,
  };
}

export function ruleFor(kind) {
  rules ??= buildRules();
  return rules[kind];
}

