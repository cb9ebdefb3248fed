#!/usr/bin/env bash
# The real program end to end, in a private X server, against real peers on
# 127.0.0.1 (aiosmtpd and Dovecot POP3):
#  1. "/sendinf=job.vlk2 /send=on /quit=on" sends every mail of the setup
#     file by itself (POP before SMTP first), writes the send log and the
#     copies of the sent texts, stores the window position and exits 0.
#  2. The same setup file without "/send=on" shows the window with the body,
#     the attachment and the recipients, sends nothing and stays up; a
#     screenshot of it is kept (a CI artefact, not compared).
# Usage: app_check.sh VELKARO_BINARY SOURCE_DIR SCREENSHOT.png
# Exit 0 passed, 1 failed, 77 skipped (a tool or peer is not installed).
set -u

program=${1:?usage: app_check.sh VELKARO_BINARY SOURCE_DIR SCREENSHOT.png}
source_dir=${2:?source dir}
shot=${3:?screenshot path}
# The program runs in its own folder; every path must hold from there.
program=$(realpath "$program")
source_dir=$(realpath "$source_dir")
shot=$(realpath -m "$shot")

skip() {
  echo "app_check: $1, skipped"
  exit 77
}

if [ -z "${APP_CHECK_IN_XVFB:-}" ]; then
  for tool in xvfb-run xauth import identify xwininfo iconv; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool not installed"
  done
  [ -x /usr/bin/python3 ] || skip "no /usr/bin/python3"
  /usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || skip "python3-aiosmtpd not installed"
  [ -x /usr/sbin/dovecot ] || skip "dovecot-pop3d not installed"
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    env APP_CHECK_IN_XVFB=1 "$0" "$@"
fi

work=$(mktemp -d)
chmod 755 "$work"  # Dovecot's unprivileged processes must pass through
home="$work/home"
mkdir -p "$home"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "app_check: $*"
  for log in "$work"/program*.log; do
    [ -f "$log" ] && { echo "--- $log ---"; cat "$log"; }
  done
  exit 1
}

# Waits (at most $2 tenths of a second) until file $1 is not empty.
wait_for_file() {
  local i
  for ((i = 0; i < $2; i++)); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# --- the peers ---
/usr/bin/python3 "$source_dir/tests/peers/smtp_receiver.py" "$work/mail" >"$work/smtp.out" 2>&1 &
pids+=($!)
"$source_dir/tests/peers/dovecot_pop3.sh" "$work/pop" yamada himitsu-42 >"$work/pop.out" \
  2>"$work/pop.err" &
pids+=($!)
wait_for_file "$work/mail/port" 150 || fail "the SMTP receiver did not start: $(cat "$work/smtp.out")"
wait_for_file "$work/pop.out" 150 || fail "Dovecot did not start: $(cat "$work/pop.err")"
smtp_port=$(head -n1 "$work/mail/port")
pop_port=$(head -n1 "$work/pop.out")

# --- the program folder: settings, address book, body, attachment, setup ---
/usr/bin/python3 - "$home" "$smtp_port" "$pop_port" <<'PY' || fail "cannot prepare the program folder"
import struct, sys
home, smtp_port, pop_port = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def sjis(text):
    return text.encode("cp932")

record = bytearray(3312)
def put_text(offset, size, text):
    data = sjis(text)
    assert len(data) < size
    record[offset:offset + len(data)] = data
def put_int(offset, value):
    struct.pack_into("<i", record, offset, value)

put_int(0, 0)      # recordMark: the program writes 1 when it saves
put_int(4, 48)     # windowLeft
put_int(8, 36)     # windowTop
put_text(12, 128, "127.0.0.1")        # popServer
put_text(140, 128, "yamada")          # popUser
put_text(268, 128, "himitsu-42")      # popPassword
put_int(396, pop_port)
put_text(400, 128, "127.0.0.1")       # smtpServer
put_int(528, smtp_port)
put_text(532, 128, "差出人 花子")       # senderName
put_text(660, 128, "hanako@example.jp")
put_text(788, 64, "VelkaroAddress.txt")
put_int(852, 0)    # confirmExit
put_int(856, 0)    # titleIn
put_int(860, 100)  # speed: no pauses between pieces
for i, name in enumerate(["NormalEnd.wav", "ErrorEnd.wav", "OneMail.wav", "Develop.wav"]):
    put_int(864 + 4 * i, 0)  # no sounds
    put_text(880 + 32 * i, 32, name)
words = ["((regist))", "((name))", "((kana))", "((mailaddr))", "((telephone))",
         "((realaddr))", "((data1))", "((data2))", "((data3))", "((data4))", "((today))",
         "((time))", "((year))", "((month))", "((day))", "((week))"]
for i, word in enumerate(words):
    put_text(2800 + 32 * i, 32, word)
open(home + "/Velkaro.cfg", "wb").write(record)

book = ["読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４",
        "やまだ\t山田\t山田太郎\tyamada@example.jp\t03-1111-2222\t東京都\t\t\t\t",
        "すずき\t鈴木\t鈴木一郎\tsuzuki@example.jp\t\t大阪府\t\t\t\t"]
open(home + "/VelkaroAddress.txt", "wb").write(sjis("\r\n".join(book) + "\r\n"))

body = "((name))様へのご案内\r\n((name))様\r\n\r\nいつもお世話になっております。\r\n資料をお送りします。\r\n"
open(home + "/案内.txt", "wb").write(sjis(body))
open(home + "/資料.pdf", "wb").write(b"%PDF-1.4\n" + bytes(range(256)) * 8)

setup = ";; Velkaro: 送信データセットアップ情報ファイル\r\n\r\n"
setup += "/text=" + home + "/案内.txt\r\n"
setup += "/binfile=" + home + "/資料.pdf\r\n\r\n"
setup += "/sendto-begin\r\nregist=山田\r\n/sendto-end\r\n\r\n"
setup += "/sendto-begin\r\nregist=鈴木\r\nmailaddr=suzuki-alt@example.jp\r\n/sendto-end\r\n\r\n"
setup += "/sendto-begin\r\nregist=(未登録者)\r\nname=Taro Example\r\nmailaddr=taro@example.com\r\n/sendto-end\r\n"
open(home + "/job.vlk2", "wb").write(sjis(setup))
PY

# --- 1. the automatic run ---
(cd "$home" && VELKARO_HOME="$home" QT_QPA_PLATFORM=xcb exec "$program" \
  "/sendinf=$home/job.vlk2" /send=on /quit=on) >"$work/program1.log" 2>&1 &
app=$!
pids+=($app)
status=
for _ in $(seq 600); do  # at most 60 s
  if ! kill -0 "$app" 2>/dev/null; then
    wait "$app"
    status=$?
    break
  fi
  sleep 0.1
done
[ -n "$status" ] || fail "the program did not end by itself within 60 s"
[ "$status" = 0 ] || fail "the program ended with status $status"

mails=$(find "$work/mail" -name '*.eml' | wc -l)
[ "$mails" = 3 ] || fail "the receiver got $mails mails, not 3"
for to in yamada@example.jp suzuki-alt@example.jp taro@example.com; do
  grep -q "^rcpt_to	$to\$" "$work"/mail/*.envelope || fail "no mail to $to"
done
# One SMTP connection for the whole run.
peers=$(grep -h '^peer' "$work"/mail/*.envelope | sort -u | wc -l)
[ "$peers" = 1 ] || fail "the mails came over $peers connections"
report=$(/usr/bin/python3 "$source_dir/tests/peers/check_mail.py" --flat "$work/mail/1.eml")
grep -q '^subject	山田太郎様へのご案内$' <<<"$report" || fail "unexpected first mail: $report"
grep -q '^attachments.0.filename	資料.pdf$' <<<"$report" || fail "no attachment: $report"
grep -q 'Login: user=<yamada>' "$work/pop/dovecot.log" ||
  fail "no POP before SMTP login: $(cat "$work/pop/dovecot.log")"

log=$(find "$home/Log" -name 'log*.txt' 2>/dev/null | head -n1)
[ -n "$log" ] || fail "no send log in $home/Log"
iconv -f CP932 -t UTF-8 "$log" | grep -q ' 3通のメール送信を完了しました。' ||
  fail "the send log does not end the run: $(iconv -f CP932 -t UTF-8 "$log")"
archived=$(find "$home/Text" -type f 2>/dev/null | wc -l)
[ "$archived" = 3 ] || fail "$archived archived mail texts, not 3"

/usr/bin/python3 - "$home/Velkaro.cfg" <<'PY' || fail "the settings were not written back"
import struct, sys
data = open(sys.argv[1], "rb").read()
assert len(data) == 3312, len(data)
mark, left, top = struct.unpack_from("<iii", data, 0)
assert (mark, left, top) == (1, 48, 36), (mark, left, top)
PY
echo "app_check: 3 mails sent, log and archive written, settings stored, exited by itself"

# --- 2. the window, without the automatic send ---
(cd "$home" && VELKARO_HOME="$home" QT_QPA_PLATFORM=xcb exec "$program" \
  "/sendinf=$home/job.vlk2") >"$work/program2.log" 2>&1 &
app=$!
pids+=($app)
shown=0
for _ in $(seq 100); do
  kill -0 "$app" 2>/dev/null || break
  if xwininfo -root -tree 2>/dev/null | grep -q '案内.txt'; then
    shown=1
    break
  fi
  sleep 0.1
done
[ "$shown" = 1 ] || fail "no window titled 案内.txt appeared"
# Longer than the automatic send's two seconds: nothing may go out.
sleep 3
kill -0 "$app" 2>/dev/null || fail "the program ended by itself"
mails=$(find "$work/mail" -name '*.eml' | wc -l)
[ "$mails" = 3 ] || fail "the second start sent mail"
import -window root "$shot" 2>"$work/import.log" || fail "no screenshot: $(cat "$work/import.log")"
colours=$(identify -format '%k' "$shot" 2>/dev/null || echo 0)
[ "${colours:-0}" -ge 3 ] || fail "the screen is blank ($colours colours)"
echo "app_check: window shown, nothing sent; screenshot in $shot"
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null

# --- 3. an unattended start with a body file that is not there ---
(cd "$home" && VELKARO_HOME="$home" QT_QPA_PLATFORM=xcb exec timeout 30 "$program" /send=on \
  "$home/なし.txt") >"$work/program3.log" 2>&1
status=$?
[ "$status" = 1 ] || fail "a missing body file ended the program with status $status, not 1"
grep -q "cannot open body file $home/なし.txt" "$work/program3.log" ||
  fail "the missing body file was not named"
echo "app_check: a missing body file ends an unattended start with status 1"
exit 0
