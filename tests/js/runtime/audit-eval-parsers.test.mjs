// Second-reader checks of the two text parsers and the unsigned 32-bit bit
// operations: accepted forms, rounding at the edges of the double range and at
// the 800-digit cut, the order in which failures are reported, and charges.
import { test, assert, assertEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { intBits, parseTextInt, textParseFloat } from "../../../quelt/runtime/numeric.mjs";
import { UNKNOWN, ev } from "../../../quelt/runtime/values.mjs";
import { countingContext } from "./fake-context.mjs";

const MAX = 9007199254740991;
const INT_SYNTAX = { type: RuntimeDiagnostic, code: "INT_PARSE_SYNTAX", message: "Ожидается полная каноническая десятичная запись Int." };
const INT_DIGIT = { type: RuntimeDiagnostic, code: "INT_PARSE_SYNTAX", message: "Ожидается хотя бы одна цифра Int." };
const INT_RANGE = { type: RuntimeDiagnostic, code: "INT_PARSE_RANGE", message: "Десятичная запись выходит за точный диапазон Int." };
const FLOAT_SYNTAX = { type: RuntimeDiagnostic, code: "FLOAT_PARSE_SYNTAX", message: "Ожидается полная десятичная запись Float." };
const FLOAT_RANGE = { type: RuntimeDiagnostic, code: "FLOAT_PARSE_RANGE", message: "Десятичная запись вне конечного диапазона Float." };

test("parseInt accepts exactly the canonical decimal form within the safe range", () => {
  const accepted = [
    ["0", 0],
    ["-0", 0],
    ["7", 7],
    ["-120", -120],
    ["9007199254740991", MAX],
    ["-9007199254740991", -MAX],
  ];
  for (const [text, value] of accepted) {
    const ctx = countingContext();
    const result = parseTextInt(text, ctx);
    assert(Object.is(result, value), `${text}: expected ${value}, got ${result}`);
    assertEqual(ctx.steps, text.length, `${text} charges one step per unit`);
  }
  const refused = [
    ["", INT_SYNTAX],
    ["-", INT_DIGIT],
    ["007", INT_SYNTAX],
    ["00", INT_SYNTAX],
    ["-01", INT_SYNTAX],
    ["+1", INT_SYNTAX],
    ["1 ", INT_SYNTAX],
    [" 1", INT_SYNTAX],
    ["--1", INT_SYNTAX],
    ["1-", INT_SYNTAX],
    ["1e3", INT_SYNTAX],
    ["1.0", INT_SYNTAX],
    ["\uFF11", INT_SYNTAX],
    ["9007199254740992", INT_RANGE],
    ["-9007199254740992", INT_RANGE],
    ["90071992547409910", INT_RANGE],
    // a syntax fault after the range is already exceeded is still a syntax fault
    ["99999999999999999x", INT_SYNTAX],
    ["99999999999999999-", INT_SYNTAX],
  ];
  for (const [text, failure] of refused) {
    assertThrows(() => parseTextInt(text, countingContext()), failure);
  }
  // The scan stops at the first bad unit: "0" and "7" of "07x" are charged.
  const ctx = countingContext();
  assertThrows(() => parseTextInt("07x", ctx), INT_SYNTAX);
  assertEqual(ctx.steps, 2);
});

const parsed = (text, ctx = countingContext()) => textParseFloat(ev(text, "Text"), ctx);

test("parseFloat rounds to the nearest double at the edges of the range", () => {
  const cases = [
    ["0.1", 0.1],
    ["-0", -0],
    ["-0.0", -0],
    ["0.0e+0", 0],
    ["12.50", 12.5],
    ["1E-05", 0.00001],
    ["1e-400", 0],
    ["-1e-400", -0],
    ["2e-324", 0],
    // just below and just above half of the smallest subnormal
    ["2.4703282292062327e-324", 0],
    ["2.4703282292062328e-324", 5e-324],
    ["4.9406564584124654e-324", 5e-324],
    // the largest subnormal and the smallest normal
    ["2.2250738585072009e-308", 2.225073858507201e-308],
    ["2.2250738585072014e-308", 2.2250738585072014e-308],
    ["1.7976931348623157e308", 1.7976931348623157e308],
    // below the midpoint between the largest double and 2^1024
    ["1.7976931348623158e308", 1.7976931348623157e308],
    ["9007199254740993", 9007199254740992],
    ["9007199254740995", 9007199254740996],
    ["0e99999999999999999999", 0],
    ["0." + "0".repeat(400) + "1", 0],
  ];
  for (const [text, value] of cases) {
    const result = parsed(text);
    assertEqual(result.type, "Float", text);
    assert(Object.is(result.value, value), `${text}: expected ${value}, got ${result.value}`);
  }
  for (const text of ["1.7976931348623159e308", "1e309", "-1e309", "1e99999999999999999999", "17976931348623159" + "0".repeat(292)]) {
    assertThrows(() => parsed(text), FLOAT_RANGE);
  }
});

test("parseFloat decides ties at the 800-digit cut by the discarded tail", () => {
  // 9007199254740993 lies halfway between 2^53 and 2^53 + 2; the digits are
  // scaled back by the exponent so that 801 significant digits are written.
  const tie = "9007199254740993" + "0".repeat(785) + "e-785";
  assertEqual(parsed(tie).value, 9007199254740992, "an exact tie goes to the even neighbour");
  const above = "9007199254740993" + "0".repeat(784) + "1" + "e-785";
  assertEqual(parsed(above).value, 9007199254740994, "a non-zero 801st digit breaks the tie upward");
  const below = "9007199254740992" + "9".repeat(785) + "e-785";
  assertEqual(parsed(below).value, 9007199254740992, "just below the tie rounds down");
  const fraction = "0." + "0".repeat(20) + "9007199254740993" + "0".repeat(784) + "1" + "e36";
  assertEqual(parsed(fraction).value, 9007199254740994, "leading zeros are not significant digits");
});

test("parseFloat reports syntax before range and refuses non-Text receivers", () => {
  const refused = ["", "-", "+1", ".5", "5.", "01", "-01", "1e", "1e+", "1e-", " 1", "1 ", "1_0", "Infinity", "NaN", "0x10", "1e5.0", "1e+-5", "1..0", "1e400x", "--1", "1,5"];
  for (const text of refused) assertThrows(() => parsed(text), FLOAT_SYNTAX);
  const badType = { type: RuntimeDiagnostic, code: "VALUE_TYPE", message: "parseFloat требует исходный обязательный Text." };
  for (const receiver of [ev("1", "Text?"), ev(UNKNOWN, "Text?"), ev(1, "Text"), ev(1, "Float")]) {
    const ctx = countingContext();
    assertThrows(() => textParseFloat(receiver, ctx), badType);
    assertEqual(ctx.steps, 0, "refused before any charge");
  }
});

test("parseFloat charges by the documented schedule", () => {
  // "0.1": 3 units; 1 after the scan; the coefficient visits one unit (1) and
  // appends one digit (2 x (1 + 1)); 10^1 costs 2; twelve bisection steps cost
  // 4 + 36 + 20 + 12 + 8 + 6 + 4 x 6 = 110; scaling 2, division 4, rounding
  // 7 x 2 = 14; the bits 10 + 8.
  const cases = [
    ["0.1", 3 + 1 + 5 + 2 + 110 + 2 + 4 + 14 + 18],
    ["0", 1 + 1 + 18],
    ["1e-400", 6 + 1 + 18],
  ];
  for (const [text, steps] of cases) {
    const ctx = countingContext();
    parsed(text, ctx);
    assertEqual(ctx.steps, steps, text);
  }
  // A decimal order above 308 is refused without big-integer work.
  const ctx = countingContext();
  assertThrows(() => parsed("1e309", ctx), FLOAT_RANGE);
  assertEqual(ctx.steps, 5 + 1);
});

test("bit operations work on unsigned 32-bit values and charge 32 steps", () => {
  const int = (value) => ev(value, "Int");
  const cases = [
    ["not", 0, undefined, 4294967295],
    ["not", 4294967295, undefined, 0],
    ["shl", 4294967295, 1, 4294967294],
    ["shl", 1, 31, 2147483648],
    ["shr", 4294967295, 31, 1],
    ["shr", 2147483648, 31, 1],
    ["shl", 5, 0, 5],
    ["and", 0xf0f0, 0xff00, 0xf000],
    ["or", 0x80000000, 1, 2147483649],
    ["xor", 4294967295, 0x0f0f0f0f, 0xf0f0f0f0],
  ];
  for (const [op, value, argument, expected] of cases) {
    const ctx = countingContext();
    const result = intBits(op, int(value), argument === undefined ? undefined : int(argument), ctx);
    assertEqual(result.value, expected, `${op} ${value} ${argument}`);
    assertEqual(result.type, "Int");
    assertEqual(ctx.steps, 32, `${op} steps`);
  }
  const typeFault = { code: "VALUE_TYPE", message: "Битовая операция требует исходный обязательный Int." };
  const valueFault = { code: "INT_BITS_VALUE", message: "Битовое значение вне диапазона unsigned32." };
  const shiftFault = { code: "INT_BITS_SHIFT", message: "Число сдвига вне диапазона 0..31." };
  const failures = [
    ["shl", int(1), int(32), shiftFault],
    ["shr", int(1), int(-1), shiftFault],
    ["not", int(-1), undefined, valueFault],
    ["not", int(4294967296), undefined, valueFault],
    ["and", int(1), int(4294967296), valueFault],
    ["xor", int(1), int(-1), valueFault],
    // the receiver's range is tested before the shift count
    ["shl", int(-1), int(32), valueFault],
    ["not", ev(1, "Int?"), undefined, typeFault],
    ["and", int(1), ev(1, "Int?"), typeFault],
    ["or", ev(1, "Float"), int(1), typeFault],
    ["and", int(1), undefined, typeFault],
  ];
  for (const [op, receiver, argument, failure] of failures) {
    const ctx = countingContext();
    assertThrows(() => intBits(op, receiver, argument, ctx), failure);
    assertEqual(ctx.steps, 0, `${op} refused before the charge`);
  }
});
