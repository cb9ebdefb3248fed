// POP before SMTP against scripted POP3 servers: login, logout and the
// whole STAT round, every code, byte for byte.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "mail/mail_connection.h"
#include "support/reply_timeout.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ScriptedServer;

const std::string kGreeting = "+OK POP3 server ready\r\n";
const std::string kUser = "USER taro\r\n";
const std::string kPass = "PASS s3cret\r\n";
const std::string kStat = "STAT\r\n";
const std::string kQuit = "QUIT\r\n";

using testing::ReplyTimeout;

using Script = std::function<void(ScriptedServer&)>;

struct PopCase {
  const char* name;
  Script script;
  std::string sent;  // everything the client must have sent
  int code;
};

void PrintTo(const PopCase& c, std::ostream* os) {
  *os << c.name;
}

std::string RowName(const ::testing::TestParamInfo<PopCase>& info) {
  return info.param.name;
}

// Greeting, USER and PASS accepted.
void LoggedIn(ScriptedServer& s) {
  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").Expect(kPass).Send("+OK logged in\r\n");
}

// The server's side of a QUIT that succeeds.
void QuitAccepted(ScriptedServer& s) {
  s.Expect(kQuit).Send("+OK bye\r\n");
}

class PopDialogueTest : public velkaro::testing::PlatformTest {
 protected:
  PopDialogueTest() {
    platform.SetSocketFactory([this] { return server.NewSocket(); });
    ServerSettings settings = DefaultServerSettings();
    SetFieldText(settings.popServer, "pop.example.jp");
    settings.popPort = 1110;
    SetFieldText(settings.popUser, "taro");
    SetFieldText(settings.popPassword, "s3cret");
    mail.SetServerSettings(settings);
    timeout.connection = &mail;
  }

  void ExpectSent(const std::string& bytes) {
    EXPECT_EQ(server.Received(), bytes) << velkaro::testing::Hex(server.Received());
    EXPECT_EQ(server.Mismatch(), "");
    EXPECT_TRUE(server.Finished());
  }

  ScriptedServer server;
  ReplyTimeout timeout;
  MailConnection mail{&timeout};
};

// --- PopLogin ---

class PopLoginRows : public PopDialogueTest, public ::testing::WithParamInterface<PopCase> {};

TEST_P(PopLoginRows, EndsWithTheCodeAndTheConnectionState) {
  const PopCase& row = GetParam();
  row.script(server);
  EXPECT_EQ(mail.PopLogin(), row.code);
  ExpectSent(row.sent);
  if (row.code == 0) {
    EXPECT_EQ(mail.popOpen, 1);
    ASSERT_NE(mail.popSocket, nullptr);
    EXPECT_TRUE(mail.popSocket->IsOpen());
  } else {
    EXPECT_EQ(mail.popOpen, 0);
    EXPECT_EQ(mail.popSocket, nullptr);
    EXPECT_EQ(server.ClientClosed(), row.code >= 3);
  }
  EXPECT_EQ(platform.RunningTimers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PopLoginRows,
    ::testing::Values(
        PopCase{"LoggedIn", LoggedIn, kUser + kPass, 0},
        PopCase{"SocketCannotBeCreated", [](ScriptedServer& s) { s.RefuseCreate(); }, "", 1},
        PopCase{"ConnectionRefused", [](ScriptedServer& s) { s.RefuseConnect(); }, "", 2},
        PopCase{"NoGreeting", [](ScriptedServer&) {}, "", 4},
        PopCase{"GreetingOfTwoBytesThenHangUp", [](ScriptedServer& s) { s.Send("+O").Close(); }, "",
                4},
        PopCase{"GreetingRefuses", [](ScriptedServer& s) { s.Send("-ERR too busy\r\n"); }, "", 3},
        PopCase{"GreetingInPieces",
                [](ScriptedServer& s) {
                  s.Send("+").Send("OK ready\r\n").Expect(kUser).Send("+OK\r\n");
                  s.Expect(kPass).Send("+OK\r\n");
                },
                kUser + kPass, 0},
        // Out of step (a half line, or a reply that may still come): the
        // connection is closed and nothing follows, not even QUIT.
        PopCase{"UserNotSentInFull", [](ScriptedServer& s) { s.Send(kGreeting).AcceptOnly(3); },
                "USE", 11},
        PopCase{"UserSendFails", [](ScriptedServer& s) { s.Send(kGreeting).AcceptOnly(0); }, "",
                11},
        PopCase{"UserUnanswered", [](ScriptedServer& s) { s.Send(kGreeting).Expect(kUser); }, kUser,
                13},
        PopCase{"HangUpAfterUser",
                [](ScriptedServer& s) { s.Send(kGreeting).Expect(kUser).Close(); }, kUser, 13},
        // One or two bytes are a reply here, and not a positive one.
        PopCase{"UserAnsweredWithTwoBytes",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+O");
                  QuitAccepted(s);
                },
                kUser + kQuit, 12},
        PopCase{"UserRejected",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("-ERR no such mailbox\r\n");
                  QuitAccepted(s);
                },
                kUser + kQuit, 12},
        PopCase{"PassSendFails",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").AcceptOnly(0);
                },
                kUser, 21},
        PopCase{"PassNotSentInFull",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").AcceptOnly(6);
                },
                kUser + "PASS s", 21},
        PopCase{"PassUnanswered",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").Expect(kPass);
                },
                kUser + kPass, 23},
        PopCase{"HangUpAfterPass",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").Expect(kPass).Close();
                },
                kUser + kPass, 23},
        PopCase{"PassAnsweredWithOneByteThenHangUp",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").Expect(kPass).Send("+").Close();
                },
                kUser + kPass, 22},
        PopCase{"PasswordRejected",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").Expect(kPass);
                  s.Send("-ERR invalid password\r\n");
                  QuitAccepted(s);
                },
                kUser + kPass + kQuit, 22}),
    RowName);

TEST_F(PopDialogueTest, LoginConnectsToTheConfiguredServerAndPausesBeforeUserAndPass) {
  LoggedIn(server);
  ASSERT_EQ(mail.PopLogin(), 0);
  EXPECT_EQ(server.Host(), "pop.example.jp");
  EXPECT_EQ(server.Port(), 1110);
  // 100 ms before USER and before PASS.
  EXPECT_EQ(platform.VirtualMs(), 200);
}

TEST_F(PopDialogueTest, LoginWhileLoggedInDoesNothing) {
  LoggedIn(server);
  ASSERT_EQ(mail.PopLogin(), 0);
  EXPECT_EQ(mail.PopLogin(), 100);
  EXPECT_EQ(server.Connects(), 1);
  ExpectSent(kUser + kPass);
}

// --- PopQuit ---

class PopQuitRows : public PopDialogueTest, public ::testing::WithParamInterface<PopCase> {};

TEST_P(PopQuitRows, EndsWithTheCodeAndAlwaysHangsUp) {
  const PopCase& row = GetParam();
  LoggedIn(server);
  row.script(server);
  ASSERT_EQ(mail.PopLogin(), 0);
  EXPECT_EQ(mail.PopQuit(), row.code);
  ExpectSent(kUser + kPass + row.sent);
  EXPECT_EQ(mail.popOpen, 0);
  EXPECT_EQ(mail.popSocket, nullptr);
  EXPECT_TRUE(server.ClientClosed());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PopQuitRows,
    ::testing::Values(PopCase{"Accepted", QuitAccepted, kQuit, 0},
                      PopCase{"NotSentInFull", [](ScriptedServer& s) { s.AcceptOnly(2); }, "QU", 1},
                      PopCase{"ServerGone", [](ScriptedServer& s) { s.Close(); }, "", 1},
                      PopCase{"Unanswered", [](ScriptedServer& s) { s.Expect(kQuit); }, kQuit, 3},
                      PopCase{"AnsweredWithTwoBytesThenHangUp",
                              [](ScriptedServer& s) { s.Expect(kQuit).Send("+O").Close(); }, kQuit,
                              3},
                      PopCase{"Rejected",
                              [](ScriptedServer& s) { s.Expect(kQuit).Send("-ERR not now\r\n"); },
                              kQuit, 2}),
    RowName);

TEST_F(PopDialogueTest, QuitWhenNotLoggedInSendsNothing) {
  EXPECT_EQ(mail.PopQuit(), 100);
  EXPECT_EQ(server.Connects(), 0);
  EXPECT_EQ(server.Received(), "");
}

// --- PopBeforeSmtp ---

class PopBeforeSmtpRows : public PopDialogueTest, public ::testing::WithParamInterface<PopCase> {};

TEST_P(PopBeforeSmtpRows, EndsWithTheCodeAndLoggedOut) {
  const PopCase& row = GetParam();
  row.script(server);
  EXPECT_EQ(mail.PopBeforeSmtp(), row.code);
  ExpectSent(row.sent);
  EXPECT_EQ(mail.popOpen, 0);
  EXPECT_EQ(mail.popSocket, nullptr);
  EXPECT_EQ(platform.RunningTimers(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, PopBeforeSmtpRows,
    ::testing::Values(
        PopCase{"Done",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat).Send("+OK 2 320\r\n");
                  QuitAccepted(s);
                },
                kUser + kPass + kStat + kQuit, 0},
        PopCase{"ServerUnreachable", [](ScriptedServer& s) { s.RefuseConnect(); }, "", 1},
        PopCase{"GreetingRefuses", [](ScriptedServer& s) { s.Send("-ERR busy\r\n"); }, "", 1},
        // The login already logged out; no second QUIT.
        PopCase{"PasswordRejected",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").Expect(kPass);
                  s.Send("-ERR invalid password\r\n");
                  QuitAccepted(s);
                },
                kUser + kPass + kQuit, 1},
        // The login dropped a connection out of step; PopBeforeSmtp sends
        // no QUIT on it either.
        PopCase{"PassUnanswered",
                [](ScriptedServer& s) {
                  s.Send(kGreeting).Expect(kUser).Send("+OK\r\n").Expect(kPass);
                },
                kUser + kPass, 1},
        // A STAT out of step gets no logout and keeps its own code.
        PopCase{"StatNotSentInFull",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.AcceptOnly(4);
                },
                kUser + kPass + "STAT", 10},
        PopCase{"StatUnanswered",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat);
                },
                kUser + kPass + kStat, 11},
        PopCase{"HangUpBeforeStatReply",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat).Close();
                },
                kUser + kPass + kStat, 11},
        PopCase{"StatAnsweredWithTwoBytes",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat).Send("+O");
                },
                kUser + kPass + kStat, 11},
        PopCase{"StatRejected",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat).Send("-ERR mailbox locked\r\n");
                  QuitAccepted(s);
                },
                kUser + kPass + kStat + kQuit, 12},
        PopCase{"StatRejectedAndQuitRejected",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat).Send("-ERR mailbox locked\r\n");
                  s.Expect(kQuit).Send("-ERR\r\n");
                },
                kUser + kPass + kStat + kQuit, 2},
        PopCase{"QuitRejected",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat).Send("+OK 0 0\r\n").Expect(kQuit).Send("-ERR\r\n");
                },
                kUser + kPass + kStat + kQuit, 2},
        PopCase{"HangUpAfterStat",
                [](ScriptedServer& s) {
                  LoggedIn(s);
                  s.Expect(kStat).Send("+OK 0 0\r\n").Close();
                },
                kUser + kPass + kStat, 2}),
    RowName);

TEST_F(PopDialogueTest, RoundPausesBeforeEachCommand) {
  LoggedIn(server);
  server.Expect(kStat).Send("+OK 2 320\r\n");
  QuitAccepted(server);
  ASSERT_EQ(mail.PopBeforeSmtp(), 0);
  // Login 200 ms, 10 ms before STAT, 50 ms before QUIT.
  EXPECT_EQ(platform.VirtualMs(), 260);
}

TEST_F(PopDialogueTest, RoundWhileLoggedInDoesNothing) {
  LoggedIn(server);
  ASSERT_EQ(mail.PopLogin(), 0);
  EXPECT_EQ(mail.PopBeforeSmtp(), 100);
  EXPECT_EQ(mail.popOpen, 1);
  ExpectSent(kUser + kPass);
}

}  // namespace
}  // namespace velkaro
