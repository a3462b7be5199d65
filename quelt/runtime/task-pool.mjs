// A pool that runs asynchronous tasks with bounds on how many run at once and
// how many wait, giving each task its own abort signal. Each task is a job:
// "queued" -> "running" -> "settled", or "queued" -> "settled" when cancelled
// while waiting. A job's promise is settled exactly once, by the task's
// outcome or by cancellation, whichever comes first; a cancelled running job
// keeps its slot until its task finishes.
//
//   new TaskPool(limits = {})  limits.maxConcurrent (1..256, default 4),
//                              limits.maxQueued (0..10000, default 256)
//   pool.run(task, {signal})   -> promise of the task's result; task({signal})
//   pool.submit(task, options) same as run
//   pool.close()               refuses future tasks, cancels queued then running jobs
//   pool.stats                 frozen {highWater, queuedHighWater, started, settled,
//                                      cancelled, active, queued}

import { RuntimeDiagnostic, abortReason, fail } from "./diagnostics.mjs";
import { validateSignal } from "./settings.mjs";

const DEFAULT_CONCURRENT = 4;
const DEFAULT_QUEUED = 256;
const MAX_CONCURRENT = 256;
const MAX_QUEUED = 10000;

function poolBound(value, lowest, highest) {
  return Number.isSafeInteger(value) && value >= lowest && value <= highest;
}

function cancelled() {
  return new RuntimeDiagnostic("CANCELLED", "Выполнение отменено.");
}

export class TaskPool {
  #queue = new Set();
  #active = 0;
  #closed = false;
  #running = new Set();
  #stats = { highWater: 0, queuedHighWater: 0, started: 0, settled: 0, cancelled: 0 };

  constructor(limits = {}) {
    if (limits === null || typeof limits !== "object") {
      fail("POOL_LIMIT", "Неверные границы очереди задач.");
    }
    const maxConcurrent = limits.maxConcurrent === undefined ? DEFAULT_CONCURRENT : limits.maxConcurrent;
    const maxQueued = limits.maxQueued === undefined ? DEFAULT_QUEUED : limits.maxQueued;
    if (!poolBound(maxConcurrent, 1, MAX_CONCURRENT) || !poolBound(maxQueued, 0, MAX_QUEUED)) {
      fail("POOL_LIMIT", "Неверные границы очереди задач.");
    }
    Object.defineProperty(this, "maxConcurrent", { value: maxConcurrent, enumerable: true });
    Object.defineProperty(this, "maxQueued", { value: maxQueued, enumerable: true });
  }

  get stats() {
    return Object.freeze({ ...this.#stats, active: this.#active, queued: this.#queue.size });
  }

  run(task, options = {}) {
    try {
      return this.#accept(task, options?.signal);
    } catch (error) {
      return Promise.reject(error);
    }
  }

  submit(task, options) {
    return this.run(task, options);
  }

  close() {
    this.#closed = true;
    for (const job of [...this.#queue]) this.#cancel(job);
    for (const job of [...this.#running]) this.#cancel(job);
  }

  // The refusals, in order, then the new job: started at once when a slot is
  // free, queued otherwise.
  #accept(task, signal) {
    if (typeof task !== "function") fail("TASK_TYPE", "Задача должна быть функцией.");
    validateSignal(signal);
    if (this.#closed) fail("POOL_CLOSED", "Очередь задач закрыта.");
    if (signal !== undefined && signal.aborted) throw abortReason(signal);
    const busy = this.#active >= this.maxConcurrent;
    if (busy && this.#queue.size >= this.maxQueued) fail("QUEUE_FULL", "Очередь задач заполнена.");
    const job = {
      task,
      resolve: null,
      reject: null,
      external: signal,
      controller: new AbortController(),
      state: "queued",
      delivered: false,
      cancel: null,
    };
    const promise = new Promise((resolve, reject) => {
      job.resolve = resolve;
      job.reject = reject;
    });
    job.cancel = () => this.#cancel(job);
    if (signal !== undefined) signal.addEventListener("abort", job.cancel, { once: true });
    if (this.#active < this.maxConcurrent) {
      this.#start(job);
    } else {
      this.#queue.add(job);
      if (this.#queue.size > this.#stats.queuedHighWater) this.#stats.queuedHighWater = this.#queue.size;
    }
    return promise;
  }

  // Takes a slot now; the task itself is called in a later promise job.
  #start(job) {
    const own = job.controller.signal;
    if (own.aborted || job.state === "settled") return;
    job.state = "running";
    this.#active += 1;
    this.#running.add(job);
    if (this.#active > this.#stats.highWater) this.#stats.highWater = this.#active;
    Promise.resolve()
      .then(() => {
        if (own.aborted) throw abortReason(own);
        this.#stats.started += 1;
        return job.task(Object.freeze({ signal: own }));
      })
      .then(
        (value) => this.#settle(job, false, value),
        (failure) => this.#settle(job, true, failure),
      );
  }

  #settle(job, failed, outcome) {
    job.state = "settled";
    if (job.external !== undefined) job.external.removeEventListener("abort", job.cancel);
    if (this.#running.delete(job)) this.#active -= 1;
    this.#stats.settled += 1;
    this.#drain();
    if (job.delivered) return;
    job.delivered = true;
    if (failed) job.reject(outcome);
    else job.resolve(outcome);
  }

  #drain() {
    while (!this.#closed && this.#active < this.maxConcurrent && this.#queue.size > 0) {
      const next = this.#queue.values().next().value;
      this.#queue.delete(next);
      this.#start(next);
    }
  }

  #cancel(job) {
    if (job.state === "settled") return;
    const external = job.external;
    const reason = external !== undefined && external.aborted ? abortReason(external) : cancelled();
    job.controller.abort(reason);
    if (!job.delivered) {
      job.delivered = true;
      this.#stats.cancelled += 1;
      job.reject(reason);
    }
    if (job.state === "queued") {
      this.#queue.delete(job);
      job.state = "settled";
      if (external !== undefined) external.removeEventListener("abort", job.cancel);
    }
  }
}
