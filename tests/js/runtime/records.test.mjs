import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { UNKNOWN, canonical, normalize } from "../../../quelt/runtime/values.mjs";
import {
  recordKeys,
  recordFields,
  checkRecordFields,
  matchesFieldType,
  recordWork,
  appendCanonicalBytes,
  concatCanonicalBytes,
  filterCanonicalBytes,
  sortByCanonicalBytes,
} from "../../../quelt/runtime/records.mjs";
import { countingContext } from "./fake-context.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const FIELDS = fault("RECORD_LIMIT", "Record содержит слишком много полей.");
const record = (value) => normalize(value, "Record");
const nested = (levels, inner = {}) => {
  let value = inner;
  for (let i = 0; i < levels; i += 1) value = { a: value };
  return value;
};
const withFields = (count) => {
  const value = {};
  for (let i = 0; i < count; i += 1) value[`k${i}`] = 0;
  return value;
};

test("keys sorts names by code units with charged comparisons", () => {
  const ctx = countingContext();
  const names = recordKeys(record({ b: 1, a: 2, B: 3 }), ctx);
  assertDeepEqual(names, ["B", "a", "b"]);
  assert(Object.isFrozen(names));
  // 3 names, then b:a (1 + 1 position) and a:B (1 + 1 position).
  assertEqual(ctx.steps, 7);
  const cases = [
    [{}, []],
    [{ ab: 1, a: 2, "\ue000": 3, "\u{10000}": 4, 10: 5, 9: 6 }, ["10", "9", "a", "ab", "\u{10000}", "\ue000"]],
  ];
  for (const [value, expected] of cases) assertDeepEqual(recordKeys(record(value), countingContext()), expected);
  const one = countingContext();
  recordKeys(record({ only: 1 }), one);
  assertEqual(one.steps, 1, "a single name needs no comparison");
});

test("keys bounds the field count and the key array's size", () => {
  recordKeys(withFields(4096), countingContext());
  assertThrows(() => recordKeys(withFields(4097), countingContext()), FIELDS);
  // ["…",…]: 2 + 15 names of 65538 JSON bytes + one of L + 2 + 15 commas.
  const large = (last) => {
    const value = {};
    for (let i = 0; i < 15; i += 1) value[String.fromCharCode(0x41 + i) + "x".repeat(65535)] = 0;
    value["z".repeat(last)] = 0;
    return value;
  };
  recordKeys(large(65487), countingContext());
  assertThrows(() => recordKeys(large(65488), countingContext()), fault("RECORD_KEYS_BYTES", "Полный массив ключей Record превышает лимит UTF-8."));
});

test("withField replaces in place or appends; withoutField removes", () => {
  const source = record({ a: 1, b: 2, c: 3 });
  const cases = [
    ["b", 20, false, { a: 1, b: 20, c: 3 }],
    ["d", [1], false, { a: 1, b: 2, c: 3, d: [1] }],
    ["b", undefined, true, { a: 1, c: 3 }],
    ["z", undefined, true, { a: 1, b: 2, c: 3 }],
  ];
  for (const [key, value, remove, expected] of cases) {
    const result = recordFields(source, key, value, remove, countingContext());
    assertEqual(result.type, "Record");
    assertDeepEqual(result.value, expected, key);
    assert(result.value !== source && Object.isFrozen(result.value));
    assertEqual(Object.getPrototypeOf(result.value), null);
  }
  const stored = recordFields(source, "u", UNKNOWN, false, countingContext()).value.u;
  assert(stored !== UNKNOWN);
  assertEqual(canonical(stored), '{"kind":"quelt-unknown"}');
});

test("withField charges every member of the new Record", () => {
  const ctx = countingContext();
  recordFields(record({ a: 1 }), "b", [1, 2], false, ctx);
  assertDeepEqual(ctx.charges, [4]);
  const nestedCtx = countingContext();
  recordFields(record({ a: { x: [1, 2, 3] }, b: 1 }), "b", undefined, true, nestedCtx);
  assertDeepEqual(nestedCtx.charges, [5]);
});

test("withField bounds fields, depth, members and size", () => {
  recordFields(withFields(4095), "new", 1, false, countingContext());
  assertThrows(() => recordFields(withFields(4096), "new", 1, false, countingContext()), FIELDS);
  recordFields(withFields(4096), "k0", 1, false, countingContext());
  recordFields(record({ a: 1 }), "b", nested(23), false, countingContext());
  assertThrows(() => recordFields(record({ a: 1 }), "b", nested(24), false, countingContext()), fault("RECORD_LIMIT", "Превышена глубина Record."));
  recordFields(record({ a: 1 }), "b", new Array(4094).fill(0), false, countingContext());
  const members = fault("RECORD_LIMIT", "Record содержит слишком много элементов.");
  assertThrows(() => recordFields(record({ a: 1 }), "b", new Array(4095).fill(0), false, countingContext()), members);
  assertThrows(() => recordFields(record({ a: 1 }), "b", withFields(4095), false, countingContext()), members);
  // `"a"` + 1 + `"b"` + 15 texts of 65536 JSON bytes + one of 65527 = 1048576.
  const texts = (last) => [...new Array(15).fill("x".repeat(65534)), "x".repeat(last)];
  recordFields(record({ a: 1 }), "b", texts(65527), false, countingContext());
  const size = fault("RECORD_LIMIT", "Превышен размер Record.");
  const ctx = countingContext();
  assertThrows(() => recordFields(record({ a: 1 }), "b", texts(65528), false, ctx), size);
  assertDeepEqual(ctx.charges, [18], "the members were charged before the size walk failed");
});

test("checkFields reports the first mismatch", () => {
  const fields = [{ key: "a", type: "Int" }, { key: "b", type: "Text[]" }];
  const report = (valid, code, field, expected, index) => ({ valid, code, field, expected, index });
  const cases = [
    [{ a: 1, b: ["x"] }, fields, report("yes", "OK", "", "", -1)],
    [{ a: 1, b: [1] }, fields, report("no", "FIELD_ITEM_TYPE", "b", "Text[]", 0)],
    [{ b: 5 }, fields, report("no", "FIELD_MISSING", "a", "Int", -1)],
    [{ a: 1.5, b: [] }, fields, report("no", "FIELD_TYPE", "a", "Int", -1)],
    [{ a: 1, b: "x" }, fields, report("no", "FIELD_TYPE", "b", "Text[]", -1)],
    [{ a: 1, b: ["x", "y", 3] }, fields, report("no", "FIELD_ITEM_TYPE", "b", "Text[]", 2)],
    [{ f: 2 }, [{ key: "f", type: "Float" }], report("yes", "OK", "", "", -1)],
    [{ t: [null, "unknown", "yes", { kind: "quelt-unknown" }] }, [{ key: "t", type: "Truth[]" }], report("yes", "OK", "", "", -1)],
    [{ t: true }, [{ key: "t", type: "Truth" }], report("no", "FIELD_TYPE", "t", "Truth", -1)],
    [{ r: [{}, null] }, [{ key: "r", type: "Record[]" }], report("no", "FIELD_ITEM_TYPE", "r", "Record[]", 1)],
    [{}, [], report("yes", "OK", "", "", -1)],
  ];
  for (const [value, descriptors, expected] of cases) {
    const result = checkRecordFields(record(value), descriptors, countingContext());
    assertDeepEqual(result, expected, JSON.stringify(value));
    assert(Object.isFrozen(result) && Object.getPrototypeOf(result) === null);
  }
  const ctx = countingContext();
  checkRecordFields(record({ a: 1, b: [1] }), fields, ctx);
  assertDeepEqual(ctx.charges, [1, 1, 1, 5]);
  const missing = countingContext();
  checkRecordFields(record({ b: "not looked at" }), fields, missing);
  assertDeepEqual(missing.charges, [1, 5], "stops at the missing field");
});

test("field type predicate", () => {
  const marker = { kind: "quelt-unknown" };
  const cases = [
    [1, "Int", true], [1.5, "Int", false], [2 ** 53, "Int", false],
    [2, "Float", true], [-0, "Float", true], ["1", "Float", false],
    ["", "Text", true], [null, "Text", false],
    [{}, "Record", true], [marker, "Record", true], [[], "Record", false], [null, "Record", false],
    [null, "Truth", true], ["unknown", "Truth", true], ["yes", "Truth", true], [marker, "Truth", true],
    [UNKNOWN, "Truth", true], [true, "Truth", false], [{ kind: "quelt-unknown", x: 1 }, "Truth", false],
    [["yes"], "Truth", false], [1, "Int[]", false], [1, "Shape", false],
  ];
  for (const [value, type, expected] of cases) {
    assertEqual(matchesFieldType(value, type, countingContext()), expected, `${JSON.stringify(value)} as ${type}`);
  }
  const ctx = countingContext();
  matchesFieldType(marker, "Truth", ctx);
  assertEqual(ctx.steps, 2);
});

test("recordWork counts array items and object fields", () => {
  const cases = [
    [5, 0], ["x", 0], [null, 0], [{}, 0], [[], 0],
    [{ a: [1, 2], b: { c: 1 } }, 5],
    [[[1], { a: [] }], 4],
    [nested(24), 24],
    [new Array(4096).fill(0), 4096],
  ];
  for (const [value, members] of cases) assertEqual(recordWork(value), members, JSON.stringify(value));
  assertThrows(() => recordWork(nested(25)), fault("RECORD_LIMIT", "Record depth limit"));
  assertThrows(() => recordWork({ a: new Array(4096).fill(0) }), fault("RECORD_LIMIT", "Record member limit"));
});

test("canonical-byte counters add the exact canonical size", () => {
  const value = { b: [1, -0, "é\u0001"], a: { kind: "quelt-unknown" }, "\ud800": null };
  const expected = new TextEncoder().encode(canonical(value)).length;
  for (const counter of [appendCanonicalBytes, concatCanonicalBytes, filterCanonicalBytes, sortByCanonicalBytes]) {
    const state = { bytes: 10 };
    counter(value, state, countingContext());
    assertEqual(state.bytes, 10 + expected, counter.name);
  }
});

test("canonical-byte counters fail at the first byte past their limit", () => {
  const members = [
    [appendCanonicalBytes, "APPEND_RESULT_BYTES", "Полный результат append превышает лимит UTF-8."],
    [concatCanonicalBytes, "CONCAT_RESULT_BYTES", "Полный результат concat превышает лимит UTF-8."],
    [filterCanonicalBytes, "FILTER_RESULT_BYTES", "Полный результат filter превышает лимит UTF-8."],
    [sortByCanonicalBytes, "SORT_RESULT_BYTES", "Полный результат sortBy превышает лимит UTF-8."],
  ];
  for (const [counter, code, message] of members) {
    const state = { bytes: 1048576 - 7 };
    counter("abcde", state, countingContext());
    assertEqual(state.bytes, 1048576);
    assertThrows(() => counter([], { bytes: 1048575 }, countingContext()), fault(code, message));
    assertThrows(() => counter(-0, { bytes: 1048575 }, countingContext()), fault(code, message), "-0 counts 2");
    counter(0, { bytes: 1048575 }, countingContext());
  }
});
