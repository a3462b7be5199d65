// The compiler's one error type for faults in a source, and the line/column
// rule shared by everything that reports a position.

// Line and column (both 1-based, columns in UTF-16 code units) of `offset`.
// Only a line feed ends a line; an offset past the end counts the whole source.
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
