// The start-up offer to take up a send run that ended without finishing:
// real journals in the program folder, the question answered from the
// script, and the form (and the journal) looked at afterwards.
#include "ui/resume_offer.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <filesystem>

#include "core/text_file.h"
#include "form_fixture.h"
#include "job/run_journal.h"
#include "support/scripted_socket.h"

namespace velkaro::ui::testing {
namespace {

using velkaro::testing::ScriptedNetwork;
using velkaro::testing::ScriptedServer;

// What the form holds and shows, to tell that an offer left it alone.
struct FormState {
  std::string bodyText;
  std::string bodyFilePath;
  std::string recipientLines;
  std::vector<std::string> attachments;
  bool titleIn = false;
  std::time_t substitutionTime = 0;
  std::string resumesJournal;
  QString editorText;
  int recipientRows = 0;
  int attachmentRows = 0;

  bool operator==(const FormState&) const = default;
};

class StartupResume : public FrameTest {
 protected:
  StartupResume() {
    network.Add("smtp.test", smtp);
    platform.SetSocketFactory([this] { return network.NewSocket(); });
    WriteRunFiles();
    lines = {Entry("山田", "山田太郎", "yamada@example.jp"),
             Entry("佐藤", "佐藤花子", "sato@example.jp"),
             Entry("鈴木", "鈴木一郎", "suzuki@example.jp"),
             Entry("田中", "田中次郎", "tanaka@example.jp"),
             Entry("高橋", "高橋三郎", "takahashi@example.jp")};
  }

  void WriteRunFiles() {
    bodyPath = File("案内.txt", S("ご案内\r\n本文です。\r\n"));
    attachmentPath = File("資料.pdf", "%PDF-1.4\n" + std::string(300, '\x01'));
  }

  // Calendar time of a local time in December 2026 (the test platform's
  // local time is UTC).
  static std::time_t At(int day, int hour, int minute) {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return ::timegm(&tm);
  }

  // The journal of a run of the first `outcomes.size()` recipients that
  // got this far (NotSent: no record; InDoubt: its end of data went out
  // and no reply came), started at `start`; its path.
  std::string Journal(std::time_t start, const std::vector<MailOutcome>& outcomes,
                      bool finished = false) {
    JournalHeader header;
    header.start = start;
    header.bodyFilePath = bodyPath;
    header.bodySha256 = Sha256Hex(ReadTextFile(bodyPath).sjis);
    header.titleIn = true;
    header.attachments.push_back(
        {attachmentPath, static_cast<std::int64_t>(std::filesystem::file_size(attachmentPath)),
         *FileSha256Hex(attachmentPath)});
    for (std::size_t i = 0; i < outcomes.size(); ++i) header.recipientLines.push_back(lines[i]);
    JournalWriter writer;
    EXPECT_TRUE(writer.Open(home.path(), header));
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
      const int mail = static_cast<int>(i);
      RecipientResult result;
      result.outcome = outcomes[i];
      switch (outcomes[i]) {
        case MailOutcome::Sent: result.reply = "250 ok"; break;
        case MailOutcome::Refused:
          result.code = 105;
          result.reply = "550 no such user";
          break;
        case MailOutcome::InDoubt: EXPECT_TRUE(writer.EndOfDataGoing(mail)); continue;
        case MailOutcome::NotSent: continue;
      }
      EXPECT_TRUE(writer.EndOfDataGoing(mail));
      EXPECT_TRUE(writer.Outcome(mail, result));
    }
    if (finished) {
      EXPECT_TRUE(writer.Finished(0));
    }
    return writer.Path();
  }

  ResumeOffer Offer() { return frame->OfferUnfinishedRun(); }

  FormState Form() {
    FormState state;
    const SendJob& j = job();
    state.bodyText = j.bodyText;
    state.bodyFilePath = j.bodyFilePath;
    state.recipientLines = j.recipientLines;
    for (const AttachmentRow& row : j.attachments) state.attachments.push_back(row.name);
    state.titleIn = j.titleIn;
    state.substitutionTime = j.substitutionTime;
    state.resumesJournal = j.resumesJournal;
    state.editorText = editor().toPlainText();
    state.recipientRows = view().RecipientList()->topLevelItemCount();
    state.attachmentRows = view().AttachmentList()->topLevelItemCount();
    return state;
  }

  bool Offered(const std::string& journal) const {
    const std::vector<std::string> unfinished = UnfinishedJournals(home.path());
    return std::find(unfinished.begin(), unfinished.end(), journal) != unfinished.end();
  }

  static void Server(Settings& settings) {
    SetFieldText(settings.record.server.smtpServer, "smtp.test");
    SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  }
  void Accepted(const std::string& to) {
    smtp.Expect("MAIL FROM:<from@example.jp>\r\n").Send("250 ok\r\n");
    smtp.Expect("RCPT TO:<" + to + ">\r\n").Send("250 ok\r\n");
    smtp.Expect("DATA\r\n").Send("354 go\r\n").ExpectThrough("\r\n.\r\n").Send("250 ok\r\n");
  }

  std::string bodyPath;
  std::string attachmentPath;
  std::vector<std::string> lines;
  ScriptedServer smtp;
  ScriptedNetwork network;
};

TEST_F(StartupResume, YesLoadsTheRunWithOnlyTheRecipientsNeitherAcceptedNorInDoubt) {
  Start();
  const std::time_t start = At(6, 9, 30);
  const std::string journal =
      Journal(start, {MailOutcome::Sent, MailOutcome::Refused, MailOutcome::InDoubt,
                      MailOutcome::NotSent, MailOutcome::Sent});
  platform.QueueAnswer(MsgAnswer::Yes);
  EXPECT_EQ(Offer(), ResumeOffer::Loaded);

  ASSERT_EQ(platform.MessageBoxes().size(), 2u);
  const std::string question = Boxes()[0];
  EXPECT_EQ(platform.MessageBoxes()[0].buttons, MsgButtons::YesNoCancel);
  for (const char* part : {"2026年12月06日 09:30", "全5通のうち2通は送信済み", "1通は送信できたか",
                           "残りの宛先 2 通"}) {
    EXPECT_NE(question.find(part), std::string::npos) << part << "\n" << question;
  }
  // The addresses in doubt are listed for checking by hand, and only they.
  const std::string notice = Boxes()[1];
  EXPECT_NE(notice.find("suzuki@example.jp"), std::string::npos) << notice;
  EXPECT_EQ(notice.find("sato@example.jp"), std::string::npos) << notice;

  const SendJob& j = job();
  EXPECT_EQ(j.recipientLines, lines[1] + lines[3]);
  EXPECT_EQ(j.bodyText, S("ご案内\r\n本文です。\r\n"));
  EXPECT_EQ(j.bodyFilePath, bodyPath);
  EXPECT_FALSE(j.bodyModified);
  ASSERT_EQ(j.attachments.size(), 1u);
  EXPECT_EQ(j.AttachmentPath(0), attachmentPath);
  EXPECT_TRUE(j.titleIn);
  EXPECT_EQ(j.substitutionTime, start);
  EXPECT_EQ(j.resumesJournal, journal);
  // The form shows it all.
  EXPECT_EQ(editor().toPlainText(), QStringLiteral("ご案内\n本文です。\n"));
  ASSERT_EQ(view().RecipientList()->topLevelItemCount(), 2);
  EXPECT_EQ(view().RecipientList()->topLevelItem(0)->text(1), QStringLiteral("sato@example.jp"));
  EXPECT_EQ(view().RecipientList()->topLevelItem(1)->text(1), QStringLiteral("tanaka@example.jp"));
  EXPECT_EQ(view().AttachmentList()->topLevelItemCount(), 1);
  EXPECT_TRUE(static_cast<QCheckBox*>(view().Control(kTitleInBox))->isChecked());
  // Nothing went out: the user sends.
  EXPECT_TRUE(platform.PostedCommands().empty());
  EXPECT_TRUE(j.results.empty());
  EXPECT_TRUE(Offered(journal));
}

TEST_F(StartupResume, TheResumedRunSendsToTheRestOnceAndTheNextRunIsANewOne) {
  Start({}, Server);
  const std::string journal = Journal(At(6, 9, 30), {MailOutcome::Sent, MailOutcome::Refused,
                                                     MailOutcome::InDoubt, MailOutcome::NotSent});
  platform.QueueAnswer(MsgAnswer::Yes);
  ASSERT_EQ(Offer(), ResumeOffer::Loaded);
  smtp.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  Accepted("sato@example.jp");
  Accepted("tanaka@example.jp");
  smtp.Expect("QUIT\r\n").Send("221 bye\r\n");
  frame->OnCommand(kCommandSend);

  EXPECT_TRUE(smtp.Finished()) << smtp.Mismatch();
  const std::optional<JournalState> earlier = ReadJournal(journal, nullptr);
  ASSERT_TRUE(earlier);
  EXPECT_TRUE(earlier->resumed);
  EXPECT_TRUE(UnfinishedJournals(home.path()).empty());
  // A later run from the same form is not the resumed one: its date words
  // show its own time and it marks no journal.
  EXPECT_TRUE(job().resumesJournal.empty());
  EXPECT_EQ(job().substitutionTime, 0);
}

TEST_F(StartupResume, AnotherBodyInTheFormEndsTheResumeButListEditsKeepIt) {
  const std::string other = File("別件.txt", S("別件\r\n本文\r\n"));
  struct Case {
    const char* name;
    std::function<void()> command;
    bool kept;
  };
  const std::vector<Case> cases = {
      {"another body opened",
       [&] {
         platform.QueueFileDialogAnswer({other});
         frame->OnCommand(kCmdOpenBody);
       },
       false},
      {"a new body", [this] { frame->OnCommand(kCmdNewBody); }, false},
      {"another body dropped on the editor",
       [&] { EXPECT_TRUE(Drop(*editor().viewport(), {other})); }, false},
      {"the same body opened again",
       [this] {
         platform.QueueFileDialogAnswer({bodyPath});
         frame->OnCommand(kCmdOpenBody);
       },
       true},
      {"the recipients cleared", [this] { frame->OnCommand(kCmdRemoveAllRecipients); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(home.File("Log"));
    const std::time_t start = At(6, 9, 30);
    const std::string journal = Journal(start, {MailOutcome::Sent, MailOutcome::NotSent});
    Start();
    platform.QueueAnswer(MsgAnswer::Yes);
    ASSERT_EQ(Offer(), ResumeOffer::Loaded);
    c.command();
    EXPECT_EQ(job().resumesJournal, c.kept ? journal : std::string());
    EXPECT_EQ(job().substitutionTime, c.kept ? start : 0);
  }
}

TEST_F(StartupResume, CancelLeavesEverythingAndTheNextStartAsksAgain) {
  Start();
  const std::string journal = Journal(At(6, 9, 30), {MailOutcome::Sent, MailOutcome::NotSent});
  const FormState before = Form();
  platform.QueueAnswer(MsgAnswer::Cancel);
  EXPECT_EQ(Offer(), ResumeOffer::Declined);
  EXPECT_EQ(Form(), before);
  EXPECT_TRUE(Offered(journal));

  Start();
  platform.QueueAnswer(MsgAnswer::Cancel);
  EXPECT_EQ(Offer(), ResumeOffer::Declined);
  EXPECT_EQ(platform.MessageBoxes().size(), 2u);
}

TEST_F(StartupResume, NoMarksTheRunAndTheNextStartDoesNotAsk) {
  Start();
  const std::string journal = Journal(At(6, 9, 30), {MailOutcome::Sent, MailOutcome::NotSent});
  const FormState before = Form();
  platform.QueueAnswer(MsgAnswer::No);
  EXPECT_EQ(Offer(), ResumeOffer::Silenced);
  EXPECT_EQ(Form(), before);
  const std::optional<JournalState> marked = ReadJournal(journal, nullptr);
  ASSERT_TRUE(marked);
  EXPECT_TRUE(marked->noOffer);
  EXPECT_FALSE(marked->resumed);

  Start();
  EXPECT_EQ(Offer(), ResumeOffer::NotAsked);
  EXPECT_EQ(platform.MessageBoxes().size(), 1u);
}

TEST_F(StartupResume, ARunWhoseFilesChangedOrWentIsRefusedAndTheFormKeepsWhatItHad) {
  namespace fs = std::filesystem;
  struct Case {
    const char* name;
    std::function<void()> change;
    const char* told;  // the message names the file this way
    bool attachment;
  };
  const std::vector<Case> cases = {
      {"body edited", [this] { WriteBytes(bodyPath, S("ご案内\r\n書き換えました。\r\n")); },
       "本文ファイルが前回の送信の後に変更されています", false},
      {"body gone", [this] { fs::remove(bodyPath); }, "本文ファイルを読めません", false},
      {"attachment edited, same size",
       [this] { WriteBytes(attachmentPath, "%PDF-1.4\n" + std::string(299, '\x01') + "\x02"); },
       "添付ファイルが前回の送信の後に変更されています", true},
      {"attachment gone", [this] { fs::remove(attachmentPath); }, "添付ファイルを読めません", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home.File("Log"));
    WriteRunFiles();
    const std::string journal = Journal(At(6, 9, 30), {MailOutcome::Sent, MailOutcome::NotSent});
    c.change();
    Start();
    platform.ClearRecords();
    const FormState before = Form();
    platform.QueueAnswer(MsgAnswer::Yes);
    EXPECT_EQ(Offer(), ResumeOffer::Refused);
    ASSERT_EQ(platform.MessageBoxes().size(), 2u);
    const std::string told = Boxes()[1];
    EXPECT_NE(told.find(c.told), std::string::npos) << told;
    const std::string& path = c.attachment ? attachmentPath : bodyPath;
    EXPECT_NE(told.find(path), std::string::npos) << told;
    EXPECT_EQ(Form(), before);
    EXPECT_EQ(job().windowTitle, S("無題 - Velkaro"));
    // Put right, the files can be sent as they were at the next start.
    EXPECT_TRUE(Offered(journal));
  }
}

TEST_F(StartupResume, NothingIsAskedWithoutARunToOfferOrWhenTheStartHasWorkOfItsOwn) {
  namespace fs = std::filesystem;
  const std::string setupPath = File("job.vlk2", "/text=" + bodyPath + "\r\n");
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    // Writes what the program folder holds; the journal, if any.
    std::function<std::string()> journals;
  };
  const auto unfinished = [this] {
    return Journal(At(6, 9, 30), {MailOutcome::Sent, MailOutcome::NotSent});
  };
  const std::vector<Case> cases = {
      {"no journal", {}, [] { return std::string(); }},
      {"a finished run",
       {},
       [this] {
         return Journal(At(6, 9, 30), {MailOutcome::Sent, MailOutcome::Refused}, true);
       }},
      {"a run already resumed",
       {},
       [&] {
         const std::string path = unfinished();
         EXPECT_TRUE(MarkJournal(path, "resumed\t-"));
         return path;
       }},
      {"a journal that is not one",
       {},
       [this] {
         fs::create_directories(home.File("Log"));
         WriteBytes(home.File("Log/journal-20261206-093000.txt"), "velkaro-journal 1\nstart\n");
         return std::string();
       }},
      {"a setup file", {"/sendinf=" + setupPath}, unfinished},
      {"a setup file that cannot be read", {"/sendinf=" + home.File("なし.vlk2")}, unfinished},
      {"a body file", {bodyPath}, unfinished},
      {"/text=", {"/text=" + bodyPath}, unfinished},
      {"a recipient", {"/to=山田太郎 <yamada@example.jp>"}, unfinished},
      {"an automatic send", {"/send=on"}, unfinished},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home.File("Log"));
    const std::string journal = c.journals();
    Start(c.arguments);
    platform.ClearRecords();
    EXPECT_EQ(Offer(), ResumeOffer::NotAsked);
    EXPECT_TRUE(platform.MessageBoxes().empty());
    if (!journal.empty()) {
      const std::optional<JournalState> state = ReadJournal(journal, nullptr);
      ASSERT_TRUE(state);
      EXPECT_FALSE(state->noOffer);
    }
  }
}

TEST_F(StartupResume, ARunWithNobodyLeftIsToldOnceAndNotOfferedAgain) {
  Start();
  const std::string journal =
      Journal(At(6, 9, 30), {MailOutcome::Sent, MailOutcome::InDoubt, MailOutcome::Sent});
  const FormState before = Form();
  EXPECT_EQ(Offer(), ResumeOffer::NothingLeft);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  EXPECT_EQ(platform.MessageBoxes()[0].buttons, MsgButtons::Ok);
  EXPECT_NE(Boxes()[0].find("sato@example.jp"), std::string::npos) << Boxes()[0];
  EXPECT_EQ(Form(), before);
  EXPECT_FALSE(Offered(journal));

  Start();
  EXPECT_EQ(Offer(), ResumeOffer::NotAsked);
  EXPECT_EQ(platform.MessageBoxes().size(), 1u);
}

}  // namespace
}  // namespace velkaro::ui::testing
