// Helpers shared by the test programs.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/test_platform.h"

namespace velkaro::testing {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A test with the test platform installed for its duration.
class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest() : scope_(platform) {}
  TestPlatform platform;

 private:
  ScopedPlatform scope_;
};

// Limits the size of files this process may write while it lives, so a
// write fails half-way the way it does on a full disk. Works for root too,
// unlike folder permissions, which root ignores.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*previous_)(int);
};

// Writes bytes to a file, replacing it; fails the test when it cannot.
void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// Runs a shell command, feeding `input` on its standard input; returns its
// standard output. `ok` is set from its exit status.
std::string RunCommand(const std::string& command, const std::string& input, bool* ok = nullptr);

// The mails the test receiver stored in `folder`, named 1.eml, 2.eml, … in
// the order they arrived: their paths, up to the first number missing.
std::vector<std::string> ReceivedMailPaths(const std::string& folder);

// True when a program is on the PATH.
bool HaveProgram(const std::string& name);

// Bytes as space-separated hex, for readable failure messages.
std::string Hex(const std::string& bytes);

// The lines of a text without their CR LF; bytes after the last CR LF are
// a last line of their own.
std::vector<std::string> CrLfLines(const std::string& text);

// A message's lines without its Date and Message-Id, which only a real send
// fixes: what a dry run's .eml and the stored mail must share.
std::string WithoutDateAndId(const std::string& message);

// The bytes of a Base64 text (line ends skipped); fails the test on a
// character outside the alphabet.
std::string Base64Decode(const std::string& text);

// Counts the fault cases a test tries, by kind (a short fixed name of the
// fault class, such as "smtp stall" or "full disk"). At the end of its
// scope it prints one line per kind, in the order first seen:
//   [ cases    ] smtp stall: 7
// scripts/fault_cases.sh reads these lines from the test programs' output.
class CaseCount {
 public:
  CaseCount() = default;
  ~CaseCount();
  CaseCount(const CaseCount&) = delete;
  CaseCount& operator=(const CaseCount&) = delete;
  // One more case of `kind`; call it for each case that actually runs.
  void Add(const std::string& kind);

 private:
  std::vector<std::pair<std::string, int>> counts_;
};

}  // namespace velkaro::testing
