#!/usr/bin/env bash
# Send runs interrupted in the program's window on a private X server (not
# the offscreen platform), against a real SMTP receiver on 127.0.0.1: the
# XcbSendRun tests of the Qt test program, which skip anywhere else.
# Usage: xcb_send_checks.sh QT_TESTS_BINARY
# Exit 0 passed, 1 failed, 77 skipped (no xvfb-run, xauth or aiosmtpd).
set -u

tests=${1:?usage: xcb_send_checks.sh QT_TESTS_BINARY}

skip() {
  echo "xcb_send_checks: $1, skipped"
  exit 77
}

for tool in xvfb-run xauth; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool not installed"
done
[ -x /usr/bin/python3 ] || skip "no /usr/bin/python3"
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || skip "python3-aiosmtpd not installed"
if [ ! -x "$tests" ]; then
  echo "xcb_send_checks: no test program at $tests"
  exit 1
fi

# Inside the X server the tests must run, not skip.
VELKARO_REQUIRE_XCB=1 QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  "$tests" --gtest_filter='XcbSendRun.*'
