// Mapping between the linked module text and the project files.
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { fail, lineFeeds, location, locationWith, originalDiagnostic } from "./diagnostics.mjs";

// Index of the segment holding `offset`: start <= offset < end for a start
// point, start < offset <= end for an end point; -1 when none does.
function segmentAt(segments, offset, end) {
  let low = 0;
  let high = segments.length - 1;
  let found = -1;
  while (low <= high) {
    const middle = (low + high) >>> 1;
    const start = segments[middle].start;
    if (end ? start < offset : start <= offset) {
      found = middle;
      low = middle + 1;
    } else high = middle - 1;
  }
  if (found === -1) return -1;
  const segment = segments[found];
  return (end ? offset <= segment.end : offset < segment.end) ? found : -1;
}

function place(path, source, offset, feedCache) {
  if (feedCache === undefined) return location(path, source, offset);
  let feeds = feedCache.get(path);
  if (feeds === undefined) {
    feeds = lineFeeds(source);
    feedCache.set(path, feeds);
  }
  return locationWith(feeds, path, offset);
}

// The file position {path, offset, line, column} of a linked offset. Callers
// that map many points pass a Map as `feedCache` to reuse line tables.
export function mappedPoint(state, offset, end = false, feedCache = undefined) {
  if (!Number.isSafeInteger(offset) || offset < 0 || offset > state.source.length) {
    fail("PROJECT_LOCATION", "Expected a linked UTF-16 source offset");
  }
  const sources = state.manifest.sources;
  const index = segmentAt(state.segments, offset, end);
  if (index === -1) {
    if (offset === state.source.length) {
      const entry = state.manifest.entry;
      const text = sources[entry].source;
      return place(entry, text, text.length, feedCache);
    }
    fail("PROJECT_LOCATION", "Generated header/separator has no original source position");
  }
  const segment = state.segments[index];
  let fileOffset;
  if (segment.kind === "copy") fileOffset = segment.sourceStart + (offset - segment.start);
  else fileOffset = end ? segment.sourceEnd : segment.sourceStart;
  return place(segment.path, sources[segment.path].source, fileOffset, feedCache);
}

const MANGLED = /__quelt_module_\d+_(?:[fsr]\d+|(?:schema_|result_|type_)?unresolved)/g;

// The token of `module` that starts at `offset`, if any.
function tokenStartingAt(module, offset) {
  const tokens = module.tokens;
  let low = 0;
  let high = tokens.length - 1;
  while (low <= high) {
    const middle = (low + high) >>> 1;
    const token = tokens[middle];
    if (token.offset === offset) return token;
    if (token.offset < offset) low = middle + 1;
    else high = middle - 1;
  }
  return undefined;
}

// The written name that the linker replaced by `placeholder` first at or
// after `offset` of the file `path`. A fault about an unresolved name may be
// anchored before it (at the `asSchema`, `ok`, `err` or `match` stage), so the
// token at the fault's own offset is not always the name.
function writtenPlaceholder(state, path, offset, placeholder) {
  const linked = state.source;
  const source = state.manifest.sources[path].source;
  for (const segment of state.segments) {
    if (segment.path !== path || segment.sourceStart < offset) continue;
    if (segment.end - segment.start !== placeholder.length || !linked.startsWith(placeholder, segment.start)) continue;
    // the file never spells the prefix in an identifier, so an equal text was copied, not replaced
    if (source.startsWith(placeholder, segment.sourceStart)) continue;
    return source.slice(segment.sourceStart, segment.sourceEnd);
  }
  return undefined;
}

// A compile fault in the linked text, moved to the file it came from, with
// the declared names restored in its message.
export function mapCompileError(error, state, modules, declaredNames) {
  if (!(error instanceof CompileDiagnostic)) return error;
  let point;
  try {
    point = mappedPoint(state, error.offset);
  } catch {
    return error;
  }
  const module = modules.get(point.path);
  const located = originalDiagnostic(error, point.path, module.source, point.offset);
  located.message = located.message.replace(MANGLED, (mangled) => {
    const declared = declaredNames.get(mangled);
    if (declared !== undefined) return declared;
    const written = writtenPlaceholder(state, point.path, point.offset, mangled);
    if (written !== undefined) return written;
    const token = tokenStartingAt(module, point.offset);
    return token === undefined || token.end === undefined ? mangled : module.source.slice(token.offset, token.end);
  });
  located.linkedLocation = Object.freeze({ offset: error.offset, line: error.line, column: error.column });
  return located;
}
