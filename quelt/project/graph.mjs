// Depth-first traversal of the import graph from the entry, parsing each
// reachable file once and bounding the graph's height.
import { ProjectDiagnostic, fail, originalDiagnostic } from "./diagnostics.mjs";
import { MODULE_LIMITS } from "./limits.mjs";
import { parseFile } from "./parse-file.mjs";

// Module records of every file reachable from `entry`, by path, in parse order.
export function loadModules(entry, sources) {
  const modules = new Map();
  const active = new Set();
  const heights = new Map();

  const failAt = (origin, code, message) => {
    throw originalDiagnostic(new ProjectDiagnostic(code, message), origin.path, origin.source, origin.offset);
  };

  const visit = (path, origin) => {
    if (active.has(path)) failAt(origin, "PROJECT_CYCLE", "Source import graph contains a cycle");
    if (heights.has(path)) return heights.get(path);
    const supplied = sources.get(path);
    if (supplied === undefined) failAt(origin, "PROJECT_IMPORT", "Imported source is missing");
    const module = parseFile(path, supplied.source, path === entry);
    modules.set(path, module);
    active.add(path);
    let height = 1;
    for (const statement of module.imports) {
      const below = visit(statement.path, { path, source: module.source, offset: statement.offset });
      if (below + 1 > height) height = below + 1;
    }
    active.delete(path);
    if (height > MODULE_LIMITS.depth) fail("PROJECT_LIMIT", `Source import depth exceeds ${MODULE_LIMITS.depth}`);
    heights.set(path, height);
    return height;
  };

  visit(entry);
  return modules;
}
