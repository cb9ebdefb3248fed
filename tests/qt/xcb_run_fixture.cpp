#include "xcb_run_fixture.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QWindow>
#include <algorithm>
#include <cstring>

#ifdef VELKARO_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace velkaro::ui::testing {
namespace {

using velkaro::testing::ReadBytes;
using velkaro::testing::ReceivedMailPaths;
using velkaro::testing::WriteBytes;

constexpr const char* kPython = "/usr/bin/python3";

#ifdef VELKARO_HAVE_XCB
xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  if (reply == nullptr) return XCB_ATOM_NONE;
  const xcb_atom_t atom = reply->atom;
  std::free(reply);
  return atom;
}
#endif

SettingsRecord RunSettings(int smtpPort, int confirmExit) {
  SettingsRecord r = DefaultSettingsRecord();
  r.windowLeft = 40;
  r.windowTop = 30;
  SetFieldText(r.server.popServer, "");
  SetFieldText(r.server.smtpServer, "127.0.0.1");
  r.server.smtpPort = smtpPort;
  SetFieldText(r.server.senderName, Utf8ToSjis("差出人 花子"));
  SetFieldText(r.server.senderAddress, kRunSender);
  r.confirmExit = confirmExit;
  r.speed = 1;  // the slowest pacing: the body takes seconds
  std::fill(std::begin(r.soundOn), std::end(r.soundOn), 0);
  return r;
}

}  // namespace

bool SendCloseBoxClick(QWidget& window) {
#ifdef VELKARO_HAVE_XCB
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || window.windowHandle() == nullptr) return false;
  xcb_connection_t* connection = x11->connection();
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = static_cast<xcb_window_t>(window.windowHandle()->winId());
  event.type = Atom(connection, "WM_PROTOCOLS");
  event.data.data32[0] = Atom(connection, "WM_DELETE_WINDOW");
  event.data.data32[1] = XCB_CURRENT_TIME;
  // An empty event mask delivers the message to the window's own client.
  xcb_send_event(connection, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(connection);
  return true;
#else
  (void)window;
  return false;
#endif
}

void XcbSendRun::SetUp() {
  const bool required = std::getenv("VELKARO_REQUIRE_XCB") != nullptr;
  std::string missing;
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    missing = "a real X server (xcb platform)";
  } else if (!std::filesystem::exists(kPython)) {
    missing = kPython;
  }
  if (!missing.empty()) {
    if (required) FAIL() << "needs " << missing;
    GTEST_SKIP() << "needs " << missing << "; xcb_send_checks.sh runs these under xvfb-run";
  }
  ASSERT_TRUE(
      receiver.Start({kPython, std::string(VELKARO_SOURCE_DIR) + "/tests/peers/smtp_receiver.py",
                      mailDir.File("received")},
                     mailDir.File("receiver.log"), 15000))
      << receiver.error() << "\n"
      << ReadBytes(mailDir.File("receiver.log"));
  if (const char* value = std::getenv("VELKARO_HOME")) savedHome = value;
  ::setenv("VELKARO_HOME", home.path().c_str(), 1);
  host = std::make_unique<qt::QtPlatform>();
  installed = std::make_unique<ScopedPlatform>(*host);

  // Whatever box comes up gets its default button, so no run can hang on
  // one; the tests look at what was asked.
  answerer.setInterval(20);
  QObject::connect(&answerer, &QTimer::timeout, [this] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible()) return;
    boxes.push_back(box->text().toStdString());
    QAbstractButton* button = box->defaultButton();
    if (!answers.empty()) {
      button = box->button(answers.front());
      answers.erase(answers.begin());
    }
    if (button == nullptr) button = box->buttons().value(0);
    if (button != nullptr) QTest::mouseClick(button, Qt::LeftButton);
  });
  answerer.start();
}

void XcbSendRun::TearDown() {
  answerer.stop();
  if (host) {
    host->SetStatusSink(nullptr);
    host->SetMainWindow(nullptr);
  }
  frame.reset();
  doc.reset();
  installed.reset();
  host.reset();
  receiver.Stop();
  if (savedHome) {
    ::setenv("VELKARO_HOME", savedHome->c_str(), 1);
  } else {
    ::unsetenv("VELKARO_HOME");
  }
}

void XcbSendRun::StartWindow(int confirmExit) {
  const SettingsRecord record = RunSettings(receiver.port(), confirmExit);
  settingsBytes.assign(reinterpret_cast<const char*>(&record), sizeof record);
  WriteBytes(home.File(Settings::kFileName), settingsBytes);
  doc = std::make_unique<CVelkaroDoc>(ParseCommandLine({}));
  ASSERT_EQ(doc->settings.record.speed, 1);
  frame = std::make_unique<CMainFrame>(*doc);
  host->SetMainWindow(frame.get());
  host->SetStatusSink([this](const QString& text) { frame->ShowStatus(text); });
  frame->InitialUpdate();
  frame->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
}

void XcbSendRun::Prepare(const std::string& bodyUtf8) {
  view().Editor()->setPlainText(QString::fromStdString(bodyUtf8));
  job().recipientLines =
      Utf8ToSjis("やまだ\t山田\t山田太郎\t") + kRunRecipient + "\t\t\t\t\t\t\r\n";
  job().RebuildRecipientList();
}

std::string XcbSendRun::LongBody() {
  std::string body = "((name))様へのご案内\n";
  for (int i = 1; i <= 3000; ++i) {
    body += "第" + std::to_string(i) +
            "行　いつもお世話になっております。ご案内の資料をお送りします。よろしく。\n";
  }
  return body;
}

bool XcbSendRun::SendAndWait() {
  bool began = false;
  QTimer watch;
  watch.setInterval(1);
  QObject::connect(&watch, &QTimer::timeout, [&] { began = began || job().Running(); });
  watch.start();
  QTest::mouseClick(view().SendButton(), Qt::LeftButton);
  return QTest::qWaitFor([&] { return began && !job().Running(); }, kRunLimitMs);
}

std::string XcbSendRun::SendLogs() const {
  std::string text;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(home.File("Log"), ignored)) {
    // The monthly logs, not the runs' result lists beside them.
    if (entry.path().filename().string().rfind("log", 0) != 0) continue;
    text += SjisToUtf8(ReadBytes(entry.path()));
  }
  return text;
}

std::vector<std::string> XcbSendRun::Received() const {
  std::vector<std::string> messages;
  for (const std::string& path : ReceivedMailPaths(mailDir.File("received"))) {
    messages.push_back(ReadBytes(path));
  }
  return messages;
}

void XcbSendRun::ExpectSettingsWhole() {
  const std::string now = ReadBytes(home.File(Settings::kFileName));
  ASSERT_EQ(now.size(), SettingsRecord::kSize);
  constexpr std::size_t kPositionEnd = 12;  // recordMark, windowLeft, windowTop
  EXPECT_TRUE(now.compare(kPositionEnd, std::string::npos, settingsBytes, kPositionEnd,
                          std::string::npos) == 0)
      << "the settings file changed beyond the window position";
  Settings loaded;
  ASSERT_EQ(loaded.LoadSettings(), 0);
  EXPECT_EQ(loaded.record.recordMark, 1);
  EXPECT_EQ(loaded.record.windowLeft, frame->x());
  EXPECT_EQ(loaded.record.windowTop, frame->y());
}

}  // namespace velkaro::ui::testing
