#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each one on a copy of
# its seed corpus. Exits non-zero when any target finds a crash, leak,
# time-out or broken invariant. Installs nothing: scripts/install-deps.sh
# brings clang and its runtime.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
#   SECONDS  time per target (default 20)
#   TARGET   fuzz_jis, jis, … (default: every fuzz/fuzz_*.cpp)
# Output: one line per target (name, seconds, executions, corpus files,
# result). libFuzzer's own output goes to build-fuzz/runs/<target>.log;
# the tail of it is printed when the target fails, and the failing input is
# kept in build-fuzz/findings/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-fuzz

seconds=${1:-20}
if [ $# -gt 0 ]; then shift; fi
case $seconds in
  '' | *[!0-9]*) echo "fuzz.sh: SECONDS must be a whole number, not '$seconds'" >&2; exit 2 ;;
esac

targets=()
if [ $# -eq 0 ]; then
  for source in fuzz/fuzz_*.cpp; do targets+=("$(basename "$source" .cpp)"); done
else
  for name in "$@"; do
    name=fuzz_${name#fuzz_}
    [ -f "fuzz/$name.cpp" ] || { echo "fuzz.sh: no target $name" >&2; exit 2; }
    targets+=("$name")
  done
fi

mkdir -p "$build/runs"
build_log=$build/runs/build.log
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELKARO_FUZZ=ON \
         -DVELKARO_WERROR=OFF -DVELKARO_BUILD_UI=OFF -DVELKARO_BUILD_TESTS=OFF \
         -DVELKARO_BUILD_BENCH=OFF &&
       cmake --build "$build" --target "${targets[@]}"; } >"$build_log" 2>&1; then
  tail -n 40 "$build_log"
  echo "fuzz.sh: build failed (log: $build_log)" >&2
  exit 1
fi

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
printf '%-20s %8s %12s %8s  %s\n' target seconds executions corpus result
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  log=$build/runs/$target.log
  rm -rf "$corpus" "$findings"
  mkdir -p "$corpus" "$findings"
  if [ -d "fuzz/corpus/$target" ]; then cp -R "fuzz/corpus/$target/." "$corpus/"; fi

  start=$(date +%s)
  status=0
  "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - start))

  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  files=$(find "$corpus" -type f | wc -l)
  result=ok
  if [ "$status" -ne 0 ]; then
    if grep -q 'invariant failed' "$log"; then result=invariant
    elif grep -q 'ERROR: libFuzzer: timeout' "$log"; then result=timeout
    elif grep -q 'ERROR: LeakSanitizer' "$log"; then result=leak
    elif grep -q 'out-of-memory' "$log"; then result=out-of-memory
    else result=crash
    fi
  fi
  printf '%-20s %8s %12s %8s  %s\n' "$target" "$elapsed" "${executions:-?}" "$files" "$result"
  if [ "$result" != ok ]; then
    failed=1
    echo "---- $target: last lines of $log"
    tail -n 60 "$log"
    echo "---- failing input kept in $findings/"
  fi
done
exit "$failed"
