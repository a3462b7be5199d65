import { test, assertEqual, assertDeepEqual } from "../harness.mjs";
import { assertFault, compiles } from "./compile-support.mjs";

const OPTIONS = {
  interfaces: {
    "db.get": { params: ["Text"], result: "Int?", effects: ["read"] },
    "db.put": { params: ["Text", "Float[]"], result: "Truth", effects: ["write", "audit"] },
  },
};

test("adapters: derives and effect functions call declared adapters", () => {
  const program = compiles(
    'effect fn load(k: Text) -> Int? { let key: Text = k + "!"; return db.get(key) } ' +
      'brindlet m { use db input k: Text derive a: Int? = load(k) derive b: Truth = db.put(k, [1, 2.5]) output a output b }',
    OPTIONS,
  );
  assertDeepEqual(program.functions[0].effect, { adapter: "db.get" });
  assertDeepEqual(Object.keys(program.functions[0]), ["name", "params", "returnType", "locals", "expression", "effect"]);
  assertDeepEqual(Object.keys(program.interfaces), ["db.get", "db.put"]);
  assertDeepEqual(program.interfaces["db.put"], { params: ["Text", "Float[]"], result: "Truth", effects: ["write", "audit"] });
  assertEqual(program.version, 26);
  assertDeepEqual(compiles("brindlet m { input x: Int output x }").interfaces, {});
});

test("adapters: call faults", () => {
  const module = (derive, prelude = "", uses = "use db") => `${prelude} brindlet m { ${uses} input t: Text input i: Int ${derive} output t }`;
  const cases = [
    [module('derive a: Int? = db.get("k")', "", ""), "MISSING_USE", "External call db.get requires use db", "db.get"],
    [module('derive a: Int? = db.nope("k")'), "UNKNOWN_CALL", "Unknown adapter interface db.nope", "db.nope"],
    [module('derive a: Int? = web.get("k")', "", "use db use web"), "UNKNOWN_CALL", "Unknown adapter interface web.get", "web.get"],
    [module('derive a: Int? = db.get("k", 1)'), "TYPE_MISMATCH", "db.get expects 1 arguments", "db.get"],
    [module("derive a: Int? = db.get(i)"), "TYPE_MISMATCH", "Argument 1 of db.get requires Text, received Int", "db.get"],
    [module('derive a: Truth = db.put(t, ["x"])'), "TYPE_MISMATCH", "Argument 2 of db.put requires Float[], received Text[]", "db.put"],
    [module("derive a: Int = db.get(t)"), "TYPE_MISMATCH", "Derive a is Int?, declared Int", "db.get"],
    // arguments are checked before the call itself
    [module("derive a: Int? = db.nope(zz)"), "UNKNOWN_REFERENCE", "Unknown reference zz", "zz"],
    [module("derive a: Int = 1", 'fn f(t: Text) -> Int? { return db.get(t) }'), "FUNCTION_EFFECT", "Pure functions cannot call external adapters", "db.get"],
    [module("derive a: Int = 1", 'effect fn e(t: Text) -> Int? { return db.get(t) } effect fn g(t: Text) -> Int? { return choose(yes, db.get(t), e(t), unknown) }'),
      "FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler", "e(t),"],
    [module("derive a: Int = 1", 'effect fn e(t: Text) -> Int? { return db.get(t) } fn f(t: Text) -> Int? { return e(t) }'),
      "FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler", "e(t) }"],
    [module("derive a: Int = 1", "effect fn e(t: Text) -> Int? { return choose(yes, db.get(t), db.get(t), unknown) }"),
      "FUNCTION_EFFECT_LIMIT", "Effect function external call limit is 1", "e(t"],
    [module("derive a: Int = 1", "effect fn e(t: Text) -> Int? { let a: Int? = db.get(t); return db.get(t) }"),
      "FUNCTION_EFFECT_LIMIT", "Effect function external call limit is 1", "e(t"],
    [module("derive a: Int = 1", "effect fn e(t: Text) -> Int? { return unknown }"),
      "FUNCTION_EFFECT", "Effect function requires one external adapter call", "e(t"],
    // an adapter call in a helper does not count for the effect function
    [module("derive a: Int = 1", "fn h(t: Text) -> Int? { return db.get(t) } effect fn e(t: Text) -> Int? { return h(t) }"),
      "FUNCTION_EFFECT", "Effect function requires one external adapter call", "e(t"],
    // effect functions are never callbacks, not even in derives
    [module("derive a: Int[] = [1] |> each(e)", "effect fn e(n: Int) -> Int { return db.get(\"k\") |> orElse(0) }"),
      "FUNCTION_EFFECT", "Effect function cannot be used in a pure function or handler", "e)"],
  ];
  for (const [source, code, message, at] of cases) assertFault(source, { code, message, at: { text: at, last: true } }, OPTIONS);
});

test("adapters: option faults come first and report line 1, column 1", () => {
  const cases = [
    [[], "INTERFACES", "interfaces must be a plain object"],
    ["x", "INTERFACES", "interfaces must be a plain object"],
    [null, "INTERFACES", "interfaces must be a plain object"],
    [{ store: { params: [], result: "Int", effects: [] } }, "INTERFACES", "Interface names must be module.function identifiers"],
    [{ "b.x": 1, "a.y": { params: [], result: "Int" } }, "INTERFACES", "Interface a.y requires exactly params, result, effects"],
  ];
  // the lexical fault of the source comes later
  for (const [interfaces, code, message] of cases) assertFault("'\n'", { code, message, at: 0 }, { interfaces });
  // the source limit comes before the interfaces
  assertFault("a".repeat(65537), { code: "SOURCE_LIMIT", message: "Source limit is 65536 UTF-8 bytes", at: 0 }, { interfaces: [] });
});
