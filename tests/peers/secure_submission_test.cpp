// Mail submission with TLS and SMTP AUTH against a real receiver (aiosmtpd):
// STARTTLS (RFC 3207) and TLS from the first byte (RFC 8314), AUTH PLAIN,
// LOGIN and XOAUTH2 (RFC 4954), and what the user is told when the server
// refuses.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>

#include "peers/peer_fixture.h"
#include "peers/secure_peers.h"

namespace velkaro::testing {
namespace {

ReceiverOptions SubmissionServer(SmtpSecurity security) {
  ReceiverOptions o;
  o.certificate = "valid";
  o.requireStartTls = security == SmtpSecurity::StartTls;
  o.implicitTls = security == SmtpSecurity::Tls;
  o.authUser = kSmtpUser;
  o.authPassword = kSmtpPassword;
  o.authToken = kSmtpToken;
  o.capture = true;
  return o;
}

struct AuthCase {
  const char* name;
  SmtpSecurity security;
  SmtpAuthMode auth;
  const char* wantMechanism;  // "" any the server offers
};

void PrintTo(const AuthCase& c, std::ostream* os) {
  *os << c.name;
}

const AuthCase kAuthCases[] = {
    {"starttls_plain", SmtpSecurity::StartTls, SmtpAuthMode::Plain, "PLAIN"},
    {"starttls_login", SmtpSecurity::StartTls, SmtpAuthMode::Login, "LOGIN"},
    {"starttls_auto", SmtpSecurity::StartTls, SmtpAuthMode::Auto, ""},
    {"starttls_xoauth2", SmtpSecurity::StartTls, SmtpAuthMode::XOAuth2, "XOAUTH2"},
    {"implicit_plain", SmtpSecurity::Tls, SmtpAuthMode::Plain, "PLAIN"},
    {"implicit_login", SmtpSecurity::Tls, SmtpAuthMode::Login, "LOGIN"},
    {"implicit_auto", SmtpSecurity::Tls, SmtpAuthMode::Auto, ""},
    {"implicit_xoauth2", SmtpSecurity::Tls, SmtpAuthMode::XOAuth2, "XOAUTH2"},
};

class SecureSubmissionTest : public PeerTest, public ::testing::WithParamInterface<AuthCase> {};

TEST_P(SecureSubmissionTest, SendsOverTlsAsTheAuthenticatedUser) {
  const AuthCase& c = GetParam();
  const std::string secret = c.auth == SmtpAuthMode::XOAuth2 ? kSmtpToken : kSmtpPassword;
  ASSERT_NO_FATAL_FAILURE(StartReceiver(SubmissionServer(c.security)));
  MailConnection& m = NewConnection(Settings(receiver.port()));
  m.SetSecuritySettings(Secure(c.security, c.auth, secret));
  Shown shown;
  shown.Watch(m);

  ASSERT_EQ(m.SmtpOpen(), 0) << Reason(m) << "\n" << shown.steps << m.GetTranscript();
  EXPECT_EQ(m.GetFailureReason(), "");
  const std::time_t from = platform.Now();
  EXPECT_EQ(m.SendOneMail(Record("【暗号化】ご案内", "鈴木様\r\n.\r\nｶﾞｷﾞ 本文です。\r\n",
                                 "受取人 鈴木", "suzuki@example.jp")),
            0)
      << Reason(m) << "\n"
      << m.GetTranscript();
  const std::time_t until = platform.Now();
  EXPECT_EQ(m.SmtpQuit(), 0);

  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u) << ReceiverSessionLog();
  const MailReport r = Check(messages[0]);
  SCOPED_TRACE(r.Dump());
  ExpectWellFormed(r, from, until);
  EXPECT_EQ(r.Get("subject"), "【暗号化】ご案内");
  EXPECT_EQ(Normalized(r.Get("body")), "鈴木様\n.\nｶﾞｷﾞ 本文です。");
  EXPECT_EQ(r.Get("to.address"), "suzuki@example.jp");
  const auto envelope = Envelope(messages[0]);
  EXPECT_EQ(First(envelope, "tls"), "1");
  EXPECT_EQ(First(envelope, "auth"), kSmtpUser);
  if (*c.wantMechanism != '\0') {
    EXPECT_EQ(First(envelope, "auth_mechanism"), c.wantMechanism);
  }

  shown.ExpectNoSecretIn(m, secret);
  const auto wire = WireCaptures();
  ASSERT_EQ(wire.size(), 1u);
  if (c.security == SmtpSecurity::StartTls) {
    ExpectOnlyEhloBeforeStartTls(wire[0]);
  } else {
    EXPECT_EQ(wire[0].substr(0, 1), "\x16") << "the first byte is not a TLS handshake";
  }
  ExpectNoSecret(wire[0], secret, "the bytes on the wire");
}

INSTANTIATE_TEST_SUITE_P(Peers, SecureSubmissionTest, ::testing::ValuesIn(kAuthCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Refusals end the opening with the server's own words in the reason; a
// refusal that leaves the dialogue in step is followed by QUIT.
struct RefusalCase {
  const char* name;
  SmtpSecurity serverSecurity;  // None: plain receiver without TLS or AUTH
  SmtpSecurity security;
  SmtpAuthMode auth;
  const char* secret;
  int wantCode;
  const char* wantReason;  // part of the reason (UTF-8)
  bool wantQuit;           // the server read a QUIT afterwards
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.name;
}

const RefusalCase kRefusalCases[] = {
    {"wrong_password_plain", SmtpSecurity::StartTls, SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     "wrong-password", 45, "535 5.7.8 Authentication credentials invalid", true},
    {"wrong_password_login", SmtpSecurity::StartTls, SmtpSecurity::StartTls, SmtpAuthMode::Login,
     "wrong-password", 45, "535 5.7.8 Authentication credentials invalid", true},
    {"wrong_password_implicit_tls", SmtpSecurity::Tls, SmtpSecurity::Tls, SmtpAuthMode::Auto,
     "wrong-password", 45, "535 5.7.8 Authentication credentials invalid", true},
    // Gmail's form: a JSON status in a 334, the client's empty line, 535.
    // Without the empty line the server would take QUIT as the answer.
    {"wrong_token_xoauth2", SmtpSecurity::StartTls, SmtpSecurity::StartTls, SmtpAuthMode::XOAuth2,
     "expired-token", 45, "535-5.7.8 Username and Password not accepted", true},
    {"auth_before_required_starttls", SmtpSecurity::StartTls, SmtpSecurity::None,
     SmtpAuthMode::Plain, kSmtpPassword, 45, "530 Must issue a STARTTLS command first", true},
    // aiosmtpd offers AUTH only after STARTTLS, so "auto" finds nothing.
    {"auto_auth_before_required_starttls", SmtpSecurity::StartTls, SmtpSecurity::None,
     SmtpAuthMode::Auto, kSmtpPassword, 41, "", true},
    {"starttls_not_offered", SmtpSecurity::None, SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     kSmtpPassword, 30, "STARTTLS", true},
    // The server greets in clear text where a TLS record is expected.
    {"implicit_tls_to_plain_server", SmtpSecurity::None, SmtpSecurity::Tls, SmtpAuthMode::Plain,
     kSmtpPassword, 5, "TLS", false},
};

class SubmissionRefusalTest : public PeerTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SubmissionRefusalTest, EndsTheOpeningWithTheServersWords) {
  const RefusalCase& c = GetParam();
  ReceiverOptions server;
  server.capture = true;
  if (c.serverSecurity != SmtpSecurity::None) server = SubmissionServer(c.serverSecurity);
  ASSERT_NO_FATAL_FAILURE(StartReceiver(server));
  MailConnection& m = NewConnection(Settings(receiver.port()));
  m.SetSecuritySettings(Secure(c.security, c.auth, c.secret));
  Shown shown;
  shown.Watch(m);

  EXPECT_EQ(m.SmtpOpen(), c.wantCode) << Reason(m) << "\n" << shown.steps << m.GetTranscript();
  EXPECT_NE(Reason(m).find(c.wantReason), std::string::npos) << Reason(m);
  EXPECT_FALSE(m.GetFailureReason().empty());
  EXPECT_EQ(m.smtpOpen, 0) << "a failed opening must leave no connection behind";
  EXPECT_NE(m.SmtpSendEnvelope(), 0) << "MAIL went out on a connection that failed to open";
  shown.ExpectNoSecretIn(m, c.secret);

  EXPECT_TRUE(ReceivedMessages().empty());
  const std::string session = ReceiverSessionLog();
  EXPECT_EQ(session.find(">> b'MAIL"), std::string::npos) << session;
  if (c.wantQuit) {
    // Only a QUIT the server read as a command is logged; one taken as the
    // answer to a challenge is not.
    const auto wire = WireCaptures();
    ASSERT_EQ(wire.size(), 1u);
    EXPECT_NE(session.find(">> b'QUIT'"), std::string::npos) << session;
  }
}

INSTANTIATE_TEST_SUITE_P(Peers, SubmissionRefusalTest, ::testing::ValuesIn(kRefusalCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A server that wants STARTTLS first refuses MAIL from a client that set
// no security at all; the refusal must reach the user, not a bare code.
TEST_F(PeerTest, MailRefusedForWantOfStartTlsTellsTheServersWords) {
  ASSERT_NO_FATAL_FAILURE(StartReceiver(SubmissionServer(SmtpSecurity::StartTls)));
  MailConnection& m = NewConnection(Settings(receiver.port()));
  ASSERT_EQ(m.SmtpOpen(), 0) << m.GetTranscript();
  EXPECT_NE(m.SendOneMail(Record("平文", "本文\r\n", "受取人 鈴木", "suzuki@example.jp")), 0);
  EXPECT_NE(Reason(m).find("530 Must issue a STARTTLS command first"), std::string::npos)
      << Reason(m) << "\n"
      << m.GetTranscript();
  m.SmtpQuit();
  EXPECT_TRUE(ReceivedMessages().empty());
}

// The SIZE the server offers after STARTTLS (RFC 1870): a mail known to be
// larger is not sent at all, and the connection stays fit for the next,
// smaller mail.
TEST_F(PeerTest, MailOverTheSizeLimitIsNotSentAndTheConnectionGoesOn) {
  ReceiverOptions server = SubmissionServer(SmtpSecurity::StartTls);
  server.sizeLimit = 20000;
  ASSERT_NO_FATAL_FAILURE(StartReceiver(server));
  WriteBytes(dir.File("large.bin"), PseudoRandomBytes(40000, 7));
  MailConnection& m = NewConnection(Settings(receiver.port()));
  m.SetSecuritySettings(Secure(SmtpSecurity::StartTls, SmtpAuthMode::Auto));
  ASSERT_EQ(m.SmtpOpen(), 0) << Reason(m) << "\n" << m.GetTranscript();

  EXPECT_NE(m.SendOneMail(Record("大きい添付", "本文\r\n", "受取人 鈴木", "suzuki@example.jp",
                                 dir.File("large.bin") + "\r\n")),
            0);
  EXPECT_NE(Reason(m).find("20000"), std::string::npos) << Reason(m);
  EXPECT_EQ(ReceiverSessionLog().find(">> b'MAIL"), std::string::npos) << ReceiverSessionLog();
  m.ResetProgress();
  EXPECT_EQ(m.SendOneMail(Record("小さい本文", "本文\r\n", "受取人 鈴木", "suzuki@example.jp")), 0)
      << Reason(m) << "\n"
      << m.GetTranscript();
  EXPECT_EQ(m.SmtpQuit(), 0);
  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(Check(messages[0]).Get("subject"), "小さい本文");
}

// A run of ten mails goes over one STARTTLS connection with one login.
TEST_F(PeerTest, TenMailsShareOneStartTlsConnection) {
  ASSERT_NO_FATAL_FAILURE(StartReceiver(SubmissionServer(SmtpSecurity::StartTls)));
  MailConnection& m = NewConnection(Settings(receiver.port()));
  m.SetSecuritySettings(Secure(SmtpSecurity::StartTls, SmtpAuthMode::Auto));
  ASSERT_EQ(m.SmtpOpen(), 0) << Reason(m) << "\n" << m.GetTranscript();
  constexpr int kMails = 10;
  for (int i = 1; i <= kMails; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_EQ(m.SendOneMail(Record(n + "通目のご案内", "受取人" + n + "様\r\n本文\r\n",
                                   "受取人 " + n, "user" + n + "@example.jp")),
              0)
        << i << ": " << Reason(m) << "\n"
        << m.GetTranscript();
    m.ResetProgress();
  }
  EXPECT_EQ(m.SmtpQuit(), 0);

  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), static_cast<std::size_t>(kMails));
  std::set<std::string> peers;
  for (int i = 0; i < kMails; ++i) {
    const std::string n = std::to_string(i + 1);
    const auto envelope = Envelope(messages[i]);
    peers.insert(First(envelope, "peer"));
    EXPECT_EQ(First(envelope, "rcpt_to"), "user" + n + "@example.jp");
    EXPECT_EQ(First(envelope, "tls"), "1") << n;
    EXPECT_EQ(First(envelope, "auth"), kSmtpUser) << n;
    EXPECT_EQ(Check(messages[i]).Get("subject"), n + "通目のご案内");
  }
  EXPECT_EQ(peers.size(), 1u) << "the mails came over more than one connection";
  const auto wire = WireCaptures();
  EXPECT_EQ(wire.size(), 1u);
  const std::string session = ReceiverSessionLog();
  std::size_t logins = 0;
  for (std::size_t at = session.find(">> b'AUTH"); at != std::string::npos;
       at = session.find(">> b'AUTH", at + 1)) {
    ++logins;
  }
  EXPECT_EQ(logins, 1u) << session;
}

}  // namespace
}  // namespace velkaro::testing
