// The journal under file faults that strike during a run: a journal that
// can no longer be written is removed and the run goes on as without one;
// one that can be neither written nor removed stops the run before a mail
// it could not record is ended. Never a journal that claims less than the
// server got.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "job/run_fixture.h"
#include "job/run_journal.h"
#include "support/file_faults.h"

namespace velkaro {
namespace {

using testing::FaultyFolder;
using testing::WriteFault;

// Binds a folder over itself read-only: new paths through it are refused
// (EROFS) while descriptors opened before keep writing, as when a folder
// goes read-only under a running program. Undone at the end of the scope.
class ReadOnlyBind {
 public:
  explicit ReadOnlyBind(std::string folder) : folder_(std::move(folder)) {
    bound_ = ::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) == 0;
    readOnly_ = bound_ && ::mount(nullptr, folder_.c_str(), nullptr,
                                  MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  ~ReadOnlyBind() {
    if (bound_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  bool ReadOnly() const { return readOnly_; }

 private:
  std::string folder_;
  bool bound_ = false;
  bool readOnly_ = false;
};

class JournalFaultTest : public testing::RunTest {
 protected:
  void ThreeRecipients(const std::string& folder) {
    smtp = testing::ScriptedServer();
    UseProgramFolder(folder);
    AddRecipient(Sjis("一"), "one@example.jp");
    AddRecipient(Sjis("二"), "two@example.jp");
    AddRecipient(Sjis("三"), "three@example.jp");
    job->bodyText = Sjis("件名\r\n本文\r\n");
    Greeting();
    Accepted("one@example.jp");
  }
  // Calls `fault` when the second mail starts (the first recorded).
  std::string ArmAfterTheFirstMail(std::function<bool()> fault) {
    auto journal = std::make_shared<std::string>();
    job->onRunEvent = [this, journal, fault](const RunEvent& e) {
      if (e.kind == RunEventKind::MailStarted && e.mail == 1) {
        *journal = job->journalPath;
        ASSERT_TRUE(fault());
      }
    };
    lastJournal_ = journal;
    return {};
  }
  std::string Journal() const { return *lastJournal_; }
  std::string Outcomes() const {
    std::string out;
    for (const RecipientResult& r : job->results) {
      out += (out.empty() ? "" : " ") + std::string(OutcomeName(r.outcome));
    }
    return out;
  }

 private:
  std::shared_ptr<std::string> lastJournal_;
};

// A full disk or a size limit: the journal takes what it can; once a
// record fails it is removed, and the run goes on as without a journal.
TEST_F(JournalFaultTest, AJournalThatCanNoLongerBeWrittenIsRemovedAndTheRunGoesOn) {
  std::string notRun;
  for (const WriteFault fault : {WriteFault::DiskFull, WriteFault::HalfWay}) {
    SCOPED_TRACE(testing::Describe(fault));
    FaultyFolder folder(fault, 100);
    if (!folder.Usable()) {
      notRun += std::string(" ") + testing::Describe(fault);
      continue;
    }
    ThreeRecipients(folder.path());
    Accepted("two@example.jp");
    Accepted("three@example.jp");
    Quit();
    ArmAfterTheFirstMail([&] { return folder.Arm(); });
    const int result = job->RunSendJob();
    folder.Disarm();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
    EXPECT_EQ(Outcomes(), "sent sent sent");
    if (job->journalPath.empty()) {
      EXPECT_FALSE(std::filesystem::exists(Journal())) << "withdrawn";
      EXPECT_NE(LastStatus().find("送信記録(ジャーナル)を残せませんでした。"), std::string::npos)
          << LastStatus();
    } else {
      // The records still fitted in the journal's last block.
      const std::optional<JournalState> kept = ReadJournal(Journal(), nullptr);
      ASSERT_TRUE(kept);
      for (const RecipientResult& r : kept->mails) EXPECT_EQ(r.outcome, MailOutcome::Sent);
    }
  }
  if (!notRun.empty()) GTEST_SKIP() << "cannot mount a file system here; not run:" << notRun;
}

// The journal can neither take the second mail's end nor be removed: that
// mail is not ended (the server discards it) and the run stops with 50,
// so the journal left behind is still true.
TEST_F(JournalFaultTest, AJournalThatCanNeitherBeWrittenNorRemovedStopsTheRun) {
  testing::TempDir dir2;
  ThreeRecipients(dir2.path());
  smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("RCPT TO:<two@example.jp>\r\n").Send("250 ok\r\n");
  smtp.Expect("DATA\r\n").Send("354 go\r\n");
  smtp.ExpectThrough("\r\n\r\n");
  std::optional<ReadOnlyBind> readOnly;
  std::optional<testing::FileSizeLimit> limit;
  ArmAfterTheFirstMail([&] {
    readOnly.emplace(dir2.File("Log"));
    limit.emplace(100);
    return readOnly->ReadOnly();
  });
  testing::ScratchMount probe(4096);  // enters a private mount namespace
  if (!probe.Mounted()) GTEST_SKIP() << "cannot mount a file system here";
  const int result = job->RunSendJob();
  limit.reset();
  readOnly.reset();
  EXPECT_EQ(result, 50);
  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  EXPECT_EQ(smtp.Received().find("\r\n.\r\n", smtp.Received().find("two@example.jp")),
            std::string::npos)
      << "the second mail was not ended";
  EXPECT_EQ(Outcomes(), "sent not-sent not-sent");
  const std::optional<JournalState> left = ReadJournal(Journal(), nullptr);
  ASSERT_TRUE(left);
  EXPECT_EQ(left->mails[0].outcome, MailOutcome::Sent);
  EXPECT_EQ(left->mails[1].outcome, MailOutcome::NotSent);
  EXPECT_NE(LastStatus().find("RetCode=50"), std::string::npos) << LastStatus();
}

}  // namespace
}  // namespace velkaro
