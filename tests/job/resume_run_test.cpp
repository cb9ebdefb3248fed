// Taking up a run from its journal: exactly the recipients the server did
// not accept, with the run's body, attachments and date words; never a
// mail in doubt unless asked, never a changed body unless forced.
#include "job/resume_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/run_fixture.h"

namespace velkaro::testing {
namespace {

class ResumeRunTest : public RunTest {
 protected:
  // A run of four whose second mail is in doubt and third refused (the
  // run went on past both), with a body file and an attachment.
  void InterruptedRun() {
    ASSERT_EQ(settings->ini.Set("onRecipientFailure", "continue"), 0);
    WriteBytes(dir.File("body.txt"), Sjis("((name))様へ\r\n((today))のお知らせ\r\n"));
    WriteBytes(dir.File("map.txt"), "map");
    ASSERT_EQ(job->LoadBodyFile(dir.File("body.txt")), 0);
    ASSERT_EQ(job->AddAttachment(0, dir.File("map.txt")), 0);
    for (int i = 1; i <= 4; ++i) {
      AddRecipient(Sjis("宛先") + std::to_string(i), "r" + std::to_string(i) + "@example.jp");
    }
    Greeting();
    Accepted("r1@example.jp");
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<r2@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("DATA\r\n").Send("354 go\r\n");
    smtp.ExpectThrough("\r\n.\r\n").Close();
    Greeting();
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<r3@example.jp>\r\n").Send("550 no such user\r\n");
    smtp.Expect("RSET\r\n").Send("250 reset\r\n");
    Accepted("r4@example.jp");
    Quit();
    ASSERT_EQ(job->RunSendJob(), 30);
    ASSERT_TRUE(smtp.Finished()) << smtp.Mismatch();
    const std::optional<JournalState> read = ReadJournal(job->journalPath, nullptr);
    ASSERT_TRUE(read);
    journal = *read;
  }
  // The job of a new start of the program.
  std::unique_ptr<SendJob> FreshJob() { return std::make_unique<SendJob>(*settings); }

  JournalState journal;
};

TEST_F(ResumeRunTest, TakesTheRefusedAndLeavesOutTheAcceptedAndThoseInDoubt) {
  InterruptedRun();
  auto fresh = FreshJob();
  const ResumePlan plan = PrepareResume(*fresh, journal, false, false);
  EXPECT_FALSE(plan.refused);
  EXPECT_TRUE(plan.differences.empty());
  EXPECT_EQ(plan.accepted, 2);
  EXPECT_EQ(plan.toSend, 1);
  EXPECT_EQ(plan.inDoubt, std::vector<std::string>{"r2@example.jp"});
  EXPECT_EQ(fresh->recipientLines, journal.mails[2].line);
  EXPECT_EQ(fresh->bodyFilePath, dir.File("body.txt"));
  ASSERT_EQ(fresh->attachments.size(), 1u);
  EXPECT_EQ(fresh->AttachmentPath(0), dir.File("map.txt"));
  EXPECT_EQ(fresh->substitutionTime, journal.header.start);

  auto withDoubt = FreshJob();
  EXPECT_EQ(PrepareResume(*withDoubt, journal, false, true).toSend, 2);
  EXPECT_EQ(withDoubt->recipientLines, journal.mails[1].line + journal.mails[2].line);
}

TEST_F(ResumeRunTest, RefusesChangedOrMissingFilesUnlessForcedForAChange) {
  const struct {
    const char* what;
    void (*change)(const TempDir&);
    ResumeDifference::Kind kind;
    bool forceHelps;
  } cases[] = {
      {"body edited",
       [](const TempDir& d) { WriteBytes(d.File("body.txt"), Sjis("別の件名\r\n")); },
       ResumeDifference::BodyChanged, true},
      {"body gone", [](const TempDir& d) { std::filesystem::remove(d.File("body.txt")); },
       ResumeDifference::BodyMissing, false},
      {"attachment edited", [](const TempDir& d) { WriteBytes(d.File("map.txt"), "maP"); },
       ResumeDifference::AttachmentChanged, true},
      {"attachment gone", [](const TempDir& d) { std::filesystem::remove(d.File("map.txt")); },
       ResumeDifference::AttachmentMissing, false},
  };
  InterruptedRun();
  const std::string body = ReadBytes(dir.File("body.txt"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteBytes(dir.File("body.txt"), body);
    WriteBytes(dir.File("map.txt"), "map");
    c.change(dir);
    auto fresh = FreshJob();
    const ResumePlan plan = PrepareResume(*fresh, journal, false, false);
    EXPECT_TRUE(plan.refused);
    ASSERT_EQ(plan.differences.size(), 1u);
    EXPECT_EQ(plan.differences[0].kind, c.kind);
    EXPECT_NE(DescribeDifference(plan.differences[0]).find(plan.differences[0].path),
              std::string::npos);
    EXPECT_EQ(PrepareResume(*FreshJob(), journal, true, false).refused, !c.forceHelps);
  }
}

// The resumed run sends the same mail a day later: the date words show the
// first run's day, and the first journal is taken up, so that it is not
// offered (or resumed) again.
TEST_F(ResumeRunTest, TheResumedRunSendsTheSameMailAndTakesUpTheJournal) {
  InterruptedRun();
  platform.SetLocalTime(2026, 12, 7, 8, 0, 0);
  smtp = ScriptedServer();
  auto fresh = FreshJob();
  job = std::move(fresh);
  ASSERT_FALSE(PrepareResume(*job, journal, false, false).refused);
  Greeting();
  Accepted("r3@example.jp");
  Quit();
  EXPECT_EQ(job->RunSendJob(), 0);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  const std::string sent = smtp.Received();
  EXPECT_NE(sent.find(Zentool().ZenSjisToJis(Sjis("2026年12月06日(日)"))), std::string::npos)
      << sent;
  const std::optional<JournalState> first = ReadJournal(journal.path, nullptr);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->resumed);
  EXPECT_NE(job->journalPath, journal.path);
  EXPECT_TRUE(UnfinishedJournals(dir.path()).empty());
}

}  // namespace
}  // namespace velkaro::testing
