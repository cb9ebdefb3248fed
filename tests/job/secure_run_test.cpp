// A run with the settings of "Velkaro.ini": TLS and AUTH reach the
// dialogue, the secret is found in its sources' order and never shows in
// the status texts, the log or the details, and a TLS failure ends the run
// with 10 and says why.
#include <gtest/gtest.h>

#include <cstdlib>

#include "core/encoding.h"
#include "job/send_job.h"
#include "job/server_check.h"
#include "job/smtp_credentials.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::ScriptedServer;

const char* const kSecret = "s3cret-token";
// "\0taro\0s3cret-token"
const std::string kPlain = "AUTH PLAIN AHRhcm8AczNjcmV0LXRva2Vu\r\n";

class SecureRunTest : public testing::PlatformTest {
 protected:
  SecureRunTest() {
    unsetenv(kPasswordEnvironment);
    platform.SetProgramFolder(dir.path());
    platform.SetLocalTime(2026, 12, 6, 9, 30, 15);
    platform.SetHostName("client.example.jp");
    settings = std::make_unique<Settings>();
    SetFieldText(settings->record.server.smtpServer, "smtp.test");
    SetFieldText(settings->record.server.popUser, "taro");
    SetFieldText(settings->record.server.senderAddress, "from@example.jp");
    SetFieldText(settings->record.server.senderName, Sjis("差出人"));
    job = std::make_unique<SendJob>(*settings);
    job->recipientLines = Sjis("よみ\t登録\t山田\tyamada@example.jp\t\t\t\t\t\t\r\n");
    job->bodyText = Sjis("件名\r\n本文\r\n");
    platform.SetSocketFactory([this] { return smtp.NewSocket(); });
  }
  ~SecureRunTest() override { unsetenv(kPasswordEnvironment); }

  void StartTlsAndAuth() {
    smtp.Send("220 ready\r\n").Expect("EHLO client.example.jp\r\n");
    smtp.Send("250-smtp.test\r\n250-STARTTLS\r\n250 AUTH PLAIN\r\n");
    smtp.Expect("STARTTLS\r\n").Send("220 go\r\n").Handshake();
    smtp.Expect("EHLO client.example.jp\r\n").Send("250-smtp.test\r\n250 AUTH PLAIN LOGIN\r\n");
  }

  std::string Everything() const {
    std::string all = SjisToUtf8(job->DetailsText());
    for (const auto& s : platform.StatusTexts()) all += SjisToUtf8(s);
    all += SjisToUtf8(ReadBytes(dir.File("Log/log202612.txt")));
    return all;
  }

  testing::TempDir dir;
  ScriptedServer smtp;
  std::unique_ptr<Settings> settings;
  std::unique_ptr<SendJob> job;
};

TEST_F(SecureRunTest, SendsThroughStartTlsAndAuthWithTheStoredSecret) {
  settings->ini.Set("smtpSecurity", "starttls");
  settings->ini.Set("smtpAuth", "auto");
  platform.SetStoredSecret(SecretAccount("taro", "smtp.test"), kSecret);
  StartTlsAndAuth();
  smtp.Expect(kPlain).Send("235 ok\r\n");
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<yamada@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");

  EXPECT_EQ(job->RunSendJob(), 0);
  EXPECT_EQ(smtp.Mismatch(), "");
  EXPECT_EQ(Everything().find(kSecret), std::string::npos);
}

TEST_F(SecureRunTest, ARefusedLoginEndsTheRunWithTenAndTheServersWords) {
  settings->ini.Set("smtpSecurity", "starttls");
  settings->ini.Set("smtpAuth", "plain");
  setenv(kPasswordEnvironment, kSecret, 1);
  StartTlsAndAuth();
  smtp.Expect(kPlain).Send("535 5.7.8 Username and Password not accepted\r\n");
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");

  EXPECT_EQ(job->RunSendJob(), 10);
  const std::string status = SjisToUtf8(platform.StatusTexts().back());
  EXPECT_EQ(status,
            "メール送信でエラー検出 RetCode=10 サーバーの応答: 535 5.7.8 Username and Password "
            "not accepted");
  EXPECT_NE(Everything().find("535 5.7.8"), std::string::npos);
  EXPECT_EQ(Everything().find(kSecret), std::string::npos);
}

TEST_F(SecureRunTest, AnUntrustedCertificateEndsTheRunBeforeAnyCredential) {
  settings->ini.Set("smtpSecurity", "tls");
  settings->ini.Set("smtpAuth", "auto");
  setenv(kPasswordEnvironment, kSecret, 1);
  TlsOutcome refused;
  refused.status = TlsOutcome::Untrusted;
  refused.problem = CertProblem::UnknownIssuer;
  refused.fingerprint = "AB:CD:EF";
  smtp.Handshake(refused);

  EXPECT_EQ(job->RunSendJob(), 10);
  EXPECT_EQ(smtp.Received(), ScriptedServer::kTlsMarker);
  const std::string status = SjisToUtf8(platform.StatusTexts().back());
  EXPECT_NE(status.find("発行者が不明"), std::string::npos) << status;
  EXPECT_NE(status.find("AB:CD:EF"), std::string::npos) << status;
}

// The sources in their order: each row leaves out the ones before it.
TEST_F(SecureRunTest, TheSecretComesFromTheFirstSourceThatHasOne) {
  struct Row {
    const char* name;
    const char* environment;
    std::optional<std::string> commandOutput;
    const char* stored;
    const char* inIni;
    std::string expected;
  };
  const Row rows[] = {
      {"environment first", "from-env", "from-command", "from-store", "from-ini", "from-env"},
      {"then the command", nullptr, "from-command", "from-store", "from-ini", "from-command"},
      {"a command that printed nothing", nullptr, "", "from-store", "from-ini", "from-store"},
      {"then the secret store", nullptr, std::nullopt, "from-store", "from-ini", "from-store"},
      {"then the ini file", nullptr, std::nullopt, nullptr, "from-ini", "from-ini"},
      {"last the POP password", nullptr, std::nullopt, nullptr, "", "pop-pass"},
  };
  SetFieldText(settings->record.server.popPassword, "pop-pass");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TestPlatform local;
    ScopedPlatform scoped(local);
    if (row.environment) {
      setenv(kPasswordEnvironment, row.environment, 1);
    } else {
      unsetenv(kPasswordEnvironment);
    }
    VelkaroIni ini;
    ini.Set("smtpPasswordCommand", "pass show mail");
    local.SetPasswordCommandOutput("pass show mail", row.commandOutput);
    if (row.stored) local.SetStoredSecret(SecretAccount("taro", "smtp.test"), row.stored);
    ini.SetStoredPassword(row.inIni);
    EXPECT_EQ(FindSmtpSecret(ini, "taro", settings->record.server), row.expected);
  }
}

TEST_F(SecureRunTest, NoSecretIsLookedForWithoutAuth) {
  platform.SetPasswordCommandOutput("echo x", "x");
  settings->ini.Set("smtpPasswordCommand", "echo x");
  const SecuritySettings security = SecurityForRun(settings->ini, settings->record.server);
  EXPECT_EQ(security.smtpSecret, "");
  EXPECT_TRUE(platform.PasswordCommandsRun().empty());
  EXPECT_EQ(security.smtpUser, "taro");
}

TEST_F(SecureRunTest, TheServerCheckReportsEveryStepAndSendsNoMail) {
  SecuritySettings security;
  security.smtpSecurity = SmtpSecurity::StartTls;
  security.smtpAuth = SmtpAuthMode::Auto;
  security.smtpUser = "taro";
  security.smtpSecret = kSecret;
  StartTlsAndAuth();
  smtp.Expect(kPlain).Send("235 2.7.0 Accepted\r\n");
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
  std::vector<std::string> steps;
  ServerCheck check(settings->record.server, security);
  const int result = check.Run([&](const ServerCheckStep& step) {
    steps.push_back(SjisToUtf8(step.name) + (step.ok ? " ok " : " NG ") + SjisToUtf8(step.detail));
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(smtp.Mismatch(), "");
  EXPECT_TRUE(smtp.Finished());
  ASSERT_GE(steps.size(), 7u);
  EXPECT_EQ(steps.front(), "接続 ok smtp.test:25");
  EXPECT_EQ(steps.back(), "QUIT ok 221 bye");
  std::string all;
  for (const auto& s : steps) all += s + "\n";
  EXPECT_NE(all.find("STARTTLS ok 220 go"), std::string::npos) << all;
  EXPECT_NE(all.find("AUTH PLAIN ok 235 2.7.0 Accepted"), std::string::npos) << all;
  EXPECT_EQ(all.find(kSecret), std::string::npos);
}

TEST_F(SecureRunTest, TheServerCheckCanBeCancelledWhileTheServerIsSilent) {
  smtp.Send("220 ready\r\n").Expect("EHLO client.example.jp\r\n");  // and no answer
  ServerCheck check(settings->record.server, SecuritySettings{});
  int pumps = 0;
  platform.SetPumpHook([&] {
    if (++pumps == 200) check.Cancel();
  });
  EXPECT_EQ(check.Run([](const ServerCheckStep&) {}), 10);
  EXPECT_LT(platform.VirtualMs(), 5000);
  EXPECT_FALSE(check.Running());
}

// Without a window to take the reply timer, the check keeps its own: a
// silent server gets the full 20 s, not the few the patience count gives.
TEST_F(SecureRunTest, TheServerCheckWaitsTheFullReplyTimeOutOnItsOwn) {
  smtp.Send("220 ready\r\n").Expect("EHLO client.example.jp\r\n");  // and no answer
  ServerCheck check(settings->record.server, SecuritySettings{});
  EXPECT_EQ(check.Run([](const ServerCheckStep&) {}), 10);
  EXPECT_GE(platform.VirtualMs(), 20000);
  EXPECT_LT(platform.VirtualMs(), 30000);
  EXPECT_EQ(platform.RunningTimers(), 0u);
}

}  // namespace
}  // namespace velkaro
