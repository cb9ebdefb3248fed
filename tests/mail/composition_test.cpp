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
#include "mail/mail_connection.h"
#include "mail/mime_text.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::PlatformTest;
using testing::ScriptedServer;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kBoundary[] = "------_4A169B1D000000004107_MULTIPART_MIXED_";

std::string Base64Decode(const std::string& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (const char c : text) {
    if (c == '=') break;
    const std::size_t value = alphabet.find(c);
    if (value == std::string::npos) {
      ADD_FAILURE() << "not Base64: " << text;
      return {};
    }
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return out;
}

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

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
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
  const std::regex id("Message-Id: <20261208093015\\.([0-9]+)_velkaro@example\\.jp>\r\n");
  std::smatch match;
  if (!std::regex_search(received, match, id)) return "?";
  return match[1].str();
}

// The header block for the fixture's mail, one entry per send call.
std::vector<std::string> HeaderLines(bool multipart, const std::string& sequence) {
  return {
      "From: =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?=<sales@example.jp>\r\n",
      "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=<yamada@example.com>\r\n",
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
  const std::vector<std::string> lines = Lines(server.Received());
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
  const std::regex id("Message-Id: <(20261208093015)\\.([0-9]+)_velkaro@example\\.jp>\r\n");
  const std::string received = server.Received();
  std::vector<std::string> ids;
  for (std::sregex_iterator it(received.begin(), received.end(), id), end; it != end; ++it) {
    ids.push_back((*it)[0].str());
  }
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_NE(ids[0], ids[1]);
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

struct SubjectCase {
  const char* name;
  std::string subject;  // Shift_JIS
  bool folded;
};

TEST_F(CompositionTest, SubjectStaysOneWordWhileTheLineFitsAndIsFoldedBeyond) {
  // 360 double-byte characters give a line of 995 bytes, 361 one of 999;
  // 726 ASCII characters 995, 727 999.
  const std::string mixed = Sjis("ご案内ｶﾞｲﾄﾞ test。①漢字ﾊﾟｰﾃｨ ");
  const SubjectCase cases[] = {
      {"300 kanji", Repeat(Sjis("漢"), 300), false},
      {"360 kanji", Repeat(Sjis("漢"), 360), false},
      {"361 kanji", Repeat(Sjis("漢"), 361), true},
      {"726 ASCII", std::string(726, 'a'), false},
      {"727 ASCII", std::string(727, 'a'), true},
      {"2323 characters of mixed Japanese", Repeat(mixed, 2000 / 20 + 1), true},
  };
  Zentool tool;
  for (const SubjectCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer fresh;
    mail.smtpSocket = fresh.NewSocket();
    mail.smtpSocket->Create();
    mail.smtpSocket->Connect("smtp.example.jp", 25);
    mail.smtpOpen = 1;
    mail.subject = c.subject;

    ASSERT_EQ(mail.SmtpHeaderSend(0), 0);

    const std::string& received = fresh.Received();
    const std::size_t start = received.find("Subject: ");
    const std::size_t end = received.find("\r\nDate: ");
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::string field = received.substr(start, end - start);
    const std::vector<std::string> lines = Lines(field);
    for (const std::string& line : Lines(received)) EXPECT_LE(line.size(), 998u);

    const std::string whole = tool.ZenSjisToJis(c.subject);
    if (!c.folded) {
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_EQ(field, "Subject: =?ISO-2022-JP?B?" + tool.ZenBase64Encode(whole) + "?=");
      continue;
    }
    ASSERT_GT(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Subject: =?ISO-2022-JP?B?", 0), 0u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind(" =?ISO-2022-JP?B?", 0), 0u) << lines[i];
    }
    // Every word is at most 75 characters and a complete ISO-2022-JP text;
    // joined, the words give the whole subject back.
    const std::vector<std::string> payloads = WordPayloads(field);
    ASSERT_EQ(payloads.size(), lines.size());
    EXPECT_EQ(JoinedJis(payloads, 75 - 18), whole);
  }
}

TEST_F(CompositionTest, LongRecipientNameIsFoldedWithTheAddressAfterTheLastWord) {
  Connect();
  mail.recipientName = Repeat(Sjis("山田"), 400);
  ASSERT_EQ(mail.SmtpHeaderSend(0), 0);
  const std::string& received = server.Received();
  const std::size_t start = received.find("To: ");
  const std::size_t end = received.find("\r\nSubject: ");
  const std::vector<std::string> lines = Lines(received.substr(start, end - start));
  ASSERT_GT(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("To: =?ISO-2022-JP?B?", 0), 0u);
  const std::string& last = lines.back();
  const std::string tail = "?=<yamada@example.com>";
  ASSERT_GE(last.size(), tail.size());
  EXPECT_EQ(last.substr(last.size() - tail.size()), tail);
  for (const std::string& line : lines) EXPECT_LE(line.size(), 998u);
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
  const std::vector<std::string> lines = Lines(field);
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
  TempDir dir;
  struct Row {
    const char* file;
    const char* type;
  };
  const Row rows[] = {
      {"photo.JPG", "image/jpeg;"},
      {"a.jpeg", "image/jpeg;"},
      {"x.gif", "image/gif;"},
      {"y.BMP", "image/bmp;"},
      {"scan.Png", "image/png;"},
      {"data.tar.gz", "application/octet-stream;"},
      {"README", "application/octet-stream;"},
      {"a.txt", "application/octet-stream;"},
      {"archive.jpg.zip", "application/octet-stream;"},
  };
  for (const Row& row : rows) {
    const std::string path = dir.File(row.file);
    WriteBytes(path, "x");
    const std::string header = mail.AttachHeaderMake(path);
    EXPECT_EQ(Lines(header).at(0), std::string("Content-Type: ") + row.type) << row.file;
  }
}

TEST_F(CompositionTest, AttachmentHeaderIsExact) {
  TempDir dir;
  WriteBytes(dir.File("a.txt"), "abc");
  WriteBytes(dir.File("写真.JPG"), "\xFF\xD8\xFF");
  WriteBytes(dir.File("empty.txt"), "");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("a.txt")),
            "Content-Type: application/octet-stream;\r\n"
            " name=\"=?ISO-2022-JP?B?YS50eHQ=?=\"\r\n"
            "Content-Disposition: attachment;\r\n"
            " filename=\"=?ISO-2022-JP?B?YS50eHQ=?=\"\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("写真.JPG")),
            "Content-Type: image/jpeg;\r\n"
            " name=\"=?ISO-2022-JP?B?GyRCPEw/PxsoQi5KUEc=?=\"\r\n"
            "Content-Disposition: attachment;\r\n"
            " filename=\"=?ISO-2022-JP?B?GyRCPEw/PxsoQi5KUEc=?=\"\r\n"
            "Content-Transfer-Encoding: base64\r\n\r\n");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("empty.txt")), "");
  EXPECT_EQ(mail.AttachHeaderMake(dir.File("missing.txt")), "");

  // Only CR LF-terminated lines of the list are attachments.
  const std::string list = dir.File("a.txt") + "\r\n" + dir.File("写真.JPG");
  EXPECT_EQ(mail.AttachHeaderGet(0, list), mail.AttachHeaderMake(dir.File("a.txt")));
  EXPECT_EQ(mail.AttachHeaderGet(1, list), "");
  EXPECT_EQ(mail.AttachHeaderGet(-1, list), "");
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
