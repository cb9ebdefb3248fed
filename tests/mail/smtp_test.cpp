// The SMTP dialogue against scripted servers: every reply code, every
// failure of a step, replies in pieces and the time-outs, byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "mail/mail_connection.h"
#include "support/reply_timeout.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ScriptedServer;

const std::string kGreeting = "220 mail.example.jp ESMTP\r\n";
const std::string kEhlo = "EHLO localhost\r\n";
const std::string kMail = "MAIL FROM:<sender@example.jp>\r\n";
const std::string kRcpt = "RCPT TO:<taro@example.jp>\r\n";
const std::string kData = "DATA\r\n";
const std::string kEnd = "\r\n.\r\n";
const std::string kQuit = "QUIT\r\n";

using testing::ReplyTimeout;

using Script = std::function<void(ScriptedServer&)>;

// One row: what the server does, what the client must have sent (after the
// part common to the group), the code, the virtual time the call may take
// (-1: not checked), and whether the failure left the dialogue out of step
// so that the connection was dropped without QUIT.
struct DialogueCase {
  const char* name;
  Script script;
  std::string sent;
  int code;
  long long elapsedMs = -1;
  bool dropped = false;
};

void PrintTo(const DialogueCase& c, std::ostream* os) {
  *os << c.name;
}

std::string RowName(const ::testing::TestParamInfo<DialogueCase>& info) {
  return info.param.name;
}

// Greeting and EHLO accepted.
void Opened(ScriptedServer& s) {
  s.Send(kGreeting).Expect(kEhlo).Send("250 ok\r\n");
}

void EnvelopeAccepted(ScriptedServer& s) {
  s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt).Send("250 ok\r\n");
  s.Expect(kData).Send("354 end with <CRLF>.<CRLF>\r\n");
}

class SmtpDialogueTest : public velkaro::testing::PlatformTest {
 protected:
  SmtpDialogueTest() {
    platform.SetSocketFactory([this] { return server.NewSocket(); });
    ServerSettings settings = DefaultServerSettings();
    SetFieldText(settings.smtpServer, "mail.example.jp");
    settings.smtpPort = 587;
    SetFieldText(settings.senderAddress, "sender@example.jp");
    mail.SetServerSettings(settings);
    mail.recipientAddress = "taro@example.jp";
    timeout.connection = &mail;
  }

  // The periods of the reply timers started so far.
  std::vector<int> ReplyTimerPeriods() const {
    std::vector<int> periods;
    for (const auto& e : platform.TimerEvents()) {
      if (e.kind == TestPlatform::TimerEvent::Start && e.id == MailConnection::kReplyTimerId) {
        periods.push_back(e.periodMs);
      }
    }
    return periods;
  }

  void ExpectSent(const std::string& bytes) {
    EXPECT_EQ(server.Received(), bytes) << velkaro::testing::Hex(server.Received());
    EXPECT_EQ(server.Mismatch(), "");
  }

  // The connection is gone without a word, and the driver's QUIT finds
  // nothing to send on.
  void ExpectDroppedWithoutQuit() {
    EXPECT_EQ(mail.smtpOpen, 0);
    EXPECT_EQ(mail.smtpSocket, nullptr);
    EXPECT_TRUE(server.ClientClosed());
    EXPECT_EQ(mail.SmtpQuit(), 100);
  }

  ScriptedServer server;
  ReplyTimeout timeout;
  MailConnection mail{&timeout};
};

// --- SmtpOpen ---

class SmtpOpenRows : public SmtpDialogueTest, public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(SmtpOpenRows, EndsWithTheCodeAndTheConnectionState) {
  const DialogueCase& row = GetParam();
  row.script(server);
  const long long start = platform.VirtualMs();
  EXPECT_EQ(mail.SmtpOpen(), row.code);
  ExpectSent(row.sent);
  if (row.elapsedMs >= 0) {
    EXPECT_EQ(platform.VirtualMs() - start, row.elapsedMs);
  }
  EXPECT_EQ(server.Finished(), true);
  if (row.code == 0) {
    EXPECT_EQ(mail.smtpOpen, 1);
    ASSERT_NE(mail.smtpSocket, nullptr);
    EXPECT_TRUE(mail.smtpSocket->IsOpen());
  } else {
    EXPECT_EQ(mail.smtpOpen, 0);
    EXPECT_EQ(mail.smtpSocket, nullptr);
    // Once connected, every failure hangs up.
    EXPECT_EQ(server.ClientClosed(), row.code >= 3);
  }
  EXPECT_EQ(mail.replyWaiting, 0);
  EXPECT_EQ(platform.RunningTimers(), 0u);
}

const auto greeted = [](const std::string& then) {
  return [then](ScriptedServer& s) { s.Send(kGreeting).Expect(then); };
};

INSTANTIATE_TEST_SUITE_P(
    Codes, SmtpOpenRows,
    ::testing::Values(
        DialogueCase{"SocketCannotBeCreated", [](ScriptedServer& s) { s.RefuseCreate(); }, "", 1,
                     0},
        DialogueCase{"ConnectionRefused", [](ScriptedServer& s) { s.RefuseConnect(); }, "", 2, 0},
        DialogueCase{"NoGreeting", [](ScriptedServer&) {}, "", 3, 20000},
        DialogueCase{"HangUpWithoutGreeting", [](ScriptedServer& s) { s.Close(); }, "", 3, 0},
        DialogueCase{"GreetingOfOneByte", [](ScriptedServer& s) { s.Send("2"); }, "", 3, 20000},
        DialogueCase{"GreetingOfTwoBytesThenHangUp",
                     [](ScriptedServer& s) { s.Send("22").Close(); }, "", 3, 0},
        DialogueCase{"ServiceRefused", [](ScriptedServer& s) { s.Send("554 no service here\r\n"); },
                     "", 4, 0},
        DialogueCase{"GreetingOfCodeAlone",
                     [](ScriptedServer& s) { s.Send("220\r\n").Expect(kEhlo).Send("250 ok\r\n"); },
                     kEhlo, 0, 50},
        DialogueCase{"GreetingSplitInsideTheCode",
                     [](ScriptedServer& s) {
                       s.Send("22").Send("0 ready\r\n").Expect(kEhlo).Send("250 ok\r\n");
                     },
                     kEhlo, 0, 50},
        // The rest of a multi-line greeting must not be taken for the
        // answer to EHLO.
        DialogueCase{"MultiLineGreetingInSegments",
                     [](ScriptedServer& s) {
                       s.Send("220-mail.example.jp\r\n").Send("220 ready\r\n");
                       s.Expect(kEhlo).Send("250 ok\r\n");
                     },
                     kEhlo, 0, 50},
        DialogueCase{"MultiLineEhloReplyInSegments",
                     [](ScriptedServer& s) {
                       s.Send(kGreeting).Expect(kEhlo).Send("250-mail.example.jp\r\n");
                       s.Send("250-PIPE").Send("LINING\r\n250-8BITMIME\r").Send("\n250 SIZE\r\n");
                     },
                     kEhlo, 0, 50},
        // Out of step: a QUIT would complete the half line, or its answer
        // could be EHLO's late one. Nothing follows the failed EHLO.
        DialogueCase{"EhloNotSentInFull",
                     [](ScriptedServer& s) { s.Send(kGreeting).AcceptOnly(5); }, "EHLO ", 10, 50},
        DialogueCase{"EhloSendFails", [](ScriptedServer& s) { s.Send(kGreeting).AcceptOnly(0); },
                     "", 10, 50},
        DialogueCase{"EhloUnanswered", greeted(kEhlo), kEhlo, 11, 20050},
        DialogueCase{"EhloAnsweredWithTwoBytes",
                     [](ScriptedServer& s) {
                       greeted(kEhlo)(s);
                       s.Send("25");
                     },
                     kEhlo, 11, 20050},
        DialogueCase{"HangUpAfterEhlo",
                     [](ScriptedServer& s) {
                       greeted(kEhlo)(s);
                       s.Close();
                     },
                     kEhlo, 11, 50},
        DialogueCase{
            "EhloRejected",
            [](ScriptedServer& s) {
              greeted(kEhlo)(s);
              s.Send("502 5.5.1 command not implemented\r\n").Expect(kQuit).Send("221 bye\r\n");
            },
            kEhlo + kQuit, 12, 50}),
    RowName);

TEST_F(SmtpDialogueTest, OpenWhileOpenDoesNothing) {
  Opened(server);
  ASSERT_EQ(mail.SmtpOpen(), 0);
  EXPECT_EQ(mail.SmtpOpen(), 100);
  EXPECT_EQ(server.Connects(), 1);
  EXPECT_EQ(server.Host(), "mail.example.jp");
  EXPECT_EQ(server.Port(), 587);
  ExpectSent(kEhlo);
  EXPECT_EQ(mail.smtpOpen, 1);
}

// A reply far longer than the kept buffer is drained, so the next command
// reads its own reply.
TEST_F(SmtpDialogueTest, LongEhloReplyIsReadToItsEnd) {
  std::string longReply;
  for (int i = 0; i < 40; ++i)
    longReply += "250-X-EXTENSION-" + std::string(80, 'a' + i % 26) + "\r\n";
  longReply += "250 HELP\r\n";
  ASSERT_GT(longReply.size(), 3000u);
  server.Send(kGreeting).Expect(kEhlo).Send(longReply);
  server.Expect(kMail).Send("550 5.7.1 not today\r\n");
  ASSERT_EQ(mail.SmtpOpen(), 0);
  EXPECT_EQ(mail.SmtpSendEnvelope(), 3);
  ExpectSent(kEhlo + kMail);
  EXPECT_EQ(platform.VirtualMs(), 100);
}

// Were the later lines left in the socket, MAIL, RCPT and DATA would each
// read the previous reply and DATA would see "250" instead of "354".
TEST_F(SmtpDialogueTest, SegmentedEhloReplyLeavesNothingForTheEnvelope) {
  server.Send(kGreeting).Expect(kEhlo);
  server.Send("250-mail.example.jp\r\n").Send("250-PIPELINING\r\n").Send("250 8BITMIME\r\n");
  EnvelopeAccepted(server);
  ASSERT_EQ(mail.SmtpOpen(), 0);
  EXPECT_EQ(mail.SmtpSendEnvelope(), 0);
  ExpectSent(kEhlo + kMail + kRcpt + kData);
}

TEST_F(SmtpDialogueTest, WholeDialoguePacingAndPatience) {
  Opened(server);
  EnvelopeAccepted(server);
  server.Expect(kEnd).Send("250 2.0.0 queued\r\n").Expect(kQuit).Send("221 bye\r\n");
  ASSERT_EQ(mail.SmtpOpen(), 0);
  ASSERT_EQ(mail.SmtpSendEnvelope(), 0);
  ASSERT_EQ(mail.SmtpEndData(), 0);
  ASSERT_EQ(mail.SmtpQuit(), 0);
  ExpectSent(kEhlo + kMail + kRcpt + kData + kEnd + kQuit);
  // 50 ms before EHLO, MAIL, RCPT and DATA; none before end or QUIT.
  EXPECT_EQ(platform.VirtualMs(), 200);
  // Greeting, EHLO, MAIL, RCPT, DATA and end of data get 20 s each; QUIT
  // gets 300 s.
  EXPECT_EQ(ReplyTimerPeriods(),
            (std::vector<int>{20000, 20000, 20000, 20000, 20000, 20000, 300000}));
  EXPECT_EQ(platform.RunningTimers(), 0u);
}

// --- SmtpSendEnvelope ---

class SmtpEnvelopeRows : public SmtpDialogueTest,
                         public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(SmtpEnvelopeRows, EndsWithTheCodeAndTheConnectionState) {
  const DialogueCase& row = GetParam();
  Opened(server);
  row.script(server);
  ASSERT_EQ(mail.SmtpOpen(), 0);
  EXPECT_EQ(mail.SmtpSendEnvelope(), row.code);
  EXPECT_TRUE(server.Finished());
  if (row.dropped) {
    ExpectDroppedWithoutQuit();
  } else {
    // No RSET, no QUIT: the driver ends the run.
    EXPECT_EQ(mail.smtpOpen, 1);
    EXPECT_FALSE(server.ClientClosed());
  }
  // Not a byte after the failing command.
  ExpectSent(kEhlo + row.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SmtpEnvelopeRows,
    ::testing::Values(
        DialogueCase{"Accepted", EnvelopeAccepted, kMail + kRcpt + kData, 0},
        DialogueCase{"MailFromNotSentInFull", [](ScriptedServer& s) { s.AcceptOnly(7); }, "MAIL FR",
                     1, -1, true},
        DialogueCase{"ServerGoneBeforeMailFrom", [](ScriptedServer& s) { s.Close(); }, "", 1, -1,
                     true},
        DialogueCase{"MailFromUnanswered", [](ScriptedServer& s) { s.Expect(kMail); }, kMail, 2, -1,
                     true},
        DialogueCase{"HangUpBeforeMailFromReply",
                     [](ScriptedServer& s) { s.Expect(kMail).Close(); }, kMail, 2, -1, true},
        DialogueCase{
            "MailFromRejected",
            [](ScriptedServer& s) { s.Expect(kMail).Send("550 5.7.1 relaying denied\r\n"); }, kMail,
            3},
        DialogueCase{"RcptToSendFails",
                     [](ScriptedServer& s) { s.Expect(kMail).Send("250 ok\r\n").AcceptOnly(0); },
                     kMail, 11, -1, true},
        DialogueCase{"RcptToNotSentInFull",
                     [](ScriptedServer& s) { s.Expect(kMail).Send("250 ok\r\n").AcceptOnly(4); },
                     kMail + "RCPT", 11, -1, true},
        DialogueCase{"RcptToUnanswered",
                     [](ScriptedServer& s) { s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt); },
                     kMail + kRcpt, 12, -1, true},
        DialogueCase{"RcptToAnsweredWithTwoBytes",
                     [](ScriptedServer& s) {
                       s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt).Send("25").Close();
                     },
                     kMail + kRcpt, 12, -1, true},
        DialogueCase{
            "RcptToRejected",
            [](ScriptedServer& s) {
              s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt).Send("550 no such user\r\n");
            },
            kMail + kRcpt, 13},
        DialogueCase{
            "DataNotSentInFull",
            [](ScriptedServer& s) {
              s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt).Send("250 ok\r\n").AcceptOnly(3);
            },
            kMail + kRcpt + "DAT", 21, -1, true},
        DialogueCase{"HangUpBeforeDataReply",
                     [](ScriptedServer& s) {
                       s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt).Send("250 ok\r\n");
                       s.Expect(kData).Close();
                     },
                     kMail + kRcpt + kData, 22, -1, true},
        DialogueCase{"DataUnanswered",
                     [](ScriptedServer& s) {
                       s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt).Send("250 ok\r\n");
                       s.Expect(kData);
                     },
                     kMail + kRcpt + kData, 22, -1, true},
        DialogueCase{"DataAnsweredWithoutGoAhead",
                     [](ScriptedServer& s) {
                       s.Expect(kMail).Send("250 ok\r\n").Expect(kRcpt).Send("250 ok\r\n");
                       s.Expect(kData).Send("250 ok\r\n");
                     },
                     kMail + kRcpt + kData, 23}),
    RowName);

TEST_F(SmtpDialogueTest, EnvelopeOnAClosedConnectionTouchesNoSocket) {
  mail.recipientAddress = "taro@example.jp";
  EXPECT_EQ(mail.SmtpSendEnvelope(), 100);
  EXPECT_EQ(server.Connects(), 0);
  EXPECT_EQ(mail.smtpSocket, nullptr);
  EXPECT_EQ(platform.VirtualMs(), 0);
}

// --- SmtpEndData ---

class SmtpEndDataRows : public SmtpDialogueTest,
                        public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(SmtpEndDataRows, EndsWithTheCode) {
  const DialogueCase& row = GetParam();
  Opened(server);
  EnvelopeAccepted(server);
  row.script(server);
  ASSERT_EQ(mail.SmtpOpen(), 0);
  ASSERT_EQ(mail.SmtpSendEnvelope(), 0);
  const long long start = platform.VirtualMs();
  EXPECT_EQ(mail.SmtpEndData(), row.code);
  EXPECT_EQ(platform.VirtualMs() - start, row.elapsedMs);
  if (row.dropped) {
    ExpectDroppedWithoutQuit();
  } else {
    EXPECT_EQ(mail.smtpOpen, 1);
  }
  ExpectSent(kEhlo + kMail + kRcpt + kData + row.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SmtpEndDataRows,
    ::testing::Values(
        DialogueCase{"Accepted",
                     [](ScriptedServer& s) { s.Expect(kEnd).Send("250 2.0.0 queued as 4A1\r\n"); },
                     kEnd, 0, 0},
        // A QUIT after part of the terminator would be one more line of
        // the mail: the connection is dropped, and the server discards it.
        DialogueCase{"NotSentInFull", [](ScriptedServer& s) { s.AcceptOnly(2); }, "\r\n", 1, 0,
                     true},
        DialogueCase{"NotSentInFullUpToItsLastByte", [](ScriptedServer& s) { s.AcceptOnly(4); },
                     "\r\n.\r", 1, 0, true},
        DialogueCase{"ServerGone", [](ScriptedServer& s) { s.Close(); }, "", 1, 0, true},
        DialogueCase{"Unanswered", [](ScriptedServer& s) { s.Expect(kEnd); }, kEnd, 3, 20000, true},
        DialogueCase{"HangUpAfterTheTerminator", [](ScriptedServer& s) { s.Expect(kEnd).Close(); },
                     kEnd, 3, 0, true},
        DialogueCase{"AnsweredWithTwoBytes", [](ScriptedServer& s) { s.Expect(kEnd).Send("25"); },
                     kEnd, 3, 20000, true},
        DialogueCase{
            "Rejected",
            [](ScriptedServer& s) { s.Expect(kEnd).Send("554 5.6.0 message refused\r\n"); }, kEnd,
            2, 0}),
    RowName);

TEST_F(SmtpDialogueTest, EndOfDataWithoutAnyConnectionFailsAsUnsent) {
  EXPECT_EQ(mail.SmtpEndData(), 1);
  EXPECT_EQ(server.Connects(), 0);
}

// --- SmtpQuit ---

class SmtpQuitRows : public SmtpDialogueTest, public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(SmtpQuitRows, EndsWithTheCodeAndAlwaysHangsUp) {
  const DialogueCase& row = GetParam();
  Opened(server);
  row.script(server);
  ASSERT_EQ(mail.SmtpOpen(), 0);
  const long long start = platform.VirtualMs();
  EXPECT_EQ(mail.SmtpQuit(), row.code);
  ExpectSent(kEhlo + row.sent);
  EXPECT_EQ(platform.VirtualMs() - start, row.elapsedMs);
  EXPECT_EQ(mail.smtpOpen, 0);
  EXPECT_EQ(mail.smtpSocket, nullptr);
  EXPECT_TRUE(server.ClientClosed());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SmtpQuitRows,
    ::testing::Values(
        DialogueCase{"Answered221",
                     [](ScriptedServer& s) { s.Expect(kQuit).Send("221 2.0.0 bye\r\n"); }, kQuit, 0,
                     0},
        DialogueCase{"Answered250", [](ScriptedServer& s) { s.Expect(kQuit).Send("250 bye\r\n"); },
                     kQuit, 0, 0},
        DialogueCase{"AnsweredWithError",
                     [](ScriptedServer& s) { s.Expect(kQuit).Send("500 what?\r\n"); }, kQuit, 2, 0},
        DialogueCase{"NotSentInFull", [](ScriptedServer& s) { s.AcceptOnly(4); }, "QUIT", 1, 0},
        DialogueCase{"ServerGone", [](ScriptedServer& s) { s.Close(); }, "", 1, 0},
        DialogueCase{"AnsweredWithTwoBytesThenHangUp",
                     [](ScriptedServer& s) { s.Expect(kQuit).Send("22").Close(); }, kQuit, 3, 0},
        // Servers may deliver before answering QUIT: 300 s of patience.
        DialogueCase{"Unanswered", [](ScriptedServer& s) { s.Expect(kQuit); }, kQuit, 3, 300000}),
    RowName);

TEST_F(SmtpDialogueTest, QuitOnANeverOpenedConnectionSendsNothing) {
  EXPECT_EQ(mail.SmtpQuit(), 100);
  EXPECT_EQ(server.Connects(), 0);
  EXPECT_EQ(server.Received(), "");
}

// One connection carries every mail of a run.
TEST_F(SmtpDialogueTest, SecondMailReusesTheConnection) {
  Opened(server);
  for (int i = 0; i < 2; ++i) {
    EnvelopeAccepted(server);
    server.Expect(kEnd).Send("250 queued\r\n");
  }
  ASSERT_EQ(mail.SmtpOpen(), 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(mail.SmtpSendEnvelope(), 0);
    EXPECT_EQ(mail.SmtpEndData(), 0);
  }
  ExpectSent(kEhlo + kMail + kRcpt + kData + kEnd + kMail + kRcpt + kData + kEnd);
  EXPECT_EQ(server.Connects(), 1);
}

}  // namespace
}  // namespace velkaro
