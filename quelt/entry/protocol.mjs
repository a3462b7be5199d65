// The request/response protocol: validates the one request, runs the check
// or run pipeline, and hands exactly one response line over.
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic } from "quelt/project.mjs";
import { RuntimeDiagnostic } from "quelt/runtime.mjs";
import { Boundary, refuse, object, closed, text } from "./boundary.mjs";
import { decode } from "./transport.mjs";
import { compilePure, contractOf, runOutputs } from "./pipelines.mjs";

export const FORMAT = "quelt-native-project-json-v1";
export const PROFILE = "closed-pure-native-project-macos-v1";

const RESPONSE_LIMIT = 16777216;
const REQUEST_KEYS = ["format", "operation", "entry", "sources", "inputs", "budget"];
const BUDGET_KEYS = ["maxSteps", "maxOutputBytes", "deadlineMs"];
const MAX_DEADLINE_MS = 86400000;

let encoder = null;

// Whether the UTF-8 encoding of `line` is longer than `limit` bytes. A code
// unit takes one to three bytes, so most lines are decided by their length;
// the rest are measured, and the encoder's own refusal of texts above 16 MiB
// counts as over the limit.
function utf8Exceeds(line, limit) {
  if (line.length > limit) return true;
  if (line.length * 3 <= limit) return false;
  if (encoder === null) encoder = new TextEncoder();
  try {
    return encoder.encode(line).length > limit;
  } catch (error) {
    if (error instanceof RangeError) return true;
    throw error;
  }
}

// Serializes one response and hands it to `hand` as one line.
export function emit(variant, hand) {
  const response = { format: FORMAT, status: variant.status, profile: PROFILE };
  if (variant.status === "error") response.error = variant.error;
  else if (Object.hasOwn(variant, "outputs")) response.outputs = variant.outputs;
  else response.contract = variant.contract;
  const line = JSON.stringify(response) + "\n";
  if (utf8Exceeds(line, RESPONSE_LIMIT)) refuse("NATIVE_TRANSPORT_LIMIT", "transport");
  hand(line);
}

// Validates the budget and returns it unchanged: a subsequence of the known
// keys in their order, each a safe integer of at least 1.
export function budget(value) {
  if (!object(value)) refuse();
  const keys = Object.keys(value);
  const allowed = BUDGET_KEYS.filter((key) => Object.hasOwn(value, key));
  if (keys.length !== allowed.length) refuse();
  for (let index = 0; index < keys.length; index += 1) {
    if (keys[index] !== allowed[index]) refuse();
  }
  for (const key of keys) {
    const limit = value[key];
    if (!Number.isSafeInteger(limit) || limit < 1) refuse();
    if (key === "deadlineMs" && limit > MAX_DEADLINE_MS) refuse();
  }
  return value;
}

function parseCanonical(raw) {
  if (typeof raw !== "string") refuse();
  let parsed;
  try {
    parsed = JSON.parse(raw);
  } catch {
    refuse();
  }
  if (serialized(parsed) !== raw) refuse();
  return parsed;
}

// The engine's serialization of a parsed request, or null when the engine
// cannot produce it: a document nested deeper than the serializer's stack
// allows is parsed by some engines but never shown to be canonical, so it is
// refused like any other non-canonical text.
function serialized(parsed) {
  try {
    return JSON.stringify(parsed);
  } catch {
    return null;
  }
}

// The supplied inputs as (name, node, value) triples in supply order.
function decodeInputs(list) {
  if (!Array.isArray(list)) refuse();
  const seen = new Set();
  const inputs = [];
  for (const element of list) {
    if (!Array.isArray(element) || element.length !== 2) refuse();
    const name = text(element[0]);
    if (seen.has(name)) refuse();
    seen.add(name);
    const node = element[1];
    inputs.push({ name, node, value: decode(node) });
  }
  return inputs;
}

export function readRequest(raw, requestError) {
  if (requestError !== null && requestError !== undefined) {
    refuse(requestError, requestError === "NATIVE_TRANSPORT_LIMIT" ? "transport" : "request");
  }
  const request = parseCanonical(raw);
  closed(request, REQUEST_KEYS);
  if (request.format !== FORMAT) refuse();
  if (request.operation !== "check" && request.operation !== "run") refuse();
  const entry = text(request.entry);
  const inputs = decodeInputs(request.inputs);
  const limits = budget(request.budget);
  return { operation: request.operation, entry, sources: request.sources, inputs, limits };
}

function isCount(value, least) {
  return Number.isSafeInteger(value) && value >= least;
}

// The error payload for anything thrown while answering a request.
export function errorPayload(error) {
  if (error instanceof Boundary) return { code: error.code, phase: error.phase, location: null };
  if (error instanceof CompileDiagnostic || error instanceof ProjectDiagnostic) {
    const { offset, line, column, sourcePath } = error;
    const located = isCount(offset, 0) && isCount(line, 1) && isCount(column, 1);
    const location = located
      ? { path: typeof sourcePath === "string" ? sourcePath : null, offset, line, column }
      : null;
    return { code: error.code, phase: "compile", location };
  }
  if (error instanceof RuntimeDiagnostic) return { code: error.code, phase: "runtime", location: null };
  return { code: "NATIVE_HOST_FAILURE", phase: "host", location: null };
}

// Answers one request: `raw` is the request text, `requestError` the host's
// refusal code or null, `hand` receives the one response line. If handing
// over the error response fails too, the rejection reaches the host.
export async function main(raw, requestError, hand) {
  try {
    const request = readRequest(raw, requestError);
    const program = await compilePure(request);
    if (request.operation === "check") {
      emit({ status: "ok", contract: contractOf(program) }, hand);
    } else {
      emit({ status: "ok", outputs: await runOutputs(program, request) }, hand);
    }
  } catch (error) {
    emit({ status: "error", error: errorPayload(error) }, hand);
  }
}
