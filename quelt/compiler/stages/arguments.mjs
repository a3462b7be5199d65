// The argument readers that stages use besides plain expressions and the
// parser's own numericLiteral(): the literal key of `field`, the comparison or operator
// token of `keep` / `map`, and the static descriptor of `checkFields`.
import { isReaderDomain } from "../types.mjs";
import { utf8Length } from "../lexer.mjs";

const FIELD_KEY_UTF8_LIMIT = 65536;

// Anchor offset of a node built by the parser; 0 when it has none.
function offsetOf(parser, node) {
  return parser.locations.get(node) ?? 0;
}

// The comparison of `keep` or the operator of `map`: matched by the token's
// value alone, whatever its kind.
export function operatorChoice(parser, choices, message) {
  const token = parser.peek();
  const value = token.value;
  if (typeof value !== "string" || !Object.hasOwn(choices, value)) parser.fail(token.offset, "PIPELINE", message);
  parser.next();
  return choices[value];
}

// One text token whose value is at most 65536 UTF-8 bytes long.
export function fieldKey(parser) {
  const token = parser.peek();
  if (token.kind !== "text" || utf8Length(token.value) > FIELD_KEY_UTF8_LIMIT) {
    parser.fail(token.offset, "SCHEMA_FIELD", "field requires one bounded literal Text key");
  }
  parser.next();
  return token.value;
}

// Turns the already parsed descriptor expression of `checkFields` into its
// list of {key, type}. The descriptor's own nodes are dropped.
export function fieldDescriptor(parser, descriptor) {
  if (descriptor.kind !== "record") {
    parser.fail(offsetOf(parser, descriptor), "FIELD_SCHEMA", "checkFields requires a static Record literal descriptor");
  }
  const fields = [];
  for (const field of descriptor.fields) {
    const value = field.expression;
    if (value.kind !== "literal" || value.type !== "Text" || !isReaderDomain(value.value)) {
      parser.fail(
        offsetOf(parser, value),
        "FIELD_SCHEMA",
        "checkFields field types require exact required reader-domain Text literals",
      );
    }
    fields.push({ key: field.key, type: value.value });
  }
  return fields;
}
