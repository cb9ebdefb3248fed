#include "platform/test_platform.h"

#include <ctime>

#include "platform/posix_services.h"

namespace velkaro {

TestPlatform::TestPlatform() {
  SetLocalTime(2026, 12, 8, 9, 30, 0);
}

void TestPlatform::SetLocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  epoch_ = ::timegm(&tm) - utcOffset_ - static_cast<std::time_t>(virtualMs_ / 1000);
}

void TestPlatform::ClearRecords() {
  boxes_.clear();
  statusTexts_.clear();
  timerEvents_.clear();
  postedCommands_.clear();
  closeRequests_ = 0;
  playedWaves_.clear();
  shellOpened_.clear();
  fileDialogs_.clear();
}

void TestPlatform::Sleep(int ms) {
  if (ms <= 0) return;
  virtualMs_ += ms;
  if (realSleep_) posix::SleepMs(ms);
}

std::int64_t TestPlatform::MonotonicMicros() {
  if (realSleep_) return Platform::MonotonicMicros();
  return virtualMs_ * 1000;
}

void TestPlatform::Pump() {
  ++pumps_;
  // A handler that pumps again (a nested wait) must not deliver the same
  // timer or command twice; the outer pump finishes the queue.
  if (delivering_) return;
  delivering_ = true;
  DeliverDueTimers();
  DeliverPosted();
  delivering_ = false;
  if (pumpHook_) pumpHook_();
}

void TestPlatform::DeliverDueTimers() {
  std::vector<std::pair<TimerTarget*, int>> due;
  for (auto& [key, timer] : timers_) {
    if (timer.dueMs <= virtualMs_) due.push_back(key);
  }
  for (const auto& key : due) {
    auto it = timers_.find(key);
    if (it == timers_.end()) continue;  // stopped by an earlier handler
    it->second.dueMs += it->second.periodMs;
    timerEvents_.push_back({TimerEvent::Fire, key.second, it->second.periodMs});
    key.first->OnTimer(key.second);
  }
}

void TestPlatform::DeliverPosted() {
  while (!pendingCommands_.empty()) {
    const int command = pendingCommands_.front();
    pendingCommands_.pop_front();
    if (commandTarget_ == nullptr) continue;
    if (command < 0) {
      commandTarget_->OnCloseRequest();
    } else {
      commandTarget_->OnCommand(command);
    }
  }
}

void TestPlatform::StartTimer(TimerTarget* target, int id, int periodMs) {
  if (periodMs < 1) periodMs = 1;
  timers_[{target, id}] = Timer{periodMs, virtualMs_ + periodMs};
  timerEvents_.push_back({TimerEvent::Start, id, periodMs});
}

void TestPlatform::StopTimer(TimerTarget* target, int id) {
  if (timers_.erase({target, id}) != 0) {
    timerEvents_.push_back({TimerEvent::Stop, id, 0});
  }
}

void TestPlatform::PostCommand(int commandId) {
  postedCommands_.push_back(commandId);
  pendingCommands_.push_back(commandId);
}

void TestPlatform::PostCloseRequest() {
  ++closeRequests_;
  pendingCommands_.push_back(-1);
}

MsgAnswer TestPlatform::MessageBox(const std::string& sjisText, MsgButtons buttons, MsgIcon icon) {
  MsgAnswer answer;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    answer = (buttons == MsgButtons::Ok || buttons == MsgButtons::OkCancel) ? MsgAnswer::Ok
                                                                            : MsgAnswer::Yes;
  }
  boxes_.push_back({sjisText, buttons, icon, answer});
  return answer;
}

void TestPlatform::SetStatusText(const std::string& sjisText) {
  statusTexts_.push_back(sjisText);
}

std::unique_ptr<StreamSocket> TestPlatform::NewSocket() {
  if (socketFactory_) return socketFactory_();
  return posix::NewTcpSocket(*this);
}

std::vector<std::string> TestPlatform::FileDialog(const FileDialogRequest& request) {
  fileDialogs_.push_back(request);
  if (fileAnswers_.empty()) return {};
  std::vector<std::string> answer = std::move(fileAnswers_.front());
  fileAnswers_.pop_front();
  return answer;
}

bool TestPlatform::ShellOpen(const std::string& target) {
  shellOpened_.push_back(target);
  return shellOpenResult_;
}

std::string TestPlatform::VersionString() {
  return posix::BuildVersion();
}

std::optional<std::string> TestPlatform::LookupSecret(const std::string& account) {
  secretLookups_.push_back(account);
  if (!secretStoreReachable_) return std::nullopt;
  const auto it = secrets_.find(account);
  if (it == secrets_.end()) return std::nullopt;
  return it->second;
}

int TestPlatform::StoreSecret(const std::string& account, const std::string& secret) {
  if (!secretStoreReachable_) return 1;
  secrets_[account] = secret;
  return 0;
}

std::optional<std::string> TestPlatform::RunPasswordCommand(const std::string& command, int) {
  passwordCommandsRun_.push_back(command);
  const auto it = passwordCommands_.find(command);
  if (it == passwordCommands_.end()) return std::nullopt;
  return it->second;
}

std::time_t TestPlatform::Now() {
  return epoch_ + static_cast<std::time_t>(virtualMs_ / 1000);
}

std::tm TestPlatform::LocalTime(std::time_t t) {
  const std::time_t shifted = t + utcOffset_;
  std::tm out{};
  ::gmtime_r(&shifted, &out);
  return out;
}

}  // namespace velkaro
