// Pipeline stages: `receiver |> stage(arguments)`.
//
//   parseStage(parser, left, pipeToken, depth) -> node
//     Called by the parser's infix loop after it has stepped over `|>`. Reads
//     the stage name and `(`, looks the stage up in the catalogue, reads its
//     arguments and `)`, and returns the node built around `left` (a stage
//     node, or a `call` of a builtin for keep / map / sum / take). Marks the
//     language feature the stage uses.
//
//   checkStage(checker, node, scope) -> type text
//     Called by the checker for every stage node kind; checks the node's
//     children in order, applies the stage's type rule and returns the type.
//     keep / map / sum / take are `call` nodes and never reach this function.
import { readStage } from "./stages/catalogue.mjs";
import { ruleFor } from "./stages/rules.mjs";

export function parseStage(parser, left, pipeToken, depth) {
  return readStage(parser, left, pipeToken, depth);
}

export function checkStage(checker, node, scope) {
  const rule = ruleFor(node.kind);
  if (rule === undefined) return checker.fail(node, "PIPELINE", `Unsupported pipeline stage ${node.kind}`);
  return rule(node, ruleContext(checker, node, scope));
}

// The operations a rule uses, bound to the node being checked and its scope;
// every failure is anchored at that node.
function ruleContext(checker, node, scope) {
  return {
    check: (child) => checker.check(child, scope),
    require: (condition, message) => checker.requireType(node, condition, message),
    noResult: (...types) => checker.noResult(node, ...types),
    fail: (code, message) => checker.fail(node, code, message),
    result: (name) => checker.results.get(name),
    schema: (name) => checker.schemas.get(name),
    isResult: (type) => checker.isResult(type),
    isSchema: (type) => checker.isSchema(type),
    callback: (name) => checker.callback(node, name),
    recordCall: (name) => checker.recordCall(scope, name),
  };
}
