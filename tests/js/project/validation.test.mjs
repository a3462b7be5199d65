import { test, assert, assertEqual, assertDeepEqual, assertThrows, assertRejects } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { MODULE_LIMITS, ProjectDiagnostic, compileProject } from "quelt/project.mjs";
import { dataArray, dataObject, snapshotInterfaces } from "../../../quelt/project/data.mjs";
import { lineFeeds, location, locationWith, originalDiagnostic } from "../../../quelt/project/diagnostics.mjs";
import { canonical, sha } from "../../../quelt/project/digest.mjs";
import { EMPTY_SHA256, MINIMAL_ENTRY, ZERO_DIGEST, sha256Hex, sourcesOf } from "./fixtures.mjs";

const PLAIN = "Expected a plain project data object";
const FIELDS = "Unexpected project fields";
const COUNT = "Project data field count exceeds its bound";
const HIDDEN = "Project data cannot contain accessors or hidden fields";

function withGetter(key, onRead = () => {}) {
  return Object.defineProperty({}, key, { get: onRead, enumerable: true });
}

test("MODULE_LIMITS holds the project bounds and cannot be changed", () => {
  assertDeepEqual({ ...MODULE_LIMITS }, { files: 16, depth: 8, totalUtf8Bytes: 65536, path: 256 });
  assert(Object.isFrozen(MODULE_LIMITS));
});

test("ProjectDiagnostic carries name and code and no location", () => {
  const error = new ProjectDiagnostic("PROJECT_PATH", "message");
  assert(error instanceof Error);
  assertEqual(error.name, "ProjectDiagnostic");
  assertEqual(error.code, "PROJECT_PATH");
  assertEqual(error.message, "message");
  assert(!("sourcePath" in error) && !("line" in error));
});

test("dataObject refuses anything but bounded plain data, in its check order", () => {
  class Thing {}
  const cases = [
    [null, null, 256, PLAIN],
    [0, null, 256, PLAIN],
    ["text", null, 256, PLAIN],
    [[], null, 256, PLAIN],
    [new Thing(), null, 256, PLAIN],
    [new Map(), null, 256, PLAIN],
    [{ [Symbol("s")]: 1 }, null, 256, FIELDS],
    // the symbol is reported before the count
    [{ a: 1, b: 2, [Symbol("s")]: 1 }, null, 1, FIELDS],
    [{ a: 1, b: 2 }, ["a"], 256, FIELDS],
    [{ a: 1 }, ["a", "b"], 256, FIELDS],
    [{ a: 1, c: 2 }, ["a", "b"], 256, FIELDS],
    [{ a: 1, b: 2, c: 3 }, null, 2, COUNT],
    [withGetter("a"), null, 256, HIDDEN],
    [Object.defineProperty({}, "a", { value: 1, enumerable: false }), null, 256, HIDDEN],
  ];
  for (const [value, fields, maximum, message] of cases) {
    const code = message === COUNT ? "PROJECT_LIMIT" : "PROJECT_SCHEMA";
    assertThrows(() => dataObject(value, fields, maximum), { type: ProjectDiagnostic, code, message }, message);
  }
  assertThrows(() => dataObject({ a: 1, b: 2 }, null, 1, "PROJECT_SCHEMA"), { code: "PROJECT_SCHEMA", message: COUNT });
});

test("dataObject copies into a prototype-free record without running accessors", () => {
  let reads = 0;
  const source = Object.create(null);
  source.b = 2;
  source.a = { nested: true };
  const copy = dataObject(source, ["a", "b"], 2);
  assertEqual(Object.getPrototypeOf(copy), null);
  assertDeepEqual(Object.keys(copy), ["b", "a"]);
  assertEqual(copy.a, source.a, "values are not copied deeply");
  assertThrows(() => dataObject(withGetter("x", () => (reads += 1))), { message: HIDDEN });
  assertEqual(reads, 0);
});

test("dataArray accepts ordinary dense arrays only", () => {
  class List extends Array {}
  const sparse = [1, , 3]; // eslint-disable-line no-sparse-arrays
  const sparseWithExtra = Object.assign([1, , 3], { x: 1 }); // eslint-disable-line no-sparse-arrays
  const withAccessor = [1, 2];
  Object.defineProperty(withAccessor, 0, { get: () => 1, enumerable: true });
  const hiddenItem = [1, 2];
  Object.defineProperty(hiddenItem, 1, { value: 2, enumerable: false });
  const cases = [
    [{ length: 0 }, "PROJECT_SCHEMA", "Interface lists require ordinary dense arrays"],
    [List.from([1]), "PROJECT_SCHEMA", "Interface lists require ordinary dense arrays"],
    [new Array(17).fill("Int"), "PROJECT_LIMIT", "Interface list exceeds its bound"],
    [Object.assign(["Int"], { extra: 1 }), "PROJECT_SCHEMA", "Interface lists cannot contain extra fields"],
    // a hole leaves one own key fewer than length + 1
    [sparse, "PROJECT_SCHEMA", "Interface lists cannot contain extra fields"],
    [sparseWithExtra, "PROJECT_SCHEMA", "Interface lists cannot contain holes or accessors"],
    [withAccessor, "PROJECT_SCHEMA", "Interface lists cannot contain holes or accessors"],
    [hiddenItem, "PROJECT_SCHEMA", "Interface lists cannot contain holes or accessors"],
  ];
  for (const [value, code, message] of cases) {
    assertThrows(() => dataArray(value, 16), { type: ProjectDiagnostic, code, message }, message);
  }
  const original = ["Int", "Text"];
  const copy = dataArray(original, 16);
  assertDeepEqual(copy, original);
  assert(copy !== original);
  assertDeepEqual(dataArray(new Array(16).fill("Int"), 16).length, 16);
});

test("snapshotInterfaces copies declarations and turns every fault into one INTERFACES diagnostic", () => {
  const declaration = { params: ["Int"], result: "Text", effects: ["net"] };
  const snapshot = snapshotInterfaces({ "store.get": declaration });
  assertEqual(Object.getPrototypeOf(snapshot), null);
  assertDeepEqual(snapshot["store.get"], declaration);
  assert(snapshot["store.get"].params !== declaration.params && snapshot["store.get"].effects !== declaration.effects);

  const tooMany = {};
  for (let index = 0; index < 257; index += 1) tooMany[`m.f${index}`] = declaration;
  const bad = [
    null,
    [],
    tooMany,
    withGetter("store.get"),
    { "store.get": { params: [], result: "Int" } },
    { "store.get": { ...declaration, extra: 1 } },
    { "store.get": Object.defineProperty({ params: [], effects: [] }, "result", { get: () => "Int", enumerable: true }) },
    { "store.get": { params: new Array(17).fill("Int"), result: "Int", effects: [] } },
    { "store.get": { params: [], result: "Int", effects: { length: 0 } } },
  ];
  for (const value of bad) {
    const error = assertThrows(() => snapshotInterfaces(value), {
      type: CompileDiagnostic,
      code: "INTERFACES",
      message: "Interfaces require bounded ordinary data and dense lists without accessors (line 1, column 1)",
      offset: 0,
      line: 1,
      column: 1,
    });
    assert(!("sourcePath" in error));
  }
});

test("location counts only line feeds and gives 1-based columns in code units", () => {
  const cases = [
    ["", 0, 1, 1],
    ["abcdef", 5, 1, 6],
    ["a\r\nb", 3, 2, 1],
    ["a\rb", 2, 1, 3],
    ["a\n\nb", 3, 3, 1],
    ["a\n\nb", 1, 1, 2],
    ["a\nb\n", 4, 3, 1],
    ["\u{1F600}x", 2, 1, 3],
  ];
  for (const [source, offset, line, column] of cases) {
    const expected = { path: "f.quelt", offset, line, column };
    assertDeepEqual(location("f.quelt", source, offset), expected, JSON.stringify(source));
    assertDeepEqual(locationWith(lineFeeds(source), "f.quelt", offset), expected, `table ${JSON.stringify(source)}`);
  }
});

test("originalDiagnostic places errors in a file; the innermost location wins", () => {
  const compileError = new CompileDiagnostic("x\ny", 2, "SYNTAX", "Broken here");
  const moved = originalDiagnostic(compileError, "lib/a.quelt", "ab\ncd", 4);
  assert(moved instanceof CompileDiagnostic && moved !== compileError);
  assertEqual(moved.message, "Broken here (line 2, column 2)");
  assertEqual(moved.code, "SYNTAX");
  assertDeepEqual([moved.sourcePath, moved.offset, moved.line, moved.column], ["lib/a.quelt", 4, 2, 2]);
  assertEqual(originalDiagnostic(moved, "other.quelt", "", 0), moved);

  // without an explicit offset, the error's own offset is used
  const defaulted = originalDiagnostic(new CompileDiagnostic("abc", 1, "TEXT", "T"), "f.quelt", "\nbc");
  assertDeepEqual([defaulted.offset, defaulted.line, defaulted.column], [1, 2, 1]);

  const projectError = new ProjectDiagnostic("PROJECT_CYCLE", "Cycle");
  const located = originalDiagnostic(projectError, "b.quelt", "x\nyz", 3);
  assertEqual(located, projectError);
  assertDeepEqual([located.sourcePath, located.offset, located.line, located.column], ["b.quelt", 3, 2, 2]);
  assertEqual(located.message, "Cycle");

  const other = new TypeError("boom");
  assertEqual(originalDiagnostic(other, "b.quelt", "x", 0), other);
  assert(!("sourcePath" in other));
});

test("sha gives lowercase hexadecimal SHA-256 of the UTF-8 bytes", async () => {
  assertEqual(await sha(""), EMPTY_SHA256);
  assertEqual(await sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  assertEqual(await sha("\u00e9\u{1F600}"), await sha256Hex("\u00e9\u{1F600}"));
});

test("sha without web crypto fails with PROJECT_CRYPTO", async () => {
  for (const platform of [{}, { crypto: null }, { crypto: {} }, { crypto: { subtle: undefined } }]) {
    await assertRejects(() => sha("x", platform), { type: ProjectDiagnostic, code: "PROJECT_CRYPTO", message: "WebCrypto SHA-256 is required" });
  }
});

test("canonical sorts object keys by code unit and writes no whitespace", () => {
  assertEqual(canonical({ b: [1, "x", null], a: { d: true, c: "\u00e9" }, B: 0 }), '{"B":0,"a":{"c":"\u00e9","d":true},"b":[1,"x",null]}');
  assertEqual(canonical("a\"b"), '"a\\"b"');
  assertEqual(canonical([]), "[]");
});

// --- the validation stage of compileProject ---

async function validProject() {
  return { sources: await sourcesOf({ "main.quelt": MINIMAL_ENTRY }) };
}

function rejectsWith(entry, options, code, message, label = message) {
  return assertRejects(() => compileProject(entry, options), { type: ProjectDiagnostic, code, message }, label);
}

test("compileProject validates entry and options before anything else", async () => {
  const good = await validProject();
  const record = good.sources["main.quelt"];
  const cases = [
    ["main", { nonsense: true }, "PROJECT_PATH", "Use a canonical relative ASCII .quelt virtual path"],
    [42, good, "PROJECT_PATH", "Use a canonical relative ASCII .quelt virtual path"],
    ["main.quelt", null, "PROJECT_SCHEMA", PLAIN],
    ["main.quelt", [good.sources], "PROJECT_SCHEMA", PLAIN],
    ["main.quelt", { sources: good.sources, interfaces: {}, extra: 1 }, "PROJECT_SCHEMA", COUNT],
    ["main.quelt", { interfaces: {} }, "PROJECT_SCHEMA", "Expected sources and optional interfaces"],
    ["main.quelt", { sources: good.sources, extra: 1 }, "PROJECT_SCHEMA", "Expected sources and optional interfaces"],
    ["main.quelt", { sources: {} }, "PROJECT_LIMIT", "Project source file count exceeds its bound"],
    ["main.quelt", { sources: Object.fromEntries(Array.from({ length: 17 }, (_, i) => [`f${i}.quelt`, record])) }, "PROJECT_LIMIT", COUNT],
    ["main.quelt", { sources: { "main.txt": record } }, "PROJECT_PATH", "Use a canonical relative ASCII .quelt virtual path"],
    ["main.quelt", { sources: { "main.quelt": { ...record, extra: 1 } } }, "PROJECT_SCHEMA", FIELDS],
    ["main.quelt", { sources: { "main.quelt": withGetter("source") } }, "PROJECT_SCHEMA", FIELDS],
    ["main.quelt", { sources: withGetter("main.quelt") }, "PROJECT_SCHEMA", HIDDEN],
    ["other.quelt", good, "PROJECT_IMPORT", "Entry source is missing"],
  ];
  for (const [entry, options, code, message] of cases) await rejectsWith(entry, options, code, message, `${entry}: ${message}`);
});

test("each source record needs Text within its bounds and a lowercase digest", async () => {
  const digest = ZERO_DIGEST;
  const SHAPE = "Each source requires well-formed Text and a lowercase SHA-256 digest";
  const cases = [
    [{ source: 1, sha256: digest }, "PROJECT_SCHEMA", SHAPE],
    [{ source: "x", sha256: digest.toUpperCase().replace(/0/g, "A") }, "PROJECT_SCHEMA", SHAPE],
    [{ source: "x", sha256: "0".repeat(63) }, "PROJECT_SCHEMA", SHAPE],
    [{ source: "x", sha256: 0 }, "PROJECT_SCHEMA", SHAPE],
    [{ source: "x".repeat(65537), sha256: digest }, "PROJECT_LIMIT", "Source code units exceed 65536"],
    [{ source: "a\ud800b", sha256: digest }, "PROJECT_SCHEMA", "Source Text must be well-formed Unicode"],
    // 32,769 two-byte characters: few code units, but 65,538 bytes
    [{ source: "\u00e9".repeat(32769), sha256: digest }, "PROJECT_LIMIT", "Total supplied source UTF-8 bytes exceed 65536"],
  ];
  for (const [record, code, message] of cases) {
    await rejectsWith("main.quelt", { sources: { "main.quelt": record } }, code, message);
  }
});

test("sources are checked in ascending path order with a running byte total", async () => {
  const big = (length) => ({ source: "x".repeat(length), sha256: ZERO_DIGEST });
  const badShape = { source: "x", sha256: "nope" };
  // inserted in reverse order: b.quelt's total crosses the bound before c.quelt is read
  await rejectsWith(
    "a.quelt",
    { sources: { "c.quelt": badShape, "b.quelt": big(30000), "a.quelt": big(40000) } },
    "PROJECT_LIMIT",
    "Total supplied source UTF-8 bytes exceed 65536",
  );
  await rejectsWith("a.quelt", { sources: { "a.quelt": big(32768), "b.quelt": big(32768) } }, "PROJECT_HASH", "Source SHA-256 does not match the supplied Text");
  // two bad records: the one whose path sorts first is reported
  await rejectsWith(
    "main.quelt",
    { sources: { "b.quelt": badShape, "a.quelt": { source: "x", sha256: ZERO_DIGEST, extra: 1 } } },
    "PROJECT_SCHEMA",
    FIELDS,
  );
  await rejectsWith("main.quelt", { sources: { "b.quelt": badShape, "B.quelt": big(65537) } }, "PROJECT_LIMIT", "Source code units exceed 65536");
});

test("faults in the shape of project data that are not diagnostics become PROJECT_SCHEMA", async () => {
  const hostile = new Proxy({}, {
    ownKeys() {
      throw new Error("trap");
    },
  });
  await rejectsWith("main.quelt", { sources: hostile }, "PROJECT_SCHEMA", "Project inputs must be bounded ordinary data");
  const revoked = Proxy.revocable({}, {});
  revoked.revoke();
  await rejectsWith("main.quelt", revoked.proxy, "PROJECT_SCHEMA", "Project inputs must be bounded ordinary data");
});

test("interfaces are snapshotted and checked by the compiler before any digest", async () => {
  const { sources } = await validProject();
  const wrongDigest = { ...sources, "lib.quelt": { source: "", sha256: ZERO_DIGEST } };
  await assertRejects(() => compileProject("main.quelt", { sources: wrongDigest, interfaces: withGetter("store.get") }), {
    type: CompileDiagnostic,
    code: "INTERFACES",
    message: "Interfaces require bounded ordinary data and dense lists without accessors (line 1, column 1)",
  });
  const error = await assertRejects(
    () => compileProject("main.quelt", { sources: wrongDigest, interfaces: { store: { params: [], result: "Int", effects: [] } } }),
    { type: CompileDiagnostic, code: "INTERFACES", offset: 0, line: 1, column: 1 },
  );
  assert(!("sourcePath" in error));
  await rejectsWith("main.quelt", { sources: wrongDigest, interfaces: {} }, "PROJECT_HASH", "Source SHA-256 does not match the supplied Text");
});

test("every supplied source is digest-checked, also one that nothing imports", async () => {
  const sources = await sourcesOf({ "main.quelt": MINIMAL_ENTRY, "unused.quelt": "fn f() -> Int { return 1 }" });
  sources["unused.quelt"] = { ...sources["unused.quelt"], sha256: await sha256Hex("something else") };
  await rejectsWith("main.quelt", { sources }, "PROJECT_HASH", "Source SHA-256 does not match the supplied Text");
  // an upper-case copy of a true digest is a shape fault, not a hash fault
  const upper = await sourcesOf({ "main.quelt": MINIMAL_ENTRY });
  upper["main.quelt"].sha256 = upper["main.quelt"].sha256.toUpperCase();
  await rejectsWith("main.quelt", { sources: upper }, "PROJECT_SCHEMA", "Each source requires well-formed Text and a lowercase SHA-256 digest");
});
