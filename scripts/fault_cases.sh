#!/usr/bin/env bash
# Counts the fault cases the reliability tests try, by kind: runs the fault
# tests of the already built test programs and sums the "[ cases    ]"
# lines they print. Builds nothing; build the programs first:
#   cmake --build BUILD --target mail_tests job_tests data_tests platform_tests peer_tests
# Usage: scripts/fault_cases.sh [BUILD]   (default build)
# Prints a table (kind, cases) and the total; exit status is non-zero when
# a program is missing or any of the tests failed.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

# program (under BUILD) and the fault tests in it, as a gtest filter
runs=(
  "tests/mail_tests NetworkFaultTest.*"
  "tests/job_tests SendRunFaultTest.*:JobFileFaultTest.*:VanishingFileTest.*:BadInputTest.*:AbsurdSettingsTest.*"
  "tests/data_tests DataFileFaultTest.*:SettingsNumbersTest.*"
  "tests/platform_tests TcpSocketPorts.*"
  "tests/peers/peer_tests Receivers/DroppedData.*"
)

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failed=0
for i in "${!runs[@]}"; do
  program=${runs[i]%% *}
  filter=${runs[i]#* }
  log="$out/$i.log"  # numbered: the table keeps the order of the runs
  if [[ ! -x "$build/$program" ]]; then
    echo "fault_cases: $build/$program is missing (build it first)" >&2
    failed=1
    continue
  fi
  if ! "$build/$program" --gtest_filter="$filter" --gtest_color=no >"$log" 2>&1; then
    echo "fault_cases: $program failed:" >&2
    grep -E '^\[  FAILED  \]' "$log" >&2 || tail -n 20 "$log" >&2
    failed=1
  fi
  if ! grep -qE '^\[==========\] [1-9][0-9]* tests? from .* ran\.' "$log"; then
    echo "fault_cases: $program ran no test for $filter" >&2
    failed=1
  fi
  grep -E '^\[  SKIPPED \] .* \([0-9]+ ms\)$' "$log" | sed "s|^|fault_cases: $program |" >&2
done

# "[ cases    ] <kind>: <n>", summed by kind in the order first seen.
shopt -s nullglob
cat "$out"/*.log /dev/null | awk '
  /^\[ cases    \] .*: [0-9]+$/ {
    n = $NF
    sub(/^\[ cases    \] /, "")
    sub(/: [0-9]+$/, "")
    if (!($0 in count)) order[++kinds] = $0
    count[$0] += n
    total += n
  }
  END {
    printf "%-32s %6s\n", "kind", "cases"
    for (i = 1; i <= kinds; i++) printf "%-32s %6d\n", order[i], count[order[i]]
    printf "%-32s %6d\n", "total", total
  }'

exit "$failed"
