import { test, assertEqual, assertThrows } from "../harness.mjs";
import { ProjectDiagnostic } from "quelt/project.mjs";
import { pathCheck, resolve } from "../../../quelt/project/paths.mjs";

const CANONICAL = "Use a canonical relative ASCII .quelt virtual path";
const DOT_PATH = "Imports require a relative dot path within the virtual root";
const ESCAPES = "Import escapes the virtual root";
const SEGMENT = "Invalid virtual path segment";

test("pathCheck accepts canonical virtual paths", () => {
  const longest = "a/".repeat(124) + "bc.quelt"; // 256 code units
  for (const path of ["a.quelt", "lib/a.quelt", "_x/9-y.z.quelt", "A/B_/c..quelt", `${"s".repeat(64)}/a.quelt`, `${"a".repeat(58)}.quelt`, longest]) {
    assertEqual(pathCheck(path), path);
  }
});

test("pathCheck refuses everything else", () => {
  const cases = [
    "", "a", "a.txt", "a.Quelt", ".quelt", "/a.quelt", "a.quelt/", "a//b.quelt", "./a.quelt", "../a.quelt",
    "a/./b.quelt", "a/../b.quelt", "-a.quelt", "a b.quelt", "\u00e9.quelt", "a\\b.quelt", "a/.b.quelt",
    `${"s".repeat(65)}/a.quelt`, `${"a".repeat(59)}.quelt`, "a/".repeat(124) + "bcd.quelt",
    null, undefined, 7, ["a.quelt"],
  ];
  for (const path of cases) {
    assertThrows(() => pathCheck(path), { type: ProjectDiagnostic, code: "PROJECT_PATH", message: CANONICAL }, String(path));
  }
});

test("resolve follows the importing file's directory", () => {
  const cases = [
    ["lib/a.quelt", "../b.quelt", "b.quelt"],
    ["lib/a.quelt", "./b.quelt", "lib/b.quelt"],
    ["lib/a.quelt", "./x/../b.quelt", "lib/b.quelt"],
    ["lib/a.quelt", "./././c/d.quelt", "lib/c/d.quelt"],
    ["main.quelt", "./lib/deep/x.quelt", "lib/deep/x.quelt"],
    ["a/b/c.quelt", "../../d.quelt", "d.quelt"],
  ];
  for (const [from, specifier, expected] of cases) assertEqual(resolve(from, specifier), expected, `${from} ${specifier}`);
});

test("resolve refuses specifiers outside the rules, each with its own message", () => {
  const cases = [
    ["lib/a.quelt", "../../b.quelt", ESCAPES],
    ["main.quelt", "./../b.quelt", ESCAPES],
    ["lib/a.quelt", "b.quelt", DOT_PATH],
    ["lib/a.quelt", "/b.quelt", DOT_PATH],
    ["lib/a.quelt", ".\\b.quelt", DOT_PATH],
    ["lib/a.quelt", ".//b.quelt", DOT_PATH],
    ["lib/a.quelt", "./b%2e.quelt", DOT_PATH],
    ["lib/a.quelt", "./c:/b.quelt", DOT_PATH],
    ["lib/a.quelt", "./b.quelt?x", DOT_PATH],
    ["lib/a.quelt", "./b.quelt#x", DOT_PATH],
    ["lib/a.quelt", "./x\\b.quelt", DOT_PATH],
    ["lib/a.quelt", `./${"a".repeat(249)}.quelt`, DOT_PATH],
    ["lib/a.quelt", 3, DOT_PATH],
    ["lib/a.quelt", "./b", CANONICAL],
    ["lib/a.quelt", "./b.quelt/", SEGMENT],
    ["lib/a.quelt", "./-b.quelt", SEGMENT],
    ["lib/a.quelt", "./.../b.quelt", SEGMENT],
    ["lib/a.quelt", "./\u00e9.quelt", SEGMENT],
  ];
  for (const [from, specifier, message] of cases) {
    assertThrows(() => resolve(from, specifier), { type: ProjectDiagnostic, code: "PROJECT_PATH", message }, String(specifier));
  }
});
