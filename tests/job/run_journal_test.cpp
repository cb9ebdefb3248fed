// The run's journal: what it writes, what a crash can leave of it and what
// is read back from that.
#include "job/run_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "core/encoding.h"
#include "support/file_faults.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class JournalTest : public testing::PlatformTest {
 protected:
  JournalTest() {
    platform.SetLocalTime(2026, 12, 6, 9, 30, 15);
    start = platform.Now();
  }
  JournalHeader Header() const {
    JournalHeader h;
    h.start = start;
    h.bodyFilePath = dir.File("案内\t1.txt");
    h.bodySha256 = Sha256Hex("body");
    h.titleIn = true;
    h.attachments.push_back({dir.File("地図.png"), 70, Sha256Hex("png")});
    for (const char* line : {"kana\tr1\t山田\tyamada@example.jp\r\n",
                             "\t\t鈴木\tsuzuki@example.jp\r\n", "\t\t佐藤\tsato@example.jp\r\n"}) {
      h.recipientLines.push_back(Utf8ToSjis(line));
    }
    return h;
  }
  static RecipientResult Outcome(MailOutcome outcome, int code, const std::string& reply) {
    RecipientResult r;
    r.outcome = outcome;
    r.code = code;
    r.reply = reply;
    return r;
  }

  TempDir dir;
  std::time_t start = 0;
};

TEST_F(JournalTest, ReadsBackWhatTheRunWroteAndTheLastRecordOfEachMail) {
  JournalWriter writer;
  ASSERT_TRUE(writer.Open(dir.path(), Header()));
  EXPECT_EQ(writer.Path(), dir.File("Log/journal-20261206-093015.txt"));
  ASSERT_TRUE(writer.EndOfDataGoing(0));
  ASSERT_TRUE(writer.Outcome(0, Outcome(MailOutcome::Sent, 0, "250 ok\tqueued as \\1")));
  ASSERT_TRUE(writer.Outcome(1, Outcome(MailOutcome::Refused, 106, "550 no such user")));
  ASSERT_TRUE(writer.EndOfDataGoing(2));

  std::string error;
  const std::optional<JournalState> state = ReadJournal(writer.Path(), &error);
  ASSERT_TRUE(state) << error;
  EXPECT_FALSE(state->finished);
  EXPECT_EQ(state->header.start, start);
  EXPECT_EQ(state->header.bodyFilePath, Header().bodyFilePath);
  EXPECT_EQ(state->header.bodySha256, Sha256Hex("body"));
  EXPECT_TRUE(state->header.titleIn);
  ASSERT_EQ(state->header.attachments.size(), 1u);
  EXPECT_EQ(state->header.attachments[0].size, 70);
  EXPECT_EQ(state->header.recipientLines, Header().recipientLines);
  ASSERT_EQ(state->mails.size(), 3u);
  EXPECT_EQ(state->mails[0].outcome, MailOutcome::Sent);
  EXPECT_EQ(state->mails[0].reply, "250 ok\tqueued as \\1");
  EXPECT_EQ(state->mails[0].address, "yamada@example.jp");
  EXPECT_EQ(state->mails[1].outcome, MailOutcome::Refused);
  EXPECT_EQ(state->mails[1].code, 106);
  // The end of data went out and nothing more was written: in doubt.
  EXPECT_EQ(state->mails[2].outcome, MailOutcome::InDoubt);

  ASSERT_TRUE(writer.Finished(30));
  EXPECT_TRUE(ReadJournal(writer.Path(), nullptr)->finished);
  EXPECT_EQ(ReadJournal(writer.Path(), nullptr)->result, 30);
}

TEST_F(JournalTest, ALastLineCutByACrashIsLeftOutAndBrokenFilesAreRefused) {
  JournalWriter writer;
  ASSERT_TRUE(writer.Open(dir.path(), Header()));
  ASSERT_TRUE(writer.Outcome(0, Outcome(MailOutcome::Sent, 0, "250 ok")));
  const std::string whole = ReadBytes(writer.Path());
  const struct {
    const char* what;
    std::string bytes;
    bool readable;
  } cases[] = {
      {"cut inside a record", whole + "sent\t2\t250 o", true},
      {"cut inside the header", whole.substr(0, whole.find("ready")), false},
      {"not a journal", "hello\n" + whole.substr(whole.find('\n') + 1), false},
      {"empty", "", false},
      {"a mail number out of range", whole + "sent\t4\t250 ok\n", false},
      {"a record before the list is complete",
       whole.substr(0, whole.find("to\t")) + "sent\t1\t250 ok\n" + whole.substr(whole.find("to\t")),
       false},
      {"bad hex in a recipient line", whole.substr(0, whole.find("to\t1\t") + 5) + "zz\n", false},
  };
  for (const auto& c : cases) {
    WriteBytes(writer.Path(), c.bytes);
    std::string error;
    const std::optional<JournalState> state = ReadJournal(writer.Path(), &error);
    EXPECT_EQ(state.has_value(), c.readable) << c.what << ": " << error;
    if (state) {
      EXPECT_EQ(state->mails[0].outcome, MailOutcome::Sent) << c.what;
      EXPECT_EQ(state->mails[1].outcome, MailOutcome::NotSent) << c.what;
    } else {
      EXPECT_NE(error.find(writer.Path()), std::string::npos) << c.what;
    }
  }
}

TEST_F(JournalTest, RunsInTheSameSecondGetJournalsOfTheirOwn) {
  JournalWriter first;
  JournalWriter second;
  ASSERT_TRUE(first.Open(dir.path(), Header()));
  ASSERT_TRUE(second.Open(dir.path(), Header()));
  EXPECT_EQ(second.Path(), dir.File("Log/journal-20261206-093015-2.txt"));
  ASSERT_TRUE(first.Finished(0));
  ASSERT_TRUE(second.Finished(0));
  EXPECT_NE(ReadBytes(first.Path()), "");
  EXPECT_TRUE(UnfinishedJournals(dir.path()).empty());
}

// A run still sending (here or in another program) is not offered: taking
// it up would send its remaining mails twice.
TEST_F(JournalTest, AJournalStillBeingWrittenIsNotOffered) {
  auto running = std::make_unique<JournalWriter>();
  ASSERT_TRUE(running->Open(dir.path(), Header()));
  const std::string path = running->Path();
  EXPECT_TRUE(JournalInUse(path));
  EXPECT_TRUE(UnfinishedJournals(dir.path()).empty());
  running.reset();  // the process ended without finishing the run
  EXPECT_FALSE(JournalInUse(path));
  EXPECT_EQ(UnfinishedJournals(dir.path()), std::vector<std::string>{path});
}

TEST_F(JournalTest, OnlyUnfinishedJournalsNotTakenUpAreOffered) {
  JournalHeader h = Header();
  JournalWriter finished;
  ASSERT_TRUE(finished.Open(dir.path(), h));
  ASSERT_TRUE(finished.Finished(0));
  // Runs whose program went away without ending them.
  const auto crash = [&](std::time_t start) {
    h.start = start;
    JournalWriter writer;
    EXPECT_TRUE(writer.Open(dir.path(), h));
    return writer.Path();
  };
  const std::string crashed = crash(h.start + 60);
  const std::string newer = crash(h.start + 60);
  WriteBytes(dir.File("Log/journal-20261206-100000.txt"), "not a journal\n");
  EXPECT_EQ(UnfinishedJournals(dir.path()), (std::vector<std::string>{newer, crashed}));

  // A crash may leave the last line without its end: the mark starts a
  // line of its own.
  WriteBytes(newer, ReadBytes(newer) + "sent\t1\t25");
  ASSERT_TRUE(MarkJournal(newer, "no-offer"));
  ASSERT_TRUE(MarkJournal(crashed, "resumed\t" + dir.File("Log/other.txt")));
  EXPECT_TRUE(UnfinishedJournals(dir.path()).empty());
  EXPECT_TRUE(ReadJournal(newer, nullptr)->noOffer);
  EXPECT_TRUE(ReadJournal(crashed, nullptr)->resumed);
  EXPECT_FALSE(MarkJournal(dir.File("Log/missing.txt"), "no-offer"));
}

// A journal that cannot be written whole is not left behind: a resumed run
// would take its missing mails for unsent ones.
TEST_F(JournalTest, AJournalThatCannotBeWrittenIsNotLeftBehind) {
  testing::ScratchMount full(4096 * 4);
  if (!full.Mounted()) GTEST_SKIP() << "cannot mount a file system here";
  ASSERT_EQ(::mkdir(full.File("Log").c_str(), 0755), 0);
  WriteBytes(full.File("Log/filler"), std::string(4096 * 3, 'x'));
  JournalHeader h = Header();
  for (int i = 0; i < 2000; ++i) h.recipientLines.push_back("\t\tname\taddress@example.jp\r\n");
  JournalWriter writer;
  EXPECT_FALSE(writer.Open(full.path(), h));
  EXPECT_FALSE(writer.IsOpen());
  EXPECT_EQ(testing::FolderNames(full.File("Log")), std::vector<std::string>{"filler"});

  // Room for the header, none for the records: the writer says so and the
  // journal can be withdrawn.
  ::unlink(full.File("Log/filler").c_str());
  JournalWriter small;
  ASSERT_TRUE(small.Open(full.path(), Header()));
  WriteBytes(full.File("Log/filler"), std::string(4096 * 3, 'x'));
  bool failed = false;
  for (int i = 0; i < 200 && !failed; ++i) {
    failed = !small.Outcome(0, Outcome(MailOutcome::Sent, 0, std::string(200, 'r')));
  }
  EXPECT_TRUE(failed);
  EXPECT_TRUE(small.Withdraw());
  EXPECT_EQ(testing::FolderNames(full.File("Log")), std::vector<std::string>{"filler"});
}

TEST(JournalHash, IsSha256) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  TempDir dir;
  WriteBytes(dir.File("f"), std::string(100000, 'a'));
  EXPECT_EQ(FileSha256Hex(dir.File("f")), Sha256Hex(std::string(100000, 'a')));
  EXPECT_FALSE(FileSha256Hex(dir.File("missing")));
}

}  // namespace
}  // namespace velkaro
