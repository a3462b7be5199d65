// The catalogue of pipeline stages: for every stage name, how its arguments
// are read after `(`, the node it builds around the receiver, the token that
// anchors that node, and the language feature it marks.
import { operatorChoice, fieldKey, fieldDescriptor } from "./arguments.mjs";

// Anchors: the stage's name token, the callback's name token, the `|>` token.
const STAGE = "stage";
const CALLBACK = "callback";
const PIPE = "pipe";

// ---- argument readers: (parser, depth) -> argument list ---------------------

const nothing = () => [];

function expression(parser, depth) {
  return [parser.parseExpression(1, depth + 1)];
}

function twoExpressions(parser, depth) {
  const first = parser.parseExpression(1, depth + 1);
  parser.expect(",");
  return [first, parser.parseExpression(1, depth + 1)];
}

function staticName(parser) {
  return [parser.staticReference().value];
}

function twoStaticNames(parser) {
  const first = parser.staticReference().value;
  parser.expect(",");
  return [first, parser.staticReference().value];
}

function plainName(parser) {
  return [parser.identifier().value];
}

function callback(parser) {
  return [parser.identifier()];
}

function callbackAndSeed(parser, depth) {
  const token = parser.identifier();
  parser.expect(",");
  return [token, parser.parseExpression(1, depth + 1)];
}

function literalKey(parser) {
  return [fieldKey(parser)];
}

const KEEP_BUILTINS = { ">": "keepGt", ">=": "keepGe", "<": "keepLt", "<=": "keepLe", "==": "keepEq", "!=": "keepNe" };
const MAP_BUILTINS = { "+": "mapAdd", "-": "mapSub", "*": "mapMul" };

function keepArguments(parser) {
  const builtin = operatorChoice(parser, KEEP_BUILTINS, "keep requires a comparison and numeric literal");
  return [builtin, parser.numericLiteral()];
}

function mapArguments(parser) {
  const builtin = operatorChoice(parser, MAP_BUILTINS, "map supports +, -, or * numeric literal");
  return [builtin, parser.numericLiteral()];
}

function takeArgument(parser) {
  return [parser.numericLiteral()];
}

// ---- node builders: (receiver, args, stageName) -> node value ---------------

const resultValue = (tag) => (receiver, [name]) => ({ kind: "resultValue", name, tag, value: receiver });
const intBits = (op) => (receiver, args) =>
  op === "not" ? { kind: "intBits", op, value: receiver } : { kind: "intBits", op, value: receiver, argument: args[0] };
const textOp = (receiver, [argument], op) => ({ kind: "textOp", op, value: receiver, argument });
const unaryOn = (kind, field) => (receiver) => ({ kind, [field]: receiver });
const binaryOn = (kind, first, second) => (receiver, [other]) => ({ kind, [first]: receiver, [second]: other });
const callbackStage = (kind) => (receiver, [token]) => ({ kind, array: receiver, name: token.value });
const seededStage = (kind, receiverField) => (receiver, [token, seed]) => ({
  kind,
  [receiverField]: receiver,
  name: token.value,
  initial: seed,
});

// `afterClose`, when present, runs on the arguments once `)` has been read.
function entry(read, build, anchor, feature = null, afterClose = null) {
  return { read, build, anchor, feature, afterClose };
}

// The checkFields descriptor is validated only after the closing parenthesis.
function descriptorFields(parser, [descriptor]) {
  return [fieldDescriptor(parser, descriptor)];
}

function textEntry() {
  return entry(expression, textOp, STAGE, "hasTextOps");
}

function bitEntry(op) {
  return entry(op === "not" ? nothing : expression, intBits(op), STAGE, "hasIntBits");
}

// Stage name -> entry, built on first use: only a source with a pipeline
// stage needs it.
let stages = null;

function buildStages() {
  return {
    __proto__: null,
    ok: entry(staticName, resultValue("ok"), STAGE),
    err: entry(staticName, resultValue("err"), STAGE),
    match: entry(twoStaticNames, (value, [ok, err]) => ({ kind: "resultMatch", value, ok, err }), STAGE),
    bitAnd: bitEntry("and"),
    bitOr: bitEntry("or"),
    bitXor: bitEntry("xor"),
    shiftLeft: bitEntry("shl"),
    shiftRight: bitEntry("shr"),
    bitNot: bitEntry("not"),
    asSchema: entry(plainName, (record, [schema]) => ({ kind: "asSchema", record, schema }), STAGE),
    field: entry(literalKey, (value, [field]) => ({ kind: "schemaField", value, field, schema: null }), STAGE),
    toRecord: entry(nothing, (value) => ({ kind: "toRecord", value, schema: null }), STAGE),
    toJson: entry(nothing, unaryOn("toJson", "record"), STAGE, "hasRecordJson"),
    checkFields: entry(
      expression,
      (record, [fields]) => ({ kind: "checkFields", record, fields }),
      STAGE,
      "hasRecordFieldCheck",
      descriptorFields,
    ),
    concat: entry(expression, binaryOn("concat", "left", "right"), STAGE, "hasConcat"),
    withField: entry(
      twoExpressions,
      (record, [key, value]) => ({ kind: "withField", record, key, value }),
      STAGE,
      "hasRecordFields",
    ),
    withoutField: entry(expression, binaryOn("withoutField", "record", "key"), STAGE, "hasRecordFields"),
    contains: textEntry(),
    startsWith: textEntry(),
    endsWith: textEntry(),
    split: textEntry(),
    join: textEntry(),
    keys: entry(nothing, unaryOn("keys", "value"), STAGE, "hasRecordKeys"),
    slice: entry(twoExpressions, (value, [start, count]) => ({ kind: "slice", value, start, count }), STAGE, "hasTextSlice"),
    parseInt: entry(nothing, unaryOn("parseInt", "value"), STAGE, "hasTextParseInt"),
    parseFloat: entry(nothing, unaryOn("parseFloat", "value"), STAGE, "hasTextParseFloat"),
    toText: entry(nothing, unaryOn("toText", "value"), STAGE, "hasScalarText"),
    quotient: entry(expression, binaryOn("quotient", "left", "right"), STAGE, "hasIntDivision"),
    remainder: entry(expression, binaryOn("remainder", "left", "right"), STAGE, "hasIntDivision"),
    present: entry(nothing, unaryOn("present", "value"), STAGE, "hasOptionalData"),
    require: entry(nothing, unaryOn("require", "value"), STAGE, "hasOptionalData"),
    orElse: entry(expression, binaryOn("orElse", "value", "fallback"), STAGE, "hasOptionalData"),
    append: entry(expression, binaryOn("append", "array", "item"), STAGE, "hasAppend"),
    at: entry(expression, binaryOn("at", "array", "index"), STAGE, "hasAt"),
    sortBy: entry(callback, callbackStage("sortBy"), CALLBACK, "hasSortBy"),
    filter: entry(callback, callbackStage("filter"), CALLBACK, "hasFilter"),
    each: entry(callback, callbackStage("each"), CALLBACK, "hasEach"),
    fold: entry(callbackAndSeed, seededStage("fold", "array"), CALLBACK, "hasFold"),
    repeat: entry(callbackAndSeed, seededStage("repeat", "count"), CALLBACK, "hasRepeat"),
    keep: entry(keepArguments, (receiver, [name, literal]) => ({ kind: "call", name, args: [receiver, literal] }), PIPE),
    map: entry(mapArguments, (receiver, [name, literal]) => ({ kind: "call", name, args: [receiver, literal] }), PIPE),
    sum: entry(nothing, (receiver) => ({ kind: "call", name: "sum", args: [receiver] }), PIPE),
    take: entry(takeArgument, (receiver, [count]) => ({ kind: "call", name: "take", args: [receiver, count] }), PIPE),
  };
}

function stageEntry(stage) {
  stages ??= buildStages();
  return stages[stage];
}

// Reads the stage that follows a `|>` (already stepped over) and returns the
// node built around `left`.
export function readStage(parser, left, pipeToken, depth) {
  const nameToken = parser.identifier();
  parser.expect("(");
  const stage = nameToken.value;
  const spec = stageEntry(stage);
  if (spec === undefined) parser.fail(nameToken.offset, "PIPELINE", `Unsupported pipeline stage ${stage}`);
  let args = spec.read(parser, depth);
  parser.expect(")");
  if (spec.afterClose !== null) args = spec.afterClose(parser, args);
  const anchor = spec.anchor === STAGE ? nameToken.offset : spec.anchor === PIPE ? pipeToken.offset : args[0].offset;
  const built = parser.node(spec.build(left, args, stage), anchor);
  if (spec.feature !== null) parser.mark(spec.feature);
  return built;
}
