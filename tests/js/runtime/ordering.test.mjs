// The number sort of sortBy keys is the charged merge sort with the number
// comparison written in: the same order, and the same checks and steps in the
// same sequence, for every run layout (odd tails, ties, zeros of both signs).
import { test, assert, assertDeepEqual } from "../harness.mjs";
import { mergeSort, sortIndicesByNumbers } from "../../../quelt/runtime/ordering.mjs";

// A context that logs its calls: "c" for check, "s" for a step.
function recorder() {
  const log = [];
  return {
    log,
    check() {
      log.push("c");
    },
    step(n = 1) {
      log.push("s" + n);
    },
  };
}

function compareNumbers(keys) {
  return (a, b, ctx) => {
    ctx.step();
    return keys[a] < keys[b] ? -1 : keys[a] > keys[b] ? 1 : 0;
  };
}

// Deterministic keys with many ties.
function keysOf(count, spread) {
  return Array.from({ length: count }, (_, i) => ((i * 7919 + 13) % 10007) % spread);
}

test("number keys sort, check and charge exactly as the general merge sort", () => {
  const cases = [
    [],
    [1],
    [2, 1],
    [1, 2],
    [-0, 0, -0, 0],
    [3, -1.5, 3, 0, -0, 2.25, -1.5],
    keysOf(5, 3),
    keysOf(8, 4),
    keysOf(13, 100),
    keysOf(33, 5),
    keysOf(64, 64),
    keysOf(100, 7),
    keysOf(257, 1000),
    Array.from({ length: 20 }, (_, i) => 20 - i),
    Array.from({ length: 20 }, () => 1),
  ];
  for (const keys of cases) {
    const label = JSON.stringify(keys.slice(0, 8)) + ` (${keys.length})`;
    const fast = recorder();
    const order = sortIndicesByNumbers(keys, fast);
    const general = recorder();
    const expected = mergeSort(keys.map((_, i) => i), compareNumbers(keys), general);
    assertDeepEqual(order, expected, label);
    assertDeepEqual(fast.log, general.log, `${label} calls`);
    for (let i = 1; i < order.length; i += 1) {
      const [a, b] = [order[i - 1], order[i]];
      assert(keys[a] < keys[b] || (!(keys[a] > keys[b]) && a < b), `${label}: stable at ${i}`);
    }
  }
});
