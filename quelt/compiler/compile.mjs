// compileModule: one module source in, one frozen compiler-issued Program out,
// or the first fault as a CompileDiagnostic.
import { CompileDiagnostic } from "./diagnostics.mjs";
import { scanTokens, checkSourceLimit } from "./lexer.mjs";
import { copyInterfaces } from "./interfaces.mjs";
import { Parser } from "./parser.mjs";
import { parseModule } from "./declarations.mjs";
import { checkModule } from "./module-check.mjs";

export function compileModule(source, options) {
  if (options === null) throw new TypeError("options must not be null");
  const given = options === undefined ? undefined : options.interfaces;
  if (typeof source !== "string") throw new TypeError("source must be a string");
  const fail = (offset, code, message) => {
    throw new CompileDiagnostic(source, offset, code, message);
  };
  checkSourceLimit(source, fail);
  const interfaces = copyInterfaces(given === undefined ? {} : given, fail);
  const tokens = scanTokens(source, fail);
  const parser = new Parser(source, tokens);
  const module = parseModule(parser);
  return checkModule(module, parser, interfaces);
}
