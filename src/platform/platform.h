// The host services the rest of Velkaro calls. Everything above this layer
// reaches the operating system and the window system only through
// `Platform`; the program installs the Qt implementation, tests install
// `TestPlatform`, and a headless front end may install either.
//
// Texts crossing this interface (message box texts, status texts, clipboard
// text) are Shift_JIS byte strings, like every text inside the system; the
// implementation converts them at the window system's boundary. Paths are the
// file system's own bytes (UTF-8 on Linux).
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/stream_socket.h"

namespace velkaro {

// Buttons and icons of a modal message box; the caption is always "Velkaro".
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgIcon { None, Information, Question, Exclamation };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// A file dialog as the callers describe it. Paths are file-system bytes
// (UTF-8); the filter is written the Windows way, Shift_JIS:
// "本文テキスト(*.txt)|*.txt|全て(*.*)|*.*||".
struct FileDialogRequest {
  enum Kind { Open, OpenMany, Save, Folder } kind = Open;
  std::string startFolder;       // empty: the current folder
  std::string initialName;       // proposed file name
  std::string defaultExtension;  // added to a name typed without one
  std::string filter;
  bool overwritePrompt = false;  // Save: the dialog asks before replacing
  bool mustExist = true;         // Open/OpenMany: only existing files
};

// The well-known command ids posted to the main window.
inline constexpr int kCommandSend = 32778;
inline constexpr int kCommandExit = 57665;

// Whatever owns window timers ("the window" a timer is started on).
class TimerTarget {
 public:
  virtual ~TimerTarget() = default;
  virtual void OnTimer(int id) = 0;
};

// The main window, as far as posted commands and close requests go.
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  virtual void OnCommand(int commandId) = 0;
  virtual void OnCloseRequest() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Blocks the thread for about `ms` milliseconds.
  virtual void Sleep(int ms) = 0;
  // A steady clock in microseconds from an arbitrary start. Waits and the
  // paced sending hold deadlines against it, so a sleep that overshoots, or
  // the time spent sending and pumping, counts toward what is still to wait.
  virtual std::int64_t MonotonicMicros();
  // Delivers every pending event (timers, posted commands, input) to its
  // target before returning. Handlers run inside this call.
  virtual void Pump() = 0;

  // Periodic timer `id` on `target`; starting an id that runs restarts it.
  // Handlers stop their timer first, so every use is one-shot in effect.
  virtual void StartTimer(TimerTarget* target, int id, int periodMs) = 0;
  virtual void StopTimer(TimerTarget* target, int id) = 0;

  // The main window that posted commands and close requests go to.
  virtual void SetCommandTarget(CommandTarget* target) = 0;
  // Handled after the current handler returns, or inside a `Pump`.
  virtual void PostCommand(int commandId) = 0;
  virtual void PostCloseRequest() = 0;

  virtual MsgAnswer MessageBox(const std::string& sjisText, MsgButtons buttons, MsgIcon icon) = 0;
  // Shown at once in the first pane of the main window's status bar.
  virtual void SetStatusText(const std::string& sjisText) = 0;

  // Plays a wave file and returns when it has ended. Never hangs; failures
  // are silent.
  virtual void PlayWave(const std::string& path) = 0;

  // A new, not yet created stream socket.
  virtual std::unique_ptr<StreamSocket> NewSocket() = 0;
  // Once at program start; false ends the program.
  virtual bool StartSockets() = 0;

  // Opens a folder in the file manager or a web address in the browser.
  virtual bool ShellOpen(const std::string& target) = 0;
  // Shows a modal file dialog; the chosen paths in order, none when the
  // user cancelled. Hosts without dialogs cancel.
  virtual std::vector<std::string> FileDialog(const FileDialogRequest& request) {
    (void)request;
    return {};
  }

  // The plain text on the clipboard in Shift_JIS, or nothing.
  virtual std::optional<std::string> ClipboardText() = 0;

  // The running program's full path.
  virtual std::string ExecutablePath() = 0;
  // The program's file version, "1.0.0.0" style.
  virtual std::string VersionString() = 0;
  // The folder the settings, the address book, "Log" and "Text" live in,
  // without a trailing separator.
  virtual std::string ProgramFolder() = 0;

  // This host's fully qualified domain name, or empty when it has none
  // with a dot in it.
  virtual std::string HostName() { return {}; }

  // The desktop's secret store (Secret Service). `account` names the secret
  // ("smtp:user@mail.example.jp"); texts are UTF-8.
  // Lookup: the secret, or nothing when none is stored or no store answers.
  virtual std::optional<std::string> LookupSecret(const std::string& account) {
    (void)account;
    return std::nullopt;
  }
  // 0 stored; 1 no store reachable; 2 the store refused.
  virtual int StoreSecret(const std::string& account, const std::string& secret) {
    (void)account;
    (void)secret;
    return 1;
  }
  // Runs `command` through /bin/sh -c without a terminal and returns the
  // first line it printed (without its line end); nothing when it could
  // not run, exited non-zero, printed nothing or took longer than
  // `timeoutMs`. Waits in sleep-and-pump steps; what it prints is never
  // logged.
  virtual std::optional<std::string> RunPasswordCommand(const std::string& command,
                                                        int timeoutMs = 30000) {
    (void)command;
    (void)timeoutMs;
    return std::nullopt;
  }

  // Calendar time now, and a calendar time broken down in local time.
  virtual std::time_t Now() = 0;
  virtual std::tm LocalTime(std::time_t t) = 0;
};

// The platform installed for this process. Installing is done once at start
// (or per test); the platform must outlive its use.
Platform& CurrentPlatform();
void InstallPlatform(Platform* platform);

// Installs a platform for the lifetime of the guard, restoring the previous
// one afterwards (tests and nested front ends).
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

}  // namespace velkaro
