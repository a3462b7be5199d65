// The array pipeline stages of the evaluator: the callback stages sortBy,
// filter, each, fold and repeat, and the structural stages at, append and
// concat. Each bounds its work before doing it: item counts first, exact
// canonical-byte sizes of the whole result incrementally, and a step for every
// item, comparison and Record member.
//
// Exports:
//   arrayStageCompiler(kind) -> (node, unit) -> {run, runAsync}, or undefined
//                           for a kind that is not one of these stages; used
//                           by the evaluator's dispatch (./evaluator.mjs).
// Callbacks are pure functions in the language, so they are invoked
// synchronously on both evaluation paths. A callback's invocation reads its
// argument list only while binding the parameters, so a loop hands it the same
// list each time with new items.

import {
  ARRAY_APPEND_LIMITS,
  ARRAY_AT_LIMITS,
  ARRAY_CONCAT_LIMITS,
  FUNCTION_EACH_LIMITS,
  FUNCTION_FILTER_LIMITS,
  FUNCTION_FOLD_LIMITS,
  FUNCTION_REPEAT_LIMITS,
} from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";
import { compiled, functionCaller, functionNamed, runEither, sequence, staticType } from "./evaluator.mjs";
import { FUNCTION_SORT_BY_LIMITS, RUNTIME_LIMITS } from "./limits.mjs";
import { compareTexts, mergeSort, sortIndicesByNumbers } from "./ordering.mjs";
import {
  appendCanonicalBytes,
  concatCanonicalBytes,
  filterCanonicalBytes,
  recordWork,
  recordWorkWith,
  sortByCanonicalBytes,
} from "./records.mjs";
import { scalarCanonicalBytes } from "./utf8.mjs";
import { UNKNOWN, admittedSummary, base, canonicalSize, dense, ev, frozenDense, knownDense, normalize } from "./values.mjs";

function isPlainArrayType(type) {
  return type === "Int[]" || type === "Float[]" || type === "Text[]" || type === "Truth[]" || type === "Record[]";
}

const TYPED_ARRAY = "Ожидается проверенный типизированный массив.";

function unknownFunction(name) {
  return fail("UNKNOWN_FUNCTION", "Неизвестная функция " + name + ".");
}

function callback(ctx, name) {
  const fn = functionNamed(ctx, name);
  return fn === undefined ? unknownFunction(name) : fn;
}

// Item i must be an own, enumerable data field.
function ownItem(array, index) {
  const descriptor = Object.getOwnPropertyDescriptor(array, index);
  if (descriptor === undefined || descriptor.enumerable !== true || !Object.hasOwn(descriptor, "value")) {
    fail("ARRAY_SCHEMA", "Ожидается собственный плотный элемент.");
  }
  return descriptor.value;
}

// Frozen arrays whose items were all found to be own, enumerable data fields;
// being frozen, they stay so.
const ownItemArrays = new WeakSet();

// Every item of `array` read in index order, as `ownItem` reads them; a frozen
// array is examined once.
function copyOwnItems(array, target, offset) {
  if (ownItemArrays.has(array) || knownDense(array)) {
    for (let i = 0; i < array.length; i += 1) target[offset + i] = array[i];
    return;
  }
  for (let i = 0; i < array.length; i += 1) target[offset + i] = ownItem(array, i);
  if (Object.isFrozen(array)) ownItemArrays.add(array);
}

// `summaries`, when given, holds admittedSummary of each item (see summariesOf).
// Admitted data within the bounds counts the members its summary holds, as
// recordWork answers for it.
function recordWorkOf(items, itemType, ctx, summaries = null) {
  if (itemType !== "Record") return;
  if (summaries === null) {
    for (let i = 0; i < items.length; i += 1) {
      ctx.check();
      ctx.step(recordWork(items[i]));
    }
    return;
  }
  const maxDepth = RUNTIME_LIMITS.recordDepth;
  const maxMembers = RUNTIME_LIMITS.recordMembers;
  for (let i = 0; i < items.length; i += 1) {
    ctx.check();
    const summary = summaries[i];
    const known = summary !== undefined && summary.height <= maxDepth && summary.members <= maxMembers;
    ctx.step(known ? summary.members : recordWorkWith(items[i], summary));
  }
}

// The admission summary of every item of a Record array, looked up once for
// the Record work, the result size check and the result building of a stage.
// Summaries belong to frozen copies and are never replaced, so the answers
// stay valid while the stage runs. Null for other item types.
function summariesOf(items, itemType) {
  if (itemType !== "Record") return null;
  const summaries = new Array(items.length);
  for (let i = 0; i < items.length; i += 1) {
    const item = items[i];
    summaries[i] = item !== null && typeof item === "object" ? admittedSummary(item) : undefined;
  }
  return summaries;
}

// The exact canonical size of the finished array, bounded by `limit`; the
// family member adds each item and fails as soon as the total is too large.
// A scalar item is added here exactly as the member would add it (its entry
// check, then one checked addition), without the member's set-up.
// The total is kept in `bytes` and handed to the member in `state`.
function checkResultSize(items, limit, addItem, code, message, ctx, summaries = null) {
  const state = { bytes: 2 };
  let bytes = 2;
  for (let i = 0; i < items.length; i += 1) {
    ctx.check();
    if (i > 0) {
      bytes += 1;
      if (bytes > limit) fail(code, message);
    }
    const item = items[i];
    if (item !== null && typeof item === "object") {
      // Admitted data knows its canonical size; when it fits, the member's
      // walk would end with the same total and no failure.
      const summary = summaries !== null ? summaries[i] : admittedSummary(item);
      if (summary !== undefined && bytes + summary.canonicalBytes <= limit) {
        ctx.check();
        bytes += summary.canonicalBytes;
      } else {
        state.bytes = bytes;
        addItem(item, state, ctx);
        bytes = state.bytes;
      }
    } else {
      ctx.check();
      ctx.check();
      bytes += scalarCanonicalBytes(item);
      if (bytes > limit) fail(code, message);
    }
  }
}

function buildResult(items, itemType, ctx) {
  const result = new Array(items.length);
  for (let i = 0; i < items.length; i += 1) {
    ctx.check();
    result[i] = normalize(items[i], itemType);
  }
  return Object.freeze(result);
}

// buildResult for the sortBy and filter results, whose items are taken from
// the receiver in the order `order` gives (identity when null). A Record that
// jsonCopy made is handed on itself rather than copied afresh: it is frozen at
// every level, admitting it again cannot fail, and inside a run values are
// never compared by identity. Every way out of the run re-admits the items
// first: a derive value goes through the driver's typedTransition, a function
// result through its binding, a Result payload and a Record literal through
// normalize, and reading an item out (at) copies it.
function buildSelection(items, order, itemType, ctx, summaries = null) {
  const count = order === null ? items.length : order.length;
  const result = new Array(count);
  for (let i = 0; i < count; i += 1) {
    ctx.check();
    const index = order === null ? i : order[i];
    const item = items[index];
    const admitted = itemType === "Record" && (summaries !== null ? summaries[index] !== undefined && !Array.isArray(item) : isAdmittedRecord(item));
    result[i] = admitted ? item : normalize(item, itemType);
  }
  return frozenDense(result);
}

function isAdmittedRecord(value) {
  return admittedSummary(value) !== undefined && !Array.isArray(value);
}

// The static array type of a sortBy / filter receiver, checked against the
// node's own type and the runtime value.
function typedReceiver(node, ctx, array) {
  const type = staticType(ctx, node.array);
  if (!isPlainArrayType(type) || staticType(ctx, node) !== type || !Array.isArray(array.value)) {
    fail("ARRAY_SCHEMA", TYPED_ARRAY);
  }
  return type;
}

// ---- sortBy --------------------------------------------------------------------

function sortIndicesByTexts(keys, ctx) {
  const indices = new Array(keys.length);
  for (let i = 0; i < keys.length; i += 1) indices[i] = i;
  return mergeSort(indices, (a, b, context) => compareTexts(keys[a], keys[b], context), ctx);
}

// scalarCanonicalBytes of a key: a number other than 0 is written as
// String(number), which is what scalarCanonicalBytes counts for it.
function keyCanonicalBytes(key) {
  return typeof key === "number" && key !== 0 ? String(key).length : scalarCanonicalBytes(key);
}

function finishSortBy(node, ctx, array) {
  ctx.check();
  const type = typedReceiver(node, ctx, array);
  const itemType = type.slice(0, -2);
  const items = array.value;
  const count = items.length;
  if (count > FUNCTION_SORT_BY_LIMITS.items) fail("SORT_ITEMS", "Массив sortBy содержит слишком много элементов.");
  const fn = functionNamed(ctx, node.name);
  if (fn === undefined) fail("UNKNOWN_FUNCTION", "sortBy требует статическую исходную функцию.");
  const keyType = fn.returnType;
  if (keyType !== "Int" && keyType !== "Float" && keyType !== "Text") {
    fail("VALUE_TYPE", "Ключ sortBy требует Int, Float или Text.");
  }
  const invoke = functionCaller(fn, ctx);
  const args = [null];
  const keys = new Array(count);
  let keyBytes = 2;
  for (let i = 0; i < count; i += 1) {
    ctx.step();
    args[0] = { value: items[i], type: itemType };
    const key = invoke(args, ctx).value;
    ctx.check();
    keyBytes += (i > 0 ? 1 : 0) + keyCanonicalBytes(key);
    ctx.check();
    if (keyBytes > FUNCTION_SORT_BY_LIMITS.keysUtf8Bytes) {
      fail("SORT_KEYS_BYTES", "Полный префикс ключей sortBy превышает лимит UTF-8.");
    }
    keys[i] = key;
  }
  ctx.step(count);
  const summaries = summariesOf(items, itemType);
  recordWorkOf(items, itemType, ctx, summaries);
  checkResultSize(
    items,
    FUNCTION_SORT_BY_LIMITS.resultUtf8Bytes,
    sortByCanonicalBytes,
    "SORT_RESULT_BYTES",
    "Полный результат sortBy превышает лимит UTF-8.",
    ctx,
    summaries,
  );
  ctx.check();
  const order = keyType === "Text" ? sortIndicesByTexts(keys, ctx) : sortIndicesByNumbers(keys, ctx);
  ctx.check();
  const result = buildSelection(items, order, itemType, ctx, summaries);
  ctx.check();
  return ev(result, type);
}

// ---- filter ---------------------------------------------------------------------

function finishFilter(node, ctx, array) {
  ctx.check();
  const type = typedReceiver(node, ctx, array);
  const itemType = type.slice(0, -2);
  const items = array.value;
  if (items.length > FUNCTION_FILTER_LIMITS.items) fail("FILTER_ITEMS", "Массив filter содержит слишком много элементов.");
  const invoke = functionCaller(callback(ctx, node.name), ctx);
  const args = [null];
  const kept = [];
  for (let i = 0; i < items.length; i += 1) {
    ctx.step();
    args[0] = { value: items[i], type: itemType };
    const verdict = invoke(args, ctx).value;
    ctx.check();
    if (verdict === UNKNOWN) fail("FILTER_PREDICATE_UNKNOWN", "Предикат filter вернул unknown.");
    if (verdict === "yes") kept.push(items[i]);
    else if (verdict !== "no") fail("VALUE_TYPE", "Предикат filter требует Truth.");
  }
  ctx.step(kept.length);
  const summaries = summariesOf(kept, itemType);
  recordWorkOf(kept, itemType, ctx, summaries);
  checkResultSize(
    kept,
    FUNCTION_FILTER_LIMITS.resultUtf8Bytes,
    filterCanonicalBytes,
    "FILTER_RESULT_BYTES",
    "Полный результат filter превышает лимит UTF-8.",
    ctx,
    summaries,
  );
  ctx.check();
  const result = buildSelection(kept, null, itemType, ctx, summaries);
  ctx.check();
  return ev(result, type);
}

// ---- each, fold, repeat -----------------------------------------------------------

// The item type handed to a callback: the parameter's type for the empty array
// literal, otherwise the array's own element type.
function elementType(array, fn, emptyParam) {
  if (array.type === "EmptyArray") return fn.params[emptyParam].type;
  return base(array.type).slice(0, -2);
}

function finishEach(node, ctx, array) {
  const items = dense(array.value, FUNCTION_EACH_LIMITS.items);
  const fn = callback(ctx, node.name);
  const itemType = elementType(array, fn, 0);
  const invoke = functionCaller(fn, ctx);
  const args = [null];
  const results = [];
  let bytes = 2;
  for (let i = 0; i < items.length; i += 1) {
    ctx.step();
    args[0] = { value: items[i], type: itemType };
    const value = invoke(args, ctx).value;
    bytes += (results.length > 0 ? 1 : 0) + canonicalSize(value);
    if (bytes > FUNCTION_EACH_LIMITS.resultUtf8Bytes) fail("EACH_RESULT_BYTES", "Полный результат each превышает лимит UTF-8.");
    results.push(value);
  }
  return ev(Object.freeze(results), staticType(ctx, node));
}

function initialState(fn, initial) {
  const type = fn.params[0].type;
  return ev(normalize(initial.value, type), type);
}

// A scalar state is never near the limit (a Text of 65536 UTF-8 bytes has at
// most 6 x 65536 + 2 canonical bytes), so only containers are measured (the
// loops test for one before calling).
function checkState(state, limit, code, message) {
  const value = state.value;
  if (value !== null && typeof value === "object" && canonicalSize(value) > limit) fail(code, message);
}

const FOLD_STATE = ["FOLD_STATE_BYTES", "Полное состояние fold превышает лимит UTF-8."];
const REPEAT_STATE = ["REPEAT_STATE_BYTES", "Полное состояние repeat превышает лимит UTF-8."];

// fold: the array and the callback are checked before the seed is evaluated.
function foldPrepare(ctx, array, node) {
  dense(array.value, FUNCTION_FOLD_LIMITS.items);
  return callback(ctx, node.name);
}

function foldRun(ctx, array, fn, initial) {
  let state = initialState(fn, initial);
  checkState(state, FUNCTION_FOLD_LIMITS.stateUtf8Bytes, ...FOLD_STATE);
  const itemType = elementType(array, fn, 1);
  const items = array.value;
  const invoke = functionCaller(fn, ctx);
  const args = [state, state];
  for (let i = 0; i < items.length; i += 1) {
    ctx.step();
    args[0] = state;
    args[1] = { value: items[i], type: itemType };
    state = invoke(args, ctx);
    const value = state.value;
    if (value !== null && typeof value === "object") checkState(state, FUNCTION_FOLD_LIMITS.stateUtf8Bytes, FOLD_STATE[0], FOLD_STATE[1]);
  }
  return state;
}

function repeatPrepare(ctx, count, node) {
  const times = normalize(count.value, "Int");
  if (times < 0 || times > FUNCTION_REPEAT_LIMITS.iterations) {
    fail("REPEAT_COUNT", "Число повторений repeat выходит за допустимые границы.");
  }
  return { times, fn: callback(ctx, node.name) };
}

function repeatRun(ctx, count, { times, fn }, initial) {
  let state = initialState(fn, initial);
  checkState(state, FUNCTION_REPEAT_LIMITS.stateUtf8Bytes, ...REPEAT_STATE);
  const invoke = functionCaller(fn, ctx);
  const args = [state, state];
  for (let index = 0; index < times; index += 1) {
    ctx.step();
    args[0] = state;
    args[1] = { value: index, type: "Int" };
    state = invoke(args, ctx);
    const value = state.value;
    if (value !== null && typeof value === "object") checkState(state, FUNCTION_REPEAT_LIMITS.stateUtf8Bytes, REPEAT_STATE[0], REPEAT_STATE[1]);
  }
  return state;
}

// Two children with a check between them: first child, prepare, second child, finish.
function staged(node, unit, firstNode, secondNode, prepare, finish) {
  const first = compiled(firstNode, unit);
  const second = compiled(secondNode, unit);
  const runFirst = first.run;
  const runSecond = second.run;
  const run = (env, ctx) => {
    ctx.step();
    const a = runFirst(env, ctx);
    const prepared = prepare(ctx, a, node);
    return finish(ctx, a, prepared, runSecond(env, ctx), node);
  };
  const runAsync = first.runAsync !== null || second.runAsync !== null
    ? async (env, ctx) => {
        ctx.step();
        const a = await runEither(first, env, ctx);
        const prepared = prepare(ctx, a, node);
        return finish(ctx, a, prepared, await runEither(second, env, ctx), node);
      }
    : null;
  return { run, runAsync };
}

// ---- at ------------------------------------------------------------------------------

function atPrepare(ctx, array) {
  if (!Array.isArray(array.value) || array.value.length > ARRAY_AT_LIMITS.items) {
    fail("ARRAY_SCHEMA", "Ожидается проверенный массив.");
  }
}

function atFinish(ctx, array, prepared, index, node) {
  const position = normalize(index.value, "Int");
  const items = array.value;
  if (position < 0 || position >= items.length) fail("ARRAY_INDEX", "Индекс выходит за границы массива.");
  ctx.step();
  const item = ownItem(items, position);
  const type = staticType(ctx, node);
  if (type === "Record") ctx.step(recordWork(item));
  return ev(normalize(item, type), type);
}

// ---- append, concat ---------------------------------------------------------------------

function finishAppend(node, ctx, array, item) {
  const type = staticType(ctx, node);
  const itemType = type.slice(0, -2);
  const items = array.value;
  if (!Array.isArray(items) || items.length > ARRAY_APPEND_LIMITS.items || array.type !== type) {
    fail("ARRAY_SCHEMA", TYPED_ARRAY);
  }
  const count = items.length + 1;
  if (count > ARRAY_APPEND_LIMITS.items) fail("APPEND_ITEMS", "Результат append содержит слишком много элементов.");
  ctx.step(count);
  const combined = new Array(count);
  copyOwnItems(items, combined, 0);
  combined[items.length] = item.value;
  recordWorkOf(combined, itemType, ctx);
  checkResultSize(
    combined,
    ARRAY_APPEND_LIMITS.resultUtf8Bytes,
    appendCanonicalBytes,
    "APPEND_RESULT_BYTES",
    "Полный результат append превышает лимит UTF-8.",
    ctx,
  );
  ctx.check();
  return ev(buildResult(combined, itemType, ctx), type);
}

function compatibleRight(rightType, type) {
  return rightType === type || rightType === "EmptyArray" || (rightType === "Int[]" && type === "Float[]");
}

function finishConcat(node, ctx, left, right) {
  ctx.check();
  const type = staticType(ctx, node);
  const itemType = type.slice(0, -2);
  const leftItems = left.value;
  const rightItems = right.value;
  if (
    !isPlainArrayType(type) ||
    staticType(ctx, node.left) !== type ||
    !compatibleRight(staticType(ctx, node.right), type) ||
    !Array.isArray(leftItems) ||
    !Array.isArray(rightItems) ||
    leftItems.length > ARRAY_CONCAT_LIMITS.items ||
    rightItems.length > ARRAY_CONCAT_LIMITS.items
  ) {
    fail("ARRAY_SCHEMA", "Ожидаются проверенные совместимые типизированные массивы.");
  }
  const count = leftItems.length + rightItems.length;
  if (count > ARRAY_CONCAT_LIMITS.items) fail("CONCAT_ITEMS", "Результат concat содержит слишком много элементов.");
  ctx.step(count);
  const combined = new Array(count);
  copyOwnItems(leftItems, combined, 0);
  copyOwnItems(rightItems, combined, leftItems.length);
  recordWorkOf(combined, itemType, ctx);
  checkResultSize(
    combined,
    ARRAY_CONCAT_LIMITS.resultUtf8Bytes,
    concatCanonicalBytes,
    "CONCAT_RESULT_BYTES",
    "Полный результат concat превышает лимит UTF-8.",
    ctx,
  );
  ctx.check();
  const result = buildResult(combined, itemType, ctx);
  ctx.check();
  return ev(result, type);
}

// Built on first use: a request that runs no Program never needs it.
let arrayStageCompilers = null;

function buildArrayStageCompilers() {
  return {
    sortBy: (node, unit) => sequence(node, unit, [node.array], finishSortBy),
    filter: (node, unit) => sequence(node, unit, [node.array], finishFilter),
    each: (node, unit) => sequence(node, unit, [node.array], finishEach),
    fold: (node, unit) => staged(node, unit, node.array, node.initial, foldPrepare, foldRun),
    repeat: (node, unit) => staged(node, unit, node.count, node.initial, repeatPrepare, repeatRun),
    at: (node, unit) => staged(node, unit, node.array, node.index, atPrepare, atFinish),
    append: (node, unit) => sequence(node, unit, [node.array, node.item], finishAppend),
    concat: (node, unit) => sequence(node, unit, [node.left, node.right], finishConcat),
  };
}

export function arrayStageCompiler(kind) {
  arrayStageCompilers ??= buildArrayStageCompilers();
  return Object.hasOwn(arrayStageCompilers, kind) ? arrayStageCompilers[kind] : undefined;
}
