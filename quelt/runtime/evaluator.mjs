// The expression evaluator: computes the typed value of one node of a
// compiler-issued Program.
//
// Exports:
//   evaluate(expression, env, ctx)      -> promise of a typed value (general path;
//                                          may meet adapter calls).
//   evaluateSync(expression, env, ctx)  -> typed value, for expressions that cannot
//                                          reach an adapter (the plan says so); the
//                                          same checks, charges and failures in the
//                                          same order, without a promise per node.
//   invokeFunction(fn, args, ctx)       -> promise of a typed value.
//   invokeFunctionSync(fn, args, ctx)   -> typed value (pure functions).
//   reachesAdapter(expression, program) -> Boolean: evaluating it may call an adapter.
// Helpers shared with the stage modules (./array-stages.mjs, ./stages.mjs):
//   compiled(node, program), sequence(node, program, children, finish), runEither,
//   staticType(ctx, node), functionNamed(ctx, name), mapGet(table, key).
//
// `env` is a Map (or a prototype-less record) from name to typed value; function
// bodies get a fresh Map holding only their parameters and locals. `ctx` is the
// run context: program, functions (Map name -> declaration), check(), step(n),
// and what the adapter call reads.
//
// How it runs: every node is compiled once (per node object, weakly held) into
// a closure `run(env, ctx)` that charges the node's step, evaluates its children
// in their fixed order and then does the node's own work. Nodes whose subtree can
// reach an adapter call also get `runAsync`, the same steps with the children
// awaited; every other subtree is evaluated by `run` even on the asynchronous
// path, so a Program without adapters costs one promise per `evaluate` call.
// Callbacks and Result handlers are pure in the language, so they always run
// synchronously.

import { TEXT_CONCAT_LIMITS, getExpressionType } from "quelt/compiler.mjs";
import { callAdapter } from "./adapter-calls.mjs";
import { ARRAY_STAGE_COMPILERS } from "./array-stages.mjs";
import { fail } from "./diagnostics.mjs";
import { compare, intOperation, numeric, truthValue } from "./numeric.mjs";
import { recordWork } from "./records.mjs";
import { typedTransition } from "./schemas.mjs";
import { STAGE_COMPILERS } from "./stages.mjs";
import { utf8Length } from "./utf8.mjs";
import { UNKNOWN, base, ev, normalize } from "./values.mjs";

// ---- public entry points ----------------------------------------------------

export async function evaluate(expression, env, ctx) {
  return runEither(compiled(expression, ctx.program), env, ctx);
}

export function evaluateSync(expression, env, ctx) {
  return compiled(expression, ctx.program).run(env, ctx);
}

export async function invokeFunction(fn, args, ctx) {
  const compiledFn = compiledFunction(fn, ctx.program);
  return compiledFn.callAsync !== null ? compiledFn.callAsync(args, ctx) : compiledFn.call(args, ctx);
}

export function invokeFunctionSync(fn, args, ctx) {
  return compiledFunction(fn, ctx.program).call(args, ctx);
}

export function reachesAdapter(expression, program) {
  return compiled(expression, program).runAsync !== null;
}

// ---- shared helpers -------------------------------------------------------------

export function runEither(node, env, ctx) {
  return node.runAsync !== null ? node.runAsync(env, ctx) : node.run(env, ctx);
}

export function mapGet(table, key) {
  if (table instanceof Map) return table.get(key);
  return table !== null && typeof table === "object" && Object.hasOwn(table, key) ? table[key] : undefined;
}

export function functionNamed(ctx, name) {
  return mapGet(ctx.functions, name);
}

export function staticType(ctx, node) {
  return getExpressionType(ctx.program, node);
}

function lookup(env, name) {
  if (env instanceof Map) return env.get(name);
  return Object.hasOwn(env, name) ? env[name] : undefined;
}

// Names that are schemas or (from AST version 23) Results: values bound to these
// types go through typedTransition; every other type is re-admitted directly.
const namedTypeSets = new WeakMap();

function namedTypes(program) {
  let names = namedTypeSets.get(program);
  if (names === undefined) {
    names = new Set();
    if (program.version >= 22) for (const schema of program.schemas ?? []) names.add(schema.name);
    if (program.version >= 23) for (const result of program.results ?? []) names.add(result.name);
    namedTypeSets.set(program, names);
  }
  return names;
}

function isNamedType(program, type) {
  return namedTypes(program).has(type);
}

function transition(item, type, named, ctx) {
  return named ? typedTransition(item, type, ctx) : ev(normalize(item.value, type), type);
}

// ---- compilation ------------------------------------------------------------------

const compiledNodes = new WeakMap();

export function compiled(node, program) {
  if (node === null || typeof node !== "object") return unknownNode();
  let result = compiledNodes.get(node);
  if (result === undefined) {
    result = compileNode(node, program);
    compiledNodes.set(node, result);
  }
  return result;
}

// Children first, in the listed order, then `finish(node, ctx, ...values)`.
export function sequence(node, program, children, finish) {
  const kids = children.map((child) => compiled(child, program));
  const runAsync = kids.some((kid) => kid.runAsync !== null) ? sequenceAsync(node, kids, finish) : null;
  return { run: sequenceRun(node, kids, finish), runAsync };
}

function sequenceRun(node, kids, finish) {
  switch (kids.length) {
    case 0:
      return (env, ctx) => {
        ctx.step();
        return finish(node, ctx);
      };
    case 1: {
      const a = kids[0].run;
      return (env, ctx) => {
        ctx.step();
        return finish(node, ctx, a(env, ctx));
      };
    }
    case 2: {
      const a = kids[0].run;
      const b = kids[1].run;
      return (env, ctx) => {
        ctx.step();
        const x = a(env, ctx);
        return finish(node, ctx, x, b(env, ctx));
      };
    }
    default: {
      const runs = kids.map((kid) => kid.run);
      return (env, ctx) => {
        ctx.step();
        const values = new Array(runs.length);
        for (let i = 0; i < runs.length; i += 1) values[i] = runs[i](env, ctx);
        return finish(node, ctx, ...values);
      };
    }
  }
}

function sequenceAsync(node, kids, finish) {
  return async (env, ctx) => {
    ctx.step();
    const values = new Array(kids.length);
    for (let i = 0; i < kids.length; i += 1) values[i] = await runEither(kids[i], env, ctx);
    return finish(node, ctx, ...values);
  };
}

function unknownNode() {
  return {
    run(env, ctx) {
      ctx.step();
      return fail("EXPRESSION_KIND", "Неизвестный узел выражения.");
    },
    runAsync: null,
  };
}

function compileNode(node, program) {
  const kind = node.kind;
  if (typeof kind !== "string") return unknownNode();
  switch (kind) {
    case "literal":
      return compileLiteral(node);
    case "ref":
      return compileRef(node);
    case "array":
      return compileArray(node, program);
    case "record":
      return compileRecord(node, program);
    case "unary":
      return compileUnary(node, program);
    case "binary":
      return compileBinary(node, program);
    case "call":
      return node.name === "choose" ? compileChoose(node, program) : compileCall(node, program);
    default:
      if (Object.hasOwn(ARRAY_STAGE_COMPILERS, kind)) return ARRAY_STAGE_COMPILERS[kind](node, program);
      if (Object.hasOwn(STAGE_COMPILERS, kind)) return STAGE_COMPILERS[kind](node, program);
      return unknownNode();
  }
}

// ---- literal, ref -----------------------------------------------------------------

function compileLiteral(node) {
  const { value, type } = node;
  if (type === "Unknown") {
    return sequence(node, null, [], () => ev(UNKNOWN, "Unknown"));
  }
  // Literals are re-admitted on every evaluation; admission of a scalar is a pure
  // function of it, so a literal that is admitted once is admitted every time.
  let admitted;
  try {
    admitted = normalize(value, type);
  } catch {
    return sequence(node, null, [], () => ev(normalize(value, type), type));
  }
  return sequence(node, null, [], () => ev(admitted, type));
}

function compileRef(node) {
  const name = node.name;
  return {
    run(env, ctx) {
      ctx.step();
      const item = lookup(env, name);
      if (item === undefined) fail("MISSING_REFERENCE", "Нет значения " + name + ".");
      return item;
    },
    runAsync: null,
  };
}

// ---- array, record ------------------------------------------------------------------

function arrayType(items) {
  const seen = [];
  for (const item of items) {
    const type = base(item.type);
    if (!seen.includes(type)) seen.push(type);
  }
  if (seen.length === 0) return "EmptyArray";
  if (seen.length === 1) return seen[0] + "[]";
  return seen.every((type) => type === "Int" || type === "Float") ? "Float[]" : "Truth[]";
}

function finishArray(node, ctx, ...items) {
  const values = new Array(items.length);
  for (let i = 0; i < items.length; i += 1) values[i] = items[i].value;
  return ev(Object.freeze(values), arrayType(items));
}

function compileArray(node, program) {
  return sequence(node, program, node.items, finishArray);
}

function finishRecord(node, ctx, ...items) {
  const fields = node.fields;
  const object = Object.create(null);
  for (let i = 0; i < fields.length; i += 1) object[fields[i].key] = items[i].value;
  ctx.step(recordWork(object));
  return ev(normalize(object, "Record"), "Record");
}

function compileRecord(node, program) {
  return sequence(
    node,
    program,
    node.fields.map((field) => field.expression),
    finishRecord,
  );
}

// ---- unary, binary ---------------------------------------------------------------------

const INT_ZERO = Object.freeze(ev(0, "Int"));

function finishUnary(node, ctx, item) {
  const operator = node.operator;
  if (operator === "not") {
    const truth = truthValue(item.value);
    return ev(truth === UNKNOWN ? UNKNOWN : truth === "yes" ? "no" : "yes", "Truth");
  }
  if (item.value === UNKNOWN) return ev(UNKNOWN, "Unknown");
  if (operator === "-") {
    if (base(item.type) === "Float") return ev(-item.value, item.type);
    return numeric("-", INT_ZERO, item);
  }
  return fail("OPERATOR", "Неизвестная унарная операция.");
}

function compileUnary(node, program) {
  return sequence(node, program, [node.value], finishUnary);
}

function textConcat(node, ctx, a, b) {
  if (node.operator !== "+") fail("OPERATOR", "Конкатенация Text требует +.");
  if (a.value === UNKNOWN || b.value === UNKNOWN) return ev(UNKNOWN, staticType(ctx, node));
  if (typeof a.value !== "string" || typeof b.value !== "string") fail("VALUE_TYPE", "Конкатенация требует Text.");
  ctx.step(a.value.length + b.value.length);
  const joined = a.value + b.value;
  // Every code unit takes at most three UTF-8 bytes, so short results need no count.
  const limit = TEXT_CONCAT_LIMITS.resultUtf8Bytes;
  if (joined.length * 3 > limit && (joined.length > limit || utf8Length(joined) > limit)) {
    fail("TEXT_CONCAT_BYTES", "Полный результат конкатенации превышает лимит UTF-8.");
  }
  return ev(joined, staticType(ctx, node));
}

function logic(operator, a, b) {
  const x = truthValue(a.value);
  const y = truthValue(b.value);
  if (operator === "and") {
    if (x === "no" || y === "no") return ev("no", "Truth");
    return ev(x === UNKNOWN || y === UNKNOWN ? UNKNOWN : "yes", "Truth");
  }
  if (x === "yes" || y === "yes") return ev("yes", "Truth");
  return ev(x === UNKNOWN || y === UNKNOWN ? UNKNOWN : "no", "Truth");
}

// Int arithmetic on two known Ints is the hot path of arithmetic chains; it is
// exactly what `numeric` does for them.
function arithmetic(operator) {
  if (operator === "/") return (node, ctx, a, b) => numeric(operator, a, b);
  return (node, ctx, a, b) => {
    if (a.type === "Int" && b.type === "Int" && typeof a.value === "number" && typeof b.value === "number") {
      return ev(intOperation(operator, a.value, b.value), "Int");
    }
    return numeric(operator, a, b);
  };
}

function binaryFinish(node) {
  if (node.textConcat === true) return textConcat;
  const operator = node.operator;
  switch (operator) {
    case "and":
    case "or":
      return (node, ctx, a, b) => logic(operator, a, b);
    case "==":
    case "!=":
    case ">":
    case ">=":
    case "<":
    case "<=":
      return (node, ctx, a, b) => compare(operator, a, b);
    case "+":
    case "-":
    case "*":
    case "/":
      return arithmetic(operator);
    default:
      return () => fail("OPERATOR", "Неизвестная бинарная операция.");
  }
}

function compileBinary(node, program) {
  return sequence(node, program, [node.left, node.right], binaryFinish(node));
}

// ---- choose -----------------------------------------------------------------------------

function branchIndex(condition) {
  const truth = truthValue(condition.value);
  return truth === UNKNOWN ? 3 : truth === "yes" ? 1 : 2;
}

function chooseResult(node, ctx, selected) {
  const type = staticType(ctx, node);
  if (isNamedType(ctx.program, type)) return typedTransition(selected, type, ctx);
  return ev(selected.value, type);
}

function compileChoose(node, program) {
  const args = node.args.map((arg) => compiled(arg, program));
  if (args.length !== 4) {
    // The compiler issues choose with exactly four arguments.
    return sequence(node, program, node.args, () => fail("FUNCTION_ARGUMENTS", "Неверное число параметров функции."));
  }
  const runs = args.map((arg) => arg.run);
  const run = (env, ctx) => {
    ctx.step();
    const selected = runs[branchIndex(runs[0](env, ctx))](env, ctx);
    return chooseResult(node, ctx, selected);
  };
  const runAsync = args.some((arg) => arg.runAsync !== null)
    ? async (env, ctx) => {
        ctx.step();
        const condition = await runEither(args[0], env, ctx);
        const selected = await runEither(args[branchIndex(condition)], env, ctx);
        return chooseResult(node, ctx, selected);
      }
    : null;
  return { run, runAsync };
}

// ---- call ----------------------------------------------------------------------------------

function interfaceOf(program, name) {
  const interfaces = program.interfaces;
  return interfaces !== null && typeof interfaces === "object" && Object.hasOwn(interfaces, name) ? interfaces[name] : undefined;
}

function programFunction(program, name) {
  for (const fn of program.functions ?? []) if (fn.name === name) return fn;
  return undefined;
}

function compileCall(node, program) {
  const name = node.name;
  const args = node.args.map((arg) => compiled(arg, program));
  const runs = args.map((arg) => arg.run);
  const builtin = builtinFor(name);
  const declared = program !== null ? programFunction(program, name) : undefined;
  const calleeReaches = declared !== undefined && compiledFunction(declared, program).callAsync !== null;
  const adapter = program !== null && interfaceOf(program, name) !== undefined;

  const run = (env, ctx) => {
    ctx.step();
    const values = new Array(runs.length);
    for (let i = 0; i < runs.length; i += 1) values[i] = runs[i](env, ctx);
    const fn = functionNamed(ctx, name);
    if (fn !== undefined) return compiledFunction(fn, ctx.program).call(values, ctx);
    if (interfaceOf(ctx.program, name) !== undefined) {
      throw new Error("Adapter call " + name + " requires the asynchronous evaluator");
    }
    return builtin(name, values, ctx);
  };
  const runAsync = adapter || calleeReaches || args.some((arg) => arg.runAsync !== null)
    ? async (env, ctx) => {
        ctx.step();
        const values = new Array(args.length);
        for (let i = 0; i < args.length; i += 1) values[i] = await runEither(args[i], env, ctx);
        const fn = functionNamed(ctx, name);
        if (fn !== undefined) {
          const callee = compiledFunction(fn, ctx.program);
          return callee.callAsync !== null ? callee.callAsync(values, ctx) : callee.call(values, ctx);
        }
        const signature = interfaceOf(ctx.program, name);
        if (signature !== undefined) return callAdapter(name, signature, values, ctx);
        return builtin(name, values, ctx);
      }
    : null;
  return { run, runAsync };
}

// ---- functions ---------------------------------------------------------------------------------

const compiledFunctions = new WeakMap();
// Stands in while a function's body is being compiled (a call cycle, which the
// compiler never issues, is then taken as not reaching an adapter).
const COMPILING = Object.freeze({ callAsync: null });

function compiledFunction(fn, program) {
  let result = compiledFunctions.get(fn);
  if (result === undefined) {
    compiledFunctions.set(fn, COMPILING);
    try {
      result = compileFunction(fn, program);
    } finally {
      compiledFunctions.delete(fn);
    }
    compiledFunctions.set(fn, result);
  }
  return result;
}

function compileFunction(fn, program) {
  const named = (type) => program !== null && isNamedType(program, type);
  const params = fn.params.map((param) => ({ name: param.name, type: param.type, named: named(param.type) }));
  const locals = (fn.locals ?? []).map((local) => ({
    name: local.name,
    type: local.type,
    named: named(local.type),
    node: compiled(local.expression, program),
  }));
  const body = compiled(fn.expression, program);
  const returnType = fn.returnType;
  const returnNamed = named(returnType);
  const count = params.length;

  const bind = (args, ctx) => {
    if (args.length !== count) fail("FUNCTION_ARGUMENTS", "Неверное число параметров функции.");
    const env = new Map();
    for (let i = 0; i < count; i += 1) {
      const param = params[i];
      env.set(param.name, transition(args[i], param.type, param.named, ctx));
    }
    return env;
  };

  const call = (args, ctx) => {
    const env = bind(args, ctx);
    ctx.check();
    for (let i = 0; i < locals.length; i += 1) {
      const local = locals[i];
      env.set(local.name, transition(local.node.run(env, ctx), local.type, local.named, ctx));
    }
    return transition(body.run(env, ctx), returnType, returnNamed, ctx);
  };

  const reaches = body.runAsync !== null || locals.some((local) => local.node.runAsync !== null);
  const callAsync = reaches
    ? async (args, ctx) => {
        const env = bind(args, ctx);
        await null;
        ctx.check();
        for (const local of locals) {
          env.set(local.name, transition(await runEither(local.node, env, ctx), local.type, local.named, ctx));
        }
        return transition(await runEither(body, env, ctx), returnType, returnNamed, ctx);
      }
    : null;
  return { call, callAsync };
}

// ---- built-in functions ------------------------------------------------------------------------------

const READ_TYPES = {
  readInt: "Int",
  readFloat: "Float",
  readText: "Text",
  readTruth: "Truth",
  readRecord: "Record",
  readInts: "Int[]",
  readFloats: "Float[]",
  readTexts: "Text[]",
  readTruths: "Truth[]",
  readRecords: "Record[]",
};

const KEEP_OPERATORS = { keepGt: ">", keepGe: ">=", keepLt: "<", keepLe: "<=", keepEq: "==", keepNe: "!=" };
const MAP_OPERATORS = { mapAdd: "+", mapSub: "-", mapMul: "*" };

function anyUnknown(args) {
  for (let i = 0; i < args.length; i += 1) if (args[i].value === UNKNOWN) return true;
  return false;
}

// The unknown test comes before anything else a built-in examines.
function guarded(body) {
  return (name, args, ctx) => (anyUnknown(args) ? ev(UNKNOWN, "Unknown") : body(name, args, ctx));
}

function builtinFor(name) {
  if (Object.hasOwn(READ_TYPES, name)) return guarded(readField);
  if (Object.hasOwn(KEEP_OPERATORS, name)) return guarded(keep);
  if (Object.hasOwn(MAP_OPERATORS, name)) return guarded(mapNumbers);
  switch (name) {
    case "hasField":
      return guarded(hasField);
    case "len":
      return guarded(len);
    case "take":
      return guarded(take);
    case "sum":
      return guarded(sum);
    default:
      return guarded(unknownFunction);
  }
}

function unknownFunction(name) {
  return fail("UNKNOWN_FUNCTION", "Неизвестная функция " + name + ".");
}

function hasField(name, [first, second]) {
  return ev(Object.hasOwn(first.value, second.value) ? "yes" : "no", "Truth");
}

function readField(name, [first, second], ctx) {
  const record = first.value;
  const key = second.value;
  if (!Object.hasOwn(record, key)) fail("RECORD_FIELD", "Missing Record field " + key + ".");
  const field = record[key];
  ctx.step(recordWork(field));
  const type = READ_TYPES[name];
  return ev(normalize(field, type), type);
}

function codePoints(text) {
  let count = 0;
  for (let i = 0; i < text.length; i += 1) {
    const unit = text.charCodeAt(i);
    if (unit >= 0xd800 && unit <= 0xdbff && i + 1 < text.length) {
      const next = text.charCodeAt(i + 1);
      if (next >= 0xdc00 && next <= 0xdfff) i += 1;
    }
    count += 1;
  }
  return count;
}

function len(name, [first]) {
  const value = first.value;
  if (typeof value === "string") return ev(codePoints(value), "Int");
  if (Array.isArray(value)) return ev(value.length, "Int");
  return fail("VALUE_TYPE", "len требует Text или массив.");
}

function take(name, [first, second], ctx) {
  const count = second.value;
  if (!Number.isSafeInteger(count) || count < 0) fail("TAKE_COUNT", "take требует неотрицательный Int.");
  const items = first.value;
  const kept = Math.min(items.length, count);
  ctx.step(kept);
  return ev(Object.freeze(items.slice(0, kept)), first.type);
}

// The item type of a numeric array argument ("Int" for the empty literal).
function numericItemType(first) {
  const type = base(first.type);
  const itemType = type === "EmptyArray" ? "Int" : type.endsWith("[]") ? type.slice(0, -2) : type;
  if ((itemType !== "Int" && itemType !== "Float") || !Array.isArray(first.value)) {
    fail("VALUE_TYPE", "Числовая операция требует числовой массив.");
  }
  return itemType;
}

function sum(name, [first], ctx) {
  const itemType = numericItemType(first);
  const items = first.value;
  let total = ev(0, itemType);
  for (let i = 0; i < items.length; i += 1) {
    ctx.step();
    total = numeric("+", total, ev(items[i], itemType));
  }
  return total;
}

function keep(name, [first, second], ctx) {
  const itemType = numericItemType(first);
  const operator = KEEP_OPERATORS[name];
  const items = first.value;
  const kept = [];
  for (let i = 0; i < items.length; i += 1) {
    ctx.step();
    if (compare(operator, ev(items[i], itemType), second).value === "yes") kept.push(items[i]);
  }
  return ev(Object.freeze(kept), first.type);
}

function mapNumbers(name, [first, second], ctx) {
  const itemType = numericItemType(first);
  const operator = MAP_OPERATORS[name];
  const items = first.value;
  const mapped = new Array(items.length);
  for (let i = 0; i < items.length; i += 1) {
    ctx.step();
    mapped[i] = numeric(operator, ev(items[i], itemType), second).value;
  }
  const type = itemType === "Float" || base(second.type) === "Float" ? "Float[]" : "Int[]";
  return ev(Object.freeze(mapped), type);
}

