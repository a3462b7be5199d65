// Type texts: the notation B, B[], B?, B[]? over the bases Int, Float, Text,
// Truth, Record, plus declared schema/Result names (bare only) and the
// internal types Unknown (the literal `unknown`) and EmptyArray (`[]`).
//
// Exports (all pure; none of the four core operations ever throws)
//   BASES, PRIMITIVES            frozen arrays of the 5 bases / the 4 non-Record bases
//   isBase(name), isPrimitive(name)
//   READER_DOMAINS               frozen array of the 10 non-optional built-in types
//   isReaderDomain(type)         true for those ten texts
//   parts(type) -> {optional, array, base, plain}
//       optional: ends with "?"; plain: one trailing "?" removed;
//       array: plain ends with "[]"; base: plain with one trailing "[]" removed.
//   validType(type) -> boolean   a string whose base is a built-in base
//   assignable(from, to) -> boolean
//   common(a, b) -> type text | null
//   isNumeric(type)              Unknown, or a non-array Int/Float (optional allowed)
//   isScalar(type)               exactly Int, Float, Text, Truth or Record
//
// Annotations (used by the parser)
//   readAnnotation(parser, namedMode, annotationRefs) -> type text
//     Reads `identifier ([ ])? ??` from the parser's token stream. `parser`
//     must provide peek() (current token), advance() (move past it),
//     accept(value) -> boolean, expect(value) (throws the SYNTAX
//     expected-token failure) and fail(offset, code, message) (throws).
//     Plain mode (namedMode false): the identifier must be a base, else TYPE
//     "Expected Int, Float, Text, Truth, or Record type" at it. Named mode:
//     any other identifier is a named type and {value: text, offset} is
//     pushed onto annotationRefs for checkNamedAnnotations.
//   checkNamedAnnotations(annotationRefs, results, schemas, fail)
//     Post-parse check of recorded named annotations, in order; `results`
//     and `schemas` are anything with has(name) (the parser's maps).
//     Raises RESULT_TYPE, TYPE "Unknown annotation type <text>" or
//     SCHEMA_TYPE at the annotation's offset.

export const BASES = Object.freeze(["Int", "Float", "Text", "Truth", "Record"]);
export const PRIMITIVES = Object.freeze(["Int", "Float", "Text", "Truth"]);
export const READER_DOMAINS = Object.freeze([
  "Int", "Float", "Text", "Truth", "Record",
  "Int[]", "Float[]", "Text[]", "Truth[]", "Record[]",
]);

export function isBase(name) {
  return name === "Int" || name === "Float" || name === "Text" || name === "Truth" || name === "Record";
}

export function isPrimitive(name) {
  return name === "Int" || name === "Float" || name === "Text" || name === "Truth";
}

export function isReaderDomain(type) {
  return READER_DOMAINS.includes(type);
}

export function parts(type) {
  const optional = type.endsWith("?");
  const plain = optional ? type.slice(0, -1) : type;
  const array = plain.endsWith("[]");
  const base = array ? plain.slice(0, -2) : plain;
  return { optional, array, base, plain };
}

export function validType(type) {
  return typeof type === "string" && isBase(parts(type).base);
}

export function assignable(from, to) {
  const t = parts(to);
  if (from === "Unknown") return t.optional || (!t.array && t.base === "Truth");
  if (from === "EmptyArray") return t.array;
  const s = parts(from);
  if (s.optional && !t.optional) return false;
  if (s.array !== t.array) return false;
  return s.base === t.base || (s.base === "Int" && t.base === "Float");
}

function isNumericBase(base) {
  return base === "Int" || base === "Float";
}

export function common(a, b) {
  if (a === b) return a;
  if (a === "Unknown") {
    if (b === "EmptyArray") return null;
    const y = parts(b);
    if (!y.array && y.base === "Truth") return b;
    return `${y.plain}?`;
  }
  if (b === "Unknown") return common(b, a);
  if (a === "EmptyArray") return b.endsWith("[]") || b.endsWith("[]?") ? b : null;
  if (b === "EmptyArray") return common(b, a);
  const x = parts(a);
  const y = parts(b);
  if (x.array !== y.array) return null;
  let base;
  if (x.base === y.base) base = x.base;
  else if (isNumericBase(x.base) && isNumericBase(y.base)) base = "Float";
  else return null;
  return base + (x.array ? "[]" : "") + (x.optional || y.optional ? "?" : "");
}

export function isNumeric(type) {
  if (type === "Unknown") return true;
  const p = parts(type);
  return !p.array && isNumericBase(p.base);
}

export function isScalar(type) {
  return isBase(type);
}

// ---------------------------------------------------------------------------
// Annotations

const EXPECTED_BASE = "Expected Int, Float, Text, Truth, or Record type";

export function readAnnotation(parser, namedMode, annotationRefs) {
  const first = parser.peek();
  if (first.kind !== "identifier") parser.fail(first.offset, "TYPE", EXPECTED_BASE);
  const named = !isBase(first.value);
  if (named && !namedMode) parser.fail(first.offset, "TYPE", EXPECTED_BASE);
  parser.advance();
  let text = first.value;
  if (parser.accept("[")) {
    parser.expect("]");
    text += "[]";
  }
  if (parser.accept("?")) text += "?";
  if (named) annotationRefs.push({ value: text, offset: first.offset });
  return text;
}

export function checkNamedAnnotations(annotationRefs, results, schemas, fail) {
  for (const ref of annotationRefs) {
    const p = parts(ref.value);
    const decorated = p.array || p.optional;
    if (results.has(p.base)) {
      if (decorated) fail(ref.offset, "RESULT_TYPE", "Named Results require a nonoptional scalar type");
    } else if (!schemas.has(p.base)) {
      fail(ref.offset, "TYPE", `Unknown annotation type ${ref.value}`);
    } else if (decorated) {
      fail(ref.offset, "SCHEMA_TYPE", "Named schemas require a nonoptional scalar type");
    }
  }
}
