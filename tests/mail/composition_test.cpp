// Message composition: the header block, encoded words and their folding,
// the date and message id, SMTP transparency, the body and the attachment
// parts, each checked against the exact bytes a scripted server receives.
// Reference encodings come from Python's iso2022_jp codec and base64.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/attachment_header.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::Base64Decode;
using testing::CrLfLines;
using testing::PlatformTest;
using testing::ScriptedServer;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kBoundary[] = "------_4A169B1D000000004107_MULTIPART_MIXED_";

// True for a complete ISO-2022-JP text: double-byte runs hold whole pairs
// of 0x21-0x7E and the text ends in ASCII (RFC 1468).
bool WholeIso2022Jp(const std::string& jis) {
  bool inRun = false;
  for (std::size_t i = 0; i < jis.size();) {
    if (jis.compare(i, 3, "\x1b$B") == 0) {
      inRun = true;
      i += 3;
    } else if (jis.compare(i, 3, "\x1b(B") == 0) {
      inRun = false;
      i += 3;
    } else if (inRun) {
      if (i + 1 >= jis.size()) return false;
      for (int k = 0; k < 2; ++k) {
        const auto b = static_cast<unsigned char>(jis[i + static_cast<std::size_t>(k)]);
        if (b < 0x21 || b > 0x7E) return false;
      }
      i += 2;
    } else {
      ++i;
    }
  }
  return !inRun;
}

// The encoded words of a folded field: the payload of each "=?…?=".
std::vector<std::string> WordPayloads(const std::string& field) {
  std::vector<std::string> payloads;
  const std::regex word("=\\?ISO-2022-JP\\?B\\?([A-Za-z0-9+/=]*)\\?=");
  for (std::sregex_iterator it(field.begin(), field.end(), word), end; it != end; ++it) {
    payloads.push_back((*it)[1].str());
  }
  return payloads;
}

// The ISO-2022-JP texts of `payloads` joined, each checked to be complete
// and at most `maxPayload` characters long (a lone character may exceed a
// tiny limit), with the seams between words ("back to ASCII, to JIS X 0208
// again") removed so that the result compares with one whole conversion.
std::string JoinedJis(const std::vector<std::string>& payloads, std::size_t maxPayload) {
  std::string joined;
  for (const std::string& payload : payloads) {
    const std::string jis = Base64Decode(payload);
    if (jis.size() > 8) {
      EXPECT_LE(payload.size(), maxPayload);
    }
    EXPECT_TRUE(WholeIso2022Jp(jis)) << testing::Hex(jis);
    joined += jis;
  }
  std::size_t seam;
  while ((seam = joined.find("\x1b(B\x1b$B")) != std::string::npos) joined.erase(seam, 6);
  return joined;
}

std::string Repeat(const std::string& unit, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += unit;
  return out;
}

class CompositionTest : public PlatformTest {
 protected:
  CompositionTest() {
    platform.SetUtcOffset(9 * 3600);
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);
    SetFieldText(mail.server.senderName, Sjis("営業部"));
    SetFieldText(mail.server.senderAddress, "sales@example.jp");
    mail.recipientName = Sjis("山田");
    mail.recipientAddress = "yamada@example.com";
    mail.subject = Sjis("ご案内");
  }

  void Connect() {
    mail.smtpSocket = server.NewSocket();
    ASSERT_TRUE(mail.smtpSocket->Create());
    ASSERT_TRUE(mail.smtpSocket->Connect("smtp.example.jp", 25));
    mail.smtpOpen = 1;
  }

  ScriptedServer server;
  MailConnection mail;
};

// The sequence number in the Message-Id of `received`, or "?" when there is
// no valid Message-Id line.
std::string MessageSequence(const std::string& received) {
  const std::regex id(
      "Message-Id: <20261208093015\\.([0-9]+\\.[0-9a-f]{16})_velkaro@example\\.jp>\r\n");
  std::smatch match;
  if (!std::regex_search(received, match, id)) return "?";
  return match[1].str();
}

// The header block for the fixture's mail, one entry per send call.
std::vector<std::string> HeaderLines(bool multipart, const std::string& sequence) {
  return {
      "From: =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?= <sales@example.jp>\r\n",
      "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.com>\r\n",
      "Subject: =?ISO-2022-JP?B?GyRCJDQwRkZiGyhC?=\r\n",
      "Date: Tue, 08 Dec 2026 09:30:15 +0900\r\n",
      "MIME-Version: 1.0\r\n",
      "Content-Transfer-Encoding: 7bit\r\n",
      multipart ? std::string("Content-Type: multipart/mixed; boundary=\"") + kBoundary + "\"\r\n"
                : std::string("Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n"),
      "Message-Id: <20261208093015." + sequence + "_velkaro@example.jp>\r\n",
      "X-Mailer: Velkaro\r\n",
      "\r\n\r\n",
  };
}

std::string Join(const std::vector<std::string>& parts, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count && i < parts.size(); ++i) out += parts[i];
  return out;
}

// --- header block ---

TEST_F(CompositionTest, HeaderBlockIsExactForSingleAndMultipartMail) {
  for (const bool multipart : {false, true}) {
    SCOPED_TRACE(multipart ? "multipart" : "single part");
    ScriptedServer fresh;
    mail.smtpSocket = fresh.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    const long long before = platform.VirtualMs();

    EXPECT_EQ(mail.SmtpHeaderSend(multipart ? 1 : 0), 0);

    const std::string sequence = MessageSequence(fresh.Received());
    EXPECT_EQ(fresh.Received(), Join(HeaderLines(multipart, sequence), 10));
    // A pause of 20 ms before each of the ten sends.
    EXPECT_EQ(platform.VirtualMs() - before, 200);
  }
}

TEST_F(CompositionTest, HeaderBlockWithEmptyNamesAndSubject) {
  Connect();
  SetFieldText(mail.server.senderName, "");
  mail.recipientName.clear();
  mail.subject.clear();
  ASSERT_EQ(mail.SmtpHeaderSend(0), 0);
  const std::vector<std::string> lines = CrLfLines(server.Received());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "From: <sales@example.jp>");
  EXPECT_EQ(lines[1], "To: <yamada@example.com>");
  EXPECT_EQ(lines[2], "Subject: Non Subject!");
}

TEST_F(CompositionTest, HeaderFieldNotSentInFullEndsTheBlockWithItsCode) {
  struct Row {
    bool multipart;
    std::size_t field;  // index into HeaderLines
    int accept;         // what the failing send call accepts
    int code;
  };
  const Row rows[] = {
      {false, 0, 5, 1},  {false, 0, -1, 1}, {false, 1, 5, 2}, {false, 2, 5, 3},
      {false, 3, 5, 10}, {false, 4, 5, 11}, {false, 5, 5, 4}, {true, 6, 5, 5},
      {false, 6, 5, 6},  {false, 7, 5, 7},  {false, 8, 5, 8}, {false, 9, 2, 9},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("field " + std::to_string(row.field) + " code " + std::to_string(row.code));
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);
    ScriptedServer script;
    const std::vector<std::string> lines = HeaderLines(row.multipart, "0");
    for (std::size_t i = 0; i < row.field; ++i) {
      if (i == 7) {
        script.ExpectThrough(">\r\n");  // the Message-Id's sequence varies
      } else {
        script.Expect(lines[i]);
      }
    }
    script.AcceptOnly(row.accept);
    mail.smtpSocket = script.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    const long long before = platform.VirtualMs();

    EXPECT_EQ(mail.SmtpHeaderSend(row.multipart ? 1 : 0), row.code);

    const std::vector<std::string> sent =
        HeaderLines(row.multipart, MessageSequence(script.Received()));
    const std::string part =
        row.accept > 0 ? sent[row.field].substr(0, static_cast<std::size_t>(row.accept)) : "";
    EXPECT_EQ(script.Received(), Join(sent, row.field) + part);
    EXPECT_TRUE(script.Mismatch().empty()) << script.Mismatch();
    EXPECT_EQ(platform.VirtualMs() - before, 20 * static_cast<long long>(row.field + 1));
  }
}

TEST_F(CompositionTest, HeaderBlockNeedsAnOpenConnection) {
  Connect();
  mail.smtpOpen = 0;
  EXPECT_EQ(mail.SmtpHeaderSend(0), 100);
  EXPECT_EQ(server.Received(), "");
  EXPECT_EQ(platform.VirtualMs(), 0);
}

TEST_F(CompositionTest, MessageIdsOfTwoMailsInOneSecondDiffer) {
  Connect();
  ASSERT_EQ(mail.SmtpHeaderSend(0), 0);
  ASSERT_EQ(mail.SmtpHeaderSend(1), 0);
  const std::regex id(
      "Message-Id: <(20261208093015)\\.([0-9]+)\\.([0-9a-f]{16})_velkaro@example\\.jp>\r\n");
  const std::string received = server.Received();
  std::vector<std::string> ids;
  for (std::sregex_iterator it(received.begin(), received.end(), id), end; it != end; ++it) {
    ids.push_back((*it)[0].str());
  }
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_NE(ids[0], ids[1]);
}

TEST_F(CompositionTest, MessageIdsOfTwoRunsInOneSecondDiffer) {
  // Every run starts its counter afresh, so only the token each process
  // draws keeps two runs (or two machines) in the same second apart.
  std::vector<std::string> tokens;
  for (int run = 0; run < 2; ++run) {
    mime::SetProcessTokenForTests("");
    const std::string token = mime::ProcessToken();
    EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{16}"))) << token;
    ScriptedServer fresh;
    mail.smtpSocket = fresh.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    ASSERT_EQ(mail.SmtpHeaderSend(0), 0);
    EXPECT_NE(fresh.Received().find("." + token + "_velkaro@example.jp>\r\n"), std::string::npos)
        << fresh.Received();
    tokens.push_back(token);
  }
  EXPECT_NE(tokens[0], tokens[1]);
  // A fixed token is what whole-block comparisons in other tests use.
  mime::SetProcessTokenForTests("0123456789abcdef");
  EXPECT_EQ(mime::ProcessToken(), "0123456789abcdef");
  mime::SetProcessTokenForTests("");
}

TEST_F(CompositionTest, MessageIdTakesTheSenderDomainOrLocalhost) {
  struct Row {
    const char* address;
    const char* domain;
  };
  const Row rows[] = {
      {"sales@example.jp", "example.jp"},
      {"user@mail.example.co.jp", "mail.example.co.jp"},
      {"\"odd@name\"@example.org", "example.org"},
      {"no-at-sign", "localhost"},
      {"", "localhost"},
      {"user@", "localhost"},
      {"user@[192.0.2.1]", "localhost"},
      {"user@exa mple.jp", "localhost"},
      {"user@.example.jp", "localhost"},
      {"user@example..jp", "localhost"},
      {"user@example.jp.", "localhost"},
      {"user@exam(ple).jp", "localhost"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(mime::MessageIdDomain(row.address), row.domain) << row.address;
  }
}

TEST_F(CompositionTest, DateIsRfc5322WithTheNumericZone) {
  struct Row {
    long offset;
    int year, month, day, hour, minute, second;
    const char* expected;
  };
  const Row rows[] = {
      {9 * 3600, 2026, 12, 8, 9, 30, 15, "Tue, 08 Dec 2026 09:30:15 +0900"},
      {0, 2027, 1, 1, 0, 0, 0, "Fri, 01 Jan 2027 00:00:00 +0000"},
      {-(3 * 3600 + 1800), 2024, 2, 29, 23, 59, 59, "Thu, 29 Feb 2024 23:59:59 -0330"},
      {5 * 3600 + 2700, 2026, 7, 5, 6, 5, 4, "Sun, 05 Jul 2026 06:05:04 +0545"},
      {-8 * 3600, 1999, 12, 31, 23, 0, 0, "Fri, 31 Dec 1999 23:00:00 -0800"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.expected);
    TestPlatform clock;
    clock.SetUtcOffset(row.offset);
    clock.SetLocalTime(row.year, row.month, row.day, row.hour, row.minute, row.second);
    const std::time_t now = clock.Now();
    std::tm local = clock.LocalTime(now);
    EXPECT_EQ(mime::DateTime(now, local), row.expected);
    // A platform that leaves the weekday unset still gets the right name.
    local.tm_wday = 9;
    EXPECT_EQ(mime::DateTime(now, local), row.expected);
  }
}

// --- encoded words and folding ---

struct FoldCase {
  const char* name;
  std::string text;  // Shift_JIS
  bool folded;
};

// The field of `received` that starts with `name` (with its continuation
// lines), without its last CR LF.
std::string FieldOf(const std::string& received, const std::string& name) {
  const std::size_t start = received.rfind(name, 0) == 0 ? 0 : received.find("\r\n" + name) + 2;
  std::size_t end = start;
  do {
    end = received.find("\r\n", end) + 2;
  } while (received[end] == ' ');
  return received.substr(start, end - 2 - start);
}

// A folded field: every line within 76 characters, each continuation line
// starting with a space, every word within 75 characters and a complete
// ISO-2022-JP text, and the words together the whole text.
void ExpectFolded(const std::string& field, const std::string& sjisText) {
  const std::vector<std::string> lines = CrLfLines(field);
  ASSERT_GT(lines.size(), 1u) << field;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 76u) << lines[i];
    if (i > 0) {
      EXPECT_EQ(lines[i][0], ' ') << lines[i];
    }
  }
  const std::vector<std::string> payloads = WordPayloads(field);
  for (const std::string& payload : payloads) EXPECT_LE(payload.size() + 18, 75u);
  EXPECT_EQ(JoinedJis(payloads, 75 - 18), Zentool().ZenSjisToJis(sjisText));
}

// 18 kanji (42 bytes of ISO-2022-JP) and 42 ASCII characters make the
// longest single words of 75 characters.
std::vector<FoldCase> FoldCases() {
  const std::string mixed = Sjis("ご案内ｶﾞｲﾄﾞ test。①漢字ﾊﾟｰﾃｨ ");
  return {
      {"short", Sjis("ご案内"), false},
      {"18 kanji", Repeat(Sjis("漢"), 18), false},
      {"19 kanji", Repeat(Sjis("漢"), 19), true},
      {"42 ASCII", std::string(42, 'a'), false},
      {"43 ASCII", std::string(43, 'a'), true},
      {"80 Japanese characters",
       Repeat(Sjis("年末年始休業期間のお知らせと、請求書送付についてのご案内"), 3).substr(0, 160),
       true},
      {"361 kanji", Repeat(Sjis("漢"), 361), true},
      {"2323 characters of mixed Japanese", Repeat(mixed, 2000 / 20 + 1), true},
  };
}

TEST_F(CompositionTest, SubjectStaysOneWordWhileTheLineFitsAndIsFoldedBeyond) {
  Zentool tool;
  for (const FoldCase& c : FoldCases()) {
    SCOPED_TRACE(c.name);
    ScriptedServer fresh;
    mail.smtpSocket = fresh.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    mail.subject = c.text;

    ASSERT_EQ(mail.SmtpHeaderSend(0), 0);

    const std::string field = FieldOf(fresh.Received(), "Subject: ");
    for (const std::string& line : CrLfLines(fresh.Received())) EXPECT_LE(line.size(), 998u);
    if (c.folded) {
      ExpectFolded(field, c.text);
      EXPECT_EQ(field.rfind("Subject: =?ISO-2022-JP?B?", 0), 0u);
    } else {
      EXPECT_EQ(field, "Subject: =?ISO-2022-JP?B?" +
                           tool.ZenBase64Encode(tool.ZenSjisToJis(c.text)) + "?=");
    }
  }
}

TEST_F(CompositionTest, NamesStayOneWordWhileTheyFitAndAreFoldedBeforeTheAddress) {
  Zentool tool;
  for (const FoldCase& c : FoldCases()) {
    SCOPED_TRACE(c.name);
    ScriptedServer fresh;
    mail.smtpSocket = fresh.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    // The sender's name field holds 127 bytes.
    const bool senderFits = c.text.size() <= 127;
    SetFieldText(mail.server.senderName, senderFits ? c.text : "");
    mail.recipientName = c.text;

    ASSERT_EQ(mail.SmtpHeaderSend(0), 0);

    struct Field {
      std::string field, address;
    };
    std::vector<Field> fields = {{"To: ", "yamada@example.com"}};
    if (senderFits) fields.push_back({"From: ", "sales@example.jp"});
    for (const Field& f : fields) {
      const std::string field = FieldOf(fresh.Received(), f.field);
      const std::string word =
          "=?ISO-2022-JP?B?" + tool.ZenBase64Encode(tool.ZenSjisToJis(c.text)) + "?=";
      const std::string tail = " <" + f.address + ">";
      // The address follows the last word after white space (RFC 2047 5),
      // on a line of its own when the line would pass 76 characters.
      ASSERT_GE(field.size(), tail.size());
      EXPECT_EQ(field.substr(field.size() - tail.size()), tail);
      if (!c.folded) {
        const std::string line = f.field + word + tail;
        EXPECT_EQ(field, line.size() <= 76 ? line : f.field + word + "\r\n" + tail);
        continue;
      }
      ExpectFolded(field, c.text);
    }
  }
}

TEST_F(CompositionTest, LongRecipientNameIsFoldedWithTheAddressAfterTheLastWord) {
  Connect();
  mail.recipientName = Repeat(Sjis("山田"), 400);
  ASSERT_EQ(mail.SmtpHeaderSend(0), 0);
  const std::string field = FieldOf(server.Received(), "To: ");
  const std::vector<std::string> lines = CrLfLines(field);
  ASSERT_GT(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("To: =?ISO-2022-JP?B?", 0), 0u);
  const std::string& last = lines.back();
  const std::string tail = " <yamada@example.com>";
  ASSERT_GE(last.size(), tail.size());
  EXPECT_EQ(last.substr(last.size() - tail.size()), tail);
  ExpectFolded(field, mail.recipientName);
}

TEST_F(CompositionTest, AddressTooLongForAnyLineIsNotSent) {
  Connect();
  mail.recipientAddress = std::string(1000, 'a') + "@example.com";
  EXPECT_EQ(mail.SmtpHeaderSend(0), 2);
  EXPECT_EQ(server.Received(), HeaderLines(false, "")[0]);
}

TEST_F(CompositionTest, EncodedFieldFoldsQuotedParameters) {
  const std::string name = Repeat(Sjis("資料"), 300) + ".pdf";
  const std::string field = mime::EncodedField(" name=\"", name, "\"");
  const std::vector<std::string> lines = CrLfLines(field);
  ASSERT_GT(lines.size(), 1u);
  EXPECT_EQ(field.substr(field.size() - 5), "?=\"\r\n");
  EXPECT_EQ(lines[0].rfind(" name=\"=?ISO-2022-JP?B?", 0), 0u);
  for (const std::string& line : lines) {
    EXPECT_LE(line.size(), 998u);
    EXPECT_EQ(line[0], ' ');
  }
  EXPECT_EQ(JoinedJis(WordPayloads(field), 75 - 18), Zentool().ZenSjisToJis(name));

  // A short one is the single line as always.
  EXPECT_EQ(mime::EncodedField(" name=\"", "a.txt", "\""),
            " name=\"=?ISO-2022-JP?B?YS50eHQ=?=\"\r\n");
}

TEST_F(CompositionTest, SplitPayloadsNeverCutsACharacter) {
  struct Row {
    const char* name;
    std::string text;
    std::size_t maxPayload;
  };
  const Row rows[] = {
      {"kanji", Repeat(Sjis("漢字"), 50), 56},
      {"half-width kana with sound marks", Repeat(Sjis("ｶﾞｷﾞﾊﾟ"), 40), 16},
      {"ASCII and kanji alternating", Repeat(Sjis("a漢"), 60), 24},
      {"smallest words", Sjis("漢a字ﾊﾟ"), 4},
  };
  Zentool tool;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::vector<std::string> payloads = mime::SplitPayloads(row.text, row.maxPayload);
    ASSERT_FALSE(payloads.empty());
    EXPECT_EQ(JoinedJis(payloads, row.maxPayload), tool.ZenSjisToJis(row.text));
  }
  EXPECT_TRUE(mime::SplitPayloads("").empty());
}

// --- transparency and address checks ---

TEST_F(CompositionTest, DotsAtLineStartsAreDoubled) {
  struct Row {
    std::string in, out;
  };
  const Row rows[] = {
      {"", ""},
      {".\r\n", "..\r\n"},
      {"a\r\n.\r\nb\r\n", "a\r\n..\r\nb\r\n"},
      {".x\r\n", "..x\r\n"},
      {"..\r\n", "...\r\n"},
      {"a.b.\r\n", "a.b.\r\n"},
      {"a\n.\r\n", "a\n..\r\n"},
      {"a\r.\r", "a\r..\r"},
      {"\x1b$B!%\x1b(B.\r\n", "\x1b$B!%\x1b(B.\r\n"},
  };
  for (const Row& row : rows) EXPECT_EQ(mime::StuffDots(row.in), row.out) << testing::Hex(row.in);
}

TEST_F(CompositionTest, AddressesWithLineEndsControlsOrBracketsAreUnclean) {
  struct Row {
    std::string address;
    bool clean;
  };
  const Row rows[] = {
      {"yamada@example.com", true},
      {"first.last+tag@example.co.jp", true},
      {"a@b\r\nRCPT TO:<x@y>", false},
      {"a@b\n", false},
      {"a@b\r", false},
      {"a\tb@example.jp", false},
      {std::string("a\0b@x", 5), false},
      {"a\x7F@x", false},
      {"a>@x", false},
      {"<a@x", false},
  };
  for (const Row& row : rows)
    EXPECT_EQ(mime::AddressIsClean(row.address), row.clean) << testing::Hex(row.address);
}

// --- body ---

TEST_F(CompositionTest, BodyIsConvertedStuffedAndSentWithItsCode) {
  struct Row {
    const char* name;
    bool open;
    std::string body;  // Shift_JIS
    int accept;        // AcceptOnly for the first piece; 1000: no limit
    int code;
    std::string wire;
  };
  const Row rows[] = {
      {"not open", false, Sjis("本文\r\n"), 1000, 100, ""},
      {"empty body", true, "", 1000, 1, ""},
      {"Japanese", true, Sjis("山田様\r\nこんにちは。\r\n"), 1000, 0,
       "\x1b$B;3EDMM\x1b(B\r\n\x1b$B$3$s$K$A$O!#\x1b(B\r\n"},
      {"line end only", true, "\r\n", 1000, 0, "\r\n"},
      {"dot lines", true, ".\r\n.x\r\nend.\r\n..\r\n", 1000, 0, "..\r\n..x\r\nend.\r\n...\r\n"},
      {"send fails", true, Sjis("本文\r\n"), 0, 12, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer script;
    if (row.accept != 1000) script.AcceptOnly(row.accept);
    mail.smtpSocket = script.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = row.open ? 1 : 0;
    mail.body = row.body;
    mail.ResetProgress();
    mail.progress.attachmentIndex = 3;

    EXPECT_EQ(mail.SmtpBodySend(), row.code);

    EXPECT_EQ(script.Received(), row.wire);
    const bool started = row.code == 0 || (row.code > 10 && row.code < 100);
    EXPECT_EQ(mail.progress.stage[4], started ? 1 : 0);
    if (started) {
      EXPECT_EQ(mail.progress.attachmentIndex, 0);
      EXPECT_EQ(mail.progress.dataSize, static_cast<int>(row.code == 0 ? row.wire.size() : 12));
    }
  }
}

TEST_F(CompositionTest, BodyStoppedByTheUserGivesCode13) {
  Connect();
  mail.body = std::string(500, 'x');
  bool asked = false;
  platform.SetPumpHook([&] {
    if (!asked && mail.progress.sendingData == 1) {
      asked = true;
      mail.RequestStop();
    }
  });
  EXPECT_EQ(mail.SmtpBodySend(), 13);
  EXPECT_EQ(server.Received(), std::string(128, 'x'));
  EXPECT_EQ(mail.speed, 5);
}

// --- part headers and boundaries ---

TEST_F(CompositionTest, PartHeaderSendsBoundaryLinesAndEmptyLineWithTheirCodes) {
  const std::string header =
      "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n"
      "Content-Transfer-Encoding: 7bit\r\n";
  const std::vector<std::string> sends = {
      std::string("--") + kBoundary + "\r\n",
      "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n",
      "Content-Transfer-Encoding: 7bit\r\n",
      "\r\n",
  };
  struct Row {
    std::size_t failing;  // index into sends; 4: none fails
    int code;
  };
  const Row rows[] = {{0, 1}, {1, 2}, {2, 2}, {3, 9}, {4, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE("failing send " + std::to_string(row.failing));
    ScriptedServer script;
    for (std::size_t i = 0; i < row.failing; ++i) script.Expect(sends[i]);
    if (row.failing < sends.size()) script.AcceptOnly(1);
    mail.smtpSocket = script.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    const long long before = platform.VirtualMs();

    EXPECT_EQ(mail.SmtpPartHeadSend(header), row.code);

    const std::string part = row.failing < sends.size() ? sends[row.failing].substr(0, 1) : "";
    EXPECT_EQ(script.Received(), Join(sends, row.failing) + part);
    // 20 ms before each header line and 50 ms before the empty line.
    const long long waits[] = {0, 20, 40, 90, 90};
    EXPECT_EQ(platform.VirtualMs() - before, waits[row.failing]);
  }
}

TEST_F(CompositionTest, PartHeaderIgnoresTextAfterTheLastLineEnd) {
  Connect();
  EXPECT_EQ(mail.SmtpPartHeadSend("A: 1\r\nB: 2"), 0);
  EXPECT_EQ(server.Received(), std::string("--") + kBoundary + "\r\nA: 1\r\n\r\n");
}

TEST_F(CompositionTest, BoundaryOperationsNeedAnOpenConnection) {
  Connect();
  mail.smtpOpen = 0;
  EXPECT_EQ(mail.SmtpPartHeadSend("A: 1\r\n"), 100);
  EXPECT_EQ(mail.SmtpLastBoundarySend(), 100);
  EXPECT_EQ(mail.SmtpAttachSend(0, "/etc/hostname\r\n"), 100);
  EXPECT_EQ(mail.SmtpBodySend(), 100);
  EXPECT_EQ(server.Received(), "");
}

TEST_F(CompositionTest, LastBoundary) {
  struct Row {
    int accept;  // 1000: no limit
    int code;
    std::string wire;
  };
  const std::string last = std::string("--") + kBoundary + "--\r\n";
  const Row rows[] = {{1000, 0, last}, {3, 1, last.substr(0, 3)}, {0, 1, ""}};
  for (const Row& row : rows) {
    ScriptedServer script;
    if (row.accept != 1000) script.AcceptOnly(row.accept);
    mail.smtpSocket = script.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    EXPECT_EQ(mail.SmtpLastBoundarySend(), row.code);
    EXPECT_EQ(script.Received(), row.wire);
  }
}

// --- attachments ---

TEST_F(CompositionTest, AttachmentContentTypeFollowsTheLowerCasedExtension) {
  // Types as the system's /etc/mime.types lists them; a text part names
  // the charset its bytes are valid in, and text in none goes as bytes.
  TempDir dir;
  struct Row {
    const char* file;
    std::string bytes;
    const char* type;
  };
  const std::string sjisText = Sjis("請求金額：12,000円\r\n");
  const Row rows[] = {
      {"photo.JPG", "\xFF\xD8\xFF", "image/jpeg;"},
      {"a.jpeg", "x", "image/jpeg;"},
      {"x.gif", "x", "image/gif;"},
      {"y.BMP", "x", "image/bmp;"},
      {"scan.Png", "x", "image/png;"},
      {"見積書.pdf", "%PDF-1.4\n\xE2\xE3\xCF\xD3\n", "application/pdf;"},
      {"data.tar.gz", "\x1F\x8B\x08", "application/gzip;"},
      {"archive.jpg.zip", "PK\x03\x04", "application/zip;"},
      {"README", "plain words", "application/octet-stream;"},
      {"notes.velkaro-unknown", "x", "application/octet-stream;"},
      {"trailing-dot.", "x", "application/octet-stream;"},
      {"a.txt", "abc\r\n", "text/plain; charset=UTF-8;"},
      {"utf8.txt", "請求金額：12,000円\r\n①②\r\n", "text/plain; charset=UTF-8;"},
      {"sjis.TXT", sjisText, "text/plain; charset=Shift_JIS;"},
      {"list.csv", sjisText, "text/csv; charset=Shift_JIS;"},
      // A lone trail byte, and a lead byte at the very end.
      {"broken.txt", "abc\xFF\x80xyz", "application/octet-stream;"},
      {"cut.txt", "abc\x88", "application/octet-stream;"},
      // Overlong UTF-8 and a UTF-16 surrogate are neither UTF-8 nor
      // Shift_JIS text.
      {"overlong.txt", "\xC0\xAF\xFD", "application/octet-stream;"},
      {"surrogate.txt", "\xED\xA0\x80\xFD", "application/octet-stream;"},
  };
  for (const Row& row : rows) {
    const std::string path = dir.File(row.file);
    WriteBytes(path, row.bytes);
    const std::string header = mail.AttachHeaderMake(path);
    EXPECT_EQ(CrLfLines(header).at(0), std::string("Content-Type: ") + row.type) << row.file;
  }
}

TEST_F(CompositionTest, AttachmentHeaderIsExact) {
  TempDir dir;
  WriteBytes(dir.File("a.txt"), "abc");
  WriteBytes(dir.File("写真.JPG"), "\xFF\xD8\xFF");
  WriteBytes(dir.File("empty.txt"), "");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("a.txt")),
            "Content-Type: text/plain; charset=UTF-8;\r\n"
            " name=\"=?ISO-2022-JP?B?YS50eHQ=?=\"\r\n"
            "Content-Disposition: attachment;\r\n"
            " filename=\"=?ISO-2022-JP?B?YS50eHQ=?=\";\r\n"
            " filename*=UTF-8''a.txt\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("写真.JPG")),
            "Content-Type: image/jpeg;\r\n"
            " name=\"=?ISO-2022-JP?B?GyRCPEw/PxsoQi5KUEc=?=\"\r\n"
            "Content-Disposition: attachment;\r\n"
            " filename=\"=?ISO-2022-JP?B?GyRCPEw/PxsoQi5KUEc=?=\";\r\n"
            " filename*=UTF-8''%E5%86%99%E7%9C%9F.JPG\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("empty.txt")), "");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("missing.txt")), "");

  // Only CR LF-terminated lines of the list are attachments.
  const std::string list = dir.File("a.txt") + "\r\n" + dir.File("写真.JPG");
  EXPECT_EQ(mail.AttachHeaderGet(0, list), mail.AttachHeaderMake(dir.File("a.txt")));
  EXPECT_EQ(mail.AttachHeaderGet(1, list), "");
  EXPECT_EQ(mail.AttachHeaderGet(-1, list), "");
}

// The value of RFC 2231 parameter lines put back together: sections in
// order, percent escapes undone (as a reader does it).
std::string Rfc2231Value(const std::string& lines) {
  std::string value;
  const std::regex section(" filename\\*(?:[0-9]+\\*)?=(?:UTF-8'')?([^;\r]*)");
  for (std::sregex_iterator it(lines.begin(), lines.end(), section), end; it != end; ++it) {
    const std::string encoded = (*it)[1].str();
    for (std::size_t i = 0; i < encoded.size(); ++i) {
      if (encoded[i] == '%') {
        value.push_back(static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16)));
        i += 2;
      } else {
        value.push_back(encoded[i]);
      }
    }
  }
  return value;
}

TEST_F(CompositionTest, Rfc2231FileNameIsPercentEncodedAndContinuedWithinTheLine) {
  std::string longName;
  for (int i = 0; i < 19; ++i) longName += "長い名前";
  longName += "です.txt";
  struct Row {
    const char* name;
    std::string utf8;
    std::string lines;  // exact, or "" for "continued"
  };
  const Row rows[] = {
      {"short ASCII", "report-2026_v1.pdf", " filename*=UTF-8''report-2026_v1.pdf\r\n"},
      {"tspecials, space, quote and percent", "a b(1);\"50%\".txt",
       " filename*=UTF-8''a%20b%281%29%3B%2250%25%22.txt\r\n"},
      {"Japanese with a circled digit", "請求書①.pdf",
       " filename*=UTF-8''%E8%AB%8B%E6%B1%82%E6%9B%B8%E2%91%A0.pdf\r\n"},
      {"exactly 76 characters", std::string(58, 'a'),
       " filename*=UTF-8''" + std::string(58, 'a') + "\r\n"},
      {"77 characters", std::string(59, 'a'), ""},
      {"long Japanese", longName, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string lines = mime::Rfc2231FileName(row.utf8);
    EXPECT_EQ(Rfc2231Value(lines), row.utf8) << lines;
    if (!row.lines.empty()) {
      EXPECT_EQ(lines, row.lines);
      continue;
    }
    const std::vector<std::string> split = CrLfLines(lines);
    ASSERT_GT(split.size(), 1u) << lines;
    for (std::size_t i = 0; i < split.size(); ++i) {
      const std::string head = " filename*" + std::to_string(i) + "*=" + (i == 0 ? "UTF-8''" : "");
      EXPECT_EQ(split[i].rfind(head, 0), 0u) << split[i];
      EXPECT_LE(split[i].size(), 76u) << split[i];
      EXPECT_EQ(split[i].back() == ';', i + 1 < split.size()) << split[i];
      // Each section decodes to whole characters on its own.
      EXPECT_TRUE(mime::IsValidUtf8(Rfc2231Value(split[i]))) << split[i];
    }
  }
}

TEST_F(CompositionTest, AttachmentContentGoesOutInBase64LinesOf64) {
  TempDir dir;
  std::string bytes49;
  for (int i = 0; i < 49; ++i) bytes49.push_back(static_cast<char>(i));
  WriteBytes(dir.File("one.bin"), std::string(1, '\0'));
  WriteBytes(dir.File("48.bin"), bytes49.substr(0, 48));
  WriteBytes(dir.File("49.bin"), bytes49);
  const std::string line64 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v";
  struct Row {
    const char* name;
    std::string list;
    int index;
    int accept;  // 1000: no limit
    int code;
    std::string wire;
  };
  const Row rows[] = {
      {"1 byte", dir.File("one.bin") + "\r\n", 0, 1000, 0, "AA==\r\n"},
      {"48 bytes", dir.File("48.bin") + "\r\n", 0, 1000, 0, line64 + "\r\n"},
      {"49 bytes", dir.File("49.bin") + "\r\n", 0, 1000, 0, line64 + "\r\nMA==\r\n"},
      {"second of two", dir.File("one.bin") + "\r\n" + dir.File("48.bin") + "\r\n", 1, 1000, 0,
       line64 + "\r\n"},
      {"missing file", dir.File("missing.bin") + "\r\n", 0, 1000, 2, ""},
      {"no line at the index", dir.File("one.bin") + "\r\n", 1, 1000, 1, ""},
      {"path without line end", dir.File("one.bin"), 0, 1000, 1, ""},
      {"send fails", dir.File("49.bin") + "\r\n", 0, 0, 12, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer script;
    if (row.accept != 1000) script.AcceptOnly(row.accept);
    mail.smtpSocket = script.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    EXPECT_EQ(mail.SmtpAttachSend(row.index, row.list), row.code);
    EXPECT_EQ(script.Received(), row.wire);
  }
}

TEST_F(CompositionTest, AttachmentTranscriptNamesThePathInShiftJis) {
  TempDir dir;
  const std::string path = dir.File("写真.JPG");
  WriteBytes(path, std::string(49, 'z'));
  Connect();
  mail.transcript = "head\r\n";
  ASSERT_EQ(mail.SmtpAttachSend(0, path + "\r\n"), 0);
  EXPECT_EQ(mail.transcript,
            "head\r\n" + Sjis("\r\n添付送信: ") + Utf8ToSjis(path) + "\r\n" +
                Sjis("・・・ File Read & Base64 変換後のサイズ : 68\r\n") +
                Sjis(">>SmtpStringSend2: 添付開始(Speed=5)\r\n") +
                Sjis("・・・SmtpStringSend2: ストリングサイズ:68 ループ回数:2 送信サイズ:72\r\n"));
}

}  // namespace
}  // namespace velkaro
