// Bounds and check order of the project data, at their exact edges.
import { test, assert, assertEqual, assertRejects } from "../harness.mjs";
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic, compileProject } from "quelt/project.mjs";
import { utf8Length } from "../../../quelt/project/text.mjs";
import { MINIMAL_ENTRY, ZERO_DIGEST, sourcesOf } from "./fixtures.mjs";

const HASH = "Source SHA-256 does not match the supplied Text";
const TOTAL = "Total supplied source UTF-8 bytes exceed 65536";

// A record whose digest is wrong on purpose: reaching the digest check
// proves that every earlier check accepted it.
const unchecked = (source) => ({ source, sha256: ZERO_DIGEST });

test("source sizes: 65,536 code units and 65,536 UTF-8 bytes in total are allowed, one more is not", async () => {
  const cases = [
    ["65,536 ASCII code units", "x".repeat(65536), "PROJECT_HASH", HASH],
    ["65,536 bytes of three-byte characters and ASCII", "\u20ac".repeat(21845) + "x", "PROJECT_HASH", HASH],
    ["65,538 bytes in 21,846 code units", "\u20ac".repeat(21846), "PROJECT_LIMIT", TOTAL],
    ["65,536 bytes of four-byte characters", "\u{1F600}".repeat(16384), "PROJECT_HASH", HASH],
    ["one byte more", "\u{1F600}".repeat(16384) + "x", "PROJECT_LIMIT", TOTAL],
  ];
  for (const [label, source, code, message] of cases) {
    await assertRejects(() => compileProject("main.quelt", { sources: { "main.quelt": unchecked(source) } }), { type: ProjectDiagnostic, code, message }, label);
  }
  // the total runs over all files: 32,768 + 32,768 bytes pass, one more byte in the later path fails
  const split = { "a.quelt": unchecked("x".repeat(32768)), "main.quelt": unchecked("x".repeat(32768)) };
  await assertRejects(() => compileProject("main.quelt", { sources: split }), { code: "PROJECT_HASH" });
  split["b.quelt"] = unchecked("x");
  await assertRejects(() => compileProject("main.quelt", { sources: split }), { code: "PROJECT_LIMIT", message: TOTAL });
});

test("the checks of one record run in their order", async () => {
  const SHAPE = "Each source requires well-formed Text and a lowercase SHA-256 digest";
  const cases = [
    // digest shape before size, size before well-formedness, well-formedness before the total
    ["bad digest and too long", { source: "\ud800".repeat(70000), sha256: "A".repeat(64) }, "PROJECT_SCHEMA", SHAPE],
    ["too long and lone surrogate", unchecked("\ud800".repeat(65537)), "PROJECT_LIMIT", "Source code units exceed 65536"],
    ["lone surrogate and over the total", unchecked("\ud800" + "\u20ac".repeat(30000)), "PROJECT_SCHEMA", "Source Text must be well-formed Unicode"],
  ];
  for (const [label, record, code, message] of cases) {
    await assertRejects(() => compileProject("main.quelt", { sources: { "main.quelt": record } }), { type: ProjectDiagnostic, code, message }, label);
  }
});

test("the stages of validation run in their order", async () => {
  const { "main.quelt": entry } = await sourcesOf({ "main.quelt": MINIMAL_ENTRY });
  const getter = Object.defineProperty({}, "store.get", { enumerable: true, get: () => ({ params: [], result: "Int", effects: [] }) });
  const hidden = Object.defineProperty({ sources: { "main.quelt": entry } }, "interfaces", { value: {}, enumerable: false });
  const cases = [
    ["entry missing before interfaces", "other.quelt", { sources: { "main.quelt": entry }, interfaces: getter },
      ProjectDiagnostic, "PROJECT_IMPORT", "Entry source is missing"],
    ["interfaces before digests", "main.quelt", { sources: { "main.quelt": unchecked(MINIMAL_ENTRY) }, interfaces: getter },
      CompileDiagnostic, "INTERFACES", "Interfaces require bounded ordinary data and dense lists without accessors (line 1, column 1)"],
    ["an interfaces key holding undefined is not an absent one", "main.quelt", { sources: { "main.quelt": entry }, interfaces: undefined },
      CompileDiagnostic, "INTERFACES", "Interfaces require bounded ordinary data and dense lists without accessors (line 1, column 1)"],
    ["a hidden interfaces key is a fault of the options, not of the interfaces", "main.quelt", hidden,
      ProjectDiagnostic, "PROJECT_SCHEMA", "Project data cannot contain accessors or hidden fields"],
    ["digests before parsing", "main.quelt", { sources: { "main.quelt": unchecked("fn ( brindlet") } },
      ProjectDiagnostic, "PROJECT_HASH", HASH],
  ];
  for (const [label, path, options, type, code, message] of cases) {
    const error = await assertRejects(() => compileProject(path, options), { type, code, message }, label);
    assert(!Object.hasOwn(error, "sourcePath"), `${label}: no file`);
  }
});

test("prototype-free project data is plain data", async () => {
  const { "main.quelt": entry } = await sourcesOf({ "main.quelt": MINIMAL_ENTRY });
  const bare = (fields) => Object.assign(Object.create(null), fields);
  const options = bare({ sources: bare({ "main.quelt": bare({ ...entry }) }), interfaces: bare({}) });
  const program = await compileProject("main.quelt", options);
  assert(program.kind === "quelt-program" && program.name === "m");
});

test("UTF-8 sizes count 1 to 4 bytes per character and 3 per lone surrogate, short or long", () => {
  const cases = [
    ["", 0],
    ["a\u00e9\u20ac\u{1F600}", 10],
    ["\ud800", 3],
    ["\udc00\ud800", 6], // a low surrogate before a high one is no pair
    ["a\ud800b".repeat(100), 500],
    ["\u{1F600}\u00e9\u20ac".repeat(100), 900],
    ["\udfff".repeat(300), 900],
  ];
  for (const [text, bytes] of cases) assertEqual(utf8Length(text), bytes, `${text.length} code units`);
});
