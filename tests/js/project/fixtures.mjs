// Shared helpers for the project tests: projects with correct digests, and
// digests computed straight through the platform's SHA-256.

export async function sha256Hex(text) {
  const digest = await crypto.subtle.digest("SHA-256", new TextEncoder().encode(text));
  return Array.from(new Uint8Array(digest), (byte) => byte.toString(16).padStart(2, "0")).join("");
}

// {path: text} -> the `sources` option, each record with its true digest.
export async function sourcesOf(files) {
  const sources = {};
  for (const [path, source] of Object.entries(files)) sources[path] = { source, sha256: await sha256Hex(source) };
  return sources;
}

export const ZERO_DIGEST = "0".repeat(64);
export const EMPTY_SHA256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

export const MINIMAL_ENTRY = "brindlet m { input a: Int output a }";
