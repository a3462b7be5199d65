// The request/response protocol: validates the one request, runs the check
// or run pipeline, and hands exactly one response line over.
import { CompileDiagnostic } from "quelt/compiler.mjs";
import { ProjectDiagnostic } from "quelt/project.mjs";
import { RuntimeDiagnostic } from "quelt/runtime.mjs";
import { Boundary, refuse, object, closed, text } from "./boundary.mjs";
import { decode, takeTextLength, ENTRY_TEXT, commas } from "./transport.mjs";
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

// Validates the request and returns its parts. A canonical request that
// passes every check is read by `readQuickly`; any other is read below. How
// deep a document the serializer takes below depends on the stack frames of
// `readRequest`, `parseCanonical` and `serialized`, so they keep their size
// (hence `request` is reused rather than a new variable added).
export function readRequest(raw, requestError) {
  if (requestError !== null && requestError !== undefined) {
    refuse(requestError, requestError === "NATIVE_TRANSPORT_LIMIT" ? "transport" : "request");
  }
  let request = readQuickly(raw);
  if (request !== null) return request;
  request = parseCanonical(raw);
  closed(request, REQUEST_KEYS);
  if (request.format !== FORMAT) refuse();
  if (request.operation !== "check" && request.operation !== "run") refuse();
  const entry = text(request.entry);
  const inputs = decodeInputs(request.inputs);
  const limits = budget(request.budget);
  return { operation: request.operation, entry, sources: request.sources, inputs, limits };
}

// Below QUICK_READ_MIN code units the exact way is the cheaper one: the
// shortcut's fixed cost (serializing a deeply nested placeholder) exceeds what
// it saves on a small request.
const QUICK_READ_MIN = 65536;

// A shortcut for canonical requests that passes every check: the same parts
// as `readRequest`, found without serializing the inputs, or null whenever it
// cannot vouch for the request (then `readRequest` reads it the exact way,
// which also finds the refusal and its order).
function readQuickly(raw) {
  if (typeof raw !== "string" || raw.length < QUICK_READ_MIN) return null;
  try {
    return quickRequest(raw);
  } catch {
    return null;
  }
}

function quickRequest(raw) {
  if (typeof raw !== "string") return null;
  const request = JSON.parse(raw);
  closed(request, REQUEST_KEYS);
  const frame = frameOf(request);
  if (frame === null || !raw.startsWith(frame.head) || !raw.endsWith(frame.tail)) return null;
  if (request.format !== FORMAT) return null;
  if (request.operation !== "check" && request.operation !== "run") return null;
  const entry = text(request.entry);
  takeTextLength();
  const inputs = decodeInputs(request.inputs);
  const start = frame.head.length;
  const end = raw.length - frame.tail.length;
  if (!inputsCanonical(raw, start, end, request.inputs, inputs)) return null;
  const limits = budget(request.budget);
  return { operation: request.operation, entry, sources: request.sources, inputs, limits };
}

// Arrays nested deeper than the JSON text of any inputs that decode, which
// is at most 3 * 64 + 4 levels: the inputs array, a pair, its node, then per
// depth at most entries, entry and value node, and the deepest node's strings
// or empty items.
const SHELL_DEPTH = 3 * 64 + 8;
let shellInputs = null;

function deepArrays() {
  if (shellInputs === null) {
    let value = [];
    for (let level = 1; level < SHELL_DEPTH; level += 1) value = [value];
    shellInputs = value;
  }
  return shellInputs;
}

// The serialization of a request with the six keys around its inputs: the
// text up to the inputs key's colon and the text from the comma before the
// budget key. It is written with the inputs replaced by `deepArrays`, from
// deeper in the stack than `parseCanonical` calls the serializer, so when it
// succeeds, serializing the whole request there succeeds too.
function frameOf(request) {
  const shell = {
    format: request.format,
    operation: request.operation,
    entry: request.entry,
    sources: request.sources,
    inputs: deepArrays(),
    budget: request.budget,
  };
  const whole = serialized(shell);
  const budgetText = serialized(request.budget);
  if (whole === null || budgetText === null) return null;
  const tail = ',"budget":' + budgetText + "}";
  return { head: whole.slice(0, whole.length - tail.length - 2 * SHELL_DEPTH), tail };
}

// Whether the raw text between `start` and `end` is the serialization of the
// decoded inputs. Without a backslash there, it holds exactly when the length
// is the one decoding summed: that text has no escapes, so the inputs' strings
// need none (the parser refuses raw control characters, decoding refuses
// unpaired surrogates) and the sum is their serialization's length; and since
// the inputs hold no numbers or nulls and their objects no index-like keys,
// any other text for the same value, or a text that also holds further
// members of the request, is longer (blanks, escapes or repeated keys).
function inputsCanonical(raw, start, end, list, inputs) {
  if (end < start) return false;
  const backslash = raw.indexOf("\\", start);
  if (backslash === -1 || backslash >= end) return end - start === inputsTextLength(inputs);
  const exact = serialized(list);
  return exact !== null && exact.length === end - start && raw.startsWith(exact, start);
}

// The text length of the decoded inputs list: its brackets and commas, each
// pair's brackets, name and comma, and the nodes' lengths summed by `decode`.
function inputsTextLength(inputs) {
  let length = 2 + commas(inputs.length) + takeTextLength();
  for (const input of inputs) length += ENTRY_TEXT + input.name.length;
  return length;
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
