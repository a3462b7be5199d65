// Token-level parser primitives and the expression parser.
//
// API used by the declaration parser and by the pipeline stages (stages.mjs):
//
//   const parser = new Parser(source, tokens)
//                            `tokens`: the lexer's TokenList (scanTokens), or a
//                            list of token records (tokenize), turned into one
//   parser.source, parser.list, parser.cursor      the tokens and the current index
//                            (read-only: move only with next/skip/accept/expect)
//   parser.peek()            current token record (never moves past eof)
//   parser.peekAt(n)         the token record n places after the current one (eof at the end)
//   parser.at(v)             current token's value is v (identifier kind when v starts
//                            with a letter or _, symbol kind otherwise; text tokens never match)
//   parser.accept(v)         at(v) ? step over it and answer true : false
//   parser.expect(v)         accept(v) or fail SYNTAX "Expected v, received <value>"
//   parser.next()            step over the current token and return its record (alias: advance())
//   parser.skip()            step over the current token, returning nothing
//   parser.identifier()      non-keyword identifier token record (stepped over) or IDENTIFIER failure
//   parser.name()            the same check; steps over and returns the index of the token
//   parser.staticReference() identifier() not continued by . [ ( + - * / |> == != < > <= >=
//   parser.numericLiteral()  optional - or + then a number; builds a signed `literal` node
//   parser.parseExpression(minimum = 1, depth = 1)   one expression node
//   parser.node(value, offset)   counts a finished node (NODE_LIMIT), records its anchor
//                                offset in parser.locations, returns the node
//   parser.fail(offset, code, message)   throws CompileDiagnostic (never returns)
//   parser.failAt(token, code, message)  the same at a token record's offset
//   parser.failAtIndex(index, code, message)  the same at the token of that index
//   parser.render(token)     a token record's value as "received ..." shows it
//   parser.mark(feature)     sets a version feature mark, e.g. "hasFilter" (see version.mjs)
//   parser.features          the marks set so far (plain record of booleans)
//   parser.locations         WeakMap node -> anchor offset
//   parser.previousEnd       `end` of the last token stepped over
//
// Token records are built on request only; the parser itself reads the
// parallel arrays of the token list (kinds, values, offsets, ends).
//
// The infix loop hands every `|>` to parseStage(parser, left, pipeToken, depth) from
// stages.mjs after stepping over the pipe token; `depth` is the parse depth of the
// expression the stage belongs to, so stage arguments are parseExpression(1, depth + 1).
import { CompileDiagnostic } from "./diagnostics.mjs";
import { LIMITS } from "./limits.mjs";
import {
  KEYWORDS, TokenList, TOKEN_IDENTIFIER, TOKEN_SYMBOL, TOKEN_TEXT, TOKEN_INT, TOKEN_FLOAT,
} from "./lexer.mjs";
import { parseStage } from "./stages.mjs";

// Operator tables, built by the first Parser: loading the compiler does not
// mean parsing a source.
let PRECEDENCE, STATIC_FOLLOWERS;

function buildOperatorTables() {
  // Binary operators and their precedence; `|>` is the loosest. Only these
  // thirteen spellings are operators (no inherited names).
  PRECEDENCE = Object.assign(Object.create(null), {
    "|>": 1,
    or: 2,
    and: 3,
    "==": 4, "!=": 4,
    ">": 5, ">=": 5, "<": 5, "<=": 5,
    "+": 6, "-": 6,
    "*": 7, "/": 7,
  });
  STATIC_FOLLOWERS = new Set([".", "[", "(", "+", "-", "*", "/", "|>", "==", "!=", "<", ">", "<=", ">="]);
}

const PIPE_PRECEDENCE = 1;

const UNARY_OPERAND_PRECEDENCE = 8;
const MAX_DEPTH = LIMITS.depth;
const MAX_NODES = LIMITS.nodes;
const DEPTH_MESSAGE = `Expression depth limit is ${MAX_DEPTH}`;
const NODE_MESSAGE = `Expression node limit is ${MAX_NODES}`;

export class Parser {
  constructor(source, tokens) {
    if (PRECEDENCE === undefined) buildOperatorTables();
    const list = tokens instanceof TokenList ? tokens : TokenList.fromRecords(source, tokens);
    this.source = source;
    this.list = list;
    this.kinds = list.kinds;
    this.values = list.values;
    this.offsets = list.offsets;
    this.ends = list.ends;
    this.cursor = 0;
    this.last = list.length - 1;
    this.nodeCount = 0;
    this.locations = new WeakMap();
    this.features = Object.create(null);
  }

  get previousEnd() {
    return this.cursor === 0 ? 0 : this.ends[this.cursor - 1];
  }

  fail(offset, code, message) {
    throw new CompileDiagnostic(this.source, offset, code, message);
  }

  failAt(token, code, message) {
    this.fail(token.offset, code, message);
  }

  failAtIndex(index, code, message) {
    this.fail(this.offsets[index], code, message);
  }

  mark(feature) {
    this.features[feature] = true;
  }

  peek() {
    return this.list.record(this.cursor);
  }

  peekAt(n) {
    const index = this.cursor + n;
    return this.list.record(index < this.last ? index : this.last);
  }

  skip() {
    if (this.cursor < this.last) this.cursor += 1;
  }

  next() {
    const token = this.list.record(this.cursor);
    this.skip();
    return token;
  }

  advance() {
    return this.next();
  }

  // A word is only ever the value of an identifier token and a symbol
  // spelling only that of a symbol token, so apart from text tokens (whose
  // decoded value may spell anything) the value alone decides.
  at(v) {
    const cursor = this.cursor;
    return this.values[cursor] === v && this.kinds[cursor] !== TOKEN_TEXT;
  }

  accept(v) {
    const cursor = this.cursor;
    if (this.values[cursor] !== v || this.kinds[cursor] === TOKEN_TEXT) return false;
    if (cursor < this.last) this.cursor = cursor + 1;
    return true;
  }

  render(token) {
    if (token.kind === "number") return this.source.slice(token.offset, token.end);
    return token.value;
  }

  // The value of the token at `index` as "received ..." shows it.
  renderIndex(index) {
    const kind = this.kinds[index];
    if (kind === TOKEN_INT || kind === TOKEN_FLOAT) return this.source.slice(this.offsets[index], this.ends[index]);
    return this.values[index];
  }

  // accept(v), written out: expect is on every path of the grammar.
  expect(v) {
    const cursor = this.cursor;
    if (this.values[cursor] !== v || this.kinds[cursor] === TOKEN_TEXT) {
      this.failAtIndex(cursor, "SYNTAX", `Expected ${v}, received ${this.renderIndex(cursor)}`);
    }
    if (cursor < this.last) this.cursor = cursor + 1;
  }

  isKeyword(token) {
    return token.kind === "identifier" && KEYWORDS.has(token.value);
  }

  // Checks that the current token is a non-keyword identifier, steps over it
  // and returns its index.
  name() {
    const cursor = this.cursor;
    if (this.kinds[cursor] !== TOKEN_IDENTIFIER || KEYWORDS.has(this.values[cursor])) {
      this.failAtIndex(cursor, "IDENTIFIER", "Expected a non-reserved identifier");
    }
    this.cursor = cursor + 1; // never eof: that is no identifier
    return cursor;
  }

  identifier() {
    return this.list.record(this.name());
  }

  staticReference() {
    const token = this.identifier();
    const following = this.cursor;
    // Matched by value alone, as the rule is written.
    const value = this.values[following];
    if (typeof value === "string" && STATIC_FOLLOWERS.has(value)) {
      this.failAtIndex(following, "IDENTIFIER", "Static metadata requires one bare identifier");
    }
    return token;
  }

  numericLiteral() {
    let sign = 1;
    let anchor = -1;
    if (this.at("-") || this.at("+")) {
      anchor = this.cursor;
      if (this.values[anchor] === "-") sign = -1;
      this.skip();
    }
    const index = this.cursor;
    const kind = this.kinds[index];
    if (kind !== TOKEN_INT && kind !== TOKEN_FLOAT) this.failAtIndex(index, "SYNTAX", "Expected numeric literal");
    this.skip();
    const type = kind === TOKEN_INT ? "Int" : "Float";
    return this.node({ kind: "literal", value: sign * this.values[index], type }, this.offsets[anchor === -1 ? index : anchor]);
  }

  node(value, offset) {
    const count = this.nodeCount + 1;
    this.nodeCount = count;
    if (count > MAX_NODES) this.fail(offset, "NODE_LIMIT", NODE_MESSAGE);
    this.locations.set(value, offset);
    return value;
  }

  parseExpression(minimum = 1, depth = 1) {
    if (depth > MAX_DEPTH) this.failAtIndex(this.cursor, "DEPTH_LIMIT", DEPTH_MESSAGE);
    return this.parseInfix(this.parsePrefix(depth), minimum, depth);
  }

  // The infix loop of parseExpression: extends `left` with every operator of
  // precedence at least `minimum`.
  parseInfix(left, minimum, depth) {
    const kinds = this.kinds;
    const values = this.values;
    for (;;) {
      const index = this.cursor;
      const kind = kinds[index];
      // Operators are symbols, or the identifiers `and` and `or`; no symbol
      // spells a word, so the spelling alone then picks the operator.
      if (kind !== TOKEN_SYMBOL && kind !== TOKEN_IDENTIFIER) return left;
      const operator = values[index];
      const precedence = PRECEDENCE[operator];
      if (precedence === undefined || precedence < minimum) return left;
      this.cursor = index + 1; // an operator is never the eof token
      if (precedence === PIPE_PRECEDENCE) {
        left = parseStage(this, left, this.list.record(index), depth);
      } else {
        const right = this.parseExpression(precedence + 1, depth + 1);
        left = this.node({ kind: "binary", operator, left, right }, this.offsets[index]);
      }
    }
  }

  // A run of opening parentheses, read in one loop instead of one recursion
  // per level: each `(` opens parseExpression(1, depth + 1) of the level
  // before it, with the same depth checks and the same order of failures.
  parseParenthesized(depth) {
    const kinds = this.kinds;
    const values = this.values;
    let inner = depth;
    let cursor = this.cursor;
    do {
      cursor += 1; // a "(" is never the eof token
      inner += 1;
      if (inner > MAX_DEPTH) this.failAtIndex(cursor, "DEPTH_LIMIT", DEPTH_MESSAGE);
    } while (values[cursor] === "(" && kinds[cursor] === TOKEN_SYMBOL);
    this.cursor = cursor;
    let expression = this.parsePrefix(inner);
    for (let level = inner; level > depth; level -= 1) {
      if (kinds[this.cursor] === TOKEN_SYMBOL && values[this.cursor] === ")") {
        // ")" ends the infix loop at once and is what expect(")") wants.
        this.cursor += 1;
      } else {
        expression = this.parseInfix(expression, 1, level);
        this.expect(")");
      }
    }
    return expression;
  }

  // Every token a prefix form starts with is stepped over by moving the
  // cursor directly: none of them is the eof token.
  parsePrefix(depth) {
    const index = this.cursor;
    const value = this.values[index];
    switch (this.kinds[index]) {
      case TOKEN_IDENTIFIER:
        if (!KEYWORDS.has(value)) return this.parseName(index, depth);
        switch (value) {
          case "not": return this.parseUnary(index, depth);
          case "yes":
          case "no":
            this.cursor = index + 1;
            return this.node({ kind: "literal", value, type: "Truth" }, this.offsets[index]);
          case "unknown":
            this.cursor = index + 1;
            return this.node({ kind: "literal", value: null, type: "Unknown" }, this.offsets[index]);
          default:
            break;
        }
        break;
      case TOKEN_INT:
        this.cursor = index + 1;
        return this.node({ kind: "literal", value, type: "Int" }, this.offsets[index]);
      case TOKEN_FLOAT:
        this.cursor = index + 1;
        return this.node({ kind: "literal", value, type: "Float" }, this.offsets[index]);
      case TOKEN_TEXT:
        this.cursor = index + 1;
        return this.node({ kind: "literal", value, type: "Text" }, this.offsets[index]);
      case TOKEN_SYMBOL:
        switch (value) {
          case "(": return this.parseParenthesized(depth);
          case "-": return this.parseUnary(index, depth);
          case "{": return this.parseRecord(index, depth);
          case "[": return this.parseArray(index, depth);
          default: break;
        }
        break;
      default:
        break;
    }
    return this.failAtIndex(index, "EXPRESSION", `Expected expression, received ${this.renderIndex(index)}`);
  }

  parseUnary(index, depth) {
    this.skip();
    const value = this.parseExpression(UNARY_OPERAND_PRECEDENCE, depth + 1);
    return this.node({ kind: "unary", operator: this.values[index], value }, this.offsets[index]);
  }

  parseRecord(open, depth) {
    this.skip();
    const fields = [];
    const seen = new Set();
    if (!this.at("}")) {
      do {
        const key = this.cursor;
        if (fields.length >= LIMITS.recordFields) {
          this.failAtIndex(key, "RECORD_FIELD_LIMIT", `Record literal field limit is ${LIMITS.recordFields}`);
        }
        const kind = this.kinds[key];
        if (kind !== TOKEN_IDENTIFIER && kind !== TOKEN_TEXT) {
          this.failAtIndex(key, "RECORD_KEY", "Record keys require an identifier or Text literal");
        }
        this.skip();
        const name = this.values[key];
        if (seen.has(name)) this.failAtIndex(key, "DUPLICATE", "Duplicate Record literal key");
        seen.add(name);
        this.expect(":");
        const expression = this.parseExpression(1, depth + 1);
        fields.push({ key: name, expression });
      } while (this.accept(","));
    }
    this.expect("}");
    return this.node({ kind: "record", fields }, this.offsets[open]);
  }

  parseArray(open, depth) {
    this.skip();
    const items = [];
    if (!this.at("]")) {
      do {
        if (items.length >= LIMITS.arrayItems) {
          this.failAtIndex(this.cursor, "ARRAY_LIMIT", `Array literal limit is ${LIMITS.arrayItems} items`);
        }
        items.push(this.parseExpression(1, depth + 1));
      } while (this.accept(","));
    }
    this.expect("]");
    return this.node({ kind: "array", items }, this.offsets[open]);
  }

  parseName(first, depth) {
    const values = this.values;
    const kinds = this.kinds;
    let cursor = first + 1;
    let name = values[first];
    let dotted = false;
    if (values[cursor] === "." && kinds[cursor] === TOKEN_SYMBOL) {
      this.cursor = cursor + 1;
      name = `${name}.${values[this.name()]}`;
      dotted = true;
      cursor = this.cursor;
    }
    if (values[cursor] === "(" && kinds[cursor] === TOKEN_SYMBOL) {
      this.cursor = cursor + 1;
      const args = [];
      if (!this.at(")")) {
        do {
          if (args.length >= LIMITS.params) {
            this.failAtIndex(this.cursor, "ARGUMENT_LIMIT", `Call argument limit is ${LIMITS.params}`);
          }
          args.push(this.parseExpression(1, depth + 1));
        } while (this.accept(","));
      }
      this.expect(")");
      return this.node({ kind: "call", name, args }, this.offsets[first]);
    }
    this.cursor = cursor;
    if (dotted) this.failAtIndex(first, "UNSUPPORTED", "Module members must be called");
    return this.node({ kind: "ref", name }, this.offsets[first]);
  }
}
