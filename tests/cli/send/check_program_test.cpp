// velkaro-send --check as a user runs it: the built program in a program
// folder of its own, an SMTP port that must never be connected to, and
// the findings on standard output with the exit status saying whether
// there were any.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "peers/program_run.h"
#include "support/test_support.h"

namespace velkaro::testing {
namespace {

// A listening socket on 127.0.0.1 that is never accepted from: a
// connection attempt leaves it readable.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no listening socket";
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) ::close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  int port() const { return port_; }
  bool Connected() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class CheckProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(VELKARO_SEND_PROGRAM)) << VELKARO_SEND_PROGRAM;
    std::filesystem::create_directories(home);
    WriteBytes(home + "/VelkaroAddress.txt",
               Utf8ToSjis("読み\t登録名\t氏名\tメールアドレス\t電話\t住所\tデータ１\tデータ２\t"
                          "データ３\tデータ４\r\n"
                          "やまだ\t山田\t山田 太郎\tyamada@example.jp\t\t\t\t\t\t\r\n"));
    WriteBytes(body, Utf8ToSjis("((name))様へのご案内\r\n((nmae))様\r\n"));
    WriteBytes(clean, Utf8ToSjis("((name))様へのご案内\r\n本文\r\n"));
    const ProgramRun run =
        Run({"--set", "smtpServer=127.0.0.1", "--set", "smtpPort=" + std::to_string(smtp.port()),
             "--set", "senderAddress=sender@example.com"});
    ASSERT_EQ(run.status, 0) << Describe(run);
  }

  ProgramRun Run(const std::vector<std::string>& args) {
    return RunProgram(VELKARO_SEND_PROGRAM, args, {"VELKARO_HOME=" + home});
  }

  TempDir dir;
  std::string home = dir.File("home");
  std::string body = dir.File("body.txt");
  std::string clean = dir.File("clean.txt");
  Listener smtp;
};

TEST_F(CheckProgramTest, ListsTheFindingsAndSaysSoInItsExitStatus) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string errPart;
  } cases[] = {
      {"nothing found",
       {"--check", "--to", "山田", "--text", clean},
       0,
       "",
       "check: nothing found for 1 recipient(s); nothing was sent"},
      {"two findings",
       {"--check", "--to", "山田", "--to", "Dup <YAMADA@example.jp>", "--text", body},
       1,
       "all mails: 本文 2 行目の ((nmae)) は差し込み語ではありません(そのまま送られます)。\n"
       "line 2: メールアドレス <YAMADA@example.jp> は 1 件目と 2 件目の両方にあります。\n",
       "check: 2 problem(s) found for 2 recipient(s); nothing was sent"},
      {"no recipient at all",
       {"--check", "--text", clean},
       1,
       "all mails: 送信先が１件も指定されていません。\n",
       "check: 1 problem(s) found"},
      {"check and dry run together",
       {"--check", "--dry-run", "--to", "山田"},
       2,
       "",
       "give --check or --dry-run, not both"},
      {"a recipient that is nobody",
       {"--check", "--to", "誰か", "--text", clean},
       2,
       "",
       "not a registered name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << Describe(run);
    EXPECT_EQ(run.out, c.out);
    EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
  }
  // A check only looks: no connection, no send log, no copies of texts.
  EXPECT_FALSE(smtp.Connected());
  EXPECT_FALSE(std::filesystem::exists(home + "/Log"));
  EXPECT_FALSE(std::filesystem::exists(home + "/Text"));
}

// Each recipient's own file ("請求書/((mailaddr)).pdf"): what is missing is
// named per recipient by the check, the dry run and the test send, all
// before any connection.
TEST_F(CheckProgramTest, ARecipientsMissingOwnFileIsFoundBeforeAnyConnection) {
  const std::string folder = dir.File("請求書");
  std::filesystem::create_directories(folder);
  WriteBytes(folder + "/yamada@example.jp.pdf", "%PDF");
  const std::vector<std::string> inputs = {
      "--to",   "山田", "--to",     "Kim <kim@example.org>",
      "--text", clean,  "--attach", folder + "/((mailaddr)).pdf"};
  const auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), inputs.begin(), inputs.end());
    return args;
  };
  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string outPart;
    std::string errPart;
  } cases[] = {
      {"the check names the recipient and the path", with({"--check"}), 1,
       "line 2: Kimの添付ファイル( " + folder + "/kim@example.org.pdf )が見つかりません。\n",
       "check: 1 problem(s) found for 2 recipient(s)"},
      {"the dry run shows each own file and the refusal", with({"--dry-run"}), 1,
       "Attachments: yamada@example.jp.pdf\n", "mail 2 would be refused: "},
      {"the dry run says what the run would do", with({"--dry-run"}), 1,
       "onRecipientFailure=stop: the run would end with result 1 before any connection",
       "kim@example.org.pdf"},
      {"a test send of the recipient whose file is missing",
       with({"--test-to", "me@example.jp", "--as", "2"}), 1, "",
       "test mail of recipient 2 (Kim <kim@example.org>) not sent to me@example.jp: the send "
       "checks failed (exit status 1)"},
      {"a test send of a recipient that is not there",
       with({"--test-to", "me@example.jp", "--as", "3"}), 2, "",
       "--as 3: there are only 2 recipients"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << Describe(run);
    EXPECT_NE(run.out.find(c.outPart), std::string::npos) << run.out;
    EXPECT_NE(run.err.find(c.errPart), std::string::npos) << run.err;
  }
  EXPECT_FALSE(smtp.Connected());
  EXPECT_FALSE(std::filesystem::exists(home + "/Text"));
}

}  // namespace
}  // namespace velkaro::testing
