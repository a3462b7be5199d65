// Rewrites one module for linking: blanks its imports, gives its functions,
// schemas and Results their project-unique names, and records the segments
// that map the rewritten text back to the file.
import { ProjectDiagnostic, originalDiagnostic } from "./diagnostics.mjs";
import { PREFIX } from "./limits.mjs";
import { at } from "./parse-file.mjs";

// The token that follows a callback name in a callback stage, or undefined
// when `stage` names no callback stage.
function callbackCloser(stage) {
  switch (stage) {
    case "each":
    case "filter":
    case "sortBy":
      return ")";
    case "fold":
    case "repeat":
      return ",";
    default:
      return undefined;
  }
}

// Mangled names of every function, schema and Result, per module path.
export function exportTables(ordered, modules) {
  const exports = new Map();
  const schemaExports = new Map();
  const resultExports = new Map();
  ordered.forEach((path, ordinal) => {
    const module = modules.get(path);
    exports.set(path, new Map(module.functions.map((item, index) => [item.name, `${PREFIX}${ordinal}_f${index}`])));
    schemaExports.set(path, new Map(module.schemas.map((item, index) => [item.name, `${PREFIX}${ordinal}_s${index}`])));
    resultExports.set(path, new Map(module.results.map((item, index) => [item.name, `${PREFIX}${ordinal}_r${index}`])));
  });
  return { exports, schemaExports, resultExports };
}

function anyDeclared(tables) {
  for (const table of tables.values()) if (table.size > 0) return true;
  return false;
}

function importedTables(module, exports, schemaExports, resultExports) {
  const imported = new Map();
  const importedSchemas = new Map();
  const importedResults = new Map();
  for (const [name, target] of module.bindings) {
    const mangled = exports.get(target)?.get(name);
    const schema = schemaExports.get(target)?.get(name);
    const result = resultExports.get(target)?.get(name);
    if (mangled !== undefined) imported.set(name, mangled);
    else if (schema !== undefined) importedSchemas.set(name, schema);
    else if (result !== undefined) importedResults.set(name, result);
    else {
      const statement = module.imports.find((item) => item.path === target);
      throw originalDiagnostic(
        new ProjectDiagnostic("PROJECT_IMPORT", "Requested binding is not declared by its target library; re-exports are unsupported"),
        module.path,
        module.source,
        statement.offset,
      );
    }
  }
  return { imported, importedSchemas, importedResults };
}

function isCallback(module, tokens, index) {
  const token = tokens[index];
  if (module.matchHandlerOffsets.has(token.offset)) return true;
  const stage = tokens[index - 2];
  if (!at(tokens[index - 1], "(") || stage === undefined || stage.kind !== "identifier") return false;
  const closer = callbackCloser(stage.value);
  return closer !== undefined && at(tokens[index - 3], "|>") && at(tokens[index + 1], closer);
}

// The linked spelling of a schema or Result name, or of a named annotation.
function nominalText(name, roles, ordinal, tables) {
  const { resultRole, annotation } = roles;
  const { schemaLocals, resultLocals, importedSchemas, importedResults } = tables;
  const asResult = () => resultLocals.get(name) ?? importedResults.get(name);
  const text = resultRole
    ? asResult()
    : (schemaLocals.get(name) ?? importedSchemas.get(name) ?? (annotation ? asResult() : undefined));
  if (text !== undefined) return text;
  const placeholder = annotation ? "type_unresolved" : resultRole ? "result_unresolved" : "schema_unresolved";
  return `${PREFIX}${ordinal}_${placeholder}`;
}

// True for a function declaration name, and for a call or callback name
// that is neither builtin nor reserved.
function namesFunction(module, tokens, index, declarations) {
  const token = tokens[index];
  if (declarations.has(token.offset)) return true;
  if (token.builtin || token.reserved) return false;
  const previous = tokens[index - 1];
  const call = at(tokens[index + 1], "(") && !at(previous, ".") && !at(previous, "|>");
  return call || isCallback(module, tokens, index);
}

// The replacements {start, end, text} for one module, in file order.
function replacements(module, ordinal, tables) {
  const { tokens } = module;
  const schemaNames = new Set(module.schemas.map((item) => item.token.offset));
  const resultNames = new Set(module.results.map((item) => item.token.offset));
  const functionNames = new Set(module.functions.map((item) => item.token.offset));
  const list = module.removals.slice();
  // Import statements come first in a file, so their tokens are exactly the
  // first `removals.length` tokens.
  for (let index = module.removals.length; index < tokens.length; index += 1) {
    const token = tokens[index];
    const { offset, end, value: name } = token;
    if (token.kind !== "identifier" || module.effectMarkerOffsets.has(offset)) continue;
    if (tables.nominalProfile) {
      const resultRole = resultNames.has(offset) || module.resultReferenceOffsets.has(offset);
      const schemaRole = schemaNames.has(offset) || module.schemaReferenceOffsets.has(offset);
      const annotation = module.annotationOffsets.has(offset);
      if (resultRole || schemaRole || (annotation && !token.reserved)) {
        list.push({ start: offset, end, text: nominalText(name, { resultRole, annotation }, ordinal, tables) });
        continue;
      }
    }
    if (!namesFunction(module, tokens, index, functionNames)) continue;
    const text = tables.locals.get(name) ?? tables.imported.get(name) ?? `${PREFIX}${ordinal}_unresolved`;
    list.push({ start: offset, end, text });
  }
  return list;
}

// {source, segments} of one module; segment offsets are local to its text.
export function rewrite(module, exports, ordinal, schemaExports, resultExports) {
  const tables = {
    locals: exports.get(module.path),
    schemaLocals: schemaExports.get(module.path),
    resultLocals: resultExports.get(module.path),
    ...importedTables(module, exports, schemaExports, resultExports),
    nominalProfile: anyDeclared(schemaExports) || anyDeclared(resultExports),
  };
  const { path, source } = module;
  const pieces = [];
  const segments = [];
  let length = 0;
  const piece = (text, sourceStart, sourceEnd) => {
    if (text.length === 0) return;
    const kind = text.length === sourceEnd - sourceStart ? "copy" : "identifier";
    segments.push({ start: length, end: length + text.length, path, sourceStart, sourceEnd, kind });
    pieces.push(text);
    length += text.length;
  };
  let previousEnd = 0;
  for (const { start, end, text } of replacements(module, ordinal, tables)) {
    piece(source.slice(previousEnd, start), previousEnd, start);
    piece(text, start, end);
    previousEnd = end;
  }
  piece(source.slice(previousEnd), previousEnd, source.length);
  return { source: pieces.join(""), segments };
}
