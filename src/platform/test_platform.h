// A platform for tests and scripted runs: nothing is shown, nothing waits.
// Message boxes are answered from a script and recorded; status texts,
// timers, posted commands, sounds and shell opens are recorded; time is a
// virtual clock that `Sleep` advances, and `Pump` delivers the timers that
// have come due on it and the commands posted so far.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace velkaro {

class TestPlatform : public Platform {
 public:
  struct MessageBoxCall {
    std::string text;  // Shift_JIS
    MsgButtons buttons;
    MsgIcon icon;
    MsgAnswer answer;
  };
  struct TimerEvent {
    enum Kind { Start, Stop, Fire } kind;
    int id;
    int periodMs;
  };

  TestPlatform();

  // --- scripting ---
  // Answers for the next message boxes, in order. Unscripted boxes get the
  // first button (OK or Yes).
  void QueueAnswer(MsgAnswer answer) { answers_.push_back(answer); }
  // Sets the virtual clock to a local calendar time.
  void SetLocalTime(int year, int month, int day, int hour, int minute, int second);
  // Offset of local time from UTC used by `LocalTime`, in seconds.
  void SetUtcOffset(long seconds) { utcOffset_ = seconds; }
  // With real sleeping on, `Sleep` also blocks the thread (for tests that
  // talk to real servers); the virtual clock advances either way.
  void SetRealSleep(bool on) { realSleep_ = on; }
  void SetSocketFactory(std::function<std::unique_ptr<StreamSocket>()> factory) {
    socketFactory_ = std::move(factory);
  }
  // Answers for the next file dialogs (an empty list cancels). Unscripted
  // dialogs are cancelled.
  void QueueFileDialogAnswer(std::vector<std::string> paths) {
    fileAnswers_.push_back(std::move(paths));
  }
  void SetClipboard(std::optional<std::string> sjisText) { clipboard_ = std::move(sjisText); }
  void SetShellOpenResult(bool ok) { shellOpenResult_ = ok; }
  void SetProgramFolder(std::string folder) { programFolder_ = std::move(folder); }
  void SetExecutablePath(std::string path) { executablePath_ = std::move(path); }
  void SetSocketsStartResult(bool ok) { socketsStartResult_ = ok; }
  // What HostName answers (empty: the host has no qualified name).
  void SetHostName(std::string name) { hostName_ = std::move(name); }
  // Called on every `Pump`, after due timers and posted commands.
  void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
  // The secret store: what it holds (by account) and whether it answers;
  // an unreachable store finds nothing and keeps nothing (StoreSecret 1).
  void SetSecretStoreReachable(bool reachable) { secretStoreReachable_ = reachable; }
  void SetStoredSecret(const std::string& account, const std::string& secret) {
    secrets_[account] = secret;
  }
  // The first line each password command prints; unscripted commands fail.
  void SetPasswordCommandOutput(const std::string& command, std::optional<std::string> line) {
    passwordCommands_[command] = std::move(line);
  }

  // --- what happened ---
  const std::vector<MessageBoxCall>& MessageBoxes() const { return boxes_; }
  const std::vector<std::string>& StatusTexts() const { return statusTexts_; }
  const std::vector<TimerEvent>& TimerEvents() const { return timerEvents_; }
  const std::vector<int>& PostedCommands() const { return postedCommands_; }
  int CloseRequests() const { return closeRequests_; }
  const std::vector<std::string>& PlayedWaves() const { return playedWaves_; }
  const std::vector<std::string>& ShellOpened() const { return shellOpened_; }
  const std::vector<FileDialogRequest>& FileDialogs() const { return fileDialogs_; }
  const std::map<std::string, std::string>& StoredSecrets() const { return secrets_; }
  // Accounts looked up and commands run, in order.
  const std::vector<std::string>& SecretLookups() const { return secretLookups_; }
  const std::vector<std::string>& PasswordCommandsRun() const { return passwordCommandsRun_; }
  long long VirtualMs() const { return virtualMs_; }
  long long PumpCount() const { return pumps_; }
  bool TimerRunning(TimerTarget* target, int id) const { return timers_.count({target, id}) != 0; }
  std::size_t RunningTimers() const { return timers_.size(); }
  void ClearRecords();

  // --- Platform ---
  void Sleep(int ms) override;
  // The virtual clock; with real sleeping on, the host's steady clock, as
  // the real servers such tests talk to take real time.
  std::int64_t MonotonicMicros() override;
  void Pump() override;
  void StartTimer(TimerTarget* target, int id, int periodMs) override;
  void StopTimer(TimerTarget* target, int id) override;
  void SetCommandTarget(CommandTarget* target) override { commandTarget_ = target; }
  void PostCommand(int commandId) override;
  void PostCloseRequest() override;
  MsgAnswer MessageBox(const std::string& sjisText, MsgButtons buttons, MsgIcon icon) override;
  void SetStatusText(const std::string& sjisText) override;
  void PlayWave(const std::string& path) override { playedWaves_.push_back(path); }
  std::unique_ptr<StreamSocket> NewSocket() override;
  bool StartSockets() override { return socketsStartResult_; }
  bool ShellOpen(const std::string& target) override;
  std::optional<std::string> ClipboardText() override { return clipboard_; }
  std::vector<std::string> FileDialog(const FileDialogRequest& request) override;
  std::string ExecutablePath() override { return executablePath_; }
  std::string VersionString() override;
  std::string ProgramFolder() override { return programFolder_; }
  std::string HostName() override { return hostName_; }
  std::optional<std::string> LookupSecret(const std::string& account) override;
  int StoreSecret(const std::string& account, const std::string& secret) override;
  std::optional<std::string> RunPasswordCommand(const std::string& command,
                                                int timeoutMs = 30000) override;
  std::time_t Now() override;
  std::tm LocalTime(std::time_t t) override;

 private:
  struct Timer {
    int periodMs;
    long long dueMs;
  };
  void DeliverDueTimers();
  void DeliverPosted();

  std::deque<MsgAnswer> answers_;
  std::vector<MessageBoxCall> boxes_;
  std::vector<std::string> statusTexts_;
  std::vector<TimerEvent> timerEvents_;
  std::map<std::pair<TimerTarget*, int>, Timer> timers_;
  std::vector<int> postedCommands_;
  std::deque<int> pendingCommands_;  // -1 stands for a close request
  int closeRequests_ = 0;
  std::vector<std::string> playedWaves_;
  std::vector<std::string> shellOpened_;
  std::deque<std::vector<std::string>> fileAnswers_;
  std::vector<FileDialogRequest> fileDialogs_;
  CommandTarget* commandTarget_ = nullptr;
  std::function<std::unique_ptr<StreamSocket>()> socketFactory_;
  std::function<void()> pumpHook_;
  std::optional<std::string> clipboard_;
  std::map<std::string, std::string> secrets_;
  std::map<std::string, std::optional<std::string>> passwordCommands_;
  std::vector<std::string> secretLookups_;
  std::vector<std::string> passwordCommandsRun_;
  bool secretStoreReachable_ = true;
  bool shellOpenResult_ = true;
  bool socketsStartResult_ = true;
  bool realSleep_ = false;
  bool delivering_ = false;
  std::string programFolder_ = ".";
  std::string executablePath_ = "./velkaro";
  std::string hostName_;
  std::time_t epoch_ = 0;  // calendar time at virtual millisecond 0
  long utcOffset_ = 0;
  long long virtualMs_ = 0;
  long long pumps_ = 0;
};

}  // namespace velkaro
