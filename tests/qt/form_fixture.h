// The program's window for widget tests: the document, the main frame and
// the form, made as the program makes them but on the test platform, so that
// message boxes and file dialogs are answered from a script while the
// widgets themselves are real (on Qt's offscreen platform).
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "data/command_line.h"
#include "support/test_support.h"
#include "ui/main_frame.h"
#include "ui/velkaro_doc.h"
#include "ui/velkaro_view.h"

namespace velkaro::ui::testing {

using velkaro::testing::ReadBytes;
using velkaro::testing::TempDir;
using velkaro::testing::WriteBytes;

inline std::string S(const char* utf8) {
  return Utf8ToSjis(utf8);
}

class FrameTest : public velkaro::testing::PlatformTest {
 protected:
  FrameTest() { platform.SetProgramFolder(home.path()); }

  // Starts the program's window with these command-line arguments; `setUp`
  // may change the settings after they were loaded, before the window is
  // made.
  void Start(const std::vector<std::string>& arguments = {},
             const std::function<void(Settings&)>& setUp = nullptr) {
    frame.reset();
    doc.reset();
    doc = std::make_unique<CVelkaroDoc>(ParseCommandLine(arguments));
    if (setUp) setUp(doc->settings);
    frame = std::make_unique<CMainFrame>(*doc);
    failedFiles = frame->InitialUpdate();
    frame->show();
    QCoreApplication::processEvents();
  }

  CVelkaroView& view() { return *frame->View(); }
  SendJob& job() { return view().job(); }
  QPlainTextEdit& editor() { return *view().Editor(); }

  // A file in the program folder with these bytes; its path.
  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = home.File(name);
    WriteBytes(path, bytes);
    return path;
  }

  // The texts of the message boxes shown so far, in UTF-8.
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& box : platform.MessageBoxes()) texts.push_back(SjisToUtf8(box.text));
    return texts;
  }

  // A left click (press and release) on a list's viewport.
  static void Click(QTreeWidget& list, const QPoint& at) {
    QWidget* target = list.viewport();
    const QPointF local(at);
    const QPointF global(target->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(target, &release);
  }
  static void ClickRow(QTreeWidget& list, int row) {
    Click(list, list.visualItemRect(list.topLevelItem(row)).center());
  }

  // Drops files on a widget as a file manager would; whether it was taken.
  static bool Drop(QWidget& target, const std::vector<std::string>& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path));
    mime.setUrls(urls);
    const QPointF at(target.width() / 2.0, target.height() / 2.0);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    return enter.isAccepted() && drop.isAccepted();
  }

  // A recipient entry line (kana, regist, name, mailaddr, six empty fields).
  static std::string Entry(const char* regist, const char* name, const char* address) {
    return S("よみ\t") + S(regist) + "\t" + S(name) + "\t" + address + "\t\t\t\t\t\t\r\n";
  }

  TempDir home;
  std::unique_ptr<CVelkaroDoc> doc;
  std::unique_ptr<CMainFrame> frame;
  std::vector<std::string> failedFiles;
};

}  // namespace velkaro::ui::testing
