#include "support.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/platform.h"

namespace velkaro::fuzz {
namespace {

class Scratch {
 public:
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velkaro-fuzz-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

TestPlatform& Platform() {
  static TestPlatform* platform = [] {
    auto* p = new TestPlatform;
    InstallPlatform(p);
    return p;
  }();
  platform->ClearRecords();
  return *platform;
}

const std::string& ScratchFolder() {
  static const Scratch scratch;
  return scratch.path();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  FUZZ_CHECK(out.good());
}

std::string InputReader::Take(std::size_t count) {
  if (count > size_ - pos_) count = size_ - pos_;
  std::string out(reinterpret_cast<const char*>(data_ + pos_), count);
  pos_ += count;
  return out;
}

}  // namespace velkaro::fuzz
