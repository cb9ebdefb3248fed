// POP before SMTP with TLS against a real Dovecot: STLS on the POP3 port
// (RFC 2595) and TLS from the first byte (RFC 8314, port 995 style).
// Dovecot counts a login from 127.0.0.1 as secured even in clear text, so
// the proof of TLS is its login line's "TLS" mark.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "peers/peer_fixture.h"
#include "peers/secure_peers.h"

namespace velkaro::testing {
namespace {

// The part of Dovecot's login line that only a TLS session has.
bool LoggedInOverTls(const std::string& log) {
  const std::string login = "Login: user=<" + std::string(PeerTest::kPopUser) + ">";
  for (std::size_t at = log.find(login); at != std::string::npos; at = log.find(login, at + 1)) {
    const std::string line = log.substr(at, log.find('\n', at) - at);
    if (line.find(", TLS") != std::string::npos) return true;
  }
  return false;
}

struct PopTlsCase {
  const char* name;
  PopSecurity security;
  const char* certificate;  // what Dovecot presents
  const char* password;
  int wantLogin;  // PopLogin's code
  bool wantTlsLogin;
};

void PrintTo(const PopTlsCase& c, std::ostream* os) {
  *os << c.name;
}

const PopTlsCase kPopTlsCases[] = {
    {"stls", PopSecurity::Stls, "valid", PeerTest::kPopPassword, 0, true},
    {"implicit_tls", PopSecurity::Tls, "valid", PeerTest::kPopPassword, 0, true},
    // Refused over TLS all the same: PASS gets -ERR (22, as without TLS).
    {"stls_wrong_password", PopSecurity::Stls, "valid", "wrong-password", 22, false},
    {"stls_expired", PopSecurity::Stls, "expired", PeerTest::kPopPassword, 36, false},
    {"stls_wrong_host", PopSecurity::Stls, "wronghost", PeerTest::kPopPassword, 36, false},
    {"stls_self_signed", PopSecurity::Stls, "selfsigned", PeerTest::kPopPassword, 36, false},
    {"implicit_expired", PopSecurity::Tls, "expired", PeerTest::kPopPassword, 6, false},
    {"implicit_self_signed", PopSecurity::Tls, "selfsigned", PeerTest::kPopPassword, 6, false},
};

class PopTlsTest : public PeerTest, public ::testing::WithParamInterface<PopTlsCase> {};

TEST_P(PopTlsTest, LogsInOnlyOverTrustedTls) {
  const PopTlsCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDovecot(c.certificate));
  ServerSettings settings = Settings(1);
  if (c.security == PopSecurity::Tls) settings.popPort = dovecotTlsPort;
  SetFieldText(settings.popPassword, c.password);
  MailConnection& m = NewConnection(settings);
  SecuritySettings security;
  security.popSecurity = c.security;
  m.SetSecuritySettings(security);
  Shown shown;
  shown.Watch(m);

  const int login = m.PopLogin();
  EXPECT_EQ(login, c.wantLogin) << Reason(m) << "\n" << shown.steps << m.GetTranscript();
  if (m.popOpen == 1) {
    EXPECT_EQ(m.PopQuit(), 0);
  }
  EXPECT_EQ(m.popOpen, 0);
  ExpectNoSecret(m.GetTranscript(), c.password, "the transcript");
  ExpectNoSecret(shown.steps, c.password, "the step reports");
  if (c.wantTlsLogin) {
    EXPECT_TRUE(DovecotLogShows("Disconnected: Logged out", 5000)) << DovecotLog();
    EXPECT_TRUE(LoggedInOverTls(DovecotLog())) << DovecotLog();
  } else {
    EXPECT_EQ(DovecotLog().find("Login: user="), std::string::npos) << DovecotLog();
  }
  if (login == 36 || login == 6) {
    EXPECT_TRUE(ShowsFingerprint(Reason(m), Fingerprint(c.certificate))) << Reason(m);
    // USER must not follow a failed handshake.
    EXPECT_EQ(DovecotLog().find("user=<" + std::string(kPopUser) + ">"), std::string::npos)
        << DovecotLog();
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, PopTlsTest, ::testing::ValuesIn(kPopTlsCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The whole POP before SMTP step of a mail, then the mail over STARTTLS.
struct PopBeforeSmtpTlsCase {
  const char* name;
  PopSecurity security;
};

void PrintTo(const PopBeforeSmtpTlsCase& c, std::ostream* os) {
  *os << c.name;
}

const PopBeforeSmtpTlsCase kPopBeforeSmtpCases[] = {
    {"stls", PopSecurity::Stls},
    {"implicit_tls", PopSecurity::Tls},
};

class PopBeforeSmtpTlsTest : public PeerTest,
                             public ::testing::WithParamInterface<PopBeforeSmtpTlsCase> {};

TEST_P(PopBeforeSmtpTlsTest, LogsInOverTlsThenSends) {
  const PopBeforeSmtpTlsCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(StartDovecot("valid"));
  ReceiverOptions server;
  server.certificate = "valid";
  server.requireStartTls = true;
  ASSERT_NO_FATAL_FAILURE(StartReceiver(server));
  ServerSettings settings = Settings(receiver.port());
  if (c.security == PopSecurity::Tls) settings.popPort = dovecotTlsPort;
  MailConnection& m = NewConnection(settings);
  SecuritySettings security = Secure(SmtpSecurity::StartTls, SmtpAuthMode::None);
  security.popSecurity = c.security;
  m.SetSecuritySettings(security);

  EXPECT_EQ(m.PopBeforeSmtp(), 0) << Reason(m) << "\n" << m.GetTranscript();
  EXPECT_EQ(m.popOpen, 0);
  EXPECT_TRUE(DovecotLogShows("Disconnected: Logged out", 5000)) << DovecotLog();
  EXPECT_TRUE(LoggedInOverTls(DovecotLog())) << DovecotLog();

  // And as part of a mail.
  ASSERT_EQ(m.SmtpOpen(), 0) << Reason(m) << "\n" << m.GetTranscript();
  MailRecord record = Record("POPとTLS", "本文\r\n", "受取人 鈴木", "suzuki@example.jp");
  record.popBeforeSmtp = 1;
  EXPECT_EQ(m.SendOneMail(record), 0) << Reason(m) << "\n" << m.GetTranscript();
  EXPECT_EQ(m.GetProgress().popDone, 1);
  EXPECT_EQ(m.SmtpQuit(), 0);
  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(First(Envelope(messages[0]), "tls"), "1");
}

INSTANTIATE_TEST_SUITE_P(Peers, PopBeforeSmtpTlsTest, ::testing::ValuesIn(kPopBeforeSmtpCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro::testing
