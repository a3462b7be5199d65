// Scalar operations on typed values: exact Int and finite Float arithmetic,
// three-valued Truth, comparisons, unsigned 32-bit bit operations and the two
// strict text parsers.
//
// Exports:
//   intOperation(operator, a, b)   "+", "-", else "*" of two safe integers;
//                                  fails INT_OVERFLOW outside the safe range.
//   numeric(operator, a, b)        typed arithmetic ("+", "-", "*", "/");
//                                  unknown operand -> (UNKNOWN, "Unknown").
//   truthValue(value)              "yes", "no" or UNKNOWN, else VALUE_TYPE.
//   truthNot(v), truthAnd(a, b), truthOr(a, b)   Kleene logic on Truth values.
//   compare(operator, a, b)        typed Truth; unknown operand -> (UNKNOWN, "Truth").
//   intBits(op, receiver, argument, ctx)  typed Int; charges 32 steps.
//   parseTextInt(text, ctx)        canonical decimal Int text -> safe integer.
//   textParseFloat(receiver, ctx)  typed Text -> typed Float, correctly
//                                  rounded with exact big-integer arithmetic;
//                                  charges steps per unit and per word of work.
//   words(n)                       64-bit words of an n-bit integer (1..8192).
// `ctx` needs only check() and step(n).

import { INT_BITS_LIMITS } from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";
import { UNKNOWN, base, ev, isUnknown } from "./values.mjs";

const MAX_SAFE = 9007199254740991;

// Double arithmetic on two safe integers is exact whenever the exact result is
// itself safe, and lands at or beyond 2^53 in magnitude whenever it is not, so
// the range test on the double decides overflow exactly.
export function intOperation(operator, a, b) {
  const result = operator === "+" ? a + b : operator === "-" ? a - b : a * b;
  if (result > MAX_SAFE || result < -MAX_SAFE) fail("INT_OVERFLOW", "Переполнение Int.");
  return result === 0 ? 0 : result;
}

function isNumericType(type) {
  return type === "Int" || type === "Float";
}

export function numeric(operator, a, b) {
  if (isUnknown(a.value) || isUnknown(b.value)) return ev(UNKNOWN, "Unknown");
  const ta = base(a.type);
  const tb = base(b.type);
  if (!isNumericType(ta) || !isNumericType(tb)) fail("VALUE_TYPE", "Арифметика требует числовые значения.");
  if (ta === "Int" && tb === "Int") {
    if (operator !== "/") return ev(intOperation(operator, a.value, b.value), "Int");
    fail("INTEGER_DIVISION", "Для деления требуется Float.");
  }
  const x = a.value;
  const y = b.value;
  const result = operator === "+" ? x + y : operator === "-" ? x - y : operator === "*" ? x * y : x / y;
  if (!Number.isFinite(result)) fail("FLOAT_OVERFLOW", "Результат Float должен быть конечным.");
  return ev(result, "Float");
}

export function truthValue(value) {
  if (value === "yes" || value === "no" || isUnknown(value)) return value;
  return fail("VALUE_TYPE", "Логическая операция требует Truth.");
}

export function truthNot(value) {
  return isUnknown(value) ? UNKNOWN : value === "yes" ? "no" : "yes";
}

export function truthAnd(a, b) {
  if (a === "no" || b === "no") return "no";
  return isUnknown(a) || isUnknown(b) ? UNKNOWN : "yes";
}

export function truthOr(a, b) {
  if (a === "yes" || b === "yes") return "yes";
  return isUnknown(a) || isUnknown(b) ? UNKNOWN : "no";
}

// Numbers compare numerically (-0 equals 0) and texts by UTF-16 code units,
// which is what the engine's relational operators do for same-kind operands.
export function compare(operator, a, b) {
  if (isUnknown(a.value) || isUnknown(b.value)) return ev(UNKNOWN, "Truth");
  const x = a.value;
  const y = b.value;
  let result;
  switch (operator) {
    case "==": result = x === y; break;
    case "!=": result = x !== y; break;
    case ">": result = x > y; break;
    case ">=": result = x >= y; break;
    case "<": result = x < y; break;
    case "<=": result = x <= y; break;
    default: fail("OPERATOR", "Неизвестное сравнение.");
  }
  return ev(result ? "yes" : "no", "Truth");
}

function isRequiredInt(item) {
  return item !== null && typeof item === "object" && item.type === "Int" && Number.isSafeInteger(item.value);
}

function inUnsigned32(value) {
  return value >= INT_BITS_LIMITS.valueMin && value <= INT_BITS_LIMITS.valueMax;
}

export function intBits(op, receiver, argument, ctx) {
  ctx.check();
  if (!isRequiredInt(receiver) || (op !== "not" && !isRequiredInt(argument))) {
    fail("VALUE_TYPE", "Битовая операция требует исходный обязательный Int.");
  }
  const value = receiver.value;
  if (!inUnsigned32(value)) fail("INT_BITS_VALUE", "Битовое значение вне диапазона unsigned32.");
  if (op === "shl" || op === "shr") {
    if (argument.value < INT_BITS_LIMITS.shiftMin || argument.value > INT_BITS_LIMITS.shiftMax) {
      fail("INT_BITS_SHIFT", "Число сдвига вне диапазона 0..31.");
    }
  } else if ((op === "and" || op === "or" || op === "xor") && !inUnsigned32(argument.value)) {
    fail("INT_BITS_VALUE", "Битовое значение вне диапазона unsigned32.");
  }
  ctx.step(INT_BITS_LIMITS.logicalSteps);
  let result;
  switch (op) {
    case "and": result = (value & argument.value) >>> 0; break;
    case "or": result = (value | argument.value) >>> 0; break;
    case "xor": result = (value ^ argument.value) >>> 0; break;
    case "not": result = ~value >>> 0; break;
    case "shl": result = (value << argument.value) >>> 0; break;
    case "shr": result = value >>> argument.value; break;
    default: fail("EXPRESSION_KIND", "Неизвестная битовая операция.");
  }
  ctx.check();
  return ev(result, "Int");
}

const INT_SYNTAX = "Ожидается полная каноническая десятичная запись Int.";
// Largest magnitude prefix that can still take one more digit exactly.
const INT_PREFIX_LIMIT = 900719925474099;

export function parseTextInt(text, ctx) {
  ctx.check();
  if (typeof text !== "string" || text.length === 0) fail("INT_PARSE_SYNTAX", INT_SYNTAX);
  let negative = false;
  let digits = 0;
  let leadingZero = false;
  let magnitude = 0;
  let overflow = false;
  for (let i = 0; i < text.length; i += 1) {
    ctx.step();
    const unit = text.charCodeAt(i);
    if (i === 0 && unit === 0x2d) {
      negative = true;
      continue;
    }
    if (unit < 0x30 || unit > 0x39 || leadingZero) fail("INT_PARSE_SYNTAX", INT_SYNTAX);
    const digit = unit - 0x30;
    if (digits === 0 && digit === 0) leadingZero = true;
    digits += 1;
    if (overflow) continue;
    if (magnitude > INT_PREFIX_LIMIT || (magnitude === INT_PREFIX_LIMIT && digit > 1)) overflow = true;
    else magnitude = magnitude * 10 + digit;
  }
  if (digits === 0) fail("INT_PARSE_SYNTAX", "Ожидается хотя бы одна цифра Int.");
  ctx.check();
  if (overflow) fail("INT_PARSE_RANGE", "Десятичная запись выходит за точный диапазон Int.");
  if (magnitude === 0) return 0;
  return negative ? -magnitude : magnitude;
}

// ---- parseFloat -----------------------------------------------------------

const FLOAT_SYNTAX = "Ожидается полная десятичная запись Float.";
const FLOAT_RANGE = "Десятичная запись вне конечного диапазона Float.";
const RETAINED_DIGITS = 800;
const EXPONENT_CLAMP = 100000;

export function words(n) {
  if (!Number.isSafeInteger(n) || n < 1 || n > 8192) throw new Error("Float parser symbolic width invariant");
  return Math.max(1, Math.ceil(n / 64));
}

function rangeFailure(ctx) {
  ctx.check();
  fail("FLOAT_PARSE_RANGE", FLOAT_RANGE);
}

// Scanner states.
const START = 0;
const LEADING_ZERO = 1;
const INTEGER = 2;
const POINT = 3;
const FRACTION = 4;
const EXPONENT_MARK = 5;
const EXPONENT_SIGN = 6;
const EXPONENT = 7;
const ERROR = -1;

function nextState(state, unit) {
  if (unit >= 0x30 && unit <= 0x39) {
    switch (state) {
      case START: return unit === 0x30 ? LEADING_ZERO : INTEGER;
      case INTEGER: return INTEGER;
      case POINT:
      case FRACTION: return FRACTION;
      case EXPONENT_MARK:
      case EXPONENT_SIGN:
      case EXPONENT: return EXPONENT;
      default: return ERROR;
    }
  }
  if (unit === 0x2e) return state === LEADING_ZERO || state === INTEGER ? POINT : ERROR;
  if (unit === 0x45 || unit === 0x65) {
    return state === LEADING_ZERO || state === INTEGER || state === FRACTION ? EXPONENT_MARK : ERROR;
  }
  if (unit === 0x2b || unit === 0x2d) return state === EXPONENT_MARK ? EXPONENT_SIGN : ERROR;
  return ERROR;
}

// One pass over the text: syntax, significant-digit bookkeeping, exponent.
function scanDecimal(text, ctx) {
  const scan = {
    negative: false,
    significant: 0,
    first: -1,
    last: -1,
    sticky: false,
    fractionalDigits: 0,
    exponent: 0,
    exponentNegative: false,
  };
  let state = START;
  for (let i = 0; i < text.length; i += 1) {
    ctx.step();
    const unit = text.charCodeAt(i);
    if (i === 0 && unit === 0x2d) {
      scan.negative = true;
      continue;
    }
    const previous = state;
    state = nextState(state, unit);
    if (state === ERROR) fail("FLOAT_PARSE_SYNTAX", FLOAT_SYNTAX);
    if (state === EXPONENT) {
      scan.exponent = Math.min(EXPONENT_CLAMP, scan.exponent * 10 + (unit - 0x30));
    } else if (state === EXPONENT_SIGN) {
      scan.exponentNegative = unit === 0x2d;
    } else if (state !== POINT && state !== EXPONENT_MARK) {
      mantissaDigit(scan, previous, i, unit - 0x30);
    }
  }
  if (state !== LEADING_ZERO && state !== INTEGER && state !== FRACTION && state !== EXPONENT) {
    fail("FLOAT_PARSE_SYNTAX", FLOAT_SYNTAX);
  }
  return scan;
}

function mantissaDigit(scan, previous, position, digit) {
  if (previous === POINT || previous === FRACTION) scan.fractionalDigits += 1;
  if (digit === 0 && scan.significant === 0) return;
  scan.significant += 1;
  if (scan.significant === 1) scan.first = position;
  if (scan.significant <= RETAINED_DIGITS) scan.last = position;
  else if (digit !== 0) scan.sticky = true;
}

// The retained digits as an exact integer, charged per unit visited and per
// digit appended (plus the sticky digit standing for a discarded non-zero tail).
function coefficient(text, scan, ctx) {
  let retained = 0;
  let digits = "";
  let from = scan.first;
  for (let i = scan.first; i <= scan.last; i += 1) {
    ctx.step();
    if (text.charCodeAt(i) === 0x2e) {
      digits += text.slice(from, i);
      from = i + 1;
      continue;
    }
    retained += 1;
    ctx.step(2 * (1 + words(4 * retained)));
  }
  digits += text.slice(from, scan.last + 1);
  if (scan.sticky) {
    ctx.step(2 * (1 + words(4 * (retained + 1))));
    retained += 1;
    digits += "1";
  }
  return { value: BigInt(digits), retained };
}

function powerOfTen(exponent, ctx) {
  for (let i = 1; i <= exponent; i += 1) ctx.step(1 + words(4 * i));
  return 10n ** BigInt(exponent);
}

// Exact ratio a / b of the decimal value, with bit-length estimates.
function ratio(order, mantissa, ctx) {
  const { value: c, retained } = mantissa;
  const q = order - retained + 1;
  if (q > 0) {
    const power = powerOfTen(q, ctx);
    ctx.step(1 + words(4 * retained) * words(4 * q));
    return { a: c * power, boundA: 4 * (order + 1), b: 1n, boundB: 1 };
  }
  if (q < 0) {
    const power = powerOfTen(-q, ctx);
    return { a: c, boundA: 4 * retained, b: power, boundB: -4 * q };
  }
  return { a: c, boundA: 4 * retained, b: 1n, boundB: 1 };
}

// floor(log2(a / b)) by twelve bisection steps over [-2048, 2048).
function binaryExponent(r, ctx) {
  let lo = -2048;
  let hi = 2048;
  for (let i = 0; i < 12; i += 1) {
    const mid = Math.floor((lo + hi) / 2);
    const bound = mid >= 0 ? Math.max(r.boundA, r.boundB + mid) : Math.max(r.boundA - mid, r.boundB);
    ctx.step(2 * (1 + words(bound)));
    const above = mid >= 0 ? r.a >= r.b << BigInt(mid) : r.a << BigInt(-mid) >= r.b;
    if (above) lo = mid;
    else hi = mid;
  }
  return lo;
}

const TWO_52 = 2n ** 52n;
const TWO_53 = 2n ** 53n;

// The significand M (rounded to nearest, ties to even) and the exponent E.
function roundedSignificand(r, exponent, ctx) {
  const normal = exponent >= -1022;
  const shift = normal ? 52 - exponent : 1074;
  let { a, b, boundA, boundB } = r;
  if (shift >= 0) {
    ctx.step(1 + words(boundA + shift));
    a <<= BigInt(shift);
    boundA += shift;
  } else {
    ctx.step(1 + words(boundB - shift));
    b <<= BigInt(-shift);
    boundB -= shift;
  }
  ctx.step(2 * (1 + words(boundA) * words(boundB)));
  let m = a / b;
  const rest = a % b;
  ctx.step(7 * (1 + words(Math.max(boundB + 1, 54))));
  const twice = rest * 2n;
  if (twice > b || (twice === b && (m & 1n) === 1n)) m += 1n;
  let e = exponent;
  if (normal && m === TWO_53) {
    m = TWO_52;
    e += 1;
  }
  return { m, e, normal };
}

export function textParseFloat(receiver, ctx) {
  ctx.check();
  if (receiver === null || typeof receiver !== "object" || receiver.type !== "Text" || typeof receiver.value !== "string") {
    fail("VALUE_TYPE", "parseFloat требует исходный обязательный Text.");
  }
  const text = receiver.value;
  const scan = scanDecimal(text, ctx);
  ctx.check();
  ctx.step();
  const order = scan.significant - 1 + (scan.exponentNegative ? -scan.exponent : scan.exponent) - scan.fractionalDigits;
  let magnitude = 0;
  if (scan.significant > 0 && order >= -324) {
    if (order > 308) rangeFailure(ctx);
    const r = ratio(order, coefficient(text, scan, ctx), ctx);
    const exponent = binaryExponent(r, ctx);
    if (exponent >= 1024) rangeFailure(ctx);
    const { m, e, normal } = roundedSignificand(r, exponent, ctx);
    if (e >= 1024) rangeFailure(ctx);
    // M x 2^(E-52) (normal) and M x 2^-1074 (subnormal) are exact doubles,
    // the same ones the binary64 bit pattern of (E, M) denotes.
    magnitude = normal ? Number(m) * 2 ** (e - 52) : Number(m) * 2 ** -1074;
  }
  ctx.step(10);
  ctx.step(8);
  const value = scan.negative ? -magnitude : magnitude;
  ctx.check();
  return ev(value, "Float");
}
