#!/bin/bash
# Starts Postfix's smtp-sink on 127.0.0.1 as the strict SMTP peer of the
# peer tests: it answers only commands that end in CR LF.
#
#   smtp_sink.sh FOLDER [PORT]
#
# Each mail transaction is dumped into FOLDER (one file per mail, envelope
# lines first, line ends as LF, transparency dots removed). PORT 0 or missing
# picks a free port. When the listener accepts, the port is printed on its
# own line on standard output; the script then waits for smtp-sink, and
# SIGTERM to the script (or its process group) stops it.
set -u

folder=${1:?folder}
port=${2:-0}
sink=/usr/sbin/smtp-sink
[ -x "$sink" ] || sink=$(command -v smtp-sink) || { echo "smtp-sink not found" >&2; exit 1; }

if [ "$port" = 0 ]; then
  port=$(/usr/bin/python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()')
fi
mkdir -p "$folder"

# As root smtp-sink insists on a user to switch to after binding.
user_option=()
if [ "$(id -u)" = 0 ]; then user_option=(-u root); fi

starter=$PPID
child=
stop() {
  if [ -n "$child" ]; then kill -TERM "$child" 2>/dev/null; wait "$child" 2>/dev/null; fi
  exit 0
}
trap stop TERM INT HUP

# Backlog 10; the dump template is expanded by strftime, then smtp-sink
# appends a random hexadecimal number.
"$sink" "${user_option[@]}" -d "$folder/mail-%Y%m%d%H%M%S." "127.0.0.1:$port" 10 &
child=$!

# shellcheck source=serve_until_stopped.sh
source "$(dirname "$0")/serve_until_stopped.sh"
serve_until_stopped smtp-sink
