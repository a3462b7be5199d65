// Text operations behind the join, split, contains, startsWith and endsWith
// stages, with exact, incremental UTF-8 size accounting.
//
// Exports:
//   textOperation(op, value, argument, ctx) -> typed value
//     "join": value is an array of texts, argument the separator -> Text;
//     "split": -> frozen Text[] (at most 4096 parts, at most 1048576 canonical
//              bytes); an empty separator fails TEXT_SPLIT_SEPARATOR;
//     "contains", "startsWith", otherwise "endsWith": -> Truth.
//   textJoinBytes(values, separator, ctx)  fails TEXT_JOIN_BYTES as soon as the
//     UTF-8 size of the joined text would exceed 65536 (pairs formed across an
//     item/separator boundary count 4 bytes, as in the joined text).
//   utf8Length(text)  re-exported from ./utf8.mjs.

import { TEXT_OP_LIMITS } from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";
import { jsonTextBytes, utf8Length } from "./utf8.mjs";
import { ev } from "./values.mjs";

export { utf8Length };

function joinTooLarge() {
  fail("TEXT_JOIN_BYTES", "Полный результат join превышает лимит UTF-8.");
}

export function textJoinBytes(values, separator, ctx) {
  const limit = TEXT_OP_LIMITS.joinResultUtf8Bytes;
  let total = 0;
  let pendingHigh = false;
  const add = (bytes) => {
    total += bytes;
    if (total > limit) joinTooLarge();
  };
  const scan = (text) => {
    ctx.check();
    for (let i = 0; i < text.length; i += 1) {
      ctx.check();
      const unit = text.charCodeAt(i);
      if (pendingHigh) {
        pendingHigh = false;
        if (unit >= 0xdc00 && unit <= 0xdfff) {
          add(4);
          continue;
        }
        add(3);
      }
      if (unit >= 0xd800 && unit <= 0xdbff) pendingHigh = true;
      else add(unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3);
    }
  };
  for (let i = 0; i < values.length; i += 1) {
    if (i > 0) scan(separator);
    scan(values[i]);
  }
  if (pendingHigh) add(3);
}

function requireTexts(values) {
  for (let i = 0; i < values.length; i += 1) {
    if (typeof values[i] !== "string") fail("VALUE_TYPE", "Text-операция требует известные типизированные данные.");
  }
}

function join(values, separator, ctx) {
  requireTexts(values);
  let units = 0;
  for (let i = 0; i < values.length; i += 1) {
    ctx.step();
    units += values[i].length;
  }
  if (values.length > 0) units += (values.length - 1) * separator.length;
  ctx.step(units);
  textJoinBytes(values, separator, ctx);
  ctx.check();
  const joined = values.join(separator);
  ctx.check();
  return ev(joined, "Text");
}

function split(value, separator, ctx) {
  const parts = value.split(separator, TEXT_OP_LIMITS.splitItems + 1);
  ctx.check();
  if (parts.length > TEXT_OP_LIMITS.splitItems) fail("TEXT_SPLIT_ITEMS", "split содержит слишком много частей.");
  for (let i = 0; i < parts.length; i += 1) ctx.step();
  let total = 2;
  for (let i = 0; i < parts.length; i += 1) {
    ctx.check();
    total += jsonTextBytes(parts[i]) + (i > 0 ? 1 : 0);
    ctx.check();
    if (total > TEXT_OP_LIMITS.splitResultUtf8Bytes) fail("TEXT_SPLIT_BYTES", "Полный массив split превышает лимит UTF-8.");
  }
  ctx.check();
  return ev(Object.freeze(parts), "Text[]");
}

export function textOperation(op, value, argument, ctx) {
  if (op === "join") return join(value, argument, ctx);
  if (op === "split" && argument.length === 0) fail("TEXT_SPLIT_SEPARATOR", "split требует непустой разделитель.");
  ctx.step(value.length + argument.length);
  if (op === "split") return split(value, argument, ctx);
  const found = op === "contains" ? value.includes(argument) : op === "startsWith" ? value.startsWith(argument) : value.endsWith(argument);
  ctx.check();
  return ev(found ? "yes" : "no", "Truth");
}
