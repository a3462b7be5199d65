// A fixed two-file project whose every published byte is known in advance:
// the digests below were computed with an independent SHA-256 tool over the
// exact texts of this file, and the offsets by hand from the linked layout.
import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import {
  ProjectDiagnostic,
  compileProject,
  getProjectEditTargets,
  getProjectInfo,
  getProjectManifest,
  getProjectSourceMap,
  mapProjectLocation,
} from "quelt/project.mjs";

const LIB = "fn inc(x: Int) -> Int { return x + 1 }\n";
const MAIN =
  'import { inc } from "./lib/math.quelt";\n' +
  "brindlet calc {\n" +
  "  input n: Int = 1\n" +
  "  derive m: Int = inc(n)\n" +
  "  output m\n" +
  "}\n";
const UNUSED = "fn z() -> Int { return 0 }\n";

const LIB_SHA = "7607b31df9eb3bd37a3ae87b7a5d6193fb2b3a6bd2026f698b007b300e73ba22";
const MAIN_SHA = "c4e0edb8ed0f1f228b66183704ab02a50a58efb5574da781b27d170fb6f52df5";
const UNUSED_SHA = "a23512176409a882f5b98811d03648f3b0d6ef9295b15c775e96c2844d9d3c0c";
// SHA-256 of "KORVANTIS/project-bundle/v1", NUL, and the canonical identity
// {"entry":"main.quelt","files":[{"imports":[],"path":"lib/math.quelt","sha256":LIB_SHA},
//  {"imports":[{"names":["inc"],"path":"lib/math.quelt"}],"path":"main.quelt","sha256":MAIN_SHA}],
//  "schema":"quelt-project-info-v1"}
const BUNDLE_SHA = "6903030417f563782cab8de22506a77ff46c9e60aff353bbaa441fce3e1a58d0";
// SHA-256 of LINKED below
const LINKED_SHA = "0b4eada24c684d21d0412cb9afac8e8a72f5e93a1b975f4915513990c2e04bbe";

const F0 = "__quelt_module_0_f0";
const LINKED =
  `// quelt-project-v1 ${BUNDLE_SHA}\n` + // 85 code units
  "// virtual module lib/math.quelt\n" + // 33: the library starts at 118
  `fn ${F0}(x: Int) -> Int { return x + 1 }\n` + // its text (own line feed included) ends at 173
  "\n" + // the line feed added after each module
  "\n" + // the separator line
  "// virtual module main.quelt\n" + // the entry starts at 204
  " ".repeat(39) + "\n" + // the blanked import statement
  "brindlet calc {\n" +
  "  input n: Int = 1\n" +
  `  derive m: Int = ${F0}(n)\n` +
  "  output m\n" +
  "}\n" +
  "\n";

const SOURCES = {
  "unused.quelt": { source: UNUSED, sha256: UNUSED_SHA },
  "main.quelt": { source: MAIN, sha256: MAIN_SHA },
  "lib/math.quelt": { source: LIB, sha256: LIB_SHA },
};

let compiled = null;
function program() {
  compiled ??= compileProject("main.quelt", { sources: SOURCES });
  return compiled;
}

test("the linked text, its digests and the project info match the documented layout byte for byte", async () => {
  const linked = await program();
  assertEqual(linked.source, LINKED);
  assertEqual(LINKED.length, 334);
  assertDeepEqual(getProjectInfo(linked), {
    schema: "quelt-project-info-v1",
    entry: "main.quelt",
    files: [
      { path: "lib/math.quelt", sha256: LIB_SHA, imports: [] },
      { path: "main.quelt", sha256: MAIN_SHA, imports: [{ path: "lib/math.quelt", names: ["inc"] }] },
    ],
    bundleSha256: BUNDLE_SHA,
    sourceSha256: LINKED_SHA,
  });
  assertDeepEqual(Object.keys(getProjectInfo(linked)), ["schema", "entry", "files", "bundleSha256", "sourceSha256"]);
  const manifest = getProjectManifest(linked);
  assertDeepEqual(Object.keys(manifest), ["schema", "entry", "sources"]);
  assertEqual(manifest.schema, "quelt-project-manifest-v1");
  assertDeepEqual(Object.keys(manifest.sources), ["lib/math.quelt", "main.quelt", "unused.quelt"]);
  assertDeepEqual(manifest.sources["unused.quelt"], { source: UNUSED, sha256: UNUSED_SHA });
});

test("the source map has one segment per copied piece and per replaced name", async () => {
  const map = getProjectSourceMap(await program());
  assertEqual(map.schema, "quelt-project-source-map-v1");
  assertEqual(map.offsetUnit, "UTF-16");
  const main = (start, end, sourceStart, sourceEnd, kind = "copy") => ({ start, end, path: "main.quelt", sourceStart, sourceEnd, kind });
  // the entry starts at 204; each token of the import statement and each gap between them is its own piece
  const importPieces = [[0, 6], [6, 7], [7, 8], [8, 9], [9, 12], [12, 13], [13, 14], [14, 15], [15, 19], [19, 20], [20, 38], [38, 39]];
  assertDeepEqual(map.segments, [
    { start: 118, end: 121, path: "lib/math.quelt", sourceStart: 0, sourceEnd: 3, kind: "copy" },
    { start: 121, end: 140, path: "lib/math.quelt", sourceStart: 3, sourceEnd: 6, kind: "identifier" },
    { start: 140, end: 173, path: "lib/math.quelt", sourceStart: 6, sourceEnd: 39, kind: "copy" },
    ...importPieces.map(([from, to]) => main(204 + from, 204 + to, from, to)),
    main(243, 297, 39, 93),
    main(297, 316, 93, 96, "identifier"),
    main(316, 333, 96, 113),
  ]);
  assertDeepEqual(Object.keys(map.segments[0]), ["start", "end", "path", "sourceStart", "sourceEnd", "kind"]);
});

test("edit targets give file ranges: the function's result expression and the derive's expression", async () => {
  assertDeepEqual(getProjectEditTargets(await program()), [
    { path: "lib/math.quelt", kind: "function", target: "inc", type: "Int", range: { start: 31, end: 36 }, linkedName: F0 },
    // the derive's linked range [297, 319) starts inside the replaced name and ends in the copy after it
    { path: "main.quelt", kind: "derive", target: "m", type: "Int", range: { start: 93, end: 99 }, linkedName: "m" },
  ]);
});

test("linked offsets map into the files, the blanked import included; generated text maps to nothing", async () => {
  const linked = await program();
  const points = [
    [118, "lib/math.quelt", 0, 1, 1],
    [172, "lib/math.quelt", 38, 1, 39], // the library's own final line feed
    [204, "main.quelt", 0, 1, 1], // the blanked `import`
    [224, "main.quelt", 20, 1, 21], // the blanked specifier
    [244, "main.quelt", 40, 2, 1],
    [310, "main.quelt", 93, 4, 19], // inside the replaced call name: its start
    [316, "main.quelt", 96, 4, 22],
    [334, "main.quelt", 113, 7, 1], // the linked length: the end of the entry
  ];
  for (const [offset, path, fileOffset, line, column] of points) {
    assertDeepEqual(mapProjectLocation(linked, offset), { path, offset: fileOffset, line, column }, String(offset));
  }
  // header, module lines, the line feed added after each module, the separator line
  for (const offset of [0, 84, 85, 117, 173, 174, 175, 203, 333]) {
    assertThrows(() => mapProjectLocation(linked, offset), {
      type: ProjectDiagnostic,
      code: "PROJECT_LOCATION",
      message: "Generated header/separator has no original source position",
    }, String(offset));
  }
  const error = assertThrows(() => mapProjectLocation(linked, 335), { type: ProjectDiagnostic, code: "PROJECT_LOCATION" });
  assert(!Object.hasOwn(error, "sourcePath") && !Object.hasOwn(error, "offset"));
});

test("the bundle digest ignores unreachable files and supplied key order", async () => {
  const reordered = {
    "lib/math.quelt": SOURCES["lib/math.quelt"],
    "main.quelt": SOURCES["main.quelt"],
  };
  const linked = await compileProject("main.quelt", { sources: reordered });
  assertEqual(getProjectInfo(linked).bundleSha256, BUNDLE_SHA);
  assertEqual(linked.source, LINKED);
  assertDeepEqual(Object.keys(getProjectManifest(linked).sources), ["lib/math.quelt", "main.quelt"]);
});
