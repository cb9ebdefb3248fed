#!/usr/bin/env bash
# The soak run: 10,000 recipients through one send run to a local SMTP
# receiver (aiosmtpd on 127.0.0.1). Builds only the real-server test program
# in build-soak (VELKARO_SOAK_BUILD names another folder), runs just the soak
# test and prints its figures: open descriptors before and after, resident
# and heap memory after 100 mails and after the run, mails received, seconds.
# The figures stay in soak-figures.json of the build folder.
# Installs nothing: run scripts/install-deps.sh first on a fresh machine.
# Exit status is ctest's.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${VELKARO_SOAK_BUILD:-build-soak}
cmake -S . -B "$build" -G Ninja -DVELKARO_BUILD_BENCH=OFF -DVELKARO_WERROR=ON >/dev/null
cmake --build "$build" --target peer_tests
figures="$build/soak-figures.json"
rm -f "$figures"
status=0
ctest --test-dir "$build" -R '^SoakRun\.' --output-on-failure --no-tests=error || status=$?
if [ -s "$figures" ]; then
  echo "soak figures ($figures):"
  cat "$figures"
else
  echo "soak: no figures were written"
  [ "$status" != 0 ] || status=1
fi
exit "$status"
