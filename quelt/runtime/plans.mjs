// Evaluation plans: what the runtime derives once from a compiler-issued
// Program before it first runs it, plus the two admission checks every run
// begins with.
//
// Exports:
//   ensureProgram(program)        UNCOMPILED_PROGRAM unless issued by this engine's
//                                 compiler; PROGRAM_VERSION unless AST version 1..27.
//   planFor(program) -> plan      built once per Program object (weakly held), by the
//                                 builder of its AST version. Plan fields, in order:
//     inputs          Map name -> input declaration
//     inputKeyBytes   Map name -> UTF-8 size of the name's JSON text + 1
//     functions       Map name -> function declaration (this is ctx.functions)
//     derives         [{derive, cacheable, reachesAdapter}] in the Program's order;
//                     frozen (list and items) for AST versions 26-27.
//                     `reachesAdapter` is false when evaluating the derive can never
//                     meet an adapter call, so it may be evaluated synchronously.
//     neededVersions  Set of names some cacheable derive depends on
//     sourceHash      null, or the promise of the source hash (see versions.mjs)
//     schemas         Map name -> {definition, token, fields: Map key -> field}   (AST >= 22)
//     evidence        WeakMap schema value -> token                              (AST >= 22)
//     results         Map name -> {definition, token}                            (AST >= 23)
//     resultEvidence  WeakMap Result value -> {token, tag, payload}              (AST >= 23)
//   hasAdapter(expression, interfaces) -> Boolean   direct adapter-call test
//   inputCopy(program, supplied)  frozen, prototype-less record of every declared
//                                 input normalized to its type; INPUT_SCHEMA,
//                                 MISSING_INPUT, INPUT_LIMIT.

import { isCompiledProgram } from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";
import { RUNTIME_LIMITS } from "./limits.mjs";
import { dataKeys, normalize } from "./values.mjs";
import { jsonByteSize } from "./json-size.mjs";
import { utf8Size } from "./versions.mjs";

const programPlans = new WeakMap();

export function ensureProgram(program) {
  if (!isCompiledProgram(program)) {
    fail("UNCOMPILED_PROGRAM", "Исполняется только программа, выданная compiler.mjs.");
  }
  const version = program.version;
  if (!Number.isInteger(version) || version < 1 || version > 27) {
    fail("PROGRAM_VERSION", "Неподдерживаемая версия compiler-issued AST.");
  }
}

export function planFor(program) {
  let plan = programPlans.get(program);
  if (plan === undefined) {
    plan = builderFor(program.version)(program);
    programPlans.set(program, plan);
  }
  return plan;
}

function builderFor(version) {
  if (version >= 26) return effectFunctionPlanFor;
  if (version >= 24) return intBitsPlanFor;
  if (version === 23) return resultPlanFor;
  return directPlanFor;
}

// ---- builders ----------------------------------------------------------------

// AST versions 1-22: schemas from 22 on; a derive is cacheable without a direct
// adapter call (and, from 22, unless its type is a schema).
function directPlanFor(program) {
  const schemas = program.version >= 22 ? schemaDescriptors(program) : null;
  const judge = (derive) => {
    const reachesAdapter = hasAdapter(derive.expression, program.interfaces);
    const named = schemas !== null && schemas.has(derive.type);
    return { cacheable: !reachesAdapter && !named, reachesAdapter };
  };
  return assemble(program, judge, schemas, null, false);
}

// AST version 23: schemas (possibly none) and Results.
function resultPlanFor(program) {
  return namedTypesPlan(program);
}

// AST versions 24-25: the same tables and the same judgement as version 23.
function intBitsPlanFor(program) {
  return namedTypesPlan(program);
}

function namedTypesPlan(program) {
  const schemas = schemaDescriptors(program);
  const results = resultDescriptors(program);
  const judge = (derive) => {
    const reachesAdapter = hasAdapter(derive.expression, program.interfaces);
    const named = schemas.has(derive.type) || results.has(derive.type);
    return { cacheable: !reachesAdapter && !named, reachesAdapter };
  };
  return assemble(program, judge, schemas, results, false);
}

// AST versions 26-27: effect functions exist, so whether a derive reaches an
// adapter follows the functions it calls. The whole function graph is examined
// first, so a cycle or an unknown node fails even when no derive uses it.
function effectFunctionPlanFor(program) {
  const functions = functionTable(program);
  const analysis = effectAnalysis(program, functions);
  for (const fn of program.functions) analysis.functionReachesAdapter(fn.name);
  const schemas = schemaDescriptors(program);
  const results = resultDescriptors(program);
  const judge = (derive) => {
    const reachesAdapter = analysis.expressionReachesAdapter(derive.expression);
    const named = schemas.has(derive.type) || results.has(derive.type);
    return { cacheable: !reachesAdapter && !named, reachesAdapter };
  };
  return assemble(program, judge, schemas, results, true, functions);
}

function assemble(program, judge, schemas, results, frozenDerives, functions = functionTable(program)) {
  const inputs = new Map();
  const inputKeyBytes = new Map();
  for (const input of program.inputs) {
    inputs.set(input.name, input);
    inputKeyBytes.set(input.name, utf8Size(JSON.stringify(input.name)) + 1);
  }
  const derives = [];
  const neededVersions = new Set();
  for (const derive of program.derives) {
    const { cacheable, reachesAdapter } = judge(derive);
    const item = { derive, cacheable, reachesAdapter };
    derives.push(frozenDerives ? Object.freeze(item) : item);
    if (cacheable) for (const name of derive.dependencies) neededVersions.add(name);
  }
  const plan = {
    inputs,
    inputKeyBytes,
    functions,
    derives: frozenDerives ? Object.freeze(derives) : derives,
    neededVersions,
    sourceHash: null,
  };
  if (schemas !== null) {
    plan.schemas = schemas;
    plan.evidence = new WeakMap();
  }
  if (results !== null) {
    plan.results = results;
    plan.resultEvidence = new WeakMap();
  }
  return plan;
}

function functionTable(program) {
  const functions = new Map();
  for (const fn of program.functions) functions.set(fn.name, fn);
  return functions;
}

function schemaDescriptors(program) {
  const schemas = new Map();
  for (const definition of program.schemas ?? []) {
    const fields = new Map();
    for (const field of definition.fields) fields.set(field.key, field);
    schemas.set(definition.name, { definition, token: Object.freeze({}), fields });
  }
  return schemas;
}

function resultDescriptors(program) {
  const results = new Map();
  for (const definition of program.results ?? []) {
    results.set(definition.name, { definition, token: Object.freeze({}) });
  }
  return results;
}

// ---- direct adapter-call test --------------------------------------------------

const VALUE_CHILD = ["value"];

// The tables below are built on first use: a request that runs no Program
// never needs them.
let directChildren = null;

function buildDirectChildren() {
  return {
    parseFloat: VALUE_CHILD,
    parseInt: VALUE_CHILD,
    keys: VALUE_CHILD,
    toText: VALUE_CHILD,
    present: VALUE_CHILD,
    require: VALUE_CHILD,
    unary: VALUE_CHILD,
    resultValue: VALUE_CHILD,
    resultMatch: VALUE_CHILD,
    schemaField: VALUE_CHILD,
    toRecord: VALUE_CHILD,
    intBits: ["value", "argument"],
    asSchema: ["record"],
    toJson: ["record"],
    checkFields: ["record"],
    sortBy: ["array"],
    filter: ["array"],
    each: ["array"],
    concat: ["left", "right"],
    binary: ["left", "right"],
    quotient: ["left", "right"],
    remainder: ["left", "right"],
    withField: ["record", "key", "value"],
    withoutField: ["record", "key"],
    textOp: ["value", "argument"],
    slice: ["value", "start", "count"],
    orElse: ["value", "fallback"],
    append: ["array", "item"],
    at: ["array", "index"],
    fold: ["array", "initial"],
    repeat: ["count", "initial"],
  };
}

// Child fields of a kind that holds expressions directly, or null.
function directChildrenOf(kind) {
  directChildren ??= buildDirectChildren();
  return Object.hasOwn(directChildren, kind) ? directChildren[kind] : null;
}

// True when the expression itself contains a call of a declared interface.
// Bodies of called functions are not looked into; unknown kinds count as false.
export function hasAdapter(expression, interfaces) {
  if (expression === null || typeof expression !== "object") return false;
  switch (expression.kind) {
    case "call":
      if (Object.hasOwn(interfaces, expression.name)) return true;
      return expression.args.some((arg) => hasAdapter(arg, interfaces));
    case "array":
      return expression.items.some((item) => hasAdapter(item, interfaces));
    case "record":
      return expression.fields.some((field) => hasAdapter(field.expression, interfaces));
    default: {
      const children = directChildrenOf(expression.kind);
      if (children === null) return false;
      // intBits "not" has no argument
      return children.some((field) => Object.hasOwn(expression, field) && hasAdapter(expression[field], interfaces));
    }
  }
}

// ---- effect analysis (AST versions 26-27) ----------------------------------------

// Per kind: child fields in visiting order, and the fields naming functions to follow.
const NO_FUNCTIONS = [];
let effectChildren = null;

function buildEffectChildren() {
  return {
    resultMatch: [VALUE_CHILD, ["ok", "err"]],
    resultValue: [VALUE_CHILD, NO_FUNCTIONS],
    schemaField: [VALUE_CHILD, NO_FUNCTIONS],
    toRecord: [VALUE_CHILD, NO_FUNCTIONS],
    parseFloat: [VALUE_CHILD, NO_FUNCTIONS],
    parseInt: [VALUE_CHILD, NO_FUNCTIONS],
    unary: [VALUE_CHILD, NO_FUNCTIONS],
    keys: [VALUE_CHILD, NO_FUNCTIONS],
    toText: [VALUE_CHILD, NO_FUNCTIONS],
    present: [VALUE_CHILD, NO_FUNCTIONS],
    require: [VALUE_CHILD, NO_FUNCTIONS],
    asSchema: [["record"], NO_FUNCTIONS],
    toJson: [["record"], NO_FUNCTIONS],
    checkFields: [["record"], NO_FUNCTIONS],
    intBits: [["value", "argument"], NO_FUNCTIONS],
    sortBy: [["array"], ["name"]],
    filter: [["array"], ["name"]],
    each: [["array"], ["name"]],
    fold: [["array", "initial"], ["name"]],
    repeat: [["count", "initial"], ["name"]],
    concat: [["left", "right"], NO_FUNCTIONS],
    quotient: [["left", "right"], NO_FUNCTIONS],
    remainder: [["left", "right"], NO_FUNCTIONS],
    binary: [["left", "right"], NO_FUNCTIONS],
    withField: [["record", "key", "value"], NO_FUNCTIONS],
    withoutField: [["record", "key"], NO_FUNCTIONS],
    textOp: [["value", "argument"], NO_FUNCTIONS],
    slice: [["value", "start", "count"], NO_FUNCTIONS],
    orElse: [["value", "fallback"], NO_FUNCTIONS],
    append: [["array", "item"], NO_FUNCTIONS],
    at: [["array", "index"], NO_FUNCTIONS],
  };
}

// [child fields, function-naming fields] of a kind, or null.
function effectChildrenOf(kind) {
  effectChildren ??= buildEffectChildren();
  return Object.hasOwn(effectChildren, kind) ? effectChildren[kind] : null;
}

function unknownKind() {
  fail("EXPRESSION_KIND", "Неизвестный узел выражения.");
}

function effectAnalysis(program, functions) {
  const interfaces = program.interfaces;
  const memo = new Map();
  const visiting = new Set();

  function functionReachesAdapter(name) {
    if (memo.has(name)) return memo.get(name);
    if (!functions.has(name)) return false;
    if (visiting.has(name)) fail("EXPRESSION_KIND", "Циклический граф функций в compiler-issued AST.");
    visiting.add(name);
    const fn = functions.get(name);
    let effect = Object.hasOwn(fn, "effect");
    for (const local of fn.locals ?? []) effect = expressionReachesAdapter(local.expression) || effect;
    effect = expressionReachesAdapter(fn.expression) || effect;
    visiting.delete(name);
    memo.set(name, effect);
    return effect;
  }

  // Every child and every followed function is visited, even once the answer
  // is known, so an unknown node anywhere fails.
  function expressionReachesAdapter(node) {
    if (node === null || typeof node !== "object") unknownKind();
    const kind = node.kind;
    if (kind === "literal" || kind === "ref") return false;
    let reaches = false;
    if (kind === "call") {
      for (const arg of node.args) reaches = expressionReachesAdapter(arg) || reaches;
      reaches = functionReachesAdapter(node.name) || reaches;
      return Object.hasOwn(interfaces, node.name) || reaches;
    }
    if (kind === "array") {
      for (const item of node.items) reaches = expressionReachesAdapter(item) || reaches;
      return reaches;
    }
    if (kind === "record") {
      for (const field of node.fields) reaches = expressionReachesAdapter(field.expression) || reaches;
      return reaches;
    }
    const entry = typeof kind === "string" ? effectChildrenOf(kind) : null;
    if (entry === null) unknownKind();
    const [children, followed] = entry;
    for (const field of children) {
      if (field === "argument" && kind === "intBits" && !Object.hasOwn(node, "argument")) continue;
      reaches = expressionReachesAdapter(node[field]) || reaches;
    }
    for (const field of followed) reaches = functionReachesAdapter(node[field]) || reaches;
    return reaches;
  }

  return { functionReachesAdapter, expressionReachesAdapter };
}

// ---- input copying ---------------------------------------------------------------

export function inputCopy(program, supplied) {
  const plan = planFor(program);
  for (const name of dataKeys(supplied, "INPUT_SCHEMA")) {
    if (!plan.inputs.has(name)) fail("INPUT_SCHEMA", "Передан необъявленный вход.");
  }
  const record = Object.create(null);
  for (const input of program.inputs) {
    record[input.name] = normalize(suppliedOrDefault(input, supplied), input.type);
  }
  if (jsonByteSize(record) > RUNTIME_LIMITS.inputBytes) {
    fail("INPUT_LIMIT", "Превышен размер входных данных.");
  }
  return Object.freeze(record);
}

function suppliedOrDefault(input, supplied) {
  if (Object.hasOwn(supplied, input.name)) return supplied[input.name];
  if (Object.hasOwn(input, "defaultValue")) return input.defaultValue;
  return fail("MISSING_INPUT", "Отсутствует вход " + input.name + ".");
}
