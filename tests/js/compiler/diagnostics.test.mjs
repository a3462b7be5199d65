import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { CompileDiagnostic, lineColumn, bareMessage } from "../../../quelt/compiler/diagnostics.mjs";
import * as limits from "../../../quelt/compiler/limits.mjs";

test("diagnostics: line and column", () => {
  const cases = [
    ["", 0, 1, 1],
    ["abc", 0, 1, 1],
    ["abcdefgh", 5, 1, 6],
    ["ab\ncd", 3, 2, 1],
    ["ab\ncd", 2, 1, 3],
    ["a\r\nb", 3, 2, 1],
    ["a\rb", 2, 1, 3],
    ["\u{1F600}x", 2, 1, 3],
    ["a\n\nb", 3, 3, 1],
    ["a\nb", 10, 2, 9],
  ];
  for (const [source, offset, line, column] of cases) {
    assertDeepEqual(lineColumn(source, offset), { line, column }, JSON.stringify([source, offset]));
    const error = new CompileDiagnostic(source, offset, "SYNTAX", "Broken");
    assertEqual(error.message, `Broken (line ${line}, column ${column})`);
  }
});

test("diagnostics: CompileDiagnostic shape", () => {
  const error = new CompileDiagnostic("x\ny", 2, "TEXT", "Unclosed Text literal");
  assert(error instanceof Error && error instanceof CompileDiagnostic);
  assertEqual(error.name, "CompileDiagnostic");
  assertDeepEqual(
    Object.keys(error).filter((key) => ["name", "code", "offset", "line", "column"].includes(key)),
    ["name", "code", "offset", "line", "column"],
  );
  assertDeepEqual([error.code, error.offset, error.line, error.column], ["TEXT", 2, 2, 1]);
  assert(!Object.values(error).includes("x\ny"), "source is not kept");
});

test("diagnostics: rebuilding from a bare message moves the location", () => {
  const first = new CompileDiagnostic("abc", 1, "SYNTAX", "Expected ), received (line 3, column 4)");
  const bare = bareMessage(first.message);
  assertEqual(bare, "Expected ), received (line 3, column 4)");
  const moved = new CompileDiagnostic("\n\nxyz", 4, first.code, bare);
  assertEqual(moved.message, "Expected ), received (line 3, column 4) (line 3, column 3)");
  assertEqual(bareMessage("no suffix"), "no suffix");
});

test("limit tables are frozen and hold their values", () => {
  const expected = {
    LIMITS: { source: 65536, tokens: 20000, nodes: 2000, functions: 64, derives: 256, params: 16, arrayItems: 4096, recordFields: 256, identifier: 64, depth: 64, interfaces: 256 },
    RECORD_READ_TYPES: { readInt: "Int", readFloat: "Float", readText: "Text", readTruth: "Truth", readRecord: "Record", readInts: "Int[]", readFloats: "Float[]", readTexts: "Text[]", readTruths: "Truth[]", readRecords: "Record[]" },
    FUNCTION_LOCAL_LIMITS: { locals: 16 },
    FUNCTION_EACH_LIMITS: { items: 4096, resultUtf8Bytes: 1048576 },
    FUNCTION_FILTER_LIMITS: { items: 4096, resultUtf8Bytes: 1048576 },
    FUNCTION_FOLD_LIMITS: { items: 4096, stateUtf8Bytes: 1048576 },
    FUNCTION_REPEAT_LIMITS: { iterations: 4096, stateUtf8Bytes: 1048576 },
    TEXT_CONCAT_LIMITS: { resultUtf8Bytes: 65536 },
    ARRAY_AT_LIMITS: { items: 4096 },
    ARRAY_APPEND_LIMITS: { items: 4096, resultUtf8Bytes: 1048576 },
    ARRAY_CONCAT_LIMITS: { items: 4096, resultUtf8Bytes: 1048576 },
    RECORD_KEYS_LIMITS: { fields: 4096, resultUtf8Bytes: 1048576 },
    RECORD_FIELD_CHECK_LIMITS: { fields: 256 },
    NAMED_RECORD_SCHEMA_LIMITS: { schemas: 16, fields: 256, totalFields: 256 },
    RESULT_LIMITS: { results: 16 },
    INT_BITS_LIMITS: { bits: 32, valueMin: 0, valueMax: 4294967295, shiftMin: 0, shiftMax: 31, logicalSteps: 32 },
    TEXT_OP_LIMITS: { splitItems: 4096, splitResultUtf8Bytes: 1048576, joinResultUtf8Bytes: 65536 },
  };
  assertDeepEqual(Object.keys(limits).sort(), Object.keys(expected).sort());
  for (const [name, table] of Object.entries(expected)) {
    assertDeepEqual(limits[name], table, name);
    assert(Object.isFrozen(limits[name]), `${name} frozen`);
    assertThrows(() => {
      "use strict";
      limits[name].extra = 1;
    }, TypeError, name);
  }
});
