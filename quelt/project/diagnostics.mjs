// The project unit's error class, and how an error gets a place in a file.
import { CompileDiagnostic } from "quelt/compiler.mjs";

export class ProjectDiagnostic extends Error {
  constructor(code, message) {
    super(message);
    this.name = "ProjectDiagnostic";
    this.code = code;
  }
}

export function fail(code, message) {
  throw new ProjectDiagnostic(code, message);
}

// 1-based line and column of `offset` in `source`; only a line feed ends a line.
export function location(path, source, offset) {
  let line = 1;
  let lastFeed = -1;
  for (let index = source.indexOf("\n"); index !== -1 && index < offset; index = source.indexOf("\n", index + 1)) {
    line += 1;
    lastFeed = index;
  }
  return { path, offset, line, column: offset - lastFeed };
}

// Offsets of the line feeds of `source`, for repeated lookups in one file.
export function lineFeeds(source) {
  const feeds = [];
  for (let index = source.indexOf("\n"); index !== -1; index = source.indexOf("\n", index + 1)) feeds.push(index);
  return feeds;
}

// `location` through a precomputed line-feed list.
export function locationWith(feeds, path, offset) {
  let low = 0;
  let high = feeds.length;
  while (low < high) {
    const middle = (low + high) >>> 1;
    if (feeds[middle] < offset) low = middle + 1;
    else high = middle;
  }
  return { path, offset, line: low + 1, column: offset - (low > 0 ? feeds[low - 1] : -1) };
}

const POSITION_SUFFIX = / \(line \d+, column \d+\)$/;

// A compiler message without its " (line N, column M)" ending.
export function bareMessage(message) {
  return message.replace(POSITION_SUFFIX, "");
}

function hasSourcePath(error) {
  return error !== null && typeof error === "object" && Object.hasOwn(error, "sourcePath");
}

// Places `error` at `offset` of the file `path`. An error that already names
// a file keeps it: the innermost location wins.
export function originalDiagnostic(error, path, source, offset) {
  if (hasSourcePath(error)) return error;
  if (offset === undefined) {
    offset = error !== null && typeof error === "object" && Number.isSafeInteger(error.offset) ? error.offset : 0;
  }
  if (error instanceof CompileDiagnostic) {
    const located = new CompileDiagnostic(source, offset, error.code, bareMessage(error.message));
    located.sourcePath = path;
    return located;
  }
  if (error instanceof ProjectDiagnostic) {
    const place = location(path, source, offset);
    error.sourcePath = path;
    error.offset = place.offset;
    error.line = place.line;
    error.column = place.column;
  }
  return error;
}
