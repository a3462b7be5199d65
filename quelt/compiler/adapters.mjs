// External adapter calls (`module.function(...)`) and the body rule of effect
// functions: each effect function calls exactly one adapter, lexically.
import { assignable } from "./types.mjs";

// Types a `call` node whose name contains a dot; its arguments are already
// checked and their types are `types`.
export function checkAdapterCall(checker, node, types, scope) {
  const name = node.name;
  if (scope.currentFn !== null && !checker.effectFunctions.has(scope.currentFn)) {
    checker.fail(node, "FUNCTION_EFFECT", "Pure functions cannot call external adapters");
  }
  const moduleName = name.slice(0, name.indexOf("."));
  if (!checker.uses.has(moduleName)) {
    checker.fail(node, "MISSING_USE", `External call ${name} requires use ${moduleName}`);
  }
  const declaration = Object.hasOwn(checker.interfaces, name) ? checker.interfaces[name] : undefined;
  if (declaration === undefined) checker.fail(node, "UNKNOWN_CALL", `Unknown adapter interface ${name}`);
  const params = declaration.params;
  checker.requireType(node, types.length === params.length, `${name} expects ${params.length} arguments`);
  for (let i = 0; i < params.length; i += 1) {
    checker.requireType(
      node,
      assignable(types[i], params[i]),
      `Argument ${i + 1} of ${name} requires ${params[i]}, received ${types[i]}`,
    );
  }
  return declaration.result;
}

// The adapter calls written anywhere in an effect function's locals and
// return expression, in order. Iterative so that a long operator chain
// cannot exhaust the engine stack before the checker bounds the height.
export function collectAdapterCalls(fn) {
  const found = [];
  const roots = [];
  if (fn.locals) for (const local of fn.locals) roots.push(local.expression);
  roots.push(fn.expression);
  const stack = roots.reverse();
  while (stack.length > 0) {
    const value = stack.pop();
    if (Array.isArray(value)) {
      for (let i = value.length - 1; i >= 0; i -= 1) pushObject(stack, value[i]);
      continue;
    }
    if (value.kind === "call" && typeof value.name === "string" && value.name.includes(".")) found.push(value);
    const keys = Object.keys(value);
    for (let i = keys.length - 1; i >= 0; i -= 1) pushObject(stack, value[keys[i]]);
  }
  return found;
}

function pushObject(stack, value) {
  if (value !== null && typeof value === "object") stack.push(value);
}

// For each effect function in declaration order: exactly one adapter call.
// Returns Map function name -> adapter name.
export function checkEffectFunctions(module, fail) {
  const adapters = new Map();
  for (const fn of module.functionList) {
    if (!module.effectFunctions.has(fn.name)) continue;
    const calls = collectAdapterCalls(fn);
    const offset = module.functionOffsets.get(fn.name);
    if (calls.length > 1) fail(offset, "FUNCTION_EFFECT_LIMIT", "Effect function external call limit is 1");
    if (calls.length === 0) fail(offset, "FUNCTION_EFFECT", "Effect function requires one external adapter call");
    adapters.set(fn.name, calls[0].name);
  }
  return adapters;
}
