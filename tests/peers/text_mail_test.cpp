// Single-part mails to a real SMTP receiver (aiosmtpd), read back the way a
// receiving mail program decodes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "core/encoding.h"
#include "peers/peer_fixture.h"

namespace velkaro::testing {
namespace {

struct TextCase {
  const char* name;
  const char* subject;        // UTF-8, as typed
  const char* body;           // UTF-8, as typed (the driver's CR LF at the end included)
  const char* recipientName;  // UTF-8
  const char* wantSubject;    // what the reader shows
  const char* wantBody;
  const char* wantRecipientName;
  CharsetSetting setting = CharsetSetting::Auto;
  const char* wantCharset = "iso-2022-jp";
};

// Test names show the case name, not the bytes of the record.
void PrintTo(const TextCase& c, std::ostream* os) {
  *os << c.name;
}

const TextCase kTextCases[] = {
    {"plain_japanese", "ご請求のご案内", "鈴木様\r\n\r\nいつもお世話になっております。\r\n山田\r\n",
     "受取人 鈴木", "ご請求のご案内", "鈴木様\n\nいつもお世話になっております。\n山田",
     "受取人 鈴木"},
    // Half-width katakana take the mail to UTF-8, where they arrive as typed.
    {"half_width_katakana", "ｶﾞｷﾞ ｾｰﾙのお知らせ", "ｶﾞｷﾞｸﾞｹﾞｺﾞ ﾊﾟﾋﾟﾌﾟ ｱｲｳｴｵ\r\n｢ｶﾀｶﾅ｣､ｺﾝﾆﾁﾊ｡\r\n",
     "ｽｽﾞｷ ｲﾁﾛｳ", "ｶﾞｷﾞ ｾｰﾙのお知らせ", "ｶﾞｷﾞｸﾞｹﾞｺﾞ ﾊﾟﾋﾟﾌﾟ ｱｲｳｴｵ\n｢ｶﾀｶﾅ｣､ｺﾝﾆﾁﾊ｡", "ｽｽﾞｷ ｲﾁﾛｳ",
     CharsetSetting::Auto, "utf-8"},
    // ISO-2022-JP has no half-width katakana; when it is asked for they must
    // arrive widened, voiced marks joined to their letter.
    {"half_width_katakana_in_iso_2022_jp", "ｶﾞｷﾞ ｾｰﾙのお知らせ",
     "ｶﾞｷﾞｸﾞｹﾞｺﾞ ﾊﾟﾋﾟﾌﾟ ｱｲｳｴｵ\r\n｢ｶﾀｶﾅ｣､ｺﾝﾆﾁﾊ｡\r\n", "ｽｽﾞｷ ｲﾁﾛｳ", "ガギ セールのお知らせ",
     "ガギグゲゴ パピプ アイウエオ\n「カタカナ」、コンニチハ。", "スズキ イチロウ",
     CharsetSetting::IsoJp},
    // SMTP ends the data at a line holding only "."; such lines and lines
    // starting with "." must arrive as typed.
    {"dot_lines", "ドット行", "一行目\r\n.\r\n.x\r\n..\r\n. 終わりではない\r\n最後の行\r\n",
     "受取人 鈴木", "ドット行", "一行目\n.\n.x\n..\n. 終わりではない\n最後の行", "受取人 鈴木"},
    {"dot_first_and_last_line", "先頭と末尾", ".\r\n本文\r\n.\r\n", "受取人 鈴木", "先頭と末尾",
     ".\n本文\n.", "受取人 鈴木"},
    {"ascii_only", "Invoice No.123", "Dear customer,\r\nplease find the invoice.\r\n", "Suzuki",
     "Invoice No.123", "Dear customer,\nplease find the invoice.", "Suzuki"},
    {"symbols_and_kanji", "【重要】10月分・請求書（再送）",
     "〒100-0001　東京都千代田区\r\n※ご確認ください。\r\n", "鈴木 一郎",
     "【重要】10月分・請求書（再送）", "〒100-0001　東京都千代田区\n※ご確認ください。",
     "鈴木 一郎"},
};

class TextMailTest : public PeerTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextMailTest, ArrivesDecodedAsTyped) {
  const TextCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  // A second mail reader must decode the same texts.
  const MailReport r =
      SendOneAndRead(Settings(receiver.port()),
                     Record(c.subject, c.body, c.recipientName, "suzuki@example.jp"), c.setting);
  SCOPED_TRACE(r.Dump());
  EXPECT_EQ(r.Get("content_type"), "text/plain");
  EXPECT_EQ(r.Get("body_charset"), c.wantCharset);
  EXPECT_EQ(r.Get("subject"), c.wantSubject);
  EXPECT_EQ(Normalized(r.Get("body")), c.wantBody);
  // nkf reads ISO-2022-JP; a Base64 part is beyond it.
  if (std::string(c.wantCharset) == "iso-2022-jp") {
    EXPECT_EQ(Normalized(r.Get("body_nkf")), c.wantBody) << "nkf reads the body differently";
  }
  EXPECT_EQ(r.Get("from.name"), "差出人 山田");
  EXPECT_EQ(r.Get("from.address"), "sender@example.com");
  EXPECT_EQ(r.Get("to.name"), c.wantRecipientName);
  EXPECT_EQ(r.Get("to.address"), "suzuki@example.jp");

  const auto envelope = Envelope(ReceivedMessages().at(0));
  EXPECT_EQ(First(envelope, "mail_from"), "sender@example.com");
  EXPECT_EQ(envelope.count("rcpt_to"), 1u);
  EXPECT_EQ(First(envelope, "rcpt_to"), "suzuki@example.jp");
}

INSTANTIATE_TEST_SUITE_P(Peers, TextMailTest, ::testing::ValuesIn(kTextCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A long paragraph is one line in the editor; servers refuse lines over
// 998 bytes (aiosmtpd answers "500 Line too long"), so it arrives broken
// into lines, with every character intact. Bare LF and CR line ends go out
// as CR LF, and dot lines after them arrive as typed.
TEST_F(PeerTest, LongParagraphsAndBareLineEndsArrive) {
  std::string paragraph;
  for (int i = 0; i < 700; ++i) paragraph += "漢";
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  MailConnection& m = NewConnection(Settings(receiver.port()));
  ASSERT_EQ(m.SmtpOpen(), 0);
  EXPECT_EQ(m.SendOneMail(Record("長い段落", paragraph + "\r\n", "受取人 鈴木", "a@example.jp")), 0)
      << m.GetTranscript();
  EXPECT_EQ(m.SendOneMail(Record("改行", "一\n.\n二\r.x\r\n", "受取人 鈴木", "b@example.jp")), 0)
      << m.GetTranscript();
  EXPECT_EQ(m.SmtpQuit(), 0);
  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 2u);
  const MailReport longMail = Check(messages[0]);
  std::string joined = Normalized(longMail.Get("body"));
  joined.erase(std::remove(joined.begin(), joined.end(), '\n'), joined.end());
  EXPECT_EQ(joined, paragraph);
  EXPECT_EQ(Normalized(Check(messages[1]).Get("body")), "一\n.\n二\n.x");
}

// Header texts far longer than one line: the reader must see them whole
// while no header line exceeds the 998 bytes SMTP allows.
struct LongHeaderCase {
  const char* name;
  bool longSubject;
  bool longRecipientName;
  // The half-width katakana of the text make a mail UTF-8 unless
  // ISO-2022-JP is asked for, which widens them.
  CharsetSetting setting = CharsetSetting::IsoJp;
};

std::string LongJapanese(std::size_t characters) {
  // Kanji, kana, full-width and ASCII mixed, so that folds fall between
  // character sets as well as inside them.
  static const char* const kPieces[] = {"請求書", "No.",      "2026", "ご案内",
                                        "ｶﾅ",     "（再送）", " ",    "テスト"};
  static const std::size_t kLengths[] = {3, 3, 4, 3, 2, 4, 1, 3};
  std::string out;
  std::size_t count = 0;
  for (std::size_t i = 0; count < characters; i = (i + 1) % 8) {
    if (count + kLengths[i] > characters) {
      out += "あ";
      ++count;
      continue;
    }
    out += kPieces[i];
    count += kLengths[i];
  }
  return out;
}

// The half-width katakana of LongJapanese as the reader shows them.
std::string Widened(std::string text) {
  const std::string from = "ｶﾅ";
  const std::string to = "カナ";
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

std::string WithoutSpaces(std::string text) {
  std::erase(text, ' ');
  return text;
}

void PrintTo(const LongHeaderCase& c, std::ostream* os) {
  *os << c.name;
}

const LongHeaderCase kLongHeaderCases[] = {
    {"subject_2000_characters", true, false},
    {"recipient_name_2000_characters", false, true},
    {"both_long", true, true},
    {"both_long_in_utf8", true, true, CharsetSetting::Auto},
};

class LongHeaderTest : public PeerTest, public ::testing::WithParamInterface<LongHeaderCase> {};

TEST_P(LongHeaderTest, IsFoldedAndDecodesWhole) {
  const LongHeaderCase& c = GetParam();
  const std::string longText = LongJapanese(2000);
  const std::string subject = c.longSubject ? longText : "短い件名";
  const std::string name = c.longRecipientName ? longText : "受取人 鈴木";
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  // Both readers join the folded encoded words into the same text.
  const MailReport r = SendOneAndRead(
      Settings(receiver.port()), Record(subject, "本文\r\n", name, "suzuki@example.jp"), c.setting);
  SCOPED_TRACE(r.Dump());
  EXPECT_EQ(r.Get("raw.header_lines_over_998"), "0");
  EXPECT_LE(std::stoi(r.Get("raw.max_header_line")), 998);
  const auto shown = [&c](const std::string& text) {
    return c.setting == CharsetSetting::IsoJp ? Widened(text) : text;
  };
  EXPECT_EQ(r.Get("subject"), shown(subject));
  EXPECT_EQ(r.Get("to.name"), shown(name));
  // Each encoded word must decode on its own (no word may end inside a
  // double-byte run); Python's address parser reads them one by one, but
  // shows a space between them.
  EXPECT_EQ(WithoutSpaces(r.Get("to.parsed_name")), WithoutSpaces(shown(name)));
  EXPECT_EQ(r.Get("to.address"), "suzuki@example.jp");
  EXPECT_EQ(Normalized(r.Get("body")), "本文");
}

INSTANTIATE_TEST_SUITE_P(Peers, LongHeaderTest, ::testing::ValuesIn(kLongHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro::testing
