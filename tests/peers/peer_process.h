// A mail server started for a test: a helper script on 127.0.0.1 that prints
// its port on the first line of its standard output and serves until it is
// sent SIGTERM. The process runs in a process group of its own, so stopping
// it also stops whatever it started (Dovecot's workers, smtp-sink).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velkaro::testing {

class PeerProcess {
 public:
  PeerProcess() = default;
  ~PeerProcess() { Stop(); }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  // Starts `argv[0]` with the given arguments; standard error goes to
  // `errorLog`. Then waits up to `timeoutMs` for the port line. Returns
  // false (with `error` set) when the program cannot start, exits, prints
  // no number or takes too long.
  bool Start(const std::vector<std::string>& argv, const std::string& errorLog, int timeoutMs);

  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::string& error() const { return error_; }

  // SIGTERM to the process group, a wait of up to a few seconds for the
  // whole group to be gone, then SIGKILL for whatever is left. Safe to call
  // twice.
  void Stop();

 private:
  bool ReadPortLine(int timeoutMs);

  pid_t pid_ = -1;
  int output_ = -1;  // read end of the child's standard output
  int port_ = 0;
  std::string error_;
};

}  // namespace velkaro::testing
