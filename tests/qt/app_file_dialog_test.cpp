// The Qt platform's file dialogs: the Windows filter strings the callers
// write, and what a user's choice in the real dialog gives back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>

#include "core/encoding.h"
#include "platform/qt/qt_platform.h"
#include "support/test_support.h"

namespace velkaro::qt {
namespace {

TEST(QtFileDialogFilter, TurnsWindowsPairsIntoQtFilters) {
  const struct {
    const char* windows;
    const char* qt;
  } cases[] = {
      {"本文テキスト(*.txt)|*.txt|全て(*.*)|*.*||", "本文テキスト(*.txt);;全て(*.*)"},
      {"送信データセットアップ情報(*.vlk2)|*.vlk2|全て(*.*)|*.*||",
       "送信データセットアップ情報(*.vlk2);;全て(*.*)"},
      {"全て(*.*)|*.*||", "全て(*.*)"},
      {"音声|*.wav;*.mid||", "音声 (*.wav *.mid)"},
      {"Text (*.txt; *.text)|*.txt; *.text||", "Text (*.txt; *.text) (*.txt *.text)"},
      {"Images (*.png *.jpg)|*.png;*.jpg||", "Images (*.png *.jpg)"},
      {"Text|*.txt", "Text (*.txt)"},  // without the closing bars
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToQtFilter(Utf8ToSjis(c.windows)).toStdString(), c.qt) << c.windows;
  }
}

// Plays the user: once the dialog is up, `act` chooses (or cancels). A
// dialog that is still open a while later (it refused the choice) is
// cancelled, with any box it put up, so that a failing test cannot hang.
void WhenTheDialogShows(const std::function<void(QFileDialog&)>& act) {
  auto* poll = new QTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (dialog != nullptr && dialog->isVisible()) {
        poll->stop();
        poll->deleteLater();
        QPointer<QFileDialog> guard(dialog);
        QTimer::singleShot(3000, [guard] {
          if (QWidget* box = QApplication::activeModalWidget(); box != nullptr && box != guard) {
            box->close();
          }
          if (guard) guard->reject();
        });
        act(*dialog);
        return;
      }
    }
  });
  poll->start();
}

// Types into the dialog's file name box, as a user does.
void Type(QFileDialog& dialog, const QString& text) {
  auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(edit, nullptr);
  edit->setText(text);
}

class QtFileDialog : public ::testing::Test {
 protected:
  QtFileDialog() : scope_(platform) {}
  std::string Folder(const char* name) {
    const std::string path = dir.File(name);
    std::filesystem::create_directory(path);
    return path;
  }
  testing::TempDir dir;
  QtPlatform platform;

 private:
  ScopedPlatform scope_;
};

TEST_F(QtFileDialog, SaveAddsTheDefaultExtensionInTheStartFolder) {
  const std::string start = Folder("本文");
  FileDialogRequest request;
  request.kind = FileDialogRequest::Save;
  request.startFolder = start;
  request.defaultExtension = "txt";
  request.filter = Sjis("本文テキスト(*.txt)|*.txt|全て(*.*)|*.*||");
  QString seenFolder;
  QStringList seenFilters;
  bool asksOverwrite = true;
  WhenTheDialogShows([&](QFileDialog& dialog) {
    seenFolder = dialog.directory().absolutePath();
    seenFilters = dialog.nameFilters();
    asksOverwrite = !dialog.testOption(QFileDialog::DontConfirmOverwrite);
    dialog.selectFile(QStringLiteral("案内"));
    static_cast<QDialog&>(dialog).accept();  // as the OK button does
  });
  const std::vector<std::string> chosen = platform.FileDialog(request);
  EXPECT_EQ(chosen, std::vector<std::string>{start + "/案内.txt"});
  EXPECT_EQ(seenFolder.toStdString(), start);
  EXPECT_EQ(seenFilters,
            (QStringList{QStringLiteral("本文テキスト(*.txt)"), QStringLiteral("全て(*.*)")}));
  EXPECT_FALSE(asksOverwrite);  // the caller asks its own question
}

TEST_F(QtFileDialog, AFolderThatDoesNotExistYetCanBeChosen) {
  const std::string start = Folder("base");
  FileDialogRequest request;
  request.kind = FileDialogRequest::Folder;
  request.startFolder = start;
  WhenTheDialogShows([](QFileDialog& dialog) {
    Type(dialog, QStringLiteral("Log2"));
    static_cast<QDialog&>(dialog).accept();  // as the OK button does
  });
  EXPECT_EQ(platform.FileDialog(request), std::vector<std::string>{start + "/Log2"});
}

TEST_F(QtFileDialog, OpenManyGivesEveryChosenFileAndCancelGivesNone) {
  const std::string start = Folder("files");
  velkaro::testing::WriteBytes(start + "/a.pdf", "A");
  velkaro::testing::WriteBytes(start + "/b.pdf", "B");
  FileDialogRequest request;
  request.kind = FileDialogRequest::OpenMany;
  request.startFolder = start;
  request.filter = Sjis("全て(*.*)|*.*||");
  WhenTheDialogShows([](QFileDialog& dialog) {
    Type(dialog, QStringLiteral("\"b.pdf\" \"a.pdf\""));
    static_cast<QDialog&>(dialog).accept();  // as the OK button does
  });
  std::vector<std::string> chosen = platform.FileDialog(request);
  std::sort(chosen.begin(), chosen.end());
  EXPECT_EQ(chosen, (std::vector<std::string>{start + "/a.pdf", start + "/b.pdf"}));

  WhenTheDialogShows([](QFileDialog& dialog) { dialog.reject(); });
  EXPECT_TRUE(platform.FileDialog(request).empty());
}

}  // namespace
}  // namespace velkaro::qt
