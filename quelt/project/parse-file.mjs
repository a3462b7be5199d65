// Per-file pre-parse on the compiler's token list: imports, declarations and
// the token positions the linker rewrites. Full checking happens later, once,
// on the linked module.
import { CompileDiagnostic, RECORD_READ_TYPES, RESULT_LIMITS, NAMED_RECORD_SCHEMA_LIMITS, getSourceTokens } from "quelt/compiler.mjs";
import { ProjectDiagnostic, originalDiagnostic } from "./diagnostics.mjs";
import { PREFIX } from "./limits.mjs";
import { resolve } from "./paths.mjs";
import { utf8Length } from "./text.mjs";

const RESERVED_PREFIX_MESSAGE = "Identifiers beginning with the internal module prefix are reserved for linking";
const SCHEMA_KEY_BYTES = 65536;

let readerTypes = null;

function isReaderType(type) {
  readerTypes ??= new Set(Object.values(RECORD_READ_TYPES));
  return readerTypes.has(type);
}

// True when `token` exists and spells `value` as an identifier (for words)
// or a symbol (for punctuation); text tokens never match.
export function at(token, value) {
  if (token === undefined || token.value !== value) return false;
  const first = value.charCodeAt(0);
  const word = first === 95 || (first >= 65 && first <= 90) || (first >= 97 && first <= 122);
  return token.kind === (word ? "identifier" : "symbol");
}

export function isIdentifier(token) {
  return token !== undefined && token.kind === "identifier";
}

// Each statement token becomes spaces of the same length, line breaks kept.
function blank(text) {
  if (text.indexOf("\n") === -1 && text.indexOf("\r") === -1) return " ".repeat(text.length);
  return text.replace(/[^\r\n]/g, " ");
}

class FileParser {
  constructor(path, source, tokens) {
    this.path = path;
    this.source = source;
    this.tokens = tokens;
    this.eof = tokens.length - 1;
    this.cursor = 0;
    this.importing = false;
    this.imports = [];
    this.removals = [];
    this.functions = [];
    this.schemas = [];
    this.results = [];
    this.localNames = new Set();
    this.annotationOffsets = new Set();
    this.effectMarkerOffsets = new Set();
    this.schemaFieldTotal = 0;
  }

  // --- tokens and failures ---

  current() {
    return this.tokens[this.cursor];
  }

  peek(distance) {
    return this.tokens[this.cursor + distance];
  }

  advance() {
    const token = this.tokens[this.cursor];
    if (this.cursor < this.eof) this.cursor += 1;
    return token;
  }

  offsetOf(token) {
    return token === undefined ? this.source.length : token.offset;
  }

  // A project error located at `token`.
  reject(code, message, token = this.current()) {
    throw originalDiagnostic(new ProjectDiagnostic(code, message), this.path, this.source, this.offsetOf(token));
  }

  // A compile error located at `token`.
  coreReject(code, message, token = this.current()) {
    const error = new CompileDiagnostic(this.source, this.offsetOf(token), code, message);
    error.sourcePath = this.path;
    throw error;
  }

  // A syntax error; inside an import statement every one reads the same.
  syntax(token, message) {
    if (this.importing) this.reject("PROJECT_IMPORT", "Unsupported source import syntax", token);
    this.coreReject("SYNTAX", message, token);
  }

  expect(value) {
    if (!at(this.current(), value)) this.syntax(this.current(), `Expected ${value} in source module`);
    return this.advance();
  }

  name() {
    const token = this.current();
    if (!isIdentifier(token) || token.reserved) this.syntax(token, "Expected a non-reserved identifier");
    this.advance();
    return token.value;
  }

  // --- file structure ---

  checkReservedPrefix() {
    for (const token of this.tokens) {
      if (token.kind === "identifier" && token.value.charCodeAt(0) === 95 && token.value.startsWith(PREFIX)) {
        this.reject("PROJECT_RESERVED", RESERVED_PREFIX_MESSAGE, token);
      }
    }
  }

  parseImports() {
    const targets = new Set();
    while (at(this.current(), "import")) {
      this.importing = true;
      const first = this.cursor;
      this.advance();
      this.expect("{");
      const names = this.importNames();
      this.expect("}");
      this.expect("from");
      const specifier = this.current();
      if (specifier.kind !== "text") this.syntax(specifier, "Expected a text import path");
      this.advance();
      this.expect(";");
      const target = this.resolveAt(specifier);
      if (targets.has(target)) this.reject("PROJECT_DUPLICATE", "Duplicate import path or path alias", specifier);
      targets.add(target);
      this.imports.push({ path: target, names, offset: specifier.offset });
      this.blankStatement(first);
      this.importing = false;
    }
  }

  importNames() {
    const names = [];
    for (;;) {
      const token = this.current();
      const imported = this.name();
      if (token.builtin || names.includes(imported)) {
        this.reject("PROJECT_DUPLICATE", "Duplicate or builtin import binding", token);
      }
      names.push(imported);
      if (!at(this.current(), ",")) return names;
      this.advance();
    }
  }

  resolveAt(specifier) {
    try {
      return resolve(this.path, specifier.value);
    } catch (error) {
      throw originalDiagnostic(error, this.path, this.source, specifier.offset);
    }
  }

  // One removal per token of the statement that ends before the cursor.
  blankStatement(first) {
    for (let index = first; index < this.cursor; index += 1) {
      const { offset, end } = this.tokens[index];
      this.removals.push({ start: offset, end, text: blank(this.source.slice(offset, end)) });
    }
  }

  parseDeclarations() {
    for (;;) {
      const token = this.current();
      if (at(token, "result")) this.parseResult();
      else if (at(token, "schema")) this.parseSchema();
      else if (at(token, "fn") || (at(token, "effect") && at(this.peek(1), "fn"))) this.parseFunction();
      else return;
    }
  }

  // The declared name of a Result or schema; `kind` words the messages.
  declaredName(kind) {
    const token = this.current();
    if (!isIdentifier(token) || token.reserved) this.coreReject("IDENTIFIER", `Expected a non-reserved ${kind} identifier`);
    const declared = this.name();
    if (declared === "Unknown" || declared === "EmptyArray") this.coreReject("DUPLICATE", `Reserved ${kind} name`);
    if (token.builtin || this.localNames.has(declared)) this.reject("PROJECT_DUPLICATE", `Duplicate or builtin local ${kind}`);
    this.localNames.add(declared);
    return token;
  }

  // A reader domain: identifier, optional [], optional ?.
  readDomain(code, message) {
    const typeToken = this.current();
    if (!isIdentifier(typeToken)) this.coreReject(code, message, typeToken);
    this.advance();
    let type = typeToken.value;
    if (at(this.current(), "[")) {
      this.advance();
      this.expect("]");
      type += "[]";
    }
    if (at(this.current(), "?")) {
      this.advance();
      type += "?";
    }
    if (!isReaderType(type)) this.coreReject(code, message, typeToken);
    return type;
  }

  skipSemicolon() {
    if (at(this.current(), ";")) this.advance();
  }

  parseResult() {
    this.advance();
    if (this.results.length >= RESULT_LIMITS.results) this.coreReject("RESULT_LIMIT", `Result limit is ${RESULT_LIMITS.results}`);
    const token = this.declaredName("Result");
    this.expect(":");
    const successType = this.readDomain("RESULT_SUCCESS_TYPE", "Result success requires one required old domain");
    if (at(this.current(), "[") || at(this.current(), "?")) this.syntax(this.current(), "Unexpected Result descriptor suffix");
    this.skipSemicolon();
    this.results.push({ name: token.value, token, successType });
  }

  parseSchema() {
    this.advance();
    if (this.schemas.length >= NAMED_RECORD_SCHEMA_LIMITS.schemas) {
      this.coreReject("SCHEMA_LIMIT", `Schema limit is ${NAMED_RECORD_SCHEMA_LIMITS.schemas}`);
    }
    const token = this.declaredName("schema");
    this.expect("{");
    const fields = [];
    if (!at(this.current(), "}")) {
      const keys = new Set();
      for (;;) {
        fields.push(this.schemaField(fields.length, keys));
        if (!at(this.current(), ",")) break;
        this.advance();
      }
    }
    this.expect("}");
    this.skipSemicolon();
    if (fields.length === 0) this.coreReject("SCHEMA_LIMIT", "A schema requires at least one field", token);
    this.schemas.push({ name: token.value, token, fields });
  }

  schemaField(count, keys) {
    if (count >= NAMED_RECORD_SCHEMA_LIMITS.fields || this.schemaFieldTotal >= NAMED_RECORD_SCHEMA_LIMITS.totalFields) {
      this.coreReject("SCHEMA_LIMIT", `Schema field limit is ${NAMED_RECORD_SCHEMA_LIMITS.fields}`);
    }
    if (at(this.current(), "}")) this.syntax(this.current(), "Schema fields do not permit a trailing comma");
    const keyToken = this.current();
    const bounded =
      keyToken.kind === "identifier" || (keyToken.kind === "text" && utf8Length(keyToken.value) <= SCHEMA_KEY_BYTES);
    if (!bounded) this.coreReject("SCHEMA_FIELD", "Schema keys require a bounded identifier or literal Text");
    this.advance();
    if (keys.has(keyToken.value)) this.coreReject("DUPLICATE", "Duplicate schema field key");
    this.expect(":");
    const type = this.readDomain("SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain");
    keys.add(keyToken.value);
    this.schemaFieldTotal += 1;
    return { key: keyToken.value, type };
  }

  parseFunction() {
    if (at(this.current(), "effect")) {
      this.effectMarkerOffsets.add(this.current().offset);
      this.advance();
    }
    this.advance(); // fn
    const token = this.current();
    const declared = this.name();
    if (token.builtin || this.localNames.has(declared)) this.reject("PROJECT_DUPLICATE", "Duplicate or builtin local function");
    this.localNames.add(declared);
    if (!at(this.current(), "(")) this.syntax(this.current(), "Function requires a parameter list");
    this.scanSignature();
    const open = this.cursor;
    this.expect("{");
    const lastReturn = this.scanBody(open);
    const close = this.cursor - 1;
    let last = close - 1;
    if (at(this.tokens[last], ";")) last -= 1;
    const expressionRange = { start: this.tokens[lastReturn + 1].offset, end: this.tokens[last].end };
    this.skipSemicolon();
    this.functions.push({ name: declared, token, expressionRange });
  }

  // Parameter and return annotations, up to the body's `{`.
  scanSignature() {
    while (this.cursor < this.eof && !at(this.current(), "{")) {
      const marker = this.current();
      const next = this.peek(1);
      if ((at(marker, ":") || at(marker, "->")) && isIdentifier(next)) this.annotationOffsets.add(next.offset);
      this.advance();
    }
  }

  // Steps over a balanced body whose `{` is consumed; records local
  // annotations and returns the index of the last top-level `return` (the
  // `{` itself when there is none). Bodies are most of a file's tokens, so
  // this loop reads the token fields directly.
  scanBody(open) {
    const tokens = this.tokens;
    let depth = 1;
    let lastReturn = open;
    let index = this.cursor;
    while (index < this.eof) {
      const { kind, value } = tokens[index];
      if (kind === "symbol") {
        if (value === "{") depth += 1;
        else if (value === "}") depth -= 1;
      } else if (depth === 1 && kind === "identifier") {
        if (value === "return") lastReturn = index;
        else if (value === "let" && at(tokens[index + 2], ":") && isIdentifier(tokens[index + 3])) {
          this.annotationOffsets.add(tokens[index + 3].offset);
        }
      }
      index += 1;
      if (depth === 0) {
        this.cursor = index;
        return lastReturn;
      }
    }
    this.cursor = index;
    return this.syntax(this.current(), "Unclosed function body");
  }

  parseEntryTail() {
    if (!at(this.current(), "brindlet")) this.syntax(this.current(), "Entry requires functions followed by one brindlet module");
    const tokens = this.tokens;
    let depth = 0;
    for (let index = this.cursor; index < this.eof; index += 1) {
      const token = tokens[index];
      if (at(token, "{")) depth += 1;
      else if (at(token, "}")) depth -= 1;
      else if (depth === 1 && (at(token, "input") || at(token, "derive")) && at(tokens[index + 2], ":") && isIdentifier(tokens[index + 3])) {
        this.annotationOffsets.add(tokens[index + 3].offset);
      }
    }
  }

  checkLibraryTail() {
    if (this.cursor !== this.eof) {
      this.reject("PROJECT_IMPORT", "Imported libraries may contain imports and pure function declarations only");
    }
  }

  // Imported name -> target path; no name twice, none shadowing a local.
  bindImports() {
    const bindings = new Map();
    for (const statement of this.imports) {
      for (const imported of statement.names) {
        if (bindings.has(imported) || this.localNames.has(imported)) {
          this.reject("PROJECT_DUPLICATE", "An imported binding conflicts with an import or local function", statement);
        }
        bindings.set(imported, statement.path);
      }
    }
    return bindings;
  }

  // Schema and Result names written as stage arguments, and match handlers.
  collectReferences() {
    const tokens = this.tokens;
    const schemaReferenceOffsets = new Set();
    const resultReferenceOffsets = new Set();
    const matchHandlerOffsets = new Set();
    for (let index = 3; index < tokens.length; index += 1) {
      const token = tokens[index];
      if (token.kind !== "identifier") continue;
      if (at(tokens[index - 1], "(") && at(tokens[index - 3], "|>")) {
        const stage = tokens[index - 2];
        if (at(stage, "asSchema")) schemaReferenceOffsets.add(token.offset);
        else if (at(stage, "ok") || at(stage, "err")) resultReferenceOffsets.add(token.offset);
      }
      if (token.value === "match" && at(tokens[index - 1], "|>") && at(tokens[index + 1], "(")) {
        if (isIdentifier(tokens[index + 2])) matchHandlerOffsets.add(tokens[index + 2].offset);
        if (at(tokens[index + 3], ",") && isIdentifier(tokens[index + 4])) matchHandlerOffsets.add(tokens[index + 4].offset);
      }
    }
    return { schemaReferenceOffsets, resultReferenceOffsets, matchHandlerOffsets };
  }
}

function tokensOf(path, source) {
  try {
    return getSourceTokens(source);
  } catch (error) {
    throw originalDiagnostic(error, path, source);
  }
}

// The module record of one file; `entry` is true for the entry file.
export function parseFile(path, source, entry) {
  const parser = new FileParser(path, source, tokensOf(path, source));
  parser.checkReservedPrefix();
  parser.parseImports();
  parser.parseDeclarations();
  if (entry) parser.parseEntryTail();
  else parser.checkLibraryTail();
  const bindings = parser.bindImports();
  const { schemaReferenceOffsets, resultReferenceOffsets, matchHandlerOffsets } = parser.collectReferences();
  return {
    path,
    source,
    tokens: parser.tokens,
    imports: parser.imports,
    functions: parser.functions,
    schemas: parser.schemas,
    results: parser.results,
    annotationOffsets: parser.annotationOffsets,
    schemaReferenceOffsets,
    resultReferenceOffsets,
    matchHandlerOffsets,
    effectMarkerOffsets: parser.effectMarkerOffsets,
    bindings,
    removals: parser.removals,
  };
}
