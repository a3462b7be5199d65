#!/usr/bin/env bash
# Configures and builds one build folder.
#   scripts/build.sh            release build in build/
#   scripts/build.sh asan       ASan + UBSan build (host and engine) in build-asan/
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
case "${1:-release}" in
  release) cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
           cmake --build build -j2 ;;
  asan)    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_SANITIZE=ON >/dev/null
           cmake --build build-asan -j2 ;;
  *) echo "usage: scripts/build.sh [release|asan]" >&2; exit 2 ;;
esac
