// A Record admitted through normalize (alone or as an item of Record[]) is
// copied by one pass when its fields hold scalars, and by the full copy
// otherwise. Either way the outcome is jsonCopy's: the same copy, the same
// summary, the same failure.
import { test, assert, assertDeepEqual, assertEqual } from "../harness.mjs";
import { admittedSummary, canonical, jsonCopy, normalize } from "../../../quelt/runtime/values.mjs";

// What a caller can see of an admission: the copy (names in order, canonical
// text, frozen, no prototype) and its summary, or the failure.
function outcome(admit, value) {
  let copy;
  try {
    copy = admit(value);
  } catch (error) {
    return { code: error.code, message: error.message };
  }
  const { members, bytes, height, canonicalBytes, json } = admittedSummary(copy);
  return {
    names: Reflect.ownKeys(copy),
    text: canonical(copy),
    sealed: Object.isFrozen(copy) && Object.getPrototypeOf(copy) === null,
    summary: { members, bytes, height, canonicalBytes, json },
  };
}

const asRecord = (value) => normalize(value, "Record");
const asItem = (value) => normalize([value], "Record[]")[0];

function assertSameAsJsonCopy(value, label) {
  const expected = outcome(jsonCopy, value);
  assertDeepEqual(outcome(asRecord, value), expected, `${label} as Record`);
  assertDeepEqual(outcome(asItem, value), expected, `${label} as Record[] item`);
  return expected;
}

const texts = (count, length) => {
  const record = {};
  for (let i = 0; i < count; i += 1) record[`t${i}`] = "x".repeat(length);
  return record;
};

const fieldsOf = (count) => {
  const record = {};
  for (let i = 0; i < count; i += 1) record[`f${i}`] = i;
  return record;
};

const withGetter = (before, calls) => {
  const record = { ...before };
  Object.defineProperty(record, "g", { enumerable: true, get: () => (calls.push(1), 1) });
  return record;
};

test("Records of scalar fields get jsonCopy's copy and summary", () => {
  const cases = [
    ["empty", {}],
    ["three fields", { id: 7, name: "row-7", score: 12.5 }],
    ["names out of order", { b: 1, a: 2 }],
    ["negative zero", { a: -0, b: 0 }],
    ["index names first", { z: null, 2: "x", y: false, 1: true }],
    ["__proto__ name", JSON.parse('{"__proto__": 1, "a": "b"}')],
    ["escapes and UTF-8", { t: 'é€😀\u0001"\\', u: "\ud800" }],
    ["texts past the short scan", { t: "x".repeat(65), u: "€".repeat(21845) }],
    ["long name", { ["k".repeat(21846)]: 1 }],
    ["text longer than a third of the limit", { t: "x".repeat(30000) }],
  ];
  for (const [label, value] of cases) {
    const expected = assertSameAsJsonCopy(value, label);
    assert(expected.sealed, label);
  }
});

test("Records that reach a limit or hold other data fail as jsonCopy fails", () => {
  const cycle = { a: 1, b: {} };
  cycle.b.self = cycle;
  const hidden = { a: 1 };
  Object.defineProperty(hidden, "h", { value: 2, enumerable: false });
  const cases = [
    // 47 texts of 21845 characters fit the byte limit, 48 do not.
    ["bytes within the limit", texts(47, 21845), undefined],
    ["bytes over the limit", texts(48, 21845), "RECORD_LIMIT"],
    ["4096 fields", fieldsOf(4096), undefined],
    ["4097 fields", fieldsOf(4097), "RECORD_LIMIT"],
    ["text over the limit", { a: 1, t: "€".repeat(21846) }, "TEXT_LIMIT"],
    ["name over the limit", { ["k".repeat(65537)]: 1 }, "TEXT_LIMIT"],
    ["bytes over the limit before a long name", { ...texts(48, 21845), ["k".repeat(65537)]: 1 }, "RECORD_LIMIT"],
    ["not finite", { a: 1, b: Number.NaN }, "VALUE_TYPE"],
    ["undefined", { a: undefined }, "VALUE_TYPE"],
    ["function", { a: () => 1 }, "VALUE_TYPE"],
    ["big integer", { a: 1n }, "VALUE_TYPE"],
    ["symbol name", { a: 1, [Symbol("s")]: 2 }, "VALUE_SCHEMA"],
    ["hidden field", hidden, "VALUE_SCHEMA"],
    ["nested data", { a: 1, b: { c: [1, -0, "x"] } }, undefined],
    ["nested after a bad scalar", { a: Number.POSITIVE_INFINITY, b: {} }, "VALUE_TYPE"],
    ["cycle", cycle, "VALUE_TYPE"],
  ];
  for (const [label, value, code] of cases) {
    const expected = assertSameAsJsonCopy(value, label);
    assertEqual(expected.code, code, label);
  }
});

test("a getter fails before any later check and never runs", () => {
  const calls = [];
  const cases = [
    withGetter({ a: 1 }, calls),
    withGetter({ a: Number.NaN }, calls),
    withGetter({ t: "€".repeat(30000) }, calls),
    withGetter({ a: { b: 1 } }, calls),
    withGetter(fieldsOf(4097), calls),
  ];
  for (const value of cases) {
    const expected = assertSameAsJsonCopy(value, Object.keys(value)[0]);
    assertDeepEqual(expected, { code: "VALUE_SCHEMA", message: "Символы, скрытые поля и getters не разрешены." });
  }
  assertEqual(calls.length, 0);
});

test("names shared by consecutive Records are measured for the names they are", () => {
  // Same names, then the same count of other names, a reordering, a symbol
  // where a text was, fewer names, and back.
  const sequence = [
    { a: 1, b: "x" },
    { a: 2, b: "y" },
    { b: 3, a: 4 },
    { a: -0, b: "z" },
    { c: 5, dd: 6 },
    { [Symbol("a")]: 7, b: 8 },
    { a: 9 },
    {},
    { a: 10, b: "w" },
  ];
  for (const value of sequence) assertSameAsJsonCopy(value, JSON.stringify(value));
  const items = sequence.filter((value) => Object.getOwnPropertySymbols(value).length === 0);
  const admitted = normalize(items, "Record[]");
  assertDeepEqual(
    admitted.map((copy) => outcome((x) => x, copy)),
    items.map((value) => outcome(jsonCopy, value)),
  );
});

test("an admission started inside another keeps the names of its own Record", () => {
  // The proxy's field lookups admit a Record with other names half-way.
  const target = Object.assign(Object.create(null), { a: 1, b: 2, c: 3 });
  const inner = { longer: "names", than: "these" };
  const proxy = new Proxy(target, {
    getOwnPropertyDescriptor(object, key) {
      if (key === "b") normalize(inner, "Record");
      return Reflect.getOwnPropertyDescriptor(object, key);
    },
  });
  normalize({ a: 0, b: 0, c: 0 }, "Record");
  assertDeepEqual(outcome(asRecord, proxy), outcome(jsonCopy, target));
});
