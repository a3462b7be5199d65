#!/usr/bin/env bash
# Configures and builds one build folder.
#   scripts/build.sh            release build in build/
#   scripts/build.sh asan       ASan + UBSan build (host and engine) in build-asan/
# The release build optimises the engine with a trained profile
# (scripts/profile-engine.sh), trained first when there is none for this
# engine release and compiler; QUELT_ENGINE_PROFILE=off builds without one.
# A failed training only costs the optimisation.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

engine_profile() {
  local key
  key=$(bash scripts/engine-profile-key.sh)
  if [ -z "$key" ] || [ "${QUELT_ENGINE_PROFILE:-use}" = off ]; then
    echo "-DQUELT_ENGINE_PROFILE="
    return
  fi
  if [ "$(cat .deps/engine-profile/stamp 2>/dev/null)" != "$key" ]; then
    if ! bash scripts/profile-engine.sh >&2; then
      echo "build: training the engine profile failed; building without it" >&2
      rm -rf .deps/engine-profile
      echo "-DQUELT_ENGINE_PROFILE="
      return
    fi
  fi
  echo "-DQUELT_ENGINE_PROFILE=use"
}

case "${1:-release}" in
  release) cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$(engine_profile)" >/dev/null
           cmake --build build -j2 ;;
  asan)    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUELT_SANITIZE=ON >/dev/null
           cmake --build build-asan -j2 ;;
  *) echo "usage: scripts/build.sh [release|asan]" >&2; exit 2 ;;
esac
