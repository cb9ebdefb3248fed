// The message writer: which mails go as UTF-8, and what a UTF-8 mail looks
// like (encoded words of at most 75 characters that never split a
// character, a Base64 body of 76-character lines, half-width katakana kept).
#include "mail/message_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "mail/attachment_header.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::Base64Decode;
using testing::CrLfLines;
using testing::PlatformTest;
using testing::TempDir;
using testing::WriteBytes;

MailContent ContentOf(const std::string& subject, const std::string& body,
                      const std::string& recipientName, const std::string& senderName = "差出人") {
  MailContent c;
  c.subject = Utf8ToSjis(subject);
  c.body = Utf8ToSjis(body);
  c.senderName = Utf8ToSjis(senderName);
  c.senderAddress = "sender@example.com";
  c.recipientName = Utf8ToSjis(recipientName);
  c.recipientAddress = "suzuki@example.jp";
  c.boundary = MailConnection::kBoundary;
  return c;
}

enum class Field { Subject, Body, RecipientName, SenderName };

struct ChoiceCase {
  const char* name;
  CharsetSetting setting;
  Field field;
  const char* text;  // UTF-8, put into `field`
  mime::Charset want;
  std::vector<std::string> causes;  // UTF-8
};

const ChoiceCase kChoiceCases[] = {
    {"jis_text_stays", CharsetSetting::Auto, Field::Body, "ご案内〒※―", mime::Charset::IsoJp, {}},
    {"circled_digit_in_subject",
     CharsetSetting::Auto,
     Field::Subject,
     "①のご案内",
     mime::Charset::Utf8,
     {"①"}},
    {"company_mark_in_sender",
     CharsetSetting::Auto,
     Field::SenderName,
     "ベルカロ商事㈱",
     mime::Charset::Utf8,
     {"㈱"}},
    {"ibm_kanji_in_recipient",
     CharsetSetting::Auto,
     Field::RecipientName,
     "髙橋 﨑",
     mime::Charset::Utf8,
     {"髙", "﨑"}},
    {"half_width_kana_in_body",
     CharsetSetting::Auto,
     Field::Body,
     "ｶﾀｶﾅ",
     mime::Charset::Utf8,
     {"ｶ", "ﾀ", "ﾅ"}},
    {"numero_and_tel", CharsetSetting::Auto, Field::Body, "№1 ℡", mime::Charset::Utf8, {"№", "℡"}},
    {"forced_iso_keeps_causes",
     CharsetSetting::IsoJp,
     Field::Subject,
     "①",
     mime::Charset::IsoJp,
     {"①"}},
    {"forced_utf8_for_jis_text",
     CharsetSetting::Utf8,
     Field::Body,
     "ご案内",
     mime::Charset::Utf8,
     {}},
};

class ChooseCharsetTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseCharsetTest, DecidesOnEveryTextOfTheMail) {
  const ChoiceCase& c = GetParam();
  MailContent content = ContentOf("件名", "本文\r\n", "鈴木");
  std::string* target = c.field == Field::Subject         ? &content.subject
                        : c.field == Field::Body          ? &content.body
                        : c.field == Field::RecipientName ? &content.recipientName
                                                          : &content.senderName;
  *target = Utf8ToSjis(c.text);
  const CharsetChoice choice = ChooseCharset(c.setting, content);
  EXPECT_EQ(choice.charset, c.want);
  std::vector<std::string> causes;
  for (const std::string& s : choice.causes) causes.push_back(SjisToUtf8(s));
  EXPECT_EQ(causes, c.causes);
}

INSTANTIATE_TEST_SUITE_P(Rows, ChooseCharsetTest, ::testing::ValuesIn(kChoiceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CharsetSettingTest, NamesReadBackAndOthersAreRefused) {
  for (const CharsetSetting s :
       {CharsetSetting::IsoJp, CharsetSetting::Auto, CharsetSetting::Utf8}) {
    CharsetSetting read = CharsetSetting::Auto;
    EXPECT_TRUE(ParseCharsetSetting(CharsetSettingName(s), &read));
    EXPECT_EQ(read, s);
  }
  CharsetSetting read = CharsetSetting::Utf8;
  EXPECT_TRUE(ParseCharsetSetting("ISO-2022-JP", &read));
  EXPECT_EQ(read, CharsetSetting::IsoJp);
  for (const char* bad : {"", "utf8", "shift_jis", " auto"}) {
    EXPECT_FALSE(ParseCharsetSetting(bad, &read)) << bad;
  }
}

class MessageTest : public PlatformTest {};

// The decoded text of a header field's encoded words, checking each word on
// the way: at most 75 characters, and whole UTF-8 characters in each.
std::string DecodeUtf8Words(const std::string& field) {
  static const std::regex word(R"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)");
  std::string text;
  for (auto it = std::sregex_iterator(field.begin(), field.end(), word);
       it != std::sregex_iterator(); ++it) {
    EXPECT_LE(it->str().size(), mime::kMaxWordLength) << it->str();
    const std::string bytes = Base64Decode((*it)[1]);
    EXPECT_TRUE(mime::IsValidUtf8(bytes)) << "word splits a character: " << it->str();
    text += bytes;
  }
  return text;
}

struct WordCase {
  const char* name;
  const char* text;  // UTF-8
};

const WordCase kWordCases[] = {
    {"short", "①のご案内"},
    {"long_mixed",
     "【重要】髙橋 ｹﾝｼﾞ様 ｶﾀｶﾅ①②㈱髙 2026年12月分のご請求とお支払い方法のご案内について"},
    {"ascii_and_marks", "Invoice №123 ℡ 03-1234-5678 ㈱ベルカロ商事 総務部 経理課 ご担当者様"},
};

class Utf8WordsTest : public PlatformTest, public ::testing::WithParamInterface<WordCase> {};

TEST_P(Utf8WordsTest, SubjectAndNamesDecodeToTheTextInShortWords) {
  const std::string text = GetParam().text;
  const MessageWriter writer(ContentOf(text, "本文\r\n", text, text), mime::Charset::Utf8);
  std::tm local{};
  local.tm_year = 126;
  local.tm_mday = 8;
  const auto fields = writer.HeaderFields(false, 0, local, "id@example.com");
  for (const int code : {1, 2, 3}) {
    const auto field = std::find_if(fields.begin(), fields.end(),
                                    [code](const HeaderLine& f) { return f.code == code; });
    ASSERT_NE(field, fields.end());
    EXPECT_EQ(DecodeUtf8Words(field->text), text) << field->text;
    for (const std::string& line : CrLfLines(field->text)) {
      EXPECT_LE(line.size(), mime::kPreferredLineLength) << line;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, Utf8WordsTest, ::testing::ValuesIn(kWordCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessageTest, Utf8BodyIsBase64Of76CharacterLinesWithKanaAsTyped) {
  const std::string body = "ｶﾞｷﾞ ｶﾀｶﾅ①②㈱髙\r\n.\r\n" + std::string(300, 'x') + "\r\n";
  const MessageWriter writer(ContentOf("件名", body, "鈴木"), mime::Charset::Utf8);
  const std::string wire = writer.BodyText();
  ASSERT_TRUE(wire.ends_with("\r\n"));
  const std::vector<std::string> lines = CrLfLines(wire);
  ASSERT_GT(lines.size(), 1u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i + 1 < lines.size()) {
      EXPECT_EQ(lines[i].size(), 76u);
    }
    EXPECT_LE(lines[i].size(), 76u);
  }
  EXPECT_EQ(Base64Decode(wire), body);
}

TEST_F(MessageTest, HeadersOfUtf8AndIsoMails) {
  std::tm local{};
  const auto names = [](const std::vector<HeaderLine>& fields) {
    std::string all;
    for (const HeaderLine& f : fields) all += f.text;
    return all;
  };
  const MessageWriter utf8(ContentOf("件名", "本文\r\n", "鈴木"), mime::Charset::Utf8);
  const std::string single = names(utf8.HeaderFields(false, 0, local, "id@x"));
  EXPECT_NE(single.find("Content-Transfer-Encoding: base64\r\n"), std::string::npos);
  EXPECT_NE(single.find("Content-Type: text/plain; charset=UTF-8\r\n"), std::string::npos);
  EXPECT_NE(single.find("From: =?UTF-8?B?"), std::string::npos);
  // With attachments only the text part carries Base64.
  const std::string multi = names(utf8.HeaderFields(true, 0, local, "id@x"));
  EXPECT_NE(multi.find("Content-Transfer-Encoding: 7bit\r\n"), std::string::npos);
  EXPECT_EQ(utf8.TextPartHeader(),
            "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n");

  const MessageWriter iso(ContentOf("件名", "本文\r\n", "鈴木"), mime::Charset::IsoJp);
  EXPECT_EQ(iso.TextPartHeader(),
            "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n"
            "Content-Transfer-Encoding: 7bit\r\n");
  EXPECT_NE(names(iso.HeaderFields(false, 0, local, "id@x")).find("Subject: =?ISO-2022-JP?B?"),
            std::string::npos);
}

TEST_F(MessageTest, WholeMessageJoinsThePartsAndFailsForAVanishedAttachment) {
  TempDir dir;
  WriteBytes(dir.File("a.txt"), "hello\r\n");
  MailContent content = ContentOf("件名①", "本文\r\n", "鈴木");
  content.attachmentList = dir.File("a.txt") + "\r\n";
  const MessageWriter writer(content, mime::Charset::Utf8);
  std::tm local{};
  const std::string message = writer.Message(0, local, "id@x");
  const std::string boundary = MailConnection::kBoundary;
  EXPECT_NE(message.find("\r\n\r\n\r\n--" + boundary +
                         "\r\nContent-Type: text/plain; "
                         "charset=UTF-8\r\n"),
            std::string::npos);
  EXPECT_NE(message.find("Content-Type: text/plain; charset=UTF-8;\r\n name=\"=?UTF-8?B?"),
            std::string::npos)
      << "the attachment's name follows the mail's character set";
  EXPECT_NE(message.find("\r\naGVsbG8NCg==\r\n--" + boundary + "--\r\n"), std::string::npos);
  // The end of data's own line end stays with the message as received.
  EXPECT_TRUE(message.ends_with("--" + boundary + "--\r\n\r\n"));

  content.attachmentList = dir.File("gone.txt") + "\r\n";
  EXPECT_EQ(MessageWriter(content, mime::Charset::Utf8).Message(0, local, "id@x"), "");
}

}  // namespace
}  // namespace velkaro
