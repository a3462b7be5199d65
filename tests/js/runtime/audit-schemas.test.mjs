// Schema and Result values in whole runs: evidence must survive every binding
// to the value's own type, and admission failures name the field exactly.
import { test, assert, assertEqual, assertDeepEqual, assertRejects } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { execute, RuntimeDiagnostic, UNKNOWN } from "quelt/runtime.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });

test("a schema value keeps its evidence through parameters, locals, choose and return values", async () => {
  const program = compileModule(
    "schema S { a: Int, tags: Text[] } " +
      "fn pick(b: Truth, s: S, t: S) -> S { let c: S = choose(b, s, t, t); return c } " +
      'fn read(s: S) -> Int { return s |> field("a") } ' +
      "brindlet m { input r: Record input q: Record input b: Truth " +
      "derive s: S = r |> asSchema(S) derive t: S = q |> asSchema(S) derive p: S = pick(b, s, t) derive v: Int = read(p) " +
      'derive back: Record = p |> toRecord() derive again: S = back |> asSchema(S) derive w: Int = again |> field("a") output v output w }',
  );
  const inputs = { r: { a: 1, tags: ["x"], extra: true }, q: { a: 2, tags: [] } };
  for (const [b, expected] of [["yes", 1], ["no", 2]]) {
    const receipt = await execute(program, { ...inputs, b });
    assertDeepEqual({ ...receipt.outputs }, { v: expected, w: expected });
    // the schema value is written as its Record data, undeclared fields included
    assert(receipt.values.p === (b === "yes" ? receipt.values.r : receipt.values.q));
  }
});

test("schema admission failures in a run", async () => {
  const run = (schema, record, field) =>
    execute(compileModule(`schema S { ${schema} } brindlet m { input r: Record derive s: S = r |> asSchema(S) derive v: Truth = s |> field(${field}) output v }`), { r: record });
  const cases = [
    ['tags: Text[], v: Truth', { tags: ["a", 1, "b"], v: "yes" }, '"v"', fault("SCHEMA_FIELD_ITEM_TYPE", 'Schema S, field "tags", expected Text[], index=1.')],
    ['tags: Text[], v: Truth', { v: "yes" }, '"v"', fault("SCHEMA_FIELD_MISSING", 'Schema S, field "tags", expected Text[], index=-1.')],
    ['tags: Text[], v: Truth', { tags: "a", v: "yes" }, '"v"', fault("SCHEMA_FIELD_TYPE", 'Schema S, field "tags", expected Text[], index=-1.')],
    ['"we\\"ird": Truth, v: Truth', { v: "no" }, '"v"', fault("SCHEMA_FIELD_MISSING", 'Schema S, field "we\\"ird", expected Truth, index=-1.')],
    ["v: Truth", { v: 1 }, '"v"', fault("SCHEMA_FIELD_TYPE", 'Schema S, field "v", expected Truth, index=-1.')],
  ];
  for (const [schema, record, field, expected] of cases) await assertRejects(run(schema, record, field), expected, expected.message);
  // the stored unknown marker is a Truth and is read back as the unknown value
  const receipt = await run("v: Truth", { v: { kind: "quelt-unknown" } }, '"v"');
  assertEqual(receipt.outputs.v, UNKNOWN);
});

test("a Result value keeps its evidence through parameters, locals and choose", async () => {
  const program = compileModule(
    "result R: Int fn okf(v: Int) -> Int { return v } fn errf(e: Text) -> Int { return 0 - 1 } " +
      "fn pass(b: Truth, x: R, y: R) -> R { let z: R = choose(b, x, y, y); return z } fn run(x: R) -> Int { return x |> match(okf, errf) } " +
      "brindlet m { input t: Text input n: Int input b: Truth derive e: R = t |> err(R) derive o: R = n |> ok(R) " +
      "derive p: R = pass(b, o, e) derive v: Int = run(p) output v }",
  );
  const yes = await execute(program, { t: "bad", n: 7, b: "yes" });
  assertEqual(yes.outputs.v, 7);
  assertDeepEqual({ ...yes.values.e }, { tag: "err", value: "bad" });
  assert(yes.values.p === yes.values.o, "the observation itself is passed on");
  assertEqual((await execute(program, { t: "bad", n: 7, b: "no" })).outputs.v, -1);
});
