import { test, assert, assertEqual, assertDeepEqual, assertThrows } from "../harness.mjs";
import { compileModule } from "quelt/compiler.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { createRunContext } from "../../../quelt/runtime/context.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";
import { budgetCopy } from "../../../quelt/runtime/settings.mjs";
import { UNKNOWN, ev, normalize } from "../../../quelt/runtime/values.mjs";
import {
  typedTransition,
  admitNamed,
  requireNamed,
  schemaFailure,
  constructResult,
  requireResult,
  resultCopyWork,
} from "../../../quelt/runtime/schemas.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const NOT_SCHEMA_VALUE = fault("VALUE_TYPE", "Ожидается внутреннее значение той же схемы и compiler-issued Program.");
const NOT_RESULT_VALUE = fault("VALUE_TYPE", "Ожидается внутренний Result той же декларации и compiler-issued Program.");
const STEP_BUDGET = fault("STEP_BUDGET", "Исчерпан общий бюджет шагов.");

function context(program, { maxSteps = 100000, signal = new AbortController().signal } = {}) {
  return createRunContext({
    program,
    ledger: new Ledger(budgetCopy({ maxSteps })),
    pool: null,
    signal,
    capabilities: new Set(),
    adapters: Object.freeze({}),
    functions: new Map(),
    trace: [],
    deadline: Infinity,
  });
}

const SCHEMA_SOURCE =
  "schema Person { name: Text, tags: Text[], flag: Truth } result Count: Int result Items: Int[] result Blob: Record " +
  "brindlet m { input x: Int output x }";
const record = (data) => ev(normalize(data, "Record"), "Record");

test("admitNamed keeps the Record data, extra fields included, and charges per field and item", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const ctx = context(program);
  const data = record({ name: "Ann", tags: ["a", "b"], flag: UNKNOWN, extra: 1 });
  const admitted = admitNamed(data, "Person", ctx);
  assert(admitted.value === data.value, "the data is not copied");
  assertEqual(admitted.type, "Person");
  assertEqual(admitted.value.extra, 1);
  // three fields, two items, and the stored unknown marker of the Truth field
  assertEqual(ctx.ledger.steps, 3 + 2 + 2);
  assert(requireNamed(admitted, "Person", ctx).definition.name === "Person");
});

test("admitNamed failures name the schema, the field, the type and the item index", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const cases = [
    [{ name: "Ann", tags: ["a", 1, "b"], flag: "yes" }, "SCHEMA_FIELD_ITEM_TYPE", 'Schema Person, field "tags", expected Text[], index=1.'],
    [{ name: "Ann", flag: "yes" }, "SCHEMA_FIELD_MISSING", 'Schema Person, field "tags", expected Text[], index=-1.'],
    [{ name: "Ann", tags: "a", flag: "yes" }, "SCHEMA_FIELD_TYPE", 'Schema Person, field "tags", expected Text[], index=-1.'],
    [{ name: 5, tags: [], flag: "yes" }, "SCHEMA_FIELD_TYPE", 'Schema Person, field "name", expected Text, index=-1.'],
    [{ name: "Ann", tags: [], flag: true }, "SCHEMA_FIELD_TYPE", 'Schema Person, field "flag", expected Truth, index=-1.'],
  ];
  for (const [data, code, message] of cases) {
    assertThrows(() => admitNamed(record(data), "Person", context(program)), fault(code, message), message);
  }
  const refused = fault("VALUE_TYPE", "asSchema требует внутренний Record и исходную схему.");
  assertThrows(() => admitNamed(record({}), "Nobody", context(program)), refused);
  assertThrows(() => admitNamed(ev("x", "Text"), "Person", context(program)), refused);
});

test("a field key is written as JSON text in the failure message", () => {
  const program = { version: 22, inputs: [], derives: [], functions: [], interfaces: {}, schemas: [{ name: "S", fields: [{ key: 'a"b\n', type: "Int" }] }] };
  assertThrows(() => admitNamed(record({}), "S", context(program)), fault("SCHEMA_FIELD_MISSING", 'Schema S, field "a\\"b\\n", expected Int, index=-1.'));
});

test("schemaFailure reports a pending cancellation instead", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const controller = new AbortController();
  controller.abort(new Error("stop"));
  const schema = { definition: { name: "S" } };
  assertThrows(() => schemaFailure("SCHEMA_FIELD_TYPE", schema, { key: "a", type: "Int" }, context(program, { signal: controller.signal })),
    fault("CANCELLED", "Выполнение отменено."));
});

test("schema evidence is tied to the typed value and to the plan", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const twin = compileModule(SCHEMA_SOURCE);
  const ctx = context(program);
  const admitted = admitNamed(record({ name: "Ann", tags: [], flag: "no" }), "Person", ctx);
  assertThrows(() => requireNamed({ ...admitted }, "Person", ctx), NOT_SCHEMA_VALUE, "a copy has no evidence");
  assertThrows(() => requireNamed(ev(admitted.value, "Person"), "Person", ctx), NOT_SCHEMA_VALUE, "re-wrapped data");
  assertThrows(() => requireNamed(admitted, "Person", context(twin)), NOT_SCHEMA_VALUE, "another Program");
  assertThrows(() => requireNamed(admitted, "Other", ctx), NOT_SCHEMA_VALUE);
  assertThrows(() => requireNamed(undefined, "Person", ctx), NOT_SCHEMA_VALUE);
  // bound to its own type the schema value passes unchanged
  assert(typedTransition(admitted, "Person", ctx) === admitted);
  assertThrows(() => typedTransition(ev(admitted.value, "Record"), "Person", ctx), NOT_SCHEMA_VALUE);
  // admitting the same data again makes a new schema value
  const again = admitNamed(ev(admitted.value, "Record"), "Person", ctx);
  assert(again !== admitted && again.value === admitted.value);
});

test("typedTransition normalizes built-in types and retypes the value", () => {
  const ctx = context(compileModule(SCHEMA_SOURCE));
  const data = record({ a: [1] });
  const copied = typedTransition(data, "Record", ctx);
  assert(copied !== data && copied.value !== data.value, "Records are copied afresh");
  assertDeepEqual(copied.value, data.value);
  const cases = [
    [ev(-0, "Int"), "Int", 0],
    [ev(UNKNOWN, "Unknown"), "Int?", UNKNOWN],
    [ev(null, "Truth"), "Truth", UNKNOWN],
    [ev(3, "Int"), "Float", 3],
  ];
  for (const [item, type, value] of cases) {
    const moved = typedTransition(item, type, ctx);
    assertEqual(moved.value, value, type);
    assertEqual(moved.type, type);
  }
  assertThrows(() => typedTransition(ev(UNKNOWN, "Int?"), "Int", ctx), fault("VALUE_TYPE", "Int требует безопасное целое число."));
});

test("constructResult: observation, evidence and the charge of work + 2", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const cases = [
    ["Count", "ok", ev(5, "Int"), 2, 5],
    ["Items", "ok", ev(Object.freeze([1, 2, 3]), "Int[]"), 5, [1, 2, 3]],
    // {a: [1, 2], b: {c: 1}}: a, b, two items and c
    ["Blob", "ok", record({ a: [1, 2], b: { c: 1 } }), 7, { a: [1, 2], b: { c: 1 } }],
    ["Items", "err", ev("boom", "Text"), 2, "boom"],
  ];
  for (const [name, tag, child, steps, payload] of cases) {
    const ctx = context(program);
    const made = constructResult(child, name, tag, ctx);
    assertEqual(ctx.ledger.steps, steps, `${name} ${tag}`);
    assertEqual(made.type, name);
    assertDeepEqual(made.value, { tag, value: payload });
    assert(Object.isFrozen(made.value));
    const { descriptor, evidence } = requireResult(made, name, ctx);
    assertEqual(descriptor.definition.name, name);
    assertEqual(evidence.tag, tag);
    assert(evidence.payload === made.value.value);
    assert(typedTransition(made, name, ctx) === made);
  }
});

test("constructResult at the step boundary: work + 1 left fails, work + 2 passes", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const items = ev(Object.freeze([1, 2, 3]), "Int[]");
  assertThrows(() => constructResult(items, "Items", "ok", context(program, { maxSteps: 4 })), STEP_BUDGET);
  const ctx = context(program, { maxSteps: 5 });
  const made = constructResult(items, "Items", "ok", ctx);
  assertEqual(ctx.ledger.steps, 5);
  assertEqual(made.value.tag, "ok");
});

test("constructResult refusals", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const unknownDeclaration = fault("VALUE_TYPE", "Неизвестная внутренняя декларация Result.");
  assertThrows(() => constructResult(ev(1, "Int"), "Nothing", "ok", context(program)), unknownDeclaration);
  assertThrows(() => constructResult(ev(1, "Int"), "Count", "maybe", context(program)), unknownDeclaration);
  const schemaOnly = compileModule("schema S { a: Int } brindlet m { input x: Int output x }");
  assertThrows(() => constructResult(ev(1, "Int"), "Count", "ok", context(schemaOnly)), unknownDeclaration, "no Results before version 23");
  // the error payload is Text: an oversized text fails as Text
  assertThrows(() => constructResult(ev("x".repeat(65537), "Text"), "Count", "err", context(program)),
    fault("TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8."));
  assertThrows(() => constructResult(ev(1.5, "Float"), "Count", "ok", context(program)), fault("VALUE_TYPE", "Int требует безопасное целое число."));
});

test("Result evidence is refused by another Program, even one compiled from the same source", () => {
  const program = compileModule(SCHEMA_SOURCE);
  const twin = compileModule(SCHEMA_SOURCE);
  const ctx = context(program);
  const made = constructResult(ev(5, "Int"), "Count", "ok", ctx);
  assertThrows(() => requireResult(made, "Count", context(twin)), NOT_RESULT_VALUE);
  assertThrows(() => typedTransition(made, "Count", context(twin)), NOT_RESULT_VALUE);
  assertThrows(() => requireResult(made, "Items", ctx), NOT_RESULT_VALUE, "another declaration");
  assertThrows(() => requireResult({ ...made }, "Count", ctx), NOT_RESULT_VALUE, "a copy");
  assertThrows(() => requireResult(ev(made.value, "Count"), "Count", ctx), NOT_RESULT_VALUE, "re-wrapped");
});

test("resultCopyWork measures arrays and Records and keeps Record limits", () => {
  const ctx = context(compileModule(SCHEMA_SOURCE));
  const cases = [
    [5, "Int", 0],
    ["text", "Text", 0],
    [[], "Int[]", 0],
    [[{ a: 1 }, { b: [1, 2] }], "Record[]", 2 + 1 + 3],
    [{ a: { b: { c: [] } } }, "Record", 3],
  ];
  for (const [value, type, work] of cases) assertEqual(resultCopyWork(value, type, ctx), work, JSON.stringify(value));
  let deep = {};
  for (let level = 0; level < 25; level += 1) deep = { d: deep };
  // depth 25 holds a container: one level too deep
  assertThrows(() => resultCopyWork(deep, "Record", ctx), fault("RECORD_LIMIT", "Record depth limit"));
  assertEqual(resultCopyWork(deep.d, "Record", ctx), 24);
  const wide = { items: new Array(4095).fill(0) };
  assertEqual(resultCopyWork(wide, "Record", ctx), 4096);
  wide.items.push(0);
  assertThrows(() => resultCopyWork(wide, "Record", ctx), fault("RECORD_LIMIT", "Record member limit"));
});
