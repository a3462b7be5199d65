// The declaration grammar: Results, schemas and functions, then the one
// `brindlet` module block. parseModule returns the parse results that module
// checking (module-check.mjs) turns into a Program:
//
//   { source, named,
//     results: Map name -> {name, successType}, resultList,
//     schemas: Map name -> {name, fields: [{key, type}]}, schemaList,
//     functions: Map name -> {name, params, returnType, locals?, expression}, functionList,
//     functionOffsets: Map name -> offset of the name token, effectFunctions: Set,
//     name, nameOffset, uses: Set,
//     inputs: [{name, type, defaultExpression?}], derives: [{name, type, expression, dependencies}],
//     outputs: [name], symbols: Map name -> type, declarationOffsets: Map,
//     deriveRanges: Map name -> frozen {start, end}, annotationRefs: [{value, offset}] }
import { LIMITS, RECORD_READ_TYPES, NAMED_RECORD_SCHEMA_LIMITS, RESULT_LIMITS, FUNCTION_LOCAL_LIMITS } from "./limits.mjs";
import { BUILTINS, TOKEN_IDENTIFIER, TOKEN_SYMBOL, TOKEN_TEXT, TOKEN_EOF, utf8Length } from "./lexer.mjs";

// Built by the first DeclarationReader: loading the compiler does not mean
// reading declarations.
let BASES, READER_DOMAINS, INTERNAL_TYPES;

function buildNameSets() {
  BASES = new Set(["Int", "Float", "Text", "Truth", "Record"]);
  READER_DOMAINS = new Set(Object.values(RECORD_READ_TYPES));
  INTERNAL_TYPES = new Set(["Unknown", "EmptyArray"]);
}
const TYPE_MESSAGE = "Expected Int, Float, Text, Truth, or Record type";
const TEXT_KEY_UTF8_LIMIT = 65536;

// Whether the module declares any schema or Result, judged from the leading
// declarations only; it selects how annotations are read everywhere. Reads
// the token list's arrays directly (kinds and values).
export function declaresNamedTypes(list) {
  const kinds = list.kinds;
  const values = list.values;
  const last = list.length - 1;
  const isSymbol = (index, spelling) => kinds[index] === TOKEN_SYMBOL && values[index] === spelling;
  let i = 0;
  while (i < last) {
    if (kinds[i] !== TOKEN_IDENTIFIER) return false;
    const value = values[i];
    if (value === "effect" && kinds[i + 1] === TOKEN_IDENTIFIER && values[i + 1] === "fn") {
      i += 1;
      continue;
    }
    if (value === "result" || value === "schema") return true;
    if (value !== "fn") return false;
    while (i < last && !isSymbol(i, "{")) i += 1;
    if (i >= last) return false;
    let open = 0;
    do {
      if (kinds[i] === TOKEN_SYMBOL) {
        const spelling = values[i];
        if (spelling === "{") open += 1;
        else if (spelling === "}") open -= 1;
      }
      i += 1;
    } while (open > 0 && i < last);
    if (open > 0) return false;
    if (isSymbol(i, ";")) i += 1;
  }
  return false;
}

export function parseModule(parser) {
  const module = {
    source: parser.source,
    named: declaresNamedTypes(parser.list),
    results: new Map(),
    resultList: [],
    schemas: new Map(),
    schemaList: [],
    schemaFieldTotal: 0,
    functions: new Map(),
    functionList: [],
    functionOffsets: new Map(),
    effectFunctions: new Set(),
    name: null,
    nameOffset: 0,
    uses: new Set(),
    inputs: [],
    derives: [],
    outputs: [],
    symbols: new Map(),
    declarationOffsets: new Map(),
    deriveRanges: new Map(),
    annotationRefs: [],
  };
  const reader = new DeclarationReader(parser, module);
  reader.readDeclarations();
  reader.readBlock();
  return module;
}

// Token positions are indices into the parser's token list: `parser.name()`
// answers the index of the name it stepped over, and `values[index]`,
// `offsets[index]` read its spelling and position.
class DeclarationReader {
  constructor(parser, module) {
    if (BASES === undefined) buildNameSets();
    this.parser = parser;
    this.module = module;
    this.values = parser.values;
    this.offsets = parser.offsets;
  }

  fail(index, code, message) {
    this.parser.failAtIndex(index, code, message);
  }

  readDeclarations() {
    const parser = this.parser;
    for (;;) {
      if (parser.at("result")) this.readResult();
      else if (parser.at("schema")) this.readSchema();
      else if (parser.at("fn") || this.effectPrefix()) this.readFunction();
      else return;
    }
  }

  effectPrefix() {
    const parser = this.parser;
    const next = parser.cursor < parser.last ? parser.cursor + 1 : parser.last;
    return parser.at("effect") && parser.kinds[next] === TOKEN_IDENTIFIER && this.values[next] === "fn";
  }

  // Function, schema and Result names share one namespace.
  takenName(name) {
    const module = this.module;
    return BUILTINS.has(name) || module.functions.has(name) || module.schemas.has(name) || module.results.has(name);
  }

  readType() {
    const parser = this.parser;
    const index = parser.cursor;
    parser.skip();
    const value = this.values[index];
    const isIdentifier = parser.kinds[index] === TOKEN_IDENTIFIER;
    const named = isIdentifier && !BASES.has(value);
    if (!isIdentifier || (named && !this.module.named)) this.fail(index, "TYPE", TYPE_MESSAGE);
    let text = value;
    if (parser.accept("[")) {
      parser.expect("]");
      text += "[]";
    }
    if (parser.accept("?")) text += "?";
    if (named) this.module.annotationRefs.push({ value: text, offset: this.offsets[index] });
    return text;
  }

  readDomain(code, message) {
    const parser = this.parser;
    const first = parser.cursor;
    if (parser.kinds[first] !== TOKEN_IDENTIFIER) this.fail(first, code, message);
    parser.skip();
    let text = this.values[first];
    if (parser.accept("[")) {
      parser.expect("]");
      text += "[]";
    }
    if (parser.accept("?")) text += "?";
    if (!READER_DOMAINS.has(text)) this.fail(first, code, message);
    return text;
  }

  readResult() {
    const parser = this.parser;
    const module = this.module;
    parser.skip();
    if (module.resultList.length >= RESULT_LIMITS.results) {
      this.fail(parser.cursor, "RESULT_LIMIT", `Result limit is ${RESULT_LIMITS.results}`);
    }
    const nameIndex = parser.name();
    const name = this.values[nameIndex];
    if (INTERNAL_TYPES.has(name) || this.takenName(name)) {
      this.fail(nameIndex, "DUPLICATE", `Duplicate or reserved Result ${name}`);
    }
    parser.expect(":");
    const successType = this.readDomain("RESULT_SUCCESS_TYPE", "Result success requires one required old domain");
    parser.accept(";");
    const record = { name, successType };
    module.resultList.push(record);
    module.results.set(name, record);
  }

  readSchema() {
    const parser = this.parser;
    const module = this.module;
    parser.skip();
    if (module.schemaList.length >= NAMED_RECORD_SCHEMA_LIMITS.schemas) {
      this.fail(parser.cursor, "SCHEMA_LIMIT", `Schema limit is ${NAMED_RECORD_SCHEMA_LIMITS.schemas}`);
    }
    const nameIndex = parser.name();
    const name = this.values[nameIndex];
    if (INTERNAL_TYPES.has(name) || this.takenName(name)) {
      this.fail(nameIndex, "DUPLICATE", `Duplicate or reserved schema ${name}`);
    }
    parser.expect("{");
    const fields = [];
    const keys = new Set();
    if (!parser.at("}")) {
      do {
        const keyIndex = parser.cursor;
        if (fields.length >= NAMED_RECORD_SCHEMA_LIMITS.fields || module.schemaFieldTotal >= NAMED_RECORD_SCHEMA_LIMITS.totalFields) {
          this.fail(keyIndex, "SCHEMA_LIMIT", `Schema field limit is ${NAMED_RECORD_SCHEMA_LIMITS.fields}`);
        }
        if (parser.at("}")) this.fail(keyIndex, "SYNTAX", "Schema fields do not permit a trailing comma");
        const kind = parser.kinds[keyIndex];
        const key = this.values[keyIndex];
        if (!(kind === TOKEN_IDENTIFIER || (kind === TOKEN_TEXT && utf8Length(key) <= TEXT_KEY_UTF8_LIMIT))) {
          this.fail(keyIndex, "SCHEMA_FIELD", "Schema keys require a bounded identifier or literal Text");
        }
        parser.skip();
        if (keys.has(key)) this.fail(keyIndex, "DUPLICATE", "Duplicate schema field key");
        keys.add(key);
        parser.expect(":");
        const type = this.readDomain("SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain");
        fields.push({ key, type });
        module.schemaFieldTotal += 1;
      } while (parser.accept(","));
    }
    parser.expect("}");
    parser.accept(";");
    if (fields.length === 0) this.fail(nameIndex, "SCHEMA_LIMIT", "A schema requires at least one field");
    const record = { name, fields };
    module.schemaList.push(record);
    module.schemas.set(name, record);
  }

  readFunction() {
    const parser = this.parser;
    const module = this.module;
    const effect = this.effectPrefix();
    if (effect) parser.skip();
    parser.expect("fn");
    if (module.functionList.length >= LIMITS.functions) {
      this.fail(parser.cursor, "FUNCTION_LIMIT", `Function limit is ${LIMITS.functions}`);
    }
    const nameIndex = parser.name();
    const name = this.values[nameIndex];
    if (this.takenName(name)) this.fail(nameIndex, "DUPLICATE", `Duplicate or reserved function ${name}`);
    parser.expect("(");
    const params = [];
    const names = new Set();
    if (!parser.at(")")) {
      do {
        if (params.length >= LIMITS.params) this.fail(parser.cursor, "PARAMETER_LIMIT", `Parameter limit is ${LIMITS.params}`);
        const paramIndex = parser.name();
        const param = this.values[paramIndex];
        parser.expect(":");
        if (names.has(param)) this.fail(paramIndex, "DUPLICATE", `Duplicate parameter ${param}`);
        names.add(param);
        params.push({ name: param, type: this.readType() });
      } while (parser.accept(","));
    }
    parser.expect(")");
    parser.expect("->");
    const returnType = this.readType();
    parser.expect("{");
    const locals = [];
    while (parser.accept("let")) {
      if (locals.length >= FUNCTION_LOCAL_LIMITS.locals) {
        this.fail(parser.cursor, "FUNCTION_LOCAL_LIMIT", `Local declaration limit is ${FUNCTION_LOCAL_LIMITS.locals}`);
      }
      const localIndex = parser.name();
      const local = this.values[localIndex];
      if (names.has(local)) this.fail(localIndex, "DUPLICATE", `Duplicate parameter or local ${local}`);
      names.add(local);
      parser.expect(":");
      const type = this.readType();
      parser.expect("=");
      const expression = parser.parseExpression();
      parser.expect(";");
      locals.push({ name: local, type, expression });
    }
    parser.expect("return");
    const expression = parser.parseExpression();
    parser.accept(";");
    parser.expect("}");
    parser.accept(";");
    const record = locals.length > 0
      ? { name, params, returnType, locals, expression }
      : { name, params, returnType, expression };
    if (locals.length > 0) parser.mark("hasLocals");
    module.functionList.push(record);
    module.functions.set(name, record);
    module.functionOffsets.set(name, this.offsets[nameIndex]);
    if (effect) module.effectFunctions.add(name);
  }

  readBlock() {
    const parser = this.parser;
    const module = this.module;
    parser.expect("brindlet");
    const nameIndex = parser.name();
    module.name = this.values[nameIndex];
    module.nameOffset = this.offsets[nameIndex];
    parser.expect("{");
    while (!parser.at("}")) {
      const d = parser.cursor;
      switch (parser.kinds[d] === TOKEN_IDENTIFIER ? this.values[d] : "") {
        case "use": this.readUse(); break;
        case "input": this.readSymbol(true); break;
        case "derive": this.readSymbol(false); break;
        case "output": this.readOutput(); break;
        default: this.fail(d, "UNSUPPORTED", `Expected use, input, derive, or output; received ${parser.renderIndex(d)}`);
      }
      parser.accept(";");
    }
    parser.expect("}");
    parser.accept(";");
    const rest = parser.cursor;
    if (parser.kinds[rest] !== TOKEN_EOF) this.fail(rest, "UNSUPPORTED", "Only functions followed by one brindlet module are supported");
    if (module.outputs.length === 0) this.fail(nameIndex, "OUTPUT", "Module requires at least one output");
  }

  readUse() {
    const parser = this.parser;
    parser.skip();
    const nameIndex = parser.name();
    const name = this.values[nameIndex];
    if (this.module.uses.has(name)) this.fail(nameIndex, "DUPLICATE", `Duplicate use ${name}`);
    this.module.uses.add(name);
  }

  readSymbol(isInput) {
    const parser = this.parser;
    const module = this.module;
    parser.skip();
    const nameIndex = parser.name();
    const name = this.values[nameIndex];
    parser.expect(":");
    const type = this.readType();
    if (module.symbols.has(name)) this.fail(nameIndex, "DUPLICATE", `Duplicate input or derive ${name}`);
    if (isInput) {
      if (module.inputs.length >= LIMITS.derives) this.fail(nameIndex, "INPUT_LIMIT", `Input limit is ${LIMITS.derives}`);
      const input = { name, type };
      if (parser.accept("=")) input.defaultExpression = parser.parseExpression();
      module.inputs.push(input);
    } else {
      if (module.derives.length >= LIMITS.derives) this.fail(nameIndex, "DERIVE_LIMIT", `Derive limit is ${LIMITS.derives}`);
      parser.expect("=");
      const start = this.offsets[parser.cursor];
      const expression = parser.parseExpression();
      module.deriveRanges.set(name, Object.freeze({ start, end: parser.previousEnd }));
      module.derives.push({ name, type, expression, dependencies: [] });
    }
    module.symbols.set(name, type);
    module.declarationOffsets.set(name, this.offsets[nameIndex]);
  }

  readOutput() {
    const parser = this.parser;
    const module = this.module;
    parser.skip();
    const nameIndex = parser.name();
    const name = this.values[nameIndex];
    const key = `output:${name}`;
    if (module.declarationOffsets.has(key)) this.fail(nameIndex, "DUPLICATE", `Duplicate output ${name}`);
    module.outputs.push(name);
    module.declarationOffsets.set(key, this.offsets[nameIndex]);
  }
}
