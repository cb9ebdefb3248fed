// Copies of sent texts and the monthly send log.
#include "job/send_log.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class SendLogTest : public testing::PlatformTest {
 protected:
  SendLogTest() { platform.SetLocalTime(2026, 12, 8, 9, 30, 15); }
  TempDir dir;
};

TEST_F(SendLogTest, NamesArchiveCopiesAfterTheBodyFile) {
  const std::time_t t = platform.Now();
  const struct {
    const char* body;
    int index;
    std::string name;
  } cases[] = {
      {"", 2, "/Text/text_20261208-093015_2.txt"},
      {"/docs/notice.txt", 0, "/Text/notice_20261208-093015_0.txt"},
      {"/docs/notice", 1, "/Text/notice_20261208-093015_1"},
      {"D:\\docs\\notice.TXT", 3, "/Text/notice_20261208-093015_3.TXT"},
      {"/home/請求書_山田.txt", 0, "/Text/請求書_山田_20261208-093015_0.txt"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildArchiveName("/srv/velkaro", c.body, t, c.index), "/srv/velkaro" + c.name);
  }
  EXPECT_EQ(BuildLogName("/srv/velkaro", t), "/srv/velkaro/Log/log202612.txt");
}

TEST_F(SendLogTest, SavesTheTextAsSentAndSkipsEmptyTexts) {
  const std::time_t t = platform.Now();
  EXPECT_EQ(SaveSentText(dir.path(), "", t, 0, ""), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("Text")));
  const std::string text = "\x8E\x52\x93\x63\r\nbody\r\n";
  EXPECT_EQ(SaveSentText(dir.path(), "/x/a.txt", t, 1, text), 0);
  EXPECT_EQ(ReadBytes(dir.File("Text/a_20261208-093015_1.txt")), text);
  // The same second and index again overwrites.
  EXPECT_EQ(SaveSentText(dir.path(), "/x/a.txt", t, 1, "new"), 0);
  EXPECT_EQ(ReadBytes(dir.File("Text/a_20261208-093015_1.txt")), "new");
}

TEST_F(SendLogTest, FailuresAreReportedByCode) {
  const std::time_t t = platform.Now();
  EXPECT_EQ(SaveSentText(dir.File("missing/deeper"), "", t, 0, "x"), 4);
  EXPECT_EQ(WriteSendLog(dir.File("missing/deeper"), t, "x"), 4);
  std::filesystem::create_directories(dir.File("Text/text_20261208-093015_0.txt"));
  EXPECT_EQ(SaveSentText(dir.path(), "", t, 0, "x"), 2);
}

TEST_F(SendLogTest, TheFirstRunOfAMonthCreatesTheLogLaterRunsAppend) {
  const std::time_t t = platform.Now();
  EXPECT_EQ(WriteSendLog(dir.path(), t, ""), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("Log")));
  EXPECT_EQ(WriteSendLog(dir.path(), t, "run 1\r\n"), 0);
  EXPECT_EQ(WriteSendLog(dir.path(), t, "run 2\r\n"), 0);
  EXPECT_EQ(ReadBytes(dir.File("Log/log202612.txt")), "run 1\r\nrun 2\r\n");
  platform.SetLocalTime(2027, 1, 1, 0, 0, 1);
  EXPECT_EQ(WriteSendLog(dir.path(), platform.Now(), "run 3\r\n"), 0);
  EXPECT_EQ(ReadBytes(dir.File("Log/log202701.txt")), "run 3\r\n");
}

TEST_F(SendLogTest, ALogHeldOpenByAnotherProgramKeepsItsRuns) {
  const std::time_t t = platform.Now();
  ASSERT_EQ(WriteSendLog(dir.path(), t, "earlier\r\n"), 0);
  const std::string log = dir.File("Log/log202612.txt");
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    // Another program holding the log open for writing while we append.
    FILE* held = std::fopen(log.c_str(), "a");
    char c = 'r';
    if (::write(ready[1], &c, 1) != 1) ::_exit(2);
    if (::read(release[0], &c, 1) != 1) ::_exit(2);
    std::fputs("other\r\n", held);
    std::fclose(held);
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  EXPECT_EQ(WriteSendLog(dir.path(), t, "ours\r\n"), 0);
  ASSERT_EQ(::write(release[1], &c, 1), 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(ReadBytes(log), "earlier\r\nours\r\nother\r\n");
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
}

}  // namespace
}  // namespace velkaro
