// Correctly rounded conversion of a decimal literal spelling to a double.
//
//   decimalToDouble(spelling) -> number (may be Infinity for huge values)
//   POWERS_OF_TEN  the exact doubles 10^0 .. 10^22, for callers that take the
//                  exact-operand shortcut themselves
//
// The spelling is what the lexer accepted: digits, an optional fraction and
// an optional exponent (`12`, `1.5`, `1e-3`, `007`). Engines do not all round
// long digit strings correctly, so the conversion does not rely on Number()
// except where a single IEEE operation on exact operands gives the answer.

const EXACT_POWERS = 22; // 10^22 is the largest power of ten that is an exact double
const EXACT_DIGITS = 15; // any 15-digit integer is an exact double
export const POWERS_OF_TEN = Object.freeze([
  1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11,
  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22,
]);

// Digits of the significand without leading or trailing zeros, and the
// power of ten that scales them.
function splitSpelling(spelling) {
  let exponentAt = spelling.length;
  for (let i = 0; i < spelling.length; i += 1) {
    const c = spelling.charCodeAt(i);
    if (c === 0x65 || c === 0x45) {
      exponentAt = i;
      break;
    }
  }
  const mantissa = spelling.slice(0, exponentAt);
  const point = mantissa.indexOf(".");
  const whole = point === -1 ? mantissa : mantissa.slice(0, point);
  const fraction = point === -1 ? "" : mantissa.slice(point + 1);
  let digits = (whole + fraction).replace(/^0+/, "");
  let scale = -fraction.length;
  const trimmed = digits.replace(/0+$/, "");
  scale += digits.length - trimmed.length;
  digits = trimmed;
  if (exponentAt < spelling.length) scale += exponentOf(spelling.slice(exponentAt + 1));
  return { digits, scale };
}

// The exponent's value, clamped far beyond the range where it still matters.
function exponentOf(text) {
  const negative = text[0] === "-";
  const body = text[0] === "-" || text[0] === "+" ? text.slice(1) : text;
  const stripped = body.replace(/^0+/, "");
  const magnitude = stripped.length > 7 ? 1e7 : Number(stripped || "0");
  return negative ? -magnitude : magnitude;
}

// The number of bits of a positive BigInt, by shifts and comparisons only:
// the engine's text form of a BigInt whose top bit ends a 64-bit word comes
// with a spurious leading zero digit.
const BITS_STEP = 1000;
const BIG_STEP = 1n << BigInt(BITS_STEP);

function bitLength(n) {
  let bits = 0;
  let x = n;
  while (x >= BIG_STEP) {
    x >>= BigInt(BITS_STEP);
    bits += BITS_STEP;
  }
  // Now 1 <= x < 2^1000, so Number(x) is finite; the floor of its log2 is the
  // position of x's top bit, give or take one (rounding to a double may carry
  // into the next power of two, log2 may round either way): one shift each
  // way settles it.
  let top = Math.floor(Math.log2(Number(x)));
  if (top > 0 && x >> BigInt(top) === 0n) top -= 1;
  else if (x >> BigInt(top + 1) > 0n) top += 1;
  return bits + top + 1;
}

// Exact powers of ten as BigInts, computed once each.
const bigPowers = [];
function bigPowerOfTen(k) {
  let power = bigPowers[k];
  if (power === undefined) {
    power = 10n ** BigInt(k);
    bigPowers[k] = power;
  }
  return power;
}

// Doubles are 53-bit numbers: every halfway point between two of them has at
// most 767 significant decimal digits, so digits past the 800th only matter
// as "something non-zero follows", kept as one final 1.
const KEPT_DIGITS = 800;

// Rounds num/den (both positive BigInts) to the nearest double, ties to even.
function roundRatio(num, den) {
  let e = bitLength(num) - bitLength(den);
  let shift = 52 - e;
  let n = shift >= 0 ? num << BigInt(shift) : num;
  let d = shift >= 0 ? den : den << BigInt(-shift);
  let q = n / d;
  if (q < 2n ** 52n) {
    e -= 1;
    shift += 1;
    n = shift >= 0 ? num << BigInt(shift) : num;
    d = shift >= 0 ? den : den << BigInt(-shift);
    q = n / d;
  }
  if (e < -1022) {
    // Subnormal: the unit is 2^-1074.
    n = num << 1074n;
    d = den;
    q = n / d;
    return Number(roundHalfEven(q, n - q * d, d)) * 2 ** -1074;
  }
  q = roundHalfEven(q, n - q * d, d);
  if (q === 2n ** 53n) {
    q = 2n ** 52n;
    e += 1;
  }
  if (e > 1023) return Infinity;
  return Number(q) * 2 ** (e - 52);
}

function roundHalfEven(q, remainder, divisor) {
  const twice = remainder * 2n;
  if (twice > divisor || (twice === divisor && (q & 1n) === 1n)) return q + 1n;
  return q;
}

// Short spellings remember their value (a bounded table, emptied when full):
// a source may repeat one literal thousands of times, and a conversion by
// exact integer arithmetic costs microseconds.
const converted = new Map();
const CONVERTED_MAX = 65536;
const CONVERTED_SPELLING = 64;

export function decimalToDouble(spelling) {
  const known = converted.get(spelling);
  if (known !== undefined) return known;
  const value = convert(spelling);
  if (spelling.length <= CONVERTED_SPELLING) {
    if (converted.size >= CONVERTED_MAX) converted.clear();
    converted.set(spelling, value);
  }
  return value;
}

function convert(spelling) {
  let { digits, scale } = splitSpelling(spelling);
  if (digits === "") return 0;
  const order = digits.length + scale; // value lies in [10^(order-1), 10^order)
  if (order > 310) return Infinity;
  if (order < -330) return 0;
  if (digits.length <= EXACT_DIGITS && Math.abs(scale) <= EXACT_POWERS) {
    const significand = Number(digits);
    return scale >= 0 ? significand * POWERS_OF_TEN[scale] : significand / POWERS_OF_TEN[-scale];
  }
  if (scale > EXACT_POWERS && digits.length + scale - EXACT_POWERS <= EXACT_DIGITS) {
    // Moving the surplus zeros into the significand keeps both operands exact.
    return Number(digits) * POWERS_OF_TEN[scale - EXACT_POWERS] * POWERS_OF_TEN[EXACT_POWERS];
  }
  if (digits.length > KEPT_DIGITS) {
    scale += digits.length - (KEPT_DIGITS + 1);
    digits = digits.slice(0, KEPT_DIGITS) + "1";
  }
  const significand = BigInt(digits);
  if (scale >= 0) return roundRatio(significand * bigPowerOfTen(scale), 1n);
  return roundRatio(significand, bigPowerOfTen(-scale));
}
