// Placeholder until this part of the runtime is built.
export function isRunReceipt() {
  throw new Error("isRunReceipt is not built yet");
}
