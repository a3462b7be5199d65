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
//   compiled(node, unit), sequence(node, unit, children, finish), runEither,
//   staticType(ctx, node), functionNamed(ctx, name), functionCaller(fn, ctx),
//   mapGet(table, key). A `unit` is what a node is compiled for: the Program,
//   and for function bodies the slots of the parameters and locals.
//
// `env` is a Map (or a prototype-less record) from name to typed value; a
// function body gets a fresh environment holding only its parameters and
// locals (an array of slots, since the names are known when it is compiled). `ctx` is the
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

import { RECORD_READ_TYPES, TEXT_CONCAT_LIMITS, getExpressionType } from "quelt/compiler.mjs";
import { callAdapter } from "./adapter-calls.mjs";
import { arrayStageCompiler } from "./array-stages.mjs";
import { fail } from "./diagnostics.mjs";
import { compare, intOperation, numeric, truthValue } from "./numeric.mjs";
import { recordWork } from "./records.mjs";
import { typedTransition } from "./schemas.mjs";
import { stageCompiler } from "./stages.mjs";
import { utf8Length } from "./utf8.mjs";
import { UNKNOWN, admittedSummary, base, ev, normalize } from "./values.mjs";

const MAX_SAFE = 9007199254740991;
const isSafeInteger = Number.isSafeInteger;

// ---- public entry points ----------------------------------------------------

export async function evaluate(expression, env, ctx) {
  return runEither(compiled(expression, unitOf(ctx.program)), env, ctx);
}

export function evaluateSync(expression, env, ctx) {
  return compiled(expression, unitOf(ctx.program)).run(env, ctx);
}

export async function invokeFunction(fn, args, ctx) {
  const compiledFn = compiledFunction(fn, ctx.program);
  return compiledFn.callAsync !== null ? compiledFn.callAsync(args, ctx) : compiledFn.call(args, ctx);
}

export function invokeFunctionSync(fn, args, ctx) {
  return compiledFunction(fn, ctx.program).call(args, ctx);
}

// The synchronous invocation of `fn`, for stages that call one function many times.
export function functionCaller(fn, ctx) {
  return compiledFunction(fn, ctx.program).call;
}

export function reachesAdapter(expression, program) {
  return compiled(expression, unitOf(program)).runAsync !== null;
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

// Static node types never change once the compiler issued them; each node
// remembers its type for the last Program it was asked about.
const nodeTypes = new WeakMap();

export function staticType(ctx, node) {
  const known = nodeTypes.get(node);
  if (known !== undefined && known.program === ctx.program) return known.type;
  const type = getExpressionType(ctx.program, node);
  nodeTypes.set(node, { program: ctx.program, type });
  return type;
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

// The binding of a typed value to a declared type (typedTransition), prepared
// once per declared type: schema and Result types are verified by
// typedTransition, built-in types re-admitted. A value that already carries
// the type and passes its scalar test is handed on as it is (admission would
// give the same value, and typed values of built-in types are never compared
// by identity); everything else goes through `normalize`.
//
// With `borrowRecords`, a Record that jsonCopy made (frozen at every level,
// known by its admission summary) is handed on too instead of being copied
// afresh: admitting it cannot fail, and no one inside the run can tell the
// copy from its original. The caller asks for it only where the binding
// cannot escape the run uncopied (see `borrowsRecords`).
function binder(program, type, borrowRecords = false) {
  if (program !== null && isNamedType(program, type)) return (item, ctx) => typedTransition(item, type, ctx);
  switch (type) {
    case "Record":
      if (!borrowRecords) break;
      return (item) => {
        const value = item.value;
        if (admittedSummary(value) !== undefined && !Array.isArray(value)) {
          return item.type === "Record" ? item : { value, type: "Record" };
        }
        return { value: normalize(value, "Record"), type: "Record" };
      };
    case "Int":
      return (item) => {
        const value = item.value;
        if (isSafeInteger(value) && value !== 0) return item.type === "Int" ? item : { value, type: "Int" };
        return { value: normalize(value, "Int"), type: "Int" };
      };
    case "Float":
      return (item) => {
        const value = item.value;
        if (typeof value === "number" && value - value === 0) return item.type === "Float" ? item : { value, type: "Float" };
        return { value: normalize(value, "Float"), type: "Float" };
      };
    case "Truth":
      return (item) => {
        const value = item.value;
        if (value === "yes" || value === "no") return item.type === "Truth" ? item : { value, type: "Truth" };
        return { value: normalize(value, "Truth"), type: "Truth" };
      };
  }
  return (item) => ({ value: normalize(item.value, type), type });
}

// Whether the parameters and locals of `fn` may be bound to admitted Records
// without a copy. Inside a call, values are frozen and never compared by
// identity; they leave it only through its result. A result of a built-in
// type is re-admitted by its own binding (Records copied, arrays rebuilt), so
// nothing borrowed reaches the caller. A schema result would carry the very
// Record it was admitted from, so schema- and Result-typed functions copy as
// they always did.
function borrowsRecords(fn, program) {
  return program === null || !isNamedType(program, fn.returnType);
}

// ---- compilation ------------------------------------------------------------------

// A compilation unit: the Program, and for a function body the slots of its
// parameters and locals (its environment is then an array); derive expressions
// have no scope and read the driver's environment by name.
const units = new WeakMap();

function unitOf(program) {
  if (program === null || typeof program !== "object") return { program: null, scope: null };
  let unit = units.get(program);
  if (unit === undefined) {
    unit = { program, scope: null };
    units.set(program, unit);
  }
  return unit;
}

const compiledNodes = new WeakMap();

export function compiled(node, unit) {
  if (node === null || typeof node !== "object") return unknownNode();
  let result = compiledNodes.get(node);
  if (result === undefined) {
    result = compileNode(node, unit);
    compiledNodes.set(node, result);
  }
  return result;
}

// Children first, in the listed order, then `finish(node, ctx, ...values)`.
export function sequence(node, unit, children, finish) {
  const kids = children.map((child) => compiled(child, unit));
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

function compileNode(node, unit) {
  const kind = node.kind;
  if (typeof kind !== "string") return unknownNode();
  switch (kind) {
    case "literal":
      return compileLiteral(node);
    case "ref":
      return compileRef(node, unit);
    case "array":
      return sequence(node, unit, node.items, finishArray);
    case "record":
      return sequence(node, unit, node.fields.map((field) => field.expression), finishRecord);
    case "unary":
      return sequence(node, unit, [node.value], finishUnary);
    case "binary":
      return compileBinary(node, unit);
    case "call":
      return node.name === "choose" ? compileChoose(node, unit) : compileCall(node, unit);
    default: {
      const compile = arrayStageCompiler(kind) ?? stageCompiler(kind);
      return compile === undefined ? unknownNode() : compile(node, unit);
    }
  }
}

// ---- literal, ref -----------------------------------------------------------------

function compileLiteral(node) {
  const { value, type } = node;
  if (type === "Unknown") {
    return {
      run(env, ctx) {
        ctx.step();
        return { value: UNKNOWN, type: "Unknown" };
      },
      runAsync: null,
    };
  }
  // Literals are re-admitted on every evaluation; admitting a scalar is a pure
  // function of it, so a literal that is admitted once is admitted every time.
  let admitted;
  try {
    admitted = normalize(value, type);
  } catch {
    return sequence(node, null, [], () => ev(normalize(value, type), type));
  }
  const typed = Object.freeze({ value: admitted, type });
  return {
    run(env, ctx) {
      ctx.step();
      return typed;
    },
    runAsync: null,
  };
}

function missingReference(name) {
  return fail("MISSING_REFERENCE", "Нет значения " + name + ".");
}

function compileRef(node, unit) {
  const name = node.name;
  const scope = unit !== null ? unit.scope : null;
  if (scope !== null) {
    // A function body: parameters and locals live in slots.
    const slot = scope.has(name) ? scope.get(name) : -1;
    return {
      run(env, ctx) {
        ctx.step();
        const item = slot >= 0 ? env[slot] : undefined;
        return item !== undefined ? item : missingReference(name);
      },
      runAsync: null,
    };
  }
  return {
    run(env, ctx) {
      ctx.step();
      const item = env instanceof Map ? env.get(name) : Object.hasOwn(env, name) ? env[name] : undefined;
      return item !== undefined ? item : missingReference(name);
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

function finishRecord(node, ctx, ...items) {
  const fields = node.fields;
  const object = Object.create(null);
  for (let i = 0; i < fields.length; i += 1) object[fields[i].key] = items[i].value;
  ctx.step(recordWork(object));
  return ev(normalize(object, "Record"), "Record");
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
      return (node, ctx, a, b) => numeric(operator, a, b);
    default:
      return () => fail("OPERATOR", "Неизвестная бинарная операция.");
  }
}

// Int arithmetic on two known Ints is the hot path of arithmetic chains. An
// arithmetic node also gets `raw`, which an arithmetic parent runs instead of
// `run`: the same step, children and checks, with an Int result answered as a
// bare number, standing for the typed value {value, type: "Int"}. Results
// passed from one arithmetic node to the next are then never boxed.
//
// `run` and `raw` are the same closure, boxing the result or not. Children
// without `raw` (refs, literals, calls) always answer typed values, which
// spares the bare-number tests. The result is exact whenever the exact result
// is safe; beyond that the double is at least 2^53 in magnitude, so the range
// test decides overflow exactly (a 32-bit integer result needs no test).
function intArithmetic(operator, left, right, box) {
  const code = operator === "+" ? 0 : operator === "-" ? 1 : 2;
  if (left.raw === undefined && right.raw === undefined) {
    const runLeft = left.run;
    const runRight = right.run;
    return (env, ctx) => {
      ctx.step();
      const a = runLeft(env, ctx);
      const b = runRight(env, ctx);
      if (a.type !== "Int" || b.type !== "Int" || typeof a.value !== "number" || typeof b.value !== "number") return numeric(operator, a, b);
      const x = a.value;
      const y = b.value;
      const exact = code === 0 ? x + y : code === 1 ? x - y : x * y;
      if ((exact | 0) !== exact && (exact > MAX_SAFE || exact < -MAX_SAFE)) intOperation(operator, x, y);
      const value = exact === 0 ? 0 : exact;
      return box ? { value, type: "Int" } : value;
    };
  }
  const runLeft = left.raw ?? left.run;
  const runRight = right.raw ?? right.run;
  return (env, ctx) => {
    ctx.step();
    const a = runLeft(env, ctx);
    const b = runRight(env, ctx);
    const x = typeof a === "number" ? a : a.type === "Int" && typeof a.value === "number" ? a.value : undefined;
    const y = typeof b === "number" ? b : b.type === "Int" && typeof b.value === "number" ? b.value : undefined;
    if (x === undefined || y === undefined) return numeric(operator, boxed(a), boxed(b));
    const exact = code === 0 ? x + y : code === 1 ? x - y : x * y;
    if ((exact | 0) !== exact && (exact > MAX_SAFE || exact < -MAX_SAFE)) intOperation(operator, x, y);
    const value = exact === 0 ? 0 : exact;
    return box ? { value, type: "Int" } : value;
  };
}

function boxed(item) {
  return typeof item === "number" ? { value: item, type: "Int" } : item;
}

function compileBinary(node, unit) {
  const general = sequence(node, unit, [node.left, node.right], binaryFinish(node));
  const operator = node.operator;
  if (node.textConcat === true || (operator !== "+" && operator !== "-" && operator !== "*")) return general;
  const left = compiled(node.left, unit);
  const right = compiled(node.right, unit);
  return {
    run: intArithmetic(operator, left, right, true),
    runAsync: general.runAsync,
    raw: intArithmetic(operator, left, right, false),
  };
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

function compileChoose(node, unit) {
  const args = node.args.map((arg) => compiled(arg, unit));
  if (args.length !== 4) {
    // The compiler issues choose with exactly four arguments.
    return sequence(node, unit, node.args, () => fail("FUNCTION_ARGUMENTS", "Неверное число параметров функции."));
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
  const interfaces = program !== null ? program.interfaces : null;
  return interfaces !== null && typeof interfaces === "object" && Object.hasOwn(interfaces, name) ? interfaces[name] : undefined;
}

function programFunction(program, name) {
  for (const fn of program?.functions ?? []) if (fn.name === name) return fn;
  return undefined;
}

function compileCall(node, unit) {
  const name = node.name;
  const program = unit !== null ? unit.program : null;
  const args = node.args.map((arg) => compiled(arg, unit));
  const runs = args.map((arg) => arg.run);
  const count = runs.length;
  const builtin = builtinFor(name);
  const declared = programFunction(program, name);
  const calleeReaches = declared !== undefined && compiledFunction(declared, program).callAsync !== null;
  const adapter = interfaceOf(program, name) !== undefined;
  // The callee is resolved on every call (functions first, then interfaces,
  // then built-ins); the last function found is remembered with its compiled form.
  let lastFn;
  let lastCall;
  // The argument list: neither a built-in nor a function invocation keeps
  // it once it returns, so the node reuses one list, except while it is in
  // use further up the stack (recursion) or after a failure.
  let spare = null;

  // functionNamed and interfaceOf written out: built-in calls take this path
  // once per item of every callback stage.
  const run = (env, ctx) => {
    ctx.step();
    let values = spare;
    if (values === null) values = new Array(count);
    else spare = null;
    for (let i = 0; i < count; i += 1) values[i] = runs[i](env, ctx);
    const functions = ctx.functions;
    const fn = functions instanceof Map ? functions.get(name) : mapGet(functions, name);
    let result;
    if (fn !== undefined) {
      if (fn !== lastFn) {
        lastCall = compiledFunction(fn, ctx.program).call;
        lastFn = fn;
      }
      result = lastCall(values, ctx);
    } else {
      const program = ctx.program;
      const interfaces = program !== null ? program.interfaces : null;
      if (interfaces !== null && typeof interfaces === "object" && Object.hasOwn(interfaces, name) && interfaces[name] !== undefined) {
        throw new Error("Adapter call " + name + " requires the asynchronous evaluator");
      }
      result = builtin(name, values, ctx);
    }
    spare = values;
    return result;
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
  const count = fn.params.length;
  const declaredLocals = fn.locals ?? [];
  const scope = new Map();
  fn.params.forEach((param, i) => scope.set(param.name, i));
  declaredLocals.forEach((local, i) => scope.set(local.name, count + i));
  const unit = { program, scope };
  const borrow = borrowsRecords(fn, program);
  const params = fn.params.map((param) => binder(program, param.type, borrow));
  const locals = declaredLocals.map((local) => ({ bind: binder(program, local.type, borrow), node: compiled(local.expression, unit) }));
  const localRuns = locals.map((local) => local.node.run);
  const localBinds = locals.map((local) => local.bind);
  const body = compiled(fn.expression, unit);
  const bodyRun = body.run;
  const bindResult = binder(program, fn.returnType);
  const slots = count + locals.length;

  const bind = (args, ctx) => {
    if (args.length !== count) fail("FUNCTION_ARGUMENTS", "Неверное число параметров функции.");
    const env = new Array(slots);
    for (let i = 0; i < count; i += 1) env[i] = params[i](args[i], ctx);
    return env;
  };

  // `bind` written out again: this is the path every callback iteration takes.
  // Nothing keeps the environment once a synchronous call returns, so the
  // next call reuses it, except while it is in use further up the stack
  // (recursion) or after a failure. A function with locals gets a fresh one:
  // a local's slot must read as unbound until its binding runs.
  let spare = null;
  const call = (args, ctx) => {
    if (args.length !== count) fail("FUNCTION_ARGUMENTS", "Неверное число параметров функции.");
    let env = spare;
    if (env === null) env = new Array(slots);
    else spare = null;
    for (let i = 0; i < count; i += 1) env[i] = params[i](args[i], ctx);
    ctx.check();
    for (let i = 0; i < localRuns.length; i += 1) env[count + i] = localBinds[i](localRuns[i](env, ctx), ctx);
    const result = bindResult(bodyRun(env, ctx), ctx);
    if (slots === count) spare = env;
    return result;
  };

  const reaches = body.runAsync !== null || locals.some((local) => local.node.runAsync !== null);
  const callAsync = reaches
    ? async (args, ctx) => {
        const env = bind(args, ctx);
        await null;
        ctx.check();
        for (let i = 0; i < locals.length; i += 1) {
          env[count + i] = localBinds[i](await runEither(locals[i].node, env, ctx), ctx);
        }
        return bindResult(await runEither(body, env, ctx), ctx);
      }
    : null;
  return { call, callAsync };
}

// ---- built-in functions ------------------------------------------------------------------------------

// The Record readers and the type each one admits its field at.
const READ_TYPES = RECORD_READ_TYPES;

const KEEP_OPERATORS = { keepGt: ">", keepGe: ">=", keepLt: "<", keepLe: "<=", keepEq: "==", keepNe: "!=" };
const MAP_OPERATORS = { mapAdd: "+", mapSub: "-", mapMul: "*" };

// The unknown test comes before anything else a built-in examines; the usual
// two arguments are tested without a loop.
function guarded(body) {
  return (name, args, ctx) => {
    if (args.length === 2) {
      if (args[0].value === UNKNOWN || args[1].value === UNKNOWN) return ev(UNKNOWN, "Unknown");
    } else for (let i = 0; i < args.length; i += 1) if (args[i].value === UNKNOWN) return ev(UNKNOWN, "Unknown");
    return body(name, args, ctx);
  };
}

function builtinFor(name) {
  if (Object.hasOwn(READ_TYPES, name)) return fieldReader(READ_TYPES[name]);
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

// The built-ins read their arguments by index: destructuring an argument list
// would go through the array iterator on every call.
function hasField(name, args) {
  const first = args[0];
  const second = args[1];
  return ev(Object.hasOwn(first.value, second.value) ? "yes" : "no", "Truth");
}

// A Record reader admitting its field at `type`: the guard of `guarded` and
// the read in one closure, since every item of a callback stage may take it.
function fieldReader(type) {
  return (name, args, ctx) => {
    if (args.length === 2) {
      if (args[0].value === UNKNOWN || args[1].value === UNKNOWN) return ev(UNKNOWN, "Unknown");
    } else for (let i = 0; i < args.length; i += 1) if (args[i].value === UNKNOWN) return ev(UNKNOWN, "Unknown");
    const record = args[0].value;
    const key = args[1].value;
    if (!Object.hasOwn(record, key)) fail("RECORD_FIELD", "Missing Record field " + key + ".");
    const field = record[key];
    ctx.step(field !== null && typeof field === "object" ? recordWork(field) : 0);
    // normalize's first case for a safe integer read as Int, written out
    if (type === "Int" && isSafeInteger(field)) return { value: field === 0 ? 0 : field, type };
    return { value: normalize(field, type), type };
  };
}

// Code points: code units less one per surrogate pair (a lead unit followed
// by a trail unit); an unpaired surrogate counts one. Long texts are searched
// for pairs by a pattern, short ones scanned.
let surrogatePairs = null;

function codePoints(text) {
  if (text.length > 32) {
    if (surrogatePairs === null) surrogatePairs = /[\ud800-\udbff][\udc00-\udfff]/g;
    const pairs = text.match(surrogatePairs);
    return pairs === null ? text.length : text.length - pairs.length;
  }
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

function len(name, args) {
  const first = args[0];
  const value = first.value;
  if (typeof value === "string") return ev(codePoints(value), "Int");
  if (Array.isArray(value)) return ev(value.length, "Int");
  return fail("VALUE_TYPE", "len требует Text или массив.");
}

function take(name, args, ctx) {
  const first = args[0];
  const second = args[1];
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

function sum(name, args, ctx) {
  const first = args[0];
  const itemType = numericItemType(first);
  const items = first.value;
  let total = ev(0, itemType);
  for (let i = 0; i < items.length; i += 1) {
    ctx.step();
    total = numeric("+", total, ev(items[i], itemType));
  }
  return total;
}

function keep(name, args, ctx) {
  const first = args[0];
  const second = args[1];
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

function mapNumbers(name, args, ctx) {
  const first = args[0];
  const second = args[1];
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

