// The two operations after the request has been validated: compile the
// project under the purity checks, then answer with the contract ("check")
// or execute and answer with the encoded outputs ("run").
import { compileProject } from "quelt/project.mjs";
import { execute, isRunReceipt } from "quelt/runtime.mjs";
import { refuse, object, text, define } from "./boundary.mjs";
import { checkTag, encode } from "./transport.mjs";
import { purePreflight, pureAST } from "./purity.mjs";

// Preflights every supplied source (reachable or not, before the project's
// own validation), compiles the project and checks the Program.
export async function compilePure(request) {
  const { sources } = request;
  if (object(sources)) {
    for (const value of Object.values(sources)) {
      if (object(value) && typeof value.source === "string") purePreflight(text(value.source));
    }
  }
  const program = await compileProject(request.entry, { sources });
  pureAST(program);
  return program;
}

export function contractOf(program) {
  return {
    name: program.name,
    astVersion: program.version,
    inputs: program.inputs.map((input) => ({
      name: input.name,
      type: input.type,
      hasDefault: Object.hasOwn(input, "defaultValue"),
    })),
    outputs: [...program.outputs],
  };
}

function typesByName(records, types = new Map()) {
  for (const record of records) types.set(record.name, record.type);
  return types;
}

// Executes the Program on the supplied inputs and returns the outputs
// payload: [name, node] pairs in the Program's output order.
export async function runOutputs(program, request) {
  const declared = typesByName(program.inputs);
  const inputs = Object.create(null);
  for (const { name, node, value } of request.inputs) {
    checkTag(node, value, declared.get(name));
    define(inputs, name, value);
  }
  const receipt = await execute(program, inputs, { budget: request.limits });
  if (!isRunReceipt(receipt, program)) refuse("NATIVE_HOST_FAILURE", "host");
  const types = typesByName(program.derives, typesByName(program.inputs));
  return program.outputs.map((name) => [name, encode(receipt.outputs[name], types.get(name))]);
}
