#include "peers/peer_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace velkaro::testing {
namespace {

long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void PauseMs(int ms) {
  timespec pause{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  ::nanosleep(&pause, nullptr);
}

// Whether any process of the group is still there (zombies of the group
// leader excepted, which `waitpid` has already reaped by then).
bool GroupAlive(pid_t group) {
  return ::kill(-group, 0) == 0 || errno == EPERM;
}

}  // namespace

bool PeerProcess::Start(const std::vector<std::string>& argv, const std::string& errorLog,
                        int timeoutMs) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorLog.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);

  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t child = -1;
  const int rc = ::posix_spawn(&child, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  ::close(pipeEnds[1]);
  if (rc != 0) {
    ::close(pipeEnds[0]);
    error_ = "cannot start " + argv[0] + ": " + std::strerror(rc);
    return false;
  }
  pid_ = child;
  output_ = pipeEnds[0];
  if (!ReadPortLine(timeoutMs)) {
    Stop();
    return false;
  }
  return true;
}

bool PeerProcess::ReadPortLine(int timeoutMs) {
  std::string line;
  const long long deadline = MonotonicMs() + timeoutMs;
  while (line.find('\n') == std::string::npos) {
    const long long left = deadline - MonotonicMs();
    if (left <= 0) {
      error_ = "no port line within " + std::to_string(timeoutMs) + " ms";
      return false;
    }
    pollfd p{output_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(output_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error_ = "the server exited before it printed its port";
      return false;
    }
    line.append(buffer, static_cast<std::size_t>(n));
  }
  port_ = std::atoi(line.c_str());
  if (port_ <= 0 || port_ > 65535) {
    error_ = "not a port: " + line;
    return false;
  }
  return true;
}

void PeerProcess::Stop() {
  if (pid_ > 0) {
    ::kill(-pid_, SIGTERM);
    bool reaped = false;
    const long long deadline = MonotonicMs() + 5000;
    while (MonotonicMs() < deadline) {
      if (!reaped) {
        const pid_t r = ::waitpid(pid_, nullptr, WNOHANG);
        reaped = r == pid_ || (r < 0 && errno == ECHILD);
      }
      if (reaped && !GroupAlive(pid_)) break;
      PauseMs(10);
    }
    if (GroupAlive(pid_)) ::kill(-pid_, SIGKILL);
    if (!reaped) ::waitpid(pid_, nullptr, 0);
    // Group members other than the leader are not our children; give the
    // system a moment to take them down after SIGKILL.
    for (int i = 0; i < 100 && GroupAlive(pid_); ++i) PauseMs(10);
    pid_ = -1;
  }
  if (output_ >= 0) {
    ::close(output_);
    output_ = -1;
  }
}

}  // namespace velkaro::testing
