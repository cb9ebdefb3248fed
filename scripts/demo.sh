#!/usr/bin/env bash
# Velkaro's main job on this machine, start to finish: installs what it
# needs, builds the headless sender velkaro-send, starts a local SMTP
# receiver on 127.0.0.1, prepares a program folder (settings, a Japanese
# address book of three people, a body with placeholders, an attachment),
# sends one personalised mail to each of the three and prints the mails as
# they arrived, decoded the way a mail program decodes them.
#
# Everything it makes stays in out/demo; the receiver is stopped on exit.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
python=/usr/bin/python3  # Debian's Python, which has aiosmtpd

bash scripts/install-deps.sh
# A build folder of its own with only what the sender needs, so that the
# demo neither waits for the window program and the tests nor changes the
# options of the main build folder.
build=${VELKARO_DEMO_BUILD_DIR:-build-demo}
cmake -S . -B "$build" -G Ninja -DVELKARO_BUILD_UI=OFF -DVELKARO_BUILD_TESTS=OFF \
  -DVELKARO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target velkaro-send
sender=$root/$build/src/cli/velkaro-send

demo=$root/out/demo
rm -rf "$demo"
mkdir -p "$demo/home" "$demo/received" "$demo/files"
# The program folder: settings, address book, send log, copies of the texts.
export VELKARO_HOME=$demo/home

echo
echo "== Starting a local SMTP receiver (aiosmtpd) on 127.0.0.1"
"$python" tests/peers/smtp_receiver.py "$demo/received" >"$demo/receiver.port" 2>"$demo/receiver.log" &
receiver=$!
stop_receiver() {
  kill -TERM "$receiver" 2>/dev/null || true
  wait "$receiver" 2>/dev/null || true
}
trap stop_receiver EXIT
for _ in $(seq 1 150); do
  [ -s "$demo/receiver.port" ] && break
  if ! kill -0 "$receiver" 2>/dev/null; then
    echo "demo: the SMTP receiver did not start:" >&2
    cat "$demo/receiver.log" >&2
    exit 1
  fi
  sleep 0.1
done
port=$(head -n 1 "$demo/receiver.port")
if [ -z "$port" ]; then
  echo "demo: the SMTP receiver printed no port within 15 s" >&2
  exit 1
fi
echo "receiver: port $port, storing mails in $demo/received"

echo
echo "== Settings (POP3 server empty: no POP before SMTP here)"
"$sender" --set smtpServer=127.0.0.1 --set "smtpPort=$port" --set popServer= \
  --set "senderName=ベルカロ商事 総務部" --set senderAddress=soumu@velkaro.example \
  --show-settings | grep -E '^(smtp|pop|sender)'

# Text files of the program are Shift_JIS with CR LF line ends.
sjis_crlf() { iconv -f UTF-8 -t CP932 | sed 's/$/\r/'; }

# The address book: its header line, then kana, registered name, name, mail
# address, telephone, postal address, data1 … data4, TAB-separated.
sjis_crlf >"$demo/home/VelkaroAddress.txt" <<'BOOK'
読み	登録名	氏名	メールアドレス	電話	住所	データ１	データ２	データ３	データ４
やまだ	山田	山田 太郎	yamada@example.jp	03-1234-5678	東京都千代田区	A会場			
すずき	鈴木	鈴木 花子	suzuki@example.jp	06-2345-6789	大阪府大阪市	B会場			
ﾀﾅｶ	田中	田中 一郎	tanaka@example.org	052-345-6789	愛知県名古屋市	A会場			
BOOK

# The body: the first line is the subject; placeholders are filled in per
# recipient; ｶﾀｶﾅ is half-width katakana.
body=$demo/files/懇親会のご案内.txt
sjis_crlf >"$body" <<'BODY'
【ご案内】((name))様 懇親会のお知らせ
((name))様

いつもお世話になっております。
((data1))にて懇親会を開催いたします。ﾄﾞﾘﾝｸ・ﾌｰﾄﾞをご用意しております。

ご登録のアドレス: ((mailaddr))
送信日時: ((today)) ((time))

ベルカロ商事 総務部
BODY

attachment=$demo/files/会場地図.txt
cat >"$attachment" <<'MAP'
A会場: 東京都千代田区1-1-1 ベルカロビル 3F
B会場: 大阪府大阪市北区2-2-2 ベルカロ会館 5F
MAP

echo
echo "== Sending"
echo "velkaro-send --to 山田 --to 鈴木 --to 田中 --text $body --attach $attachment"
status=0
"$sender" --to 山田 --to 鈴木 --to 田中 --text "$body" --attach "$attachment" || status=$?
if [ "$status" -ne 0 ]; then
  echo "demo: velkaro-send ended with exit status $status" >&2
  exit "$status"
fi

echo
echo "== The mails as they arrived (decoded with Python's email package)"
shopt -s nullglob
mails=("$demo"/received/*.eml)
if [ ${#mails[@]} -ne 3 ]; then
  echo "demo: expected 3 mails, the receiver stored ${#mails[@]}" >&2
  exit 1
fi
for mail in "${mails[@]}"; do
  "$python" tests/peers/check_mail.py "$mail" | "$python" -c '
import json, sys
m = json.load(sys.stdin)
def who(a):
    return "%s <%s>" % (a["name"], a["address"]) if a["name"] else "<%s>" % a["address"]
print("-" * 60)
print("From:    " + who(m["from"]))
print("To:      " + who(m["to"]))
print("Subject: " + m["subject"])
print("Date:    " + (m["date"] or ""))
for a in m["attachments"]:
    print("Attachment: %s (%s, %d bytes)" % (a["filename"], a["content_type"], a["length"]))
print()
print((m["body"] or "").replace("\r\n", "\n").strip("\n"))
'
done
echo "------------------------------------------------------------"
echo
echo "Send log:        $(ls "$demo"/home/Log/*.txt)"
echo "Copies of texts: $demo/home/Text"
echo "Raw mails:       $demo/received"
