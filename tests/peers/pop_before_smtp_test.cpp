// POP before SMTP against a real Dovecot POP3 server, then the mail to a
// real SMTP receiver (aiosmtpd).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "peers/peer_fixture.h"

namespace velkaro::testing {
namespace {

struct PopCase {
  const char* name;
  const char* popServer;  // "" leaves the POP step out
  const char* password;
  int popBeforeSmtp;
  int wantResult;
  bool wantLogin;       // Dovecot logged the user in (and out again)
  bool wantAuthFailed;  // Dovecot saw a wrong password
  int wantPopDone;
};

void PrintTo(const PopCase& c, std::ostream* os) {
  *os << c.name;
}

const PopCase kPopCases[] = {
    {"right_password", "127.0.0.1", PeerTest::kPopPassword, 1, 0, true, false, 1},
    {"wrong_password", "127.0.0.1", "wrong-password", 1, 5, false, true, 0},
    {"no_pop_server", "", "wrong-password", 1, 0, false, false, 0},
    {"not_asked_for", "127.0.0.1", "wrong-password", 0, 0, false, false, 0},
};

class PopBeforeSmtpTest : public PeerTest, public ::testing::WithParamInterface<PopCase> {};

TEST_P(PopBeforeSmtpTest, LogsInOnlyWhenAskedAndAllowed) {
  const PopCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDovecot());
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  ServerSettings settings = Settings(receiver.port());
  SetFieldText(settings.popServer, c.popServer);
  SetFieldText(settings.popPassword, c.password);
  MailConnection& m = NewConnection(settings);
  ASSERT_EQ(m.SmtpOpen(), 0);
  MailRecord record = Record("POP確認", "本文\r\n", "受取人 鈴木", "suzuki@example.jp");
  record.popBeforeSmtp = c.popBeforeSmtp;

  EXPECT_EQ(m.SendOneMail(record), c.wantResult) << m.GetTranscript();
  EXPECT_EQ(m.GetProgress().popDone, c.wantPopDone);
  EXPECT_EQ(m.popOpen, 0) << "the POP3 connection must be closed after the POP step";
  // A failed POP step happens before any SMTP command of the mail, so the
  // SMTP connection is still in a state that QUIT ends cleanly.
  EXPECT_EQ(m.SmtpQuit(), 0);

  EXPECT_EQ(ReceivedMessages().size(), c.wantResult == 0 ? 1u : 0u);
  if (c.wantLogin) {
    EXPECT_TRUE(DovecotLogShows("Login: user=<" + std::string(kPopUser) + ">", 5000))
        << DovecotLog();
    // "Logged out" is written only after QUIT got its reply.
    EXPECT_TRUE(DovecotLogShows("Disconnected: Logged out", 5000)) << DovecotLog();
  }
  if (c.wantAuthFailed) {
    EXPECT_TRUE(DovecotLogShows("auth failed", 5000)) << DovecotLog();
  }
  if (!c.wantLogin) {
    EXPECT_EQ(DovecotLog().find("Login: user="), std::string::npos) << DovecotLog();
  }
  if (!c.wantLogin && !c.wantAuthFailed) {
    EXPECT_EQ(DovecotLog().find("user=<" + std::string(kPopUser) + ">"), std::string::npos)
        << "the POP step should have been left out:\n"
        << DovecotLog();
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, PopBeforeSmtpTest, ::testing::ValuesIn(kPopCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A run asks for POP before SMTP on its first mail only; a second login on
// the same run must work as well (Dovecot must not hold the first one).
TEST_F(PeerTest, PopBeforeSmtpTwiceOnOneSmtpConnection) {
  ASSERT_NO_FATAL_FAILURE(StartDovecot());
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  MailConnection& m = NewConnection(Settings(receiver.port()));
  ASSERT_EQ(m.SmtpOpen(), 0);
  for (const char* to : {"a@example.jp", "b@example.jp"}) {
    MailRecord record = Record("二回目のPOP", "本文\r\n", "受取人 鈴木", to);
    record.popBeforeSmtp = 1;
    EXPECT_EQ(m.SendOneMail(record), 0) << m.GetTranscript();
  }
  EXPECT_EQ(m.SmtpQuit(), 0);
  EXPECT_EQ(ReceivedMessages().size(), 2u);
}

}  // namespace
}  // namespace velkaro::testing
