// Placeholder until this part of the compiler is built.
export function isCompiledProgram() {
  return false;
}
export function getExpressionType() {
  throw new Error("getExpressionType is not built yet");
}
export function getDeriveSourceRange() {
  throw new Error("getDeriveSourceRange is not built yet");
}
