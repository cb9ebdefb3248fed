#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything with
# warnings as errors and runs every test (unit, protocol, real servers,
# window checks); then runs every test again in a build with AddressSanitizer
# and UndefinedBehaviorSanitizer, and each fuzz target for a short while;
# in between it builds and checks the Debian package (scripts/package.sh).
# Exit status is non-zero as soon as one of the three fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=${VELKARO_BUILD_DIR:-build}
# ccache with relative paths and no build folder in the hash: the package
# build below compiles the same sources with the same flags (RelWithDebInfo)
# and takes them from the cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_WERROR=ON \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"

# The Debian package: built without the tests, checked by lintian and tried
# out unpacked.
bash scripts/package.sh "${VELKARO_PACKAGE_DIR:-build-package}"

bash scripts/sanitize.sh "${VELKARO_SANITIZE_DIR:-build-asan}"
bash scripts/fuzz.sh "${VELKARO_FUZZ_SECONDS:-10}"
