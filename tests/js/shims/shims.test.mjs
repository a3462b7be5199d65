// The platform shims as the native host installs them. These tests need the
// host's native bindings, so they run only in quelt-test-host.
import { test as register, assert, assertEqual, assertDeepEqual, assertThrows, assertRejects } from "../harness.mjs";

// These cases need the native host; under Node.js they are not registered.
const test = typeof globalThis.__queltMonotonic === "function" ? register : () => {};

const bytes = (view) => [...view];
const hex = (buffer) => [...new Uint8Array(buffer)].map((b) => b.toString(16).padStart(2, "0")).join("");
const waitUntil = (time) => {
  while (performance.now() < time) {
    // busy wait: no host flush can run inside a synchronous test body
  }
};
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

test("shims: globals are fixed, hidden data properties", () => {
  const names = ["TextEncoder", "AbortController", "AbortSignal", "performance", "crypto", "setTimeout",
    "clearTimeout", "__queltFlushTimers"];
  for (const name of names) {
    const descriptor = Object.getOwnPropertyDescriptor(globalThis, name);
    assert(descriptor !== undefined && "value" in descriptor, `${name} is a data property`);
    assertDeepEqual([descriptor.writable, descriptor.enumerable, descriptor.configurable], [false, false, false], name);
  }
  assertEqual(TextEncoder.name, "NativeTextEncoder");
  assertEqual(AbortController.name, "NativeAbortController");
  assertEqual(AbortSignal.name, "NativeAbortSignal");
  assert(Object.isFrozen(performance) && Object.isFrozen(crypto) && Object.isFrozen(crypto.subtle), "frozen");
  assertDeepEqual(Object.keys(performance), ["now"]);
  assertDeepEqual(Object.keys(crypto), ["subtle"]);
  assertDeepEqual(Object.keys(crypto.subtle), ["digest"]);
  assertEqual(typeof globalThis.nativeTimers, "undefined");
  assertEqual(typeof globalThis.nextNativeTimer, "undefined");
});

test("shims: TextEncoder.encode converts with String() and encodes UTF-8", () => {
  const encoder = new TextEncoder();
  assertDeepEqual(Object.keys(encoder), []);
  const cases = [
    [[], []],
    [[undefined], []],
    [[""], []],
    [["a\u0000"], [97, 0]],
    [["\u00e9\u20ac"], [195, 169, 226, 130, 172]],
    [["\ud83d\ude00"], [240, 159, 152, 128]],
    [["\ud800"], [237, 160, 128]],
    [[null], [110, 117, 108, 108]],
    [[12], [49, 50]],
    [[{ toString: () => "x" }], [120]],
  ];
  for (const [args, expected] of cases) {
    const result = encoder.encode(...args);
    assert(result instanceof Uint8Array, "a Uint8Array");
    assertDeepEqual(bytes(result), expected, JSON.stringify(args));
  }
  assertThrows(() => encoder.encode("a".repeat(16777217)), { type: RangeError, message: "UTF8 limit" });
});

test("shims: a new signal has aborted, reason and listeners, in that order", () => {
  const controller = new AbortController();
  assertDeepEqual(Object.keys(controller), ["signal"]);
  assert(controller.signal instanceof AbortSignal, "signal is an AbortSignal");
  assertDeepEqual(Object.keys(controller.signal), ["aborted", "reason", "listeners"]);
  assertEqual(controller.signal.aborted, false);
  assertEqual(controller.signal.reason, undefined);
  assert(controller.signal.listeners instanceof Map, "listeners is a Map");
  controller.signal.throwIfAborted();
});

test("shims: abort calls each listener once, in insertion order, with the signal and an event", () => {
  const controller = new AbortController();
  const signal = controller.signal;
  const calls = [];
  function first(event) {
    calls.push(["first", this === signal, event.type, event.target === signal, signal.listeners.has(first)]);
  }
  function second() {
    calls.push(["second", signal.listeners.has(second)]);
  }
  signal.addEventListener("abort", first);
  signal.addEventListener("abort", second, { once: true });
  // Adding again keeps the place and only updates the flag.
  signal.addEventListener("abort", first, { once: true });
  // Ignored: other event names and non-functions.
  signal.addEventListener("Abort", () => calls.push(["wrong name"]));
  signal.addEventListener("abort", { handleEvent: () => calls.push(["object"]) });
  signal.removeEventListener("other", first);
  assertDeepEqual([...signal.listeners], [[first, true], [second, true]]);

  controller.abort("why");
  controller.abort("again");
  assertDeepEqual(calls, [["first", true, "abort", true, false], ["second", false]]);
  assertEqual(signal.aborted, true);
  assertEqual(signal.reason, "why");
  assertEqual(signal.listeners.size, 0);
  assertThrows(() => signal.throwIfAborted(), undefined);
  let thrown;
  try {
    signal.throwIfAborted();
  } catch (error) {
    thrown = error;
  }
  assertEqual(thrown, "why");
});

test("shims: abort reasons: undefined becomes Error Aborted, anything else is kept", () => {
  const plain = new AbortController();
  plain.abort();
  assert(plain.signal.reason instanceof Error, "an Error");
  assertEqual(plain.signal.reason.message, "Aborted");
  const explicit = new AbortController();
  explicit.abort(undefined);
  assertEqual(explicit.signal.reason.message, "Aborted");
  const withNull = new AbortController();
  withNull.abort(null);
  assertEqual(withNull.signal.reason, null);
  assertEqual(withNull.signal.aborted, true);
});

test("shims: removed listeners are not called; a throwing listener stops the rest", () => {
  const controller = new AbortController();
  const calls = [];
  const removed = () => calls.push("removed");
  const boom = new Error("listener");
  controller.signal.addEventListener("abort", removed);
  controller.signal.removeEventListener("abort", removed);
  controller.signal.addEventListener("abort", () => {
    calls.push("thrower");
    throw boom;
  });
  controller.signal.addEventListener("abort", () => calls.push("after"));
  const error = assertThrows(() => controller.abort(), Error);
  assertEqual(error, boom);
  assertDeepEqual(calls, ["thrower"]);
  assertEqual(controller.signal.aborted, true);
  controller.abort();
  assertDeepEqual(calls, ["thrower"]);
});

test("shims: performance.now is the host's monotonic clock", () => {
  const first = performance.now();
  const second = performance.now();
  assertEqual(typeof first, "number");
  assert(first >= 0 && second >= first, "non-decreasing");
  assert(Math.abs(__queltMonotonic() - second) < 1000, "same clock");
});

test("shims: crypto.subtle.digest hashes Uint8Arrays with SHA-256 only", async () => {
  assertEqual(hex(await crypto.subtle.digest("SHA-256", new Uint8Array(0))),
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  assertEqual(hex(await crypto.subtle.digest("SHA-256", new TextEncoder().encode("abc"))),
    "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  const refused = [
    ["sha-256", new Uint8Array(1)],
    ["SHA-1", new Uint8Array(1)],
    [{ name: "SHA-256" }, new Uint8Array(1)],
    ["SHA-256", new Uint16Array(1)],
    ["SHA-256", new Int8Array(1)],
    ["SHA-256", new ArrayBuffer(1)],
    ["SHA-256", [1]],
    ["SHA-256", undefined],
  ];
  for (const [algorithm, data] of refused) {
    const pending = crypto.subtle.digest(algorithm, data);
    assert(pending instanceof Promise, "refusals are rejections, not throws");
    await assertRejects(pending, { type: TypeError, message: "SHA256 input" }, String(algorithm));
  }
  await assertRejects(crypto.subtle.digest("SHA-256", new Uint8Array(16777217)),
    { type: TypeError, message: "SHA256 buffer" });
});

test("shims: setTimeout refuses anything but a function and a finite ms >= 0", () => {
  const refused = [[], [() => {}], [() => {}, "5"], [() => {}, -1], [() => {}, NaN], [() => {}, Infinity],
    [() => {}, 5n], [() => {}, null], ["code", 5], [null, 0]];
  for (const args of refused) {
    assertThrows(() => setTimeout(...args), { type: TypeError, message: "Timer" }, String(args.length));
  }
  const first = setTimeout(() => {}, 0);
  const second = setTimeout(() => {}, -0);
  assertEqual(second, first + 1);
  assertEqual(clearTimeout(first), undefined);
  clearTimeout(second);
  assertEqual(clearTimeout(123456789), undefined);
  assertEqual(clearTimeout("x"), undefined);
});

test("shims: flush fires due timers in insertion order, without arguments, once", () => {
  const seen = [];
  setTimeout(function late(...args) {
    seen.push(["late", args.length, this]);
  }, 5);
  const zero = setTimeout(() => seen.push(["zero"]), 0);
  const notDue = setTimeout(() => seen.push(["not due"]), 60000);
  assertDeepEqual(seen, [], "never synchronously");
  waitUntil(performance.now() + 6);
  __queltFlushTimers();
  assertDeepEqual(seen, [["late", 0, undefined], ["zero"]]);
  __queltFlushTimers();
  assertEqual(seen.length, 2, "fired timers are gone");
  clearTimeout(zero);
  clearTimeout(notDue);
});

test("shims: flush skips timers cleared by an earlier callback and defers timers set during it", () => {
  const seen = [];
  let victim = 0;
  setTimeout(() => {
    seen.push("first");
    clearTimeout(victim);
    setTimeout(() => seen.push("set during flush"), 0);
  }, 0);
  victim = setTimeout(() => seen.push("victim"), 0);
  waitUntil(performance.now() + 1);
  __queltFlushTimers();
  assertDeepEqual(seen, ["first"]);
  waitUntil(performance.now() + 1);
  __queltFlushTimers();
  assertDeepEqual(seen, ["first", "set during flush"]);
});

test("shims: a throwing callback ends the flush; later due timers stay pending", () => {
  const seen = [];
  const boom = new Error("timer");
  setTimeout(() => {
    throw boom;
  }, 0);
  setTimeout(() => seen.push("next"), 0);
  waitUntil(performance.now() + 1);
  const error = assertThrows(() => __queltFlushTimers(), Error);
  assertEqual(error, boom);
  assertDeepEqual(seen, []);
  __queltFlushTimers();
  assertDeepEqual(seen, ["next"]);
});

test("shims: the host loop drives timers and their promise jobs", async () => {
  const seen = [];
  setTimeout(() => Promise.resolve().then(() => seen.push("job of timer")), 0);
  await sleep(5);
  assertDeepEqual(seen, ["job of timer"]);
  const started = performance.now();
  await sleep(20);
  assert(performance.now() - started >= 20, "waited at least the delay");
});
