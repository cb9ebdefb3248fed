// Helper programs run without a shell of ours: the user's password command
// and secret-tool. The wait pumps the platform so that the window stays
// alive while a password command asks the user or a keyring unlocks.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/secret_store.h"

extern char** environ;

namespace velkaro::posix {
namespace {

long long MonotonicMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

void SetNonBlocking(int fd) {
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Our ends of the child's standard streams; -1 where there is none.
struct ChildPipes {
  int in = -1;  // a socket, so that a child gone early raises no SIGPIPE
  int out = -1;
  int err = -1;
  int childIn = -1;
  int childOut = -1;
  int childErr = -1;

  bool Open(const ChildRequest& request) {
    int pair[2];
    if (request.input) {
      if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return false;
      in = pair[0];
      childIn = pair[1];
      SetNonBlocking(in);
    }
    if (::pipe2(pair, O_CLOEXEC) != 0) return false;
    out = pair[0];
    childOut = pair[1];
    SetNonBlocking(out);
    if (request.captureStderr) {
      if (::pipe2(pair, O_CLOEXEC) != 0) return false;
      err = pair[0];
      childErr = pair[1];
      SetNonBlocking(err);
    }
    return true;
  }
  void CloseChildEnds() {
    CloseFd(childIn);
    CloseFd(childOut);
    CloseFd(childErr);
  }
  ~ChildPipes() {
    CloseChildEnds();
    CloseFd(in);
    CloseFd(out);
    CloseFd(err);
  }
};

pid_t Spawn(const ChildRequest& request, const ChildPipes& pipes) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (pipes.childIn >= 0) {
    posix_spawn_file_actions_adddup2(&actions, pipes.childIn, STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, pipes.childOut, STDOUT_FILENO);
  if (pipes.childErr >= 0)
    posix_spawn_file_actions_adddup2(&actions, pipes.childErr, STDERR_FILENO);
  // A group of its own, so that a time-out ends whatever the command
  // started; default signal handling, whatever the program ignores.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attributes, 0);
  std::vector<std::string> words = request.argv;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  const int rc = ::posix_spawnp(&child, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return rc == 0 ? child : -1;
}

// Reads what is there without blocking; closes the pipe at its end.
void Drain(int& fd, std::string& sink) {
  char buffer[4096];
  while (fd >= 0) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
      const std::size_t room = kChildOutputLimit - std::min(sink.size(), kChildOutputLimit);
      sink.append(buffer, std::min(room, static_cast<std::size_t>(n)));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      CloseFd(fd);
    } else if (errno == EAGAIN) {
      return;
    }
  }
}

// Sends what the socket takes now; closes it when all is sent.
void Feed(int& fd, const std::string& input, std::size_t& sent) {
  while (fd >= 0 && sent < input.size()) {
    const ssize_t n = ::send(fd, input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      return;
    } else if (n < 0 && errno != EINTR) {
      CloseFd(fd);  // the child does not read its input (gone already)
    }
  }
  CloseFd(fd);
}

bool Reap(pid_t child, int options, ChildResult& result) {
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(child, &status, options)) < 0 && errno == EINTR) {
  }
  if (r != child) return r < 0;  // an error means there is nothing to wait for
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  return true;
}

}  // namespace

ChildResult RunChild(Platform& platform, const ChildRequest& request) {
  ChildResult result;
  ChildPipes pipes;
  if (request.argv.empty() || !pipes.Open(request)) return result;
  const pid_t child = Spawn(request, pipes);
  pipes.CloseChildEnds();
  if (child < 0) return result;
  result.started = true;

  const std::string input = request.input.value_or(std::string());
  std::size_t sent = 0;
  const long long deadline = MonotonicMs() + request.timeoutMs;
  for (;;) {
    Feed(pipes.in, input, sent);
    Drain(pipes.out, result.out);
    Drain(pipes.err, result.err);
    if (Reap(child, WNOHANG, result)) {
      // What it wrote before it ended is in the pipe now; a helper it left
      // running may hold the pipe open for good, so no waiting for its end.
      Drain(pipes.out, result.out);
      Drain(pipes.err, result.err);
      return result;
    }
    if (MonotonicMs() >= deadline) break;
    platform.Sleep(1);
    platform.Pump();
  }
  ::kill(-child, SIGKILL);
  Reap(child, 0, result);
  result.timedOut = true;
  result.exitStatus = -1;
  return result;
}

std::optional<std::string> RunPasswordCommand(Platform& platform, const std::string& command,
                                              int timeoutMs) {
  ChildRequest request;
  request.argv = {"/bin/sh", "-c", command};
  request.timeoutMs = timeoutMs;
  const ChildResult run = RunChild(platform, request);
  if (!run.started || run.timedOut || run.exitStatus != 0) return std::nullopt;
  std::string line = run.out.substr(0, run.out.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return std::nullopt;
  return line;
}

}  // namespace velkaro::posix
