// A module with several faults reports the one whose phase runs first. Each
// case pairs a fault of one phase with a fault of a later phase written
// earlier in the source, so source position cannot explain the outcome.
import { test, assertThrows } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { assertFault } from "./compile-support.mjs";

const INTERFACES = { interfaces: { "db.get": { params: ["Text"], result: "Int", effects: [] } } };

// [label, source, code, message, anchor]
const CASES = [
  [
    "the whole source is tokenized before anything is parsed",
    "brindlet { input x: Int output x } '",
    "UNSUPPORTED_TOKEN", "Unsupported token \"'\"", "'",
  ],
  [
    "parsing finishes before named annotations are resolved",
    "schema S { a: Int } fn f(x: Nope) -> Int { return 1 } brindlet m { input x: Int output x output x }",
    "DUPLICATE", "Duplicate output x", { text: "x", last: true },
  ],
  [
    "early outputs come before the schema boundary",
    "schema S { a: Int } brindlet m { input s: S output nope }",
    "UNKNOWN_OUTPUT", "Unknown output nope", "nope",
  ],
  [
    "early outputs also run when only a Result is declared",
    "result R: Int fn f() -> Int { return \"x\" } brindlet m { input q: R output nope }",
    "UNKNOWN_OUTPUT", "Unknown output nope", "nope",
  ],
  [
    "schema inputs are all checked before schema outputs",
    "schema S { a: Int } brindlet m { input r: Record derive s: S = r |> asSchema(S) output s input q: S }",
    "SCHEMA_BOUNDARY", "Named schemas cannot be root inputs", "q: S",
  ],
  [
    "the Result boundary comes before the effect function rule",
    "effect fn e() -> Int { return 1 } result R: Int brindlet m { input x: Int input q: R output x }",
    "RESULT_BOUNDARY", "Named Results cannot be root inputs", "q: R",
  ],
  [
    "effect functions are counted in declaration order",
    "effect fn a() -> Int { return 1 } effect fn b(k: Text) -> Int { return db.get(k) + db.get(k) } brindlet m { use db input x: Int output x }",
    "FUNCTION_EFFECT", "Effect function requires one external adapter call", "a()",
  ],
  [
    "every function is type-checked before recursion is looked for",
    "fn f() -> Int { return f() } fn g() -> Int { return 1.5 } brindlet m { input x: Int output x }",
    "TYPE_MISMATCH", "Function g returns Float, declared Int", "1.5",
  ],
  [
    "recursion is refused before any input default is converted",
    "fn f() -> Int { return f() } brindlet m { input x: Int = y output x }",
    "FUNCTION_CYCLE", "Recursive function cycle includes f", "f()",
  ],
  [
    "input defaults are checked before derives written above them",
    "brindlet m { derive d: Int = 1.5 input x: Int = 2.5 output x }",
    "TYPE_MISMATCH", "Default for x is Float, declared Int", "2.5",
  ],
  [
    "a default naming another input is not a literal, whatever the name",
    "brindlet m { input x: Int = nope output x }",
    "DEFAULT_LITERAL", "Input default must contain only literals, arrays or Records of literals", "nope",
  ],
  [
    "derives are checked in declaration order, not dependency order",
    "brindlet m { input x: Int derive a: Int = b + t derive b: Int = zz output a }",
    "UNKNOWN_REFERENCE", "Unknown reference t", { text: "t derive", nth: 2 },
  ],
  [
    "unknown outputs are found before derive cycles",
    "brindlet m { derive a: Int = b derive b: Int = a output nope }",
    "UNKNOWN_OUTPUT", "Unknown output nope", "nope",
  ],
  [
    "a derive cycle names the derive met again on the active path",
    "brindlet m { input x: Int derive a: Int = b + x derive b: Int = c derive c: Int = b output a }",
    "DERIVE_CYCLE", "Derive dependency cycle includes b", "b: Int",
  ],
  [
    "pure function bodies are refused adapter calls at check time",
    "fn f(k: Text) -> Int { return db.get(k) } brindlet m { use db input x: Int output x }",
    "FUNCTION_EFFECT", "Pure functions cannot call external adapters", "db.get",
  ],
];

test("audit: first fault wins across the phases of compileModule", () => {
  for (const [label, source, code, message, at] of CASES) {
    try {
      assertFault(source, { code, message, at }, INTERFACES);
    } catch (error) {
      error.message = `${label}: ${error.message}`;
      throw error;
    }
  }
});

test("audit: argument faults come before any source fault", () => {
  // the interfaces option is read before the source is refused, and a bad
  // source type wins over bad interfaces
  let reads = 0;
  const options = {
    get interfaces() {
      reads += 1;
      return [];
    },
  };
  assertThrows(() => compileModule(12, options), { type: TypeError, message: "source must be a string" });
  if (reads !== 1) throw new Error(`interfaces read ${reads} times before the source check`);
  // the source limit comes before the interfaces, which come before lexing
  assertFault("'".repeat(65537), { code: "SOURCE_LIMIT", message: "Source limit is 65536 UTF-8 bytes", at: 0 }, { interfaces: null });
  assertFault("'", { code: "INTERFACES", message: "interfaces must be a plain object", at: 0 }, { interfaces: null });
});
