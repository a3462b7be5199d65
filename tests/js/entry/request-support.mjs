// Helpers for the entry tests: whole requests through `main`, refusals and tagged nodes.
import { assertEqual } from "../harness.mjs";
import { main, FORMAT } from "../../../quelt/entry/protocol.mjs";
import { Boundary } from "../../../quelt/entry/boundary.mjs";

export const NO_DIGEST = "0".repeat(64);

// The exact error response line for a code, phase and location.
export function errorLine(code, phase, location = null) {
  return (
    '{"format":"quelt-native-project-json-v1","status":"error","profile":"closed-pure-native-project-macos-v1",' +
    `"error":${JSON.stringify({ code, phase, location })}}\n`
  );
}

async function sha256(source) {
  const digest = await crypto.subtle.digest("SHA-256", new TextEncoder().encode(source));
  return Array.from(new Uint8Array(digest), (byte) => byte.toString(16).padStart(2, "0")).join("");
}

// Sources with their digests; a file given as [source, digest] keeps that digest.
export async function sourcesOf(files) {
  const sources = {};
  for (const [path, file] of Object.entries(files)) {
    const [source, digest] = Array.isArray(file) ? file : [file, await sha256(file)];
    sources[path] = { source, sha256: digest };
  }
  return sources;
}

// The canonical request text for the given files, inputs and budget.
export async function rawRequest({ operation = "check", entry = "main.quelt", files, inputs = [], budget = {} }) {
  return JSON.stringify({ format: FORMAT, operation, entry, sources: await sourcesOf(files), inputs, budget });
}

// Runs one raw request through `main` and returns its one response line.
export async function answerRaw(raw) {
  const lines = [];
  await main(raw, null, (line) => lines.push(line));
  assertEqual(lines.length, 1, "exactly one line");
  return lines[0];
}

// Refusals as the entry raises them, and tagged nodes, for the transport tests.
export const REQUEST_REFUSAL = { type: Boundary, code: "NATIVE_REQUEST", phase: "request" };
export const TRANSPORT_LIMIT = { type: Boundary, code: "NATIVE_TRANSPORT_LIMIT", phase: "transport" };
export const num = (bits) => ({ tag: "number", bits });
export const txt = (value) => ({ tag: "text", value });
export const arr = (...items) => ({ tag: "array", items });
export const rec = (...entries) => ({ tag: "record", entries });
