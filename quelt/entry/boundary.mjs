// The entry module's own refusals and the small shape checks that every part
// of the request protocol shares.

// A refusal of the entry module: the code travels as the message, and the
// code and phase are what the error response reports.
export class Boundary extends Error {
  constructor(code, phase) {
    super(code);
    this.name = "Boundary";
    this.code = code;
    this.phase = phase;
  }
}

export function refuse(code = "NATIVE_REQUEST", phase = "request") {
  throw new Boundary(code, phase);
}

// A non-null object that is not an array.
export function object(value) {
  return typeof value === "object" && value !== null && !Array.isArray(value);
}

// Refuses unless `value` is an object whose own enumerable keys are exactly
// `keys`, in that order.
export function closed(value, keys) {
  if (!object(value)) refuse();
  const own = Object.keys(value);
  if (own.length !== keys.length) refuse();
  for (let index = 0; index < keys.length; index += 1) {
    if (own[index] !== keys[index]) refuse();
  }
}

// Refuses unless `value` is a string without unpaired surrogates; returns it.
export function text(value) {
  if (typeof value !== "string" || !value.isWellFormed()) refuse();
  return value;
}

export function define(target, name, value) {
  Object.defineProperty(target, name, { value, writable: true, enumerable: true, configurable: true });
}
