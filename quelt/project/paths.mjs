// Virtual paths of project files and the resolution of relative imports.
import { fail } from "./diagnostics.mjs";
import { MODULE_LIMITS } from "./limits.mjs";

const SEGMENT = /^[A-Za-z0-9_][A-Za-z0-9_.-]{0,63}$/;
const VIRTUAL_PATH = /^[A-Za-z0-9_][A-Za-z0-9_.-]{0,63}(?:\/[A-Za-z0-9_][A-Za-z0-9_.-]{0,63})*$/;
const SPECIFIER_FORBIDDEN = /[%\\:?#]|\/\//;

export function isPathSegment(segment) {
  return SEGMENT.test(segment);
}

// Returns `path` when it is a canonical virtual path, else fails.
export function pathCheck(path) {
  if (
    typeof path !== "string" ||
    path.length > MODULE_LIMITS.path ||
    !path.endsWith(".quelt") ||
    !VIRTUAL_PATH.test(path)
  ) {
    fail("PROJECT_PATH", "Use a canonical relative ASCII .quelt virtual path");
  }
  return path;
}

// The virtual path that `specifier` names when written in the file `from`.
export function resolve(from, specifier) {
  if (
    typeof specifier !== "string" ||
    specifier.length > MODULE_LIMITS.path ||
    !(specifier.startsWith("./") || specifier.startsWith("../")) ||
    SPECIFIER_FORBIDDEN.test(specifier)
  ) {
    fail("PROJECT_PATH", "Imports require a relative dot path within the virtual root");
  }
  const segments = from.split("/");
  segments.pop();
  for (const segment of specifier.split("/")) {
    if (segment === ".") continue;
    if (segment === "..") {
      if (segments.length === 0) fail("PROJECT_PATH", "Import escapes the virtual root");
      segments.pop();
      continue;
    }
    if (!SEGMENT.test(segment)) fail("PROJECT_PATH", "Invalid virtual path segment");
    segments.push(segment);
  }
  return pathCheck(segments.join("/"));
}
