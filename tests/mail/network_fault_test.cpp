// One mail whose content cannot be sent in full: the server hangs up or
// takes only part of a send at every step of the data phase, the user stops
// it, or an attachment vanishes or reads short once the mail is under way.
// The bytes on the wire end exactly where the fault struck and are never
// ended with the end-of-data line: the connection is dropped, so the server
// discards the mail. A command of the envelope or the end of data that
// goes out in part or gets no reply leaves the dialogue out of step: the
// connection is dropped right after it, without QUIT. Also the POP3 login
// refusing user names and passwords that would end its command lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "support/reply_timeout.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ScriptedServer;
using testing::TempDir;
using testing::WriteBytes;

constexpr char kBoundary[] = "------_4A169B1D000000004107_MULTIPART_MIXED_";
const std::string kEnvelope =
    "MAIL FROM:<sales@example.jp>\r\nRCPT TO:<yamada@example.com>\r\nDATA\r\n";
const std::string kEndData = "\r\n.\r\n";
const std::string kDropped =
    Sjis("  送信を中断したため、SMTP接続を切断しました(このメールは配信されません)。\r\n");

void Envelope(ScriptedServer& server) {
  server.Expect("MAIL FROM:<sales@example.jp>\r\n").Send("250 ok\r\n");
  server.Expect("RCPT TO:<yamada@example.com>\r\n").Send("250 ok\r\n");
  server.Expect("DATA\r\n").Send("354 go ahead\r\n");
}

// The mail's bytes with its message id's sequence number moved on by one:
// what the next mail sends at the same virtual time.
std::string NextMessageId(const std::string& wire) {
  const std::regex id("(Message-Id: <[0-9]+\\.)([0-9]+)\\.");
  std::smatch match;
  if (!std::regex_search(wire, match, id)) return wire;
  const std::string next = std::to_string(std::stoul(match[2].str()) + 1);
  return match.prefix().str() + match[1].str() + next + "." + match.suffix().str();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class NetworkFaultTest : public testing::PlatformTest {
 protected:
  NetworkFaultTest() {
    platform.SetUtcOffset(9 * 3600);
    textFile = dir.File("a.txt");
    picture = dir.File("b.png");
    WriteBytes(textFile, std::string(100, 'A'));  // 136 Base64 bytes: 3 pieces
    WriteBytes(picture, "\x89PN");
  }

  // The same calendar time at the start of a whole virtual second, so two
  // mails sent one after the other carry the same Date field.
  void SetClock() {
    platform.Sleep(static_cast<int>(1000 - platform.VirtualMs() % 1000));
    platform.SetLocalTime(2026, 12, 8, 9, 30, 15);
  }

  // A connection in the state SmtpOpen leaves it, on `server`.
  std::unique_ptr<MailConnection> Open(ScriptedServer& server) {
    auto mail = std::make_unique<MailConnection>(&timeout);
    timeout.connection = mail.get();
    SetFieldText(mail->server.senderName, Sjis("営業部"));
    SetFieldText(mail->server.senderAddress, "sales@example.jp");
    mail->smtpSocket = server.NewSocket();
    mail->smtpSocket->Create();
    mail->smtpSocket->Connect("smtp.example.jp", 25);
    mail->smtpOpen = 1;
    return mail;
  }

  MailRecord Record(const std::string& attachments) const {
    MailRecord record;
    record.subject = Sjis("ご案内");
    record.body = Sjis("山田様\r\nこんにちは。\r\n");
    record.recipientName = Sjis("山田");
    record.recipientAddress = "yamada@example.com";
    record.attachmentList = attachments;
    return record;
  }

  // The bytes of the mail with both attachments when nothing goes wrong.
  std::string Reference() {
    ScriptedServer server;
    Envelope(server);
    server.ExpectThrough(kEndData).Send("250 queued\r\n");
    SetClock();
    EXPECT_EQ(Open(server)->SendOneMail(Record(BothFiles())), 0);
    return server.Received();
  }

  // After a failure inside the content: nothing ends the data, the
  // connection is dropped and the transcript says so.
  void ExpectDropped(const MailConnection& mail, const ScriptedServer& server) {
    EXPECT_EQ(server.Received().find(kEndData), std::string::npos);
    EXPECT_TRUE(server.ClientClosed());
    EXPECT_EQ(mail.smtpOpen, 0);
    EXPECT_EQ(mail.smtpSocket, nullptr);
    EXPECT_TRUE(EndsWith(mail.transcript, kDropped)) << SjisToUtf8(mail.transcript);
  }

  testing::ReplyTimeout timeout;

 public:
  // Rows of the file table reach the files through the fixture.
  std::string BothFiles() const { return textFile + "\r\n" + picture + "\r\n"; }
  TempDir dir;
  std::string textFile, picture;
};

// Where each step's first send begins in the reference mail: the first
// `marker` after the previous step, moved on by `offset`.
struct DataStep {
  const char* step;
  std::string marker;
  std::size_t offset;
  int code;    // the mail's code when the send fails
  bool paced;  // the paced sender sends the rest of a partial send
};

std::vector<DataStep> DataSteps() {
  const std::string boundaryLine = std::string("--") + kBoundary + "\r\n";
  return {
      {"From", "From: ", 0, 7, false},
      {"To", "To: ", 0, 7, false},
      {"Subject", "Subject: ", 0, 7, false},
      {"Date", "Date: ", 0, 7, false},
      {"MIME-Version", "MIME-Version: ", 0, 7, false},
      {"Content-Transfer-Encoding", "Content-Transfer-Encoding: ", 0, 7, false},
      {"Content-Type", "Content-Type: ", 0, 7, false},
      {"Message-Id", "Message-Id: ", 0, 7, false},
      {"X-Mailer", "X-Mailer: ", 0, 7, false},
      {"header end", "X-Mailer: Velkaro\r\n", 19, 7, false},
      {"text part header", boundaryLine, 0, 8, false},
      {"text part charset line", "Content-Type: text/plain", 0, 8, false},
      {"body", "\x1b$B", 0, 9, true},
      {"attachment 1 part header", boundaryLine, 0, 20, false},
      {"attachment 1 file name line", " filename=", 0, 20, false},
      {"attachment 1 content", "QUFB", 0, 21, true},
      {"attachment 2 part header", boundaryLine, 0, 20, false},
      {"attachment 2 content", "iVBO", 0, 21, true},
      {"closing boundary", std::string("--") + kBoundary + "--", 0, 22, false},
  };
}

// Where the first send of step `index` begins in `wire`.
std::size_t StepStart(const std::string& wire, const std::vector<DataStep>& steps,
                      std::size_t index) {
  std::size_t at = kEnvelope.size();
  for (std::size_t i = 0; i <= index; ++i) {
    const std::size_t found = wire.find(steps[i].marker, at);
    if (found == std::string::npos) return std::string::npos;
    at = found + steps[i].offset;
  }
  return at;
}

enum class Fault { Disconnect, Partial };

TEST_F(NetworkFaultTest, AFaultInsideTheContentLeavesItUnendedOnADroppedConnection) {
  const std::vector<DataStep> steps = DataSteps();
  testing::CaseCount cases;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const DataStep& step = steps[i];
    for (const Fault fault : {Fault::Disconnect, Fault::Partial}) {
      const std::string name = fault == Fault::Disconnect ? "disconnect" : "partial send";
      SCOPED_TRACE(name + " at " + step.step);
      cases.Add("data-phase " + name);
      const std::string reference = NextMessageId(Reference());
      const std::size_t cut = StepStart(reference, steps, i);
      ASSERT_NE(cut, std::string::npos);

      ScriptedServer server;
      Envelope(server);
      server.Expect(reference.substr(kEnvelope.size(), cut - kEnvelope.size()));
      if (fault == Fault::Disconnect) {
        server.Close();
      } else {
        server.AcceptOnly(3);
        if (step.paced) server.ExpectThrough(kEndData).Send("250 queued\r\n");
      }
      SetClock();
      const auto mail = Open(server);

      const bool sentInFull = fault == Fault::Partial && step.paced;
      EXPECT_EQ(mail->SendOneMail(Record(BothFiles())), sentInFull ? 0 : step.code);

      EXPECT_EQ(server.Mismatch(), "");
      EXPECT_TRUE(server.Finished());
      if (sentInFull) {
        EXPECT_EQ(server.Received(), reference);
        EXPECT_EQ(mail->smtpOpen, 1);
      } else {
        const std::size_t sent = fault == Fault::Disconnect ? cut : cut + 3;
        EXPECT_EQ(server.Received(), reference.substr(0, sent));
        ExpectDropped(*mail, server);
      }
    }
  }
}

// Half a command line in the server's buffer would swallow a QUIT ("MAIL
// FRQUIT"); after a hang-up or a time-out a late reply could be read as
// QUIT's. Not a byte follows the failing command, and the driver finds the
// connection closed.
TEST_F(NetworkFaultTest, AFaultAtACommandDropsTheConnectionRightAfterIt) {
  const std::string lines[] = {"MAIL FROM:<sales@example.jp>\r\n",
                               "RCPT TO:<yamada@example.com>\r\n", "DATA\r\n", kEndData};
  const std::string replies[] = {"250 ok\r\n", "250 ok\r\n", "354 go ahead\r\n"};
  enum class CommandFault { GoneBeforeIt, Partial, HangUp, Stall };
  const auto kindOf = [](CommandFault fault) {
    switch (fault) {
      case CommandFault::Partial: return "smtp partial send";
      case CommandFault::Stall: return "smtp stall";
      default: return "smtp disconnect";
    }
  };
  struct CommandRow {
    const char* name;
    std::size_t step;  // index into `lines`
    CommandFault fault;
    int code;
    std::size_t sentOfLine;  // bytes of the failing line the server got
  };
  using F = CommandFault;
  const CommandRow rows[] = {
      {"server gone before MAIL", 0, F::GoneBeforeIt, 6, 0},
      {"MAIL taken in part", 0, F::Partial, 6, 3},
      {"hang-up after MAIL", 0, F::HangUp, 6, lines[0].size()},
      {"MAIL unanswered", 0, F::Stall, 6, lines[0].size()},
      {"RCPT taken in part", 1, F::Partial, 6, 3},
      {"hang-up after RCPT", 1, F::HangUp, 6, lines[1].size()},
      {"RCPT unanswered", 1, F::Stall, 6, lines[1].size()},
      {"DATA taken in part", 2, F::Partial, 6, 3},
      {"hang-up after DATA", 2, F::HangUp, 6, lines[2].size()},
      {"DATA unanswered", 2, F::Stall, 6, lines[2].size()},
      {"server gone before the end of data", 3, F::GoneBeforeIt, 11, 0},
      {"end of data taken in part", 3, F::Partial, 11, 3},
      {"hang-up after the end of data", 3, F::HangUp, 11, kEndData.size()},
      {"end of data unanswered", 3, F::Stall, 11, kEndData.size()},
  };
  testing::CaseCount cases;
  for (const CommandRow& row : rows) {
    SCOPED_TRACE(row.name);
    cases.Add(kindOf(row.fault));
    const std::string reference = NextMessageId(Reference());
    const std::size_t endStart = reference.size() - kEndData.size();
    ScriptedServer server;
    std::string before;  // what precedes the failing line on the wire
    for (std::size_t i = 0; i < row.step && i < 3; ++i) {
      server.Expect(lines[i]).Send(replies[i]);
      before += lines[i];
    }
    if (row.step == 3) {
      before = reference.substr(0, endStart);
      server.Expect(before.substr(kEnvelope.size()));
    }
    switch (row.fault) {
      case F::GoneBeforeIt: server.Close(); break;
      case F::Partial: server.AcceptOnly(static_cast<int>(row.sentOfLine)); break;
      case F::HangUp: server.Expect(lines[row.step]).Close(); break;
      case F::Stall: server.Expect(lines[row.step]); break;
    }
    SetClock();
    const auto mail = Open(server);

    EXPECT_EQ(mail->SendOneMail(Record(BothFiles())), row.code);

    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_TRUE(server.Finished());
    EXPECT_TRUE(server.ClientClosed());
    EXPECT_EQ(mail->smtpOpen, 0);
    EXPECT_EQ(mail->smtpSocket, nullptr);
    EXPECT_EQ(mail->SmtpQuit(), 100);
    EXPECT_EQ(server.Received(), before + lines[row.step].substr(0, row.sentOfLine))
        << testing::Hex(server.Received());
  }
}

TEST_F(NetworkFaultTest, StopDuringAnAttachmentDropsTheConnection) {
  testing::CaseCount cases;
  cases.Add("stop");
  ScriptedServer server;
  Envelope(server);
  SetClock();
  const auto mail = Open(server);
  bool asked = false;
  platform.SetPumpHook([&] {
    if (!asked && mail->progress.sendingData == 1 && mail->progress.attachmentIndex == 1) {
      asked = true;
      mail->RequestStop();
    }
  });

  EXPECT_EQ(mail->SendOneMail(Record(BothFiles())), 21);

  ASSERT_TRUE(asked);
  // The piece in flight when the stop came went out; nothing after it.
  const std::string base64 = Zentool().ZenBase64Encode(std::string(100, 'A'));
  EXPECT_TRUE(EndsWith(server.Received(), base64.substr(64, 64) + "\r\n"));
  EXPECT_EQ(server.Received().find("iVBO"), std::string::npos);
  ExpectDropped(*mail, server);
}

// Files are checked before the envelope; one that changes after that is
// only found out while the mail is under way.
TEST_F(NetworkFaultTest, AnAttachmentThatChangesDuringTheMailFailsIt) {
  const std::string shortReader = "/sys/devices/system/cpu/online";
  struct FileRow {
    const char* name;
    std::function<std::string(NetworkFaultTest&)> attachments;
    int whileSending;  // the part being sent when `change` runs (0 body)
    std::function<void(NetworkFaultTest&)> change;
    int code;
    std::string lastSent;  // the server received this last
  };
  const std::string jisBody = "\x1b$B;3EDMM\x1b(B\r\n\x1b$B$3$s$K$A$O!#\x1b(B\r\n";
  const auto both = [](NetworkFaultTest& t) { return t.BothFiles(); };
  const FileRow rows[] = {
      {"first attachment removed", both, 0,
       [](NetworkFaultTest& t) { std::filesystem::remove(t.textFile); }, 20, jisBody},
      {"first attachment emptied", both, 0, [](NetworkFaultTest& t) { WriteBytes(t.textFile, ""); },
       20, jisBody},
      {"second attachment removed", both, 1,
       [](NetworkFaultTest& t) { std::filesystem::remove(t.picture); }, 20, "QUFBQQ==\r\n"},
      // A file cut shorter but not empty is read at its new size: the part
      // is the whole file as it is when read.
      {"first attachment shortened", both, 0,
       [](NetworkFaultTest& t) { WriteBytes(t.textFile, "xyz"); }, 0, kEndData},
      // A file that reads shorter than the size it reports: kernel files
      // report a page and hold a few bytes.
      {"attachment reads short", [&](NetworkFaultTest&) { return shortReader + "\r\n"; }, 0,
       [](NetworkFaultTest&) {}, 21, "base64\r\n\r\n\r\n"},
  };
  testing::CaseCount cases;
  for (const FileRow& row : rows) {
    SCOPED_TRACE(row.name);
    // Last row: the machine may have no such file.
    if (row.code == 21 && Zentool().ZenGetFileSize(shortReader) <= 64) {
      GTEST_SKIP() << shortReader << " does not read short here";
    }
    cases.Add("attachment changes mid-mail");
    WriteBytes(textFile, std::string(100, 'A'));
    WriteBytes(picture, "\x89PN");
    ScriptedServer server;
    Envelope(server);
    if (row.code == 0) server.ExpectThrough(kEndData).Send("250 queued\r\n");
    SetClock();
    const auto mail = Open(server);
    bool changed = false;
    platform.SetPumpHook([&] {
      if (!changed && mail->progress.sendingData == 1 &&
          mail->progress.attachmentIndex == row.whileSending) {
        changed = true;
        row.change(*this);
      }
    });

    EXPECT_EQ(mail->SendOneMail(Record(row.attachments(*this))), row.code);

    platform.SetPumpHook(nullptr);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(EndsWith(server.Received(), row.lastSent)) << server.Received();
    if (row.code == 0) {
      EXPECT_NE(server.Received().find("eHl6\r\n"), std::string::npos);  // "xyz"
    } else {
      ExpectDropped(*mail, server);
    }
  }
}

// A CR or LF in the POP3 user or password would end the USER or PASS line
// early and send the rest as a command of its own.
TEST_F(NetworkFaultTest, PopLoginRefusesCredentialsThatWouldEndTheLine) {
  struct CredentialRow {
    const char* name;
    std::string user;
    std::string password;
    int code;
    const char* transcript;
  };
  const CredentialRow rows[] = {
      {"user with CR LF and a command", "taro\r\nDELE 1", "pw", 11, "POP3ユーザー名"},
      {"user with a bare LF", "taro\n", "pw", 11, "POP3ユーザー名"},
      {"user with a bare CR", "ta\rro", "pw", 11, "POP3ユーザー名"},
      {"both unusable: the user is named", "a\nb", "c\nd", 11, "POP3ユーザー名"},
      {"password with CR LF and a command", "taro", "pw\r\nQUIT", 21, "POP3パスワード"},
      {"password with a bare LF", "taro", "\npw", 21, "POP3パスワード"},
      {"password with a bare CR", "taro", "pw\r", 21, "POP3パスワード"},
  };
  testing::CaseCount cases;
  for (const CredentialRow& row : rows) {
    SCOPED_TRACE(row.name);
    cases.Add("pop3 credentials");
    ScriptedServer server;
    platform.SetSocketFactory([&] { return server.NewSocket(); });
    MailConnection mail(&timeout);
    timeout.connection = &mail;
    SetFieldText(mail.server.popServer, "pop.example.jp");
    SetFieldText(mail.server.popUser, row.user);
    SetFieldText(mail.server.popPassword, row.password);

    EXPECT_EQ(mail.PopLogin(), row.code);
    EXPECT_EQ(mail.PopBeforeSmtp(), 1);

    EXPECT_EQ(server.Connects(), 0);
    EXPECT_EQ(server.Received(), "");
    EXPECT_EQ(mail.popOpen, 0);
    EXPECT_NE(SjisToUtf8(mail.transcript).find(row.transcript), std::string::npos);
  }
}

}  // namespace
}  // namespace velkaro
