// What a long run costs the process: open file descriptors and memory, read
// from /proc and from the allocator, so that a leak shows as a difference
// between two readings.
#pragma once

#include <cstddef>
#include <string>

namespace velkaro::testing {

struct ProcessFigures {
  int openFds = 0;            // entries of /proc/self/fd
  long rssKb = 0;             // VmRSS of /proc/self/status
  std::size_t heapBytes = 0;  // bytes the allocator has handed out and not got back
};

// Reads all three now. The descriptor count does not include the one used
// to list the folder.
ProcessFigures ReadProcessFigures();

// Writes `text` to `path`, replacing it; false when it cannot.
bool WriteTextFile(const std::string& path, const std::string& text);

}  // namespace velkaro::testing
