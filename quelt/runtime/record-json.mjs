// The toJson encoding of Record data: names sorted by UTF-16 code units, a
// fixed escaping table and the runtime's own number form, built atom by atom
// under an exact UTF-8 bound with every unit of work charged.
//
// Exports:
//   encodeRecordJson(record, ctx) -> text (at most 65536 UTF-8 bytes, else
//                                    JSON_TEXT_BYTES at the first atom past it).
//   jsonRecordNames(value, ctx)   -> own enumerable names in code-unit order.
//   jsonNumberText(value, ctx)    -> "-0.0" for negative zero, plain digits for
//                                    safe integers, otherwise the shortest
//                                    significand that reads back, e.g. 1.5e0.

import { fail } from "./diagnostics.mjs";
import { RECORD_JSON_LIMITS } from "./limits.mjs";
import { sortTexts } from "./ordering.mjs";
import { hex4, utf8Length } from "./utf8.mjs";
import { normalize } from "./values.mjs";

export function jsonRecordNames(value, ctx) {
  ctx.check();
  const own = Object.keys(value);
  const names = new Array(own.length);
  for (let i = 0; i < own.length; i += 1) {
    ctx.step();
    names[i] = own[i];
  }
  const sorted = sortTexts(names, ctx);
  ctx.check();
  return sorted;
}

export function jsonNumberText(value, ctx) {
  if (value === 0 && 1 / value < 0) return "-0.0";
  if (Number.isSafeInteger(value)) return String(value);
  const magnitude = Math.abs(value);
  for (let precision = 1; precision <= 17; precision += 1) {
    ctx.step();
    const text = magnitude.toExponential(precision - 1);
    if (Number(text) !== magnitude) continue;
    const mark = text.indexOf("e");
    let significand = text.slice(0, mark);
    if (significand.includes(".")) significand = significand.replace(/0+$/, "").replace(/\.$/, "");
    const exponent = String(Number(text.slice(mark + 1)));
    return `${value < 0 ? "-" : ""}${significand}e${exponent}`;
  }
  return fail("VALUE_TYPE", "Finite JSON number did not roundtrip.");
}

const ESCAPES = {
  0x22: '\\"',
  0x5c: "\\\\",
  0x08: "\\b",
  0x0c: "\\f",
  0x0a: "\\n",
  0x0d: "\\r",
  0x09: "\\t",
};

class JsonEncoder {
  constructor(ctx) {
    this.ctx = ctx;
    this.atoms = [];
    this.bytes = 0;
  }

  emit(atom) {
    this.ctx.step(atom.length);
    this.bytes += atom.length === 1 && atom.charCodeAt(0) < 0x80 ? 1 : utf8Length(atom);
    if (this.bytes > RECORD_JSON_LIMITS.textUtf8Bytes) {
      fail("JSON_TEXT_BYTES", "Полный JSON Text превышает исходный лимит Text.");
    }
    this.atoms.push(atom);
  }

  quote(text) {
    const ctx = this.ctx;
    this.emit('"');
    const length = text.length;
    let charged = false; // the next unit was already taken (and charged) as a lookahead
    for (let i = 0; i < length; i += 1) {
      const unit = text.charCodeAt(i);
      if (!charged) ctx.step();
      charged = false;
      if (unit >= 0xd800 && unit <= 0xdbff && i + 1 < length) {
        const next = text.charCodeAt(i + 1);
        ctx.step();
        if (next >= 0xdc00 && next <= 0xdfff) {
          this.emit(text.slice(i, i + 2));
          i += 1;
          continue;
        }
        charged = true;
        this.emit(`\\u${hex4(unit)}`);
        continue;
      }
      const escape = ESCAPES[unit];
      if (escape !== undefined) this.emit(escape);
      else if (unit < 0x20 || (unit >= 0xd800 && unit <= 0xdfff)) this.emit(`\\u${hex4(unit)}`);
      else this.emit(text[i]);
    }
    this.emit('"');
  }

  visit(value) {
    const ctx = this.ctx;
    ctx.step();
    if (value === null) this.emit("null");
    else if (value === true) this.emit("true");
    else if (value === false) this.emit("false");
    else if (typeof value === "number") this.emit(jsonNumberText(value, ctx));
    else if (typeof value === "string") this.quote(value);
    else if (Array.isArray(value)) {
      ctx.check();
      this.emit("[");
      for (let i = 0; i < value.length; i += 1) {
        if (i > 0) this.emit(",");
        ctx.step();
        this.visit(value[i]);
      }
      this.emit("]");
    } else {
      const names = jsonRecordNames(value, ctx);
      this.emit("{");
      for (let i = 0; i < names.length; i += 1) {
        if (i > 0) this.emit(",");
        this.quote(names[i]);
        this.emit(":");
        ctx.step();
        this.visit(value[names[i]]);
      }
      this.emit("}");
    }
  }
}

export function encodeRecordJson(record, ctx) {
  const encoder = new JsonEncoder(ctx);
  encoder.visit(record);
  ctx.check();
  const text = normalize(encoder.atoms.join(""), "Text");
  ctx.check();
  return text;
}
