// The host services on Qt: the program's one user-interface thread runs the
// Qt event loop, and everything the rest of Velkaro asks of the window
// system goes through here. Requires a QApplication that outlives it.
#pragma once

#include <QPointer>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/platform.h"

class QObject;
class QTimer;
class QWidget;

namespace velkaro::qt {

// Shift_JIS text as Qt shows it: line ends "\r\n" become "\n".
QString FromSjis(const std::string& sjis);
// Qt text back to Shift_JIS, line ends as "\r\n" (the system's own);
// counts the characters Shift_JIS has no code for into `unmappable`.
std::string ToSjis(const QString& text, int* unmappable = nullptr);

// A file dialog filter written the Windows way, "本文テキスト(*.txt)|*.txt|
// 全て(*.*)|*.*||" (Shift_JIS), as Qt wants it: "本文テキスト(*.txt);;
// 全て(*.*)", each name followed by its patterns in parentheses unless it
// already ends with them. Empty when the filter names no pair.
QString ToQtFilter(const std::string& sjisFilter);

class QtPlatform : public Platform {
 public:
  QtPlatform();
  ~QtPlatform() override;
  QtPlatform(const QtPlatform&) = delete;
  QtPlatform& operator=(const QtPlatform&) = delete;

  // The window message boxes are centred on and modal to; may be null.
  void SetMainWindow(QWidget* window);
  // Receives every status text, already converted; it must show the text
  // before it returns (long operations do not return to the event loop).
  void SetStatusSink(std::function<void(const QString&)> sink) { statusSink_ = std::move(sink); }
  // Stops and drops every timer of `target`; for targets about to be
  // destroyed, like a window whose timers die with it.
  void ForgetTimerTarget(TimerTarget* target);
  // Number of timers of all targets that are running (for tests).
  int RunningTimers() const;
  // A message box with a text that Shift_JIS cannot carry (characters
  // named for the user that the system's texts have no code for).
  MsgAnswer MessageBoxText(const QString& text, MsgButtons buttons, MsgIcon icon);
  // Wave files are played only when there is an audio output; tests turn
  // the check off to exercise the bounded wait on machines without one.
  void SetRequireAudioOutput(bool required) { requireAudioOutput_ = required; }

  // --- Platform ---
  void Sleep(int ms) override;
  void Pump() override;
  void StartTimer(TimerTarget* target, int id, int periodMs) override;
  void StopTimer(TimerTarget* target, int id) override;
  void SetCommandTarget(CommandTarget* target) override { commandTarget_ = target; }
  void PostCommand(int commandId) override;
  void PostCloseRequest() override;
  MsgAnswer MessageBox(const std::string& sjisText, MsgButtons buttons, MsgIcon icon) override;
  void SetStatusText(const std::string& sjisText) override;
  void PlayWave(const std::string& path) override;
  std::unique_ptr<StreamSocket> NewSocket() override;
  bool StartSockets() override { return true; }
  bool ShellOpen(const std::string& target) override;
  std::vector<std::string> FileDialog(const FileDialogRequest& request) override;
  std::optional<std::string> ClipboardText() override;
  std::string ExecutablePath() override;
  std::string VersionString() override;
  std::string ProgramFolder() override;
  std::string HostName() override;
  std::optional<std::string> LookupSecret(const std::string& account) override;
  int StoreSecret(const std::string& account, const std::string& secret) override;
  std::optional<std::string> RunPasswordCommand(const std::string& command,
                                                int timeoutMs = 30000) override;
  std::time_t Now() override;
  std::tm LocalTime(std::time_t t) override;

 private:
  void DeliverCommand(int commandId);  // -1 stands for a close request

  // Parent of the timers and context of the queued deliveries: whatever is
  // still queued when the platform goes is dropped with it.
  std::unique_ptr<QObject> context_;
  // A stopped timer is kept for the next start of the same id: a handler
  // may stop (and restart) the very timer whose signal is being delivered.
  std::map<std::pair<TimerTarget*, int>, QTimer*> timers_;
  CommandTarget* commandTarget_ = nullptr;
  QPointer<QWidget> mainWindow_;
  std::function<void(const QString&)> statusSink_;
  std::optional<std::string> programFolder_;
  std::optional<std::string> hostName_;  // asked once: the resolver may be slow
  bool requireAudioOutput_ = true;
};

}  // namespace velkaro::qt
