#!/usr/bin/env bash
# Long fuzzing run of the compiler, the project linker and whole requests
# inside QuickJS.
#   tests/fuzz/run.sh [--seeds "1 2 3"] [--node] [--build DIR]
# Default: seeds 1 to 5 for every target. Each seed is deterministic: a fault
# printed for "compiler fuzz seed 3" reappears on every run of seed 3.
# --node runs the same seeds in Node.js as well.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$ROOT/build
SEEDS="1 2 3 4 5"
NODE=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seeds) SEEDS=$2; shift 2 ;;
    --node) NODE=1; shift ;;
    --build) BUILD=$2; shift 2 ;;
    *) echo "usage: $0 [--seeds \"1 2 3\"] [--node] [--build DIR]" >&2; exit 2 ;;
  esac
done
[ -x "$BUILD/quelt-test-host" ] || { echo "missing $BUILD/quelt-test-host: run scripts/build.sh first" >&2; exit 2; }
cd "$ROOT"
status=0
for seed in $SEEDS; do
  for target in compiler project request; do
    "$BUILD/quelt-test-host" --root "$ROOT" --filter "$target fuzz seed $seed:" tests/fuzz/compiler-fuzz.mjs || status=1
    if [ "$NODE" = 1 ]; then
      node tests/js/node-run.mjs tests/fuzz/compiler-fuzz.mjs --filter "$target fuzz seed $seed:" || status=1
    fi
  done
done
exit $status
