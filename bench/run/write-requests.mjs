// Writes, for the end-to-end benchmark, one line per workload:
//   name TAB request TAB expected response
// The request is the canonical request of the program folder (from
// build/bench-run/requests.mjs, written by bench/run/requests.sh) with the
// workload's inputs in the tagged form; the expected response carries the
// baseline's outputs. Run by bench/run/requests.sh inside the test host.
import requests from "../../build/bench-run/requests.mjs";
import { WORKLOADS, taggedInputs, taggedOutputs } from "./workloads.mjs";

const print = typeof globalThis.__queltTestPrint === "function" ? globalThis.__queltTestPrint : (line) => console.log(line);
const FORMAT = "quelt-native-project-json-v1";
const PROFILE = "closed-pure-native-project-macos-v1";

for (const workload of WORKLOADS) {
  const base = requests[workload.name];
  const inputs = workload.inputs();
  const request = {
    format: base.format,
    operation: "run",
    entry: base.entry,
    sources: base.sources,
    inputs: taggedInputs(inputs),
    budget: { maxSteps: 100000 },
  };
  const response = { format: FORMAT, status: "ok", profile: PROFILE, outputs: taggedOutputs(workload.baseline(inputs)) };
  print([workload.name, JSON.stringify(request), JSON.stringify(response)].join("\t"));
}
