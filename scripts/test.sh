#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything with
# warnings as errors and runs every test (unit, protocol, real servers,
# window checks); then runs every test again in a build with AddressSanitizer
# and UndefinedBehaviorSanitizer, and each fuzz target for a short while.
# Exit status is non-zero as soon as one of the three fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=${VELKARO_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DVELKARO_WERROR=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"

bash scripts/sanitize.sh "${VELKARO_SANITIZE_DIR:-build-asan}"
bash scripts/fuzz.sh "${VELKARO_FUZZ_SECONDS:-10}"
