// One mail over a scripted SMTP server: whole mails byte for byte, every
// result code, the stop request, transparency, address refusals, POP before
// SMTP and the progress stages.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "mail/mail_connection.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::PlatformTest;
using testing::ScriptedServer;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kBoundary[] = "------_4A169B1D000000004107_MULTIPART_MIXED_";
const std::string kMailFrom = "MAIL FROM:<sales@example.jp>\r\n";
const std::string kRcptTo = "RCPT TO:<yamada@example.com>\r\n";
const std::string kData = "DATA\r\n";
const std::string kEndData = "\r\n.\r\n";
// "山田様\r\nこんにちは。\r\n" in ISO-2022-JP.
const std::string kJisBody = "\x1b$B;3EDMM\x1b(B\r\n\x1b$B$3$s$K$A$O!#\x1b(B\r\n";
const std::string kLine64 = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4v";

void Envelope(ScriptedServer& server) {
  server.Expect(kMailFrom).Send("250 2.1.0 ok\r\n");
  server.Expect(kRcptTo).Send("250 2.1.5 ok\r\n");
  server.Expect(kData).Send("354 go ahead\r\n");
}

void AcceptData(ScriptedServer& server) {
  server.ExpectThrough(kEndData).Send("250 2.0.0 queued\r\n");
}

std::string Boundary() {
  return std::string("--") + kBoundary + "\r\n";
}

std::string Header(bool multipart, const std::string& sequence) {
  return std::string("From: =?ISO-2022-JP?B?GyRCMUQ2SEl0GyhC?= <sales@example.jp>\r\n") +
         "To: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.com>\r\n" +
         "Subject: =?ISO-2022-JP?B?GyRCJDQwRkZiGyhC?=\r\n" +
         "Date: Tue, 08 Dec 2026 09:30:15 +0900\r\n" + "MIME-Version: 1.0\r\n" +
         "Content-Transfer-Encoding: 7bit\r\n" +
         (multipart
              ? std::string("Content-Type: multipart/mixed; boundary=\"") + kBoundary + "\"\r\n"
              : std::string("Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n")) +
         "Message-Id: <20261208093015." + sequence + "_velkaro@example.jp>\r\n" +
         "X-Mailer: Velkaro\r\n" + "\r\n\r\n";
}

std::string MessageSequence(const std::string& received) {
  const std::regex id(
      "Message-Id: <20261208093015\\.([0-9]+\\.[0-9a-f]{16})_velkaro@example\\.jp>\r\n");
  std::smatch match;
  if (!std::regex_search(received, match, id)) return "?";
  return match[1].str();
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string Stages(const ProgressRecord& progress) {
  std::string bits;
  for (int i = 0; i < 20; ++i)
    bits.push_back(progress.stage[static_cast<std::size_t>(i)] ? '1' : '0');
  return bits;
}

class OneMailTest : public PlatformTest {
 protected:
  OneMailTest() {
    platform.SetUtcOffset(9 * 3600);
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);
    platform.SetSocketFactory([this] { return pop.NewSocket(); });
    SetFieldText(mail.server.senderName, Sjis("営業部"));
    SetFieldText(mail.server.senderAddress, "sales@example.jp");
    SetFieldText(mail.server.popUser, "u");
    SetFieldText(mail.server.popPassword, "p");
    textFile = dir.File("a.txt");
    photo = dir.File("写真.JPG");
    emptyFile = dir.File("empty.txt");
    std::string bytes49;
    for (int i = 0; i < 49; ++i) bytes49.push_back(static_cast<char>(i));
    WriteBytes(textFile, bytes49);
    WriteBytes(photo, "\xFF\xD8\xFF");
    WriteBytes(emptyFile, "");
  }

  void Open() {
    mail.smtpSocket = smtp.NewSocket();
    ASSERT_TRUE(mail.smtpSocket->Create());
    ASSERT_TRUE(mail.smtpSocket->Connect("smtp.example.jp", 25));
    mail.smtpOpen = 1;
  }

  MailRecord Record(bool withAttachments = false) const {
    MailRecord record;
    record.subject = Sjis("ご案内");
    record.body = Sjis("山田様\r\nこんにちは。\r\n");
    record.recipientName = Sjis("山田");
    record.recipientAddress = "yamada@example.com";
    if (withAttachments) record.attachmentList = textFile + "\r\n" + photo + "\r\n";
    return record;
  }

  std::string TextPart() const {
    return Boundary() + "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n" +
           "Content-Transfer-Encoding: 7bit\r\n" + "\r\n" + kJisBody;
  }

  static std::string AttachmentPart(const std::string& type, const std::string& payload,
                                    const std::string& rfc2231Name,
                                    const std::string& base64Lines) {
    const std::string word = "=?ISO-2022-JP?B?" + payload + "?=";
    return Boundary() + "Content-Type: " + type + "\r\n" + " name=\"" + word + "\"\r\n" +
           "Content-Disposition: attachment;\r\n" + " filename=\"" + word + "\";\r\n" +
           " filename*=UTF-8''" + rfc2231Name + "\r\n" +
           "Content-Transfer-Encoding: base64\r\n\r\n" + "\r\n" + base64Lines;
  }

 public:
  // Rows of the code table reach the files through the fixture.
  TempDir dir;
  std::string textFile, photo, emptyFile;

 protected:
  ScriptedServer smtp;
  ScriptedServer pop;
  MailConnection mail;
};

// --- whole mails ---

TEST_F(OneMailTest, MailWithoutAttachmentsIsExact) {
  Envelope(smtp);
  AcceptData(smtp);
  Open();

  EXPECT_EQ(mail.SendOneMail(Record()), 0);

  const std::string sequence = MessageSequence(smtp.Received());
  EXPECT_EQ(smtp.Received(),
            kMailFrom + kRcptTo + kData + Header(false, sequence) + kJisBody + kEndData);
  EXPECT_TRUE(smtp.Finished());
  EXPECT_EQ(mail.transcript, Sjis("★To 山田<yamada@example.com>\r\n  Subject: ご案内\r\n") +
                                 Sjis("  本文サイズ: 22 Bytes\r\n") +
                                 Sjis("\r\n>>SmtpStringSend2: 本文開始(Speed=5)\r\n") +
                                 Sjis("・・・SmtpStringSend2: ストリングサイズ:34 ループ回数:1 "
                                      "送信サイズ:34\r\n"));
  EXPECT_EQ(Stages(mail.progress), "11111100000000000000");
  // Pauses: 3 x 50 ms in the envelope, 10 x 20 ms in the header block, one
  // 1 ms pacing sleep, 100 ms before the end of data.
  EXPECT_EQ(platform.VirtualMs(), 150 + 200 + 1 + 100);
  // The record is what the connection now holds for the mail.
  EXPECT_EQ(mail.subject, Sjis("ご案内"));
  EXPECT_EQ(mail.recipientAddress, "yamada@example.com");
}

TEST_F(OneMailTest, MailWithTwoAttachmentsIsExact) {
  Envelope(smtp);
  AcceptData(smtp);
  Open();

  EXPECT_EQ(mail.SendOneMail(Record(true)), 0);

  const std::string sequence = MessageSequence(smtp.Received());
  const std::string expected =
      kMailFrom + kRcptTo + kData + Header(true, sequence) + TextPart() +
      AttachmentPart("text/plain; charset=UTF-8;", "YS50eHQ=", "a.txt", kLine64 + "\r\nMA==\r\n") +
      AttachmentPart("image/jpeg;", "GyRCPEw/PxsoQi5KUEc=", "%E5%86%99%E7%9C%9F.JPG", "/9j/\r\n") +
      "--" + kBoundary + "--\r\n" + kEndData;
  EXPECT_EQ(smtp.Received(), expected);
  EXPECT_TRUE(smtp.Finished());

  EXPECT_EQ(mail.transcript,
            Sjis("★To 山田<yamada@example.com>\r\n  Subject: ご案内\r\n") +
                Sjis("  本文サイズ: 22 Bytes\r\n") + Sjis("  添付[1-49Bytes]: ") + textFile +
                "\r\n" + Sjis("  添付[2-3Bytes]: ") + Utf8ToSjis(photo) + "\r\n" +
                Sjis("\r\n>>SmtpStringSend2: 本文開始(Speed=5)\r\n") +
                Sjis("・・・SmtpStringSend2: ストリングサイズ:34 ループ回数:1 送信サイズ:34\r\n") +
                Sjis("\r\n添付送信: ") + textFile + "\r\n" +
                Sjis("・・・ File Read & Base64 変換後のサイズ : 68\r\n") +
                Sjis(">>SmtpStringSend2: 添付開始(Speed=5)\r\n") +
                Sjis("・・・SmtpStringSend2: ストリングサイズ:68 ループ回数:2 送信サイズ:72\r\n") +
                Sjis("\r\n添付送信: ") + Utf8ToSjis(photo) + "\r\n" +
                Sjis("・・・ File Read & Base64 変換後のサイズ : 4\r\n") +
                Sjis(">>SmtpStringSend2: 添付開始(Speed=5)\r\n") +
                Sjis("・・・SmtpStringSend2: ストリングサイズ:4 ループ回数:1 送信サイズ:6\r\n"));
  EXPECT_EQ(Stages(mail.progress), "11111111100000000000");
  EXPECT_EQ(mail.progress.attachmentIndex, 2);
  // Pauses: envelope 150, header block 200, text part header 2 x 20 + 50,
  // body 1; per attachment 100 before it, 7 x 20 + 50 for its header and 1
  // of pacing; 100 before the closing boundary and 100 before the end.
  EXPECT_EQ(platform.VirtualMs(), 150 + 200 + 90 + 1 + 2 * (100 + 190 + 1) + 100 + 100);
}

// --- result codes ---

// What a row may change before the mail is sent.
struct RowContext {
  MailConnection& mail;
  MailRecord& record;
  ScriptedServer& pop;
  const OneMailTest& files;
};

struct CodeRow {
  const char* name;
  std::function<void(RowContext&)> setup;
  std::function<void(ScriptedServer&)> script;
  int code;
  std::string stages;         // stages 0..8 afterwards
  std::string transcriptEnd;  // the transcript ends with this
  bool outOfStep = false;     // a command went out in part or got no reply
};

class OneMailCodes : public OneMailTest {
 protected:
  // A fresh connection and servers per row.
  void Run(const CodeRow& row) {
    SCOPED_TRACE(row.name);
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);
    ScriptedServer server;
    ScriptedServer popServer;
    platform.SetSocketFactory([&] { return popServer.NewSocket(); });
    if (row.script) row.script(server);
    MailConnection connection;
    SetFieldText(connection.server.senderName, Sjis("営業部"));
    SetFieldText(connection.server.senderAddress, "sales@example.jp");
    connection.smtpSocket = server.NewSocket();
    connection.smtpSocket->Create();
    connection.smtpSocket->Connect("smtp.example.jp", 25);
    connection.smtpOpen = 1;
    MailRecord record = Record();
    RowContext context{connection, record, popServer, *this};
    row.setup(context);

    EXPECT_EQ(connection.SendOneMail(record), row.code);

    EXPECT_TRUE(server.Mismatch().empty()) << server.Mismatch();
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(Stages(connection.progress).substr(0, 9), row.stages);
    const std::string& received = server.Received();
    if (row.code >= 1 && row.code <= 5) {
      EXPECT_EQ(received, "");
    }
    // Only a mail sent in full is ended; one that failed inside its content
    // is left unended on a dropped connection, so the server discards it.
    // A command out of step drops the connection too, as QUIT cannot follow.
    const bool sentInFull = row.code == 0 || row.code == 11;
    const bool dropped =
        (row.code >= 7 && row.code <= 10) || (row.code >= 20 && row.code <= 22) || row.outOfStep;
    const bool ended =
        received.size() >= kEndData.size() &&
        received.compare(received.size() - kEndData.size(), kEndData.size(), kEndData) == 0;
    EXPECT_EQ(ended, sentInFull);
    EXPECT_EQ(server.ClientClosed(), dropped);
    EXPECT_EQ(connection.smtpOpen, dropped || row.code == 1 ? 0 : 1);
    EXPECT_EQ(connection.smtpSocket == nullptr, dropped);
    const std::string& transcript = connection.transcript;
    EXPECT_EQ(transcript.rfind(Sjis("★To "), 0), 0u);
    ASSERT_GE(transcript.size(), row.transcriptEnd.size());
    EXPECT_EQ(transcript.substr(transcript.size() - row.transcriptEnd.size()), row.transcriptEnd);
  }
};

TEST_F(OneMailCodes, EveryStepReportsItsCode) {
  const std::string bodySize = Sjis("  本文サイズ: 22 Bytes\r\n");
  const std::string badRecipient = Sjis("  宛先アドレスに使えない文字があります。\r\n");
  const std::string badSender = Sjis("  差出人アドレスに使えない文字があります。\r\n");
  const std::string lastBase64 =
      Sjis("・・・SmtpStringSend2: ストリングサイズ:4 ループ回数:1 送信サイズ:6\r\n");
  const std::string endOfBlock = "X-Mailer: Velkaro\r\n\r\n\r\n";
  const std::string dropped =
      Sjis("  送信を中断したため、SMTP接続を切断しました(このメールは配信されません)。\r\n");
  const auto none = [](RowContext&) {};
  const auto attachments = [](RowContext& c) {
    c.record.attachmentList = c.files.textFile + "\r\n" + c.files.photo + "\r\n";
  };
  const auto recipient = [](std::string address) {
    return [address](RowContext& c) { c.record.recipientAddress = address; };
  };
  const auto sender = [](std::string address) {
    return [address](RowContext& c) { SetFieldText(c.mail.server.senderAddress, address); };
  };
  const auto accepted = [](ScriptedServer& s) {
    Envelope(s);
    AcceptData(s);
  };
  const auto refuseAfter = [](const std::string& through) {
    return [through](ScriptedServer& s) {
      Envelope(s);
      if (!through.empty()) s.ExpectThrough(through);
      s.AcceptOnly(0);
    };
  };
  const CodeRow rows[] = {
      {"accepted", none, accepted, 0, "111111000", ""},
      {"accepted with attachments", attachments, accepted, 0, "111111111", lastBase64},
      {"SMTP not open", [](RowContext& c) { c.mail.smtpOpen = 0; }, nullptr, 1, "000000000",
       bodySize},
      {"POP3 still open", [](RowContext& c) { c.mail.popOpen = 1; }, nullptr, 2, "000000000",
       bodySize},
      {"empty subject", [](RowContext& c) { c.record.subject.clear(); }, nullptr, 3, "000000000",
       bodySize},
      {"empty body", [](RowContext& c) { c.record.body.clear(); }, nullptr, 3, "000000000",
       Sjis("  本文サイズ: 0 Bytes\r\n")},
      {"empty recipient name", [](RowContext& c) { c.record.recipientName.clear(); }, nullptr, 3,
       "000000000", bodySize},
      {"empty recipient address", recipient(""), nullptr, 3, "000000000", bodySize},
      {"recipient address with a command after CR LF",
       recipient("a@example.com>\r\nRCPT TO:<b@evil.example"), nullptr, 3, "000000000",
       badRecipient},
      {"recipient address with a bare LF", recipient("a@example.com\nBcc: x@y"), nullptr, 3,
       "000000000", badRecipient},
      {"recipient address with an angle bracket", recipient("a@example.com> NOTIFY=NEVER"), nullptr,
       3, "000000000", badRecipient},
      {"recipient address with DEL", recipient("a\x7F@example.com"), nullptr, 3, "000000000",
       badRecipient},
      {"recipient address too long for SMTP", recipient(std::string(243, 'a') + "@example.com"),
       nullptr, 3, "000000000", Sjis("  宛先アドレスが長すぎます。\r\n")},
      {"sender address with a line end", sender("s@example.jp\r\nRSET"), nullptr, 3, "000000000",
       badSender},
      {"sender address with a tab", sender("s@\texample.jp"), nullptr, 3, "000000000", badSender},
      {"both addresses unusable",
       [](RowContext& c) {
         c.record.recipientAddress = "<r@example.com>";
         SetFieldText(c.mail.server.senderAddress, "s@example.jp\n");
       },
       nullptr, 3, "000000000", badRecipient + badSender},
      {"missing attachment",
       [](RowContext& c) { c.record.attachmentList = c.files.dir.File("gone.bin") + "\r\n"; },
       nullptr, 4, "000000000", bodySize},
      {"empty second attachment",
       [](RowContext& c) {
         c.record.attachmentList = c.files.textFile + "\r\n" + c.files.emptyFile + "\r\n";
       },
       nullptr, 4, "000000000", Sjis("  添付[1-49Bytes]: ") + textFile + "\r\n"},
      {"POP before SMTP fails",
       [](RowContext& c) {
         SetFieldText(c.mail.server.popServer, "pop.example.jp");
         c.pop.RefuseConnect();
         c.record.popBeforeSmtp = 1;
       },
       nullptr, 5, "100000000", bodySize},
      {"MAIL FROM rejected", none,
       [](ScriptedServer& s) { s.Expect(kMailFrom).Send("550 5.7.1 relaying denied\r\n"); }, 6,
       "110000000", bodySize},
      {"MAIL FROM unanswered", none, [](ScriptedServer& s) { s.Expect(kMailFrom); }, 6, "110000000",
       bodySize, true},
      {"RCPT TO sent in part", none,
       [](ScriptedServer& s) { s.Expect(kMailFrom).Send("250 ok\r\n").AcceptOnly(5); }, 6,
       "110000000", bodySize, true},
      {"hang-up before the DATA reply", none,
       [](ScriptedServer& s) {
         s.Expect(kMailFrom).Send("250 ok\r\n").Expect(kRcptTo).Send("250 ok\r\n");
         s.Expect(kData).Close();
       },
       6, "110000000", bodySize, true},
      {"header block not sent", none, refuseAfter(""), 7, "111000000", bodySize + dropped},
      {"text part header not sent", attachments, refuseAfter(endOfBlock), 8, "111100000", dropped},
      {"body not sent (multipart)", attachments,
       refuseAfter("Content-Transfer-Encoding: 7bit\r\n\r\n"), 9, "111110000", dropped},
      {"body not sent (single part)", none, refuseAfter(endOfBlock), 10, "111110000", dropped},
      {"end of data rejected", none,
       [](ScriptedServer& s) {
         Envelope(s);
         s.ExpectThrough(kEndData).Send("554 5.6.0 rejected\r\n");
       },
       11, "111111000", ""},
      {"end of data unanswered", none,
       [](ScriptedServer& s) {
         Envelope(s);
         s.ExpectThrough(kEndData);
       },
       11, "111111000", "", true},
      {"first attachment header not sent", attachments, refuseAfter(kJisBody), 20, "111111000",
       dropped},
      {"second attachment header not sent", attachments, refuseAfter("MA==\r\n"), 20, "111111110",
       dropped},
      {"attachment content not sent", attachments,
       refuseAfter("Content-Transfer-Encoding: base64\r\n\r\n\r\n"), 21, "111111100", dropped},
      {"closing boundary not sent", attachments, refuseAfter("/9j/\r\n"), 22, "111111111",
       lastBase64 + dropped},
  };
  for (const CodeRow& row : rows) Run(row);
}

// --- stop, transparency, POP, stages ---

TEST_F(OneMailTest, StopDuringTheBodyDropsTheConnectionAndFailsTheMail) {
  struct Row {
    bool attachments;
    int code;
  };
  for (const Row& row : {Row{false, 10}, Row{true, 9}}) {
    SCOPED_TRACE(row.attachments ? "multipart" : "single part");
    ScriptedServer server;
    Envelope(server);
    MailConnection connection;
    SetFieldText(connection.server.senderName, Sjis("営業部"));
    SetFieldText(connection.server.senderAddress, "sales@example.jp");
    connection.SetSpeed(9);
    connection.smtpSocket = server.NewSocket();
    connection.smtpSocket->Create();
    connection.smtpSocket->Connect("smtp.example.jp", 25);
    connection.smtpOpen = 1;
    bool asked = false;
    platform.SetPumpHook([&] {
      if (!asked && connection.progress.sendingData == 1) {
        asked = true;
        connection.RequestStop();
      }
    });
    MailRecord record = Record(row.attachments);
    record.body = std::string(300, 'x') + "\r\n";

    EXPECT_EQ(connection.SendOneMail(record), row.code);

    const std::string& received = server.Received();
    // The piece in flight when the stop came still went out; then the
    // connection was dropped without the end of data, so the server throws
    // the mail away. Nothing of the attachments.
    const std::string tail = std::string(128, 'x');
    ASSERT_GE(received.size(), tail.size());
    EXPECT_EQ(received.substr(received.size() - tail.size()), tail);
    EXPECT_EQ(Count(received, std::string(129, 'x')), 0u);
    EXPECT_EQ(Count(received, "base64"), 0u);
    EXPECT_EQ(Count(received, kEndData), 0u);
    EXPECT_TRUE(server.Finished());
    EXPECT_TRUE(server.ClientClosed());
    EXPECT_EQ(connection.smtpOpen, 0);
    EXPECT_EQ(connection.speed, 9);
    EXPECT_NE(connection.transcript.find(Sjis("・・・SmtpStringSend2: 強制終了!\r\n")),
              std::string::npos);
    platform.SetPumpHook(nullptr);
  }
}

TEST_F(OneMailTest, BodyLinesStartingWithADotAreStuffed) {
  Envelope(smtp);
  AcceptData(smtp);
  Open();
  MailRecord record = Record();
  record.body = Sjis(".始まり\r\n.\r\n.x\r\n終わり\r\n");

  EXPECT_EQ(mail.SendOneMail(record), 0);

  const std::string sequence = MessageSequence(smtp.Received());
  const std::string stuffed = "..\x1b$B;O$^$j\x1b(B\r\n..\r\n..x\r\n\x1b$B=*$o$j\x1b(B\r\n";
  EXPECT_EQ(smtp.Received(),
            kMailFrom + kRcptTo + kData + Header(false, sequence) + stuffed + kEndData);
  // Only the real end of data may look like one.
  EXPECT_EQ(Count(smtp.Received(), kEndData), 1u);
  EXPECT_NE(mail.transcript.find(Sjis("ストリングサイズ:39 ループ回数:1 送信サイズ:39")),
            std::string::npos);
}

TEST_F(OneMailTest, PopBeforeSmtpRunsOnlyWithAPop3Server) {
  struct Row {
    const char* name;
    const char* popServer;
    int popBeforeSmtp;
    int popDone;
    int connects;
  };
  const Row rows[] = {
      {"asked, with a server", "pop.example.jp", 1, 1, 1},
      {"asked, without a server", "", 1, 0, 0},
      {"not asked", "pop.example.jp", 0, 0, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedServer smtpServer;
    ScriptedServer popServer;
    Envelope(smtpServer);
    AcceptData(smtpServer);
    popServer.Send("+OK ready\r\n")
        .Expect("USER u\r\n")
        .Send("+OK\r\n")
        .Expect("PASS p\r\n")
        .Send("+OK\r\n")
        .Expect("STAT\r\n")
        .Send("+OK 0 0\r\n")
        .Expect("QUIT\r\n")
        .Send("+OK bye\r\n");
    platform.SetSocketFactory([&] { return popServer.NewSocket(); });
    MailConnection connection;
    SetFieldText(connection.server.senderName, Sjis("営業部"));
    SetFieldText(connection.server.senderAddress, "sales@example.jp");
    SetFieldText(connection.server.popServer, row.popServer);
    SetFieldText(connection.server.popUser, "u");
    SetFieldText(connection.server.popPassword, "p");
    connection.smtpSocket = smtpServer.NewSocket();
    connection.smtpSocket->Create();
    connection.smtpSocket->Connect("smtp.example.jp", 25);
    connection.smtpOpen = 1;
    MailRecord record = Record();
    record.popBeforeSmtp = row.popBeforeSmtp;

    EXPECT_EQ(connection.SendOneMail(record), 0);

    EXPECT_EQ(connection.progress.popDone, row.popDone);
    EXPECT_EQ(popServer.Connects(), row.connects);
    EXPECT_EQ(connection.popOpen, 0);
    EXPECT_TRUE(smtpServer.Finished());
  }
}

TEST_F(OneMailTest, StagesGrowInOrderAndStageSevenClearsForTheNextAttachment) {
  Envelope(smtp);
  AcceptData(smtp);
  Open();
  struct Snapshot {
    std::string stages;
    int attachmentIndex;
  };
  std::vector<Snapshot> seen;
  platform.SetPumpHook([&] {
    const Snapshot now{Stages(mail.progress), mail.progress.attachmentIndex};
    if (seen.empty() || seen.back().stages != now.stages ||
        seen.back().attachmentIndex != now.attachmentIndex) {
      seen.push_back(now);
    }
  });

  ASSERT_EQ(mail.SendOneMail(Record(true)), 0);
  seen.push_back({Stages(mail.progress), mail.progress.attachmentIndex});

  std::vector<int> indexes;
  for (const Snapshot& s : seen) {
    if (indexes.empty() || indexes.back() != s.attachmentIndex)
      indexes.push_back(s.attachmentIndex);
  }
  EXPECT_EQ(indexes, (std::vector<int>{0, 1, 2}));

  // The first snapshot each stage appears in never comes before that of a
  // lower stage.
  std::vector<std::size_t> firstSeen(9, seen.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    for (std::size_t k = 0; k < 9; ++k) {
      if (seen[i].stages[k] == '1' && firstSeen[k] == seen.size()) firstSeen[k] = i;
    }
  }
  for (std::size_t k = 1; k < 9; ++k) EXPECT_LE(firstSeen[k - 1], firstSeen[k]) << "stage " << k;

  bool firstDone = false;
  bool secondStartedClear = false;
  for (const Snapshot& s : seen) {
    if (s.attachmentIndex == 1 && s.stages[7] == '1') firstDone = true;
    if (s.attachmentIndex == 2 && s.stages[6] == '1' && s.stages[7] == '0')
      secondStartedClear = true;
    // Stage 7 is only ever set while an attachment has been started.
    if (s.stages[7] == '1') {
      EXPECT_EQ(s.stages[6], '1');
    }
  }
  EXPECT_TRUE(firstDone);
  EXPECT_TRUE(secondStartedClear);
  EXPECT_EQ(seen.back().stages, "11111111100000000000");
}

TEST_F(OneMailTest, LastPathWithoutLineEndIsNotAnAttachment) {
  Envelope(smtp);
  AcceptData(smtp);
  Open();
  MailRecord record = Record();
  record.attachmentList = textFile + "\r\n" + photo;

  EXPECT_EQ(mail.SendOneMail(record), 0);

  const std::string& received = smtp.Received();
  EXPECT_EQ(Count(received, Boundary()), 2u);  // the text part and a.txt
  EXPECT_EQ(Count(received, "image/jpeg"), 0u);
  EXPECT_EQ(Count(mail.transcript, Sjis("  添付[")), 1u);
}

TEST_F(OneMailTest, ZeroByteAttachmentFailsBeforeAnythingIsSent) {
  Open();
  MailRecord record = Record();
  record.popBeforeSmtp = 1;
  SetFieldText(mail.server.popServer, "pop.example.jp");
  record.attachmentList = emptyFile + "\r\n";

  EXPECT_EQ(mail.SendOneMail(record), 4);

  EXPECT_EQ(smtp.Received(), "");
  EXPECT_EQ(pop.Connects(), 0);
  EXPECT_EQ(mail.progress.stage[0], 0);
}

}  // namespace
}  // namespace velkaro
