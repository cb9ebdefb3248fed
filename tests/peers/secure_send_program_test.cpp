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
#include "peers/secure_peers.h"

extern char** environ;

namespace velkaro::testing {
namespace {

constexpr int kProgramTimeoutMs = 120000;

long long NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

struct ProgramRun {
  int status = -1;  // exit status; -1 when it did not exit by itself
  std::string out;
  std::string err;
};

std::string Describe(const ProgramRun& run) {
  return "exit status " + std::to_string(run.status) + "\n--- stdout ---\n" + run.out +
         "\n--- stderr ---\n" + run.err;
}

// Runs velkaro-send with `environment` added to this process's own (the
// test's VELKARO_* variables left out); a program still running after the
// time-out is killed by its id.
ProgramRun RunSend(const std::vector<std::string>& args,
                   const std::vector<std::string>& environment) {
  ProgramRun run;
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "VELKARO_", 8) != 0) env.push_back(*e);
  }
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> words = {VELKARO_SEND_PROGRAM};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  pid_t child = -1;
  const int rc = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
    return run;
  }
  const long long deadline = NowMs() + kProgramTimeoutMs;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  bool timedOut = false;
  for (int open = 2; open > 0;) {
    const long long left = deadline - NowMs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    if (::poll(fds, 2, static_cast<int>(std::min<long long>(left, 1000))) < 0 && errno != EINTR) {
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[4096];
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  if (timedOut) ::kill(child, SIGKILL);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!timedOut && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
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
