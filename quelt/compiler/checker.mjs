// The type checker: walks expression trees, records every node's type text,
// and applies the rules of the core node kinds. Pipeline stage kinds are
// handed to checkStage(checker, node, scope) from stages.mjs, which returns
// the node's type text (the checker records it).
//
// API used by the stages (and by module checking):
//
//   checker.check(child, scope)   checks a child of the node whose scope is `scope`
//                                 (one level deeper) and returns its type text
//   checker.walk(node, scope)     checks `node` itself at `scope.depth`
//   checker.rootScope(names, refs, currentFn)   scope of a top-level expression:
//       names: Map name -> type; refs: Set receiving resolved names, or null;
//       currentFn: the name of the function being checked, or null
//   scope.currentFn               the function whose body is checked (null in derives/defaults)
//   checker.typeOf(node)          the recorded type of an already checked node
//   checker.fail(node, code, message)        throws CompileDiagnostic at the node's anchor
//   checker.requireType(node, condition, message)   TYPE_MISMATCH unless condition
//   checker.noResult(node, ...types)         RESULT_TYPE "Named Result is forbidden in this operation"
//   checker.isResult(type), checker.isSchema(type)
//   checker.results / schemas / functions    Maps name -> declared record
//                                             ({name, successType} / {name, fields} /
//                                              {name, params, returnType, locals?, expression})
//   checker.effectFunctions                  Set of effect function names
//   checker.callback(node, name)             the module function `name` used as a callback
//                                            or handler: UNKNOWN_CALL "Unknown source callback ..."
//                                            / FUNCTION_EFFECT when it is an effect function
//   checker.recordCall(scope, name)          inside a function body, records the call to
//                                            `name` for the recursion check (no-op elsewhere)
//   checker.mark(feature)                    sets a version feature mark
//   checker.checkBuiltinCall(node, name, args, types)   the builtin-call rules, for the
//                                            keep/map/sum/take stages that build `call` nodes
//   predicates: checker.isNumeric(t), isScalar(t), isBaseArray(t), isReaderDomain(t),
//               isTruthLike(t) (assignable to Truth or exactly Truth?)
//   type operations: checker.parts, checker.assignable, checker.common (from types.mjs)
import { LIMITS, RECORD_READ_TYPES } from "./limits.mjs";
import { CompileDiagnostic } from "./diagnostics.mjs";
import { parts, assignable, common } from "./types.mjs";
import { checkStage } from "./stages.mjs";
import { checkAdapterCall } from "./adapters.mjs";

// Name sets of the type rules, built by the first Checker: loading the
// compiler does not mean checking a source.
let BASES, PRIMITIVES, READER_DOMAINS, ORDERED, NUMERIC_BASES, BUILTINS;

function buildNameSets() {
  BASES = new Set(["Int", "Float", "Text", "Truth", "Record"]);
  PRIMITIVES = new Set(["Int", "Float", "Text", "Truth"]);
  READER_DOMAINS = new Set(Object.values(RECORD_READ_TYPES));
  ORDERED = new Set(["Int", "Float", "Text"]);
  NUMERIC_BASES = new Set(["Int", "Float"]);
  const keepMap = ["keepGt", "keepGe", "keepLt", "keepLe", "keepEq", "keepNe", "mapAdd", "mapSub", "mapMul"];
  BUILTINS = new Set(["sum", "len", "choose", "take", ...keepMap, "hasField", ...Object.keys(RECORD_READ_TYPES)]);
}

export class Checker {
  // `module`: the parse results (see declarations.mjs); `parser`: for locations and marks.
  constructor(module, locations, features, interfaces) {
    if (BASES === undefined) buildNameSets();
    this.source = module.source;
    this.module = module;
    this.results = module.results;
    this.schemas = module.schemas;
    this.functions = module.functions;
    this.effectFunctions = module.effectFunctions;
    this.uses = module.uses;
    this.interfaces = interfaces;
    this.locations = locations;
    this.features = features;
    this.types = new WeakMap();
    this.functionCalls = new Map();
    this.hasResults = module.results.size > 0;
    this.partsCache = new Map();
    this.parts = parts;
    this.assignable = assignable;
    this.common = common;
  }

  // parts() of a type text, computed once per distinct text.
  partsOf(type) {
    let p = this.partsCache.get(type);
    if (p === undefined) {
      p = parts(type);
      this.partsCache.set(type, p);
    }
    return p;
  }

  rootScope(names, refs, currentFn) {
    return { names, refs, currentFn: currentFn ?? null, depth: 1, inner: null };
  }

  fail(node, code, message) {
    const offset = this.locations.get(node) ?? 0;
    throw new CompileDiagnostic(this.source, offset, code, message);
  }

  requireType(node, condition, message) {
    if (!condition) this.fail(node, "TYPE_MISMATCH", message);
  }

  noResult(node, ...types) {
    if (!this.hasResults) return;
    for (let i = 0; i < types.length; i += 1) this.noResultOf(node, types[i]);
  }

  noResultOf(node, type) {
    if (this.hasResults && this.results.has(type)) {
      this.fail(node, "RESULT_TYPE", "Named Result is forbidden in this operation");
    }
  }

  isResult(type) {
    return this.results.has(type);
  }

  isSchema(type) {
    return this.schemas.has(type);
  }

  mark(feature) {
    this.features[feature] = true;
  }

  typeOf(node) {
    return this.types.get(node);
  }

  // Unknown, or a non-array Int or Float, optional or not.
  isNumeric(type) {
    return type === "Int" || type === "Float" || type === "Unknown" || type === "Int?" || type === "Float?";
  }

  isScalar(type) {
    return BASES.has(type);
  }

  isBaseArray(type) {
    const p = this.partsOf(type);
    return p.array && !p.optional && BASES.has(p.base);
  }

  isReaderDomain(type) {
    return READER_DOMAINS.has(type);
  }

  // Assignable to Truth, or exactly Truth?.
  isTruthLike(type) {
    return type === "Truth" || type === "Unknown" || type === "Truth?";
  }

  recordCall(scope, name) {
    const from = scope.currentFn;
    if (from === null) return;
    let calls = this.functionCalls.get(from);
    if (calls === undefined) {
      calls = new Set();
      this.functionCalls.set(from, calls);
    }
    calls.add(name);
  }

  callback(node, name) {
    const fn = this.functions.get(name);
    if (fn === undefined) this.fail(node, "UNKNOWN_CALL", `Unknown source callback ${name}`);
    if (this.effectFunctions.has(name)) {
      this.fail(node, "FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler");
    }
    return fn;
  }

  check(child, scope) {
    let inner = scope.inner;
    if (inner === null) {
      inner = { names: scope.names, refs: scope.refs, currentFn: scope.currentFn, depth: scope.depth + 1, inner: null };
      scope.inner = inner;
    }
    return this.walk(child, inner);
  }

  walk(node, scope) {
    if (scope.depth > LIMITS.depth) this.fail(node, "DEPTH_LIMIT", `Expression depth limit is ${LIMITS.depth}`);
    let type;
    switch (node.kind) {
      case "literal": type = node.type; break;
      case "ref": type = this.checkRef(node, scope); break;
      case "unary": type = this.checkUnary(node, scope); break;
      case "binary": type = this.checkBinary(node, scope); break;
      case "record": type = this.checkRecord(node, scope); break;
      case "array": type = this.checkArray(node, scope); break;
      case "call": type = this.checkCall(node, scope); break;
      default: type = checkStage(this, node, scope); break;
    }
    this.types.set(node, type);
    freezeNode(node);
    return type;
  }

  checkRef(node, scope) {
    const type = scope.names.get(node.name);
    if (type === undefined) this.fail(node, "UNKNOWN_REFERENCE", `Unknown reference ${node.name}`);
    if (scope.refs !== null) scope.refs.add(node.name);
    return type;
  }

  checkUnary(node, scope) {
    const type = this.check(node.value, scope);
    this.noResultOf(node, type);
    if (node.operator === "not") {
      this.requireType(node, this.isTruthLike(type), "not requires Truth");
      return "Truth";
    }
    this.requireType(node, type !== "Unknown" && this.isNumeric(type), "Unary - requires an Int or Float value");
    return type;
  }

  checkBinary(node, scope) {
    const a = this.check(node.left, scope);
    const b = this.check(node.right, scope);
    this.noResultOf(node, a);
    this.noResultOf(node, b);
    const operator = node.operator;
    switch (operator) {
      case "and":
      case "or":
        this.requireType(node, this.isTruthLike(a) && this.isTruthLike(b), `${operator} requires Truth operands`);
        return "Truth";
      case "+":
        if (isTextOperand(a) && isTextOperand(b) && !(a === "Unknown" && b === "Unknown")) {
          node.textConcat = true;
          this.mark("hasTextConcat");
          return common(a, b);
        }
      // falls through
      case "-":
      case "*":
      case "/": {
        this.requireType(
          node,
          this.isNumeric(a) && this.isNumeric(b) && !(a === "Unknown" && b === "Unknown"),
          `${operator} requires typed numeric operands`,
        );
        const type = common(a, b);
        if (operator === "/") this.requireType(node, this.partsOf(type).base === "Float", "/ requires at least one Float operand");
        return type;
      }
      default:
        return this.checkComparison(node, operator, a, b);
    }
  }

  checkComparison(node, operator, a, b) {
    const c = common(a, b);
    if (c === "Unknown") return "Truth";
    this.requireType(node, c !== null && c !== "EmptyArray", "Comparison requires compatible typed operands");
    const p = this.partsOf(c);
    const allowed = operator === "==" || operator === "!=" ? PRIMITIVES : ORDERED;
    this.requireType(
      node,
      !p.array && allowed.has(p.base),
      "Comparison requires primitive operands; ordering supports numbers or Text",
    );
    return "Truth";
  }

  checkRecord(node, scope) {
    const fields = node.fields;
    const types = new Array(fields.length);
    for (let i = 0; i < fields.length; i += 1) types[i] = this.check(fields[i].expression, scope);
    for (let i = 0; i < types.length; i += 1) this.noResultOf(node, types[i]);
    if (this.schemas.size > 0) {
      for (let i = 0; i < types.length; i += 1) {
        this.requireType(node, !this.schemas.has(types[i]), "Record fields cannot implicitly erase a named schema");
      }
    }
    return "Record";
  }

  checkArray(node, scope) {
    let running = "EmptyArray";
    let element = null;
    const items = node.items;
    for (let i = 0; i < items.length; i += 1) {
      const type = this.check(items[i], scope);
      this.noResultOf(node, type);
      this.requireType(node, BASES.has(type), "Array items must be known primitive values or Records");
      if (element === null) {
        element = type;
        running = `${type}[]`;
      } else if (type !== element) {
        // Elements differ: the only join of two bases is Int with Float.
        running = common(running, `${type}[]`);
        this.requireType(node, running !== null, "Array elements must have compatible types");
        element = this.partsOf(running).base;
      }
    }
    return running;
  }

  checkCall(node, scope) {
    const args = node.args;
    const types = new Array(args.length);
    for (let i = 0; i < args.length; i += 1) types[i] = this.check(args[i], scope);
    const name = node.name;
    if (BUILTINS.has(name)) return this.checkBuiltinCall(node, name, args, types);
    if (name.includes(".")) return checkAdapterCall(this, node, types, scope);
    return this.checkFunctionCall(node, name, types, scope);
  }

  checkBuiltinCall(node, name, args, types) {
    if (name === "choose") return this.checkChoose(node, types);
    const count = name === "sum" || name === "len" ? 1 : 2;
    this.requireType(node, types.length === count, `${name} expects ${count} arguments`);
    this.noResult(node, ...types);
    const [first, second] = types;
    if (name === "hasField" || Object.hasOwn(RECORD_READ_TYPES, name)) {
      this.requireType(node, first === "Record" && second === "Text", `${name} requires a known Record and exact Text key`);
      return name === "hasField" ? "Truth" : RECORD_READ_TYPES[name];
    }
    if (name === "len") {
      const p = parts(first);
      this.requireType(
        node,
        first === "EmptyArray" || (first !== "Unknown" && !p.optional && (p.array || p.base === "Text")),
        "len requires known Text or array",
      );
      return "Int";
    }
    if (name === "sum") {
      if (first === "EmptyArray") return "Int";
      const p = parts(first);
      this.requireType(node, p.array && !p.optional && NUMERIC_BASES.has(p.base), "sum requires a known numeric array");
      return p.base;
    }
    if (name === "take") {
      const p = parts(first);
      this.requireType(
        node,
        (first === "EmptyArray" || (p.array && !p.optional)) && second === "Int",
        "take requires an array and Int count",
      );
      const count = args[1];
      if (isNegativeCount(count)) this.fail(count, "VALUE", "take count cannot be negative");
      return first;
    }
    // keepGt … keepNe, mapAdd, mapSub, mapMul
    const p = parts(first);
    const q = parts(second);
    this.requireType(
      node,
      p.array && !p.optional && NUMERIC_BASES.has(p.base) && !q.array && !q.optional && NUMERIC_BASES.has(q.base),
      `${name} requires a known numeric array and numeric operand`,
    );
    if (name.startsWith("keep")) return first;
    return `${common(p.base, second)}[]`;
  }

  checkChoose(node, types) {
    this.requireType(node, types.length === 4, "choose expects 4 arguments");
    this.requireType(node, this.isTruthLike(types[0]), "choose first argument must be Truth");
    const branches = [types[1], types[2], types[3]];
    const same = branches[0] === branches[1] && branches[1] === branches[2];
    if (branches.some((type) => this.results.has(type))) {
      if (!same) this.fail(node, "RESULT_TYPE", "choose requires three identical Result branches");
      return branches[0];
    }
    if (branches.some((type) => this.schemas.has(type))) {
      this.requireType(node, same, "choose requires three identical named schema branches");
      return branches[0];
    }
    let type = branches.find((branch) => branch !== "Unknown" && branch !== "EmptyArray") ?? branches[0];
    for (const branch of branches) {
      type = type === null ? null : common(type, branch);
    }
    this.requireType(node, type !== null, "choose requires three branches of one compatible type");
    return type;
  }

  checkFunctionCall(node, name, types, scope) {
    const fn = this.functions.get(name);
    if (fn === undefined) this.fail(node, "UNKNOWN_CALL", `Unknown function ${name}`);
    if (scope.currentFn !== null && this.effectFunctions.has(name)) {
      this.fail(node, "FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler");
    }
    const params = fn.params;
    this.requireType(node, types.length === params.length, `${name} expects ${params.length} arguments`);
    for (let i = 0; i < params.length; i += 1) {
      const expected = params[i].type;
      if (!assignable(types[i], expected)) {
        this.fail(node, "TYPE_MISMATCH", `Argument ${i + 1} of ${name} requires ${expected}, received ${types[i]}`);
      }
    }
    this.recordCall(scope, name);
    return fn.returnType;
  }
}

// A checked node is complete: freeze it with the lists and field records it
// holds (its child nodes are already frozen, having been checked first).
function freezeNode(node) {
  switch (node.kind) {
    case "literal":
    case "ref":
    case "unary":
    case "binary":
      break;
    case "call":
      Object.freeze(node.args);
      break;
    case "array":
      Object.freeze(node.items);
      break;
    case "record": {
      const fields = node.fields;
      for (let i = 0; i < fields.length; i += 1) Object.freeze(fields[i]);
      Object.freeze(fields);
      break;
    }
    default:
      freezeFields(node);
      break;
  }
  Object.freeze(node);
}

function freezeFields(value) {
  const keys = Object.keys(value);
  for (let i = 0; i < keys.length; i += 1) {
    const field = value[keys[i]];
    if (field !== null && typeof field === "object" && !Object.isFrozen(field)) {
      freezeFields(field);
      Object.freeze(field);
    }
  }
}

function isTextOperand(type) {
  return type === "Text" || type === "Text?" || type === "Unknown";
}

// A count written as a negative literal (pipeline `take(-2)`) or as a unary
// minus directly over a positive literal (`take(xs, -1)`).
function isNegativeCount(count) {
  if (count.kind === "literal") return typeof count.value === "number" && count.value < 0;
  return (
    count.kind === "unary" &&
    count.operator === "-" &&
    count.value.kind === "literal" &&
    typeof count.value.value === "number" &&
    count.value.value > 0
  );
}
