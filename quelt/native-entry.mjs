// The executable's entry module: answers the one request that the host
// published, through the host's one-shot response hand-over.
import { main } from "./entry/protocol.mjs";

await main(globalThis.__queltRaw, globalThis.__queltRequestError, (line) => globalThis.__queltEmit(line));
