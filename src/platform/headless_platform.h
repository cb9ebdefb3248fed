// The host services without a window: what `velkaro-send` runs the send
// model on. Time is the real monotonic clock, waits really sleep (an idle
// run costs no processor), timers and posted commands are delivered inside
// `Pump`. Nobody can click a message box, so each one is written out as
// text and answered with its harmless choice: OK where OK is all there is,
// otherwise Cancel or No — never "overwrite", never "exit".
#pragma once

#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace velkaro {

class HeadlessPlatform : public Platform {
 public:
  // Receives every status text as it is set (Shift_JIS).
  using StatusSink = std::function<void(const std::string& sjisText)>;
  // Receives a message box's text converted to UTF-8 lines, each ending in
  // "\n", ready to be written out. The default writes to standard error.
  using MessageSink = std::function<void(const std::string& utf8Lines)>;
  // Milliseconds of a clock that never goes back.
  using Clock = std::function<long long()>;

  HeadlessPlatform();
  ~HeadlessPlatform() override = default;
  HeadlessPlatform(const HeadlessPlatform&) = delete;
  HeadlessPlatform& operator=(const HeadlessPlatform&) = delete;

  void SetStatusSink(StatusSink sink) { statusSink_ = std::move(sink); }
  void SetMessageSink(MessageSink sink) { messageSink_ = std::move(sink); }
  // Sounds are silent unless switched on.
  void SetSoundEnabled(bool on) { soundEnabled_ = on; }
  // The program that plays a wave file ("aplay" from the PATH by default;
  // empty: none) and how long one sound may take before it is cut.
  void SetWavePlayer(std::string program) { wavePlayer_ = std::move(program); }
  void SetWaveCapMs(int ms) { waveCapMs_ = ms; }
  // Called on every `Pump` after timers and commands (signal flags, …).
  void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
  // For tests: a clock of their own instead of the monotonic one.
  void SetClock(Clock clock) { clock_ = std::move(clock); }

  // The answer a box with these buttons gets when nobody is there.
  static MsgAnswer SafeAnswer(MsgButtons buttons);
  // The lines written for a box: the text's lines prefixed "Velkaro: ",
  // then, for a question, which answer was taken.
  static std::string FormatMessage(const std::string& sjisText, MsgButtons buttons);

  std::size_t RunningTimers() const { return timers_.size(); }

  // --- Platform ---
  void Sleep(int ms) override;
  void Pump() override;
  void StartTimer(TimerTarget* target, int id, int periodMs) override;
  void StopTimer(TimerTarget* target, int id) override;
  void SetCommandTarget(CommandTarget* target) override { commandTarget_ = target; }
  void PostCommand(int commandId) override { pending_.push_back(commandId); }
  void PostCloseRequest() override { pending_.push_back(kCloseRequest); }
  MsgAnswer MessageBox(const std::string& sjisText, MsgButtons buttons, MsgIcon icon) override;
  void SetStatusText(const std::string& sjisText) override;
  void PlayWave(const std::string& path) override;
  std::unique_ptr<StreamSocket> NewSocket() override;
  bool StartSockets() override { return true; }
  bool ShellOpen(const std::string&) override { return false; }
  std::optional<std::string> ClipboardText() override { return std::nullopt; }
  std::string ExecutablePath() override;
  std::string VersionString() override;
  std::string ProgramFolder() override;
  std::string HostName() override;
  std::optional<std::string> LookupSecret(const std::string& account) override;
  int StoreSecret(const std::string& account, const std::string& secret) override;
  std::optional<std::string> RunPasswordCommand(const std::string& command,
                                                int timeoutMs = 30000) override;
  std::time_t Now() override { return std::time(nullptr); }
  std::tm LocalTime(std::time_t t) override;

 private:
  static constexpr int kCloseRequest = -1;
  struct Timer {
    int periodMs;
    long long dueMs;
  };
  long long NowMs() const;
  void DeliverDueTimers();
  void DeliverPosted();

  std::map<std::pair<TimerTarget*, int>, Timer> timers_;
  std::deque<int> pending_;
  CommandTarget* commandTarget_ = nullptr;
  StatusSink statusSink_;
  MessageSink messageSink_;
  std::function<void()> pumpHook_;
  Clock clock_;
  bool delivering_ = false;
  bool soundEnabled_ = false;
  std::string wavePlayer_ = "aplay";
  int waveCapMs_ = 10000;
  std::optional<std::string> executablePath_;
  std::optional<std::string> programFolder_;
  std::optional<std::string> hostName_;  // asked once: the resolver may be slow
};

}  // namespace velkaro
