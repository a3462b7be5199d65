#!/usr/bin/env bash
# Prints what a trained engine profile is valid for: the engine release built
# from .deps/quickjs and the C compiler. Empty when the engine is not built
# from source (a system QuickJS is used as it is).
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ -f "$ROOT/.deps/quickjs/quickjs.c" ] || exit 0
echo "quickjs $(cat "$ROOT/.deps/quickjs/VERSION"); $(cc --version | head -n 1); profile v1"
