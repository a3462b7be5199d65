// Lexer: one forward pass from a module source to a flat token list.
//
// Exports
//   scanTokens(source, fail?) -> TokenList
//     The one scanning routine. Produces the compact list the parser reads
//     (parallel arrays, no record per token). `fail(offset, code, message)`
//     must throw; it defaults to throwing a CompileDiagnostic built from
//     `source`. Raises the lexical diagnostics (COMMENT, IDENTIFIER_LIMIT,
//     NUMBER, NUMBER_RANGE, TEXT, UNSUPPORTED_TOKEN, TOKEN_LIMIT). It does NOT
//     check the source size: callers run checkSourceLimit first.
//   tokenize(source, fail?, flagged = false) -> Token[]
//     scanTokens, then the tokens as plain mutable records {kind, value,
//     offset, end}; the eof token has no `end`. With `flagged` the records
//     are built in their public form instead (frozen, identifier tokens with
//     `reserved` and `builtin`); the list itself is not frozen.
//   getSourceTokens(source) -> frozen Token[]
//     Public token view: TypeError for a non-string, SOURCE_LIMIT, then
//     the flagged records of tokenize, in a frozen list.
//   TokenList
//     The compact list: `length` (eof included), and per index i
//     `kinds[i]` (one of the TOKEN_* kinds below), `values[i]` (identifier
//     and symbol spelling, decoded text, the number itself, "<eof>"),
//     `offsets[i]` and `ends[i]` (the eof token's end is its offset).
//     `record(i)` / `publicRecord(i)` build the token record of index i;
//     `TokenList.fromRecords(source, tokens)` turns a record list back.
//   TOKEN_IDENTIFIER, TOKEN_SYMBOL, TOKEN_TEXT, TOKEN_INT, TOKEN_FLOAT, TOKEN_EOF
//     The kinds of the compact list; TOKEN_INT and TOKEN_FLOAT are the two
//     types of the record kind "number".
//   checkSourceLimit(source, fail?)
//     Throws SOURCE_LIMIT "Source limit is 65536 UTF-8 bytes" at offset 0
//     when the source exceeds 65536 UTF-16 code units or UTF-8 bytes.
//   utf8Length(text) -> number
//     UTF-8 size of a string, a lone surrogate counting three bytes.
//   KEYWORDS, BUILTINS
//     Read-only Sets of the 18 reserved words and the 24 builtin call names.
//   isKeyword(name), isBuiltin(name) -> boolean
//
// Token kinds of the records: "identifier" (value = spelling), "number"
// (value = {value, type: "Int" | "Float"}), "text" (value = decoded string),
// "symbol" (value = spelling), "eof" (value = "<eof>", offset = source length).

import { decimalToDouble, POWERS_OF_TEN } from "./decimal.mjs";
import { CompileDiagnostic } from "./diagnostics.mjs";
import { LIMITS, RECORD_READ_TYPES } from "./limits.mjs";

// A Set whose mutators throw, so shared word lists cannot be changed by users.
function readOnlySet(values) {
  const set = new Set(values);
  const refuse = () => {
    throw new TypeError("Set is read-only");
  };
  Object.defineProperties(set, {
    add: { value: refuse },
    delete: { value: refuse },
    clear: { value: refuse },
  });
  return Object.freeze(set);
}

export const KEYWORDS = readOnlySet([
  "fn", "return", "brindlet", "use", "input", "derive", "output",
  "yes", "no", "unknown", "not", "and", "or",
  "Int", "Float", "Text", "Truth", "Record",
]);

export const BUILTINS = readOnlySet([
  "sum", "len", "choose", "take",
  "keepGt", "keepGe", "keepLt", "keepLe", "keepEq", "keepNe",
  "mapAdd", "mapSub", "mapMul", "hasField",
  ...Object.keys(RECORD_READ_TYPES),
]);

export function isKeyword(name) {
  return KEYWORDS.has(name);
}

export function isBuiltin(name) {
  return BUILTINS.has(name);
}

const SOURCE_LIMIT_MESSAGE = `Source limit is ${LIMITS.source} UTF-8 bytes`;

function failerFor(source) {
  return (offset, code, message) => {
    throw new CompileDiagnostic(source, offset, code, message);
  };
}

export function utf8Length(text) {
  let bytes = 0;
  const length = text.length;
  for (let i = 0; i < length; i += 1) {
    const unit = text.charCodeAt(i);
    if (unit < 0x80) bytes += 1;
    else if (unit < 0x800) bytes += 2;
    else if (unit >= 0xd800 && unit <= 0xdbff && i + 1 < length) {
      const next = text.charCodeAt(i + 1);
      if (next >= 0xdc00 && next <= 0xdfff) {
        bytes += 4;
        i += 1;
      } else {
        bytes += 3;
      }
    } else bytes += 3;
  }
  return bytes;
}

let encoder = null;

// UTF-8 size through the platform's encoder when there is one (native and
// fast), else counted here; both give three bytes for a lone surrogate.
function encodedLength(text) {
  if (encoder === null && typeof TextEncoder === "function") encoder = new TextEncoder();
  return encoder === null ? utf8Length(text) : encoder.encode(text).length;
}

export function checkSourceLimit(source, fail = failerFor(source)) {
  // Three bytes per code unit is the most UTF-8 can take, so short sources
  // need no counting.
  if (source.length > LIMITS.source) fail(0, "SOURCE_LIMIT", SOURCE_LIMIT_MESSAGE);
  if (source.length * 3 > LIMITS.source && encodedLength(source) > LIMITS.source) {
    fail(0, "SOURCE_LIMIT", SOURCE_LIMIT_MESSAGE);
  }
}

// ---------------------------------------------------------------------------
// The compact token list

export const TOKEN_IDENTIFIER = 0;
export const TOKEN_SYMBOL = 1;
export const TOKEN_TEXT = 2;
export const TOKEN_INT = 3;
export const TOKEN_FLOAT = 4;
export const TOKEN_EOF = 5;

const KIND_NAMES = ["identifier", "symbol", "text", "number", "number", "eof"];
const EOF_VALUE = "<eof>";

export class TokenList {
  // `capacity` bounds the number of tokens, eof included.
  constructor(source, capacity) {
    this.source = source;
    this.kinds = new Uint8Array(capacity);
    this.values = new Array(capacity);
    this.offsets = new Int32Array(capacity);
    this.ends = new Int32Array(capacity);
    this.length = 0;
  }

  // The mutable record of token i, as the parser's primitives hand it out.
  record(i) {
    const kind = this.kinds[i];
    switch (kind) {
      case TOKEN_EOF:
        return { kind: "eof", value: EOF_VALUE, offset: this.offsets[i] };
      case TOKEN_INT:
        return { kind: "number", value: { value: this.values[i], type: "Int" }, offset: this.offsets[i], end: this.ends[i] };
      case TOKEN_FLOAT:
        return { kind: "number", value: { value: this.values[i], type: "Float" }, offset: this.offsets[i], end: this.ends[i] };
      default:
        return { kind: KIND_NAMES[kind], value: this.values[i], offset: this.offsets[i], end: this.ends[i] };
    }
  }

  // The frozen record of token i as getSourceTokens returns it.
  publicRecord(i) {
    const kind = this.kinds[i];
    if (kind === TOKEN_IDENTIFIER) {
      const value = this.values[i];
      return Object.freeze({
        kind: "identifier", value, offset: this.offsets[i], end: this.ends[i],
        reserved: KEYWORDS.has(value), builtin: BUILTINS.has(value),
      });
    }
    const token = this.record(i);
    if (kind === TOKEN_INT || kind === TOKEN_FLOAT) Object.freeze(token.value);
    return Object.freeze(token);
  }

  // The compact form of a list of token records (as tokenize returns them).
  static fromRecords(source, tokens) {
    const list = new TokenList(source, tokens.length);
    for (let i = 0; i < tokens.length; i += 1) {
      const token = tokens[i];
      let kind = KIND_NAMES.indexOf(token.kind);
      let value = token.value;
      if (token.kind === "number") {
        kind = value.type === "Float" ? TOKEN_FLOAT : TOKEN_INT;
        value = value.value;
      }
      list.kinds[i] = kind;
      list.values[i] = value;
      list.offsets[i] = token.offset;
      list.ends[i] = token.kind === "eof" ? token.offset : token.end;
    }
    list.length = tokens.length;
    return list;
  }
}

// ---------------------------------------------------------------------------
// Character classes of ASCII code units, built on first use.

const OTHER = 0;
const SPACE = 1;
const LETTER = 2; // ASCII letters and "_"
const DIGIT = 3;
const QUOTE = 4;
const SLASH = 5;
const SYMBOL = 6; // always a one-character symbol
const PAIR_START = 7; // may open a two-character symbol: - | > < = !

let asciiClasses = null;
let wordCharacters = null; // 1 for ASCII letters, digits and "_"
let asciiTexts = null;

function classTable() {
  if (asciiClasses !== null) return asciiClasses;
  const table = new Uint8Array(128);
  const word = new Uint8Array(128);
  const texts = new Array(128);
  for (let c = 0; c < 128; c += 1) texts[c] = String.fromCharCode(c);
  const mark = (chars, kind) => {
    for (let k = 0; k < chars.length; k += 1) table[chars.charCodeAt(k)] = kind;
  };
  mark("\t\n\u000b\f\r ", SPACE);
  mark("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_", LETTER);
  mark("0123456789", DIGIT);
  mark('"', QUOTE);
  mark("/", SLASH);
  mark("{}()[],:;?.+*", SYMBOL);
  mark("-|><=!", PAIR_START);
  for (let c = 0; c < 128; c += 1) word[c] = table[c] === LETTER || table[c] === DIGIT ? 1 : 0;
  asciiTexts = texts;
  wordCharacters = word;
  asciiClasses = table;
  return table;
}

// Whitespace beyond ASCII: U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000 and the byte-order mark U+FEFF.
function isWideSpace(c) {
  return (
    c === 0xa0 || c === 0x1680 || (c >= 0x2000 && c <= 0x200a) || c === 0x2028 || c === 0x2029 ||
    c === 0x202f || c === 0x205f || c === 0x3000 || c === 0xfeff
  );
}

// The two-character symbol starting at `i` ("->", "|>", ">=", "<=", "==",
// "!="), or null.
function pairSymbol(source, i) {
  const a = source.charCodeAt(i);
  const b = source.charCodeAt(i + 1);
  if (b === 0x3e) {
    if (a === 0x2d) return "->";
    if (a === 0x7c) return "|>";
  } else if (b === 0x3d) {
    if (a === 0x3e) return ">=";
    if (a === 0x3c) return "<=";
    if (a === 0x3d) return "==";
    if (a === 0x21) return "!=";
  }
  return null;
}

// JSON-style quoting of one code unit, as the ECMAScript serializer writes it.
function quoteCodeUnit(c) {
  const escapes = { 0x22: '\\"', 0x5c: "\\\\", 0x08: "\\b", 0x09: "\\t", 0x0a: "\\n", 0x0c: "\\f", 0x0d: "\\r" };
  if (escapes[c] !== undefined) return `"${escapes[c]}"`;
  if (c < 0x20 || (c >= 0xd800 && c <= 0xdfff)) return `"\\u${c.toString(16).padStart(4, "0")}"`;
  return `"${String.fromCharCode(c)}"`;
}

// ---------------------------------------------------------------------------
// Text literals

const CONTROL_CHARACTER = /[\u0000-\u001f]/;

function isHexDigit(c) {
  const lower = c | 0x20;
  return (c >= 0x30 && c <= 0x39) || (lower >= 0x61 && lower <= 0x66);
}

// The escapes other than \u: \" \\ \/ \b \f \n \r \t.
function isSimpleEscape(c) {
  return c === 0x22 || c === 0x5c || c === 0x2f || c === 0x62 || c === 0x66 || c === 0x6e || c === 0x72 || c === 0x74;
}

// The decoded value of the literal source[open .. close] (both quotes), or
// null when it is not a JSON string. The check looks at the backslashes
// only (found with indexOf) after one regular-expression search for raw
// control characters; a literal that passes is decoded by the platform's
// JSON parser in one native call.
function decodeTextLiteral(source, open, close) {
  const literal = source.slice(open, close + 1);
  if (CONTROL_CHARACTER.test(literal)) return null;
  // The closing quote is unescaped, so no escape reaches past it.
  for (let i = literal.indexOf("\\"); i !== -1; i = literal.indexOf("\\", i)) {
    const e = literal.charCodeAt(i + 1);
    if (e === 0x75) {
      const ok = isHexDigit(literal.charCodeAt(i + 2)) && isHexDigit(literal.charCodeAt(i + 3)) &&
        isHexDigit(literal.charCodeAt(i + 4)) && isHexDigit(literal.charCodeAt(i + 5));
      if (!ok) return null;
      i += 6;
    } else {
      if (!isSimpleEscape(e)) return null;
      i += 2;
    }
  }
  return JSON.parse(literal);
}

// Position of the quote that closes the literal opened at `open` (a
// backslash always skips the code unit after it), or -1. Jumps from
// backslash to backslash: each one before the candidate quote escapes the
// unit after it, and when that unit is the candidate, the next quote becomes
// the candidate.
function closingQuote(source, open) {
  let quote = source.indexOf('"', open + 1);
  let backslash = source.indexOf("\\", open + 1);
  while (quote !== -1 && backslash !== -1 && backslash < quote) {
    const after = backslash + 2;
    if (after > quote) quote = source.indexOf('"', quote + 1);
    backslash = source.indexOf("\\", after);
  }
  return quote;
}

// ---------------------------------------------------------------------------
// Scanner

const EXACT_DIGITS = 15; // any integer of at most 15 digits is an exact double
const EXACT_SCALE = 22; // 10^22 is the largest power of ten that is an exact double
const EXPONENT_CAP = 100000; // beyond this an exponent's exact value no longer matters

export function scanTokens(source, fail = failerFor(source)) {
  const classes = classTable();
  const word = wordCharacters;
  const texts = asciiTexts;
  const length = source.length;
  const tokenLimit = LIMITS.tokens;
  const identifierLimit = LIMITS.identifier;
  // Every token but eof takes at least one code unit.
  const list = new TokenList(source, (length < tokenLimit ? length : tokenLimit) + 1);
  const kinds = list.kinds;
  const values = list.values;
  const offsets = list.offsets;
  const ends = list.ends;
  let count = 0;
  let i = 0;
  // Next backslash at or after the cursor (-1: none left), so text literals
  // without escapes are found with two searches and no per-character loop.
  let nextBackslash = -2;

  while (i < length) {
    const c = source.charCodeAt(i);
    const cls = c < 128 ? classes[c] : isWideSpace(c) ? SPACE : OTHER;
    if (cls === SPACE) {
      // Runs of ASCII whitespace (indentation, line breaks) in one loop.
      let d;
      do {
        i += 1;
        d = source.charCodeAt(i);
      } while (d < 128 && classes[d] === SPACE);
      continue;
    }
    const start = i;
    let kind;
    let value;

    // Cases in order of how common they are: a switch tests them one by one.
    switch (cls) {
      case LETTER: {
        // charCodeAt past the end is NaN, which ends the loop.
        i += 1;
        let d = source.charCodeAt(i);
        while (d < 128 && word[d] === 1) {
          i += 1;
          d = source.charCodeAt(i);
        }
        if (i - start > identifierLimit) {
          fail(start, "IDENTIFIER_LIMIT", `Identifier limit is ${identifierLimit} characters`);
        }
        kind = TOKEN_IDENTIFIER;
        value = source.slice(start, i);
        break;
      }
      case SYMBOL: {
        // Runs of one-character symbols ("))", "),", "()") are common: the
        // whole run is emitted here, each token with the limit check below.
        let d = c;
        do {
          if (count === tokenLimit) fail(i, "TOKEN_LIMIT", `Token limit is ${tokenLimit}`);
          kinds[count] = TOKEN_SYMBOL;
          values[count] = texts[d];
          offsets[count] = i;
          ends[count] = i + 1;
          count += 1;
          i += 1;
          d = source.charCodeAt(i);
        } while (d < 128 && classes[d] === SYMBOL);
        continue;
      }
      case PAIR_START: {
        const pair = pairSymbol(source, i);
        if (pair !== null) {
          i += 2;
          value = pair;
        } else if (c === 0x7c || c === 0x21) {
          fail(start, "UNSUPPORTED_TOKEN", `Unsupported token ${quoteCodeUnit(c)}`);
        } else {
          i += 1;
          value = texts[c];
        }
        kind = TOKEN_SYMBOL;
        break;
      }
      case DIGIT: {
        // The digits are summed into `significand` as they are read; when
        // there are at most 15 of them and the power of ten is within 22,
        // one IEEE multiplication or division of exact operands gives the
        // correctly rounded value. Anything else goes to decimalToDouble.
        kind = TOKEN_INT;
        let significand = c - 0x30;
        let digits = 1;
        let scale = 0;
        i += 1;
        let d = source.charCodeAt(i);
        while (d >= 0x30 && d <= 0x39) {
          significand = significand * 10 + (d - 0x30);
          digits += 1;
          i += 1;
          d = source.charCodeAt(i);
        }
        if (d === 0x2e) {
          const f = source.charCodeAt(i + 1);
          if (f >= 0x30 && f <= 0x39) {
            kind = TOKEN_FLOAT;
            i += 1;
            d = f;
            while (d >= 0x30 && d <= 0x39) {
              significand = significand * 10 + (d - 0x30);
              digits += 1;
              scale -= 1;
              i += 1;
              d = source.charCodeAt(i);
            }
          }
        }
        if (d === 0x65 || d === 0x45) {
          kind = TOKEN_FLOAT;
          i += 1;
          d = source.charCodeAt(i);
          const negative = d === 0x2d;
          if (negative || d === 0x2b) {
            i += 1;
            d = source.charCodeAt(i);
          }
          if (!(d >= 0x30 && d <= 0x39)) fail(i, "NUMBER", "Exponent requires digits");
          let exponent = 0;
          while (d >= 0x30 && d <= 0x39) {
            if (exponent < EXPONENT_CAP) exponent = exponent * 10 + (d - 0x30);
            i += 1;
            d = source.charCodeAt(i);
          }
          scale += negative ? -exponent : exponent;
        }
        if (digits <= EXACT_DIGITS && kind === TOKEN_INT) {
          value = significand;
        } else if (digits <= EXACT_DIGITS && scale >= -EXACT_SCALE && scale <= EXACT_SCALE) {
          value = scale >= 0 ? significand * POWERS_OF_TEN[scale] : significand / POWERS_OF_TEN[-scale];
        } else {
          value = decimalToDouble(source.slice(start, i));
          if (kind === TOKEN_FLOAT) {
            if (!Number.isFinite(value)) fail(start, "NUMBER_RANGE", "Float literal must be finite");
          } else if (!Number.isSafeInteger(value)) {
            fail(start, "NUMBER_RANGE", "Int literal must be a safe integer");
          }
        }
        break;
      }
      case QUOTE: {
        if (nextBackslash !== -1 && nextBackslash <= start) nextBackslash = source.indexOf("\\", start + 1);
        let close = source.indexOf('"', start + 1);
        if (close !== -1 && (nextBackslash === -1 || nextBackslash > close)) {
          value = source.slice(start + 1, close);
          if (CONTROL_CHARACTER.test(value)) fail(start, "TEXT", "Text literals must use JSON double-quoted syntax");
        } else {
          close = closingQuote(source, start);
          if (close === -1) fail(start, "TEXT", "Unclosed Text literal");
          value = decodeTextLiteral(source, start, close);
          if (value === null) fail(start, "TEXT", "Text literals must use JSON double-quoted syntax");
        }
        i = close + 1;
        kind = TOKEN_TEXT;
        break;
      }
      case SLASH: {
        const next = source.charCodeAt(i + 1);
        if (next === 0x2f) {
          const feed = source.indexOf("\n", i + 2);
          i = feed === -1 ? length : feed;
          continue;
        }
        if (next === 0x2a) {
          const close = source.indexOf("*/", i + 2);
          if (close === -1) fail(start, "COMMENT", "Unclosed block comment");
          i = close + 2;
          continue;
        }
        i += 1;
        kind = TOKEN_SYMBOL;
        value = "/";
        break;
      }
      default:
        fail(start, "UNSUPPORTED_TOKEN", `Unsupported token ${quoteCodeUnit(c)}`);
    }

    if (count === tokenLimit) fail(start, "TOKEN_LIMIT", `Token limit is ${tokenLimit}`);
    kinds[count] = kind;
    values[count] = value;
    offsets[count] = start;
    ends[count] = i;
    count += 1;
  }

  kinds[count] = TOKEN_EOF;
  values[count] = EOF_VALUE;
  offsets[count] = length;
  ends[count] = length;
  list.length = count + 1;
  return list;
}

// `flagged` builds the public form: frozen records, identifier tokens with
// `reserved` and `builtin`.
export function tokenize(source, fail = failerFor(source), flagged = false) {
  const list = scanTokens(source, fail);
  return flagged ? publicRecords(list) : records(list);
}

function records(list) {
  const count = list.length;
  const tokens = new Array(count);
  for (let i = 0; i < count; i += 1) tokens[i] = list.record(i);
  return tokens;
}

function publicRecords(list) {
  const { kinds, values, offsets, ends } = list;
  const count = list.length;
  const tokens = new Array(count);
  for (let i = 0; i < count; i += 1) {
    const kind = kinds[i];
    const value = values[i];
    if (kind === TOKEN_IDENTIFIER) {
      tokens[i] = Object.freeze({
        kind: "identifier", value, offset: offsets[i], end: ends[i], reserved: KEYWORDS.has(value), builtin: BUILTINS.has(value),
      });
    } else if (kind === TOKEN_SYMBOL) {
      tokens[i] = Object.freeze({ kind: "symbol", value, offset: offsets[i], end: ends[i] });
    } else {
      tokens[i] = list.publicRecord(i);
    }
  }
  return tokens;
}

// ---------------------------------------------------------------------------
// Public token view

export function getSourceTokens(source) {
  if (typeof source !== "string") throw new TypeError("source must be a string");
  const fail = failerFor(source);
  checkSourceLimit(source, fail);
  return Object.freeze(tokenize(source, fail, true));
}
