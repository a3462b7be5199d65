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
import { BUILTINS } from "./lexer.mjs";

const BASES = new Set(["Int", "Float", "Text", "Truth", "Record"]);
const READER_DOMAINS = new Set(Object.values(RECORD_READ_TYPES));
const INTERNAL_TYPES = new Set(["Unknown", "EmptyArray"]);
const TYPE_MESSAGE = "Expected Int, Float, Text, Truth, or Record type";
const TEXT_KEY_UTF8_LIMIT = 65536;

// Whether the module declares any schema or Result, judged from the leading
// declarations only; it selects how annotations are read everywhere.
export function declaresNamedTypes(tokens) {
  const last = tokens.length - 1;
  let i = 0;
  while (i < last) {
    const token = tokens[i];
    if (token.kind !== "identifier") return false;
    const value = token.value;
    if (value === "effect" && tokens[i + 1].kind === "identifier" && tokens[i + 1].value === "fn") {
      i += 1;
      continue;
    }
    if (value === "result" || value === "schema") return true;
    if (value !== "fn") return false;
    while (i < last && !(tokens[i].kind === "symbol" && tokens[i].value === "{")) i += 1;
    if (i >= last) return false;
    let open = 0;
    do {
      const t = tokens[i];
      if (t.kind === "symbol") {
        if (t.value === "{") open += 1;
        else if (t.value === "}") open -= 1;
      }
      i += 1;
    } while (open > 0 && i < last);
    if (open > 0) return false;
    if (tokens[i].kind === "symbol" && tokens[i].value === ";") i += 1;
  }
  return false;
}

function utf8Length(text) {
  let bytes = 0;
  for (let i = 0; i < text.length; i += 1) {
    const unit = text.charCodeAt(i);
    if (unit < 0x80) bytes += 1;
    else if (unit < 0x800) bytes += 2;
    else if (unit >= 0xd800 && unit <= 0xdbff && i + 1 < text.length && (text.charCodeAt(i + 1) & 0xfc00) === 0xdc00) {
      bytes += 4;
      i += 1;
    } else bytes += 3;
  }
  return bytes;
}

export function parseModule(parser) {
  const module = {
    source: parser.source,
    named: declaresNamedTypes(parser.tokens),
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

class DeclarationReader {
  constructor(parser, module) {
    this.parser = parser;
    this.module = module;
  }

  fail(token, code, message) {
    this.parser.failAt(token, code, message);
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
    const next = this.parser.peekAt(1);
    return this.parser.at("effect") && next.kind === "identifier" && next.value === "fn";
  }

  // Function, schema and Result names share one namespace.
  takenName(name) {
    const module = this.module;
    return BUILTINS.has(name) || module.functions.has(name) || module.schemas.has(name) || module.results.has(name);
  }

  readType() {
    const parser = this.parser;
    const token = parser.next();
    const named = token.kind === "identifier" && !BASES.has(token.value);
    if (token.kind !== "identifier" || (named && !this.module.named)) this.fail(token, "TYPE", TYPE_MESSAGE);
    let text = token.value;
    if (parser.token.value === "[" && parser.accept("[")) {
      parser.expect("]");
      text += "[]";
    }
    if (parser.token.value === "?" && parser.accept("?")) text += "?";
    if (named) this.module.annotationRefs.push({ value: text, offset: token.offset });
    return text;
  }

  readDomain(code, message) {
    const parser = this.parser;
    const first = parser.peek();
    if (first.kind !== "identifier") this.fail(first, code, message);
    parser.next();
    let text = first.value;
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
    parser.next();
    if (module.resultList.length >= RESULT_LIMITS.results) {
      this.fail(parser.peek(), "RESULT_LIMIT", `Result limit is ${RESULT_LIMITS.results}`);
    }
    const name = parser.identifier();
    if (INTERNAL_TYPES.has(name.value) || this.takenName(name.value)) {
      this.fail(name, "DUPLICATE", `Duplicate or reserved Result ${name.value}`);
    }
    parser.expect(":");
    const successType = this.readDomain("RESULT_SUCCESS_TYPE", "Result success requires one required old domain");
    parser.accept(";");
    const record = { name: name.value, successType };
    module.resultList.push(record);
    module.results.set(name.value, record);
  }

  readSchema() {
    const parser = this.parser;
    const module = this.module;
    parser.next();
    if (module.schemaList.length >= NAMED_RECORD_SCHEMA_LIMITS.schemas) {
      this.fail(parser.peek(), "SCHEMA_LIMIT", `Schema limit is ${NAMED_RECORD_SCHEMA_LIMITS.schemas}`);
    }
    const name = parser.identifier();
    if (INTERNAL_TYPES.has(name.value) || this.takenName(name.value)) {
      this.fail(name, "DUPLICATE", `Duplicate or reserved schema ${name.value}`);
    }
    parser.expect("{");
    const fields = [];
    const keys = new Set();
    if (!parser.at("}")) {
      do {
        if (fields.length >= NAMED_RECORD_SCHEMA_LIMITS.fields || module.schemaFieldTotal >= NAMED_RECORD_SCHEMA_LIMITS.totalFields) {
          this.fail(parser.peek(), "SCHEMA_LIMIT", `Schema field limit is ${NAMED_RECORD_SCHEMA_LIMITS.fields}`);
        }
        if (parser.at("}")) this.fail(parser.peek(), "SYNTAX", "Schema fields do not permit a trailing comma");
        const key = parser.peek();
        if (!(key.kind === "identifier" || (key.kind === "text" && utf8Length(key.value) <= TEXT_KEY_UTF8_LIMIT))) {
          this.fail(key, "SCHEMA_FIELD", "Schema keys require a bounded identifier or literal Text");
        }
        parser.next();
        if (keys.has(key.value)) this.fail(key, "DUPLICATE", "Duplicate schema field key");
        keys.add(key.value);
        parser.expect(":");
        const type = this.readDomain("SCHEMA_FIELD_TYPE", "Schema fields require one required reader domain");
        fields.push({ key: key.value, type });
        module.schemaFieldTotal += 1;
      } while (parser.accept(","));
    }
    parser.expect("}");
    parser.accept(";");
    if (fields.length === 0) this.fail(name, "SCHEMA_LIMIT", "A schema requires at least one field");
    const record = { name: name.value, fields };
    module.schemaList.push(record);
    module.schemas.set(name.value, record);
  }

  readFunction() {
    const parser = this.parser;
    const module = this.module;
    const effect = this.effectPrefix();
    if (effect) parser.next();
    parser.expect("fn");
    if (module.functionList.length >= LIMITS.functions) {
      this.fail(parser.peek(), "FUNCTION_LIMIT", `Function limit is ${LIMITS.functions}`);
    }
    const name = parser.identifier();
    if (this.takenName(name.value)) this.fail(name, "DUPLICATE", `Duplicate or reserved function ${name.value}`);
    parser.expect("(");
    const params = [];
    const names = new Set();
    if (!parser.at(")")) {
      do {
        if (params.length >= LIMITS.params) this.fail(parser.peek(), "PARAMETER_LIMIT", `Parameter limit is ${LIMITS.params}`);
        const param = parser.identifier();
        parser.expect(":");
        if (names.has(param.value)) this.fail(param, "DUPLICATE", `Duplicate parameter ${param.value}`);
        names.add(param.value);
        params.push({ name: param.value, type: this.readType() });
      } while (parser.accept(","));
    }
    parser.expect(")");
    parser.expect("->");
    const returnType = this.readType();
    parser.expect("{");
    const locals = [];
    while (parser.accept("let")) {
      if (locals.length >= FUNCTION_LOCAL_LIMITS.locals) {
        this.fail(parser.peek(), "FUNCTION_LOCAL_LIMIT", `Local declaration limit is ${FUNCTION_LOCAL_LIMITS.locals}`);
      }
      const local = parser.identifier();
      if (names.has(local.value)) this.fail(local, "DUPLICATE", `Duplicate parameter or local ${local.value}`);
      names.add(local.value);
      parser.expect(":");
      const type = this.readType();
      parser.expect("=");
      const expression = parser.parseExpression();
      parser.expect(";");
      locals.push({ name: local.value, type, expression });
    }
    parser.expect("return");
    const expression = parser.parseExpression();
    parser.accept(";");
    parser.expect("}");
    parser.accept(";");
    const record = locals.length > 0
      ? { name: name.value, params, returnType, locals, expression }
      : { name: name.value, params, returnType, expression };
    if (locals.length > 0) parser.mark("hasLocals");
    module.functionList.push(record);
    module.functions.set(name.value, record);
    module.functionOffsets.set(name.value, name.offset);
    if (effect) module.effectFunctions.add(name.value);
  }

  readBlock() {
    const parser = this.parser;
    const module = this.module;
    parser.expect("brindlet");
    const name = parser.identifier();
    module.name = name.value;
    module.nameOffset = name.offset;
    parser.expect("{");
    while (!parser.at("}")) {
      const d = parser.peek();
      switch (d.kind === "identifier" ? d.value : "") {
        case "use": this.readUse(); break;
        case "input": this.readSymbol(true); break;
        case "derive": this.readSymbol(false); break;
        case "output": this.readOutput(); break;
        default: this.fail(d, "UNSUPPORTED", `Expected use, input, derive, or output; received ${parser.render(d)}`);
      }
      parser.accept(";");
    }
    parser.expect("}");
    parser.accept(";");
    const rest = parser.peek();
    if (rest.kind !== "eof") this.fail(rest, "UNSUPPORTED", "Only functions followed by one brindlet module are supported");
    if (module.outputs.length === 0) this.fail(name, "OUTPUT", "Module requires at least one output");
  }

  readUse() {
    const parser = this.parser;
    parser.next();
    const name = parser.identifier();
    if (this.module.uses.has(name.value)) this.fail(name, "DUPLICATE", `Duplicate use ${name.value}`);
    this.module.uses.add(name.value);
  }

  readSymbol(isInput) {
    const parser = this.parser;
    const module = this.module;
    parser.next();
    const name = parser.identifier();
    parser.expect(":");
    const type = this.readType();
    if (module.symbols.has(name.value)) this.fail(name, "DUPLICATE", `Duplicate input or derive ${name.value}`);
    if (isInput) {
      if (module.inputs.length >= LIMITS.derives) this.fail(name, "INPUT_LIMIT", `Input limit is ${LIMITS.derives}`);
      const input = { name: name.value, type };
      if (parser.accept("=")) input.defaultExpression = parser.parseExpression();
      module.inputs.push(input);
    } else {
      if (module.derives.length >= LIMITS.derives) this.fail(name, "DERIVE_LIMIT", `Derive limit is ${LIMITS.derives}`);
      parser.expect("=");
      const start = parser.peek().offset;
      const expression = parser.parseExpression();
      module.deriveRanges.set(name.value, Object.freeze({ start, end: parser.previousEnd }));
      module.derives.push({ name: name.value, type, expression, dependencies: [] });
    }
    module.symbols.set(name.value, type);
    module.declarationOffsets.set(name.value, name.offset);
  }

  readOutput() {
    const parser = this.parser;
    const module = this.module;
    parser.next();
    const name = parser.identifier();
    const key = `output:${name.value}`;
    if (module.declarationOffsets.has(key)) this.fail(name, "DUPLICATE", `Duplicate output ${name.value}`);
    module.outputs.push(name.value);
    module.declarationOffsets.set(key, name.offset);
  }
}
