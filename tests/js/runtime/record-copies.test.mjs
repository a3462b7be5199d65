// Inside a run, admitted Records are handed to function parameters and through
// sortBy and filter without being copied. What reaches the caller must still be
// fresh copies: derive values never share objects with the inputs, and a schema
// value made inside a function holds a copy, not the caller's Record.
import { test, assert, assertDeepEqual, assertEqual, assertThrows } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { execute, RuntimeDiagnostic } from "quelt/runtime.mjs";
import { invokeFunctionSync } from "../../../quelt/runtime/evaluator.mjs";
import { UNKNOWN, normalize } from "../../../quelt/runtime/values.mjs";
import { contextFor } from "./evaluator-support.mjs";

const PROGRAM = compileModule(
  "schema S { a: Int } " +
    "fn same(x: Record) -> Record { let y: Record = x; return y } " +
    "fn admit(x: Record) -> S { return x |> asSchema(S) } " +
    'fn key(x: Record) -> Int { return readInt(x, "a") } ' +
    'fn big(x: Record) -> Truth { return readInt(x, "a") > 1 } ' +
    "fn first(xs: Record[]) -> Record[] { return xs |> sortBy(key) |> take(1) } " +
    "brindlet m { input r: Record input rs: Record[] " +
    "derive d: Record = same(r) derive s: S = admit(r) derive t: S = same(r) |> asSchema(S) " +
    "derive sorted: Record[] = rs |> sortBy(key) derive kept: Record[] = rs |> filter(big) " +
    "derive least: Record[] = first(rs) derive nested: Record = { inner: r, items: sorted } " +
    "output d output sorted output kept output least output nested }",
);

test("Records passed on uncopied inside a run reach the caller as fresh copies", async () => {
  const rows = [{ a: 3, t: ["x"] }, { a: 1, t: ["w"] }, { a: 2, t: ["y", "z"] }];
  const receipt = await execute(PROGRAM, { r: { a: 1, o: { p: [1] } }, rs: rows });
  const { r, rs, d, s, t, sorted, kept, least, nested } = receipt.values;
  const fromInput = new Set([r, r.o, r.o.p, ...rs, ...rs.map((row) => row.t)]);
  const shared = (value) => fromInput.has(value);

  assertDeepEqual({ ...d }, { ...r });
  assert(!shared(d) && !shared(d.o) && !shared(d.o.p), "a Record returned from a function is a copy");
  assert(!shared(s), "a schema value admitted inside a function holds a copy");
  assert(!shared(t), "a schema value admitted from a function's Record result holds a copy");
  assertDeepEqual(sorted.map((row) => row.a), [1, 2, 3]);
  assertDeepEqual(kept.map((row) => row.a), [3, 2]);
  assertDeepEqual(least.map((row) => row.a), [1]);
  for (const row of [...sorted, ...kept, ...least, nested.inner, ...nested.items]) {
    assert(!shared(row) && !shared(row.t), "array items and nested Records are copies");
    assert(Object.isFrozen(row), "copies are frozen");
  }
  assert(sorted[0] !== least[0] && sorted[0] !== nested.items[0], "each derive holds its own copy");
});

test("a Record parameter hands on only admitted Records; anything else is admitted as before", () => {
  const program = compileModule('fn key(x: Record) -> Int { return readInt(x, "a") } brindlet m { derive k: Int = 1 output k }');
  const fn = program.functions[0];
  const call = (value) => invokeFunctionSync(fn, [{ value, type: "Record" }], contextFor(program)).value;
  const admitted = normalize({ a: 5, list: [{ a: 6 }] }, "Record");
  assertEqual(call(admitted), 5);
  assertEqual(call({ a: 7 }), 7);
  const cases = [
    [UNKNOWN, "VALUE_TYPE", "Record требует JSON-объект."],
    [admitted.list, "VALUE_TYPE", "Record требует JSON-объект."],
    [{ a: 1, b: Number.NaN }, "VALUE_TYPE", "JSON-число должно быть конечным."],
    [{ a: 1, b: [1, , 2] }, "ARRAY_SCHEMA", "Ожидается плотный массив в пределах лимита."],
  ];
  for (const [value, code, message] of cases) assertThrows(() => call(value), { type: RuntimeDiagnostic, code, message });
});
