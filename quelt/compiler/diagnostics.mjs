// The compiler's one error type for faults in a source, and the line/column
// rule shared by everything that reports a position.
//
// Exports
//   lineColumn(source, offset) -> {line, column}
//     1-based; columns count UTF-16 code units; only a line feed ends a line.
//   new CompileDiagnostic(source, offset, code, message)
//     Error whose message is `message` + " (line L, column C)", with own
//     fields name = "CompileDiagnostic", code, offset, line, column. The
//     source is not kept.
//   bareMessage(message) -> string
//     `message` without a trailing " (line L, column C)" location suffix, so
//     a diagnostic can be rebuilt against another source and offset.

// Line and column of `offset`. Only a line feed ends a line; an offset past
// the end counts the line feeds of the whole source.
export function lineColumn(source, offset) {
  const stop = Math.min(offset, source.length);
  let line = 1;
  let lastFeed = -1;
  for (let index = source.indexOf("\n"); index !== -1 && index < stop; index = source.indexOf("\n", index + 1)) {
    line += 1;
    lastFeed = index;
  }
  return { line, column: offset - lastFeed };
}

export class CompileDiagnostic extends Error {
  constructor(source, offset, code, message) {
    const { line, column } = lineColumn(source, offset);
    super(`${message} (line ${line}, column ${column})`);
    this.name = "CompileDiagnostic";
    this.code = code;
    this.offset = offset;
    this.line = line;
    this.column = column;
  }
}

const LOCATION_SUFFIX = / \(line \d+, column \d+\)$/;

export function bareMessage(message) {
  return message.replace(LOCATION_SUFFIX, "");
}
