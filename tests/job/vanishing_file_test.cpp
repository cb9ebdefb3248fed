// Files that vanish or shrink after they were checked: body texts, setup
// files and attachments. A file that reads shorter than its size is no
// file; an attachment that goes away during a run fails its mail, and the
// server never gets that mail as complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "job/run_fixture.h"
#include "job/send_setup.h"
#include "support/file_faults.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

class VanishingFileTest : public testing::RunTest {};

TEST_F(VanishingFileTest, BodyAndSetupFilesThatVanishOrShrinkChangeNothing) {
  const std::optional<std::string> shrinking = testing::ShrinkingFile();
  const struct {
    const char* name;
    std::optional<std::string> target;
    int bodyResult;
  } cases[] = {
      {"vanished", "/nonexistent/velkaro/file", 1},
      {"shrunk after its size was taken", shrinking, 2},
  };
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.target) GTEST_SKIP() << "no file here reads shorter than its size";
    count.Add("vanishing or shrinking file");
    const std::string link = dir.File(std::string(c.name).substr(0, 4));
    std::filesystem::create_symlink(*c.target, link);
    job->bodyText = Sjis("元の本文\r\n");
    job->bodyFilePath = "/docs/old.txt";
    EXPECT_EQ(job->LoadBodyFile(link), c.bodyResult);
    EXPECT_EQ(job->bodyText, Sjis("元の本文\r\n"));
    EXPECT_EQ(job->bodyFilePath, "/docs/old.txt");

    job->sendinfOption = link;
    EXPECT_EQ(ReadSendSetup(*job, ""), 1);
    EXPECT_TRUE(job->recipientLines.empty());
    EXPECT_TRUE(job->attachments.empty());
  }
}

// The attachment passed the run's checks; what happens to it afterwards
// must fail its mail, never deliver it without (or with part of) the file.
TEST_F(VanishingFileTest, AnAttachmentThatGoesAwayDuringTheRunFailsItsMail) {
  const std::optional<std::string> shrinking = testing::ShrinkingFile();
  const std::string file = dir.File("plan.pdf");
  const struct {
    const char* name;
    int recipients;
    int result;
    int completeMails;  // mails the server got whole
    // Called on every pump of the run.
    std::function<void(SendJob&, int& done)> hook;
  } cases[] = {
      {"deleted while the server greets", 1, 104, 0,
       [&](SendJob& j, int& done) {
         if (j.Running() && j.ActiveConnection()->smtpSocket && done++ == 0)
           std::filesystem::remove(file);
       }},
      {"deleted after the first mail", 2, 104, 1,
       [&](SendJob& j, int& done) {
         if (j.Running() && j.ActiveConnection()->progress.stage[7] == 1 && done++ == 0)
           std::filesystem::remove(file);
       }},
      {"deleted while the body goes out", 1, 120, 0,
       [&](SendJob& j, int& done) {
         if (j.Running() && j.ActiveConnection()->progress.stage[4] == 1 && done++ == 0)
           std::filesystem::remove(file);
       }},
      {"emptied after its part header", 1, 121, 0,
       [&](SendJob& j, int& done) {
         if (j.Running() && j.ActiveConnection()->progress.stage[5] == 1 && done++ == 0)
           std::filesystem::resize_file(file, 0);
       }},
  };
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    count.Add("vanishing or shrinking file");
    testing::ReceivingServer server;
    platform.SetSocketFactory([&server] { return server.NewSocket(); });
    WriteBytes(file, std::string(5000, 'p'));
    job->recipientLines.clear();
    job->attachments = {{"plan.pdf", dir.path()}};
    for (int i = 0; i < c.recipients; ++i) AddRecipient(Sjis("宛先"), "to@example.jp");
    job->bodyText = Sjis("件名\r\n本文\r\n");
    int done = 0;
    platform.SetPumpHook([&] { c.hook(*job, done); });
    EXPECT_EQ(job->RunSendJob(), c.result);
    platform.SetPumpHook(nullptr);
    EXPECT_EQ(done > 0, true) << "the file was never taken away";
    EXPECT_EQ(static_cast<int>(server.Mails().size()), c.completeMails);
    EXPECT_EQ(LastStatus(), "メール送信でエラー検出 RetCode=" + std::to_string(c.result));
    EXPECT_FALSE(job->Running());
  }
  // A file whose size promises more than a read delivers.
  if (!shrinking) GTEST_SKIP() << "no file here reads shorter than its size";
  count.Add("vanishing or shrinking file");
  testing::ReceivingServer server;
  platform.SetSocketFactory([&server] { return server.NewSocket(); });
  std::filesystem::create_symlink(*shrinking, dir.File("short.bin"));
  job->attachments = {{"short.bin", dir.path()}};
  job->recipientLines.clear();
  AddRecipient(Sjis("宛先"), "to@example.jp");
  EXPECT_EQ(job->RunSendJob(), 121);
  EXPECT_TRUE(server.Mails().empty());
}

}  // namespace
}  // namespace velkaro
