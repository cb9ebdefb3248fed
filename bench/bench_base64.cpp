// Whole files as Base64: ZenFileToBase64 against coreutils `base64 -w0` on
// the same 50 MB file of random bytes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/zentool.h"
#include "platform/test_platform.h"
#include "ratio_reporter.h"

namespace {

constexpr std::size_t kFileSize = 50u * 1024 * 1024;

// The file is made once and removed when the program ends.
class BenchFile {
 public:
  BenchFile() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velkaro-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    folder_ = pattern;
    path_ = folder_ + "/data.bin";
    std::vector<std::uint64_t> words(kFileSize / sizeof(std::uint64_t));
    std::mt19937_64 random(42);
    for (auto& w : words) w = random();
    std::ofstream out(path_, std::ios::binary);
    out.write(reinterpret_cast<const char*>(words.data()),
              static_cast<std::streamsize>(words.size() * sizeof(std::uint64_t)));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path_.c_str());
      std::exit(1);
    }
  }
  ~BenchFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

const std::string& FilePath() {
  static BenchFile file;
  return file.path();
}

void BM_ZenFileToBase64(benchmark::State& state) {
  const std::string& path = FilePath();
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  velkaro::Zentool z;
  for (auto _ : state) {
    const std::string text = z.ZenFileToBase64(path, 12000);
    if (text.size() != (kFileSize + 2) / 3 * 4) {
      state.SkipWithError("wrong length");
      break;
    }
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_ZenFileToBase64)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CoreutilsBase64(benchmark::State& state) {
  const std::string command = "base64 -w0 '" + FilePath() + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("base64 failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_CoreutilsBase64)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return velkaro::bench::RunWithRatios(argc, argv,
                                       {{"BM_ZenFileToBase64", "BM_CoreutilsBase64", 1.5}});
}
