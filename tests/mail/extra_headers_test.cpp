// The fields a user's [mail] settings add to every mail (Cc, Reply-To,
// List-Unsubscribe and its one-click Post) and envelopes with several
// recipients: exact header bytes in both character sets, exact dialogues
// against a scripted server, refused recipients, and the refusal of
// addresses and links that would inject commands or header fields.
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "mail/mail_connection.h"
#include "mail/message_writer.h"
#include "mail/mime_text.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::CrLfLines;
using testing::PlatformTest;
using testing::ScriptedServer;

const std::string kMailFrom = "MAIL FROM:<sales@example.jp>\r\n";
const std::string kRcptTo = "RCPT TO:<yamada@example.com>\r\n";
const std::string kRcptCc = "RCPT TO:<keiri@example.jp>\r\n";
const std::string kRcptSelf = "RCPT TO:<sales@example.jp>\r\n";
const std::string kData = "DATA\r\n";
const std::string kEndData = "\r\n.\r\n";
const std::string kDate = "Date: Tue, 08 Dec 2026 09:30:15 +0900\r\n";
// "山田様\r\nこんにちは。\r\n" in ISO-2022-JP.
const std::string kJisBody = "\x1b$B;3EDMM\x1b(B\r\n\x1b$B$3$s$K$A$O!#\x1b(B\r\n";

// Encoded words of the names the rows use.
struct Words {
  const char* sender;     // 営業部
  const char* recipient;  // 山田
  const char* subject;    // ご案内
  const char* keiri;      // 経理部
  const char* support;    // サポート窓口
};
const Words kIsoWords = {"=?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=", "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=",
                         "=?ISO-2022-JP?B?GyRCJDQwRkZiGyhC?=", "=?ISO-2022-JP?B?GyRCN1BNfUl0GyhC?=",
                         "=?ISO-2022-JP?B?GyRCJTUlXSE8JUhBazh9GyhC?="};
const Words kUtf8Words = {
    "=?UTF-8?B?5Za25qWt6YOo?=", "=?UTF-8?B?5bGx55Sw?=", "=?UTF-8?B?44GU5qGI5YaF?=",
    "=?UTF-8?B?57WM55CG6YOo?=", "=?UTF-8?B?44K144Od44O844OI56qT5Y+j?="};

const Words& WordsOf(mime::Charset charset) {
  return charset == mime::Charset::Utf8 ? kUtf8Words : kIsoWords;
}

// A single-part header block with `afterTo` between To and Subject and
// `afterId` between Message-Id and X-Mailer.
std::string Header(mime::Charset charset, const std::string& afterTo, const std::string& afterId,
                   const std::string& messageIdLine) {
  const Words& w = WordsOf(charset);
  const bool utf8 = charset == mime::Charset::Utf8;
  return std::string("From: ") + w.sender + " <sales@example.jp>\r\n" + "To: " + w.recipient +
         " <yamada@example.com>\r\n" + afterTo + "Subject: " + w.subject + "\r\n" + kDate +
         "MIME-Version: 1.0\r\n" +
         (utf8 ? "Content-Transfer-Encoding: base64\r\n" : "Content-Transfer-Encoding: 7bit\r\n") +
         (utf8 ? "Content-Type: text/plain; charset=UTF-8\r\n"
               : "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n") +
         messageIdLine + afterId + "X-Mailer: Velkaro\r\n" + "\r\n\r\n";
}

std::string LongUri(std::size_t length) {
  const std::string head = "https://example.jp/u?k=";
  return head + std::string(length - head.size(), 'a');
}

// --- header bytes of the writer ---

// Names UTF-8 in the rows; the writer gets them in Shift_JIS.
struct HeaderRow {
  const char* name = "";
  mime::Charset charset = mime::Charset::IsoJp;
  ExtraHeaders extra{};
  std::string afterTo;  // expected between To and Subject
  std::string afterId;  // expected between Message-Id and X-Mailer
  std::vector<int> codes;
};

ExtraHeaders Names(const char* ccName, const char* ccAddress, const char* replyToName,
                   const char* replyToAddress, std::string uri = {}) {
  ExtraHeaders e;
  e.ccName = Utf8ToSjis(ccName);
  e.ccAddress = ccAddress;
  e.replyToName = Utf8ToSjis(replyToName);
  e.replyToAddress = replyToAddress;
  e.listUnsubscribe = std::move(uri);
  return e;
}

ExtraHeaders Link(std::string uri) {
  return Names("", "", "", "", std::move(uri));
}

const std::vector<int> kPlainCodes = {1, 2, 3, 10, 11, 4, 6, 7, 8, 9};
const std::vector<int> kNamedCodes = {1, 2, 12, 13, 3, 10, 11, 4, 6, 7, 8, 9};
const std::vector<int> kLinkCodes = {1, 2, 3, 10, 11, 4, 6, 7, 14, 8, 9};
const std::vector<int> kOneClickCodes = {1, 2, 3, 10, 11, 4, 6, 7, 14, 15, 8, 9};
const std::string kPost = "List-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n";

std::vector<HeaderRow> HeaderRows() {
  const auto named = [](mime::Charset charset) {
    const Words& w = WordsOf(charset);
    return std::string("Cc: ") + w.keiri + " <keiri@example.jp>\r\n" + "Reply-To: " + w.support +
           " <support@example.jp>\r\n";
  };
  const std::string uri56 = LongUri(56);  // "List-Unsubscribe: <" uri ">" is 76
  const std::string uri57 = LongUri(57);
  const std::string uri900 = LongUri(900);
  using mime::Charset;
  return {
      {"no_extras_iso", Charset::IsoJp, {}, "", "", kPlainCodes},
      {"no_extras_utf8", Charset::Utf8, {}, "", "", kPlainCodes},
      {"names_iso", Charset::IsoJp,
       Names("経理部", "keiri@example.jp", "サポート窓口", "support@example.jp"),
       named(Charset::IsoJp), "", kNamedCodes},
      {"names_utf8", Charset::Utf8,
       Names("経理部", "keiri@example.jp", "サポート窓口", "support@example.jp"),
       named(Charset::Utf8), "", kNamedCodes},
      {"addresses_without_names", Charset::IsoJp,
       Names("", "keiri@example.jp", "", "support@example.jp"),
       "Cc: <keiri@example.jp>\r\nReply-To: <support@example.jp>\r\n", "", kNamedCodes},
      {"reply_to_alone",
       Charset::IsoJp,
       Names("", "", "", "support@example.jp"),
       "Reply-To: <support@example.jp>\r\n",
       "",
       {1, 2, 13, 3, 10, 11, 4, 6, 7, 8, 9}},
      {"names_without_addresses_are_left_out", Charset::IsoJp,
       Names("経理部", "", "サポート窓口", ""), "", "", kPlainCodes},
      {"https_offers_one_click", Charset::IsoJp, Link("https://example.jp/u?id=42"), "",
       "List-Unsubscribe: <https://example.jp/u?id=42>\r\n" + kPost, kOneClickCodes},
      {"https_in_capitals_offers_one_click", Charset::Utf8, Link("HTTPS://EXAMPLE.JP/U"), "",
       "List-Unsubscribe: <HTTPS://EXAMPLE.JP/U>\r\n" + kPost, kOneClickCodes},
      {"mailto_has_no_post", Charset::IsoJp, Link("mailto:stop@example.jp?subject=stop"), "",
       "List-Unsubscribe: <mailto:stop@example.jp?subject=stop>\r\n", kLinkCodes},
      {"plain_http_has_no_post", Charset::IsoJp, Link("http://example.jp/u"), "",
       "List-Unsubscribe: <http://example.jp/u>\r\n", kLinkCodes},
      {"link_of_76_characters_stays_on_one_line", Charset::IsoJp, Link(uri56), "",
       "List-Unsubscribe: <" + uri56 + ">\r\n" + kPost, kOneClickCodes},
      {"link_of_77_characters_folds_after_the_colon", Charset::IsoJp, Link(uri57), "",
       "List-Unsubscribe:\r\n <" + uri57 + ">\r\n" + kPost, kOneClickCodes},
      {"very_long_link_folds_after_the_colon", Charset::IsoJp, Link(uri900), "",
       "List-Unsubscribe:\r\n <" + uri900 + ">\r\n" + kPost, kOneClickCodes},
      {"every_extra",
       Charset::IsoJp,
       Names("経理部", "keiri@example.jp", "サポート窓口", "support@example.jp",
             "mailto:stop@example.jp"),
       named(Charset::IsoJp),
       "List-Unsubscribe: <mailto:stop@example.jp>\r\n",
       {1, 2, 12, 13, 3, 10, 11, 4, 6, 7, 14, 8, 9}},
  };
}

void PrintTo(const HeaderRow& row, std::ostream* os) {
  *os << row.name;
}

class ExtraHeaderRows : public PlatformTest, public ::testing::WithParamInterface<HeaderRow> {};

TEST_P(ExtraHeaderRows, HeaderBlockIsExact) {
  const HeaderRow& row = GetParam();
  MailContent content;
  content.subject = Sjis("ご案内");
  content.body = Sjis("本文\r\n");
  content.senderName = Sjis("営業部");
  content.senderAddress = "sales@example.jp";
  content.recipientName = Sjis("山田");
  content.recipientAddress = "yamada@example.com";
  content.boundary = MailConnection::kBoundary;
  content.extra = row.extra;
  std::tm local{};
  local.tm_year = 126;
  local.tm_mon = 11;
  local.tm_mday = 8;
  local.tm_hour = 9;
  local.tm_min = 30;
  local.tm_sec = 15;
  std::tm utc = local;
  const std::time_t now = ::timegm(&utc) - 9 * 3600;

  const MessageWriter writer(content, row.charset);
  std::string header;
  std::vector<int> codes;
  for (const HeaderLine& field : writer.HeaderFields(false, now, local, "id@example.jp")) {
    header += field.text;
    codes.push_back(field.code);
    EXPECT_TRUE(mime::LinesFit(field.text)) << field.text;
  }
  EXPECT_EQ(header,
            Header(row.charset, row.afterTo, row.afterId, "Message-Id: <id@example.jp>\r\n"));
  EXPECT_EQ(codes, row.codes);
}

INSTANTIATE_TEST_SUITE_P(Rows, ExtraHeaderRows, ::testing::ValuesIn(HeaderRows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ListUnsubscribeFieldTest, LongestLinkThatFitsALineAndOneMore) {
  // Folded, the link's line is " <uri>": 995 characters of URI make 998.
  const std::string fits = ListUnsubscribeField(LongUri(995));
  EXPECT_TRUE(mime::LinesFit(fits));
  EXPECT_EQ(CrLfLines(fits).at(1).size(), mime::kMaxLineLength);
  EXPECT_FALSE(mime::LinesFit(ListUnsubscribeField(LongUri(996))));
}

// Cc and Reply-To names count for the character set as the other names do,
// but only when their field goes out.
struct CharsetRow {
  const char* name = "";
  ExtraHeaders extra{};
  mime::Charset want = mime::Charset::IsoJp;
  std::vector<std::string> causes;  // UTF-8
};

void PrintTo(const CharsetRow& row, std::ostream* os) {
  *os << row.name;
}

class ExtraCharsetRows : public PlatformTest, public ::testing::WithParamInterface<CharsetRow> {};

TEST_P(ExtraCharsetRows, NamesOfTheFieldsThatGoOutDecide) {
  const CharsetRow& row = GetParam();
  MailContent content;
  content.subject = Sjis("ご案内");
  content.body = Sjis("本文\r\n");
  content.senderName = Sjis("営業部");
  content.recipientName = Sjis("山田");
  content.extra = row.extra;
  const CharsetChoice choice = ChooseCharset(CharsetSetting::Auto, content);
  EXPECT_EQ(choice.charset, row.want);
  std::vector<std::string> causes;
  for (const std::string& c : choice.causes) causes.push_back(SjisToUtf8(c));
  EXPECT_EQ(causes, row.causes);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExtraCharsetRows,
    ::testing::Values(
        CharsetRow{"jis_names_stay_iso",
                   Names("経理部", "k@example.jp", "窓口", "s@example.jp"),
                   mime::Charset::IsoJp,
                   {}},
        CharsetRow{"cc_name_beyond_jis",
                   Names("髙橋", "k@example.jp", "", ""),
                   mime::Charset::Utf8,
                   {"髙"}},
        CharsetRow{"reply_to_name_beyond_jis",
                   Names("", "", "①窓口", "s@example.jp"),
                   mime::Charset::Utf8,
                   {"①"}},
        CharsetRow{"cc_name_without_address", Names("髙橋", "", "", ""), mime::Charset::IsoJp, {}},
        CharsetRow{
            "reply_to_name_without_address", Names("", "", "①窓口", ""), mime::Charset::IsoJp, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- one mail over a scripted server ---

std::string MessageIdLine(const std::string& received) {
  const std::regex id(
      "Message-Id: <20261208093015\\.[0-9]+\\.[0-9a-f]{16}_velkaro@example\\.jp>\r\n");
  std::smatch match;
  return std::regex_search(received, match, id) ? match.str() : "?";
}

class ExtraMailTest : public PlatformTest {
 protected:
  ExtraMailTest() {
    platform.SetUtcOffset(9 * 3600);
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);
    SetFieldText(mail.server.senderName, Sjis("営業部"));
    SetFieldText(mail.server.senderAddress, "sales@example.jp");
  }

  void Open() {
    mail.smtpSocket = smtp.NewSocket();
    ASSERT_TRUE(mail.smtpSocket->Create());
    ASSERT_TRUE(mail.smtpSocket->Connect("smtp.example.jp", 25));
    mail.smtpOpen = 1;
  }

  // A mail with every extra, to the recipient, the Cc and the sender.
  static MailRecord Record() {
    MailRecord record;
    record.subject = Sjis("ご案内");
    record.body = Sjis("山田様\r\nこんにちは。\r\n");
    record.recipientName = Sjis("山田");
    record.recipientAddress = "yamada@example.com";
    record.extra = Names("経理部", "keiri@example.jp", "サポート窓口", "support@example.jp",
                         "https://example.jp/u?id=42");
    record.envelopeRecipients = {"yamada@example.com", "keiri@example.jp", "sales@example.jp"};
    return record;
  }

  static std::string ExtraFields() {
    return std::string("Cc: ") + kIsoWords.keiri + " <keiri@example.jp>\r\n" +
           "Reply-To: " + kIsoWords.support + " <support@example.jp>\r\n";
  }

  ScriptedServer smtp;
  MailConnection mail;
};

TEST_F(ExtraMailTest, ThreeRecipientsAndEveryExtraFieldGoOutExactly) {
  smtp.Expect(kMailFrom).Send("250 ok\r\n");
  for (const std::string& rcpt : {kRcptTo, kRcptCc, kRcptSelf}) {
    smtp.Expect(rcpt).Send("250 2.1.5 ok\r\n");
  }
  smtp.Expect(kData).Send("354 go ahead\r\n");
  smtp.ExpectThrough(kEndData).Send("250 2.0.0 queued\r\n");
  Open();

  EXPECT_EQ(mail.SendOneMail(Record()), 0);

  const std::string header = Header(mime::Charset::IsoJp, ExtraFields(),
                                    "List-Unsubscribe: <https://example.jp/u?id=42>\r\n" + kPost,
                                    MessageIdLine(smtp.Received()));
  EXPECT_EQ(smtp.Received(),
            kMailFrom + kRcptTo + kRcptCc + kRcptSelf + kData + header + kJisBody + kEndData);
  EXPECT_EQ(smtp.Mismatch(), "");
  EXPECT_TRUE(smtp.Finished());
  EXPECT_EQ(mail.envelopeStep, 3);
  EXPECT_EQ(mail.endOfDataCode, 0);
}

TEST_F(ExtraMailTest, A251ForAForwardedRecipientAcceptsItLikeA250) {
  smtp.Expect(kMailFrom).Send("250 ok\r\n");
  smtp.Expect(kRcptTo).Send("251 2.1.5 User not local; will forward\r\n");
  smtp.Expect(kRcptCc).Send("250 2.1.5 ok\r\n");
  smtp.Expect(kRcptSelf).Send("251 will forward to <sales@elsewhere.example>\r\n");
  smtp.Expect(kData).Send("354 go ahead\r\n");
  smtp.ExpectThrough(kEndData).Send("250 2.0.0 queued\r\n");
  Open();

  EXPECT_EQ(mail.SendOneMail(Record()), 0);
  EXPECT_EQ(smtp.Mismatch(), "");
  EXPECT_TRUE(smtp.Finished());
}

TEST_F(ExtraMailTest, CcNameBeyondJisMakesTheWholeMailUtf8) {
  smtp.Expect(kMailFrom).Send("250 ok\r\n").Expect(kRcptTo).Send("250 ok\r\n");
  smtp.Expect(kData).Send("354 go ahead\r\n").ExpectThrough(kEndData).Send("250 queued\r\n");
  Open();
  MailRecord record = Record();
  record.extra = Names("髙橋", "keiri@example.jp", "", "");
  record.envelopeRecipients.clear();

  EXPECT_EQ(mail.SendOneMail(record), 0);

  const std::string header =
      Header(mime::Charset::Utf8, "Cc: =?UTF-8?B?6auZ5qmL?= <keiri@example.jp>\r\n", "",
             MessageIdLine(smtp.Received()));
  EXPECT_EQ(smtp.Received(), kMailFrom + kRcptTo + kData + header +
                                 "5bGx55Sw5qeYDQrjgZPjgpPjgavjgaHjga/jgIINCg==\r\n" + kEndData);
  EXPECT_NE(mail.transcript.find(Sjis("  文字コード: UTF-8 (髙)\r\n")), std::string::npos);
}

// A test send: the mail shows the recipient in To but goes to the tester
// alone; the next mail on the connection goes to its own recipient again.
TEST_F(ExtraMailTest, TestSendGoesToTheTesterAloneAndLeavesNothingForTheNextMail) {
  const std::string rcptTester = "RCPT TO:<tester@example.net>\r\n";
  for (const std::string& rcpt : {rcptTester, kRcptTo}) {
    smtp.Expect(kMailFrom).Send("250 ok\r\n").Expect(rcpt).Send("250 ok\r\n");
    smtp.Expect(kData).Send("354 go ahead\r\n").ExpectThrough(kEndData).Send("250 queued\r\n");
  }
  Open();
  MailRecord testSend = Record();
  testSend.extra = {};
  testSend.envelopeRecipients = {"tester@example.net"};
  MailRecord plain = Record();
  plain.extra = {};
  plain.envelopeRecipients.clear();

  ASSERT_EQ(mail.SendOneMail(testSend), 0);
  const std::string first = smtp.Received();
  EXPECT_EQ(first, kMailFrom + rcptTester + kData +
                       Header(mime::Charset::IsoJp, "", "", MessageIdLine(first)) + kJisBody +
                       kEndData);
  EXPECT_EQ(mail.SendOneMail(plain), 0);
  const std::string second = smtp.Received().substr(first.size());
  EXPECT_EQ(second, kMailFrom + kRcptTo + kData +
                        Header(mime::Charset::IsoJp, "", "", MessageIdLine(second)) + kJisBody +
                        kEndData);
  EXPECT_TRUE(smtp.Finished());
  EXPECT_EQ(smtp.Mismatch(), "");
}

// --- the envelope fails ---

struct EnvelopeRow {
  const char* name = "";
  std::function<void(ScriptedServer&)> script;
  std::string sent;  // everything the client sent
  int envelopeStep = 0;
  bool dropped = false;  // out of step: the connection is gone without QUIT
};

void PrintTo(const EnvelopeRow& row, std::ostream* os) {
  *os << row.name;
}

class ExtraEnvelopeRows : public ExtraMailTest,
                          public ::testing::WithParamInterface<EnvelopeRow> {};

TEST_P(ExtraEnvelopeRows, FailsTheMailBeforeAnyOfItsData) {
  const EnvelopeRow& row = GetParam();
  row.script(smtp);
  Open();

  EXPECT_EQ(mail.SendOneMail(Record()), 6);

  EXPECT_EQ(smtp.Received(), row.sent);
  EXPECT_EQ(smtp.Mismatch(), "");
  EXPECT_TRUE(smtp.Finished());
  EXPECT_EQ(mail.envelopeStep, row.envelopeStep);
  EXPECT_EQ(mail.endOfDataCode, -1);
  EXPECT_EQ(mail.smtpOpen, row.dropped ? 0 : 1);
  EXPECT_EQ(smtp.ClientClosed(), row.dropped);
}

void Accept(ScriptedServer& s, const std::string& command) {
  s.Expect(command).Send("250 ok\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExtraEnvelopeRows,
    ::testing::Values(EnvelopeRow{"second_rcpt_refused",
                                  [](ScriptedServer& s) {
                                    Accept(s, kMailFrom);
                                    Accept(s, kRcptTo);
                                    s.Expect(kRcptCc).Send("550 5.1.1 no such user\r\n");
                                  },
                                  kMailFrom + kRcptTo + kRcptCc, 2},
                      EnvelopeRow{"third_rcpt_refused_for_now",
                                  [](ScriptedServer& s) {
                                    Accept(s, kMailFrom);
                                    Accept(s, kRcptTo);
                                    Accept(s, kRcptCc);
                                    s.Expect(kRcptSelf).Send("452 4.5.3 too many recipients\r\n");
                                  },
                                  kMailFrom + kRcptTo + kRcptCc + kRcptSelf, 2},
                      EnvelopeRow{"second_rcpt_unanswered",
                                  [](ScriptedServer& s) {
                                    Accept(s, kMailFrom);
                                    Accept(s, kRcptTo);
                                    s.Expect(kRcptCc);
                                  },
                                  kMailFrom + kRcptTo + kRcptCc, 2, true},
                      EnvelopeRow{"second_rcpt_sent_in_part",
                                  [](ScriptedServer& s) {
                                    Accept(s, kMailFrom);
                                    Accept(s, kRcptTo);
                                    s.AcceptOnly(9);
                                  },
                                  kMailFrom + kRcptTo + kRcptCc.substr(0, 9), 2, true},
                      EnvelopeRow{"data_refused_after_three_rcpts",
                                  [](ScriptedServer& s) {
                                    Accept(s, kMailFrom);
                                    for (const std::string& r : {kRcptTo, kRcptCc, kRcptSelf})
                                      Accept(s, r);
                                    s.Expect(kData).Send("554 5.5.1 no valid recipients\r\n");
                                  },
                                  kMailFrom + kRcptTo + kRcptCc + kRcptSelf + kData, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExtraMailTest, RefusedCcTellsTheServersWords) {
  Accept(smtp, kMailFrom);
  Accept(smtp, kRcptTo);
  smtp.Expect(kRcptCc).Send("550 5.1.1 <keiri@example.jp>: unknown\r\n");
  Open();
  EXPECT_EQ(mail.SendOneMail(Record()), 6);
  EXPECT_EQ(mail.failureReason, Sjis("サーバーの応答: ") + "550 5.1.1 <keiri@example.jp>: unknown");
  EXPECT_EQ(mail.lastReply.substr(0, 3), "550");
}

// --- what cannot go out is refused before a byte is sent ---

struct RefusalRow {
  const char* name = "";
  std::function<void(MailRecord&)> change;
  std::string transcriptEnd;  // UTF-8
};

void PrintTo(const RefusalRow& row, std::ostream* os) {
  *os << row.name;
}

class ExtraRefusalRows : public ExtraMailTest, public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(ExtraRefusalRows, RefusedWithCode3AndNothingSent) {
  const RefusalRow& row = GetParam();
  Open();
  MailRecord record = Record();
  row.change(record);

  EXPECT_EQ(mail.SendOneMail(record), 3);

  EXPECT_EQ(smtp.Received(), "");
  EXPECT_EQ(mail.smtpOpen, 1);
  EXPECT_FALSE(smtp.ClientClosed());
  const std::string end = Utf8ToSjis(row.transcriptEnd);
  ASSERT_GE(mail.transcript.size(), end.size()) << SjisToUtf8(mail.transcript);
  EXPECT_EQ(mail.transcript.substr(mail.transcript.size() - end.size()), end)
      << SjisToUtf8(mail.transcript);
}

std::function<void(MailRecord&)> WithLink(std::string uri) {
  return [uri](MailRecord& r) { r.extra.listUnsubscribe = uri; };
}
std::function<void(MailRecord&)> WithCc(std::string address) {
  return [address](MailRecord& r) { r.extra.ccAddress = address; };
}
std::function<void(MailRecord&)> WithEnvelope(std::vector<std::string> addresses) {
  return [addresses](MailRecord& r) { r.envelopeRecipients = addresses; };
}

const char kBadLink[] = "  配信停止リンク(List-Unsubscribe)に使えない文字があります。\r\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, ExtraRefusalRows,
    ::testing::Values(
        RefusalRow{"link_with_crlf_and_a_field",
                   WithLink("https://example.jp/u\r\nBcc: victim@example.com"), kBadLink},
        RefusalRow{"link_with_bare_lf", WithLink("https://example.jp/u\nX: y"), kBadLink},
        RefusalRow{"link_with_bare_cr", WithLink("https://example.jp/u\rX: y"), kBadLink},
        RefusalRow{"link_with_nul", WithLink(std::string("https://example.jp/u\0x", 22)), kBadLink},
        RefusalRow{"link_with_tab", WithLink("https://example.jp/\tu"), kBadLink},
        RefusalRow{"link_with_del", WithLink("https://example.jp/\x7Fu"), kBadLink},
        RefusalRow{"link_with_space", WithLink("https://example.jp/u x"), kBadLink},
        RefusalRow{"link_closing_its_bracket",
                   WithLink("https://example.jp/u>, <mailto:x@evil.example"), kBadLink},
        RefusalRow{"link_with_open_bracket", WithLink("<https://example.jp/u"), kBadLink},
        RefusalRow{"link_beyond_ascii", WithLink(Sjis("https://example.jp/配信停止")), kBadLink},
        RefusalRow{"link_too_long_for_a_line", WithLink(LongUri(996)),
                   "  配信停止リンク(List-Unsubscribe)が長すぎます。\r\n"},
        RefusalRow{"cc_with_a_command", WithCc("keiri@example.jp>\r\nRCPT TO:<x@evil.example"),
                   "  Ccアドレスに使えない文字があります。\r\n"},
        RefusalRow{"cc_with_a_bracket", WithCc("keiri@example.jp> NOTIFY=NEVER"),
                   "  Ccアドレスに使えない文字があります。\r\n"},
        RefusalRow{"cc_too_long", WithCc(std::string(244, 'k') + "@example.jp"),
                   "  Ccアドレスが長すぎます。\r\n"},
        RefusalRow{"reply_to_with_a_field",
                   [](MailRecord& r) { r.extra.replyToAddress = "s@example.jp\nBcc: x@y"; },
                   "  返信先アドレス(Reply-To)に使えない文字があります。\r\n"},
        RefusalRow{"second_envelope_address_with_a_command",
                   WithEnvelope({"yamada@example.com", "k@example.jp>\r\nDATA"}),
                   "  配送先アドレスに使えない文字があります。\r\n"},
        RefusalRow{"empty_envelope_address", WithEnvelope({"yamada@example.com", ""}),
                   "  配送先アドレスが空です。\r\n"},
        RefusalRow{"envelope_address_too_long", WithEnvelope({std::string(250, 't') + "@x.jp"}),
                   "  配送先アドレスが長すぎます。\r\n"},
        RefusalRow{"every_problem_told",
                   [](MailRecord& r) {
                     r.envelopeRecipients = {"a\rb@example.jp"};
                     r.extra.ccAddress = "c\n@example.jp";
                     r.extra.listUnsubscribe = "mailto:x@example.jp>";
                   },
                   "  配送先アドレスに使えない文字があります。\r\n"
                   "  Ccアドレスに使えない文字があります。\r\n"
                   "  配信停止リンク(List-Unsubscribe)に使えない文字があります。\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Fields set on the connection without SendOneMail's checks: a link too
// long for any line stops the header block at its field.
TEST_F(ExtraMailTest, UnfoldableLinkEndsTheHeaderBlockAtItsField) {
  Open();
  mail.subject = Sjis("ご案内");
  mail.recipientName = Sjis("山田");
  mail.recipientAddress = "yamada@example.com";
  mail.extra.listUnsubscribe = LongUri(996);

  EXPECT_EQ(mail.SmtpHeaderSend(0), 14);

  EXPECT_TRUE(smtp.Received().ends_with(MessageIdLine(smtp.Received())));
  EXPECT_EQ(smtp.Received().find("List-Unsubscribe"), std::string::npos);
}

}  // namespace
}  // namespace velkaro
