#!/usr/bin/env bash
# Whole-process latency of quelt-native on four requests, next to quelt-bare
# (the same engine evaluating an empty module), all in one hyperfine session
# (-N, warm-up runs):
#   refused       empty standard input (every unit is loaded, then refused)
#   check-hello   "check" of examples/hello
#   check-limits  "check" of a generated project at the linker's limits
#                 (16 files, 8 levels of imports, about 63,000 bytes)
#   run-hello     "run" of examples/hello
# hyperfine gives -N commands an empty standard input, so the requests go
# through quelt-feed, which execs the program on its input file; quelt-bare is
# timed both directly and through quelt-feed on /dev/null, the feed's cost is
# taken off the fed requests, and each figure is divided by quelt-bare.
#
#   bench/check/run.sh [BUILD_DIR] [extra hyperfine arguments]
# RUNS (default 200) sets hyperfine's --min-runs; COMPARE=PATH adds the same
# four requests against another quelt-native (for before/after figures).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${1:-$ROOT/build}
shift || true
for tool in quelt-native quelt-bare quelt-request quelt-feed; do
  [ -x "$BUILD/$tool" ] || { echo "missing $BUILD/$tool: run scripts/build.sh first" >&2; exit 2; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is missing: run scripts/setup.sh" >&2; exit 2; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
node "$ROOT/bench/check/generate-project.mjs" "$WORK/limits" >/dev/null
"$BUILD/quelt-request" --operation check --entry main.quelt "$ROOT/examples/hello" >"$WORK/check-hello.json"
"$BUILD/quelt-request" --operation check --entry main.quelt "$WORK/limits" >"$WORK/check-limits.json"
"$BUILD/quelt-request" --operation run --entry main.quelt "$ROOT/examples/hello" >"$WORK/run-hello.json"

# Every request must get the answer it is meant to time.
expect() {
  local name=$1 pattern=$2 answer
  answer=$("$BUILD/quelt-feed" "$WORK/$name.json" "$BUILD/quelt-native")
  [[ $answer == *"$pattern"* ]] || { echo "$name: unexpected answer: $answer" >&2; exit 1; }
}
expect check-hello '"status":"ok"'
expect check-limits '"status":"ok"'
expect run-hello '"status":"ok"'
[[ $("$BUILD/quelt-native" </dev/null) == *'"code":"NATIVE_REQUEST"'* ]] || { echo "refused: unexpected answer" >&2; exit 1; }

FEED="$BUILD/quelt-feed"
# One command set per executable: the build's, and COMPARE's when given.
NATIVES=("$BUILD/quelt-native")
SUFFIXES=("")
if [ -n "${COMPARE:-}" ]; then
  [ -x "$COMPARE" ] || { echo "COMPARE=$COMPARE is not an executable" >&2; exit 2; }
  NATIVES+=("$COMPARE")
  SUFFIXES+=("@compare")
fi
COMMANDS=(-n bare "$BUILD/quelt-bare" -n bare-fed "$FEED /dev/null $BUILD/quelt-bare")
for i in "${!NATIVES[@]}"; do
  native=${NATIVES[$i]} suffix=${SUFFIXES[$i]}
  COMMANDS+=(-n "refused$suffix" "$native"
             -n "check-hello$suffix" "$FEED $WORK/check-hello.json $native"
             -n "check-limits$suffix" "$FEED $WORK/check-limits.json $native"
             -n "run-hello$suffix" "$FEED $WORK/run-hello.json $native")
done
hyperfine -N --warmup 20 --min-runs "${RUNS:-200}" --export-json "$WORK/result.json" "$@" "${COMMANDS[@]}" >&2

# Medians in milliseconds. The requests fed through quelt-feed carry its exec
# as well: the difference bare-fed minus bare is taken off them, and every
# figure is divided by the bare baseline.
node -e '
  const results = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8")).results;
  const median = Object.fromEntries(results.map((r) => [r.command, r.median * 1000]));
  const feed = median["bare-fed"] - median.bare;
  console.log(`quelt-bare ${median.bare.toFixed(3)} ms; quelt-feed adds ${feed.toFixed(3)} ms (taken off the fed requests)`);
  console.log("request                median ms   net ms   ratio to bare");
  for (const r of results) {
    if (r.command.startsWith("bare")) continue;
    const net = median[r.command] - (r.command.startsWith("refused") ? 0 : feed);
    console.log(`${r.command.padEnd(22)} ${median[r.command].toFixed(3).padStart(9)} ${net.toFixed(3).padStart(8)}   ${(net / median.bare).toFixed(2)}`);
  }
' "$WORK/result.json"
