// velkaro-send with STARTTLS and AUTH as a user runs it: the built program,
// a program folder of its own (VELKARO_HOME), the password in
// VELKARO_SMTP_PASSWORD, a real receiver (aiosmtpd) that requires STARTTLS
// and a login. The password must show nowhere: not in the program's
// outputs, not in any file of the program folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "peers/peer_fixture.h"
#include "peers/program_run.h"
#include "peers/secure_peers.h"

extern char** environ;

namespace velkaro::testing {
namespace {

ProgramRun RunSend(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment) {
  return RunProgram(VELKARO_SEND_PROGRAM, args, environment);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class SecureSendProgramTest : public PeerTest {
 protected:
  void SetUp() override {
    PeerTest::SetUp();
    ASSERT_TRUE(std::filesystem::exists(VELKARO_SEND_PROGRAM)) << VELKARO_SEND_PROGRAM;
    home = dir.File("home");
    std::filesystem::create_directories(home);
    WriteBytes(home + "/VelkaroAddress.txt",
               Utf8ToSjis("読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\t"
                          "データ３\tデータ４\r\n"
                          "すずき\t鈴木\t鈴木 一郎\tsuzuki@example.jp\t\t\t\t\t\t\r\n"
                          "さとう\t佐藤\t佐藤 花子\tsato@example.jp\t\t\t\t\t\t\r\n"));
    body = dir.File("案内.txt");
    WriteBytes(body, Utf8ToSjis("((name))様へのご案内\r\n((name))様\r\nﾃｽﾄ送信です。\r\n"));
    ReceiverOptions server;
    server.certificate = "valid";
    server.requireStartTls = true;
    server.authUser = kSmtpUser;
    server.authPassword = kSmtpPassword;
    ASSERT_NO_FATAL_FAILURE(StartReceiver(server));
    const ProgramRun run = Run(
        {"--set", "smtpServer=127.0.0.1", "--set", "smtpPort=" + std::to_string(receiver.port()),
         "--set", "popServer=", "--set", "senderName=差出人 山田", "--set",
         "senderAddress=sender@example.com", "--set", "smtpSecurity=starttls", "--set",
         "smtpAuth=auto", "--set", std::string("smtpUser=") + kSmtpUser},
        "");
    ASSERT_EQ(run.status, 0) << Describe(run);
    ASSERT_TRUE(std::filesystem::exists(home + "/Velkaro.ini")) << "the security fields' file";
  }

  ProgramRun Run(const std::vector<std::string>& args, const std::string& password) {
    std::vector<std::string> environment = {"VELKARO_HOME=" + home};
    if (!password.empty()) environment.push_back(std::string(kPasswordVariable) + "=" + password);
    ProgramRun run = RunSend(args, environment);
    outputs += run.out + run.err;
    return run;
  }

  // Every file of the program folder, the outputs of every run: the
  // password must be in none of them, in any of its wire forms.
  void ExpectPasswordNowhere(const std::string& password) {
    ExpectNoSecret(outputs, password, "the program's outputs");
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(home)) {
      if (!entry.is_regular_file()) continue;
      ++files;
      const std::string bytes = ReadBytes(entry.path());
      ExpectNoSecret(bytes, password, entry.path().string());
      ExpectNoSecret(SjisToUtf8(bytes), password, entry.path().string() + " (as UTF-8)");
    }
    EXPECT_GE(files, 2) << "the program folder holds fewer files than its settings";
  }

  static constexpr const char* kPasswordVariable = "VELKARO_SMTP_PASSWORD";
  std::string home;
  std::string body;
  std::string outputs;
};

TEST_F(SecureSendProgramTest, SendsOverStartTlsWithThePasswordFromTheEnvironment) {
  const ProgramRun send = Run({"--to", "鈴木", "--to", "佐藤", "--text", body}, kSmtpPassword);
  ASSERT_EQ(send.status, 0) << Describe(send);
  const auto messages = ReceivedMessages();
  ASSERT_EQ(messages.size(), 2u) << ReceiverSessionLog();
  const char* const subjects[] = {"鈴木 一郎様へのご案内", "佐藤 花子様へのご案内"};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const MailReport report = Check(messages[i]);
    SCOPED_TRACE(report.Dump());
    EXPECT_EQ(report.Get("subject"), subjects[i]);
    EXPECT_EQ(report.Get("from.address"), "sender@example.com");
    const auto envelope = Envelope(messages[i]);
    EXPECT_EQ(First(envelope, "tls"), "1");
    EXPECT_EQ(First(envelope, "auth"), kSmtpUser);
  }
  EXPECT_EQ(First(Envelope(messages[0]), "peer"), First(Envelope(messages[1]), "peer"))
      << "one connection, one login for the run";
  EXPECT_TRUE(std::filesystem::exists(home + "/Log")) << "the run writes its log";
  EXPECT_TRUE(std::filesystem::exists(home + "/Text")) << "the run keeps its copies";

  // The settings as a user looks at them, still without the password.
  const ProgramRun settings = Run({"--show-settings"}, kSmtpPassword);
  EXPECT_EQ(settings.status, 0) << Describe(settings);
  EXPECT_TRUE(Contains(settings.out, "smtpSecurity=starttls")) << settings.out;
  ExpectPasswordNowhere(kSmtpPassword);
}

TEST_F(SecureSendProgramTest, CheckServerShowsEachStepAndTheServersRefusal) {
  const ProgramRun check = Run({"--check-server"}, kSmtpPassword);
  EXPECT_EQ(check.status, 0) << Describe(check);
  const std::string shown = check.out + check.err;
  for (const char* step : {"EHLO", "STARTTLS", "TLS", "AUTH", "QUIT"}) {
    EXPECT_TRUE(Contains(shown, step)) << step << " is not among the steps shown\n" << shown;
  }
  EXPECT_TRUE(ReceivedMessages().empty()) << "the check sent a mail";

  const ProgramRun wrong = Run({"--check-server"}, "not-the-password");
  EXPECT_EQ(wrong.status, 10) << Describe(wrong);
  EXPECT_TRUE(Contains(wrong.out + wrong.err, "535")) << "the server's refusal\n"
                                                      << Describe(wrong);
  ExpectPasswordNowhere(kSmtpPassword);
  ExpectPasswordNowhere("not-the-password");
}

// Without a password from anywhere the check says so instead of sending
// an empty one.
TEST_F(SecureSendProgramTest, CheckWithoutAPasswordFailsAtAuth) {
  const ProgramRun check = Run({"--check-server"}, "");
  EXPECT_EQ(check.status, 10) << Describe(check);
  EXPECT_TRUE(ReceivedMessages().empty());
  EXPECT_EQ(ReceiverSessionLog().find(">> b'AUTH"), std::string::npos) << ReceiverSessionLog();
}

}  // namespace
}  // namespace velkaro::testing
