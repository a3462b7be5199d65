#!/usr/bin/env bash
# Cold start: quelt-native answering a refused request (empty input, which
# the entry module refuses after loading every unit; hyperfine gives it an
# empty standard input) against quelt-bare (the
# same engine evaluating an empty module), measured side by side in one
# hyperfine run. Prints both medians and their ratio.
#   bench/cold-start.sh [BUILD_DIR] [extra hyperfine arguments]
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${1:-$ROOT/build}
shift || true
for tool in quelt-native quelt-bare; do
  [ -x "$BUILD/$tool" ] || { echo "missing $BUILD/$tool: run scripts/build.sh first" >&2; exit 2; }
done
command -v hyperfine >/dev/null || { echo "hyperfine is missing: run scripts/setup.sh" >&2; exit 2; }

RESULT=$(mktemp)
trap 'rm -f "$RESULT"' EXIT
hyperfine --warmup 20 --min-runs 300 -N --export-json "$RESULT" "$@" \
  -n quelt-native "$BUILD/quelt-native" \
  -n quelt-bare "$BUILD/quelt-bare"

# Medians in milliseconds, in command order.
mapfile -t medians < <(grep -o '"median": *[0-9.e+-]*' "$RESULT" | awk -F': *' '{ printf "%.3f\n", $2 * 1000 }')
awk -v native="${medians[0]}" -v bare="${medians[1]}" 'BEGIN {
  printf "median quelt-native %.3f ms, quelt-bare %.3f ms, ratio %.2f\n", native, bare, native / bare
}'
