// The way out: the exit question, the save questions for a changed body,
// and the window position and settings written at the end.
#include <gtest/gtest.h>

#include <filesystem>

#include "form_fixture.h"

namespace velkaro::ui::testing {
namespace {

const char* const kExitQuestion =
    "Velkaro を終了しますか？\n\n  　　　[OK]:  プログラムを終了します。\n"
    "[キャンセル]:  操作を取り消します。\n\n";
const char* const kTypedQuestion = "本文が新規に書き込まれています。保存しますか?";
const char* const kChangedQuestion = "本文が変更されています。保存しますか?\r\nオリジナルファイル:";

class MainWindowExit : public FrameTest {
 protected:
  std::string Original() const { return home.File("original.txt"); }
  std::string SavedAs() const { return home.File("saved.txt"); }
  std::string SettingsFile() const { return home.File("Velkaro.cfg"); }
  SettingsRecord Stored() {
    Settings settings;
    EXPECT_EQ(settings.LoadSettings(), 0);
    return settings.record;
  }
};

TEST_F(MainWindowExit, AsksWhatTheSettingsAndTheBodyCallFor) {
  enum Body { Unchanged, Typed, ChangedFile };
  const struct {
    const char* name;
    int confirmExit;
    bool exitCommand;
    Body body;
    std::vector<MsgAnswer> answers;
    bool saveAsChosen;  // the save-as dialog, if shown, gets saved.txt
    bool closed;
    std::vector<std::string> boxes;
    const char* original;  // what original.txt holds afterwards
    const char* savedAs;   // what saved.txt holds afterwards, or nullptr
  } cases[] = {
      {"nothing to ask", 0, false, Unchanged, {}, false, true, {}, "件名\r\n元\r\n", nullptr},
      {"exit question cancelled",
       1,
       false,
       Unchanged,
       {MsgAnswer::Cancel},
       false,
       false,
       {kExitQuestion},
       "件名\r\n元\r\n",
       nullptr},
      {"exit question answered OK",
       1,
       false,
       Unchanged,
       {MsgAnswer::Ok},
       false,
       true,
       {kExitQuestion},
       "件名\r\n元\r\n",
       nullptr},
      {"exit command: no exit question, Yes overwrites without asking",
       1,
       true,
       ChangedFile,
       {MsgAnswer::Yes},
       false,
       true,
       {kChangedQuestion},
       "件名\r\n元\r\n追記",
       nullptr},
      {"No offers another name; cancelling it lets the change go",
       0,
       false,
       ChangedFile,
       {MsgAnswer::No},
       false,
       true,
       {kChangedQuestion},
       "件名\r\n元\r\n",
       nullptr},
      {"No offers another name",
       0,
       false,
       ChangedFile,
       {MsgAnswer::No},
       true,
       true,
       {kChangedQuestion},
       "件名\r\n元\r\n",
       "件名\r\n元\r\n追記"},
      {"typed text saved under a new name",
       0,
       false,
       Typed,
       {MsgAnswer::Yes},
       true,
       true,
       {kTypedQuestion},
       "件名\r\n元\r\n",
       "打った件名\r\n"},
      {"typed text let go",
       0,
       false,
       Typed,
       {MsgAnswer::No},
       false,
       true,
       {kTypedQuestion},
       "件名\r\n元\r\n",
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(SettingsFile());
    std::filesystem::remove(SavedAs());
    WriteBytes(Original(), S("件名\r\n元\r\n"));
    platform.ClearRecords();
    Start({}, [&](Settings& settings) { settings.record.confirmExit = c.confirmExit; });
    if (c.body == ChangedFile) {
      ASSERT_EQ(job().LoadBodyFile(Original()), 0);
      editor().moveCursor(QTextCursor::End);
      editor().insertPlainText(QStringLiteral("追記"));
    } else if (c.body == Typed) {
      editor().insertPlainText(QStringLiteral("打った件名\n"));
    }
    for (const MsgAnswer answer : c.answers) platform.QueueAnswer(answer);
    if (c.saveAsChosen) platform.QueueFileDialogAnswer({SavedAs()});
    if (c.exitCommand) {
      frame->OnCommand(kCommandExit);
      platform.Pump();
    } else {
      frame->close();
    }
    EXPECT_EQ(frame->isVisible(), !c.closed);
    std::vector<std::string> boxes = Boxes();
    for (std::size_t i = 0; i < boxes.size() && i < c.boxes.size(); ++i) {
      boxes[i] = boxes[i].substr(0, c.boxes[i].size());  // the question without the path
    }
    EXPECT_EQ(boxes, c.boxes);
    EXPECT_EQ(SjisToUtf8(ReadBytes(Original())), c.original);
    if (c.savedAs == nullptr) {
      EXPECT_FALSE(std::filesystem::exists(SavedAs()));
    } else {
      EXPECT_EQ(SjisToUtf8(ReadBytes(SavedAs())), c.savedAs);
    }
    // Every exit, and only an exit, writes the settings.
    EXPECT_EQ(std::filesystem::exists(SettingsFile()), c.closed);
  }
}

TEST_F(MainWindowExit, StoresTheWindowPositionAndStartsThereNextTime) {
  Start();
  frame->move(123, 45);
  QCoreApplication::processEvents();
  frame->close();
  ASSERT_FALSE(frame->isVisible());
  EXPECT_EQ(Stored().windowLeft, 123);
  EXPECT_EQ(Stored().windowTop, 45);
  Start();
  EXPECT_EQ(frame->pos(), QPoint(123, 45));
}

TEST_F(MainWindowExit, APositionOffEveryScreenIsBroughtBack) {
  Start({}, [](Settings& settings) {
    settings.record.windowLeft = -30000;
    settings.record.windowTop = 30000;
  });
  EXPECT_NE(QGuiApplication::screenAt(frame->pos()), nullptr);
}

TEST_F(MainWindowExit, AFailedSaveKeepsTheProgramAndTheText) {
  Start();
  editor().insertPlainText(QStringLiteral("大事な本文\n"));
  platform.QueueAnswer(MsgAnswer::Yes);
  platform.QueueFileDialogAnswer({home.File("no/such/folder/body.txt")});
  frame->close();
  EXPECT_TRUE(frame->isVisible());
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_NE(Boxes()[1].find("本文テキストを保存できませんでした。"), std::string::npos);
  EXPECT_TRUE(editor().toPlainText().contains(QStringLiteral("大事な本文")));
  EXPECT_FALSE(std::filesystem::exists(SettingsFile()));
}

TEST_F(MainWindowExit, TheExitButtonClosesWhenNoRunIsGoing) {
  Start();
  static_cast<QAbstractButton*>(view().Control(kExitButton))->click();
  EXPECT_TRUE(frame->isVisible());  // a posted close request
  platform.Pump();
  EXPECT_FALSE(frame->isVisible());
}

}  // namespace
}  // namespace velkaro::ui::testing
