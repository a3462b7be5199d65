// The closed, pure profile of this executable: no effect functions, no
// adapter interfaces, no `use` declarations and no dotted calls. Checked once
// on the tokens of every source and once on the compiled Program.
import { getSourceTokens, CompileDiagnostic } from "quelt/compiler.mjs";
import { refuse, text } from "./boundary.mjs";

function unsupported() {
  return refuse("NATIVE_UNSUPPORTED", "unsupported");
}

function valueAt(tokens, index) {
  return index < tokens.length ? tokens[index].value : undefined;
}

// Scans one source's tokens. Sources that do not lex pass silently: the
// compile phase reports lexical faults of the files the entry reaches.
export function purePreflight(source) {
  let tokens;
  try {
    tokens = getSourceTokens(source);
  } catch (error) {
    if (error instanceof CompileDiagnostic) return;
    throw error;
  }
  scanTokens(tokens);
}

function scanTokens(tokens) {
  let depth = 0;
  let inModule = false;
  for (let index = 0; index < tokens.length; index += 1) {
    const { kind, value } = tokens[index];
    if (kind === "text") {
      text(value);
      continue;
    }
    if (kind === "identifier") {
      if (value === "effect" && valueAt(tokens, index + 1) === "fn") unsupported();
      if (depth === 0 && value === "brindlet") inModule = true;
      if (inModule && depth === 1 && value === "use") unsupported();
      if (dottedCall(tokens, index)) unsupported();
    }
    if (value === "{") depth += 1;
    else if (value === "}") depth -= 1;
  }
}

// `name . name (` starting at `index`.
function dottedCall(tokens, index) {
  return (
    valueAt(tokens, index + 1) === "." &&
    index + 2 < tokens.length &&
    tokens[index + 2].kind === "identifier" &&
    valueAt(tokens, index + 3) === "("
  );
}

// Refuses a compiled Program that declares effect functions or interfaces or
// calls an adapter anywhere in its code.
export function pureAST(program) {
  for (const fn of program.functions) {
    if (Object.hasOwn(fn, "effect")) unsupported();
  }
  if (Reflect.ownKeys(program.interfaces).length > 0) unsupported();
  const pending = [program.inputs, program.derives, program.functions];
  while (pending.length > 0) {
    const item = pending.pop();
    if (item.kind === "call" && typeof item.name === "string" && item.name.includes(".")) unsupported();
    for (const key in item) {
      // An input's default value is data, not code: a record in it may well
      // hold the fields `kind` and `name` without being a call.
      if (key === "defaultValue") continue;
      const child = item[key];
      if (typeof child === "object" && child !== null) pending.push(child);
    }
  }
}
