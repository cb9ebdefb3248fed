// The connection test of the server dialog: a button "接続テスト" and a
// read-only list of the steps the check reports. The check runs inside the
// button's click handler and waits in sleep-and-pump steps, so the window
// keeps answering; meanwhile the button reads "中止" and stops it.
#pragma once

#include <QRect>
#include <functional>
#include <optional>
#include <utility>

#include "core/server_settings.h"
#include "mail/security_settings.h"
#include "platform/platform.h"

class QListWidget;
class QPushButton;
class QWidget;

namespace velkaro {
class ServerCheck;
struct ServerCheckStep;
}  // namespace velkaro

namespace velkaro::ui::dialogs {

class ServerCheckPanel : public TimerTarget {
 public:
  // What a test runs against; nothing when the dialog's values cannot be
  // tried (it has already said why). May wait in sleep-and-pump steps.
  using Prepare = std::function<std::optional<std::pair<ServerSettings, SecuritySettings>>()>;

  ServerCheckPanel(QWidget* dialog, const QRect& buttonRect, const QRect& logRect, Prepare prepare);
  ~ServerCheckPanel() override;
  ServerCheckPanel(const ServerCheckPanel&) = delete;
  ServerCheckPanel& operator=(const ServerCheckPanel&) = delete;

  QPushButton* Button() const { return button_; }
  QListWidget* Log() const { return log_; }
  bool Busy() const { return busy_; }

  // Stops a running test and calls `then` once it has ended; at once when
  // none runs. A later request replaces an earlier one.
  void StopThen(std::function<void()> then);

  void OnTimer(int id) override;

 private:
  void OnClick();
  void Run(const ServerSettings& server, const SecuritySettings& security);
  void Show(const ServerCheckStep& step);
  void Add(const QString& line);
  void Finish();

  QPushButton* button_;
  QListWidget* log_;
  Prepare prepare_;
  // Set from the click until the test has ended, the preparation included
  // (a password command may pump): a second click must not start another.
  bool busy_ = false;
  bool stopRequested_ = false;
  // The reply time-out ends the check through the same stop request; the
  // user is told it was the server's silence, not their stop.
  bool timedOut_ = false;
  ServerCheck* check_ = nullptr;
  std::function<void()> afterStop_;
};

}  // namespace velkaro::ui::dialogs
