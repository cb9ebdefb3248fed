#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything with
# warnings as errors, and runs every test (unit, protocol, real servers,
# window checks). Exit status is ctest's.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=${VELKARO_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DVELKARO_WERROR=ON
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"
