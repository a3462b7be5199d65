// The runtime's one error class, and the helpers every runtime part shares to
// raise it and to read the clock.
//
// Exports:
//   RuntimeDiagnostic(code, message)  Error subclass; own fields name, code.
//   fail(code, message)               throws a new RuntimeDiagnostic.
//   abortReason(signal)               the signal's reason when it is a
//                                     RuntimeDiagnostic, else a new CANCELLED one.
//   now()                             milliseconds (performance.now, else Date.now).

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
  if (typeof performance !== "undefined" && performance !== null && typeof performance.now === "function") {
    const value = performance.now();
    if (value !== null && value !== undefined) return value;
  }
  return Date.now();
}
