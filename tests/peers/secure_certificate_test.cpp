// Certificates the SMTP connection must not trust, from a real receiver
// (aiosmtpd) presenting them: after the failed handshake nothing more may
// go to the server, least of all the password. A self-signed certificate
// the user pinned by its SHA-256 fingerprint is accepted.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "peers/peer_fixture.h"
#include "peers/secure_peers.h"

namespace velkaro::testing {
namespace {

struct CertCase {
  const char* name;
  const char* certificate;  // what the server presents
  SmtpSecurity security;
  const char* pinned;  // fingerprint of this test certificate set as trusted; "" none
  int wantCode;
  const char* wantProblem;  // part of the reason (UTF-8)
};

void PrintTo(const CertCase& c, std::ostream* os) {
  *os << c.name;
}

const CertCase kCertCases[] = {
    {"starttls_expired", "expired", SmtpSecurity::StartTls, "", 36, "期限切れ"},
    {"starttls_not_yet_valid", "notyet", SmtpSecurity::StartTls, "", 36, "有効期間の前"},
    {"starttls_wrong_host", "wronghost", SmtpSecurity::StartTls, "", 36, "サーバー名が一致しない"},
    {"starttls_self_signed", "selfsigned", SmtpSecurity::StartTls, "", 36, "自己署名"},
    {"implicit_expired", "expired", SmtpSecurity::Tls, "", 6, "期限切れ"},
    {"implicit_wrong_host", "wronghost", SmtpSecurity::Tls, "", 6, "サーバー名が一致しない"},
    {"implicit_self_signed", "selfsigned", SmtpSecurity::Tls, "", 6, "自己署名"},
    // A pin is for one certificate, not a switch that turns checking off.
    {"starttls_self_signed_other_pin", "selfsigned", SmtpSecurity::StartTls, "valid", 36,
     "自己署名"},
    {"starttls_self_signed_pinned", "selfsigned", SmtpSecurity::StartTls, "selfsigned", 0, ""},
    {"implicit_self_signed_pinned", "selfsigned", SmtpSecurity::Tls, "selfsigned", 0, ""},
};

class CertificateTest : public PeerTest, public ::testing::WithParamInterface<CertCase> {};

TEST_P(CertificateTest, UntrustedCertificateEndsTheConnectionBeforeAuth) {
  const CertCase& c = GetParam();
  ReceiverOptions server;
  server.certificate = c.certificate;
  server.requireStartTls = c.security == SmtpSecurity::StartTls;
  server.implicitTls = c.security == SmtpSecurity::Tls;
  server.authUser = kSmtpUser;
  server.authPassword = kSmtpPassword;
  server.capture = true;
  ASSERT_NO_FATAL_FAILURE(StartReceiver(server));
  MailConnection& m = NewConnection(Settings(receiver.port()));
  SecuritySettings security = Secure(c.security, SmtpAuthMode::Plain);
  if (*c.pinned != '\0') security.trustedFingerprint = Fingerprint(c.pinned);
  m.SetSecuritySettings(security);
  Shown shown;
  shown.Watch(m);

  const int code = m.SmtpOpen();
  ASSERT_EQ(code, c.wantCode) << Reason(m) << "\n" << shown.steps << m.GetTranscript();
  shown.ExpectNoSecretIn(m, kSmtpPassword);
  const std::string session = ReceiverSessionLog();
  if (code == 0) {
    EXPECT_EQ(
        m.SendOneMail(Record("固定した証明書", "本文\r\n", "受取人 鈴木", "suzuki@example.jp")), 0)
        << Reason(m);
    EXPECT_EQ(m.SmtpQuit(), 0);
    const auto messages = ReceivedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(First(Envelope(messages[0]), "tls"), "1");
    EXPECT_EQ(First(Envelope(messages[0]), "auth"), kSmtpUser);
    return;
  }

  EXPECT_NE(Reason(m).find(c.wantProblem), std::string::npos) << Reason(m);
  // The user needs the presented certificate's fingerprint to pin it.
  EXPECT_TRUE(ShowsFingerprint(Reason(m), Fingerprint(c.certificate))) << Reason(m);
  EXPECT_EQ(m.smtpOpen, 0);
  EXPECT_TRUE(ReceivedMessages().empty());
  EXPECT_EQ(session.find(">> b'AUTH"), std::string::npos) << session;
  EXPECT_EQ(session.find(">> b'MAIL"), std::string::npos) << session;

  const auto wire = WireCaptures();
  ASSERT_EQ(wire.size(), 1u);
  const std::string afterPlain =
      c.security == SmtpSecurity::StartTls ? ExpectOnlyEhloBeforeStartTls(wire[0]) : wire[0];
  // No QUIT, no AUTH in clear text after a handshake that failed half-way:
  // only the ClientHello and at most an alert.
  ExpectNoPlainCommands(afterPlain);
  ExpectNoSecret(wire[0], kSmtpPassword, "the bytes on the wire");
}

INSTANTIATE_TEST_SUITE_P(Peers, CertificateTest, ::testing::ValuesIn(kCertCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro::testing
