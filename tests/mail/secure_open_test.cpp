// Opening the SMTP connection with TLS and AUTH against scripted servers:
// each row gives the server's replies, the exact bytes the client must send
// (the marker <TLS> stands where the handshake happened, so whatever
// precedes it went out in clear text), the code and the reason's gist.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "core/encoding.h"
#include "mail/mail_connection.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ScriptedServer;
using Script = std::function<void(ScriptedServer&)>;

const std::string kGreeting = "220 mail.example.jp ESMTP\r\n";
const std::string kEhlo = "EHLO client.example.jp\r\n";
const std::string kEhloTls = "250-mail.example.jp\r\n250-STARTTLS\r\n250 SIZE 1000\r\n";
const std::string kEhloAuth = "250-mail.example.jp\r\n250-AUTH LOGIN PLAIN\r\n250 SIZE 1000\r\n";
const std::string kQuit = "QUIT\r\n";
const std::string kTls = ScriptedServer::kTlsMarker;
// "\0taro\0pa ss:wörd" and its pieces, Base64.
const std::string kPlain = "AUTH PLAIN AHRhcm8AcGEgc3M6d8O2cmQ=\r\n";
const std::string kLoginUser = "dGFybw==\r\n";
const std::string kLoginPass = "cGEgc3M6d8O2cmQ=\r\n";
const std::string kSecret = "pa ss:w\xC3\xB6rd";

TlsOutcome Refused(TlsOutcome::Status status, CertProblem problem = CertProblem::None) {
  TlsOutcome o;
  o.status = status;
  o.problem = problem;
  o.detail = status == TlsOutcome::HandshakeFailed ? "timed out" : "certificate has expired";
  o.fingerprint = "12:34:AB";
  return o;
}

struct OpenCase {
  const char* name;
  SmtpSecurity security;
  SmtpAuthMode auth;
  Script script;
  std::string sent;
  int code;
  std::string reason;  // a part of the failure reason (UTF-8); empty: none
  bool loopback = false;
  bool allowInsecure = false;
  std::string secret = kSecret;
};

void PrintTo(const OpenCase& c, std::ostream* os) {
  *os << c.name;
}

void StartTlsAccepted(ScriptedServer& s) {
  s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
  s.Expect("STARTTLS\r\n").Send("220 go ahead\r\n").Handshake();
  s.Expect(kEhlo).Send(kEhloAuth);
}

const OpenCase kCases[] = {
    {"PlainDefaults", SmtpSecurity::None, SmtpAuthMode::None,
     [](ScriptedServer& s) { s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls); }, kEhlo, 0, ""},
    {"StartTlsThenEhloAgain", SmtpSecurity::StartTls, SmtpAuthMode::None, StartTlsAccepted,
     kEhlo + "STARTTLS\r\n" + kTls + kEhlo, 0, ""},
    {"StartTlsNotOffered", SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloAuth).Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + kQuit, 30, "STARTTLS"},
    {"StartTlsRefused454", SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
       s.Expect("STARTTLS\r\n").Send("454 4.7.0 TLS not available\r\n");
       s.Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + "STARTTLS\r\n" + kQuit, 33, "454 4.7.0 TLS not available"},
    {"InjectedInSameSegment", SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
       s.Expect("STARTTLS\r\n").Send("220 go ahead\r\n250-evil\r\n").Handshake();
     },
     kEhlo + "STARTTLS\r\n", 34, "注入"},
    {"InjectedInNextSegment", SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
       s.Expect("STARTTLS\r\n").Send("220 go ahead\r\n").Send("250 AUTH PLAIN\r\n").Handshake();
     },
     kEhlo + "STARTTLS\r\n", 34, "注入"},
    {"HandshakeStalls", SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
       s.Expect("STARTTLS\r\n")
           .Send("220 go ahead\r\n")
           .Handshake(Refused(TlsOutcome::HandshakeFailed));
     },
     kEhlo + "STARTTLS\r\n" + kTls, 35, "timed out"},
    {"CertificateExpired", SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
       s.Expect("STARTTLS\r\n")
           .Send("220 go ahead\r\n")
           .Handshake(Refused(TlsOutcome::Untrusted, CertProblem::Expired));
     },
     kEhlo + "STARTTLS\r\n" + kTls, 36, "期限切れ)。証明書のSHA-256: 12:34:AB"},
    {"ImplicitTlsUntrusted", SmtpSecurity::Tls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) { s.Handshake(Refused(TlsOutcome::Untrusted, CertProblem::WrongHost)); },
     kTls, 6, "サーバー名が一致しない"},
    {"ImplicitTlsGarbage", SmtpSecurity::Tls, SmtpAuthMode::None,
     [](ScriptedServer& s) { s.Handshake(Refused(TlsOutcome::HandshakeFailed)); }, kTls, 5, "TLS"},
    {"ImplicitTlsAuthPlain", SmtpSecurity::Tls, SmtpAuthMode::Auto,
     [](ScriptedServer& s) {
       s.Handshake().Send(kGreeting).Expect(kEhlo).Send(kEhloAuth);
       s.Expect(kPlain).Send("235 2.7.0 ok\r\n");
     },
     kTls + kEhlo + kPlain, 0, ""},
    {"AuthLoginAfterStartTls", SmtpSecurity::StartTls, SmtpAuthMode::Login,
     [](ScriptedServer& s) {
       StartTlsAccepted(s);
       s.Expect("AUTH LOGIN\r\n").Send("334 VXNlcm5hbWU6\r\n");
       s.Expect(kLoginUser).Send("334 UGFzc3dvcmQ6\r\n");
       s.Expect(kLoginPass).Send("235 2.7.0 ok\r\n");
     },
     kEhlo + "STARTTLS\r\n" + kTls + kEhlo + "AUTH LOGIN\r\n" + kLoginUser + kLoginPass, 0, ""},
    {"AuthRefused535", SmtpSecurity::StartTls, SmtpAuthMode::Auto,
     [](ScriptedServer& s) {
       StartTlsAccepted(s);
       s.Expect(kPlain).Send("535 5.7.8 Authentication credentials invalid\r\n");
       s.Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + "STARTTLS\r\n" + kTls + kEhlo + kPlain + kQuit, 45,
     "535 5.7.8 Authentication credentials invalid"},
    {"AuthWithoutTlsRefusedHere", SmtpSecurity::None, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloAuth).Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + kQuit, 40, "暗号化されていない"},
    {"AuthWithoutTlsOnLoopback", SmtpSecurity::None, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloAuth).Expect(kPlain).Send("235 ok\r\n");
     },
     kEhlo + kPlain, 0, "", true},
    {"AuthWithoutTlsAllowed", SmtpSecurity::None, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloAuth).Expect(kPlain).Send("235 ok\r\n");
     },
     kEhlo + kPlain, 0, "", false, true},
    {"AutoWithNoKnownMechanism", SmtpSecurity::StartTls, SmtpAuthMode::Auto,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
       s.Expect("STARTTLS\r\n").Send("220 go ahead\r\n").Handshake();
       s.Expect(kEhlo).Send("250-mail.example.jp\r\n250 AUTH CRAM-MD5\r\n");
       s.Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + "STARTTLS\r\n" + kTls + kEhlo + kQuit, 41, "PLAIN"},
    {"NoSecret", SmtpSecurity::StartTls, SmtpAuthMode::Plain,
     [](ScriptedServer& s) {
       StartTlsAccepted(s);
       s.Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + "STARTTLS\r\n" + kTls + kEhlo + kQuit, 42, "パスワード", false, false, ""},
    {"XOAuth2RefusedWithChallenge", SmtpSecurity::StartTls, SmtpAuthMode::XOAuth2,
     [](ScriptedServer& s) {
       StartTlsAccepted(s);
       s.Expect(
            "AUTH XOAUTH2 "
            "dXNlcj10YXJvAWF1dGg9QmVhcmVyIHBhIHNzOnfDtnJkAQE=\r\n")
           .Send("334 eyJzdGF0dXMiOiI0MDEifQ==\r\n");
       s.Expect("\r\n").Send("535 5.7.8 token expired\r\n");
       s.Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + "STARTTLS\r\n" + kTls + kEhlo +
         "AUTH XOAUTH2 dXNlcj10YXJvAWF1dGg9QmVhcmVyIHBhIHNzOnfDtnJkAQE=\r\n\r\n" + kQuit,
     45, "535 5.7.8 token expired"},
    {"EhloAfterTlsRefused", SmtpSecurity::StartTls, SmtpAuthMode::None,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect(kEhlo).Send(kEhloTls);
       s.Expect("STARTTLS\r\n").Send("220 go ahead\r\n").Handshake();
       s.Expect(kEhlo).Send("554 no\r\n").Expect(kQuit).Send("221 bye\r\n");
     },
     kEhlo + "STARTTLS\r\n" + kTls + kEhlo + kQuit, 39, "554 no"},
};

class SecureOpenTest : public velkaro::testing::PlatformTest,
                       public ::testing::WithParamInterface<OpenCase> {
 protected:
  SecureOpenTest() {
    platform.SetSocketFactory([this] { return server.NewSocket(); });
    platform.SetHostName("client.example.jp");
    ServerSettings settings = DefaultServerSettings();
    SetFieldText(settings.smtpServer, "mail.example.jp");
    settings.smtpPort = 587;
    mail.SetServerSettings(settings);
  }

  ScriptedServer server;
  MailConnection mail;
};

TEST_P(SecureOpenTest, SendsExactlyTheScriptAndEndsWithTheCode) {
  const OpenCase& c = GetParam();
  c.script(server);
  server.SetPeerLoopback(c.loopback);
  SecuritySettings security;
  security.smtpSecurity = c.security;
  security.smtpAuth = c.auth;
  security.smtpUser = "taro";
  security.smtpSecret = c.secret;
  security.allowInsecureAuth = c.allowInsecure;
  mail.SetSecuritySettings(security);

  EXPECT_EQ(mail.SmtpOpen(), c.code);
  EXPECT_EQ(server.Received(), c.sent);
  EXPECT_EQ(server.Mismatch(), "");
  const std::string reason = SjisToUtf8(mail.GetFailureReason());
  if (c.reason.empty()) {
    EXPECT_EQ(reason, "");
  } else {
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
  }
  // The secret never reaches what the user is shown.
  EXPECT_EQ(reason.find("ss:w"), std::string::npos);
  EXPECT_EQ(mail.GetTranscript().find("ss:w"), std::string::npos);
  EXPECT_EQ(mail.smtpOpen, c.code == 0 ? 1 : 0);
  // When TLS was asked for, no credential may precede the handshake,
  // whatever the server does.
  if (c.security != SmtpSecurity::None) {
    const std::string clear = server.Received().substr(0, server.Received().find(kTls));
    EXPECT_EQ(clear.find("AUTH"), std::string::npos) << clear;
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, SecureOpenTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct EhloNameCase {
  std::string configured, hostName, localAddress, expected;
};

TEST(EhloName, FollowsTheOrderOfRfc5321) {
  const EhloNameCase cases[] = {
      {"relay.example.jp", "host.example.jp", "192.0.2.1", "relay.example.jp"},
      {"", "host.example.jp", "192.0.2.1", "host.example.jp"},
      {"", "host", "192.0.2.1", "[192.0.2.1]"},
      {"", "", "2001:db8::1", "[IPv6:2001:db8::1]"},
      {"", "", "127.0.0.1", "[127.0.0.1]"},
      {"", "", "", "localhost"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseEhloName(c.configured, c.hostName, c.localAddress), c.expected)
        << c.configured << "|" << c.hostName << "|" << c.localAddress;
  }
}

TEST(EhloReply, ReadsStartTlsAuthAndSize) {
  struct Case {
    std::string reply;
    bool startTls;
    std::string auth;  // mechanisms joined by ','
    bool sizeAdvertised;
    unsigned long long size;
  };
  const Case cases[] = {
      {"250-mx\r\n250-STARTTLS\r\n250-AUTH PLAIN LOGIN\r\n250 SIZE 35882577\r\n", true,
       "PLAIN,LOGIN", true, 35882577},
      {"250-mx\r\n250-auth=login plain\r\n250-AUTH LOGIN XOAUTH2\r\n250 size\r\n", false,
       "LOGIN,PLAIN,XOAUTH2", true, 0},
      // The greeting line's text is no keyword.
      {"250 STARTTLS\r\n", false, "", false, 0},
      {"250-mx\n250-starttls\n250 SIZE 12x\n", true, "", true, 0},
      {"250-mx\r\n550-STARTTLS\r\n250 8BITMIME\r\n", false, "", false, 0},
      // Only RFC 4422 names count; a bare CR inside a line is no separator.
      {"250-mx\r\n250-AUTH PLAIN\rX LOGIN ÜBER a-b_1\r\n", false, "LOGIN,A-B_1", false, 0},
      {"", false, "", false, 0},
  };
  for (const auto& c : cases) {
    const SmtpCapabilities caps = ParseEhloReply(c.reply);
    std::string auth;
    for (const auto& m : caps.authMechanisms) auth += (auth.empty() ? "" : ",") + m;
    EXPECT_EQ(caps.startTls, c.startTls) << c.reply;
    EXPECT_EQ(auth, c.auth) << c.reply;
    EXPECT_EQ(caps.sizeAdvertised, c.sizeAdvertised) << c.reply;
    EXPECT_EQ(caps.sizeLimit, c.size) << c.reply;
  }
}

TEST(SecurityWords, ParseTheSettingsValues) {
  EXPECT_EQ(ParseSmtpSecurity("starttls"), SmtpSecurity::StartTls);
  EXPECT_EQ(ParseSmtpSecurity("TLS"), std::nullopt);
  EXPECT_EQ(ParseSmtpAuth("xoauth2"), SmtpAuthMode::XOAuth2);
  EXPECT_EQ(ParsePopSecurity("stls"), PopSecurity::Stls);
  const std::string hex(64, 'a');
  std::string colons;
  for (int i = 0; i < 32; ++i) colons += std::string(i ? ":" : "") + "AA";
  EXPECT_EQ(NormaliseFingerprint(colons), hex);
  EXPECT_EQ(NormaliseFingerprint(""), "");
  EXPECT_EQ(NormaliseFingerprint("abc"), std::nullopt);
  EXPECT_EQ(NormaliseFingerprint(std::string(63, 'a') + "g"), std::nullopt);
}

}  // namespace
}  // namespace velkaro
