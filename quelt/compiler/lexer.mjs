// Placeholder until this part of the compiler is built.
export function getSourceTokens() {
  throw new Error("getSourceTokens is not built yet");
}
