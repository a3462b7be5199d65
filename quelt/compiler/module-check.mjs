// Checks a parsed module as a whole and assembles the Program. The phases run
// in a fixed order; each covers the whole module before the next begins, and
// the first fault ends compilation.
import { CompileDiagnostic } from "./diagnostics.mjs";
import { assignable } from "./types.mjs";
import { checkNamedAnnotations } from "./types.mjs";
import { Checker } from "./checker.mjs";
import { checkEffectFunctions } from "./adapters.mjs";
import { moduleVersion } from "./version.mjs";
import { issueProgram } from "./program.mjs";

const DEFAULT_LITERAL_MESSAGE = "Input default must contain only literals, arrays or Records of literals";

export function checkModule(module, parser, interfaces) {
  const source = module.source;
  const fail = (offset, code, message) => {
    throw new CompileDiagnostic(source, offset, code, message);
  };
  const checker = new Checker(module, parser.locations, parser.features, interfaces);
  const declaresSchema = module.schemaList.length > 0;
  const declaresResult = module.resultList.length > 0;

  if (module.named) checkNamedAnnotations(module.annotationRefs, module.results, module.schemas, fail);
  if (declaresSchema || declaresResult) checkOutputs(module, fail);
  if (declaresSchema) {
    checkBoundary(module, module.schemas, "SCHEMA_BOUNDARY", "Named schemas cannot be root", fail);
  }
  if (declaresResult) {
    checkBoundary(module, module.results, "RESULT_BOUNDARY", "Named Results cannot be root", fail);
  }
  const adapters = checkEffectFunctions(module, fail);
  checkFunctions(module, checker);
  checkRecursion(module, checker, fail);
  const defaults = checkDefaults(module, checker);
  checkDerives(module, checker);
  checkOutputs(module, fail);
  const derives = orderDerives(module, fail);
  return issueProgram(
    buildProgram(module, derives, defaults, adapters, interfaces, moduleVersion(module, parser.features)),
    checker.types,
    module.deriveRanges,
  );
}

function checkOutputs(module, fail) {
  for (const name of module.outputs) {
    if (!module.symbols.has(name)) fail(module.declarationOffsets.get(`output:${name}`), "UNKNOWN_OUTPUT", `Unknown output ${name}`);
  }
}

function checkBoundary(module, named, code, prefix, fail) {
  for (const input of module.inputs) {
    if (named.has(input.type)) fail(module.declarationOffsets.get(input.name), code, `${prefix} inputs`);
  }
  for (const name of module.outputs) {
    if (named.has(module.symbols.get(name))) fail(module.declarationOffsets.get(`output:${name}`), code, `${prefix} outputs`);
  }
}

function checkFunctions(module, checker) {
  for (const fn of module.functionList) {
    const names = new Map();
    for (const param of fn.params) names.set(param.name, param.type);
    if (fn.locals) {
      for (const local of fn.locals) {
        const type = checker.walk(local.expression, checker.rootScope(names, null, fn.name));
        if (!assignable(type, local.type)) {
          checker.fail(local.expression, "TYPE_MISMATCH", `Local ${local.name} receives ${type}, declared ${local.type}`);
        }
        names.set(local.name, local.type);
      }
    }
    const type = checker.walk(fn.expression, checker.rootScope(names, null, fn.name));
    if (!assignable(type, fn.returnType)) {
      checker.fail(fn.expression, "TYPE_MISMATCH", `Function ${fn.name} returns ${type}, declared ${fn.returnType}`);
    }
  }
}

function checkRecursion(module, checker, fail) {
  const active = new Set();
  const finished = new Set();
  const visit = (name) => {
    if (active.has(name)) fail(module.functionOffsets.get(name), "FUNCTION_CYCLE", `Recursive function cycle includes ${name}`);
    if (finished.has(name)) return;
    active.add(name);
    const calls = checker.functionCalls.get(name);
    if (calls !== undefined) for (const callee of calls) visit(callee);
    active.delete(name);
    finished.add(name);
  };
  for (const fn of module.functionList) visit(fn.name);
}

// Converts each default to plain data, then type-checks it with an empty
// scope. Returns Map input name -> converted value.
function checkDefaults(module, checker) {
  const values = new Map();
  const empty = new Map();
  for (const input of module.inputs) {
    const expression = input.defaultExpression;
    if (expression === undefined) continue;
    const value = defaultValue(expression, checker);
    const type = checker.walk(expression, checker.rootScope(empty, null, null));
    if (!assignable(type, input.type)) {
      checker.fail(expression, "TYPE_MISMATCH", `Default for ${input.name} is ${type}, declared ${input.type}`);
    }
    values.set(input.name, value);
  }
  return values;
}

const UNKNOWN_MARKER = () => ({ kind: "quelt-unknown" });

function defaultValue(node, checker) {
  switch (node.kind) {
    case "literal":
      return node.type === "Unknown" ? null : node.value;
    case "unary":
      if (node.operator === "-" && node.value.kind === "literal" && (node.value.type === "Int" || node.value.type === "Float")) {
        return -node.value.value;
      }
      break;
    case "array":
      return node.items.map((item) => defaultValue(item, checker));
    case "record": {
      const record = Object.create(null);
      for (const field of node.fields) {
        const expression = field.expression;
        record[field.key] = expression.kind === "literal" && expression.type === "Unknown"
          ? UNKNOWN_MARKER()
          : defaultValue(expression, checker);
      }
      return record;
    }
    default:
      break;
  }
  return checker.fail(node, "DEFAULT_LITERAL", DEFAULT_LITERAL_MESSAGE);
}

function checkDerives(module, checker) {
  const order = new Map();
  let index = 0;
  for (const name of module.symbols.keys()) order.set(name, index++);
  for (const derive of module.derives) {
    const refs = new Set();
    const type = checker.walk(derive.expression, checker.rootScope(module.symbols, refs, null));
    if (!assignable(type, derive.type)) {
      checker.fail(derive.expression, "TYPE_MISMATCH", `Derive ${derive.name} is ${type}, declared ${derive.type}`);
    }
    derive.dependencies = [...refs].sort((a, b) => order.get(a) - order.get(b));
  }
}

function orderDerives(module, fail) {
  const byName = new Map();
  for (const derive of module.derives) byName.set(derive.name, derive);
  const active = new Set();
  const finished = new Set();
  const ordered = [];
  const visit = (name) => {
    if (active.has(name)) fail(module.declarationOffsets.get(name), "DERIVE_CYCLE", `Derive dependency cycle includes ${name}`);
    if (finished.has(name)) return;
    active.add(name);
    for (const dependency of byName.get(name).dependencies) {
      if (byName.has(dependency)) visit(dependency);
    }
    active.delete(name);
    finished.add(name);
    ordered.push(byName.get(name));
  };
  for (const derive of module.derives) visit(derive.name);
  return ordered;
}

function buildProgram(module, derives, defaults, adapters, interfaces, version) {
  const inputs = module.inputs.map((input) => (input.defaultExpression === undefined
    ? { name: input.name, type: input.type }
    : { name: input.name, type: input.type, defaultExpression: input.defaultExpression, defaultValue: defaults.get(input.name) }));
  const functions = module.functionList.map((fn) => {
    if (!adapters.has(fn.name)) return fn;
    return { ...fn, effect: { adapter: adapters.get(fn.name) } };
  });
  const program = {
    kind: "quelt-program",
    version,
    name: module.name,
    source: module.source,
    inputs,
    derives,
    outputs: module.outputs,
    functions,
    interfaces,
  };
  if (module.schemaList.length > 0) program.schemas = module.schemaList;
  if (module.resultList.length > 0) program.results = module.resultList;
  return program;
}
