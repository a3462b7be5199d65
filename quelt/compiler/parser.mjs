// Token-level parser primitives and the expression parser.
//
// API used by the declaration parser and by the pipeline stages (stages.mjs):
//
//   const parser = new Parser(source, tokens)
//   parser.source, parser.tokens, parser.cursor      the token list and the current index
//                            (read-only: move only with next/accept/expect)
//   parser.peek()            current token (never moves past eof)
//   parser.peekAt(n)         the token n places after the current one (eof at the end)
//   parser.at(v)             current token's value is v (identifier kind when v starts
//                            with a letter or _, symbol kind otherwise; text tokens never match)
//   parser.accept(v)         at(v) ? step over it and answer true : false
//   parser.expect(v)         accept(v) or fail SYNTAX "Expected v, received <value>"
//   parser.next()            step over the current token and return it (alias: advance())
//   parser.identifier()      non-keyword identifier token (stepped over) or IDENTIFIER failure
//   parser.staticReference() identifier() not continued by . [ ( + - * / |> == != < > <= >=
//   parser.numericLiteral()  optional - or + then a number; builds a signed `literal` node
//   parser.parseExpression(minimum = 1, depth = 1)   one expression node
//   parser.node(value, offset)   counts a finished node (NODE_LIMIT), records its anchor
//                                offset in parser.locations, returns the node
//   parser.fail(offset, code, message)   throws CompileDiagnostic (never returns)
//   parser.failAt(token, code, message)  the same at a token's offset
//   parser.render(token)     a token's value as "received ..." shows it
//   parser.mark(feature)     sets a version feature mark, e.g. "hasFilter" (see version.mjs)
//   parser.features          the marks set so far (plain record of booleans)
//   parser.locations         WeakMap node -> anchor offset
//   parser.previousEnd       `end` of the last token stepped over
//
// The infix loop hands every `|>` to parseStage(parser, left, pipeToken, depth) from
// stages.mjs after stepping over the pipe token; `depth` is the parse depth of the
// expression the stage belongs to, so stage arguments are parseExpression(1, depth + 1).
import { CompileDiagnostic } from "./diagnostics.mjs";
import { LIMITS } from "./limits.mjs";
import { KEYWORDS } from "./lexer.mjs";
import { parseStage } from "./stages.mjs";

// Binary operators and their precedence; `|>` is the loosest.
function precedenceOf(token) {
  const value = token.value;
  if (token.kind === "identifier") {
    if (value === "or") return 2;
    if (value === "and") return 3;
    return 0;
  }
  if (token.kind !== "symbol") return 0;
  switch (value) {
    case "|>": return 1;
    case "==": case "!=": return 4;
    case ">": case ">=": case "<": case "<=": return 5;
    case "+": case "-": return 6;
    case "*": case "/": return 7;
    default: return 0;
  }
}

const STATIC_FOLLOWERS = new Set([".", "[", "(", "+", "-", "*", "/", "|>", "==", "!=", "<", ">", "<=", ">="]);
const UNARY_OPERAND_PRECEDENCE = 8;

export class Parser {
  constructor(source, tokens) {
    this.source = source;
    this.tokens = tokens;
    this.cursor = 0;
    this.token = tokens[0];
    this.last = tokens.length - 1;
    this.nodeCount = 0;
    this.locations = new WeakMap();
    this.features = Object.create(null);
    this.previousEnd = 0;
  }

  fail(offset, code, message) {
    throw new CompileDiagnostic(this.source, offset, code, message);
  }

  failAt(token, code, message) {
    this.fail(token.offset, code, message);
  }

  mark(feature) {
    this.features[feature] = true;
  }

  peek() {
    return this.token;
  }

  peekAt(n) {
    const index = this.cursor + n;
    return this.tokens[index < this.last ? index : this.last];
  }

  next() {
    const token = this.token;
    if (this.cursor < this.last) {
      this.cursor += 1;
      this.previousEnd = token.end;
      this.token = this.tokens[this.cursor];
    }
    return token;
  }

  advance() {
    return this.next();
  }

  // A word is only ever the value of an identifier token and a symbol
  // spelling only that of a symbol token, so apart from text tokens (whose
  // decoded value may spell anything) the value alone decides.
  at(v) {
    const token = this.token;
    return token.value === v && token.kind !== "text";
  }

  accept(v) {
    const token = this.token;
    if (token.value !== v || token.kind === "text") return false;
    this.next();
    return true;
  }

  render(token) {
    if (token.kind === "number") return this.source.slice(token.offset, token.end);
    return token.value;
  }

  expect(v) {
    if (!this.accept(v)) {
      const token = this.peek();
      this.failAt(token, "SYNTAX", `Expected ${v}, received ${this.render(token)}`);
    }
  }

  isKeyword(token) {
    return token.kind === "identifier" && KEYWORDS.has(token.value);
  }

  identifier() {
    const token = this.peek();
    if (token.kind !== "identifier" || KEYWORDS.has(token.value)) {
      this.failAt(token, "IDENTIFIER", "Expected a non-reserved identifier");
    }
    return this.next();
  }

  staticReference() {
    const token = this.identifier();
    const following = this.peek();
    // Matched by value alone, as the rule is written.
    if (typeof following.value === "string" && STATIC_FOLLOWERS.has(following.value)) {
      this.failAt(following, "IDENTIFIER", "Static metadata requires one bare identifier");
    }
    return token;
  }

  numericLiteral() {
    let sign = 1;
    let anchor = null;
    if (this.at("-") || this.at("+")) {
      anchor = this.next();
      if (anchor.value === "-") sign = -1;
    }
    const token = this.peek();
    if (token.kind !== "number") this.failAt(token, "SYNTAX", "Expected numeric literal");
    this.next();
    const number = token.value;
    return this.node({ kind: "literal", value: sign * number.value, type: number.type }, (anchor || token).offset);
  }

  node(value, offset) {
    this.nodeCount += 1;
    if (this.nodeCount > LIMITS.nodes) {
      this.fail(offset, "NODE_LIMIT", `Expression node limit is ${LIMITS.nodes}`);
    }
    this.locations.set(value, offset);
    return value;
  }

  parseExpression(minimum = 1, depth = 1) {
    if (depth > LIMITS.depth) {
      this.failAt(this.peek(), "DEPTH_LIMIT", `Expression depth limit is ${LIMITS.depth}`);
    }
    let left = this.parsePrefix(depth);
    for (;;) {
      const token = this.peek();
      const precedence = precedenceOf(token);
      if (precedence === 0 || precedence < minimum) return left;
      this.next();
      if (precedence === 1) {
        left = parseStage(this, left, token, depth);
      } else {
        const right = this.parseExpression(precedence + 1, depth + 1);
        left = this.node({ kind: "binary", operator: token.value, left, right }, token.offset);
      }
    }
  }

  parsePrefix(depth) {
    const token = this.peek();
    switch (token.kind) {
      case "number":
        this.next();
        return this.node({ kind: "literal", value: token.value.value, type: token.value.type }, token.offset);
      case "text":
        this.next();
        return this.node({ kind: "literal", value: token.value, type: "Text" }, token.offset);
      case "symbol":
        switch (token.value) {
          case "-": return this.parseUnary(token, depth);
          case "(": {
            this.next();
            const inner = this.parseExpression(1, depth + 1);
            this.expect(")");
            return inner;
          }
          case "{": return this.parseRecord(token, depth);
          case "[": return this.parseArray(token, depth);
          default: break;
        }
        break;
      case "identifier":
        switch (token.value) {
          case "not": return this.parseUnary(token, depth);
          case "yes":
          case "no":
            this.next();
            return this.node({ kind: "literal", value: token.value, type: "Truth" }, token.offset);
          case "unknown":
            this.next();
            return this.node({ kind: "literal", value: null, type: "Unknown" }, token.offset);
          default:
            if (!KEYWORDS.has(token.value)) return this.parseName(token, depth);
        }
        break;
      default:
        break;
    }
    return this.failAt(token, "EXPRESSION", `Expected expression, received ${this.render(token)}`);
  }

  parseUnary(token, depth) {
    this.next();
    const value = this.parseExpression(UNARY_OPERAND_PRECEDENCE, depth + 1);
    return this.node({ kind: "unary", operator: token.value, value }, token.offset);
  }

  parseRecord(open, depth) {
    this.next();
    const fields = [];
    const seen = new Set();
    if (!this.at("}")) {
      do {
        const key = this.peek();
        if (fields.length >= LIMITS.recordFields) {
          this.failAt(key, "RECORD_FIELD_LIMIT", `Record literal field limit is ${LIMITS.recordFields}`);
        }
        if (key.kind !== "identifier" && key.kind !== "text") {
          this.failAt(key, "RECORD_KEY", "Record keys require an identifier or Text literal");
        }
        this.next();
        if (seen.has(key.value)) this.failAt(key, "DUPLICATE", "Duplicate Record literal key");
        seen.add(key.value);
        this.expect(":");
        const expression = this.parseExpression(1, depth + 1);
        fields.push({ key: key.value, expression });
      } while (this.accept(","));
    }
    this.expect("}");
    return this.node({ kind: "record", fields }, open.offset);
  }

  parseArray(open, depth) {
    this.next();
    const items = [];
    if (!this.at("]")) {
      do {
        if (items.length >= LIMITS.arrayItems) {
          this.failAt(this.peek(), "ARRAY_LIMIT", `Array literal limit is ${LIMITS.arrayItems} items`);
        }
        items.push(this.parseExpression(1, depth + 1));
      } while (this.accept(","));
    }
    this.expect("]");
    return this.node({ kind: "array", items }, open.offset);
  }

  parseName(first, depth) {
    this.next();
    let name = first.value;
    let dotted = false;
    if (this.accept(".")) {
      name = `${name}.${this.identifier().value}`;
      dotted = true;
    }
    if (this.accept("(")) {
      const args = [];
      if (!this.at(")")) {
        do {
          if (args.length >= LIMITS.params) {
            this.failAt(this.peek(), "ARGUMENT_LIMIT", `Call argument limit is ${LIMITS.params}`);
          }
          args.push(this.parseExpression(1, depth + 1));
        } while (this.accept(","));
      }
      this.expect(")");
      return this.node({ kind: "call", name, args }, first.offset);
    }
    if (dotted) this.failAt(first, "UNSUPPORTED", "Module members must be called");
    return this.node({ kind: "ref", name }, first.offset);
  }
}
