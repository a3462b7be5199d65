import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { tokenize, getSourceTokens, utf8Length, KEYWORDS, BUILTINS } from "../../../quelt/compiler/lexer.mjs";
import { CompileDiagnostic } from "../../../quelt/compiler/diagnostics.mjs";

// Compact form of a token list without the eof token: [kind, value, offset, end].
function brief(tokens) {
  return tokens.slice(0, -1).map((t) => [t.kind, t.value, t.offset, t.end]);
}
const int = (value) => ({ value, type: "Int" });
const float = (value) => ({ value, type: "Float" });

test("lexer: token tables", () => {
  const cases = [
    ["", []],
    [" \t\r\n// only a comment", []],
    ["/* a */ /* b */", []],
    ["a // x\rb", [["identifier", "a", 0, 1]]],
    ["a // x\nb", [["identifier", "a", 0, 1], ["identifier", "b", 7, 8]]],
    ["a/**/b", [["identifier", "a", 0, 1], ["identifier", "b", 5, 6]]],
    ["/*/ */x", [["identifier", "x", 6, 7]]],
    ["\uFEFFx", [["identifier", "x", 1, 2]]],
    ["\u00A0\u1680\u2000\u200A\u2028\u2029\u202F\u205F\u3000\u000B\u000Cx", [["identifier", "x", 11, 12]]],
    ["_a1 Int brindlet", [["identifier", "_a1", 0, 3], ["identifier", "Int", 4, 7], ["identifier", "brindlet", 8, 16]]],
    ["1.", [["number", int(1), 0, 1], ["symbol", ".", 1, 2]]],
    ["1.5", [["number", float(1.5), 0, 3]]],
    ["1e3", [["number", float(1000), 0, 3]]],
    ["2E+2 5e-1", [["number", float(200), 0, 4], ["number", float(0.5), 5, 9]]],
    ["007", [["number", int(7), 0, 3]]],
    ["123456789012345 0", [["number", int(123456789012345), 0, 15], ["number", int(0), 16, 17]]],
    ["1234567890123456", [["number", int(1234567890123456), 0, 16]]],
    ["9007199254740991", [["number", int(9007199254740991), 0, 16]]],
    ["1e-400", [["number", float(0), 0, 6]]],
    ["12ab", [["number", int(12), 0, 2], ["identifier", "ab", 2, 4]]],
    ["0x10", [["number", int(0), 0, 1], ["identifier", "x10", 1, 4]]],
    ["1.e3", [["number", int(1), 0, 1], ["symbol", ".", 1, 2], ["identifier", "e3", 2, 4]]],
    ['"a\\"b"', [["text", 'a"b', 0, 6]]],
    ['""', [["text", "", 0, 2]]],
    ['"\\\\\\/\\b\\f\\n\\r\\t"', [["text", "\\/\b\f\n\r\t", 0, 16]]],
    ['"\\u00e9\\u00E9"', [["text", "\u00e9\u00e9", 0, 14]]],
    ['"\\ud83d\\ude00"', [["text", "\u{1F600}", 0, 14]]],
    ['"\\ud83d"', [["text", "\ud83d", 0, 8]]],
    ['"é😀"', [["text", "é😀", 0, 5]]],
    ["-> |> >= <= == !=", [
      ["symbol", "->", 0, 2], ["symbol", "|>", 3, 5], ["symbol", ">=", 6, 8],
      ["symbol", "<=", 9, 11], ["symbol", "==", 12, 14], ["symbol", "!=", 15, 17],
    ]],
    ["> =", [["symbol", ">", 0, 1], ["symbol", "=", 2, 3]]],
    ["=>", [["symbol", "=", 0, 1], ["symbol", ">", 1, 2]]],
    ["<-", [["symbol", "<", 0, 1], ["symbol", "-", 1, 2]]],
    ["-1", [["symbol", "-", 0, 1], ["number", int(1), 1, 2]]],
    ["a/b", [["identifier", "a", 0, 1], ["symbol", "/", 1, 2], ["identifier", "b", 2, 3]]],
  ];
  for (const [source, expected] of cases) {
    const tokens = tokenize(source);
    assertDeepEqual(brief(tokens), expected, JSON.stringify(source));
    assertDeepEqual(tokens[tokens.length - 1], { kind: "eof", value: "<eof>", offset: source.length }, JSON.stringify(source));
  }
});

test("lexer: every one-character symbol", () => {
  const symbols = ["{", "}", "(", ")", "[", "]", ",", ":", ";", "?", "=", ".", "+", "-", "*", "/", "<", ">"];
  const tokens = tokenize(symbols.join(" "));
  assertDeepEqual(tokens.slice(0, -1).map((t) => [t.kind, t.value, t.end - t.offset]), symbols.map((s) => ["symbol", s, 1]));
});

test("lexer: lexical failures", () => {
  const bmp = "\u{1F600}";
  const cases = [
    ["/* a */ /* b", "COMMENT", "Unclosed block comment", 8],
    ["/*/", "COMMENT", "Unclosed block comment", 0],
    ["x " + "a".repeat(65), "IDENTIFIER_LIMIT", "Identifier limit is 64 characters", 2],
    ["1.5e", "NUMBER", "Exponent requires digits", 4],
    ["1e+", "NUMBER", "Exponent requires digits", 3],
    ["1ex", "NUMBER", "Exponent requires digits", 2],
    ["x 9007199254740992", "NUMBER_RANGE", "Int literal must be a safe integer", 2],
    ["1e309", "NUMBER_RANGE", "Float literal must be finite", 0],
    ["9".repeat(400), "NUMBER_RANGE", "Int literal must be a safe integer", 0],
    ['x "abc', "TEXT", "Unclosed Text literal", 2],
    ['"abc\\', "TEXT", "Unclosed Text literal", 0],
    ['"abc\\"', "TEXT", "Unclosed Text literal", 0],
    ['"a\nb"', "TEXT", "Text literals must use JSON double-quoted syntax", 0],
    ['"a\tb"', "TEXT", "Text literals must use JSON double-quoted syntax", 0],
    ['"\\x"', "TEXT", "Text literals must use JSON double-quoted syntax", 0],
    ['"\\u12"', "TEXT", "Text literals must use JSON double-quoted syntax", 0],
    ['"\\u12g4"', "TEXT", "Text literals must use JSON double-quoted syntax", 0],
    ["'a'", "UNSUPPORTED_TOKEN", "Unsupported token \"'\"", 0],
    ["a ! b", "UNSUPPORTED_TOKEN", 'Unsupported token "!"', 2],
    ["a | b", "UNSUPPORTED_TOKEN", 'Unsupported token "|"', 2],
    ["&", "UNSUPPORTED_TOKEN", 'Unsupported token "&"', 0],
    ["\\", "UNSUPPORTED_TOKEN", 'Unsupported token "\\\\"', 0],
    ["\u0000", "UNSUPPORTED_TOKEN", 'Unsupported token "\\u0000"', 0],
    ["\u0008", "UNSUPPORTED_TOKEN", 'Unsupported token "\\b"', 0],
    ["\u001f", "UNSUPPORTED_TOKEN", 'Unsupported token "\\u001f"', 0],
    ["\u0085", "UNSUPPORTED_TOKEN", 'Unsupported token "\u0085"', 0],
    ["é", "UNSUPPORTED_TOKEN", 'Unsupported token "é"', 0],
    [bmp, "UNSUPPORTED_TOKEN", 'Unsupported token "\\ud83d"', 0],
    ["\udc00", "UNSUPPORTED_TOKEN", 'Unsupported token "\\udc00"', 0],
  ];
  for (const [source, code, message, offset] of cases) {
    assertThrows(() => tokenize(source), { type: CompileDiagnostic, code, offset, message: `${message} (line 1, column ${offset + 1})` }, JSON.stringify(source));
    assertThrows(() => getSourceTokens(source), { type: CompileDiagnostic, code, offset }, JSON.stringify(source));
  }
});

test("lexer: failures report line and column; lexing stops at the first", () => {
  const error = assertThrows(() => tokenize('a\n  /* open\n"bad'), { code: "COMMENT", offset: 4, line: 2, column: 3 });
  assertEqual(error.message, "Unclosed block comment (line 2, column 3)");
  assertThrows(() => tokenize("1e+ @"), { code: "NUMBER" });
});

test("lexer: the failure operation receives offset, code and message", () => {
  const calls = [];
  const fail = (offset, code, message) => {
    calls.push([offset, code, message]);
    throw new Error("stop");
  };
  assertThrows(() => tokenize("ok #", fail), { message: "stop" });
  assertDeepEqual(calls, [[3, "UNSUPPORTED_TOKEN", 'Unsupported token "#"']]);
});

test("lexer: identifier and token limits at the boundary", () => {
  const longest = "a".repeat(64);
  assertDeepEqual(brief(tokenize(longest)), [["identifier", longest, 0, 64]]);

  const full = "a ".repeat(20000);
  const tokens = tokenize(full);
  assertEqual(tokens.length, 20001);
  assertEqual(tokens[20000].kind, "eof");
  assertThrows(() => tokenize(full + "b"), { code: "TOKEN_LIMIT", message: "Token limit is 20000 (line 1, column 40001)", offset: 40000 });
  // A fault in the 20001st token itself is reported before the count.
  assertThrows(() => tokenize(full + "a".repeat(65)), { code: "IDENTIFIER_LIMIT", offset: 40000 });
});

test("getSourceTokens: argument and source limit", () => {
  for (const bad of [undefined, null, 42, ["a"], { length: 1 }]) {
    assertThrows(() => getSourceTokens(bad), { type: TypeError, message: "source must be a string" });
  }
  const limitMessage = "Source limit is 65536 UTF-8 bytes (line 1, column 1)";
  assertEqual(getSourceTokens(" ".repeat(65536)).length, 1);
  assertThrows(() => getSourceTokens(" ".repeat(65537)), { type: CompileDiagnostic, code: "SOURCE_LIMIT", offset: 0, message: limitMessage });
  // 21846 three-byte characters: 65538 bytes, far fewer code units.
  assertThrows(() => getSourceTokens("\u3000".repeat(21846)), { code: "SOURCE_LIMIT", offset: 0 });
  assertEqual(getSourceTokens("\u3000".repeat(21845) + "a").length, 2);
  // Lone surrogates count three bytes, pairs four.
  assertThrows(() => getSourceTokens("// " + "\ud800".repeat(21845)), { code: "SOURCE_LIMIT" });
  assertThrows(() => getSourceTokens("// " + "\u{1F600}".repeat(16384)), { code: "SOURCE_LIMIT" });
  assertEqual(getSourceTokens("//" + "\u{1F600}".repeat(16383) + "\n").length, 1);
  // The source limit comes before any lexical fault.
  assertThrows(() => getSourceTokens("#" + " ".repeat(65536)), { code: "SOURCE_LIMIT" });
});

test("getSourceTokens: flags, field order and freezing", () => {
  const tokens = getSourceTokens('Int sum schema 1 "t" + x');
  assertDeepEqual(tokens.map((t) => Object.keys(t)), [
    ["kind", "value", "offset", "end", "reserved", "builtin"],
    ["kind", "value", "offset", "end", "reserved", "builtin"],
    ["kind", "value", "offset", "end", "reserved", "builtin"],
    ["kind", "value", "offset", "end"],
    ["kind", "value", "offset", "end"],
    ["kind", "value", "offset", "end"],
    ["kind", "value", "offset", "end", "reserved", "builtin"],
    ["kind", "value", "offset"],
  ]);
  assertDeepEqual(tokens.filter((t) => t.kind === "identifier").map((t) => [t.value, t.reserved, t.builtin]), [
    ["Int", true, false],
    ["sum", false, true],
    ["schema", false, false],
    ["x", false, false],
  ]);
  assert(Object.isFrozen(tokens), "list frozen");
  assert(tokens.every((t) => Object.isFrozen(t)), "tokens frozen");
  assert(Object.isFrozen(tokens[3].value), "number record frozen");
  // Fresh copies: a second call does not share records.
  assert(getSourceTokens("x")[0] !== getSourceTokens("x")[0]);
});

test("getSourceTokens: same tokens as the parser's list, plus the flags", () => {
  const source = 'fn f(a: Int[]?) -> Float { return a |> sum() * 1.5e3 } brindlet m { input sum: Text = "x\\n" output sum }';
  const stripped = getSourceTokens(source).map(({ reserved, builtin, ...rest }) => ({ ...rest, value: rest.kind === "number" ? { ...rest.value } : rest.value }));
  assertDeepEqual(stripped, tokenize(source));
});

test("keyword and builtin sets", () => {
  const keywords = ["fn", "return", "brindlet", "use", "input", "derive", "output", "yes", "no", "unknown", "not", "and", "or", "Int", "Float", "Text", "Truth", "Record"];
  const builtins = ["sum", "len", "choose", "take", "keepGt", "keepGe", "keepLt", "keepLe", "keepEq", "keepNe", "mapAdd", "mapSub", "mapMul", "hasField",
    "readInt", "readFloat", "readText", "readTruth", "readRecord", "readInts", "readFloats", "readTexts", "readTruths", "readRecords"];
  assertDeepEqual([...KEYWORDS].sort(), [...keywords].sort());
  assertDeepEqual([...BUILTINS].sort(), [...builtins].sort());
  for (const word of ["schema", "result", "effect", "let", "ok", "err", "match", "map", "filter"]) {
    assert(!KEYWORDS.has(word) && !BUILTINS.has(word), word);
  }
  assertThrows(() => KEYWORDS.add("x"), TypeError);
  assertThrows(() => BUILTINS.delete("sum"), TypeError);
  assert(BUILTINS.has("sum"));
});

test("lexer: a full-limit source tokenizes quickly", () => {
  // 20000 tokens in 65536 bytes with every token kind.
  const unit = 'ab 1.5e3"t"|>7 ';
  let source = unit.repeat(4000);
  source += " ".repeat(65536 - source.length);
  const started = performance.now();
  const tokens = getSourceTokens(source);
  const elapsed = performance.now() - started;
  assertEqual(tokens.length, 20001);
  assert(elapsed < 500, `took ${elapsed} ms`);
});

test("utf8Length counts UTF-8 bytes, three for a lone surrogate", () => {
  const cases = [["", 0], ["a", 1], ["\u00e9", 2], ["\u0800", 3], ["\uffff", 3], ["\u{1F600}", 4], ["\ud83d", 3], ["\ude00", 3], ["\ude00\ud83d", 6], ["a\ud83dx", 5]];
  for (const [text, bytes] of cases) assertEqual(utf8Length(text), bytes, JSON.stringify(text));
});
