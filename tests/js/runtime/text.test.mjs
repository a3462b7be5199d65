import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { textOperation, textJoinBytes, utf8Length } from "../../../quelt/runtime/text.mjs";
import { countingContext } from "./fake-context.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const JOIN_BYTES = fault("TEXT_JOIN_BYTES", "Полный результат join превышает лимит UTF-8.");
const run = (op, value, argument, ctx = countingContext()) => textOperation(op, value, argument, ctx);

test("UTF-8 length counts pairs as 4 and unpaired surrogates as 3", () => {
  const cases = [
    ["", 0], ["a", 1], ["\u00e9", 2], ["\u20ac", 3], ["\u{1f600}", 4],
    ["\ud800", 3], ["\udc00", 3], ["\udc00\ud800", 6], ["\ud800a", 4],
    ["a".repeat(100) + "\u{1f600}" + "\ud800", 107],
  ];
  for (const [value, bytes] of cases) assertEqual(utf8Length(value), bytes, JSON.stringify(value));
});

test("join", () => {
  const cases = [
    [["a", "b"], ",", "a,b"],
    [[], ",", ""],
    [["only"], "--", "only"],
    [["a", "", "b"], "", "ab"],
  ];
  for (const [values, separator, expected] of cases) {
    assertDeepEqual(run("join", values, separator), { value: expected, type: "Text" });
  }
  const ctx = countingContext();
  run("join", ["ab", "c"], ",", ctx);
  assertDeepEqual(ctx.charges, [1, 1, 4], "one step per item, then every code unit of the result");
});

test("join size is exact, including pairs formed across a separator", () => {
  const cases = [
    [["x".repeat(65536)], "", true],
    [["x".repeat(65535), "y"], ",", false],
    [["x".repeat(65534), "y"], ",", true],
    // a high surrogate ending an item plus a low one starting the separator make a 4-byte pair
    [["x".repeat(65530) + "\ud83d", "ab"], "\ude00", true],
    [["x".repeat(65531) + "\ud83d", "ab"], "\ude00", false],
    // an unpaired high surrogate at the very end counts 3
    [["x".repeat(65533), "\ud83d"], "", true],
    [["x".repeat(65534), "\ud83d"], "", false],
    [["\u20ac".repeat(21845), "a"], "", true],
    [["\u20ac".repeat(21845), "ab"], "", false],
  ];
  for (const [values, separator, passes] of cases) {
    const ctx = countingContext();
    if (passes) textJoinBytes(values, separator, ctx);
    else {
      assertThrows(() => textJoinBytes(values, separator, ctx), JOIN_BYTES);
      assertThrows(() => run("join", values, separator), JOIN_BYTES);
    }
  }
});

test("split", () => {
  const cases = [
    ["a,,b", ",", ["a", "", "b"]],
    ["", ",", [""]],
    [",a,", ",", ["", "a", ""]],
    ["aaaa", "aa", ["", "", ""]],
    ["abc", "x", ["abc"]],
    ["a\u{1f600}b", "\ude00", ["a\ud83d", "b"]],
  ];
  for (const [value, separator, parts] of cases) {
    const result = run("split", value, separator);
    assertEqual(result.type, "Text[]");
    assertDeepEqual(result.value, parts, JSON.stringify(value));
    assert(Object.isFrozen(result.value));
  }
  const ctx = countingContext();
  run("split", "a,,b", ",", ctx);
  assertDeepEqual(ctx.charges, [5, 1, 1, 1], "units of text and separator, then one per part");
});

test("split failures", () => {
  const ctx = countingContext();
  assertThrows(() => run("split", "abc", "", ctx), fault("TEXT_SPLIT_SEPARATOR", "split требует непустой разделитель."));
  assertEqual(ctx.steps, 0);
  run("split", ",".repeat(4095), ",");
  assertThrows(() => run("split", ",".repeat(4096), ","), fault("TEXT_SPLIT_ITEMS", "split содержит слишком много частей."));
  // Canonical size of the parts: 2 brackets, commas, and each part's JSON text;
  // a control character is written as a six-byte escape.
  const part = "\u0001".repeat(87381); // 524288 JSON bytes
  run("split", part + "|" + part.slice(1), "|"); // 2 + 524288 + 1 + 524282 = 1048573
  const exact = part + "|" + part.slice(1) + "x".repeat(3); // 1048576
  run("split", exact, "|");
  assertThrows(() => run("split", exact + "x", "|"), fault("TEXT_SPLIT_BYTES", "Полный массив split превышает лимит UTF-8."));
});

test("contains, startsWith and endsWith compare code units", () => {
  const cases = [
    ["contains", "abc", "", "yes"],
    ["contains", "abc", "bc", "yes"],
    ["contains", "abc", "cb", "no"],
    ["startsWith", "abc", "ab", "yes"],
    ["startsWith", "abc", "", "yes"],
    ["startsWith", "abc", "bc", "no"],
    ["endsWith", "abc", "bc", "yes"],
    ["endsWith", "abc", "abcd", "no"],
    ["endsWith", "a\u{1f600}", "\ude00", "yes"],
    ["contains", "", "", "yes"],
  ];
  for (const [op, value, argument, expected] of cases) {
    const ctx = countingContext();
    assertDeepEqual(run(op, value, argument, ctx), { value: expected, type: "Truth" }, `${op} ${argument}`);
    assertEqual(ctx.steps, value.length + argument.length);
  }
});
