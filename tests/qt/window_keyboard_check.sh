#!/usr/bin/env bash
# The real program on a private X server with a window manager, driven by
# keyboard and window-manager actions (xdotool) as a user drives it:
#  - Tab goes round the whole form and out of the body editor without
#    typing into the body; Ctrl+Tab types a TAB (checked in the saved body);
#  - the file dialog, the overwrite question, the preview naming a
#    character Shift_JIS cannot hold, the server dialog with its port, the
#    details after a refusal (the server's reply line) and the question of
#    the close box during a run are photographed;
#  - "No" to that question keeps the run going and the mail arrives;
#  - the window is resized and closed by the window manager (Alt+F4), and
#    the program ends cleanly.
# Qt's own texts must be Japanese even with LANG=C: the program runs so.
# Usage: window_keyboard_check.sh VELKARO_BINARY SHOT_FOLDER
# Exit 0 passed, 1 failed, 77 skipped (no Xvfb, xdotool, openbox or
# ImageMagick).
set -u

program=${1:?usage: window_keyboard_check.sh VELKARO_BINARY SHOT_FOLDER}
shots=${2:?usage: window_keyboard_check.sh VELKARO_BINARY SHOT_FOLDER}

for tool in xvfb-run Xvfb xdotool openbox import xwininfo; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "window_keyboard_check: $tool not installed, skipped"
    exit 77
  fi
done
[ -x /usr/bin/python3 ] || { echo "window_keyboard_check: no python3, skipped"; exit 77; }
if [ ! -x "$program" ]; then
  echo "window_keyboard_check: no program at $program"
  exit 1
fi
mkdir -p "$shots"

work=$(mktemp -d)
home="$work/home"
mkdir -p "$home"
pids=()
app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  local pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "window_keyboard_check: FAIL: $*"
  failures=$((failures + 1))
}
step() { echo "window_keyboard_check: $*"; }

# --- X server and window manager ---
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  sleep 0.1
done
if [ ! -s "$work/display" ]; then
  echo "window_keyboard_check: Xvfb did not start"
  cat "$work/xvfb.log"
  exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 1

# --- an SMTP server on 127.0.0.1: the first connection's recipient is
# refused with "550 5.1.1 no such user", later mails are taken slowly (so
# that a run lasts while the window is used) and stored ---
cat >"$work/smtp.py" <<'PY'
import socket, sys, time, os
folder = sys.argv[1]
srv = socket.socket()
srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", 0))
srv.listen(5)
open(folder + "/port.tmp", "w").write(str(srv.getsockname()[1]))
os.rename(folder + "/port.tmp", folder + "/port")
connection = 0
while True:
    conn, _ = srv.accept()
    connection += 1
    f = conn.makefile("rb")
    def send(line):
        conn.sendall(line.encode() + b"\r\n")
    send("220 test ESMTP")
    data = None
    while True:
        line = f.readline()
        if not line:
            break
        cmd = line.strip().upper()
        if data is not None:
            if line in (b".\r\n", b".\n"):
                open("%s/mail-%d.eml" % (folder, connection), "wb").write(b"".join(data))
                data = None
                send("250 2.0.0 stored")
            else:
                data.append(line)
                # A slow receiver: the body takes seconds to go in.
                if len(data) % 50 == 0:
                    time.sleep(0.05)
            continue
        if cmd.startswith(b"EHLO") or cmd.startswith(b"HELO"):
            send("250 test")
        elif cmd.startswith(b"MAIL"):
            send("250 2.1.0 ok")
        elif cmd.startswith(b"RCPT"):
            if connection == 1:
                send("550 5.1.1 no such user")
            else:
                send("250 2.1.5 ok")
        elif cmd == b"DATA":
            data = []
            send("354 go ahead")
        elif cmd == b"RSET":
            send("250 ok")
        elif cmd == b"QUIT":
            send("221 bye")
            break
        else:
            send("250 ok")
    conn.close()
PY
mkdir -p "$work/mail"
/usr/bin/python3 "$work/smtp.py" "$work/mail" >"$work/smtp.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  [ -s "$work/mail/port" ] && break
  sleep 0.1
done
smtp_port=$(cat "$work/mail/port" 2>/dev/null)
[ -n "$smtp_port" ] || { echo "window_keyboard_check: the SMTP server did not start"; exit 1; }

# --- the program folder: settings (SMTP on 127.0.0.1, no exit question,
# slowest speed), address book, a long body ---
/usr/bin/python3 - "$home" "$smtp_port" <<'PY' || { echo "cannot prepare the program folder"; exit 1; }
import struct, sys
home, smtp_port = sys.argv[1], int(sys.argv[2])
def sjis(text):
    return text.encode("cp932")
record = bytearray(3312)
def put_text(offset, size, text):
    data = sjis(text)
    record[offset:offset + len(data)] = data
def put_int(offset, value):
    struct.pack_into("<i", record, offset, value)
put_int(4, 40)
put_int(8, 30)
put_int(396, 110)
put_text(400, 128, "127.0.0.1")
put_int(528, smtp_port)
put_text(532, 128, "差出人 花子")
put_text(660, 128, "hanako@example.jp")
put_text(788, 64, "VelkaroAddress.txt")
put_int(852, 0)   # confirmExit
put_int(860, 1)   # speed: slowest
for i, name in enumerate(["NormalEnd.wav", "ErrorEnd.wav", "OneMail.wav", "Develop.wav"]):
    put_text(880 + 32 * i, 32, name)
words = ["((regist))", "((name))", "((kana))", "((mailaddr))", "((telephone))",
         "((realaddr))", "((data1))", "((data2))", "((data3))", "((data4))", "((today))",
         "((time))", "((year))", "((month))", "((day))", "((week))"]
for i, word in enumerate(words):
    put_text(2800 + 32 * i, 32, word)
open(home + "/Velkaro.cfg", "wb").write(record)
book = ["読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４",
        "やまだ\t山田\t山田太郎\tyamada@example.jp\t\t\t\t\t\t"]
open(home + "/VelkaroAddress.txt", "wb").write(sjis("\r\n".join(book) + "\r\n"))
lines = ["((name))様へのご案内", "((name))様", ""]
lines += ["%05d いつもお世話になっております。資料をお送りします。" % i for i in range(3000)]
open(home + "/案内.txt", "wb").write(sjis("\r\n".join(lines) + "\r\n"))
PY
body="$home/案内.txt"

# --- helpers ---
shot() {
  sleep 0.8
  import -window root "$shots/$1" 2>/dev/null || fail "no screenshot $1"
  step "screenshot $shots/$1"
}
# The id of the first visible window whose name matches $1, waiting up to
# $2 tenths of a second.
find_window() {
  local i id
  for ((i = 0; i < $2; i++)); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}
key() {
  xdotool key --clearmodifiers "$@"
  sleep 0.15
}
alive() { kill -0 "$app_pid" 2>/dev/null; }

# --- start: LANG=C, so that only the program's own loading makes Qt speak
# Japanese ---
LANG=C LC_ALL=C VELKARO_HOME="$home" QT_QPA_PLATFORM=xcb \
  "$program" "/text=$body" "/to=山田" >"$work/program.log" 2>&1 &
app_pid=$!
main=$(find_window ' - Velkaro$' 150) || {
  echo "window_keyboard_check: no main window"
  cat "$work/program.log"
  exit 1
}
xdotool windowactivate --sync "$main" 2>/dev/null
sleep 1
name=$(xdotool getwindowname "$main")
[ "$name" = "案内.txt - Velkaro" ] || fail "window title is '$name'"

# --- Tab: into the editor (open, path, exit, editor), to the end of the
# text, once round the whole form (15 controls: the test send button
# counts, as the command line gave a recipient) and back into the editor;
# Shift+Tab out and Tab in again; then Ctrl+Tab types the one TAB ---
xdotool mousemove --window "$main" 5 5 2>/dev/null
key Tab Tab Tab
key ctrl+End
xdotool type --delay 50 "Z"
for _ in $(seq 15); do key Tab; done
xdotool type --delay 50 "W"
key shift+Tab
key Tab
key ctrl+Tab
xdotool type --delay 50 "V"
name=$(xdotool getwindowname "$main")
[ "$name" = "案内.txt* - Velkaro" ] || fail "a changed body's title is '$name'"
key ctrl+s
sleep 1
/usr/bin/python3 - "$body" <<'PY' || fail "Tab typed into the body (or the keys went elsewhere)"
import sys
data = open(sys.argv[1], "rb").read()
tail = data[-12:]
print("window_keyboard_check: body ends with", repr(tail))
sys.exit(0 if data.endswith(b"\r\nZW\tV") and data.count(b"\t") == 1 else 1)
PY
name=$(xdotool getwindowname "$main")
[ "$name" = "案内.txt - Velkaro" ] || fail "a saved body's title is '$name'"
shot form.png

# --- the file dialog of "open body" (Ctrl+O), in Japanese ---
key ctrl+o
sleep 1.5
shot file-dialog.png
key Escape
sleep 0.5

# --- the overwrite question: save the body under a name that is taken
# (typed in ASCII: xdotool cannot type every kanji), then cancel ---
printf 'taken\r\n' >"$home/taken.txt"
key alt+f
key a
sleep 1.5
xdotool type --delay 20 "$home/taken.txt"
key Return
sleep 1.5
shot overwrite-question.png
key Escape
sleep 0.5
# A file dialog of its own may still be up: Escape closes it too.
if [ "$(xdotool getactivewindow 2>/dev/null)" != "$main" ]; then key Escape; fi
sleep 0.5
[ "$(cat "$home/taken.txt")" = $'taken\r' ] || fail "the cancelled save overwrote taken.txt"
name=$(xdotool getwindowname "$main")
[ "$name" = "案内.txt - Velkaro" ] || fail "after a cancelled save the title is '$name'"

# --- the preview naming a character Shift_JIS cannot hold ---
xdotool windowactivate --sync "$main" 2>/dev/null
key ctrl+Home
key Down Down
xdotool type --delay 80 "😀"
sleep 0.5
key alt+o
key v
sleep 1.5
shot preview-character.png
key Escape
sleep 0.5
key ctrl+Home
key Down Down
key Delete
key ctrl+s
sleep 1
/usr/bin/python3 -c 'import sys; sys.exit(b"\x81\xac" in open(sys.argv[1], "rb").read())' "$body" ||
  fail "the emoji went into the saved body as a geta mark"

# --- the server dialog with its port field ---
key alt+s
key m
sleep 1.5
shot server-dialog-port.png
key Escape
sleep 0.5

# --- send 1: the server refuses the recipient; the details name its reply ---
xdotool windowactivate --sync "$main" 2>/dev/null
key alt+o
key s
sleep 4
shot result-list-refused.png
key Escape
xdotool windowactivate --sync "$main" 2>/dev/null
sleep 0.5
key alt+h
key Up
key Return
sleep 1.5
shot details-refusal.png
key Return
sleep 0.5

# --- send 2: the close box during the run; "No" keeps the run going ---
xdotool windowactivate --sync "$main" 2>/dev/null
key alt+o
key s
sleep 3
xdotool key --window "$main" alt+F4 2>/dev/null
key alt+F4
sleep 1.5
shot close-question-during-run.png
key Escape
sleep 1
alive || fail "the program ended although the close question was answered No"
for _ in $(seq 600); do
  ls "$work/mail"/mail-*.eml >/dev/null 2>&1 && break
  sleep 0.1
done
ls "$work/mail"/mail-*.eml >/dev/null 2>&1 || fail "the run did not go on to deliver the mail"
sleep 2
# The result list of the run comes up over the form.
key Escape
xdotool windowactivate --sync "$main" 2>/dev/null

# --- resize, then close by the window manager ---
xdotool windowsize --sync "$main" 900 640 2>/dev/null
sleep 1
shot resized.png
xdotool windowsize --sync "$main" 420 300 2>/dev/null
sleep 1
shot resized-small.png
xdotool windowactivate --sync "$main" 2>/dev/null
key alt+F4
for _ in $(seq 100); do
  alive || break
  sleep 0.1
done
if alive; then
  fail "the program did not end after Alt+F4"
  shot not-closed.png
else
  wait "$app_pid"
  status=$?
  app_pid=
  [ "$status" = 0 ] || fail "the program ended with status $status"
fi

if [ "$failures" != 0 ]; then
  echo "--- program output ---"
  cat "$work/program.log"
  exit 1
fi
step "passed; screenshots in $shots"
exit 0
