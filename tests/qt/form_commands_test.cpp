// The form's commands: removing clicked rows, drag and drop, the body's
// file commands with their questions, characters Shift_JIS cannot hold,
// and send setup files.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <filesystem>

#include "data/address_book.h"
#include "form_fixture.h"
#include "ui/form_layout.h"

namespace velkaro::ui::testing {
namespace {

class FormCommands : public FrameTest {
 protected:
  void ThreeRecipients() {
    job().recipientLines = Entry("一", "一郎", "one@example.jp") +
                           Entry("二", "二郎", "two@example.jp") +
                           Entry("三", "三郎", "three@example.jp");
    job().RebuildRecipientList();
  }
  std::vector<std::string> RecipientRows() {
    std::vector<std::string> rows;
    QTreeWidget& list = *view().RecipientList();
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      rows.push_back(list.topLevelItem(i)->text(1).toStdString());
    }
    return rows;
  }
  std::vector<std::string> AttachmentNames() {
    std::vector<std::string> rows;
    QTreeWidget& list = *view().AttachmentList();
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
      rows.push_back(list.topLevelItem(i)->text(0).toStdString());
    }
    return rows;
  }
};

TEST_F(FormCommands, RemovesTheClickedRecipientAndItsLine) {
  Start();
  ThreeRecipients();
  ClickRow(*view().RecipientList(), 1);
  // Through the button, which posts the menu command to the main window.
  static_cast<QAbstractButton*>(view().Control(kRemoveRecipientButton))->click();
  platform.Pump();
  EXPECT_EQ(RecipientRows(), (std::vector<std::string>{"one@example.jp", "three@example.jp"}));
  EXPECT_EQ(job().recipientLines,
            Entry("一", "一郎", "one@example.jp") + Entry("三", "三郎", "three@example.jp"));
  // The click is used up: a second remove without a new click does nothing.
  frame->OnCommand(kCmdRemoveRecipient);
  EXPECT_EQ(RecipientRows().size(), 2u);
}

TEST_F(FormCommands, ASelectionWithoutAClickOnARowRemovesNothing) {
  Start();
  ThreeRecipients();
  QTreeWidget& list = *view().RecipientList();
  list.setCurrentItem(list.topLevelItem(2));  // as the keyboard selects
  frame->OnCommand(kCmdRemoveRecipient);
  EXPECT_EQ(RecipientRows().size(), 3u);
  // A click on a row, then one on the empty space below the rows.
  ClickRow(list, 0);
  Click(list, QPoint(5, list.viewport()->height() - 3));
  frame->OnCommand(kCmdRemoveRecipient);
  EXPECT_EQ(RecipientRows().size(), 3u);
  ClickRow(list, 2);
  frame->OnCommand(kCmdRemoveRecipient);
  EXPECT_EQ(RecipientRows(), (std::vector<std::string>{"one@example.jp", "two@example.jp"}));
}

TEST_F(FormCommands, RemovesTheClickedAttachmentOnly) {
  Start();
  const std::string a = File("a.pdf", "A"), b = File("b.pdf", "B");
  ASSERT_EQ(job().AddAttachment(0, a), 0);
  ASSERT_EQ(job().AddAttachment(1, b), 0);
  QTreeWidget& list = *view().AttachmentList();
  list.setCurrentItem(list.topLevelItem(0));
  frame->OnCommand(kCmdRemoveAttachment);
  EXPECT_EQ(AttachmentNames().size(), 2u);
  ClickRow(list, 0);
  frame->OnCommand(kCmdRemoveAttachment);
  EXPECT_EQ(AttachmentNames(), std::vector<std::string>{"b.pdf"});
  ASSERT_EQ(job().attachments.size(), 1u);
  EXPECT_EQ(job().attachments[0].folder, home.path());
  frame->OnCommand(kCmdRemoveAllAttachments);
  EXPECT_TRUE(job().attachments.empty());
  EXPECT_TRUE(AttachmentNames().empty());
}

TEST_F(FormCommands, FilesDroppedOnTheAttachmentListAreAddedInDropOrder) {
  Start();
  const std::string first = File("1.pdf", "1"), second = File("2.doc", "2"),
                    third = File("3.zip", "3");
  ASSERT_EQ(job().AddAttachment(0, File("0.txt", "0")), 0);
  EXPECT_TRUE(Drop(*view().AttachmentList()->viewport(), {first, second, third}));
  EXPECT_EQ(AttachmentNames(), (std::vector<std::string>{"0.txt", "1.pdf", "2.doc", "3.zip"}));
  EXPECT_TRUE(platform.MessageBoxes().empty());
  // A file that cannot be attached is named, the others still come.
  EXPECT_TRUE(Drop(*view().AttachmentList()->viewport(), {File("empty.bin", ""), first}));
  EXPECT_EQ(AttachmentNames().size(), 5u);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].find("empty.bin"), std::string::npos);
}

TEST_F(FormCommands, TheEditorAndThePathFieldLoadTheFirstDroppedFile) {
  Start();
  const std::string one = File("one.txt", S("件名一\r\n本文\r\n"));
  const std::string two = File("two.txt", S("件名二\r\n本文\r\n"));
  EXPECT_TRUE(Drop(*editor().viewport(), {one, two}));
  EXPECT_EQ(editor().toPlainText(), QStringLiteral("件名一\n本文\n"));
  EXPECT_EQ(job().bodyFilePath, one);
  EXPECT_TRUE(view().AttachmentList()->topLevelItemCount() == 0);
  QWidget& path = *view().Control(kBodyPathField);
  EXPECT_TRUE(Drop(path, {two, one}));
  EXPECT_EQ(static_cast<QLineEdit&>(path).text().toStdString(), two);
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("two.txt[*] - Velkaro"));
}

TEST_F(FormCommands, OtherPlacesIgnoreDrops) {
  Start();
  const std::string file = File("x.txt", S("件名\r\n"));
  EXPECT_FALSE(Drop(*view().RecipientList()->viewport(), {file}));
  EXPECT_FALSE(Drop(*view().SendButton(), {file}));
  EXPECT_EQ(job().bodyText, "");
  EXPECT_EQ(job().recipientLines, "");
  EXPECT_TRUE(job().attachments.empty());
}

TEST_F(FormCommands, ADropOnAChangedBodyOffersToSaveItFirst) {
  Start();
  editor().insertPlainText(QStringLiteral("打ちかけの本文\n"));
  const std::string file = File("new.txt", S("件名\r\n"));
  platform.QueueAnswer(MsgAnswer::No);
  EXPECT_TRUE(Drop(*editor().viewport(), {file}));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"本文が新規に書き込まれています。保存しますか?"});
  EXPECT_EQ(job().bodyFilePath, file);
  // A file that cannot be loaded changes nothing and is reported.
  editor().insertPlainText(QStringLiteral("追記\n"));
  platform.QueueAnswer(MsgAnswer::No);
  EXPECT_TRUE(Drop(*editor().viewport(), {File("blank.txt", "")}));
  EXPECT_EQ(job().bodyFilePath, file);
  EXPECT_TRUE(editor().toPlainText().contains(QStringLiteral("追記")));
  ASSERT_EQ(Boxes().size(), 3u);
  EXPECT_NE(Boxes()[2].find("blank.txt"), std::string::npos);
}

TEST_F(FormCommands, SaveAsAsksAgainForANameWhenTheUserWillNotOverwrite) {
  Start();
  const std::string taken = File("taken.txt", "old");
  const std::string fresh = home.File("fresh.txt");
  editor().insertPlainText(QStringLiteral("件名\n本文です。\n"));
  platform.QueueFileDialogAnswer({taken});
  platform.QueueAnswer(MsgAnswer::No);  // not over taken.txt
  platform.QueueFileDialogAnswer({fresh});
  frame->CommandAction(kCmdSaveBody)->trigger();

  ASSERT_EQ(platform.FileDialogs().size(), 2u);
  const FileDialogRequest& request = platform.FileDialogs()[0];
  EXPECT_EQ(request.kind, FileDialogRequest::Save);
  EXPECT_EQ(request.defaultExtension, "txt");
  EXPECT_EQ(SjisToUtf8(request.filter), "本文テキスト(*.txt)|*.txt|全て(*.*)|*.*||");
  EXPECT_FALSE(request.overwritePrompt);  // the program asks its own question
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(
      Boxes()[0],
      "同一のファイル名が存在します。上書きしても良いですか?\r\n・・・ " + taken +
          "\r\n\r\n[はい]・・・・ 上書きします。\r\n[いいえ]・・・ "
          "再度ファイル名を聞き直します。\r\n[キャンセル]・ ファイル保存をスキップします。\r\n");
  EXPECT_EQ(ReadBytes(taken), "old");
  EXPECT_EQ(ReadBytes(fresh), S("件名\r\n本文です。\r\n"));
  EXPECT_EQ(job().bodyFilePath, fresh);
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("fresh.txt[*] - Velkaro"));
  EXPECT_FALSE(frame->isWindowModified());
  EXPECT_FALSE(editor().document()->isModified());

  // Saving a body that has a file writes it back without a question.
  editor().moveCursor(QTextCursor::End);
  editor().insertPlainText(QStringLiteral("追記"));
  frame->CommandAction(kCmdSaveBody)->trigger();
  EXPECT_EQ(platform.FileDialogs().size(), 2u);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(ReadBytes(fresh), S("件名\r\n本文です。\r\n追記"));
}

TEST_F(FormCommands, NothingToSaveIsSaid) {
  Start();
  for (const int command : {kCmdSaveBody, kCmdSaveBodyAs}) {
    platform.ClearRecords();
    frame->CommandAction(command)->trigger();
    EXPECT_EQ(Boxes(), std::vector<std::string>{"保存すべき本文テキストがありません。"});
    EXPECT_TRUE(platform.FileDialogs().empty());
  }
}

TEST_F(FormCommands, CharactersShiftJisCannotHoldAreNamedAndNothingIsSentOrSaved) {
  Start();
  editor().insertPlainText(
      QString::fromUtf8("件名\n絵文字 \xF0\x9F\x98\x80 と \xF0\x9F\x8D\xA3\n"));
  job().recipientLines = Entry("一", "一郎", "one@example.jp");
  const std::string target = home.File("emoji.txt");
  platform.QueueFileDialogAnswer({target});
  frame->CommandAction(kCmdSaveBodyAs)->trigger();
  ASSERT_EQ(Boxes().size(), 1u);
  // Named by line and code point (the character itself is shown only where
  // the box can hold it: the test platform's boxes are Shift_JIS).
  EXPECT_NE(Boxes()[0].find("2行目: 〓 (U+1F600)"), std::string::npos) << Boxes()[0];
  EXPECT_NE(Boxes()[0].find("2行目: 〓 (U+1F363)"), std::string::npos) << Boxes()[0];
  EXPECT_NE(Boxes()[0].find("保存を中止しました"), std::string::npos);
  EXPECT_TRUE(platform.FileDialogs().empty());
  EXPECT_FALSE(std::filesystem::exists(target));

  frame->OnCommand(kCommandSend);
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_NE(Boxes()[1].find("送信を中止しました"), std::string::npos);
  EXPECT_TRUE(job().sendButtonEnabled);
  EXPECT_EQ(job().sendDetails, "");
  // The text stays in the editor for the user to mend.
  EXPECT_TRUE(editor().toPlainText().contains(QString::fromUtf8("\xF0\x9F\x98\x80")));
}

TEST_F(FormCommands, OpeningABodyOffersToSaveAChangedOneAndKeepsItWhenTheFileIsUnusable) {
  Start();
  const std::string original = File("original.txt", S("件名\r\n元の本文\r\n"));
  ASSERT_EQ(job().LoadBodyFile(original), 0);
  editor().appendPlainText(QStringLiteral("変更"));
  platform.QueueFileDialogAnswer({File("binary.dat", std::string("\0\1\2", 3))});
  platform.QueueAnswer(MsgAnswer::No);  // do not save the change
  frame->CommandAction(kCmdOpenBody)->trigger();
  ASSERT_EQ(platform.FileDialogs().size(), 1u);
  EXPECT_EQ(platform.FileDialogs()[0].kind, FileDialogRequest::Open);
  EXPECT_EQ(platform.FileDialogs()[0].initialName, "*.txt");
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[0], "本文が変更されています。保存しますか?\r\nオリジナルファイル:" + original);
  EXPECT_NE(Boxes()[1].find("binary.dat"), std::string::npos);
  EXPECT_EQ(job().bodyFilePath, original);
  EXPECT_TRUE(editor().toPlainText().contains(QStringLiteral("変更")));

  // Yes to the question opens the save-as dialog: no silent overwrite.
  const std::string next = File("next.txt", S("次の件名\r\n"));
  platform.ClearRecords();
  platform.QueueFileDialogAnswer({next});
  platform.QueueAnswer(MsgAnswer::Yes);
  frame->CommandAction(kCmdOpenBody)->trigger();  // the save-as dialog gets no answer
  ASSERT_EQ(platform.FileDialogs().size(), 2u);
  EXPECT_EQ(platform.FileDialogs()[1].kind, FileDialogRequest::Save);
  EXPECT_EQ(ReadBytes(original), S("件名\r\n元の本文\r\n"));
  EXPECT_EQ(job().bodyFilePath, next);
}

TEST_F(FormCommands, AttachmentsFromTheDialogStartInTheConfiguredFolder) {
  Start({}, [this](Settings& settings) {
    std::filesystem::create_directory(home.File("files"));
    SetFieldText(settings.record.attachFolder, home.File("files"));
  });
  platform.QueueFileDialogAnswer({File("b.pdf", "B"), File("a.pdf", "A")});
  static_cast<QAbstractButton*>(view().Control(kAddAttachmentsButton))->click();
  platform.Pump();
  ASSERT_EQ(platform.FileDialogs().size(), 1u);
  EXPECT_EQ(platform.FileDialogs()[0].kind, FileDialogRequest::OpenMany);
  EXPECT_EQ(platform.FileDialogs()[0].startFolder, home.File("files"));
  EXPECT_EQ(AttachmentNames(), (std::vector<std::string>{"b.pdf", "a.pdf"}));
}

TEST_F(FormCommands, ASetupFileWrittenAndReadBackGivesTheSameForm) {
  Start();
  const std::string body = File("body.txt", S("件名\r\n本文\r\n"));
  ASSERT_EQ(job().LoadBodyFile(body), 0);
  ASSERT_EQ(job().AddAttachment(0, File("a.pdf", "A")), 0);
  ThreeRecipients();
  static_cast<QAbstractButton*>(view().Control(kAutoQuitBox))->click();
  const std::string setup = File("job.vlk2", "old");
  platform.QueueFileDialogAnswer({setup});
  platform.QueueAnswer(MsgAnswer::Yes);  // replace job.vlk2
  frame->CommandAction(kCmdWriteSetup)->trigger();
  ASSERT_EQ(platform.FileDialogs().size(), 1u);
  EXPECT_EQ(platform.FileDialogs()[0].defaultExtension, "vlk2");
  EXPECT_NE(ReadBytes(setup).find("/quit=on"), std::string::npos);

  // Everything goes; reading the file brings it all back, box ticked.
  frame->OnCommand(kCmdNewBody);
  frame->OnCommand(kCmdRemoveAllRecipients);
  frame->OnCommand(kCmdRemoveAllAttachments);
  static_cast<QAbstractButton*>(view().Control(kAutoQuitBox))->click();
  ASSERT_FALSE(job().autoQuit);
  platform.QueueFileDialogAnswer({setup});
  frame->CommandAction(kCmdOpenSetup)->trigger();
  EXPECT_EQ(job().bodyFilePath, body);
  EXPECT_EQ(AttachmentNames(), std::vector<std::string>{"a.pdf"});
  EXPECT_EQ(RecipientRows().size(), 3u);
  EXPECT_TRUE(static_cast<QAbstractButton*>(view().Control(kAutoQuitBox))->isChecked());
  // Reading never starts a run.
  EXPECT_FALSE(platform.TimerRunning(&job(), SendJob::kAutoSendTimerId));
}

// The check before sending looks at the texts as edited, the recipients
// and the address book the window holds, and shows what it finds in one
// message.
TEST_F(FormCommands, CheckBeforeSendingShowsItsFindingsInOneMessage) {
  Start({}, [](Settings& settings) {
    SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  });
  doc->addressBook = AddressBookHeaderLine() + Entry("一", "一郎", "one@example.jp");
  job().recipientLines =
      Entry("一", "一郎", "one@example.jp") + Entry("二", "二郎", "ONE@example.jp");
  job().RebuildRecipientList();
  editor().setPlainText(QString::fromUtf8("((name))様\n((nmae))\n"));
  frame->CommandAction(kCmdCheckBeforeSending)->trigger();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(
      Boxes().back(),
      "送信前チェックで 3 件の問題が見つかりました。\r\n\r\n"
      "本文 2 行目の ((nmae)) は差し込み語ではありません(そのまま送られます)。\r\n"
      "送信先 2 件目: メールアドレス <ONE@example.jp> は 1 件目と 2 件目の両方にあります。\r\n"
      "送信先 2 件目: 登録名「二」はアドレス帳にありません。\r\n");

  job().recipientLines = Entry("一", "一郎", "one@example.jp");
  job().RebuildRecipientList();
  editor().setPlainText(QString::fromUtf8("((name))様\n本文\n"));
  frame->CommandAction(kCmdCheckBeforeSending)->trigger();
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes().back(), "問題は見つかりませんでした。");
}

}  // namespace
}  // namespace velkaro::ui::testing
