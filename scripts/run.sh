#!/usr/bin/env bash
# Shows Velkaro's main job on this machine: installs what it needs, builds,
# sends three personalised Japanese mails through a local SMTP receiver and
# prints them as they arrived (scripts/demo.sh). The window program starts
# with scripts/window.sh.
set -euo pipefail
exec bash "$(dirname "$0")/demo.sh" "$@"
