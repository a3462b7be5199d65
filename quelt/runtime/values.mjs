// The runtime's value model.

// The single unknown value; inside Record data it is stored as a plain object
// of the same shape.
export const UNKNOWN = Object.freeze({ kind: "quelt-unknown" });

export function isUnknown(value) {
  return value === UNKNOWN;
}
