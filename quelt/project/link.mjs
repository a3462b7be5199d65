// compileProject: validates a virtual project, links its reachable files
// into one module text, compiles it once and registers the project state.
import { compileModule, getDeriveSourceRange } from "quelt/compiler.mjs";
import { fail } from "./diagnostics.mjs";
import { canonical, domainSha, sha } from "./digest.mjs";
import { deepFreeze } from "./freeze.mjs";
import { loadModules } from "./graph.mjs";
import { BUNDLE_DOMAIN, INFO_SCHEMA, MANIFEST_SCHEMA } from "./limits.mjs";
import { registerProject } from "./metadata.mjs";
import { exportTables, rewrite } from "./rewrite.mjs";
import { mapCompileError, mappedPoint } from "./source-map.mjs";
import { validateProject } from "./validate.mjs";

function projectManifest(entry, sources) {
  const listed = {};
  for (const [path, { source, sha256 }] of sources) listed[path] = { source, sha256 };
  return deepFreeze({ schema: MANIFEST_SCHEMA, entry, sources: listed });
}

function fileRecords(ordered, modules, sources) {
  return ordered.map((path) => ({
    path,
    sha256: sources.get(path).sha256,
    imports: modules.get(path).imports.map((statement) => ({ path: statement.path, names: statement.names.slice() })),
  }));
}

// The linked module text and its segments: a header line, then each module
// under its own "virtual module" line, the entry last.
export function linkSources(entry, ordered, modules, tables, bundleSha256) {
  const { exports, schemaExports, resultExports } = tables;
  const parts = [`// quelt-project-v1 ${bundleSha256}\n`];
  let length = parts[0].length;
  const segments = [];
  const ordinals = new Map(ordered.map((path, ordinal) => [path, ordinal]));
  const sequence = ordered.filter((path) => path !== entry);
  sequence.push(entry);
  sequence.forEach((path, position) => {
    const header = `${position > 0 ? "\n" : ""}// virtual module ${path}\n`;
    parts.push(header);
    length += header.length;
    const rewritten = rewrite(modules.get(path), exports, ordinals.get(path), schemaExports, resultExports);
    for (const segment of rewritten.segments) {
      segment.start += length;
      segment.end += length;
      segments.push(segment);
    }
    parts.push(rewritten.source, "\n");
    length += rewritten.source.length + 1;
  });
  return { source: parts.join(""), segments };
}

function declaredNameTable(ordered, modules, tables) {
  const names = new Map();
  for (const path of ordered) {
    const module = modules.get(path);
    for (const [table, declarations] of [
      [tables.exports, module.functions],
      [tables.schemaExports, module.schemas],
      [tables.resultExports, module.results],
    ]) {
      const mangled = table.get(path);
      for (const { name } of declarations) names.set(mangled.get(name), name);
    }
  }
  return names;
}

function editTargets(program, state, ordered, modules, exports) {
  const targets = [];
  const linkedFunctions = new Map(program.functions.map((item) => [item.name, item]));
  for (const path of ordered) {
    for (const declared of modules.get(path).functions) {
      const linkedName = exports.get(path).get(declared.name);
      const linked = linkedFunctions.get(linkedName);
      if (linked === undefined || Object.hasOwn(linked, "effect")) continue;
      const { start, end } = declared.expressionRange;
      targets.push({ path, kind: "function", target: declared.name, type: linked.returnType, range: { start, end }, linkedName });
    }
  }
  const entry = state.manifest.entry;
  const feedCache = new Map();
  for (const derive of program.derives) {
    const range = getDeriveSourceRange(program, derive.name);
    const start = mappedPoint(state, range.start, false, feedCache);
    const end = mappedPoint(state, range.end, true, feedCache);
    if (start.path !== entry || end.path !== entry) {
      fail("PROJECT_LOCATION", "Entry derive spans multiple source modules");
    }
    targets.push({
      path: entry,
      kind: "derive",
      target: derive.name,
      type: derive.type,
      range: { start: start.offset, end: end.offset },
      linkedName: derive.name,
    });
  }
  return targets;
}

export async function compileProject(entry, options) {
  const { sources, interfaces } = await validateProject(entry, options);
  const modules = loadModules(entry, sources);
  const ordered = [...modules.keys()].sort();
  const tables = exportTables(ordered, modules);
  const identity = { schema: INFO_SCHEMA, entry, files: fileRecords(ordered, modules, sources) };
  const bundleSha256 = await domainSha(BUNDLE_DOMAIN, canonical(identity));
  const manifest = projectManifest(entry, sources);
  const linked = linkSources(entry, ordered, modules, tables, bundleSha256);
  const state = { manifest, source: linked.source, segments: linked.segments };
  let program;
  try {
    program = compileModule(linked.source, { interfaces });
  } catch (error) {
    throw mapCompileError(error, state, modules, declaredNameTable(ordered, modules, tables));
  }
  const sourceSha256 = await sha(program.source);
  const targets = editTargets(program, state, ordered, modules, tables.exports);
  registerProject(
    program,
    deepFreeze({ ...state, targets, info: { ...identity, bundleSha256, sourceSha256 } }),
  );
  return program;
}
