#!/usr/bin/env bash
# Installs, builds and starts the Velkaro window. Without a display the
# program runs on a virtual one for a few seconds and a screenshot is saved
# instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
build=${VELKARO_BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target velkaro
program="$build/src/ui/velkaro"
export VELKARO_HOME=${VELKARO_HOME:-$PWD/out/home}

if [ -n "${DISPLAY:-}" ]; then
  exec "$program" "$@"
fi

mkdir -p out
shot=$PWD/out/velkaro.png
xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
  "$1" "${@:3}" & pid=$!
  sleep 3
  import -window root "$2"
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true
' _ "$program" "$shot" "$@"
echo "No display: Velkaro ran on a virtual screen; screenshot saved to $shot"
