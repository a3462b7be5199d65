#!/usr/bin/env bash
# Run-time benchmarks: programs that spend the default budget of 100,000 steps
# (bench/run/programs/<name>/, inputs and direct-JavaScript baselines in
# bench/run/workloads.mjs).
#   1. inside QuickJS (quelt-test-host): execute() of the runtime against the
#      same loops written directly in JavaScript, in the same run;
#   2. end to end: the canonical request of each program piped into
#      quelt-native, against quelt-bare (the bare engine start), in one
#      hyperfine session.
#   bench/run/run.sh [BUILD_DIR] [--node] [--quick]
#     --node   also run step 1 in Node.js
#     --quick  fewer end-to-end runs
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$ROOT/build
NODE=0
RUNS=(--warmup 3 --min-runs 20)
for arg in "$@"; do
  case "$arg" in
    --node) NODE=1 ;;
    --quick) RUNS=(--warmup 1 --runs 5) ;;
    *) BUILD=$(cd "$arg" && pwd) ;;
  esac
done
for tool in quelt-test-host quelt-request quelt-native quelt-bare; do
  [ -x "$BUILD/$tool" ] || { echo "missing $BUILD/$tool: run scripts/build.sh first" >&2; exit 2; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is missing: run scripts/setup.sh" >&2; exit 2; }
cd "$ROOT"

# The requests, checked against their expected responses, in build/bench-run/.
bash bench/run/requests.sh "$BUILD"
WORK=$ROOT/build/bench-run

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -m), $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
"$BUILD/quelt-test-host" --root "$ROOT" bench/run/runtime-bench.mjs | grep -v '^0 passed, 0 failed$'
if [ "$NODE" = 1 ]; then
  echo
  node bench/run/runtime-bench.mjs
fi

# End to end: the request file of every program (written and checked above).
names=()
commands=()
while IFS=$'\t' read -r name _; do
  names+=("$name")
  commands+=(-n "$name" "sh -c 'exec \"\$0\" < \"\$1\"' $BUILD/quelt-native $WORK/$name.request.json")
done < "$WORK/requests.tsv"

# Both executables get their standard input the same way: sh opens the file
# and execs the program (hyperfine 1.15 has no --input; -N avoids its shell
# correction, which cannot resolve a bare engine start).
RESULT=$WORK/hyperfine.json
hyperfine -N "${RUNS[@]}" --style none --export-json "$RESULT" "${commands[@]}" \
  -n quelt-bare "sh -c 'exec \"\$0\" < \"\$1\"' $BUILD/quelt-bare $WORK/${names[0]}.request.json" \
  2> "$WORK/hyperfine.log" || { cat "$WORK/hyperfine.log" >&2; exit 1; }
mapfile -t medians < <(grep -o '"median": *[0-9.e+-]*' "$RESULT" | awk -F': *' '{ printf "%.3f\n", $2 * 1000 }')
bare=${medians[${#names[@]}]}
echo
echo "# end to end (hyperfine -N, medians, each through sh -c exec): request piped into quelt-native, against quelt-bare"
printf '%-14s %10s %10s %12s %8s\n' program "native ms" "bare ms" "native-bare" ratio
for i in "${!names[@]}"; do
  awk -v name="${names[$i]}" -v native="${medians[$i]}" -v bare="$bare" \
    'BEGIN { printf "%-14s %10.2f %10.2f %12.2f %8.1f\n", name, native, bare, native - bare, native / bare }'
done
