// Attachments that differ per recipient: adding one from the window, how
// the attachment list shows it (how many recipients find their file), and
// what the preview shows for each recipient.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "dialogs_test_util.h"
#include "form_fixture.h"
#include "ui/dialogs/personal_attachment_dialog.h"
#include "ui/dialogs/preview_dialog.h"

namespace velkaro::ui::testing {
namespace {

using dialogs::PersonalAttachmentDialog;
using dialogs::testing::WhenModal;

class PersonalAttachments : public FrameTest {
 protected:
  void SetUp() override {
    Start();
    folder = home.File("請求書");
    std::filesystem::create_directories(folder);
    WriteBytes(folder + "/山田.pdf", "%PDF-1.4 yamada\n");
    WriteBytes(folder + "/共通.pdf", "%PDF-1.4 all\n");
    editor().setPlainText(QStringLiteral("お知らせ\n((name))様\n"));
    job().recipientLines = Entry("山田", "山田太郎", "yamada@example.jp") +
                           Entry("佐藤", "佐藤花子", "sato@example.jp");
    job().RebuildRecipientList();
  }

  // Runs the command, typing `typed` into the dialog (nullptr: cancel);
  // what the field offered.
  QString AddThroughDialog(const char* typed) {
    QString offered;
    WhenModal([&](QDialog* d) {
      auto* dialog = dynamic_cast<PersonalAttachmentDialog*>(d);
      ASSERT_NE(dialog, nullptr);
      offered = dialog->PatternEdit()->text();
      if (typed == nullptr) {
        dialog->CancelButton()->click();
        return;
      }
      dialog->PatternEdit()->setText(QString::fromUtf8(typed));
      dialog->OkButton()->click();
    });
    frame->OnCommand(kCmdAddPersonalAttachment);
    return offered;
  }

  QString RowText(int row, int column = 0) {
    return view().AttachmentList()->topLevelItem(row)->text(column);
  }

  std::string folder;
};

TEST_F(PersonalAttachments, AddedRowShowsHowManyRecipientsFindTheirFile) {
  // The field starts in the folder of the file added last.
  view().AddAttachmentFiles({folder + "/共通.pdf"});
  const std::string pattern = folder + "/((regist)).pdf";
  EXPECT_EQ(AddThroughDialog(pattern.c_str()).toStdString(), folder + "/");
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(job().attachments.size(), 2u);
  EXPECT_EQ(job().AttachmentPath(1), pattern);
  ASSERT_EQ(view().AttachmentList()->topLevelItemCount(), 2);
  EXPECT_EQ(RowText(0), QStringLiteral("共通.pdf"));
  EXPECT_EQ(RowText(1), QStringLiteral("((regist)).pdf  [個別 1/2]"));
  EXPECT_EQ(RowText(1, 1).toStdString(), folder);

  // The count follows the recipients.
  job().recipientLines += Entry("鈴木", "鈴木一郎", "suzuki@example.jp");
  job().RebuildRecipientList();
  EXPECT_EQ(RowText(1), QStringLiteral("((regist)).pdf  [個別 1/3]"));
  WriteBytes(folder + "/佐藤.pdf", "%PDF-1.4 sato\n");
  job().recipientLines = Entry("佐藤", "佐藤花子", "sato@example.jp");
  job().RebuildRecipientList();
  EXPECT_EQ(RowText(1), QStringLiteral("((regist)).pdf  [個別 1/1]"));
}

TEST_F(PersonalAttachments, APathWithoutWordsIsAnOrdinaryFileThatMustExist) {
  const std::string missing = folder + "/ない.pdf";
  AddThroughDialog(missing.c_str());
  EXPECT_TRUE(job().attachments.empty());
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].find("ファイルが見つからないか空のため"), std::string::npos);
  EXPECT_NE(Boxes()[0].find(missing), std::string::npos);

  const std::string common = folder + "/共通.pdf";
  AddThroughDialog(common.c_str());
  ASSERT_EQ(job().attachments.size(), 1u);
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_NE(Boxes()[1].find("全員に同じファイルを添付します"), std::string::npos);
  EXPECT_EQ(RowText(0), QStringLiteral("共通.pdf"));

  // Cancelled, or only a folder: nothing is added.
  AddThroughDialog(nullptr);
  EXPECT_EQ(job().attachments.size(), 1u);
}

TEST_F(PersonalAttachments, DialogStartsInTheSettingsFolderAndRefusesAFolder) {
  {
    PersonalAttachmentDialog dialog(nullptr, "");
    EXPECT_EQ(dialog.PatternEdit()->text(), QString());
    EXPECT_FALSE(dialog.PatternEdit()->placeholderText().isEmpty());
  }
  PersonalAttachmentDialog dialog(nullptr, "/home/u/請求書");
  EXPECT_EQ(dialog.PatternEdit()->text(), QStringLiteral("/home/u/請求書/"));
  dialog.setResult(QDialog::Rejected);
  dialog.accept();  // only the folder
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(Boxes().size(), 1u);
  dialog.PatternEdit()->setText(QStringLiteral(" /home/u/請求書/((regist)).pdf "));
  dialog.accept();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(dialog.Pattern(), "/home/u/請求書/((regist)).pdf");
}

TEST_F(PersonalAttachments, PreviewShowsEachRecipientsFilesAndWhatIsMissing) {
  view().AddAttachmentFiles({folder + "/共通.pdf"});
  ASSERT_EQ(job().AddAttachment(1, folder + "/((regist)).pdf"), 0);
  view().PullFromControls();
  dialogs::PreviewDialog dialog(nullptr, job(), doc->settings);
  dialog.ShowForRow(0);
  EXPECT_EQ(dialog.AttachmentsEdit()->text(), QStringLiteral("共通.pdf, 山田.pdf"));
  EXPECT_TRUE(dialog.ProblemLabel()->text().isEmpty());
  EXPECT_FALSE(dialog.ProblemLabel()->isVisibleTo(&dialog));

  dialog.ShowForRow(1);  // 佐藤.pdf is not there
  EXPECT_FALSE(dialog.ProblemLabel()->text().isEmpty());
  EXPECT_TRUE(dialog.ProblemLabel()->isVisibleTo(&dialog));
  EXPECT_NE(dialog.ProblemLabel()->styleSheet().indexOf(QStringLiteral("color")), -1);
  EXPECT_EQ(dialog.ProblemLabel()->text(),
            QString::fromStdString(SjisToUtf8(job().PersonalProblemOf(1)))
                .trimmed()
                .replace(QStringLiteral("\r\n"), QStringLiteral("  ")));

  dialog.ShowForRow(-1);
  EXPECT_TRUE(dialog.ProblemLabel()->text().isEmpty());
}

}  // namespace
}  // namespace velkaro::ui::testing
