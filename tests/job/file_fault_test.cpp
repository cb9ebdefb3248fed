// The send log, the copies of sent texts, the body file, setup files and
// attachments under file faults: a read-only program folder, a full disk, a
// write that stops half-way, and files that vanish or shrink after they
// were checked. Old files stay as they were, every failure is reported by
// its code, a mail the server accepted stays accepted, and no run is
// reported as a success when a mail was not accepted.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "job/run_fixture.h"
#include "job/send_log.h"
#include "job/send_setup.h"
#include "support/file_faults.h"

namespace velkaro {
namespace {

using testing::FaultyFolder;
using testing::FolderNames;
using testing::kWriteFaults;
using testing::ReadBytes;
using testing::WriteBytes;
using testing::WriteFault;

// A block of the scratch file system: an old log of exactly this size has
// no room left in its last block, so on a full disk even a short entry
// fails, as it does once a real log has filled its block.
constexpr std::size_t kBlock = 4096;
// The half-way limit lies past the old files, inside what is written.
constexpr rlim_t kLimit = kBlock + 100;

std::string Big(char c) {
  return std::string(3 * kBlock, c) + "\r\n";
}

class JobFileFaultTest : public testing::RunTest {};

TEST_F(JobFileFaultTest, AFailedWriteKeepsTheOldFileAndReportsIt) {
  const std::time_t t = platform.Now();
  const struct {
    const char* name;
    const char* file;  // the file written, in the folder ("" none before)
    int codes[3];      // read-only, full, half-way
    std::function<int(const std::string& folder)> write;
  } writes[] = {
      {"send log",
       "Log/log202612.txt",
       {3, 1, 1},
       [t](const std::string& folder) { return WriteSendLog(folder, t, Big('L')); }},
      // A copy that cannot be written whole is not kept at all.
      {"copy of a sent text",
       "",
       {2, 1, 1},
       [t](const std::string& folder) { return SaveSentText(folder, "", t, 0, Big('T')); }},
      {"body file",
       "body.txt",
       {-1, -1, -1},
       [this](const std::string& folder) {
         job->bodyText = Big('B');
         return job->SaveBodyFile(folder + "/body.txt", true);
       }},
      {"setup file",
       "run.vlk2",
       {11, 11, 11},
       [](const std::string& folder) {
         return SaveSetupText(folder + "/run.vlk2", Big('S'), true);
       }},
  };
  std::string notRun;
  testing::CaseCount cases;
  for (std::size_t f = 0; f < std::size(kWriteFaults); ++f) {
    for (const auto& w : writes) {
      SCOPED_TRACE(std::string(testing::Describe(kWriteFaults[f])) + ": " + w.name);
      FaultyFolder folder(kWriteFaults[f], kLimit);
      if (!folder.Usable()) {
        notRun += std::string(" ") + testing::Describe(kWriteFaults[f]) + "/" + w.name;
        continue;
      }
      cases.Add(testing::Describe(kWriteFaults[f]));
      const std::string old(kBlock, 'o');
      std::filesystem::create_directory(folder.File("Log"));
      std::filesystem::create_directory(folder.File("Text"));
      if (*w.file != '\0') WriteBytes(folder.File(w.file), old);
      ASSERT_TRUE(folder.Arm());
      const auto names = FolderNames(folder.path());
      const long long before = platform.VirtualMs();
      const int result = w.write(folder.path());
      folder.Disarm();
      EXPECT_EQ(result, w.codes[f]);
      if (*w.file != '\0') {
        EXPECT_TRUE(ReadBytes(folder.File(w.file)) == old) << "the old file was changed";
      }
      EXPECT_EQ(FolderNames(folder.path()), names) << "a file was left behind";
      EXPECT_TRUE(FolderNames(folder.File("Text")).empty()) << "a cut copy was left behind";
      EXPECT_EQ(platform.VirtualMs(), before) << "no pause after a write that failed";
    }
  }
  if (!notRun.empty()) GTEST_SKIP() << "cannot mount a file system here; not run:" << notRun;
}

// The mails go out whatever happens to their records; the run's result
// stays what the server said, and the status text tells what is missing.
TEST_F(JobFileFaultTest, AProgramFolderThatCannotBeWrittenDoesNotStopTheRun) {
  const struct {
    const char* name;
    bool secondRejected;
    int result;
    std::string status;
  } runs[] = {
      {"all accepted", false, 0,
       " 2通のメール送信を完了しました。 送信文の控え2通を保存できませんでした。"},
      {"second rejected", true, 106,
       "メール送信でエラー検出 RetCode=106 サーバーの応答: 550 no such user "
       "送信文の控え2通を保存できませんでした。"},
  };
  std::string notRun;
  testing::CaseCount cases;
  for (const WriteFault fault : kWriteFaults) {
    for (const auto& r : runs) {
      SCOPED_TRACE(std::string(testing::Describe(fault)) + ": " + r.name);
      FaultyFolder folder(fault, kLimit);
      if (!folder.Usable()) {
        notRun += std::string(" ") + testing::Describe(fault) + "/" + r.name;
        continue;
      }
      cases.Add(testing::Describe(fault));
      testing::ScriptedServer server;
      network.Add("smtp.test", server);
      const std::string old(kBlock, 'o');
      std::filesystem::create_directory(folder.File("Log"));
      WriteBytes(folder.File("Log/log202612.txt"), old);
      UseProgramFolder(folder.path());
      AddRecipient(Sjis("一"), "one@example.jp");
      AddRecipient(Sjis("二"), "two@example.jp");
      job->bodyText = Sjis("件名\r\n") + Big('x');
      server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
      for (const char* to : {"one@example.jp", "two@example.jp"}) {
        server.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
        server.Expect(std::string("RCPT TO:<") + to + ">\r\n");
        if (r.secondRejected && to[0] == 't') {
          server.Send("550 no such user\r\n");
          break;
        }
        server.Send("250 ok\r\n").Expect("DATA\r\n").Send("354 go\r\n");
        server.ExpectThrough("\r\n.\r\n").Send("250 queued\r\n");
      }
      server.Expect("QUIT\r\n").Send("221 bye\r\n");
      ASSERT_TRUE(folder.Arm());
      const int result = job->RunSendJob();
      folder.Disarm();
      EXPECT_EQ(result, r.result);
      EXPECT_TRUE(server.Finished()) << server.Mismatch();
      // A small result list may still fit where the log's append did not;
      // one that could not be written is claimed nowhere.
      const bool listWritten = !job->resultCsvPath.empty();
      // Nor is the journal: a run that cannot keep one sends as before, and
      // says that it cannot be resumed.
      const bool journalKept = !job->journalPath.empty();
      EXPECT_EQ(LastStatus(), r.status +
                                  (journalKept ? "" : " 送信記録(ジャーナル)を残せませんでした。") +
                                  (listWritten ? "" : " 結果一覧を書き込めませんでした。") +
                                  " 送信ログを書き込めませんでした。");
      EXPECT_EQ(FolderNames(folder.File("Log")).size(),
                1 + (journalKept ? 1u : 0u) + (listWritten ? 1u : 0u))
          << "a journal that could not be written is not left behind";
      if (listWritten) {
        EXPECT_TRUE(ReadBytes(job->resultCsvPath)
                        .ends_with("two@example.jp," +
                                   std::string(r.secondRejected ? "refused,106,550 no such user\r\n"
                                                                : "sent,,250 queued\r\n")));
      }
      EXPECT_EQ(job->unsavedCopies.size(), 2u);
      EXPECT_EQ(job->unwrittenLog, folder.File("Log/log202612.txt"));
      EXPECT_TRUE(ReadBytes(folder.File("Log/log202612.txt")) == old);
      EXPECT_TRUE(FolderNames(folder.File("Text")).empty());
      EXPECT_FALSE(job->Running());
    }
  }
  if (!notRun.empty()) GTEST_SKIP() << "cannot mount a file system here; not run:" << notRun;
}

// When only the copies fail, the log keeps the run and marks each copy.
TEST_F(JobFileFaultTest, TheLogMarksCopiesThatCouldNotBeSaved) {
  testing::CaseCount cases;
  cases.Add("blocked folder");
  WriteBytes(dir.File("Text"), "a file where the folder of the copies belongs");
  AddRecipient(Sjis("山田"), "yamada@example.jp");
  job->bodyText = Sjis("件名\r\n本文\r\n");
  Greeting();
  Accepted("yamada@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 0);
  EXPECT_EQ(LastStatus(),
            " 1通のメール送信を完了しました。 送信文の控え1通を保存できませんでした。");
  EXPECT_TRUE(job->unwrittenLog.empty());
  const std::string log = SjisToUtf8(ReadBytes(dir.File("Log/log202612.txt")));
  EXPECT_NE(log.find("    保存文: " + dir.File("Text/text_20261206-093015_0.txt") +
                     " (保存できませんでした)\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(
      log.find("  ...  1通のメール送信を完了しました。 送信文の控え1通を保存できませんでした。"),
      std::string::npos);
}

}  // namespace
}  // namespace velkaro
