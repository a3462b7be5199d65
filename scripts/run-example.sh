#!/usr/bin/env bash
# Sets up and builds, then sends a bundled example through quelt-native and
# prints the response lines: first its "check" (the contract), then its "run"
# (the outputs).
#   scripts/run-example.sh [NAME] [--operation check|run] [--inputs JSON] [--budget JSON]
# NAME defaults to orders (examples/orders/, entry main.quelt). The run's inputs
# come from examples/NAME/inputs.json unless --inputs is given.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

NAME=orders
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then NAME=$1; shift; fi
OPERATIONS=(check run)
INPUTS=""
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --operation) OPERATIONS=("$2"); shift 2 ;;
    --inputs) INPUTS=$2; shift 2 ;;
    --budget) extra+=("$1" "$2"); shift 2 ;;
    *) echo "usage: scripts/run-example.sh [NAME] [--operation check|run] [--inputs JSON] [--budget JSON]" >&2; exit 2 ;;
  esac
done
[ -d "examples/$NAME" ] || { echo "no example examples/$NAME" >&2; exit 2; }
if [ -z "$INPUTS" ] && [ -f "examples/$NAME/inputs.json" ]; then INPUTS=$(cat "examples/$NAME/inputs.json"); fi

bash scripts/setup.sh >&2
bash scripts/build.sh release >&2
for operation in "${OPERATIONS[@]}"; do
  inputs=()
  [ "$operation" = run ] && [ -n "$INPUTS" ] && inputs=(--inputs "$INPUTS")
  build/quelt-request --operation "$operation" --entry main.quelt "${inputs[@]}" "${extra[@]}" "examples/$NAME" | build/quelt-native
done
