// Web-platform globals for the native host, built on the host's native
// bindings: TextEncoder, AbortController/AbortSignal, performance.now,
// crypto.subtle.digest, setTimeout/clearTimeout, and the host's timer hook
// __queltFlushTimers. Evaluated once as a strict global script before the
// entry module.
"use strict";

(() => {
  const utf8 = globalThis.__queltUtf8;
  const sha256 = globalThis.__queltSha256;
  const monotonic = globalThis.__queltMonotonic;

  // Pending timers by id, in the order they were set.
  const nativeTimers = new Map();
  // The last id handed out; ids are never reused.
  let nextNativeTimer = 0;

  class NativeTextEncoder {
    encode(value = "") {
      return new Uint8Array(utf8(String(value)));
    }
  }

  class NativeAbortSignal {
    constructor() {
      this.aborted = false;
      this.reason = undefined;
      this.listeners = new Map();
    }

    addEventListener(name, callback, options = {}) {
      if (name !== "abort" || typeof callback !== "function") return;
      this.listeners.set(callback, Boolean(options.once));
    }

    removeEventListener(name, callback) {
      if (name === "abort") this.listeners.delete(callback);
    }

    throwIfAborted() {
      if (this.aborted) throw this.reason;
    }
  }

  class NativeAbortController {
    constructor() {
      this.signal = new NativeAbortSignal();
    }

    abort(reason) {
      const cause = reason === undefined ? new Error("Aborted") : reason;
      const signal = this.signal;
      if (signal.aborted) return;
      signal.aborted = true;
      signal.reason = cause;
      const event = { type: "abort", target: signal };
      for (const [callback, once] of [...signal.listeners]) {
        if (once) signal.listeners.delete(callback);
        callback.call(signal, event);
      }
    }
  }

  // performance.now is the native clock itself: it ignores its arguments and
  // receiver, so calling it directly gives what a wrapper calling it would,
  // without a script frame on every clock reading.
  const performance = Object.freeze({ now: monotonic });

  const crypto = Object.freeze({
    subtle: Object.freeze({
      async digest(algorithm, bytes) {
        if (algorithm !== "SHA-256" || !(bytes instanceof Uint8Array)) throw new TypeError("SHA256 input");
        return sha256(bytes);
      },
    }),
  });

  function setTimeout(callback, ms) {
    if (typeof callback !== "function" || typeof ms !== "number" || !Number.isFinite(ms) || ms < 0) {
      throw new TypeError("Timer");
    }
    nextNativeTimer += 1;
    nativeTimers.set(nextNativeTimer, { callback, at: monotonic() + ms });
    return nextNativeTimer;
  }

  function clearTimeout(id) {
    nativeTimers.delete(id);
  }

  // Fires the timers that are due now, in the order they were set. Timers
  // set by a callback carry a larger id than any pending at the start, so
  // the walk stops there and they wait for a later flush; timers cleared by
  // an earlier callback are no longer in the map and are skipped.
  function flushTimers() {
    if (nativeTimers.size === 0) return;
    const now = monotonic();
    const lastId = nextNativeTimer;
    for (const [id, timer] of nativeTimers) {
      if (id > lastId) break;
      if (timer.at <= now && nativeTimers.delete(id)) {
        const callback = timer.callback;
        callback();
      }
    }
  }

  const fixed = (value) => ({ value, writable: false, enumerable: false, configurable: false });
  Object.defineProperties(globalThis, {
    TextEncoder: fixed(NativeTextEncoder),
    AbortController: fixed(NativeAbortController),
    AbortSignal: fixed(NativeAbortSignal),
    performance: fixed(performance),
    crypto: fixed(crypto),
    setTimeout: fixed(setTimeout),
    clearTimeout: fixed(clearTimeout),
    __queltFlushTimers: fixed(flushTimers),
  });
})();
