#!/usr/bin/env bash
# Writes the requests of the run benchmarks into build/bench-run/ and checks
# each against its expected response:
#   requests.mjs        the quelt-request output of every program folder
#                       (imported by runtime-bench.mjs and write-requests.mjs)
#   requests.tsv        name, request with the workload's inputs, expected response
#   NAME.request.json   the request of each program, as quelt-native reads it
#   bench/run/requests.sh [BUILD_DIR]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
cd "$ROOT"

# The modules import the requests from this fixed place under build/.
WORK=$ROOT/build/bench-run
mkdir -p "$WORK"
{
  echo "// Written by bench/run/requests.sh: the quelt-request output of every program folder."
  echo "export default {"
  for dir in bench/run/programs/*/; do
    name=$(basename "$dir")
    printf '  "%s": ' "$name"
    "$BUILD/quelt-request" --operation run --entry main.quelt "$dir"
    echo ","
  done
  echo "};"
} > "$WORK/requests.mjs"

"$BUILD/quelt-test-host" --root "$ROOT" bench/run/write-requests.mjs | grep -v '^0 passed, 0 failed$' > "$WORK/requests.tsv"
while IFS=$'\t' read -r name request expected; do
  printf '%s' "$request" > "$WORK/$name.request.json"
  actual=$("$BUILD/quelt-native" < "$WORK/$name.request.json")
  if [ "$actual" != "$expected" ]; then
    echo "$name: unexpected response: ${actual:0:300}" >&2
    exit 1
  fi
done < "$WORK/requests.tsv"
