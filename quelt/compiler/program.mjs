// The registry of compiler-issued Programs and their side tables: node types
// and derive source ranges. Recognition is by identity, never by shape.
const issued = new WeakSet();
const programTypes = new WeakMap();
const programRanges = new WeakMap();

const TYPE_MISUSE = "Expression type requires an AST node belonging to the compiler-issued Program";
const RANGE_MISUSE = "Source range requires a derive in the compiler-issued Program";

// Deep-freezes `program`, registers it as issued with its type table (WeakMap
// node -> type text) and range table (Map derive name -> frozen {start, end}).
export function issueProgram(program, types, ranges) {
  deepFreeze(program);
  issued.add(program);
  programTypes.set(program, types);
  programRanges.set(program, ranges);
  return program;
}

// Freezes every record and list reachable through own enumerable fields;
// values that are already frozen are not entered. The tree height is bounded
// by the checker's depth limit, so plain recursion is safe here.
function deepFreeze(value) {
  Object.freeze(value);
  for (const key of Object.keys(value)) {
    const field = value[key];
    if (field !== null && typeof field === "object" && !Object.isFrozen(field)) deepFreeze(field);
  }
}

export function isCompiledProgram(value) {
  return value !== null && typeof value === "object" && issued.has(value);
}

export function getExpressionType(program, node) {
  if (!isCompiledProgram(program)) throw new TypeError(TYPE_MISUSE);
  const types = programTypes.get(program);
  if (node === null || typeof node !== "object" || !types.has(node)) throw new TypeError(TYPE_MISUSE);
  return types.get(node);
}

export function getDeriveSourceRange(program, name) {
  if (!isCompiledProgram(program)) throw new TypeError(RANGE_MISUSE);
  const range = programRanges.get(program).get(name);
  if (range === undefined) throw new TypeError(RANGE_MISUSE);
  return range;
}
