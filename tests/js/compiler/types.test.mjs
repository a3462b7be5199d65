import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import {
  parts, validType, assignable, common, isNumeric, isScalar, isReaderDomain,
  readAnnotation, checkNamedAnnotations,
} from "../../../quelt/compiler/types.mjs";
import { tokenize } from "../../../quelt/compiler/lexer.mjs";
import { CompileDiagnostic } from "../../../quelt/compiler/diagnostics.mjs";

test("types: parts removes one ? and one []", () => {
  const cases = [
    ["Int", { optional: false, array: false, base: "Int", plain: "Int" }],
    ["Int?", { optional: true, array: false, base: "Int", plain: "Int" }],
    ["Text[]", { optional: false, array: true, base: "Text", plain: "Text[]" }],
    ["Record[]?", { optional: true, array: true, base: "Record", plain: "Record[]" }],
    ["Int??", { optional: true, array: false, base: "Int?", plain: "Int?" }],
    ["Int[][]", { optional: false, array: true, base: "Int[]", plain: "Int[][]" }],
    ["Int?[]", { optional: false, array: true, base: "Int?", plain: "Int?[]" }],
    ["Person", { optional: false, array: false, base: "Person", plain: "Person" }],
  ];
  for (const [type, expected] of cases) assertDeepEqual(parts(type), expected, type);
});

test("types: validType", () => {
  const valid = [];
  for (const base of ["Int", "Float", "Text", "Truth", "Record"]) {
    for (const suffix of ["", "[]", "?", "[]?"]) valid.push(base + suffix);
  }
  for (const type of valid) assertEqual(validType(type), true, type);
  for (const type of ["Int??", "Int[][]", "Int?[]", "int", "Person", "Unknown", "EmptyArray", "", " Int", "Int ", "?", "[]", undefined, null, 1, ["Int"]]) {
    assertEqual(validType(type), false, String(type));
  }
});

test("types: assignable", () => {
  const cases = [
    ["Int", "Float", true],
    ["Int?", "Float?", true],
    ["Int?", "Int", false],
    ["Float", "Int", false],
    ["Int[]", "Float[]", true],
    ["Int[]", "Float[]?", true],
    ["Int[]", "Int", false],
    ["Int", "Int[]", false],
    ["Int", "Int?", true],
    ["Float[]?", "Int[]?", false],
    ["Unknown", "Truth", true],
    ["Unknown", "Truth?", true],
    ["Unknown", "Int?", true],
    ["Unknown", "Record[]?", true],
    ["Unknown", "Int", false],
    ["Unknown", "Truth[]", false],
    ["Unknown", "Unknown", false],
    ["EmptyArray", "Text[]?", true],
    ["EmptyArray", "Int[]", true],
    ["EmptyArray", "Int", false],
    ["EmptyArray", "EmptyArray", false],
    ["Truth?", "Truth", false],
    ["Person", "Person", true],
    ["Person", "Record", false],
    ["Record", "Person", false],
    ["Text", "Text", true],
  ];
  for (const [from, to, expected] of cases) assertEqual(assignable(from, to), expected, `${from} -> ${to}`);
});

test("types: common is the symmetric join", () => {
  const cases = [
    ["Int", "Float", "Float"],
    ["Int", "Int?", "Int?"],
    ["Int?", "Float", "Float?"],
    ["Int[]", "Float[]?", "Float[]?"],
    ["Unknown", "Int", "Int?"],
    ["Unknown", "Int?", "Int?"],
    ["Unknown", "Truth", "Truth"],
    ["Unknown", "Truth?", "Truth?"],
    ["Unknown", "Int[]", "Int[]?"],
    ["Unknown", "Truth[]", "Truth[]?"],
    ["Unknown", "Unknown", "Unknown"],
    ["EmptyArray", "Text[]", "Text[]"],
    ["EmptyArray", "Text[]?", "Text[]?"],
    ["EmptyArray", "EmptyArray", "EmptyArray"],
    ["EmptyArray", "Unknown", null],
    ["EmptyArray", "Text", null],
    ["Text", "Int", null],
    ["Int", "Int[]", null],
    ["Record", "Person", null],
    ["Person", "Person", "Person"],
    ["Text?", "Text", "Text?"],
  ];
  for (const [a, b, expected] of cases) {
    assertEqual(common(a, b), expected, `${a} | ${b}`);
    assertEqual(common(b, a), expected, `${b} | ${a}`);
  }
});

test("types: predicates", () => {
  const cases = [
    // type, numeric, scalar, reader domain
    ["Unknown", true, false, false],
    ["Int", true, true, true],
    ["Float?", true, false, false],
    ["Int[]", false, false, true],
    ["Text", false, true, true],
    ["Record", false, true, true],
    ["Record[]", false, false, true],
    ["Truth?", false, false, false],
    ["Int[]?", false, false, false],
    ["EmptyArray", false, false, false],
    ["Person", false, false, false],
  ];
  for (const [type, numeric, scalar, domain] of cases) {
    assertDeepEqual([isNumeric(type), isScalar(type), isReaderDomain(type)], [numeric, scalar, domain], type);
  }
});

// A minimal parser over the lexer's tokens with the primitives that the
// annotation reader relies on.
function parserFor(source) {
  const tokens = tokenize(source);
  let cursor = 0;
  const fail = (offset, code, message) => {
    throw new CompileDiagnostic(source, offset, code, message);
  };
  const parser = {
    peek: () => tokens[cursor],
    advance: () => {
      if (tokens[cursor].kind !== "eof") cursor += 1;
    },
    at: (v) => {
      const t = tokens[cursor];
      return t.value === v && t.kind === (/^[A-Za-z_]/.test(v) ? "identifier" : "symbol");
    },
    accept: (v) => (parser.at(v) ? (parser.advance(), true) : false),
    expect: (v) => {
      if (!parser.accept(v)) fail(tokens[cursor].offset, "SYNTAX", `Expected ${v}, received ${tokens[cursor].value}`);
    },
    fail,
    rest: () => tokens.slice(cursor).map((t) => t.value),
  };
  return parser;
}

test("types: reading annotations", () => {
  const typeMessage = "Expected Int, Float, Text, Truth, or Record type";
  const cases = [
    // source, named mode, type text or failure, recorded refs, tokens left
    ["Int", false, "Int", [], ["<eof>"]],
    ["Int [ /* c */ ] ? =", false, "Int[]?", [], ["=", "<eof>"]],
    ["Record?[]", false, "Record?", [], ["[", "]", "<eof>"]],
    ["Shape", false, { code: "TYPE", message: typeMessage, offset: 0 }],
    ["1", false, { code: "TYPE", message: typeMessage, offset: 0 }],
    ['"Int"', true, { code: "TYPE", message: typeMessage, offset: 0 }],
    ["[", true, { code: "TYPE", message: typeMessage, offset: 0 }],
    ["Int [ x", false, { code: "SYNTAX", message: "Expected ], received x", offset: 6 }],
    ["Shape[]? ,", true, "Shape[]?", [{ value: "Shape[]?", offset: 0 }], [",", "<eof>"]],
    ["fn", true, "fn", [{ value: "fn", offset: 0 }], ["<eof>"]],
    ["Float[]", true, "Float[]", [], ["<eof>"]],
  ];
  for (const [source, named, expected, refs, rest] of cases) {
    const parser = parserFor(source);
    const recorded = [];
    if (typeof expected === "string") {
      assertEqual(readAnnotation(parser, named, recorded), expected, source);
      assertDeepEqual(recorded, refs, source);
      assertDeepEqual(parser.rest(), rest, source);
    } else {
      const { message, ...fields } = expected;
      const error = assertThrows(() => readAnnotation(parser, named, recorded), { type: CompileDiagnostic, ...fields }, source);
      assert(error.message.startsWith(message + " (line"), `${source}: ${error.message}`);
    }
  }
});

test("types: named annotation check, first failure in source order", () => {
  const results = new Map([["Outcome", {}]]);
  const schemas = new Map([["Shape", {}]]);
  const fail = (offset, code, message) => {
    throw Object.assign(new Error(message), { code, offset });
  };
  const check = (refs) => checkNamedAnnotations(refs, results, schemas, fail);
  check([{ value: "Outcome", offset: 1 }, { value: "Shape", offset: 2 }]);
  const cases = [
    [[{ value: "Outcome[]", offset: 4 }], "RESULT_TYPE", "Named Results require a nonoptional scalar type", 4],
    [[{ value: "Outcome?", offset: 4 }], "RESULT_TYPE", "Named Results require a nonoptional scalar type", 4],
    [[{ value: "Shape?", offset: 5 }], "SCHEMA_TYPE", "Named schemas require a nonoptional scalar type", 5],
    [[{ value: "Shape[]", offset: 5 }], "SCHEMA_TYPE", "Named schemas require a nonoptional scalar type", 5],
    [[{ value: "Other[]?", offset: 6 }], "TYPE", "Unknown annotation type Other[]?", 6],
    [[{ value: "Unknown", offset: 6 }], "TYPE", "Unknown annotation type Unknown", 6],
    [[{ value: "Shape", offset: 1 }, { value: "Nope", offset: 9 }, { value: "Shape?", offset: 3 }], "TYPE", "Unknown annotation type Nope", 9],
  ];
  for (const [refs, code, message, offset] of cases) {
    assertThrows(() => check(refs), { code, message, offset }, JSON.stringify(refs));
  }
});
