// A run context stand-in that counts step charges and checks; with a budget,
// step() refuses once the total would pass it (as the ledger does).
import { RuntimeDiagnostic } from "../../../quelt/runtime/diagnostics.mjs";

export function countingContext(budget = Infinity) {
  return {
    steps: 0,
    checks: 0,
    charges: [],
    check() {
      this.checks += 1;
    },
    step(n = 1) {
      this.check();
      if (this.steps + n > budget) throw new RuntimeDiagnostic("STEP_BUDGET", "Исчерпан общий бюджет шагов.");
      this.steps += n;
      this.charges.push(n);
    },
  };
}

// Deterministic pseudo-random numbers in [0, 1) (mulberry32).
export function seededRandom(seed) {
  let state = seed >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}
