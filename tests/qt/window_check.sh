#!/usr/bin/env bash
# Starts the program in a private Xvfb server, checks that it stays up and
# shows its "… - Velkaro" window, and keeps a screenshot of the screen.
# Usage: window_check.sh VELKARO_BINARY [SCREENSHOT.png]
# Exit 0 passed, 1 failed, 77 skipped (no Xvfb or ImageMagick).
set -u

program=${1:?usage: window_check.sh VELKARO_BINARY [SCREENSHOT.png]}
shot=${2:-window_check.png}

for tool in Xvfb import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "window_check: $tool not installed, skipped"
    exit 77
  fi
done
if [ ! -x "$program" ]; then
  echo "window_check: no program at $program"
  exit 1
fi

work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display itself and writes its number once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "window_check: Xvfb did not start"
  cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"

mkdir -p "$work/home"
VELKARO_HOME="$work/home" QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
app_pid=$!

# Wait for the window (at most 10 s), then give it time to paint.
found=0
for _ in $(seq 50); do
  if ! kill -0 "$app_pid" 2>/dev/null; then break; fi
  if command -v xwininfo >/dev/null 2>&1; then
    if xwininfo -root -tree 2>/dev/null | grep -q ' - Velkaro"'; then
      found=1
      break
    fi
  fi
  sleep 0.2
done
sleep 2

status=0
if ! kill -0 "$app_pid" 2>/dev/null; then
  wait "$app_pid"
  echo "window_check: the program ended early (exit $?)"
  status=1
elif command -v xwininfo >/dev/null 2>&1 && [ "$found" != 1 ]; then
  echo "window_check: no window titled Velkaro appeared"
  status=1
fi

if import -window root "$shot" 2>"$work/import.log" && [ -s "$shot" ]; then
  echo "window_check: screenshot in $shot"
  # An empty screen has one colour; a drawn window has many.
  colours=$(identify -format '%k' "$shot" 2>/dev/null || echo 0)
  if [ "${colours:-0}" -lt 3 ]; then
    echo "window_check: the screen is blank ($colours colours)"
    status=1
  fi
else
  echo "window_check: no screenshot"
  cat "$work/import.log"
  status=1
fi

if [ "$status" != 0 ]; then
  echo "--- program output ---"
  cat "$work/program.log"
fi
exit "$status"
