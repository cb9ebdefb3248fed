// The settings sheet and the server dialog: what they take, what they refuse
// with which message, and what reaches the settings record.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest/QTest>
#include <cstring>
#include <filesystem>

#include "core/encoding.h"
#include "data/settings_file.h"
#include "dialogs_test_util.h"
#include "support/test_support.h"
#include "ui/dialogs/dialogs.h"
#include "ui/dialogs/server_dialog.h"
#include "ui/dialogs/settings_sheet.h"

namespace velkaro::ui::dialogs {
namespace {

using testing::WhenModal;
using velkaro::testing::TempDir;
using velkaro::testing::WriteBytes;

const char kPlaceholderName[] = "(現在開いているフォルダを指定する)";

bool SameRecord(const SettingsRecord& a, const SettingsRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

SettingsRecord SampleRecord() {
  SettingsRecord r = DefaultSettingsRecord();
  r.confirmExit = 1;
  r.titleIn = 0;
  r.speed = 7;
  SetFieldText(r.bodyFolder, "/home/山田/本文");
  SetFieldText(r.attachFolder, "/home/山田/添付");
  SetFieldText(r.setupFolder, "");
  const int on[] = {1, 0, 1, 0};
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    r.soundOn[i] = on[i];
    SetFieldText(r.soundPath[i], "/sounds/音" + std::to_string(i + 1) + ".wav");
  }
  return r;
}

class SettingsSheetTest : public velkaro::testing::PlatformTest {
 protected:
  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& box : platform.MessageBoxes()) texts.push_back(SjisToUtf8(box.text));
    return texts;
  }
};

TEST_F(SettingsSheetTest, OpensOnTheGeneralPageWithTheRecordsValues) {
  const SettingsRecord record = SampleRecord();
  SettingsSheet sheet(nullptr, record, "/program");
  EXPECT_EQ(sheet.windowTitle(), QStringLiteral("環境設定"));
  EXPECT_EQ(sheet.Tabs()->currentIndex(), SettingsSheet::General);
  EXPECT_EQ(sheet.Tabs()->tabText(0), QStringLiteral("全体"));
  EXPECT_EQ(sheet.Tabs()->tabText(1), QStringLiteral("サウンド"));
  EXPECT_TRUE(sheet.ConfirmExitBox()->isChecked());
  EXPECT_FALSE(sheet.TitleInBox()->isChecked());
  EXPECT_EQ(sheet.SpeedEdit()->text(), QStringLiteral("7"));
  EXPECT_EQ(sheet.FolderEdit(0)->text(), QStringLiteral("/home/山田/本文"));
  EXPECT_EQ(sheet.FolderEdit(2)->text(), QString());
  EXPECT_TRUE(sheet.PageInitialized(SettingsSheet::General));
  EXPECT_FALSE(sheet.PageInitialized(SettingsSheet::Sound));
  EXPECT_FALSE(sheet.ApplyButton()->isEnabled());
}

TEST_F(SettingsSheetTest, SpeedOutsideOneToHundredKeepsTheSheetOpen) {
  const struct {
    const char* typed;
    const char* message;  // nullptr: accepted
  } cases[] = {
      {"0", "1 から 100 までの整数を入力してください。"},
      {"101", "1 から 100 までの整数を入力してください。"},
      {"-5", "1 から 100 までの整数を入力してください。"},
      {"abc", "整数を入力してください。"},
      {"", "整数を入力してください。"},
      {"5.5", "整数を入力してください。"},
      {"99999999999", "整数を入力してください。"},
      {"1", nullptr},
      {"100", nullptr},
      {" 42 ", nullptr},
      {"５０", nullptr},  // full-width, as an input method types it
  };
  for (const auto& c : cases) {
    platform.ClearRecords();
    SettingsSheet sheet(nullptr, SampleRecord(), "/program");
    sheet.show();
    sheet.SpeedEdit()->SetText(QString::fromUtf8(c.typed));
    sheet.OkButton()->click();
    if (c.message == nullptr) {
      EXPECT_EQ(sheet.result(), QDialog::Accepted) << c.typed;
      EXPECT_TRUE(platform.MessageBoxes().empty()) << c.typed;
      continue;
    }
    EXPECT_EQ(Messages(), std::vector<std::string>{c.message}) << c.typed;
    EXPECT_TRUE(sheet.isVisible()) << c.typed;
    EXPECT_NE(sheet.result(), QDialog::Accepted) << c.typed;
    EXPECT_EQ(sheet.focusWidget(), sheet.SpeedEdit()) << c.typed;
  }
}

TEST_F(SettingsSheetTest, TheGeneralPageCannotBeLeftWithABadSpeed) {
  SettingsSheet sheet(nullptr, SampleRecord(), "/program");
  sheet.show();
  sheet.SpeedEdit()->SetText(QStringLiteral("101"));
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  EXPECT_EQ(sheet.Tabs()->currentIndex(), SettingsSheet::General);
  EXPECT_FALSE(sheet.PageInitialized(SettingsSheet::Sound));
  EXPECT_EQ(Messages(), std::vector<std::string>{"1 から 100 までの整数を入力してください。"});

  sheet.SpeedEdit()->SetText(QStringLiteral("100"));
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  EXPECT_EQ(sheet.Tabs()->currentIndex(), SettingsSheet::Sound);
  EXPECT_TRUE(sheet.PageInitialized(SettingsSheet::Sound));
  EXPECT_EQ(platform.MessageBoxes().size(), 1u);
}

TEST_F(SettingsSheetTest, ArrowsStepInsideTheRange) {
  SettingsSheet sheet(nullptr, SampleRecord(), "/program");
  IntegerSpinEdit* speed = sheet.SpeedEdit();
  const struct {
    const char* from;
    int steps;
    const char* to;
  } cases[] = {
      {"5", 1, "6"}, {"5", -1, "4"},    {"100", 1, "100"}, {"1", -1, "1"},   {"99", 10, "100"},
      {"0", 1, "2"}, {"250", -1, "99"}, {"abc", 1, "2"},   {"abc", -1, "1"}, {"７", 1, "8"},
  };
  for (const auto& c : cases) {
    speed->SetText(QString::fromUtf8(c.from));
    speed->stepBy(c.steps);
    EXPECT_EQ(speed->text(), QString::fromUtf8(c.to)) << c.from << " " << c.steps;
  }
  speed->SetText(QStringLiteral("5"));
  QTest::keyClick(speed, Qt::Key_Up);
  EXPECT_EQ(speed->text(), QStringLiteral("6"));
  QTest::keyClick(speed, Qt::Key_Down);
  QTest::keyClick(speed, Qt::Key_Down);
  EXPECT_EQ(speed->text(), QStringLiteral("4"));
}

TEST_F(SettingsSheetTest, OkTakesBackOnlyThePagesThatWereShown) {
  SettingsRecord record = SampleRecord();
  const SettingsRecord before = record;
  SettingsSheet sheet(nullptr, record, "/program");
  sheet.show();
  sheet.ConfirmExitBox()->setChecked(false);
  sheet.TitleInBox()->setChecked(true);
  sheet.SpeedEdit()->SetText(QStringLiteral("42"));
  sheet.FolderEdit(2)->setText(QStringLiteral("/home/山田/設定"));
  sheet.FolderEdit(0)->clear();
  sheet.OkButton()->click();
  ASSERT_EQ(sheet.result(), QDialog::Accepted);
  sheet.TakeBack(record);

  EXPECT_EQ(record.confirmExit, 0);
  EXPECT_EQ(record.titleIn, 1);
  EXPECT_EQ(record.speed, 42);
  EXPECT_EQ(FieldText(record.bodyFolder), "");
  EXPECT_EQ(FieldText(record.attachFolder), "/home/山田/添付");
  EXPECT_EQ(FieldText(record.setupFolder), "/home/山田/設定");
  // The sound page was never shown: its empty controls must not reach the record.
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    EXPECT_EQ(record.soundOn[i], before.soundOn[i]) << i;
    EXPECT_EQ(FieldText(record.soundPath[i]), FieldText(before.soundPath[i])) << i;
  }
}

TEST_F(SettingsSheetTest, VisitedSoundPageIsTakenBack) {
  SettingsRecord record = SampleRecord();
  SettingsSheet sheet(nullptr, record, "/program");
  sheet.show();
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  EXPECT_TRUE(sheet.SoundBox(0)->isChecked());
  EXPECT_FALSE(sheet.SoundBox(1)->isChecked());
  EXPECT_EQ(sheet.SoundPathEdit(2)->text(), QStringLiteral("/sounds/音3.wav"));
  sheet.SoundBox(1)->setChecked(true);
  sheet.SoundBox(2)->setChecked(false);
  sheet.SoundPathEdit(3)->setText(QStringLiteral("/新しい/音.wav"));
  sheet.SoundPathEdit(0)->clear();
  sheet.OkButton()->click();
  ASSERT_EQ(sheet.result(), QDialog::Accepted);
  sheet.TakeBack(record);
  EXPECT_EQ(std::vector<int>(record.soundOn, record.soundOn + 4), (std::vector<int>{1, 1, 0, 0}));
  EXPECT_EQ(FieldText(record.soundPath[0]), "");
  EXPECT_EQ(FieldText(record.soundPath[1]), "/sounds/音2.wav");
  EXPECT_EQ(FieldText(record.soundPath[3]), "/新しい/音.wav");
  EXPECT_EQ(record.speed, 7);
}

TEST_F(SettingsSheetTest, OkOnTheSoundPageStillRefusesABadSpeed) {
  SettingsSheet sheet(nullptr, SampleRecord(), "/program");
  sheet.show();
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  // Only a test can get here: the page cannot be left with a bad speed.
  sheet.SpeedEdit()->SetText(QStringLiteral("0"));
  sheet.OkButton()->click();
  EXPECT_NE(sheet.result(), QDialog::Accepted);
  EXPECT_EQ(sheet.Tabs()->currentIndex(), SettingsSheet::General);
  EXPECT_EQ(Messages(), std::vector<std::string>{"1 から 100 までの整数を入力してください。"});
}

TEST_F(SettingsSheetTest, EntryPointChangesTheRecordOnlyOnOk) {
  Settings settings;
  settings.record = SampleRecord();
  const SettingsRecord before = settings.record;

  WhenModal([](QDialog* d) {
    auto* sheet = dynamic_cast<SettingsSheet*>(d);
    ASSERT_NE(sheet, nullptr);
    sheet->SpeedEdit()->SetText(QStringLiteral("3"));
    sheet->Tabs()->setCurrentIndex(SettingsSheet::Sound);
    sheet->SoundPathEdit(0)->setText(QStringLiteral("/changed.wav"));
    sheet->SoundBox(1)->setChecked(true);
    sheet->CancelButton()->click();
  });
  EXPECT_FALSE(RunSettingsSheet(nullptr, settings));
  EXPECT_TRUE(SameRecord(settings.record, before));

  WhenModal([](QDialog* d) {
    auto* sheet = dynamic_cast<SettingsSheet*>(d);
    ASSERT_NE(sheet, nullptr);
    sheet->SpeedEdit()->SetText(QStringLiteral("3"));
    sheet->OkButton()->click();
  });
  EXPECT_TRUE(RunSettingsSheet(nullptr, settings));
  EXPECT_EQ(settings.record.speed, 3);
}

TEST_F(SettingsSheetTest, FolderButtonsPutTheChosenFolderIntoTheirField) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("本文"));
  const std::string folder = dir.File("本文");
  const struct {
    std::vector<std::string> answer;
    std::string field;  // expected; "=" keeps the field as it was
  } cases[] = {
      {{folder + "/" + kPlaceholderName}, folder},
      {{folder + "/" + "新しいフォルダ"}, folder},  // a name typed over the placeholder
      {{folder}, folder},                           // a dialog that answers with the folder itself
      {{folder + "/"}, folder},
      {{std::string("/") + kPlaceholderName}, "/"},
      {{}, "="},  // cancelled
  };
  for (int button = 0; button < SettingsSheet::kFolders; ++button) {
    for (const auto& c : cases) {
      SettingsSheet sheet(nullptr, SampleRecord(), "/program");
      const QString before = sheet.FolderEdit(button)->text();
      platform.ClearRecords();
      platform.QueueFileDialogAnswer(c.answer);
      sheet.FolderButton(button)->click();
      ASSERT_EQ(platform.FileDialogs().size(), 1u);
      const FileDialogRequest& request = platform.FileDialogs()[0];
      EXPECT_EQ(request.kind, FileDialogRequest::Folder);
      EXPECT_EQ(request.initialName, kPlaceholderName);
      EXPECT_EQ(request.startFolder, before.toStdString());
      const QString expected = c.field == "=" ? before : QString::fromStdString(c.field);
      EXPECT_EQ(sheet.FolderEdit(button)->text(), expected)
          << button << " " << (c.answer.empty() ? "" : c.answer[0]);
    }
  }
}

TEST_F(SettingsSheetTest, SoundBrowseTakesTheChosenFile) {
  SettingsSheet sheet(nullptr, SampleRecord(), "/program");
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  platform.QueueFileDialogAnswer({"/home/山田/音/ベル.wav"});
  sheet.SoundBrowseButton(1)->click();
  EXPECT_EQ(sheet.SoundPathEdit(1)->text(), QStringLiteral("/home/山田/音/ベル.wav"));
  ASSERT_EQ(platform.FileDialogs().size(), 1u);
  const FileDialogRequest& request = platform.FileDialogs()[0];
  EXPECT_EQ(request.kind, FileDialogRequest::Open);
  EXPECT_EQ(request.defaultExtension, "wav");
  EXPECT_EQ(request.initialName, "*.wav");
  EXPECT_EQ(request.filter, Sjis("音源(*.wav)|*.wav|全て(*.*)|*.*||"));
  EXPECT_EQ(request.startFolder, "/sounds");

  platform.QueueFileDialogAnswer({});
  sheet.SoundBrowseButton(1)->click();
  EXPECT_EQ(sheet.SoundPathEdit(1)->text(), QStringLiteral("/home/山田/音/ベル.wav"));
}

TEST_F(SettingsSheetTest, APathTooLongToStoreIsNotTaken) {
  SettingsSheet sheet(nullptr, SampleRecord(), "/program");
  // 86 kanji are 258 bytes on the file system: more than the record holds.
  const std::string tooLong = "/" + QString(86, QChar(u'音')).toStdString() + ".wav";
  platform.QueueFileDialogAnswer({tooLong});
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  sheet.SoundBrowseButton(0)->click();
  EXPECT_EQ(sheet.SoundPathEdit(0)->text(), QStringLiteral("/sounds/音1.wav"));
  EXPECT_EQ(platform.MessageBoxes().size(), 1u);
  // Typing stops at the limit too.
  QLineEdit* edit = sheet.FolderEdit(1);
  edit->clear();
  edit->insert(QString(85, QChar(u'音')));  // 255 bytes
  edit->insert(QStringLiteral("x"));
  EXPECT_EQ(edit->text(), QString(85, QChar(u'音')));
}

TEST_F(SettingsSheetTest, BellPlaysTheShownFileOrTheRowsDefault) {
  TempDir dir;
  WriteBytes(dir.File("bell.wav"), "RIFF....WAVE");
  WriteBytes(dir.File("empty.wav"), "");
  std::filesystem::create_directory(dir.File("folder.wav"));
  const std::string program = dir.File("program");
  const struct {
    int row;
    std::string shown;
    std::string played;
  } cases[] = {
      {0, dir.File("bell.wav"), dir.File("bell.wav")},
      {0, "", program + "/NormalEnd.wav"},
      {1, dir.File("missing.wav"), program + "/ErrorEnd.wav"},
      {2, dir.File("empty.wav"), program + "/OneMail.wav"},
      {3, dir.File("folder.wav"), program + "/Develop.wav"},
  };
  SettingsRecord record = SampleRecord();
  record.soundOn[1] = 0;  // the check box does not matter for the test
  SettingsSheet sheet(nullptr, record, program);
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  for (const auto& c : cases) {
    platform.ClearRecords();
    sheet.SoundPathEdit(c.row)->setText(QString::fromStdString(c.shown));
    sheet.SoundTestButton(c.row)->click();
    EXPECT_EQ(platform.PlayedWaves(), std::vector<std::string>{c.played}) << c.row << c.shown;
  }
}

// --- server dialog -----------------------------------------------------------

class ServerDialogTest : public SettingsSheetTest {
 protected:
  static SettingsRecord ServerRecord() {
    SettingsRecord r = DefaultSettingsRecord();
    SetFieldText(r.server.popServer, "pop.example.jp");
    SetFieldText(r.server.popUser, "yamada");
    SetFieldText(r.server.popPassword, "secret");
    r.server.popPort = 1110;
    SetFieldText(r.server.smtpServer, "smtp.example.jp");
    r.server.smtpPort = 2525;
    SetFieldText(r.server.senderName, Sjis("山田太郎"));
    SetFieldText(r.server.senderAddress, "yamada@example.jp");
    return r;
  }
};

TEST_F(ServerDialogTest, ShowsAndStoresTheEightFields) {
  Settings settings;
  settings.record = ServerRecord();
  ServerDialog dialog(nullptr, settings);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("メールサーバと差出人情報の設定"));
  using F = ServerDialog::Field;
  const struct {
    F field;
    QString shown, typed;
  } cases[] = {
      {F::PopServer, "pop.example.jp", "pop2.example.jp"},
      {F::PopPort, "1110", "995"},
      {F::PopUser, "yamada", "taro"},
      {F::PopPassword, "secret", "pa ss"},
      {F::SmtpServer, "smtp.example.jp", "mail.example.jp"},
      {F::SmtpPort, "2525", "587"},
      {F::SenderName, QStringLiteral("山田太郎"), QStringLiteral("山田 花子")},
      {F::SenderAddress, "yamada@example.jp", "hanako@example.jp"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dialog.FieldEdit(c.field)->text(), c.shown) << c.field;
    dialog.FieldEdit(c.field)->setText(c.typed);
  }
  EXPECT_EQ(dialog.FieldEdit(F::PopPassword)->echoMode(), QLineEdit::Password);
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  const ServerSettings& s = settings.record.server;
  EXPECT_EQ(FieldText(s.popServer), "pop2.example.jp");
  EXPECT_EQ(s.popPort, 995);
  EXPECT_EQ(FieldText(s.popUser), "taro");
  EXPECT_EQ(FieldText(s.popPassword), "pa ss");
  EXPECT_EQ(FieldText(s.smtpServer), "mail.example.jp");
  EXPECT_EQ(s.smtpPort, 587);
  EXPECT_EQ(FieldText(s.senderName), Sjis("山田 花子"));
  EXPECT_EQ(FieldText(s.senderAddress), "hanako@example.jp");
}

TEST_F(ServerDialogTest, BadPortsKeepTheDialogOpenAndTheRecordUnchanged) {
  using F = ServerDialog::Field;
  const struct {
    F field;
    const char* typed;
    const char* message;
  } cases[] = {
      {F::PopPort, "abc", "整数を入力してください。"},
      {F::PopPort, "", "整数を入力してください。"},
      {F::SmtpPort, "25x", "整数を入力してください。"},
      {F::SmtpPort, "0", "1 から 65535 までの整数を入力してください。"},
      {F::PopPort, "65536", "1 から 65535 までの整数を入力してください。"},
  };
  for (const auto& c : cases) {
    platform.ClearRecords();
    Settings settings;
    settings.record = ServerRecord();
    SettingsRecord& record = settings.record;
    const SettingsRecord before = record;
    ServerDialog dialog(nullptr, settings);
    dialog.show();
    dialog.FieldEdit(F::PopServer)->setText(QStringLiteral("other.example.jp"));
    dialog.FieldEdit(c.field)->setText(QString::fromUtf8(c.typed));
    dialog.OkButton()->click();
    EXPECT_EQ(Messages(), std::vector<std::string>{c.message}) << c.typed;
    EXPECT_TRUE(dialog.isVisible()) << c.typed;
    EXPECT_TRUE(SameRecord(record, before)) << c.typed;
    EXPECT_EQ(dialog.focusWidget(), dialog.FieldEdit(c.field)) << c.typed;
  }
}

TEST_F(ServerDialogTest, TextsStopAtWhatTheRecordHolds) {
  Settings settings;
  settings.record = ServerRecord();
  const SettingsRecord& record = settings.record;
  ServerDialog dialog(nullptr, settings);
  QLineEdit* name = dialog.FieldEdit(ServerDialog::SenderName);
  name->clear();
  name->insert(QString(63, QChar(u'山')));  // 126 bytes of Shift_JIS
  name->insert(QStringLiteral("田"));       // would be 128
  name->insert(QStringLiteral("a"));        // 127 fits
  EXPECT_EQ(name->text(), QString(63, QChar(u'山')) + QStringLiteral("a"));
  dialog.OkButton()->click();
  EXPECT_EQ(FieldText(record.server.senderName).size(), 127u);
}

TEST_F(ServerDialogTest, EntryPointWritesOnlyOnOk) {
  Settings settings;
  settings.record = ServerRecord();
  const SettingsRecord before = settings.record;
  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<ServerDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    dialog->FieldEdit(ServerDialog::SmtpServer)->setText(QStringLiteral("x.example.jp"));
    dialog->CancelButton()->click();
  });
  EXPECT_FALSE(RunServerDialog(nullptr, settings));
  EXPECT_TRUE(SameRecord(settings.record, before));

  WhenModal([](QDialog* d) {
    auto* dialog = dynamic_cast<ServerDialog*>(d);
    ASSERT_NE(dialog, nullptr);
    dialog->FieldEdit(ServerDialog::SmtpServer)->setText(QStringLiteral("x.example.jp"));
    dialog->OkButton()->click();
  });
  EXPECT_TRUE(RunServerDialog(nullptr, settings));
  EXPECT_EQ(FieldText(settings.record.server.smtpServer), "x.example.jp");
}

}  // namespace
}  // namespace velkaro::ui::dialogs
