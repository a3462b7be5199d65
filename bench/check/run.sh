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
# timed both directly and through quelt-feed on /dev/null, and each figure is
# divided by the baseline started the same way.
#
#   bench/check/run.sh [BUILD_DIR] [extra hyperfine arguments]
# RUNS (default 200) sets hyperfine's --min-runs.
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
hyperfine -N --warmup 20 --min-runs "${RUNS:-200}" --export-json "$WORK/result.json" "$@" \
  -n bare "$BUILD/quelt-bare" \
  -n refused "$BUILD/quelt-native" \
  -n bare-fed "$FEED /dev/null $BUILD/quelt-bare" \
  -n check-hello "$FEED $WORK/check-hello.json $BUILD/quelt-native" \
  -n check-limits "$FEED $WORK/check-limits.json $BUILD/quelt-native" \
  -n run-hello "$FEED $WORK/run-hello.json $BUILD/quelt-native" >&2

# Medians in milliseconds, in command order; each request against the
# baseline started the same way.
node -e '
  const results = JSON.parse(require("fs").readFileSync(process.argv[1], "utf8")).results;
  const median = Object.fromEntries(results.map((r) => [r.command, r.median * 1000]));
  const rows = [["refused", "bare"], ["check-hello", "bare-fed"], ["check-limits", "bare-fed"], ["run-hello", "bare-fed"]];
  console.log("request        median ms   baseline      median ms   ratio");
  for (const [name, base] of rows) {
    console.log(`${name.padEnd(14)} ${median[name].toFixed(3).padStart(9)}   ${base.padEnd(10)} ${median[base].toFixed(3).padStart(9)}   ${(median[name] / median[base]).toFixed(2)}`);
  }
' "$WORK/result.json"
