// Every dialog with Japanese data, laid out with the fonts this machine
// has: no caption may be cut off, no control may cover another or reach
// past the dialog's edge. Run by dialogs_screenshots.sh on a real X server
// (VELKARO_SCREENSHOT_DIR set), each dialog is also photographed there.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <cstdlib>
#include <functional>
#include <memory>

#include "core/encoding.h"
#include "data/settings_file.h"
#include "dialogs_test_util.h"
#include "job/send_job.h"
#include "support/test_support.h"
#include "ui/dialogs/address_dialogs.h"
#include "ui/dialogs/personal_attachment_dialog.h"
#include "ui/dialogs/preview_dialog.h"
#include "ui/dialogs/server_dialog.h"
#include "ui/dialogs/settings_sheet.h"
#include "ui/dialogs/test_send_dialog.h"
#include "ui/dialogs/version_dialog.h"

namespace velkaro::ui::dialogs {
namespace {

using testing::AddressBook;
using testing::ClickRow;

const std::vector<std::string> kPeople = {
    "やまだ\t山田\t山田太郎\tyamada@example.jp\t03-1234-5678\t東京都千代田区丸の内1-"
    "1\t営業部\t\t\t",
    "すずき\t鈴木\t鈴木花子\thanako.suzuki@example.jp\t06-2345-"
    "6789\t大阪府大阪市北区\t総務部\t会員\t\t",
    "さとう\t佐藤\t佐藤一郎\tsato@example.co.jp\t\t北海道札幌市\t\t\t\t",
    "たなか\t田中\t田中美咲\ttanaka@example.ne.jp\t092-000-1111\t福岡県福岡市\t\t\t\t備考",
    "いとう\t伊藤\t伊藤健\tito@example.jp\t\t\t\t\t\t",
    "わたなべ\t渡辺\t渡辺直美\twatanabe@example.jp\t\t愛知県名古屋市\t\t\t\t",
};

// Controls whose rectangles must not overlap their siblings'.
bool IsControl(const QWidget* w) {
  return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
         qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
         qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w);
}

// The room a control's caption needs.
int NeededWidth(const QWidget* w) {
  if (const auto* push = qobject_cast<const QPushButton*>(w)) {
    return push->fontMetrics().horizontalAdvance(push->text()) + 4;
  }
  if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QLabel*>(w)) {
    return w->sizeHint().width();
  }
  return 0;
}

std::string Name(const QWidget* w) {
  if (const auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text().toStdString();
  if (const auto* l = qobject_cast<const QLabel*>(w)) return l->text().toStdString();
  return w->metaObject()->className();
}

// Checks one container (the dialog, a page) and its group boxes.
void CheckLayout(const QWidget* container, const std::string& where) {
  std::vector<const QWidget*> controls;
  for (const QObject* child : container->children()) {
    const auto* w = qobject_cast<const QWidget*>(child);
    if (w == nullptr || w->isHidden() || w->isWindow()) continue;
    EXPECT_TRUE(container->rect().contains(w->geometry()))
        << where << ": " << Name(w) << " reaches past the edge";
    if (IsControl(w)) {
      controls.push_back(w);
      EXPECT_LE(NeededWidth(w), w->width()) << where << ": \"" << Name(w) << "\" is cut off";
    }
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
          << where << ": \"" << Name(controls[i]) << "\" overlaps \"" << Name(controls[j]) << "\"";
    }
  }
}

class DialogScreenshots : public velkaro::testing::PlatformTest {
 protected:
  DialogScreenshots() : job(settings) {
    if (const char* dir = std::getenv("VELKARO_SCREENSHOT_DIR")) shotDir = dir;
    main.setWindowTitle(QStringLiteral("Velkaro"));
    main.setGeometry(16, 16, 820, 600);
    // A white text behind the dialogs, so that their edges show without a
    // window manager to draw frames.
    auto* text = new QPlainTextEdit(QStringLiteral("春の説明会のご案内\n((name))様\n"), &main);
    main.setCentralWidget(text);
    main.show();
  }

  // Lays the dialog out, checks it and, on a real screen, photographs it.
  void Show(QDialog& dialog, const std::string& name,
            const std::vector<const QWidget*>& containers = {}) {
    dialog.show();
    Settle(shotDir.empty() ? 0 : 400);
    CheckLayout(&dialog, name);
    for (const QWidget* c : containers) CheckLayout(c, name);
    const QImage image = dialog.grab().toImage();
    EXPECT_FALSE(image.isNull()) << name;
    if (!shotDir.empty()) {
      const std::string command = "import -window root '" + shotDir + "/" + name + ".png'";
      EXPECT_EQ(std::system(command.c_str()), 0) << command;
    }
  }

  static void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    do {
      QApplication::processEvents();
    } while (clock.elapsed() < ms);
  }

  std::string shotDir;
  QMainWindow main;
  Settings settings;
  SendJob job;
};

TEST_F(DialogScreenshots, AddressBookSelection) {
  AddressSelectDialog dialog(&main, AddressBook(kPeople));
  dialog.show();
  ClickRow(dialog.List(), 1);
  ClickRow(dialog.List(), 3, Qt::ControlModifier);
  Show(dialog, "address_select");
}

TEST_F(DialogScreenshots, AddressBookEditing) {
  AddressEditDialog dialog(&main, AddressBook(kPeople));
  dialog.show();
  ClickRow(dialog.List(), 2);
  dialog.ButtonOf(AddressEditDialog::EditButton)->click();
  Show(dialog, "address_edit", {dialog.findChild<QGroupBox*>()});
}

TEST_F(DialogScreenshots, SettingsSheetPages) {
  SetFieldText(settings.record.bodyFolder, "/home/yamada/文書/お知らせ");
  SetFieldText(settings.record.attachFolder, "/home/yamada/添付");
  SetFieldText(settings.record.soundPath[0], "/home/yamada/音/完了.wav");
  settings.record.confirmExit = 1;
  SettingsSheet sheet(&main, settings.record, settings.GetProgramFolder());
  Show(sheet, "settings_general", {sheet.Tabs()->widget(0)});
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Sound);
  Show(sheet, "settings_sound", {sheet.Tabs()->widget(1)});
}

TEST_F(DialogScreenshots, ServerDialog) {
  ServerSettings& s = settings.record.server;
  SetFieldText(s.popServer, "pop.example.jp");
  SetFieldText(s.popUser, "yamada");
  SetFieldText(s.popPassword, "himitsu");
  SetFieldText(s.smtpServer, "smtp.example.jp");
  SetFieldText(s.senderName, Sjis("山田太郎"));
  SetFieldText(s.senderAddress, "yamada@example.jp");
  settings.ini.Set("smtpSecurity", "starttls");
  settings.ini.Set("smtpAuth", "auto");
  settings.ini.Set("smtpUser", "yamada@example.jp");
  settings.record.server.smtpPort = 587;
  ServerDialog dialog(&main, settings);
  for (const char* line :
       {"OK  接続  smtp.example.jp:587", "OK  グリーティング  220 smtp.example.jp",
        "OK  EHLO yamada-pc.example.jp  250 smtp.example.jp",
        "OK  STARTTLS  220 2.0.0 Ready to start TLS"}) {
    dialog.CheckLog()->addItem(QString::fromUtf8(line));
  }
  std::vector<const QWidget*> groups;
  for (const QGroupBox* box : dialog.findChildren<QGroupBox*>()) groups.push_back(box);
  Show(dialog, "server", groups);
  // Plain-text AUTH brings up the warning in the room kept for it.
  dialog.ChoiceBox(ServerDialog::SmtpSecurityChoice)->setCurrentIndex(0);
  Show(dialog, "server_plain_auth", groups);
}

TEST_F(DialogScreenshots, Preview) {
  platform.SetLocalTime(2024, 4, 1, 9, 30, 0);
  job.bodyText = Sjis(
      "((name))様 春の説明会のご案内\r\n"
      "((name))様（((kana))）\r\n"
      "\r\n"
      "いつもお世話になっております。\r\n"
      "説明会を((today))に開催いたします。\r\n"
      "ご登録のアドレス ((mailaddr)) 宛にご案内をお送りしました。\r\n");
  std::string lines;
  for (const std::string& p : kPeople) lines += Utf8ToSjis(p) + "\r\n";
  job.recipientLines = lines;
  PreviewDialog dialog(&main, job, settings);
  Show(dialog, "preview");
}

TEST_F(DialogScreenshots, SettingsSheetMailPage) {
  settings.ini.Set("copyToSelf", "1");
  settings.ini.Set("replyTo", "山田太郎 <yamada@example.jp>");
  settings.ini.Set("listUnsubscribe", "https://example.jp/stop?id=((regist))");
  SettingsSheet sheet(&main, settings.record, settings.GetProgramFolder(), &settings.ini);
  sheet.Tabs()->setCurrentIndex(SettingsSheet::Mail);
  Show(sheet, "settings_mail", {sheet.Tabs()->widget(SettingsSheet::Mail)});
}

TEST_F(DialogScreenshots, TestSendAndPersonalAttachment) {
  std::string lines;
  for (const std::string& p : kPeople) lines += Utf8ToSjis(p) + "\r\n";
  TestSendDialog test(&main, lines, "yamada@example.jp", 1);
  Show(test, "test_send");
  PersonalAttachmentDialog personal(&main, "/home/yamada/請求書");
  Show(personal, "personal_attachment");
}

// A file per recipient that one of them lacks: the preview says so in red.
TEST_F(DialogScreenshots, PreviewOfAMissingPersonalFile) {
  job.bodyText = Sjis("((name))様 請求書の送付\r\nいつもお世話になっております。\r\n");
  job.recipientLines = Utf8ToSjis(kPeople[0]) + "\r\n";
  ASSERT_EQ(job.AddAttachment(0, "/nonexistent/請求書/((regist)).pdf"), 0);
  PreviewDialog dialog(&main, job, settings);
  EXPECT_FALSE(dialog.ProblemLabel()->isHidden());
  Show(dialog, "preview_personal");
}

TEST_F(DialogScreenshots, VersionInformation) {
  VersionDialog dialog(&main, platform.VersionString());
  Show(dialog, "version");
}

}  // namespace
}  // namespace velkaro::ui::dialogs
