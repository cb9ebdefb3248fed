#include "platform/headless_platform.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/encoding.h"
#include "platform/posix_services.h"
#include "platform/secret_store.h"

extern char** environ;

namespace velkaro {
namespace {

long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A program name looked up on the PATH the way a shell would; a name with a
// slash is taken as it is. Empty when nothing executable is found.
std::string FindProgram(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) {
    return ::access(name.c_str(), X_OK) == 0 ? name : std::string();
  }
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + "/" + name;
    if (IsRegularFile(candidate) && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

const char* AnswerName(MsgAnswer answer) {
  switch (answer) {
    case MsgAnswer::Ok: return "OK";
    case MsgAnswer::Cancel: return "Cancel";
    case MsgAnswer::Yes: return "Yes";
    case MsgAnswer::No: return "No";
  }
  return "?";
}

}  // namespace

HeadlessPlatform::HeadlessPlatform()
    : messageSink_([](const std::string& lines) {
        std::fputs(lines.c_str(), stderr);
        std::fflush(stderr);
      }) {}

MsgAnswer HeadlessPlatform::SafeAnswer(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::Ok: return MsgAnswer::Ok;
    case MsgButtons::OkCancel: return MsgAnswer::Cancel;
    case MsgButtons::YesNo: return MsgAnswer::No;
    case MsgButtons::YesNoCancel: return MsgAnswer::Cancel;
  }
  return MsgAnswer::Cancel;
}

std::string HeadlessPlatform::FormatMessage(const std::string& sjisText, MsgButtons buttons) {
  const std::string text = SjisToUtf8(sjisText);
  std::string out;
  std::size_t start = 0;
  // Lines end in CR LF, LF or a lone CR; empty lines inside the text stay
  // (they separate its paragraphs), empty lines at its ends go.
  std::vector<std::string> lines;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      ++end;
    }
    start = end + 1;
  }
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::size_t first = 0;
  while (first < lines.size() && lines[first].empty()) ++first;
  for (std::size_t i = first; i < lines.size(); ++i) {
    out += lines[i].empty() ? "Velkaro:\n" : "Velkaro: " + lines[i] + "\n";
  }
  if (out.empty()) out = "Velkaro: (a message without text)\n";
  if (buttons != MsgButtons::Ok) {
    out +=
        std::string("Velkaro: (no one to ask: answered ") + AnswerName(SafeAnswer(buttons)) + ")\n";
  }
  return out;
}

long long HeadlessPlatform::NowMs() const {
  return clock_ ? clock_() : MonotonicMs();
}

void HeadlessPlatform::Sleep(int ms) {
  posix::SleepMs(ms);
}

void HeadlessPlatform::Pump() {
  // A handler that waits pumps again; the inner pump must not deliver the
  // same timer or command a second time while the outer one is at it.
  if (!delivering_) {
    delivering_ = true;
    DeliverDueTimers();
    DeliverPosted();
    delivering_ = false;
  }
  if (pumpHook_) pumpHook_();
}

void HeadlessPlatform::DeliverDueTimers() {
  const long long now = NowMs();
  std::vector<std::pair<TimerTarget*, int>> due;
  for (const auto& [key, timer] : timers_) {
    if (timer.dueMs <= now) due.push_back(key);
  }
  for (const auto& key : due) {
    auto it = timers_.find(key);
    if (it == timers_.end()) continue;  // stopped by an earlier handler
    // A timer that fell behind (a long synchronous step) fires once, not
    // once for every period it missed, like a window system's timer.
    it->second.dueMs = now + it->second.periodMs;
    key.first->OnTimer(key.second);
  }
}

void HeadlessPlatform::DeliverPosted() {
  // Commands posted by the handlers themselves wait for the next pump.
  std::deque<int> batch;
  batch.swap(pending_);
  for (const int command : batch) {
    if (commandTarget_ == nullptr) continue;
    if (command == kCloseRequest) {
      commandTarget_->OnCloseRequest();
    } else {
      commandTarget_->OnCommand(command);
    }
  }
}

void HeadlessPlatform::StartTimer(TimerTarget* target, int id, int periodMs) {
  if (target == nullptr) return;
  if (periodMs < 1) periodMs = 1;
  timers_[{target, id}] = Timer{periodMs, NowMs() + periodMs};
}

void HeadlessPlatform::StopTimer(TimerTarget* target, int id) {
  timers_.erase({target, id});
}

MsgAnswer HeadlessPlatform::MessageBox(const std::string& sjisText, MsgButtons buttons, MsgIcon) {
  if (messageSink_) messageSink_(FormatMessage(sjisText, buttons));
  return SafeAnswer(buttons);
}

void HeadlessPlatform::SetStatusText(const std::string& sjisText) {
  if (statusSink_) statusSink_(sjisText);
}

void HeadlessPlatform::PlayWave(const std::string& path) {
  if (!soundEnabled_ || path.empty() || !IsRegularFile(path)) return;
  const std::string player = FindProgram(wavePlayer_);
  if (player.empty()) return;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // A group of its own, so that a player that starts helpers is cut whole.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<std::string> words = {player, "-q", path};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  const int rc = ::posix_spawn(&child, player.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) return;

  // Synchronous like the program's sound calls, but never longer than the
  // cap: an audio device that blocks must not stop the run.
  const long long deadline = MonotonicMs() + waveCapMs_;
  for (;;) {
    const pid_t r = ::waitpid(child, nullptr, WNOHANG);
    if (r == child || (r < 0 && errno != EINTR)) return;
    if (MonotonicMs() >= deadline) break;
    posix::SleepMs(10);
  }
  ::kill(-child, SIGKILL);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

std::unique_ptr<StreamSocket> HeadlessPlatform::NewSocket() {
  return posix::NewTcpSocket(*this);
}

std::string HeadlessPlatform::ExecutablePath() {
  if (!executablePath_) executablePath_ = posix::ExecutablePath();
  return *executablePath_;
}

std::string HeadlessPlatform::VersionString() {
  return posix::BuildVersion();
}

std::string HeadlessPlatform::ProgramFolder() {
  // Worked out once: it may create the folder on first use.
  if (!programFolder_) programFolder_ = posix::ProgramFolder(ExecutablePath());
  return *programFolder_;
}

std::optional<std::string> HeadlessPlatform::LookupSecret(const std::string& account) {
  return posix::LookupSecret(*this, account);
}

int HeadlessPlatform::StoreSecret(const std::string& account, const std::string& secret) {
  return posix::StoreSecret(*this, account, secret);
}

std::optional<std::string> HeadlessPlatform::RunPasswordCommand(const std::string& command,
                                                                int timeoutMs) {
  return posix::RunPasswordCommand(*this, command, timeoutMs);
}

std::string HeadlessPlatform::HostName() {
  if (!hostName_) hostName_ = posix::FullyQualifiedHostName();
  return *hostName_;
}

std::tm HeadlessPlatform::LocalTime(std::time_t t) {
  return posix::LocalTime(t);
}

}  // namespace velkaro
