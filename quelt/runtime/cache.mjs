// Placeholder until this part of the runtime is built.
export function createRuntimeCache() {
  throw new Error("createRuntimeCache is not built yet");
}
export function runtimeCacheStats() {
  throw new Error("runtimeCacheStats is not built yet");
}
