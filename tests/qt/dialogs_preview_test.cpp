// The preview shows each recipient's mail as the send run makes it, with
// the character set that mail goes out in, and saves every mail as .eml
// files; the version information shows the program's and the libraries'
// versions.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <filesystem>
#include <functional>
#include <set>

#include "core/encoding.h"
#include "data/settings_file.h"
#include "dialogs_test_util.h"
#include "job/eml_export.h"
#include "job/personalise.h"
#include "job/send_job.h"
#include "platform/qt/qt_platform.h"
#include "support/test_support.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/preview_dialog.h"
#include "ui/dialogs/version_dialog.h"

namespace velkaro::ui::dialogs {
namespace {

using testing::ClickRow;
using testing::DoubleClickRow;
using testing::WhenModal;
using velkaro::testing::ReadBytes;
using velkaro::testing::TempDir;
using velkaro::testing::WriteBytes;

const char kBody[] =
    "  ((name))様へのお知らせ  \r\n"
    "((kana))さん、こんにちは。\r\n"
    "宛先: ((mailaddr)) ((today))\r\n";

class PreviewTest : public velkaro::testing::PlatformTest {
 protected:
  PreviewTest() : job(settings) {
    platform.SetLocalTime(2024, 4, 1, 9, 30, 0);
    job.bodyText = Sjis(kBody);
    job.recipientLines = Utf8ToSjis(
        "やまだ\tやまだ\t山田太郎\tyamada@example.jp\t\t\t\t\t\t\r\n"
        "すずき\tすずき\t鈴木一郎\t\t\t\t\t\t\t\r\n"  // no address: a row all the same
        "さとう\tさとう\t佐藤花子\tsato@example.jp\t\t\t\t\t\t\r\n");
  }
  QString Subject(const PreviewDialog& d) const { return d.SubjectEdit()->text(); }
  QString Body(const PreviewDialog& d) const { return d.BodyEdit()->toPlainText(); }

  Settings settings;
  SendJob job;
};

TEST_F(PreviewTest, TitleInDecidesWhetherTheSubjectLineStaysInTheBody) {
  const struct {
    bool titleIn;
    QString bodyStart;
  } cases[] = {
      {false, QStringLiteral("やまださん、こんにちは。\n宛先: yamada@example.jp ")},
      {true, QStringLiteral("  山田太郎様へのお知らせ  \nやまださん、こんにちは。\n")},
  };
  for (const auto& c : cases) {
    job.titleIn = c.titleIn;
    PreviewDialog dialog(nullptr, job, settings);
    EXPECT_EQ(Subject(dialog), QStringLiteral("山田太郎様へのお知らせ")) << c.titleIn;
    EXPECT_TRUE(Body(dialog).startsWith(c.bodyStart)) << Body(dialog).toStdString();
    EXPECT_FALSE(Body(dialog).contains(QStringLiteral("((")));
    // Exactly what the send run makes for the first recipient.
    const PersonalisedMail sent = PersonaliseMail(
        PlaceholderWordsOf(settings.record), job.bodyText,
        Utf8ToSjis("やまだ\tやまだ\t山田太郎\tyamada@example.jp\t\t\t\t\t\t\r\n"), c.titleIn);
    EXPECT_EQ(Subject(dialog), qt::FromSjis(sent.subject));
    EXPECT_EQ(Body(dialog), qt::FromSjis(sent.body));
  }
}

TEST_F(PreviewTest, EveryRecipientLineIsARowAndRowIIsLineI) {
  PreviewDialog dialog(nullptr, job, settings);
  dialog.show();
  QApplication::processEvents();
  QAbstractItemModel* model = dialog.List()->model();
  ASSERT_EQ(model->rowCount(), 3);
  const QString headers[] = {"登録名", "メールアドレス", "氏名", "<<"};
  for (int c = 0; c < 4; ++c)
    EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString(), headers[c]);
  EXPECT_EQ(model->index(2, 0).data().toString(), QStringLiteral("さとう"));
  EXPECT_EQ(model->index(2, 1).data().toString(), QStringLiteral("sato@example.jp"));
  EXPECT_EQ(model->index(2, 2).data().toString(), QStringLiteral("佐藤花子"));

  ClickRow(dialog.List(), 2);
  dialog.SubstituteButton()->click();
  EXPECT_EQ(Subject(dialog), QStringLiteral("佐藤花子様へのお知らせ"));
  EXPECT_TRUE(Body(dialog).contains(QStringLiteral("sato@example.jp")));

  DoubleClickRow(dialog.List(), 1);
  EXPECT_EQ(Subject(dialog), QStringLiteral("鈴木一郎様へのお知らせ"));
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(PreviewTest, WithoutASelectionTheTextIsShownWithoutRecipientData) {
  PreviewDialog dialog(nullptr, job, settings);
  dialog.List()->clearSelection();
  dialog.SubstituteButton()->click();
  EXPECT_EQ(Subject(dialog), QStringLiteral("様へのお知らせ"));

  job.recipientLines.clear();
  PreviewDialog empty(nullptr, job, settings);
  EXPECT_EQ(empty.List()->model()->rowCount(), 0);
  EXPECT_EQ(Subject(empty), QStringLiteral("様へのお知らせ"));
  EXPECT_TRUE(Body(empty).startsWith(QStringLiteral("さん、こんにちは。")));
}

TEST_F(PreviewTest, AnEmptyTextHasNoSubject) {
  job.bodyText.clear();
  for (bool titleIn : {false, true}) {
    job.titleIn = titleIn;
    PreviewDialog dialog(nullptr, job, settings);
    EXPECT_EQ(Subject(dialog), QStringLiteral("Non Subject!"));
    EXPECT_TRUE(Body(dialog).trimmed().isEmpty());
  }
}

TEST_F(PreviewTest, OpensBelowTheMainWindowAndGrowsWithIt) {
  QMainWindow main;
  main.setGeometry(40, 30, 300, 200);
  main.show();
  QApplication::processEvents();
  PreviewDialog dialog(&main, job, settings);
  dialog.show();
  QApplication::processEvents();
  EXPECT_EQ(dialog.frameGeometry().topLeft(), main.frameGeometry().topLeft() + QPoint(0, 48));

  const QSize base = dialog.size();
  QWidget* const controls[] = {
      dialog.BodyEdit(),         dialog.SubjectEdit(), dialog.List(),     dialog.CloseButton(),
      dialog.SubstituteButton(), dialog.CharsetEdit(), dialog.EmlButton()};
  std::vector<QRect> start;
  for (QWidget* w : controls) start.push_back(w->geometry());

  dialog.resize(base - QSize(50, 50));
  QApplication::processEvents();
  EXPECT_EQ(dialog.size(), base);

  dialog.resize(base + QSize(40, 30));
  QApplication::processEvents();
  const QRect expected[] = {
      start[0].adjusted(0, 0, 40, 30),  // the body grows both ways
      start[1].adjusted(0, 0, 40, 0),   // the subject and the list grow wider
      start[2].adjusted(0, 0, 40, 0),
      start[3].translated(40, 0),  // the buttons move right
      start[4].translated(40, 0),
      start[5].adjusted(0, 0, 40, 0),  // the character set line grows wider
      start[6].translated(40, 0),      // and its button moves right
  };
  for (int i = 0; i < 7; ++i) EXPECT_EQ(controls[i]->geometry(), expected[i]) << i;
  // The character set line sits between the subject and the body, its
  // button in the column of the other buttons.
  EXPECT_GT(start[5].top(), start[1].bottom());
  EXPECT_LT(start[5].bottom(), start[0].top());
  EXPECT_EQ(start[6].left(), start[3].left());
}

TEST_F(PreviewTest, EntryPointClosesWithTheEndButton) {
  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<PreviewDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->SubjectEdit()->text(), QStringLiteral("山田太郎様へのお知らせ"));
    dialog->CloseButton()->click();
  });
  RunPreviewDialog(nullptr, job, settings);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// --- character set --------------------------------------------------------

// The line follows the mail shown: the setting and that mail's own texts
// (here the recipient's name) decide it.
TEST_F(PreviewTest, CharsetLineIsDecidedPerMail) {
  job.recipientLines = Utf8ToSjis(
      "やまだ\tやまだ\t山田太郎\tyamada@example.jp\t\t\t\t\t\t\r\n"
      "まる\tまる\t丸①商店㈱\tmaru@example.jp\t\t\t\t\t\t\r\n");
  const struct {
    const char* setting;
    QString jisOnly, beyondJis;
  } cases[] = {
      {"auto", QStringLiteral("文字コード: ISO-2022-JP"),
       QStringLiteral("文字コード: UTF-8（①, ㈱ を含むため）")},
      {"iso-2022-jp", QStringLiteral("文字コード: ISO-2022-JP"),
       QStringLiteral(
           "文字コード: ISO-2022-JP（①, ㈱ は受信側で正しく表示されない場合があります）")},
      {"utf-8", QStringLiteral("文字コード: UTF-8"), QStringLiteral("文字コード: UTF-8")},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(settings.ini.Set("charset", c.setting), 0) << c.setting;
    PreviewDialog dialog(nullptr, job, settings);
    dialog.show();
    QApplication::processEvents();
    EXPECT_TRUE(dialog.CharsetEdit()->isReadOnly());
    EXPECT_EQ(dialog.CharsetEdit()->text(), c.jisOnly) << c.setting;
    ClickRow(dialog.List(), 1);
    dialog.SubstituteButton()->click();
    EXPECT_EQ(dialog.CharsetEdit()->text(), c.beyondJis) << c.setting;
    // The same choice the written mail carries.
    CharsetChoice sent;
    ComposedMessage(job, 1, &sent);
    EXPECT_EQ(dialog.CharsetEdit()->text().startsWith(QStringLiteral("文字コード: UTF-8")),
              sent.charset == mime::Charset::Utf8)
        << c.setting;
    // Back to the first mail: the line is not left at the other's choice.
    DoubleClickRow(dialog.List(), 0);
    EXPECT_EQ(dialog.CharsetEdit()->text(), c.jisOnly) << c.setting;
  }
}

TEST_F(PreviewTest, WithoutARecipientTheCharsetIsThatOfTheTextAlone) {
  job.bodyText = Sjis("((name))様\r\n㈱の件\r\n");
  job.recipientLines.clear();
  PreviewDialog dialog(nullptr, job, settings);
  EXPECT_EQ(dialog.CharsetEdit()->text(), QStringLiteral("文字コード: UTF-8（㈱ を含むため）"));

  job.bodyText = Sjis(kBody);
  PreviewDialog plain(nullptr, job, settings);
  EXPECT_EQ(plain.CharsetEdit()->text(), QStringLiteral("文字コード: ISO-2022-JP"));
}

// --- saving as .eml ----------------------------------------------------------

std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& e : std::filesystem::directory_iterator(folder, ignored)) {
    names.insert(e.path().filename().string());
  }
  return names;
}

TEST_F(PreviewTest, EmlButtonWritesEveryMailIntoTheChosenFolder) {
  TempDir dir;
  // A folder typed into the dialog that does not exist yet is made.
  const std::string folder = dir.File("new");
  platform.QueueFileDialogAnswer({folder});
  PreviewDialog dialog(nullptr, job, settings);
  ASSERT_TRUE(dialog.EmlButton()->isEnabled());
  dialog.EmlButton()->click();

  ASSERT_EQ(platform.FileDialogs().size(), 1u);
  EXPECT_EQ(platform.FileDialogs()[0].kind, FileDialogRequest::Folder);
  // Every recipient line is a mail, the one without an address too.
  const std::set<std::string> expected = {"0001_yamada@example.jp.eml", "0002_.eml",
                                          "0003_sato@example.jp.eml"};
  EXPECT_EQ(NamesIn(folder), expected);
  for (const std::string& name : expected) {
    EXPECT_EQ(ReadBytes(folder + "/" + name).rfind("From: ", 0), 0u) << name;
  }
  EXPECT_NE(ReadBytes(folder + "/0003_sato@example.jp.eml").find("sato@example.jp"),
            std::string::npos);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  EXPECT_EQ(SjisToUtf8(platform.MessageBoxes()[0].text), "3通のメールを保存しました: " + folder);
  EXPECT_EQ(platform.MessageBoxes()[0].icon, MsgIcon::Information);

  // The next time the folder dialog starts in the folder chosen last.
  dialog.EmlButton()->click();
  ASSERT_EQ(platform.FileDialogs().size(), 2u);
  EXPECT_EQ(platform.FileDialogs()[1].startFolder, folder);
}

TEST_F(PreviewTest, CancellingTheFolderDialogWritesNothing) {
  TempDir dir;
  PreviewDialog dialog(nullptr, job, settings);
  dialog.EmlButton()->click();  // the test platform cancels
  EXPECT_EQ(platform.FileDialogs().size(), 1u);
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(PreviewTest, WithoutRecipientsThereIsNothingToSave) {
  job.recipientLines.clear();
  PreviewDialog dialog(nullptr, job, settings);
  EXPECT_FALSE(dialog.EmlButton()->isEnabled());
}

// A folder that cannot take the files is told as a failure, never as
// mails saved, and names the file that failed.
TEST_F(PreviewTest, EmlFolderThatCannotBeWrittenIsReported) {
  const struct {
    const char* what;
    std::function<std::string(const TempDir&)> folder;
    std::string failedFile, written;
  } cases[] = {
      // A missing folder is made; one under a plain file cannot be.
      {"folder under a file",
       [](const TempDir& d) {
         WriteBytes(d.File("file"), "x");
         return d.File("file/sub");
       },
       "0001_yamada@example.jp.eml", ""},
      {"a file, not a folder",
       [](const TempDir& d) {
         WriteBytes(d.File("plain"), "x");
         return d.File("plain");
       },
       "0001_yamada@example.jp.eml", ""},
      {"second name taken by a folder",
       [](const TempDir& d) {
         std::filesystem::create_directory(d.File("0002_.eml"));
         return d.path();
       },
       "0002_.eml", "（1通は保存済み）"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string folder = c.folder(dir);
    const std::size_t before = platform.MessageBoxes().size();
    platform.QueueFileDialogAnswer({folder});
    PreviewDialog dialog(nullptr, job, settings);
    dialog.EmlButton()->click();
    ASSERT_EQ(platform.MessageBoxes().size(), before + 1) << c.what;
    const TestPlatform::MessageBoxCall& box = platform.MessageBoxes().back();
    const std::string text = SjisToUtf8(box.text);
    EXPECT_EQ(text.rfind("EMLファイルを保存できませんでした。" + c.written + "\r\n", 0), 0u)
        << c.what << ": " << text;
    EXPECT_NE(text.find(folder + "/" + c.failedFile), std::string::npos) << c.what << ": " << text;
    EXPECT_EQ(text.find("保存しました"), std::string::npos) << c.what;
    EXPECT_EQ(box.icon, MsgIcon::Exclamation) << c.what;
  }
}

// --- version information -------------------------------------------------

TEST(VersionLine, ReadsFourNumbers) {
  const struct {
    std::string text, line;
  } cases[] = {
      {"1.0.0.0", "Velkaro Version : 1.00.0 .0"},
      {"1, 3, 0, 0", "Velkaro Version : 1.03.0 .0"},
      {"2.10.3.7", "Velkaro Version : 2.10.3 .7"},
      {"1.2", "Velkaro Version : 1.02.0 .0"},
      {"12.345.6.78.9", "Velkaro Version : 12.345.6 .78"},
      {"", ""},
      {"version", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgramVersionLine(c.text), c.line) << c.text;
}

TEST(VersionLine, LibrariesGiveTheirOwnNumbers) {
  EXPECT_EQ(LibraryVersionLines(), "Wirepost2 Version : 1.00.0 .4\r\nZentool Version : 1.00.1 .3");
}

class VersionDialogTest : public velkaro::testing::PlatformTest {};

TEST_F(VersionDialogTest, ShowsTheBuildsVersionAndTheLibraries) {
  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<VersionDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Velkaroのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^Velkaro Version : \d+\.\d\d\.\d+ \.\d+$)"))
                    .match(dialog->ProgramLine()->text())
                    .hasMatch())
        << dialog->ProgramLine()->text().toStdString();
    EXPECT_EQ(dialog->LibraryLines()->toPlainText(),
              QStringLiteral("Wirepost2 Version : 1.00.0 .4\nZentool Version : 1.00.1 .3"));
    EXPECT_FALSE(dialog->Notice()->text().isEmpty());
    dialog->OkButton()->click();
  });
  RunVersionDialog(nullptr);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace velkaro::ui::dialogs
