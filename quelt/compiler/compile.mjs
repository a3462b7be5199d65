// Placeholder until this part of the compiler is built.
export function compileModule() {
  throw new Error("compileModule is not built yet");
}
