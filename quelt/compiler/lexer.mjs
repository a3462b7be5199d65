// Lexer: one forward pass from a module source to a flat token list.
//
// Exports
//   tokenize(source, fail?, flagged = false) -> Token[]
//     The one scanning routine used by the parser and by getSourceTokens.
//     `fail(offset, code, message)` must throw; it defaults to throwing a
//     CompileDiagnostic built from `source`. Raises the lexical diagnostics
//     (COMMENT, IDENTIFIER_LIMIT, NUMBER, NUMBER_RANGE, TEXT,
//     UNSUPPORTED_TOKEN, TOKEN_LIMIT). It does NOT check the source size:
//     callers run checkSourceLimit first. Tokens are plain mutable records
//     {kind, value, offset, end}; the eof token has no `end`. With `flagged`
//     the records are built in their public form instead (frozen, identifier
//     tokens with `reserved` and `builtin`); the list itself is not frozen.
//   getSourceTokens(source) -> frozen Token[]
//     Public token view: TypeError for a non-string, SOURCE_LIMIT, then
//     tokenize; identifier tokens additionally carry `reserved` and `builtin`.
//   checkSourceLimit(source, fail?)
//     Throws SOURCE_LIMIT "Source limit is 65536 UTF-8 bytes" at offset 0
//     when the source exceeds 65536 UTF-16 code units or UTF-8 bytes.
//   utf8Length(text) -> number
//     UTF-8 size of a string, a lone surrogate counting three bytes.
//   KEYWORDS, BUILTINS
//     Read-only Sets of the 18 reserved words and the 24 builtin call names.
//   isKeyword(name), isBuiltin(name) -> boolean
//
// Token kinds: "identifier" (value = spelling), "number" (value = {value,
// type: "Int" | "Float"}), "text" (value = decoded string), "symbol" (value =
// spelling), "eof" (value = "<eof>", offset = source length).

import { decimalToDouble } from "./decimal.mjs";
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
let asciiTexts = null;

function classTable() {
  if (asciiClasses !== null) return asciiClasses;
  const table = new Uint8Array(128);
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
  asciiTexts = texts;
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

function isDigit(c) {
  return c >= 0x30 && c <= 0x39;
}

function hexValue(c) {
  if (c >= 0x30 && c <= 0x39) return c - 0x30;
  if (c >= 0x61 && c <= 0x66) return c - 0x57;
  if (c >= 0x41 && c <= 0x46) return c - 0x37;
  return -1;
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

const SIMPLE_ESCAPES = { 0x22: '"', 0x5c: "\\", 0x2f: "/", 0x62: "\b", 0x66: "\f", 0x6e: "\n", 0x72: "\r", 0x74: "\t" };
const CONTROL_CHARACTER = /[\u0000-\u001f]/;

// Decodes source[open + 1 .. close) as the body of a JSON string; returns
// null when it is not one. Unescaped runs are sliced whole.
function decodeTextBody(source, open, close) {
  let result = "";
  let runStart = open + 1;
  let i = open + 1;
  while (i < close) {
    const c = source.charCodeAt(i);
    if (c < 0x20) return null;
    if (c !== 0x5c) {
      i += 1;
      continue;
    }
    if (runStart < i) result += source.slice(runStart, i);
    const e = source.charCodeAt(i + 1);
    if (e === 0x75) {
      if (i + 6 > close) return null;
      let unit = 0;
      for (let k = i + 2; k < i + 6; k += 1) {
        const h = hexValue(source.charCodeAt(k));
        if (h < 0) return null;
        unit = unit * 16 + h;
      }
      result += String.fromCharCode(unit);
      i += 6;
    } else {
      const simple = SIMPLE_ESCAPES[e];
      if (simple === undefined) return null;
      result += simple;
      i += 2;
    }
    runStart = i;
  }
  if (runStart < close) result += source.slice(runStart, close);
  return result;
}

// Position of the quote that closes the literal opened at `open` (a
// backslash always skips the code unit after it), or -1.
function closingQuote(source, open) {
  const length = source.length;
  let i = open + 1;
  while (i < length) {
    const c = source.charCodeAt(i);
    if (c === 0x22) return i;
    i += c === 0x5c ? 2 : 1;
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Scanner

// Ends the number literal starting at `start`; returns the cursor after it
// and stores the literal's kind in numberIsFloat.
let numberIsFloat = false;

function numberEnd(source, start, fail) {
  const length = source.length;
  let i = start + 1;
  let floating = false;
  while (i < length && isDigit(source.charCodeAt(i))) i += 1;
  if (source.charCodeAt(i) === 0x2e && isDigit(source.charCodeAt(i + 1))) {
    floating = true;
    i += 2;
    while (i < length && isDigit(source.charCodeAt(i))) i += 1;
  }
  const e = source.charCodeAt(i);
  if (e === 0x65 || e === 0x45) {
    floating = true;
    i += 1;
    const sign = source.charCodeAt(i);
    if (sign === 0x2b || sign === 0x2d) i += 1;
    if (!isDigit(source.charCodeAt(i))) fail(i, "NUMBER", "Exponent requires digits");
    while (i < length && isDigit(source.charCodeAt(i))) i += 1;
  }
  numberIsFloat = floating;
  return i;
}

function numberValue(source, start, end, floating, fail) {
  const value = decimalToDouble(source.slice(start, end));
  if (floating) {
    if (!Number.isFinite(value)) fail(start, "NUMBER_RANGE", "Float literal must be finite");
  } else if (!Number.isSafeInteger(value)) {
    fail(start, "NUMBER_RANGE", "Int literal must be a safe integer");
  }
  return value;
}

// `flagged` builds the public form directly: frozen records, identifier
// tokens with `reserved` and `builtin`.
export function tokenize(source, fail = failerFor(source), flagged = false) {
  const classes = classTable();
  const texts = asciiTexts;
  const tokens = [];
  const length = source.length;
  const tokenLimit = LIMITS.tokens;
  const identifierLimit = LIMITS.identifier;
  let count = 0;
  let i = 0;
  // Next backslash at or after the cursor (-1: none left), so text literals
  // without escapes are found with two searches and no per-character loop.
  let nextBackslash = -2;

  while (i < length) {
    const c = source.charCodeAt(i);
    const kind = c < 128 ? classes[c] : isWideSpace(c) ? SPACE : OTHER;
    if (kind === SPACE) {
      i += 1;
      continue;
    }
    const start = i;
    let tokenKind;
    let value;

    switch (kind) {
      case LETTER: {
        i += 1;
        while (i < length) {
          const d = source.charCodeAt(i);
          if (d < 128 && (classes[d] === LETTER || classes[d] === DIGIT)) i += 1;
          else break;
        }
        if (i - start > identifierLimit) {
          fail(start, "IDENTIFIER_LIMIT", `Identifier limit is ${identifierLimit} characters`);
        }
        tokenKind = "identifier";
        value = source.slice(start, i);
        break;
      }
      case DIGIT: {
        // Short plain integers are summed in place; everything else goes
        // through the full literal rules.
        let digits = c - 0x30;
        i += 1;
        let d = source.charCodeAt(i);
        while (d >= 0x30 && d <= 0x39 && i - start < 15) {
          digits = digits * 10 + (d - 0x30);
          i += 1;
          d = source.charCodeAt(i);
        }
        if ((d >= 0x30 && d <= 0x39) || d === 0x2e || d === 0x65 || d === 0x45) {
          i = numberEnd(source, start, fail);
          const floating = numberIsFloat;
          value = { value: numberValue(source, start, i, floating, fail), type: floating ? "Float" : "Int" };
        } else {
          value = { value: digits, type: "Int" };
        }
        tokenKind = "number";
        if (flagged) Object.freeze(value);
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
          value = decodeTextBody(source, start, close);
          if (value === null) fail(start, "TEXT", "Text literals must use JSON double-quoted syntax");
        }
        i = close + 1;
        tokenKind = "text";
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
        tokenKind = "symbol";
        value = "/";
        break;
      }
      case SYMBOL:
        i += 1;
        tokenKind = "symbol";
        value = texts[c];
        break;
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
        tokenKind = "symbol";
        break;
      }
      default:
        fail(start, "UNSUPPORTED_TOKEN", `Unsupported token ${quoteCodeUnit(c)}`);
    }

    if (count === tokenLimit) fail(start, "TOKEN_LIMIT", `Token limit is ${tokenLimit}`);
    count += 1;
    if (!flagged) {
      tokens.push({ kind: tokenKind, value, offset: start, end: i });
    } else if (tokenKind === "identifier") {
      tokens.push(Object.freeze({
        kind: tokenKind, value, offset: start, end: i, reserved: KEYWORDS.has(value), builtin: BUILTINS.has(value),
      }));
    } else {
      tokens.push(Object.freeze({ kind: tokenKind, value, offset: start, end: i }));
    }
  }

  const eof = { kind: "eof", value: "<eof>", offset: length };
  tokens.push(flagged ? Object.freeze(eof) : eof);
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
