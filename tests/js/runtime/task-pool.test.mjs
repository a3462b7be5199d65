import { test, assert, assertEqual, assertDeepEqual, assertThrows, assertRejects } from "../harness.mjs";
import { TaskPool } from "../../../quelt/runtime/task-pool.mjs";
import { DEFAULT_BUDGET } from "../../../quelt/runtime/limits.mjs";
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";

const CANCELLED = { type: RuntimeDiagnostic, code: "CANCELLED", message: "Выполнение отменено." };
const CLOSED = { type: RuntimeDiagnostic, code: "POOL_CLOSED", message: "Очередь задач закрыта." };
const FULL = { type: RuntimeDiagnostic, code: "QUEUE_FULL", message: "Очередь задач заполнена." };

function defer() {
  let resolve;
  let reject;
  const promise = new Promise((yes, no) => {
    resolve = yes;
    reject = no;
  });
  return { promise, resolve, reject };
}

async function ticks(count = 5) {
  for (let i = 0; i < count; i += 1) await Promise.resolve();
}

// A task that waits for its own deferred and records that it was called.
function gatedTask(log, name) {
  const gate = defer();
  const task = (options) => {
    log.push(name);
    task.signal = options.signal;
    return gate.promise;
  };
  task.gate = gate;
  return task;
}

function counts(pool) {
  const s = pool.stats;
  return [s.highWater, s.queuedHighWater, s.started, s.settled, s.cancelled, s.active, s.queued];
}

test("construction: defaults, read-only bounds and refused limits", () => {
  const pool = new TaskPool();
  assertDeepEqual(Object.keys(pool), ["maxConcurrent", "maxQueued"]);
  assertDeepEqual([pool.maxConcurrent, pool.maxQueued], [4, 256]);
  assertThrows(() => {
    pool.maxConcurrent = 9; // modules are strict: writing a read-only field throws
  }, TypeError);
  assertEqual(pool.maxConcurrent, 4);
  assertDeepEqual(pool.stats, { highWater: 0, queuedHighWater: 0, started: 0, settled: 0, cancelled: 0, active: 0, queued: 0 });
  assert(Object.isFrozen(pool.stats));
  const fromBudget = new TaskPool({ ...DEFAULT_BUDGET, maxConcurrent: 256, maxQueued: 0 });
  assertDeepEqual([fromBudget.maxConcurrent, fromBudget.maxQueued], [256, 0]);
  new TaskPool({ maxConcurrent: 1, maxQueued: 10000 });
  for (const limits of [
    { maxConcurrent: 0 },
    { maxConcurrent: 257 },
    { maxConcurrent: 1.5 },
    { maxConcurrent: "4" },
    { maxQueued: -1 },
    { maxQueued: 10001 },
    { maxQueued: null },
    null,
  ]) {
    assertThrows(() => new TaskPool(limits), { type: RuntimeDiagnostic, code: "POOL_LIMIT", message: "Неверные границы очереди задач." }, JSON.stringify(limits));
  }
});

test("run refusals come as rejections, in order, and change no statistics", async () => {
  const closed = new TaskPool();
  closed.close();
  const busy = new TaskPool({ maxConcurrent: 1, maxQueued: 0 });
  const running = gatedTask([], "running");
  busy.run(running);
  await ticks();
  const before = counts(busy);
  const diagnostic = new RuntimeDiagnostic("STOPPED", "stopped");
  const abortedWith = (reason) => {
    const controller = new AbortController();
    controller.abort(reason);
    return controller.signal;
  };
  const cases = [
    [closed, "task", { signal: null }, { code: "TASK_TYPE", message: "Задача должна быть функцией." }],
    [closed, () => 1, { signal: {} }, { code: "SIGNAL_SCHEMA", message: "Ожидается AbortSignal." }],
    [closed, () => 1, { signal: abortedWith(diagnostic) }, CLOSED],
    [busy, () => 1, { signal: abortedWith(diagnostic) }, { code: "STOPPED", message: "stopped" }],
    [busy, () => 1, { signal: abortedWith(new Error("plain")) }, CANCELLED],
    [busy, () => 1, {}, FULL],
  ];
  for (const [pool, task, options, expected] of cases) {
    const outcome = pool.run(task, options);
    assert(outcome instanceof Promise, "refusals are promises");
    await assertRejects(outcome, { type: RuntimeDiagnostic, ...expected }, expected.code);
  }
  assertEqual(await busy.run(() => 1, { signal: abortedWith(diagnostic) }).catch((e) => e), diagnostic);
  assertDeepEqual(counts(busy), before);
  assertDeepEqual(counts(closed), [0, 0, 0, 0, 0, 0, 0]);
});

test("one slot and no queue: a second task is refused until the first settles", async () => {
  const pool = new TaskPool({ maxConcurrent: 1, maxQueued: 0 });
  const first = gatedTask([], "first");
  const outcome = pool.run(first);
  await assertRejects(pool.run(() => 2), FULL);
  first.gate.resolve("one");
  assertEqual(await outcome, "one");
  assertEqual(await pool.submit(() => "two"), "two");
  assertDeepEqual(counts(pool), [1, 0, 2, 2, 0, 0, 0]);
});

test("tasks start in a later job, in queue order, with their own frozen signal", async () => {
  const log = [];
  const pool = new TaskPool({ maxConcurrent: 2, maxQueued: 3 });
  const tasks = ["a", "b", "c", "d", "e"].map((name) => gatedTask(log, name));
  const caller = new AbortController();
  const outcomes = tasks.map((task) => pool.run(task, { signal: caller.signal }));
  assertDeepEqual(log, [], "never called synchronously from run");
  assertDeepEqual(counts(pool), [2, 3, 0, 0, 0, 2, 3]);
  await ticks();
  assertDeepEqual(log, ["a", "b"]);
  assert(tasks[0].signal !== caller.signal && tasks[0].signal.aborted === false);
  tasks[1].gate.resolve("B");
  await ticks();
  assertDeepEqual(log, ["a", "b", "c"]);
  tasks[0].gate.reject(new Error("task failed"));
  await assertRejects(outcomes[0], { message: "task failed" });
  assertEqual(await outcomes[1], "B");
  await ticks();
  assertDeepEqual(log, ["a", "b", "c", "d"]);
  tasks[2].gate.resolve("C");
  tasks[3].gate.resolve("D");
  tasks[4].gate.resolve("E");
  assertDeepEqual(await Promise.all(outcomes.slice(2)), ["C", "D", "E"]);
  assertDeepEqual(counts(pool), [2, 3, 5, 5, 0, 0, 0]);
});

test("synchronous results and synchronous throws settle the job", async () => {
  const pool = new TaskPool();
  const error = new TypeError("sync throw");
  assertEqual(await pool.run(() => 42), 42);
  const received = await pool.run((options) => options);
  assertDeepEqual(Object.keys(received), ["signal"]);
  assert(Object.isFrozen(received) && received.signal.aborted === false);
  assertEqual(await pool.run(() => { throw error; }).catch((e) => e), error, "failure passes unchanged");
  assertDeepEqual(counts(pool), [1, 0, 3, 3, 0, 0, 0]);
});

test("a queued job cancelled by its caller leaves the queue and never starts", async () => {
  const log = [];
  const pool = new TaskPool({ maxConcurrent: 1, maxQueued: 2 });
  const running = gatedTask(log, "running");
  pool.run(running);
  const reason = new RuntimeDiagnostic("USER_STOP", "stop");
  const callers = [new AbortController(), new AbortController()];
  const queued = [gatedTask(log, "q1"), gatedTask(log, "q2")];
  const outcomes = queued.map((task, i) => pool.run(task, { signal: callers[i].signal }));
  await ticks();
  callers[0].abort(reason);
  callers[1].abort(new Error("not a diagnostic"));
  assertEqual(await outcomes[0].catch((e) => e), reason);
  await assertRejects(outcomes[1], CANCELLED);
  assertDeepEqual(counts(pool), [1, 2, 1, 0, 2, 1, 0]);
  running.gate.resolve(1);
  await ticks();
  assertDeepEqual(log, ["running"]);
  assertDeepEqual(counts(pool), [1, 2, 1, 1, 2, 0, 0]);
});

test("a running job cancelled by its caller is rejected at once and keeps its slot", async () => {
  const log = [];
  const pool = new TaskPool({ maxConcurrent: 1, maxQueued: 1 });
  const caller = new AbortController();
  const running = gatedTask(log, "running");
  const next = gatedTask(log, "next");
  const outcome = pool.run(running, { signal: caller.signal });
  const nextOutcome = pool.run(next);
  await ticks();
  caller.abort();
  await assertRejects(outcome, CANCELLED);
  assert(running.signal.aborted, "the task sees its own signal abort");
  assertEqual(running.signal.reason.code, "CANCELLED");
  await ticks();
  assertDeepEqual(log, ["running"], "the slot stays busy until the task finishes");
  assertDeepEqual(counts(pool), [1, 1, 1, 0, 1, 1, 1]);
  running.gate.resolve("late result");
  await ticks();
  assertDeepEqual(log, ["running", "next"]);
  next.gate.resolve("next done");
  assertEqual(await nextOutcome, "next done");
  assertDeepEqual(counts(pool), [1, 1, 2, 2, 1, 0, 0]);
});

test("a signal aborted between run and the start settles without calling the task", async () => {
  const log = [];
  const pool = new TaskPool();
  const caller = new AbortController();
  const outcome = pool.run(gatedTask(log, "never"), { signal: caller.signal });
  caller.abort();
  await assertRejects(outcome, CANCELLED);
  await ticks();
  assertDeepEqual(log, []);
  assertDeepEqual(counts(pool), [1, 0, 0, 1, 1, 0, 0]);
});

test("a settled job no longer listens to its caller's signal", async () => {
  const pool = new TaskPool();
  const caller = new AbortController();
  assertEqual(await pool.run(() => "done", { signal: caller.signal }), "done");
  caller.abort();
  assertDeepEqual(counts(pool), [1, 0, 1, 1, 0, 0, 0]);
});

test("close cancels queued and running jobs and refuses later tasks", async () => {
  const log = [];
  const pool = new TaskPool({ maxConcurrent: 1, maxQueued: 5 });
  const running = gatedTask(log, "running");
  const outcomes = [pool.run(running), pool.run(gatedTask(log, "q1")), pool.run(gatedTask(log, "q2"))];
  await ticks();
  pool.close();
  for (const outcome of outcomes) await assertRejects(outcome, CANCELLED);
  assert(running.signal.aborted);
  await assertRejects(pool.run(() => 1), CLOSED);
  running.gate.resolve("late");
  await ticks();
  assertDeepEqual(log, ["running"], "nothing queued starts after close");
  assertDeepEqual(counts(pool), [1, 2, 1, 1, 3, 0, 0]);
  pool.close();
  assertDeepEqual(counts(pool), [1, 2, 1, 1, 3, 0, 0]);
});
