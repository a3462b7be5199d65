// Per-file pre-parse on the compiler's token list: imports, declarations and
// the token positions the linker rewrites. Full checking happens later, once,
// on the linked module.
import { CompileDiagnostic, RECORD_READ_TYPES, RESULT_LIMITS, NAMED_RECORD_SCHEMA_LIMITS, getSourceTokens } from "quelt/compiler.mjs";
import { ProjectDiagnostic, originalDiagnostic } from "./diagnostics.mjs";
import { PREFIX } from "./limits.mjs";
import { resolve } from "./paths.mjs";
import { utf8Length } from "./text.mjs";

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

function isIdentifier(token) {
  return token !== undefined && token.kind === "identifier";
}

// Each statement token becomes spaces of the same length, line breaks kept.
function blank(text) {
  if (text.indexOf("\n") === -1 && text.indexOf("\r") === -1) return " ".repeat(text.length);
  return text.replace(/[^\r\n]/g, " ");
}

export function parseFile(path, source, entry) {
  let tokens;
  try {
    tokens = getSourceTokens(source);
  } catch (error) {
    throw originalDiagnostic(error, path, source);
  }
  const eof = tokens.length - 1;
  let cursor = 0;
  let importing = false;

  const offsetOf = (token) => (token === undefined ? source.length : token.offset);
  const current = () => tokens[cursor];
  const advance = () => {
    const token = tokens[cursor];
    if (cursor < eof) cursor += 1;
    return token;
  };
  const reject = (code, message, token = current()) => {
    throw originalDiagnostic(new ProjectDiagnostic(code, message), path, source, offsetOf(token));
  };
  const coreReject = (code, message, token = current()) => {
    const offset = offsetOf(token);
    const error = new CompileDiagnostic(source, offset, code, message);
    error.sourcePath = path;
    throw error;
  };
  const syntax = (token, message) => {
    if (importing) reject("PROJECT_IMPORT", "Unsupported source import syntax", token);
    coreReject("SYNTAX", message, token);
  };
  const expect = (value) => {
    if (!at(current(), value)) syntax(current(), `Expected ${value} in source module`);
    return advance();
  };
  const name = () => {
    const token = current();
    if (!isIdentifier(token) || token.reserved) syntax(token, "Expected a non-reserved identifier");
    advance();
    return token.value;
  };

  // The linker's own prefix is off limits anywhere in a file.
  for (const token of tokens) {
    if (token.kind === "identifier" && token.value.startsWith(PREFIX)) {
      reject("PROJECT_RESERVED", "Identifiers beginning with the internal module prefix are reserved for linking", token);
    }
  }

  const imports = [];
  const removals = [];
  const importedPaths = new Set();
  while (at(current(), "import")) {
    importing = true;
    const first = cursor;
    advance();
    expect("{");
    const names = [];
    for (;;) {
      const token = current();
      const imported = name();
      if (token.builtin || names.includes(imported)) reject("PROJECT_DUPLICATE", "Duplicate or builtin import binding", token);
      names.push(imported);
      if (!at(current(), ",")) break;
      advance();
    }
    expect("}");
    expect("from");
    const specifier = current();
    if (specifier.kind !== "text") syntax(specifier, "Expected a text import path");
    advance();
    expect(";");
    let target;
    try {
      target = resolve(path, specifier.value);
    } catch (error) {
      throw originalDiagnostic(error, path, source, specifier.offset);
    }
    if (importedPaths.has(target)) reject("PROJECT_DUPLICATE", "Duplicate import path or path alias", specifier);
    importedPaths.add(target);
    imports.push({ path: target, names, offset: specifier.offset });
    for (let index = first; index < cursor; index += 1) {
      const token = tokens[index];
      removals.push({ start: token.offset, end: token.end, text: blank(source.slice(token.offset, token.end)) });
    }
    importing = false;
  }

  const functions = [];
  const schemas = [];
  const results = [];
  const localNames = new Set();
  const annotationOffsets = new Set();
  const effectMarkerOffsets = new Set();
  let schemaFieldTotal = 0;

  const readDescriptor = (code, message) => {
    const typeToken = current();
    if (!isIdentifier(typeToken)) coreReject(code, message, typeToken);
    advance();
    let type = typeToken.value;
    if (at(current(), "[")) {
      advance();
      expect("]");
      type += "[]";
    }
    if (at(current(), "?")) {
      advance();
      type += "?";
    }
    if (!isReaderType(type)) coreReject(code, message, typeToken);
    return type;
  };

  const declaredName = (kind) => {
    const token = current();
    if (!isIdentifier(token) || token.reserved) coreReject("IDENTIFIER", `Expected a non-reserved ${kind} identifier`);
    const declared = name();
    if (declared === "Unknown" || declared === "EmptyArray") coreReject("DUPLICATE", `Reserved ${kind} name`);
    if (token.builtin || localNames.has(declared)) reject("PROJECT_DUPLICATE", `Duplicate or builtin local ${kind}`);
    localNames.add(declared);
    return token;
  };

  const parseResult = () => {
    advance();
    if (results.length >= RESULT_LIMITS.results) coreReject("RESULT_LIMIT", `Result limit is ${RESULT_LIMITS.results}`);
    const token = declaredName("Result");
    expect(":");
    const successType = readDescriptor("RESULT_SUCCESS_TYPE", "Result success requires one required old domain");
    if (at(current(), "[") || at(current(), "?")) syntax(current(), "Unexpected Result descriptor suffix");
    if (at(current(), ";")) advance();
    results.push({ name: token.value, token, successType });
  };

  const parseSchema = () => {
    advance();
    if (schemas.length >= NAMED_RECORD_SCHEMA_LIMITS.schemas) {
      coreReject("SCHEMA_LIMIT", `Schema limit is ${NAMED_RECORD_SCHEMA_LIMITS.schemas}`);
    }
    const token = declaredName("schema");
    expect("{");
    const fields = [];
    const keys = new Set();
    if (!at(current(), "}")) {
      for (;;) {
        if (fields.length >= NAMED_RECORD_SCHEMA_LIMITS.fields || schemaFieldTotal >= NAMED_RECORD_SCHEMA_LIMITS.totalFields) {
          coreReject("SCHEMA_LIMIT", `Schema field limit is ${NAMED_RECORD_SCHEMA_LIMITS.fields}`);
        }
        if (at(current(), "}")) syntax(current(), "Schema fields do not permit a trailing comma");
        const keyToken = current();
        const boundedKey =
          keyToken.kind === "identifier" || (keyToken.kind === "text" && utf8Length(keyToken.value) <= 65536);
        if (!boundedKey) coreReject("SCHEMA_FIELD", "Schema keys require a bounded identifier or literal Text");
        advance();
        if (keys.has(keyToken.value)) coreReject("DUPLICATE", "Duplicate schema field key");
        expect(":");
        const type = readDescriptor("SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain");
        keys.add(keyToken.value);
        fields.push({ key: keyToken.value, type });
        schemaFieldTotal += 1;
        if (!at(current(), ",")) break;
        advance();
      }
    }
    expect("}");
    if (at(current(), ";")) advance();
    if (fields.length === 0) coreReject("SCHEMA_LIMIT", "A schema requires at least one field", token);
    schemas.push({ name: token.value, token, fields });
  };

  const parseFunction = () => {
    if (at(current(), "effect")) {
      effectMarkerOffsets.add(current().offset);
      advance();
    }
    advance(); // fn
    const token = current();
    const declared = name();
    if (token.builtin || localNames.has(declared)) reject("PROJECT_DUPLICATE", "Duplicate or builtin local function");
    localNames.add(declared);
    if (!at(current(), "(")) syntax(current(), "Function requires a parameter list");
    while (cursor < eof && !at(current(), "{")) {
      const marker = current();
      if ((at(marker, ":") || at(marker, "->")) && isIdentifier(tokens[cursor + 1])) {
        annotationOffsets.add(tokens[cursor + 1].offset);
      }
      advance();
    }
    const open = cursor;
    expect("{");
    let depth = 1;
    let lastReturn = open;
    while (cursor < eof) {
      const body = current();
      if (depth === 1) {
        if (at(body, "return")) lastReturn = cursor;
        else if (at(body, "let") && at(tokens[cursor + 2], ":") && isIdentifier(tokens[cursor + 3])) {
          annotationOffsets.add(tokens[cursor + 3].offset);
        }
      }
      if (at(body, "{")) depth += 1;
      else if (at(body, "}")) depth -= 1;
      advance();
      if (depth === 0) break;
    }
    if (depth !== 0) syntax(current(), "Unclosed function body");
    const close = cursor - 1;
    let last = close - 1;
    if (at(tokens[last], ";")) last -= 1;
    const expressionRange = { start: tokens[lastReturn + 1].offset, end: tokens[last].end };
    if (at(current(), ";")) advance();
    functions.push({ name: declared, token, expressionRange });
  };

  for (;;) {
    const token = current();
    if (at(token, "result")) parseResult();
    else if (at(token, "schema")) parseSchema();
    else if (at(token, "fn") || (at(token, "effect") && at(tokens[cursor + 1], "fn"))) parseFunction();
    else break;
  }

  if (entry) {
    if (!at(current(), "brindlet")) syntax(current(), "Entry requires functions followed by one brindlet module");
    let depth = 0;
    for (let index = cursor; index < eof; index += 1) {
      const token = tokens[index];
      if (at(token, "{")) depth += 1;
      else if (at(token, "}")) depth -= 1;
      else if (
        depth === 1 &&
        (at(token, "input") || at(token, "derive")) &&
        at(tokens[index + 2], ":") &&
        isIdentifier(tokens[index + 3])
      ) {
        annotationOffsets.add(tokens[index + 3].offset);
      }
    }
  } else if (cursor !== eof) {
    reject("PROJECT_IMPORT", "Imported libraries may contain imports and pure function declarations only");
  }

  const bindings = new Map();
  for (const statement of imports) {
    const specifier = { offset: statement.offset };
    for (const imported of statement.names) {
      if (bindings.has(imported) || localNames.has(imported)) {
        reject("PROJECT_DUPLICATE", "An imported binding conflicts with an import or local function", specifier);
      }
      bindings.set(imported, statement.path);
    }
  }

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

  return {
    path,
    source,
    tokens,
    imports,
    functions,
    schemas,
    results,
    annotationOffsets,
    schemaReferenceOffsets,
    resultReferenceOffsets,
    matchHandlerOffsets,
    effectMarkerOffsets,
    bindings,
    removals,
  };
}
