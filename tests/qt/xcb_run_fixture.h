// The program's window as the program makes it (Qt host services, settings
// file and program folder from $VELKARO_HOME) on a real X server, sending to
// a real receiver (aiosmtpd on 127.0.0.1). Runs only on the xcb platform
// (xcb_send_checks.sh starts it under xvfb-run); elsewhere the tests skip,
// or fail when VELKARO_REQUIRE_XCB is set.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "data/command_line.h"
#include "peers/peer_process.h"
#include "platform/qt/qt_platform.h"
#include "support/test_support.h"
#include "ui/main_frame.h"
#include "ui/velkaro_doc.h"
#include "ui/velkaro_view.h"

namespace velkaro::ui::testing {

// What a window manager sends when the user clicks a window's close box
// (WM_DELETE_WINDOW); false when this build cannot talk to X itself.
bool SendCloseBoxClick(QWidget& window);

inline constexpr const char* kRunSender = "hanako@example.jp";
inline constexpr const char* kRunRecipient = "yamada@example.jp";

class XcbSendRun : public ::testing::Test {
 protected:
  static constexpr int kRunLimitMs = 60000;

  void SetUp() override;
  void TearDown() override;

  // Writes the settings file (confirmExit as given, speed 1, no sounds),
  // then makes the document and the main window and shows it.
  void StartWindow(int confirmExit);
  // One recipient and this body in the editor (UTF-8, first line subject).
  void Prepare(const std::string& bodyUtf8);
  // A body that takes seconds to go out at speed 1.
  static std::string LongBody();
  // Clicks "送信" and waits until a run has begun and ended again.
  bool SendAndWait();

  CVelkaroView& view() { return *frame->View(); }
  SendJob& job() { return view().job(); }
  QAbstractButton& Button(int id) { return *static_cast<QAbstractButton*>(view().Control(id)); }
  // The body is on the wire and well under way: the moment to interrupt.
  bool DeepInBody() {
    const MailConnection* mail = job().ActiveConnection();
    return mail != nullptr && mail->progress.sendingData == 1 && mail->progress.dataSent >= 16384;
  }

  // Every monthly send log of the program folder, in UTF-8.
  std::string SendLogs() const;
  // The messages the receiver stored.
  std::vector<std::string> Received() const;
  // The settings file is the one written at the start but for the save
  // mark and the window position, and it loads.
  void ExpectSettingsWhole();

  velkaro::testing::TempDir home;
  velkaro::testing::TempDir mailDir;
  velkaro::testing::PeerProcess receiver;
  std::unique_ptr<qt::QtPlatform> host;
  std::unique_ptr<ScopedPlatform> installed;
  std::unique_ptr<CVelkaroDoc> doc;
  std::unique_ptr<CMainFrame> frame;
  std::string settingsBytes;
  std::optional<std::string> savedHome;
  // Every message box of the run, answered with the next of `answers`,
  // or with its default button when none is left.
  QTimer answerer;
  std::vector<std::string> boxes;
  std::vector<QMessageBox::StandardButton> answers;
};

}  // namespace velkaro::ui::testing
