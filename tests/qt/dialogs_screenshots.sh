#!/usr/bin/env bash
# Shows every dialog with Japanese data on a private X server and keeps a
# screenshot of each in OUTPUT_FOLDER (artefacts for CI, never compared).
# Usage: dialogs_screenshots.sh QT_TESTS_BINARY OUTPUT_FOLDER
# Exit 0 done, 1 failed, 77 skipped (no xvfb-run, xauth or ImageMagick).
set -u

tests=${1:?usage: dialogs_screenshots.sh QT_TESTS_BINARY OUTPUT_FOLDER}
out=${2:?usage: dialogs_screenshots.sh QT_TESTS_BINARY OUTPUT_FOLDER}

for tool in xvfb-run xauth import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "dialogs_screenshots: $tool not installed, skipped"
    exit 77
  fi
done
if [ ! -x "$tests" ]; then
  echo "dialogs_screenshots: no test program at $tests"
  exit 1
fi

mkdir -p "$out"
rm -f "$out"/*.png
VELKARO_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  "$tests" --gtest_filter='DialogScreenshots.*'
status=$?

shots=("$out"/*.png)
expected=12
if [ "$status" = 0 ] && [ "${#shots[@]}" -ne "$expected" ]; then
  echo "dialogs_screenshots: ${#shots[@]} screenshots, expected $expected"
  status=1
fi
for shot in "${shots[@]}"; do
  [ -e "$shot" ] || continue
  # An empty screen has one colour; a drawn dialog has many.
  colours=$(identify -format '%k' "$shot" 2>/dev/null || echo 0)
  if [ "${colours:-0}" -lt 3 ]; then
    echo "dialogs_screenshots: $shot is blank"
    status=1
  fi
done
[ "$status" = 0 ] && echo "dialogs_screenshots: ${#shots[@]} screenshots in $out"
exit "$status"
