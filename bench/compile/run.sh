#!/usr/bin/env bash
# Compile benchmark inside QuickJS (the product's engine): compileModule on
# generated modules at 1/4, 1/2 and the full compiler bounds, next to the
# tokenizer alone on the same sources, plus a per-phase profile.
#   bench/compile/run.sh [BUILD_DIR]      (add --node to also run it in Node.js)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$ROOT/build
NODE=0
for arg in "$@"; do
  case "$arg" in
    --node) NODE=1 ;;
    *) BUILD=$arg ;;
  esac
done
[ -x "$BUILD/quelt-test-host" ] || { echo "missing $BUILD/quelt-test-host: run scripts/build.sh first" >&2; exit 2; }
cd "$ROOT"
echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(uname -m), $(grep -m1 'model name' /proc/cpuinfo 2>/dev/null | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
"$BUILD/quelt-test-host" --root "$ROOT" bench/compile/compile-bench.mjs | grep -v '^0 passed, 0 failed$'
if [ "$NODE" = 1 ]; then
  echo
  node bench/compile/compile-bench.mjs
fi
