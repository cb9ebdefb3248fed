#!/usr/bin/env bash
# Reproduces the reliability figures of docs/reliability.md in one go:
#   1. every test again under AddressSanitizer and UBSan (build-asan),
#   2. the fault cases tried, per class (network, files, bad input),
#   3. the soak run of 10,000 recipients (descriptors, memory, arrivals),
#   4. each fuzz target for FUZZ_SECONDS (executions, findings).
# Usage: scripts/reliability.sh [FUZZ_SECONDS]   (default 600, i.e. about
# 90 minutes of fuzzing for the nine targets; 20 gives a quick look).
# Stops at the first step that fails.
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${1:-600}

bash scripts/install-deps.sh
echo "== 1. sanitizers"
bash scripts/sanitize.sh build-asan
echo "== 2. fault cases"
cmake -S . -B build -G Ninja -DVELKARO_WERROR=ON >/dev/null
cmake --build build --target mail_tests job_tests data_tests platform_tests peer_tests >/dev/null
bash scripts/fault_cases.sh build
echo "== 3. soak"
bash scripts/soak.sh
echo "== 4. fuzzing, $fuzz_seconds s per target"
bash scripts/fuzz.sh "$fuzz_seconds"
