// SHA-256 digests through the web crypto interface, and the canonical JSON
// text that the project identity is hashed from.
import { fail } from "./diagnostics.mjs";

let encoder = null;

function hex(buffer) {
  const bytes = new Uint8Array(buffer);
  let text = "";
  for (let index = 0; index < bytes.length; index += 1) {
    text += (bytes[index] < 16 ? "0" : "") + bytes[index].toString(16);
  }
  return text;
}

// Lowercase hexadecimal SHA-256 of the UTF-8 bytes of `text`, through the
// web crypto interface of `platform` (the global object unless given).
export async function sha(text, platform = globalThis) {
  const crypto = platform.crypto;
  if (!crypto || !crypto.subtle) fail("PROJECT_CRYPTO", "WebCrypto SHA-256 is required");
  encoder ??= new TextEncoder();
  return hex(await crypto.subtle.digest("SHA-256", encoder.encode(text)));
}

// JSON without whitespace, object keys in ascending code-unit order.
export function canonical(value) {
  if (value === null || typeof value !== "object") return JSON.stringify(value);
  if (Array.isArray(value)) return `[${value.map(canonical).join(",")}]`;
  const keys = Object.keys(value).sort();
  return `{${keys.map((key) => `${JSON.stringify(key)}:${canonical(value[key])}`).join(",")}}`;
}

// Digest of a text under a fixed ASCII domain: domain, one NUL byte, text.
export function domainSha(domain, text) {
  return sha(`${domain}\u0000${text}`);
}
