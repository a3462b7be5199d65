import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import {
  ProjectDiagnostic,
  compileProject,
  getProjectEditTargets,
  getProjectInfo,
  getProjectManifest,
  getProjectSourceMap,
  mapProjectLocation,
} from "quelt/project.mjs";
import { MINIMAL_ENTRY, sourcesOf } from "./fixtures.mjs";

const NOT_ISSUED = "Project metadata requires a compiler-issued Program";
const NOT_PROJECT = "Use a project-compiler-issued Program";

function isDeepFrozen(value) {
  if (value === null || typeof value !== "object") return true;
  return Object.isFrozen(value) && Object.values(value).every(isDeepFrozen);
}

const FILES = {
  "lib/shapes.quelt": "schema Box { w: Int }\nfn area(b: Box) -> Int { return b |> field(\"w\") }\nfn make(r: Record) -> Box { return r |> asSchema(Box) }",
  "main.quelt": [
    'import { area, make, Box } from "./lib/shapes.quelt";',
    "effect fn fetch(x: Int) -> Int { return store.get(x) }",
    "brindlet m {",
    "  use store",
    "  input r: Record",
    "  derive b: Box = make(r)",
    "  derive n: Int = area(b) + fetch(1)",
    "  output n",
    "}",
  ].join("\n"),
  "spare.quelt": "fn spare() -> Int { return 0 }",
};
const INTERFACES = { "store.get": { params: ["Int"], result: "Int", effects: ["read"] } };

async function project() {
  const sources = await sourcesOf(FILES);
  return { sources, program: await compileProject("main.quelt", { sources, interfaces: INTERFACES }) };
}

test("metadata readers refuse values that are not (project) Programs", async () => {
  const direct = compileModule(MINIMAL_ENTRY);
  assertEqual(getProjectInfo(direct), null);
  const { program } = await project();
  const lookalike = JSON.parse(JSON.stringify(program));
  for (const value of [null, undefined, 1, "program", {}, lookalike, { ...program }]) {
    assertThrows(() => getProjectInfo(value), { type: ProjectDiagnostic, code: "PROJECT_PROGRAM", message: NOT_ISSUED });
  }
  const readers = [getProjectManifest, getProjectEditTargets, getProjectSourceMap, (value) => mapProjectLocation(value, 0)];
  for (const value of [direct, lookalike, null, 7]) {
    for (const reader of readers) {
      assertThrows(() => reader(value), { type: ProjectDiagnostic, code: "PROJECT_PROGRAM", message: NOT_PROJECT });
    }
  }
});

test("the manifest lists every supplied file; the info lists the parsed ones", async () => {
  const { sources, program } = await project();
  const manifest = getProjectManifest(program);
  assertDeepEqual(Object.keys(manifest), ["schema", "entry", "sources"]);
  assertEqual(manifest.schema, "quelt-project-manifest-v1");
  assertEqual(manifest.entry, "main.quelt");
  assertDeepEqual(Object.keys(manifest.sources), ["lib/shapes.quelt", "main.quelt", "spare.quelt"]);
  for (const path of Object.keys(FILES)) assertDeepEqual(manifest.sources[path], sources[path]);
  const info = getProjectInfo(program);
  assertDeepEqual(Object.keys(info), ["schema", "entry", "files", "bundleSha256", "sourceSha256"]);
  assertDeepEqual(info.files, [
    { path: "lib/shapes.quelt", sha256: sources["lib/shapes.quelt"].sha256, imports: [] },
    { path: "main.quelt", sha256: sources["main.quelt"].sha256, imports: [{ path: "lib/shapes.quelt", names: ["area", "make", "Box"] }] },
  ]);
  assert(/^[0-9a-f]{64}$/.test(info.bundleSha256) && /^[0-9a-f]{64}$/.test(info.sourceSha256));
});

test("edit targets: pure functions by file, then derives; schema types by their linked names", async () => {
  const { program } = await project();
  const lib = FILES["lib/shapes.quelt"];
  const main = FILES["main.quelt"];
  assertDeepEqual(getProjectEditTargets(program), [
    { path: "lib/shapes.quelt", kind: "function", target: "area", type: "Int",
      range: { start: lib.indexOf("b |>"), end: lib.indexOf(" }\nfn make") }, linkedName: "__quelt_module_0_f0" },
    { path: "lib/shapes.quelt", kind: "function", target: "make", type: "__quelt_module_0_s0",
      range: { start: lib.indexOf("r |>"), end: lib.length - 2 }, linkedName: "__quelt_module_0_f1" },
    { path: "main.quelt", kind: "derive", target: "b", type: "__quelt_module_0_s0",
      range: { start: main.indexOf("make(r)"), end: main.indexOf("make(r)") + 7 }, linkedName: "b" },
    { path: "main.quelt", kind: "derive", target: "n", type: "Int",
      range: { start: main.indexOf("area(b)"), end: main.indexOf("fetch(1)") + 8 }, linkedName: "n" },
  ]);
});

test("every result is deep-frozen; the source map is a new wrapper around the same segments", async () => {
  const { program } = await project();
  const first = getProjectSourceMap(program);
  const second = getProjectSourceMap(program);
  assert(first !== second && first.segments === second.segments);
  assertDeepEqual(Object.keys(first), ["schema", "offsetUnit", "segments"]);
  assertEqual(first.schema, "quelt-project-source-map-v1");
  assertEqual(first.offsetUnit, "UTF-16");
  for (const value of [getProjectInfo(program), getProjectManifest(program), getProjectEditTargets(program), first, mapProjectLocation(program, first.segments[0].start)]) {
    assert(isDeepFrozen(value));
  }
  // segments ascend without overlap and each maps a range of equal length unless it is a replaced name
  let previousEnd = 0;
  for (const segment of first.segments) {
    assertDeepEqual(Object.keys(segment), ["start", "end", "path", "sourceStart", "sourceEnd", "kind"]);
    assert(segment.start >= previousEnd && segment.end > segment.start);
    if (segment.kind === "copy") assertEqual(segment.end - segment.start, segment.sourceEnd - segment.sourceStart);
    else assertEqual(program.source.slice(segment.start, segment.end).startsWith("__quelt_module_"), true);
    previousEnd = segment.end;
  }
});
