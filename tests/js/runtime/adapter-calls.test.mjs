import { test, assert, assertEqual, assertDeepEqual, assertRejects } from "../harness.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";
import { createRunContext } from "../../../quelt/runtime/context.mjs";
import { Ledger } from "../../../quelt/runtime/ledger.mjs";
import { TaskPool } from "../../../quelt/runtime/task-pool.mjs";
import { optionsCopy } from "../../../quelt/runtime/settings.mjs";
import { UNKNOWN, ev } from "../../../quelt/runtime/values.mjs";
import { callAdapter } from "../../../quelt/runtime/adapter-calls.mjs";

const fault = (code, message) => ({ type: RuntimeDiagnostic, code, message });
const SOURCE_HASH = "ab".repeat(32);
const LOOKUP = Object.freeze({ params: ["Text", "Int?"], result: "Int", effects: ["read", "net"] });
const ARGS = [ev("key", "Text"), ev(null, "Int?")];

function setup({ adapters = {}, capabilities = ["net", "read", "extra"], budget = {} } = {}) {
  const settings = optionsCopy({ adapters, capabilities, budget });
  const controller = new AbortController();
  const ctx = createRunContext({
    program: { interfaces: { "db.lookup": LOOKUP } },
    ledger: new Ledger(settings.budget),
    pool: new TaskPool(settings.budget),
    signal: controller.signal,
    capabilities: new Set(settings.capabilities),
    adapters: settings.adapters,
    functions: new Map(),
    trace: [],
    deadline: Infinity,
  });
  ctx.programSourceHash = SOURCE_HASH;
  return { ctx, controller };
}

// An adapter that records what it was given and answers with `answer`.
function recording(answer, version = "v1") {
  const calls = [];
  const provider = {
    version,
    invoke(values, context) {
      calls.push({ receiver: this, values, context });
      return typeof answer === "function" ? answer(values, context) : answer;
    },
  };
  return { provider, calls };
}

test("a synchronous adapter gets admitted values and a frozen view of the run", async () => {
  const { provider, calls } = recording(5);
  const { ctx } = setup({ adapters: { "db.lookup": provider } });
  ctx.ledger.step(7);
  const result = await callAdapter("db.lookup", LOOKUP, ARGS, ctx);
  assertDeepEqual(result, { value: 5, type: "Int" });
  assertEqual(calls.length, 1);
  const { receiver, values, context } = calls[0];
  assert(receiver === provider, "invoked with the provider as receiver");
  assertDeepEqual(values, ["key", UNKNOWN]);
  assert(values[1] === UNKNOWN && Object.isFrozen(values));
  assert(Object.isFrozen(context) && Object.isFrozen(context.capabilities) && Object.isFrozen(context.budget));
  assertDeepEqual(Object.keys(context), ["signal", "programSourceHash", "capabilities", "budget"]);
  assert(context.signal !== ctx.signal && context.signal.aborted === false, "the job's own signal");
  assertEqual(context.programSourceHash, SOURCE_HASH);
  assertDeepEqual(context.capabilities, ["net", "read", "extra"]);
  assertDeepEqual(context.budget, { maxSteps: 100000, stepsUsed: 7, maxAdapterCalls: 64, adapterCallsUsed: 1 });
  assertDeepEqual(ctx.trace, [{ adapter: "db.lookup", version: "v1", status: "type-checked", usageReported: false }]);
  assert(Object.isFrozen(ctx.trace[0]));
  assertEqual(ctx.ledger.adapterCalls, 1);
  assertEqual(ctx.ledger.usageComplete, false, "no usage report");
});

test("usage envelopes: exactly value and usage", async () => {
  const usage = { inputTokens: 1, outputTokens: 2, reasoningTokens: 3 };
  const { provider } = recording(async () => ({ value: 5, usage }));
  const { ctx } = setup({ adapters: { "db.lookup": provider } });
  assertEqual((await callAdapter("db.lookup", LOOKUP, ARGS, ctx)).value, 5);
  assertEqual(ctx.ledger.inputTokens, 1);
  assertEqual(ctx.ledger.outputTokens, 2);
  assertEqual(ctx.ledger.reasoningTokens, 3);
  assertEqual(ctx.ledger.usageComplete, true);
  assertEqual(ctx.trace[0].usageReported, true);

  const extra = setup({ adapters: { "db.lookup": recording({ value: 5, usage, extra: 1 }).provider } });
  await assertRejects(callAdapter("db.lookup", LOOKUP, ARGS, extra.ctx), fault("VALUE_TYPE", "Int требует безопасное целое число."));
  assertEqual(extra.ctx.ledger.inputTokens, 0, "a payload object carries no usage");

  const asRecord = { ...LOOKUP, result: "Record" };
  const whole = setup({ adapters: { "db.lookup": recording({ value: 5, extra: 1 }).provider } });
  assertDeepEqual({ ...(await callAdapter("db.lookup", asRecord, ARGS, whole.ctx)).value }, { value: 5, extra: 1 });

  const badUsage = setup({ adapters: { "db.lookup": recording({ value: 5, usage: { inputTokens: -1, outputTokens: 0 } }).provider } });
  await assertRejects(callAdapter("db.lookup", LOOKUP, ARGS, badUsage.ctx),
    fault("ADAPTER_USAGE", "Использование токенов должно быть неотрицательным безопасным целым."));
  assertEqual(badUsage.ctx.trace.length, 0);
});

test("refusals before the call is counted, in order", async () => {
  const cases = [
    // the missing capability is found before the missing adapter
    [{ capabilities: ["read"], adapters: {} }, ARGS, fault("CAPABILITY_REQUIRED", "Для db.lookup требуется capability net.")],
    [{ capabilities: ["read", "net"], adapters: {} }, ARGS, fault("MISSING_ADAPTER", "Не подключён адаптер db.lookup.")],
    [{}, [ev("key", "Text")], fault("ADAPTER_ARGUMENTS", "Неверное число параметров адаптера.")],
    [{}, [ev(1, "Int"), ev(2, "Int")], fault("TEXT_LIMIT", "Строка имеет неверный тип или превышает лимит UTF-8.")],
    [{ budget: { maxAdapterCalls: 0 } }, ARGS, fault("ADAPTER_BUDGET", "Исчерпан общий бюджет вызовов адаптеров.")],
  ];
  for (const [options, args, expected] of cases) {
    const { provider, calls } = recording(5);
    const { ctx } = setup({ adapters: { "db.lookup": provider }, ...options });
    await assertRejects(callAdapter("db.lookup", LOOKUP, args, ctx), expected, expected.code);
    assertEqual(calls.length, 0, `${expected.code}: the adapter is not invoked`);
    assertEqual(ctx.ledger.adapterCalls, 0, `${expected.code}: nothing counted`);
    assertEqual(ctx.pool.stats.started, 0);
  }
});

test("an adapter's own failure propagates unchanged and the call stays counted", async () => {
  const thrown = new TypeError("adapter broke");
  for (const answer of [() => { throw thrown; }, () => Promise.reject(thrown)]) {
    const { ctx } = setup({ adapters: { "db.lookup": recording(answer).provider } });
    let caught;
    try {
      await callAdapter("db.lookup", LOOKUP, ARGS, ctx);
    } catch (error) {
      caught = error;
    }
    assert(caught === thrown);
    assertEqual(ctx.ledger.adapterCalls, 1);
    assertEqual(ctx.trace.length, 0);
  }
});

test("an aborted run aborts the adapter's signal and fails with the run's reason", async () => {
  let seen = null;
  const slow = recording((values, context) => {
    seen = context.signal;
    return new Promise(() => {});
  });
  const { ctx, controller } = setup({ adapters: { "db.lookup": slow.provider } });
  const pending = callAdapter("db.lookup", LOOKUP, ARGS, ctx);
  await Promise.resolve();
  await Promise.resolve();
  assert(seen !== null && !seen.aborted, "the adapter is running");
  const reason = new RuntimeDiagnostic("DEADLINE", "Истёк срок выполнения.");
  controller.abort(reason);
  await assertRejects(pending, fault("DEADLINE", "Истёк срок выполнения."));
  assert(seen.aborted, "the job's signal follows the run");

  const before = setup({ adapters: { "db.lookup": recording(5).provider } });
  before.controller.abort(new Error("caller stop"));
  await assertRejects(callAdapter("db.lookup", LOOKUP, ARGS, before.ctx), fault("CANCELLED", "Выполнение отменено."));
  assertEqual(before.ctx.ledger.adapterCalls, 0, "cancellation is tested before the call is counted");
});

test("calls wait in the pool under its concurrency bound", async () => {
  const releases = [];
  const gated = recording(() => new Promise((resolve) => releases.push(resolve)));
  const { ctx } = setup({ adapters: { "db.lookup": gated.provider }, budget: { maxConcurrent: 1 } });
  const first = callAdapter("db.lookup", LOOKUP, ARGS, ctx);
  const second = callAdapter("db.lookup", LOOKUP, ARGS, ctx);
  for (let turn = 0; turn < 4; turn += 1) await Promise.resolve();
  assertEqual(gated.calls.length, 1);
  assertEqual(ctx.pool.stats.queued, 1);
  releases[0](1);
  assertEqual((await first).value, 1);
  for (let turn = 0; turn < 4 && releases.length < 2; turn += 1) await Promise.resolve();
  assertEqual(gated.calls[1].context.budget.adapterCallsUsed, 2);
  releases[1](2);
  assertEqual((await second).value, 2);
  assertEqual(ctx.pool.stats.highWater, 1);
});
