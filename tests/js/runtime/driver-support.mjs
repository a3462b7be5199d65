// Shared helpers for the driver and session tests: the runtime hash written
// out independently, and a few small adapters.

const PREFIX = "KORVANTIS/runtime/v1\u0000";

// SHA-256 of the domain prefix and a canonical text given verbatim.
export async function runtimeHash(canonicalText) {
  const bytes = new TextEncoder().encode(PREFIX + canonicalText);
  const digest = new Uint8Array(await crypto.subtle.digest("SHA-256", bytes));
  let text = "";
  for (const byte of digest) text += (byte < 16 ? "0" : "") + byte.toString(16);
  return text;
}

export function utf8Bytes(text) {
  return new TextEncoder().encode(text).length;
}

// An adapter answering `answer(values, context)`; records every call.
export function adapter(answer, version = "1") {
  const calls = [];
  return {
    calls,
    provider: {
      version,
      invoke(values, context) {
        calls.push({ values, context });
        return answer(values, context);
      },
    },
  };
}

// An adapter that settles only when its job's signal aborts (then rejects
// with the signal's reason), or after `ms` milliseconds with `value`.
export function slowAdapter(ms, value) {
  const seen = [];
  const provider = {
    version: "slow",
    invoke(values, { signal }) {
      seen.push(signal);
      return new Promise((resolve, reject) => {
        const timer = setTimeout(() => resolve(value), ms);
        signal.addEventListener("abort", () => {
          clearTimeout(timer);
          reject(signal.reason);
        });
      });
    },
  };
  return { provider, seen };
}
