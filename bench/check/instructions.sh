#!/usr/bin/env bash
# Instruction counts (callgrind) of quelt-native on the four requests of
# bench/check/run.sh, next to quelt-bare. Unlike wall-clock figures they do
# not move with the load of a shared machine, so they show what a change
# saves; they do not show page faults or cache effects.
#
#   bench/check/instructions.sh [BUILD_DIR] [OTHER_QUELT_NATIVE]
# With OTHER_QUELT_NATIVE, counts it on the same requests as well.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${1:-$ROOT/build}
OTHER=${2:-}
for tool in quelt-native quelt-bare quelt-request; do
  [ -x "$BUILD/$tool" ] || { echo "missing $BUILD/$tool: run scripts/build.sh first" >&2; exit 2; }
done
command -v valgrind >/dev/null || { echo "valgrind is missing" >&2; exit 2; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
node "$ROOT/bench/check/generate-project.mjs" "$WORK/limits" >/dev/null
: >"$WORK/refused.json"
"$BUILD/quelt-request" --operation check --entry main.quelt "$ROOT/examples/hello" >"$WORK/check-hello.json"
"$BUILD/quelt-request" --operation check --entry main.quelt "$WORK/limits" >"$WORK/check-limits.json"
"$BUILD/quelt-request" --operation run --entry main.quelt "$ROOT/examples/hello" >"$WORK/run-hello.json"

count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}

bare=$(count "$BUILD/quelt-bare" </dev/null)
printf '%-14s %14s %8s' request quelt-native ratio
[ -n "$OTHER" ] && printf ' %14s %8s' other ratio
printf '\n%-14s %14s\n' quelt-bare "$bare"
for name in refused check-hello check-limits run-hello; do
  native=$(count "$BUILD/quelt-native" <"$WORK/$name.json")
  printf '%-14s %14s %8.2f' "$name" "$native" "$(awk -v a="$native" -v b="$bare" 'BEGIN { print a / b }')"
  if [ -n "$OTHER" ]; then
    other=$(count "$OTHER" <"$WORK/$name.json")
    printf ' %14s %8.2f' "$other" "$(awk -v a="$other" -v b="$bare" 'BEGIN { print a / b }')"
  fi
  printf '\n'
done
