// POP3 with TLS (STLS and TLS from the first byte) against scripted
// servers, and the SIZE limit a server advertises.
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

const std::string kGreeting = "+OK POP3 server ready\r\n";
const std::string kLogin = "USER taro\r\nPASS s3cret\r\n";
const std::string kTls = ScriptedServer::kTlsMarker;

TlsOutcome Untrusted() {
  TlsOutcome o;
  o.status = TlsOutcome::Untrusted;
  o.problem = CertProblem::SelfSigned;
  o.fingerprint = "AB:CD";
  return o;
}

void LoggedIn(ScriptedServer& s) {
  s.Expect("USER taro\r\n").Send("+OK\r\n").Expect("PASS s3cret\r\n").Send("+OK in\r\n");
}

struct PopTlsCase {
  const char* name;
  PopSecurity security;
  Script script;
  std::string sent;
  int code;
};

void PrintTo(const PopTlsCase& c, std::ostream* os) {
  *os << c.name;
}

const PopTlsCase kCases[] = {
    {"StlsThenLogin", PopSecurity::Stls,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect("STLS\r\n").Send("+OK begin TLS\r\n").Handshake();
       LoggedIn(s);
     },
     "STLS\r\n" + kTls + kLogin, 0},
    {"StlsRefusedNoPasswordInClear", PopSecurity::Stls,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect("STLS\r\n").Send("-ERR not supported\r\n");
       s.Expect("QUIT\r\n").Send("+OK\r\n");
     },
     "STLS\r\nQUIT\r\n", 33},
    {"StlsInjected", PopSecurity::Stls,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect("STLS\r\n").Send("+OK begin\r\n+OK evil\r\n").Handshake();
     },
     "STLS\r\n", 34},
    {"StlsCertificateRefused", PopSecurity::Stls,
     [](ScriptedServer& s) {
       s.Send(kGreeting).Expect("STLS\r\n").Send("+OK begin\r\n").Handshake(Untrusted());
     },
     "STLS\r\n" + kTls, 36},
    {"ImplicitTls", PopSecurity::Tls,
     [](ScriptedServer& s) {
       s.Handshake().Send(kGreeting);
       LoggedIn(s);
     },
     kTls + kLogin, 0},
    {"ImplicitTlsRefused", PopSecurity::Tls, [](ScriptedServer& s) { s.Handshake(Untrusted()); },
     kTls, 6},
};

class PopTlsTest : public velkaro::testing::PlatformTest,
                   public ::testing::WithParamInterface<PopTlsCase> {
 protected:
  PopTlsTest() {
    platform.SetSocketFactory([this] { return server.NewSocket(); });
    ServerSettings settings = DefaultServerSettings();
    SetFieldText(settings.popServer, "pop.example.jp");
    SetFieldText(settings.popUser, "taro");
    SetFieldText(settings.popPassword, "s3cret");
    mail.SetServerSettings(settings);
  }
  ScriptedServer server;
  MailConnection mail;
};

TEST_P(PopTlsTest, LogsInOnlyOverTls) {
  const PopTlsCase& c = GetParam();
  c.script(server);
  SecuritySettings security;
  security.popSecurity = c.security;
  mail.SetSecuritySettings(security);
  EXPECT_EQ(mail.PopLogin(), c.code);
  EXPECT_EQ(server.Received(), c.sent);
  EXPECT_EQ(server.Mismatch(), "");
  const std::string clear = server.Received().substr(0, server.Received().find(kTls));
  EXPECT_EQ(clear.find("PASS"), std::string::npos);
  if (c.code != 0) {
    EXPECT_EQ(mail.popOpen, 0);
    EXPECT_FALSE(mail.GetFailureReason().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PopTlsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A mail over the advertised SIZE is not offered at all: no MAIL FROM,
// code 6, the connection still in step for QUIT, and the reason names both
// sizes. One under the limit goes out.
TEST(SizeLimit, MailOverTheLimitIsNotSent) {
  struct Case {
    std::uint64_t limit;
    int code;
  };
  for (const Case c : {Case{5000, 6}, Case{50000000, 0}, Case{0, 0}}) {
    TestPlatform platform;
    ScopedPlatform scoped(platform);
    ScriptedServer smtp;
    if (c.code == 0) {
      smtp.Expect("MAIL FROM:<s@example.jp>\r\n").Send("250 ok\r\n");
      smtp.Expect("RCPT TO:<t@example.jp>\r\n").Send("250 ok\r\n");
      smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
    }
    MailConnection mail;
    SetFieldText(mail.server.senderAddress, "s@example.jp");
    mail.smtpSocket = smtp.NewSocket();
    ASSERT_TRUE(mail.smtpSocket->Connect("smtp.example.jp", 25));
    mail.smtpOpen = 1;
    mail.SetSpeed(100);
    mail.capabilities.sizeAdvertised = true;
    mail.capabilities.sizeLimit = c.limit;
    MailRecord record;
    record.subject = Sjis("件名");
    record.body = std::string(3000, 'a') + "\r\n";
    record.recipientName = Sjis("山田");
    record.recipientAddress = "t@example.jp";
    EXPECT_EQ(mail.SendOneMail(record), c.code) << c.limit;
    EXPECT_EQ(smtp.Mismatch(), "");
    if (c.code == 6) {
      EXPECT_EQ(smtp.Received(), "");
      EXPECT_EQ(mail.smtpOpen, 1);
      EXPECT_NE(SjisToUtf8(mail.GetFailureReason()).find("5000"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace velkaro
