#!/usr/bin/env bash
# Trains the profile with which the release build optimises the engine
# library: builds an instrumented quelt-native, quelt-request and test host in
# build-profile/, runs the end-to-end cases and the run benchmarks' requests
# through them, and leaves the counts in .deps/engine-profile/ with a stamp
# naming the engine release and the compiler. scripts/build.sh runs this when
# the stamp is missing or names another engine or compiler; run it by hand to
# retrain after large changes to the units.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
PROFILE=$ROOT/.deps/engine-profile

rm -rf "$PROFILE"
mkdir -p "$PROFILE"
cmake -S . -B build-profile -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELT_TESTS=OFF -DQUELT_BENCH=OFF \
  -DQUELT_ENGINE_PROFILE=generate "-DQUELT_ENGINE_PROFILE_DIR=$PROFILE" >/dev/null
cmake --build build-profile -j2 --target quelt-native quelt-request quelt-test-host

# Training: what the executable does for real requests. The outcome of the
# cases is the test suite's business; here only the counts matter.
bash tests/e2e/run-e2e.sh build-profile/quelt-native build-profile/quelt-request >/dev/null || true
bash bench/run/requests.sh build-profile
for request in build/bench-run/*.request.json; do
  for round in 1 2; do build-profile/quelt-native <"$request" >/dev/null; done
done

bash scripts/engine-profile-key.sh >"$PROFILE/stamp"
echo "engine profile trained: $(cat "$PROFILE/stamp")"
