import { test, assertEqual } from "../harness.mjs";
import { decimalToDouble } from "../../../quelt/compiler/decimal.mjs";
import { getSourceTokens } from "../../../quelt/compiler/lexer.mjs";

// Expected doubles are written as hexadecimal bit patterns or as short
// literals whose rounding no engine gets wrong.
function bits(value) {
  const view = new DataView(new ArrayBuffer(8));
  view.setFloat64(0, value);
  return view.getBigUint64(0).toString(16).padStart(16, "0");
}

const cases = [
  ["0", "0000000000000000"],
  ["007", "401c000000000000"],
  ["1.5", "3ff8000000000000"],
  ["0.1", "3fb999999999999a"],
  ["1e3", "408f400000000000"],
  ["1e-400", "0000000000000000"],
  ["1e309", "7ff0000000000000"],
  ["9007199254740993", "4340000000000000"], // halfway between 2^53 and 2^53+2: ties to even
  ["9007199254740995", "4340000000000002"],
  // Just above the halfway point between 1 and its successor: rounds up.
  ["1.000000000000000111022302462515654042363166809082031250001", "3ff0000000000001"],
  // Exactly halfway: ties to even (down to 1).
  ["1.00000000000000011102230246251565404236316680908203125", "3ff0000000000000"],
  ["2.2250738585072011e-308", "000fffffffffffff"], // largest subnormal
  ["4.9406564584124654e-324", "0000000000000001"], // smallest subnormal
  ["2.4703282292062328e-324", "0000000000000001"], // just above half of it
  ["2.4703282292062327e-324", "0000000000000000"], // just below half of it
  ["1.7976931348623157e308", "7fefffffffffffff"],
  ["1.7976931348623159e308", "7ff0000000000000"], // rounds past the largest double
  ["123456789012345678901234567890", "45f8ee90ff6c373e"],
  ["0.000001e6", "3ff0000000000000"],
  ["1" + "0".repeat(400) + "e-400", "3ff0000000000000"],
  ["123.456e30", "469858ef66d03a16"], // surplus zeros moved into the significand
  // Past the 800th digit only "something non-zero follows" counts.
  ["1.00000000000000011102230246251565404236316680908203125" + "0".repeat(1000) + "1", "3ff0000000000001"],
  ["1.00000000000000011102230246251565404236316680908203125" + "0".repeat(1000), "3ff0000000000000"],
  ["0." + "9".repeat(2000), "3ff0000000000000"],
  // Significands whose top bit ends a 64-bit word (2^63, 2^64 - 1, 2^128 - 1):
  // their bit length is found without the engine's BigInt text form.
  ["9223372036854775808.5", "43e0000000000000"],
  ["18446744073709551615.5", "43f0000000000000"],
  ["340282366920938463463374607431768211455.5", "47f0000000000000"],
];

test("decimal spellings convert to the correctly rounded double", () => {
  for (const [spelling, expected] of cases) assertEqual(bits(decimalToDouble(spelling)), expected, spelling);
});

test("number tokens carry correctly rounded values for long spellings", () => {
  const [token] = getSourceTokens("1.000000000000000111022302462515654042363166809082031250001");
  assertEqual(bits(token.value.value), "3ff0000000000001");
});
