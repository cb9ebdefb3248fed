// Shared pieces of the fuzz targets: the invariant check, the test platform
// (no real waits, a fixed clock) and a scratch folder for targets whose
// entry point reads a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/test_platform.h"

// Stops the run with a message libFuzzer keeps next to the crashing input.
#define FUZZ_CHECK(condition)                                                                 \
  do {                                                                                        \
    if (!(condition)) {                                                                       \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                           \
    }                                                                                         \
  } while (0)

namespace velkaro::fuzz {

inline std::string Bytes(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The process's test platform, installed on first use. Records are cleared
// on every call so that a long run does not pile them up.
TestPlatform& Platform();

// A folder of this process under the system's temporary folder, created on
// first use and removed when the process ends normally.
const std::string& ScratchFolder();

// Replaces the file `path` with `bytes`; aborts when it cannot.
void WriteFile(const std::string& path, const std::string& bytes);

// Reads input front to back: small numbers and byte runs for targets that
// take more than one value from one input.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ == size_; }
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  // The next `count` bytes (fewer at the end).
  std::string Take(std::size_t count);
  std::string Rest() { return Take(size_ - pos_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace velkaro::fuzz
