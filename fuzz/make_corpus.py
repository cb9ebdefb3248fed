#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

The seeds are small, realistic inputs: Shift_JIS texts with kanji and
half-width kana, address book lines, setup files, command lines, settings
files of every size the program reads, and SMTP/POP3 replies. Run it again
after changing a seed here; the files it writes are committed. Inputs that
once made a target fail are kept in the same folders by hand ("regress-*").
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def sjis(text):
    return text.encode("cp932")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


BODY = sjis("ご案内\r\n((name)) 様\r\n\r\n本日は((today))、((week))曜日です。\r\n"
            "ｶﾀｶﾅ ﾊﾟﾋﾞﾌﾟ ｳﾞｧ も 漢字 も 〜 ①Ⅱ㈱\r\n")
HEADER = sjis("読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\tデータ３\tデータ４\r\n")
BOOK = HEADER + sjis(
    "やまだ\t山田\t山田 太郎\tyamada@example.jp\t03-1234-5678\t東京都千代田区\t\t\t\t\r\n"
    "すずき\t鈴木\t鈴木 花子\tsuzuki@example.jp\t\t大阪府\t会員\tA\tB\tC\r\n"
    "ﾀﾅｶ\t田中\t田中 一郎\ttanaka@example.jp\r\n"
    "さとう\t佐藤\t佐藤\tsato@example.jp\t\t\t\t\t\t\textra\r\n")


def jis_seeds():
    write("fuzz_jis", "body.txt", BODY)
    write("fuzz_jis", "ascii.txt", b"Hello,\r\nplain ASCII\r\n.\r\n")
    write("fuzz_jis", "kana.txt", sjis("ｱｲｳｴｵ ｶﾞｷﾞｸﾞ ﾊﾟﾋﾟﾌﾟ ｳﾞ ｱﾞ ｰ｡｢｣､･"))
    # NEC and IBM extensions (①, ⅰ, ￤, 髙), a user-defined code, a lead byte
    # before CR LF and one at the very end, and bytes CP932 does not use.
    write("fuzz_jis", "extensions.txt",
          sjis("①Ⅱ㈱") + b"\xfa\x40\xfa\x55\xfb\xfc\xf0\x40\x81\r\n\x80\xa0\xfd\xfe\xff\x82")
    write("fuzz_jis", "bare_lf.txt", sjis("件名\n本文\r改行\r\n"))


def base64_seeds():
    write("fuzz_base64", "text.bin", b"\x00" + BODY)
    write("fuzz_base64", "binary.bin", b"\x2b" + bytes(range(256)))
    write("fuzz_base64", "short.bin", b"\x07" + sjis("件名"))
    write("fuzz_base64", "pdf.bin", b"\x11%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n<<>>\nendobj\n%%EOF\n")


def placeholder_seeds():
    record = BOOK.split(b"\r\n")[1] + b"\r\n"
    write("fuzz_placeholders", "body.bin",
          b"\x00" + BODY + b"\x00" + record + b"\x00((name))\x00" + sjis("様"))
    write("fuzz_placeholders", "custom_word.bin",
          b"\x03" + sjis("＠名前＠ 様 ＠名前＠\r\n((today))") + b"\x00" + record + b"\x00"
          + sjis("＠名前＠") + b"\x00" + sjis("山田"))
    # A word that appears only across a character boundary: 0x82 0x28 is no
    # pair start here.
    write("fuzz_placeholders", "boundary.bin",
          b"\x81" + sjis("表") + b"((name))\r\n\x00" + record + b"\x00\\((name\x00x")


def address_book_seeds():
    write("fuzz_address_book", "book.txt", b"\x01" + BOOK)
    write("fuzz_address_book", "short_lines.txt", b"\x02" + HEADER + b"a\r\nb\tc\r\n\t\t\r\n" + sjis("ﾅｶ"))
    write("fuzz_address_book", "lone_ends.txt", b"\x00" + HEADER + sjis("か\rな\t名\n前\tx\r\n"))


def setup_seeds():
    write("fuzz_send_setup", "full.vlk2", sjis(
        ";; Velkaro: 送信データセットアップ情報ファイル\r\n\r\n"
        "/text=<fixtures>/本文.txt\r\n/binfile=<fixtures>/地図.pdf\r\n\r\n/quit=on\r\n\r\n"
        "/sendto-begin\r\nregist=山田\r\nname=山田 太郎\r\nkana=やまだ\r\n"
        "mailaddr=yamada@example.jp\r\ntelephone=03-1234-5678\r\nrealaddr=東京都\r\n"
        "data1=\r\ndata2=\r\ndata3=\r\ndata4=\r\n/sendto-end\r\n\r\n"))
    write("fuzz_send_setup", "regist_only.vlk2", sjis(
        "/send=on\n/quit=off\n/sendto-begin\nregist=鈴木\n/sendto-end\n"
        "/sendto-begin\nregist=未登録\nname= \"ﾀﾅｶ\" \nmailaddr=tanaka@example.jp\n/sendto-end\n"))
    write("fuzz_send_setup", "utf8.vlk2",
          "\ufeff/text=<fixtures>/本文.txt\r\n/sendto-begin\r\nname=髙橋\r\n"
          "mailaddr=takahashi@example.jp\r\n/sendto-end\r\n".encode("utf-8"))
    write("fuzz_send_setup", "bom_only.vlk2", b"\xef\xbb\xbf")
    write("fuzz_send_setup", "unterminated.vlk2", sjis(
        "/binfile=<fixtures>/無い.pdf\r\n/binfile=\r\n/sendto-begin\r\nname=途中\r\n"))


def command_line_seeds():
    words = [
        ["/sendinf=/tmp/setup.vlk2", "/quit=on", "/send=off"],
        ["/to=山田", "/text=\" 案内.txt \"", "本文.txt"],
        ["/to=Taro Suzuki <suzuki@example.jp>", "/SEND=ON", "-x", "--help", "--version"],
        ["/sendinf=<clip>", "/send=on", "/send=off", "/quit=off", "a.txt", "b.txt"],
    ]
    for i, w in enumerate(words):
        write("fuzz_command_line", f"words{i}.bin", b"\x00".join(s.encode("utf-8") for s in w))


def settings_record():
    """A current-size (3312 byte) record with every field in use."""
    r = bytearray(3312)

    def put(offset, size, text):
        data = sjis(text)[: size - 1]
        r[offset:offset + len(data)] = data

    struct.pack_into("<iii", r, 0, 1, 120, 80)
    put(12, 128, "pop.example.jp")
    put(140, 128, "yamada")
    put(268, 128, "パスワード")
    struct.pack_into("<i", r, 396, 110)
    put(400, 128, "smtp.example.jp")
    struct.pack_into("<i", r, 528, 587)
    put(532, 128, "山田 太郎")
    put(660, 128, "yamada@example.jp")
    put(788, 64, "VelkaroAddress.txt")
    struct.pack_into("<iii", r, 852, 1, 1, 5)
    struct.pack_into("<iiii", r, 864, 1, 1, 0, 1)
    for i, name in enumerate(["NormalEnd.wav", "ErrorEnd.wav", "OneMail.wav", "Develop.wav"]):
        put(880 + 32 * i, 32, name)
        put(1008 + 256 * i, 256, f"/home/yamada/音/{name}")
    put(2032, 256, "/home/yamada/文書")
    put(2288, 256, "/home/yamada/添付")
    put(2544, 256, "/home/yamada/設定")
    words = ["((regist))", "((name))", "((kana))", "((mailaddr))", "((telephone))",
             "((realaddr))", "((data1))", "((data2))", "((data3))", "((data4))", "((today))",
             "((time))", "((year))", "((month))", "((day))", "((week))"]
    for i, w in enumerate(words):
        put(2800 + 32 * i, 32, w)
    # One text that fills its slot to the last byte (no NUL) and ends in a
    # cut double-byte character.
    r[2800 + 32 * 15:2800 + 32 * 16] = sjis("漢字" * 8)[:31] + b"\x8a"
    return bytes(r)


# Where each field of the current record sat in the older sizes:
# (old offset, length, current offset, sizes that have it).
OLD_FIELDS = [
    (0, 852, 0, (2020, 2536, 2860, 3052, 3056)),
    (852, 16, 864, (2020, 2536, 2860, 3052, 3056)),
    (868, 128, 880, (2020, 2536, 2860, 3052, 3056)),
    (996, 1024, 1008, (2020, 2536, 2860, 3052, 3056)),
    (2020, 4, 852, (2536, 2860, 3052, 3056)),
    (2024, 256, 2032, (2536, 2860, 3052, 3056)),
    (2280, 256, 2288, (2536, 2860, 3052, 3056)),
    (2536, 4, 860, (2860, 3052, 3056)),
    (2540, 320, 2800, (2860,)),
    (2540, 512, 2800, (3052, 3056)),
    (3052, 4, 856, (3056,)),
]
SIZES = [3312, 2020, 2536, 2860, 3052, 3056]


def settings_seeds():
    current = settings_record()
    for pick, size in enumerate(SIZES):
        if size == 3312:
            image = current
        else:
            image = bytearray(size)
            for old, length, offset, sizes in OLD_FIELDS:
                if size in sizes:
                    image[old:old + length] = current[offset:offset + length]
        write("fuzz_settings", f"size{size}.cfg", bytes([pick]) + bytes(image))
        # The same image with the save and second load (high bit of the
        # first byte; the size is that byte modulo 7).
        saved = next(b for b in range(128, 256) if b % (len(SIZES) + 1) == pick)
        write("fuzz_settings", f"size{size}_saved.cfg", bytes([saved]) + bytes(image))
    write("fuzz_settings", "too_short.cfg", bytes([len(SIZES)]) + current[:100])


def text_file_seeds():
    write("fuzz_text_file", "sjis_crlf.txt", BODY)
    write("fuzz_text_file", "sjis_lf.txt", BODY.replace(b"\r\n", b"\n"))
    text = BODY.decode("cp932")
    write("fuzz_text_file", "utf8_lf.txt", text.replace("\r\n", "\n").encode("utf-8"))
    write("fuzz_text_file", "utf8_bom_crlf.txt", ("\ufeff" + text + "😀é").encode("utf-8"))
    write("fuzz_text_file", "mixed.txt", sjis("ﾅｶ\r\nｶﾅ\n\r\r\n") + b"\xc5\xb6")
    write("fuzz_text_file", "broken_utf8.txt", b"\xef\xbb\xbf\xe3\x81\r\nabc\xf0\x9f\n\xc3")


def csv_seeds():
    # First byte: separator (0 comma, 1 TAB, 2 semicolon; +0x80 import all).
    sheet = ("氏名,フリガナ,メールアドレス,電話,住所\r\n"
             "山田 太郎,やまだ,yamada@example.jp,03-1234-5678,\"東京都\r\n千代田区\"\r\n"
             "鈴木,すずき,SUZUKI@example.jp,,\"大阪府, \"\"本社\"\"\"\r\n"
             "髙橋 😀,たかはし,takahashi@example.jp,,\r\n"
             "重複,,yamada@EXAMPLE.jp,,\r\n"
             ",,no address,,\r\n\r\n"
             "田中,,tanaka@example.jp,,5\" disk")
    write("fuzz_csv", "utf8_bom.csv", b"\x00\xef\xbb\xbf" + sheet.encode("utf-8"))
    write("fuzz_csv", "import_all.csv", b"\x80" + sheet.encode("utf-8"))
    write("fuzz_csv", "cp932_tab.csv",
          b"\x01" + sjis("読み\t登録名\t氏名\tメールアドレス\r\nﾀﾅｶ\t田中\t表示\tt@example.jp\n"))
    write("fuzz_csv", "google.csv", b"\x00" + (
        "First Name,Last Name,Phonetic First Name,Phonetic Last Name,E-mail 1 - Label,"
        "E-mail 1 - Value,Phone 1 - Value\r\n"
        "太郎,山田,たろう,やまだ,* Home,y@example.jp,090-1111-2222\r\n").encode("utf-8"))
    write("fuzz_csv", "outlook_semicolon.csv", b"\x02" + (
        "First Name;Last Name;E-mail Address;Mobile Phone\r\n"
        "Hanako;Suzuki;s@example.jp;\"090;1\"\r\n\"unclosed;x").encode("utf-8"))


def reply_seeds():
    def chunks(*parts):
        out = b""
        for p in parts:
            out += bytes([len(p)]) + p
        return out

    # flags: 1 POP3, 2 timer window, 4 query fails at the end; then patience.
    write("fuzz_reply", "greeting.bin", b"\x00\x20" + chunks(b"220 mail.example.jp ESMTP ready\r\n"))
    write("fuzz_reply", "ehlo_split.bin", b"\x02\x20" + chunks(
        b"250-mail.example.jp Hello\r\n250-PIPE", b"", b"LINING\r\n250-SIZE 10240000\r\n",
        b"250 8BITMIME\r\nextra"))
    write("fuzz_reply", "pop_ok.bin", b"\x01\x10" + chunks(b"+OK Dovecot ready.\r\n"))
    write("fuzz_reply", "pop_err_lf.bin", b"\x05\x03" + chunks(b"-ERR [AUTH] ", b"failed.\n+OK"))
    write("fuzz_reply", "cut_short.bin", b"\x04\x05" + chunks(b"250-first\r\n250"))
    long_line = b"250-" + b"x" * 240 + b"\r\n"
    write("fuzz_reply", "long.bin", b"\x00\x30" + chunks(*([long_line] * 5 + [b"250 done\r\n"])))


def ehlo_seeds():
    write("fuzz_ehlo", "submission.bin",
          b"250-smtp.example.jp Hello\r\n250-PIPELINING\r\n250-SIZE 35882577\r\n"
          b"250-STARTTLS\r\n250-AUTH PLAIN LOGIN XOAUTH2\r\n250 8BITMIME\r\n")
    write("fuzz_ehlo", "old_auth.bin", b"250-mx\r\n250-AUTH=LOGIN PLAIN\r\n250 SIZE\r\n")
    write("fuzz_ehlo", "lf_only.bin", b"250-mx\n250-starttls\n250 size 12x\n")


def main():
    # Files not written here (inputs that once failed) are left alone.
    jis_seeds()
    base64_seeds()
    placeholder_seeds()
    address_book_seeds()
    setup_seeds()
    command_line_seeds()
    settings_seeds()
    text_file_seeds()
    ehlo_seeds()
    reply_seeds()
    csv_seeds()


if __name__ == "__main__":
    main()
