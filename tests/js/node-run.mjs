// Developer runner under Node.js: node tests/js/node-run.mjs FILE... [--filter TEXT]
// The same test files run inside QuickJS through the test host; this runner
// is only a quicker loop while writing code.
import { pathToFileURL } from "node:url";
import { resolve } from "node:path";
import { run } from "./harness.mjs";

const args = process.argv.slice(2);
let filter = "";
const files = [];
for (let i = 0; i < args.length; i += 1) {
  if (args[i] === "--filter") filter = args[++i];
  else files.push(args[i]);
}
for (const file of files) await import(pathToFileURL(resolve(file)).href);
process.exitCode = (await run(filter)) === 0 ? 0 : 1;
