#!/usr/bin/env bash
# Sets up and builds, then runs a bundled example through quelt-native and
# prints the response line.
#   scripts/run-example.sh [NAME] [--operation check|run] [--inputs JSON] [--budget JSON]
# NAME defaults to hello (examples/hello/, entry main.quelt, operation run).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

NAME=hello
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then NAME=$1; shift; fi
OPERATION=run
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --operation) OPERATION=$2; shift 2 ;;
    --inputs|--budget) extra+=("$1" "$2"); shift 2 ;;
    *) echo "usage: scripts/run-example.sh [NAME] [--operation check|run] [--inputs JSON] [--budget JSON]" >&2; exit 2 ;;
  esac
done
[ -d "examples/$NAME" ] || { echo "no example examples/$NAME" >&2; exit 2; }

bash scripts/setup.sh >&2
bash scripts/build.sh release >&2
build/quelt-request --operation "$OPERATION" --entry main.quelt "${extra[@]}" "examples/$NAME" | build/quelt-native
