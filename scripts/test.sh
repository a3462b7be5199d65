#!/usr/bin/env bash
# Sets up, builds and runs every test: host (GoogleTest), JavaScript units
# (inside QuickJS) and end-to-end, then the host and end-to-end tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

bash scripts/setup.sh
bash scripts/build.sh release
status=0
ctest --test-dir build --output-on-failure -j2 --timeout 900 || status=1

bash scripts/build.sh asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j2 --timeout 900 -L 'host|e2e' || status=1

exit "$status"
