// A run sends what the form held when it started: edits made on the form
// while it runs (recipients removed or added, the body, title-in, the
// attachments, the sender) apply to the next run.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>

#include "core/encoding.h"
#include "job/run_fixture.h"

namespace velkaro::testing {
namespace {

// Calls `edit` once, when the run shows that its second mail starts: the
// moment a user could change the form between two mails.
class EditingView : public SendJobView {
 public:
  EditingView(TestPlatform& platform, std::function<void()> edit)
      : platform_(platform), edit_(std::move(edit)) {}
  void JobChanged() override {
    if (done_ || platform_.StatusTexts().empty()) return;
    if (SjisToUtf8(platform_.StatusTexts().back()).find("2通目") == std::string::npos) return;
    done_ = true;
    edit_();
  }

 private:
  TestPlatform& platform_;
  std::function<void()> edit_;
  bool done_ = false;
};

struct EditCase {
  const char* name;
  std::function<void(SendJob&, Settings&, const TempDir&)> edit;
};

void PrintTo(const EditCase& c, std::ostream* os) {
  *os << c.name;
}

class FrozenInputsTest : public RunTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(FrozenInputsTest, EditsDuringARunChangeNothingItSends) {
  WriteBytes(dir.File("a.txt"), "attached\r\n");
  const auto prepare = [this] {
    job->recipientLines.clear();
    for (const char* who : {"one", "two", "three"}) {
      AddRecipient(Sjis("宛先") + who, std::string(who) + "@example.jp");
    }
    job->bodyText = Sjis("((name))様へ\r\n本文です。\r\n");
    job->titleIn = false;
    job->attachments = {{"a.txt", dir.path()}};
  };
  UseReceivingServer();

  // The mails of an undisturbed run are the reference.
  prepare();
  ASSERT_EQ(job->RunSendJob(), 0) << job->DetailsText();
  const std::vector<std::string> reference = receiver.Mails();
  ASSERT_EQ(reference.size(), 3u);

  prepare();
  EditingView view(platform, [this] { GetParam().edit(*job, *settings, dir); });
  job->SetView(&view);
  ASSERT_EQ(job->RunSendJob(), 0) << job->DetailsText();
  job->SetView(nullptr);
  ASSERT_EQ(receiver.Mails().size(), 6u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(WithoutDateAndId(receiver.Mails()[3 + i]), WithoutDateAndId(reference[i]))
        << "mail " << i + 1;
  }
  const auto& commands = receiver.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "RCPT TO:<three@example.jp>"), 2)
      << "the last recipient gets its mail in both runs, once each";
}

const EditCase kEdits[] = {
    {"first_recipient_removed",
     [](SendJob& job, Settings&, const TempDir&) {
       job.recipientLines.erase(0, job.recipientLines.find("\r\n") + 2);
     }},
    {"all_recipients_removed",
     [](SendJob& job, Settings&, const TempDir&) { job.recipientLines.clear(); }},
    {"recipient_inserted_before",
     [](SendJob& job, Settings&, const TempDir&) {
       job.recipientLines = "\t\tnew\tnew@example.jp\t\t\t\t\t\t\r\n" + job.recipientLines;
     }},
    {"body_and_title_in_changed",
     [](SendJob& job, Settings&, const TempDir&) {
       job.bodyText = Sjis("別の件名\r\n別の本文\r\n");
       job.titleIn = true;
     }},
    {"attachment_added_and_removed",
     [](SendJob& job, Settings&, const TempDir& dir) {
       WriteBytes(dir.File("b.txt"), "another\r\n");
       job.attachments = {{"b.txt", dir.path()}};
     }},
    {"sender_changed",
     [](SendJob&, Settings& settings, const TempDir&) {
       SetFieldText(settings.record.server.senderName, Sjis("別人"));
       SetFieldText(settings.record.server.senderAddress, "other@example.jp");
     }},
};

INSTANTIATE_TEST_SUITE_P(Rows, FrozenInputsTest, ::testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkaro::testing
