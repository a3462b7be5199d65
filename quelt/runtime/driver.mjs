// Placeholder until this part of the runtime is built.
export function execute() {
  throw new Error("execute is not built yet");
}
