// __queltTestRunEntry runs one whole request the way quelt-native does.
import { test as register, assertEqual } from "../harness.mjs";

// These cases need the native host; under Node.js they are not registered.
const test = typeof globalThis.__queltTestRunEntry === "function" ? register : () => {};

const envelope = (code, phase) =>
  `{"format":"quelt-native-project-json-v1","status":"error","profile":"closed-pure-native-project-macos-v1","error":{"code":"${code}","phase":"${phase}","location":null}}\n`;
const fixture = (name) => ({ entry: `tests/js/shims/fixtures/${name}.mjs`, deadlineMs: 300 });

test("test host: runs a request in a fresh engine with the host's checks", () => {
  const cases = [
    ["{}", null],
    ["caf\u00e9", null],
    [new Uint8Array([0x7b, 0xed, 0xa0, 0x80, 0x7d]), "NATIVE_REQUEST"],
    [new Uint8Array(16777217), "NATIVE_TRANSPORT_LIMIT"],
  ];
  for (const [raw, error] of cases) {
    const expected = JSON.stringify([error === null ? raw : "", error, "function"]) + "\n";
    assertEqual(__queltTestRunEntry(raw, fixture("echo-entry")), expected);
  }
});

test("test host: failures end in the host envelope", () => {
  assertEqual(__queltTestRunEntry("", fixture("silent-entry")), envelope("NATIVE_HOST_FAILURE", "host"));
  assertEqual(__queltTestRunEntry("", fixture("waiting-entry")), envelope("NATIVE_TIMEOUT", "host"));
});

test("test host: the real entry module refuses an empty request", () => {
  assertEqual(__queltTestRunEntry(""), envelope("NATIVE_REQUEST", "request"));
});
