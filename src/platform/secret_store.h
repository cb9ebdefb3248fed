// Secrets of the host: the desktop's secret store (Secret Service, reached
// through libsecret's own `secret-tool`) and a password command of the
// user's. Both run a helper program without a shell of ours, wait for it
// in sleep-and-pump steps on the installed platform and never put a secret
// on a command line, in the environment or in a message.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velkaro {

class Platform;

namespace posix {

// A helper program to run and what to do with its streams.
struct ChildRequest {
  std::vector<std::string> argv;  // argv[0] is looked up on the PATH
  // Fed to its standard input, which is then closed; /dev/null when unset.
  std::optional<std::string> input;
  bool captureStderr = false;  // otherwise it goes where ours goes
  int timeoutMs = 20000;
};

struct ChildResult {
  bool started = false;
  bool timedOut = false;  // it and its process group were killed
  int exitStatus = -1;    // -1 unless it exited by itself
  std::string out;        // at most kChildOutputLimit bytes of each
  std::string err;
};

inline constexpr std::size_t kChildOutputLimit = 64 * 1024;

// Runs the program in a process group of its own and waits, pumping
// `platform` between 1 ms sleeps, until it has exited and closed its
// output, or until the time is up.
ChildResult RunChild(Platform& platform, const ChildRequest& request);

// The secret stored for `account` (service "velkaro"); nothing when none
// is stored or no store can be reached.
std::optional<std::string> LookupSecret(Platform& platform, const std::string& account);
// 0 stored; 1 no store reachable (no secret-tool, no D-Bus session, no
// Secret Service); 2 the store answered but did not keep it (a locked
// collection whose unlock prompt was declined or could not be shown).
int StoreSecret(Platform& platform, const std::string& account, const std::string& secret);

// The first line `command` (run by /bin/sh -c) prints, without its line
// end; nothing when it could not run, exited non-zero, printed an empty
// first line or did not end within `timeoutMs`.
std::optional<std::string> RunPasswordCommand(Platform& platform, const std::string& command,
                                              int timeoutMs);

}  // namespace posix
}  // namespace velkaro
