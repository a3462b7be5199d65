// The runtime's one error class, and the helpers every runtime part shares to
// raise it and to read the clock.

export class RuntimeDiagnostic extends Error {
  constructor(code, message) {
    super(message);
    this.name = "RuntimeDiagnostic";
    this.code = code;
  }
}

export function fail(code, message) {
  throw new RuntimeDiagnostic(code, message);
}

// The diagnostic that an aborted signal stands for.
export function abortReason(signal) {
  if (signal.reason instanceof RuntimeDiagnostic) return signal.reason;
  return new RuntimeDiagnostic("CANCELLED", "Выполнение отменено.");
}

// Milliseconds from the monotonic clock when the platform has one.
export function now() {
  if (typeof performance !== "undefined" && performance !== null) {
    const value = performance.now();
    if (value !== null && value !== undefined) return value;
  }
  return Date.now();
}
