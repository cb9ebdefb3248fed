// Shift_JIS to ISO-2022-JP: ZenSjisToJis against `nkf -S -j -m0` on the same
// 10 MB Japanese mail text.
//
// Our conversion runs with a TestPlatform installed, so every pump it asks
// for is a real call into the platform. It stays cheap because of the
// PumpPacer inside the conversion: the clock is read every 64 characters and
// the platform is pumped at most once per millisecond.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "platform/test_platform.h"
#include "ratio_reporter.h"

namespace {

constexpr std::size_t kTextSize = 10u * 1024 * 1024;

// Shift_JIS codes with these leads that CP932 assigns a character.
void AddAssigned(std::vector<std::string>& pool, unsigned firstLead, unsigned lastLead) {
  for (unsigned lead = firstLead; lead <= lastLead; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      if (velkaro::SjisToUtf8(code).find("\xEF\xBF\xBD") == std::string::npos) {
        pool.push_back(code);
      }
    }
  }
}

// Lines like those of a mail: Japanese sentences (kana, kanji, now and then
// half-width katakana, digits or a word in ASCII) and plain ASCII lines.
std::string MakeText() {
  std::vector<std::string> kana;
  AddAssigned(kana, 0x82, 0x83);  // hiragana, katakana
  std::vector<std::string> kanji;
  AddAssigned(kanji, 0x88, 0x9F);
  AddAssigned(kanji, 0xE0, 0xEA);
  std::vector<std::string> symbols;
  AddAssigned(symbols, 0x81, 0x81);
  const std::string words[] = {"Velkaro", "2024", "mail", "http://example.jp/", "No.", "OK"};

  std::mt19937 random(20240601);
  std::uniform_int_distribution<int> lineLength(0, 70);
  std::uniform_int_distribution<int> percent(0, 99);
  std::string text;
  text.reserve(kTextSize + 256);
  while (text.size() < kTextSize) {
    const bool asciiLine = percent(random) < 25;
    for (int n = lineLength(random); n > 0; --n) {
      const int p = percent(random);
      if (asciiLine) {
        text += p < 15 ? ' ' : static_cast<char>(0x21 + random() % 0x5E);
      } else if (p < 45) {
        text += kana[random() % kana.size()];
      } else if (p < 80) {
        text += kanji[random() % kanji.size()];
      } else if (p < 87) {
        text += symbols[random() % symbols.size()];
      } else if (p < 92) {
        text += static_cast<char>(0xA1 + random() % 0x3F);  // half-width katakana
      } else {
        text += words[random() % std::size(words)];
      }
    }
    text += "\r\n";
  }
  return text;
}

// The text is made once, with a file of it that is removed when the program
// ends.
class BenchText {
 public:
  BenchText() : text_(MakeText()) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velkaro-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    folder_ = pattern;
    path_ = folder_ + "/mail.txt";
    std::ofstream out(path_, std::ios::binary);
    out.write(text_.data(), static_cast<std::streamsize>(text_.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path_.c_str());
      std::exit(1);
    }
  }
  ~BenchText() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::string& text() const { return text_; }
  const std::string& path() const { return path_; }

 private:
  std::string text_;
  std::string folder_;
  std::string path_;
};

const BenchText& Sample() {
  static BenchText sample;
  return sample;
}

void BM_ZenSjisToJis(benchmark::State& state) {
  const std::string& text = Sample().text();
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  velkaro::Zentool z;
  for (auto _ : state) {
    const std::string jis = z.ZenSjisToJis(text);
    if (jis.size() <= text.size()) {
      state.SkipWithError("output too short");
      break;
    }
    benchmark::DoNotOptimize(jis.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["pumps"] = benchmark::Counter(static_cast<double>(platform.PumpCount()),
                                               benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ZenSjisToJis)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_NkfSjisToJis(benchmark::State& state) {
  const BenchText& sample = Sample();
  const std::string command = "nkf -S -j -m0 '" + sample.path() + "' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("nkf failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sample.text().size()));
}
BENCHMARK(BM_NkfSjisToJis)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return velkaro::bench::RunWithRatios(argc, argv, {{"BM_ZenSjisToJis", "BM_NkfSjisToJis", 1.5}});
}
