// Importing a 10,000-row UTF-8 contact sheet into an address book of 1,000
// entries: encoding detection, CSV reading, column mapping, conversion to
// Shift_JIS, the duplicate check and the new book text. Goal: under 0.5 s
// for BM_ImportAddresses. The reference splits the same bytes into lines
// and fields at commas, the least any import has to do; the ratio says
// what the rest costs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "data/address_import.h"
#include "ratio_reporter.h"

namespace {

constexpr int kRows = 10000;
constexpr int kBookEntries = 1000;
constexpr double kGoalMs = 500.0;

const std::string& Sheet() {
  static const std::string sheet = [] {
    std::string csv = "\xEF\xBB\xBF氏名,フリガナ,メールアドレス,電話,住所,メモ\r\n";
    for (int i = 0; i < kRows; ++i) {
      const std::string n = std::to_string(i);
      csv += "山田 太郎" + n + ",やまだ たろう," + "user" + n + "@example.jp,03-1234-" + n +
             ",\"東京都千代田区丸の内1-" + n + ", 3F\",\"会員 \"\"A\"\"\"\r\n";
    }
    return csv;
  }();
  return sheet;
}

const std::string& Book() {
  static const std::string book = [] {
    std::vector<velkaro::AddressEntry> entries(kBookEntries);
    for (int i = 0; i < kBookEntries; ++i) {
      entries[i].name = velkaro::Utf8ToSjis("鈴木 " + std::to_string(i));
      entries[i].mailaddr = "old" + std::to_string(i) + "@example.jp";
    }
    return velkaro::AppendEntries("", entries);
  }();
  return book;
}

void BM_ImportAddresses(benchmark::State& state) {
  for (auto _ : state) {
    const velkaro::ImportResult result = velkaro::ImportAddresses(Sheet(), Book(), {});
    std::string book = velkaro::AppendEntries(Book(), result.entries);
    if (result.entries.size() != kRows) state.SkipWithError("rows were left out");
    benchmark::DoNotOptimize(book.data());
  }
}
BENCHMARK(BM_ImportAddresses)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SplitLinesAndCommas(benchmark::State& state) {
  const std::string& bytes = Sheet();
  for (auto _ : state) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> fields(1);
    for (char c : bytes) {
      if (c == '\n') {
        rows.push_back(std::move(fields));
        fields.assign(1, "");
      } else if (c == ',') {
        fields.emplace_back();
      } else if (c != '\r') {
        fields.back() += c;
      }
    }
    benchmark::DoNotOptimize(rows.data());
  }
}
BENCHMARK(BM_SplitLinesAndCommas)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::printf(
      "importing %d CSV rows into a book of %d entries; goal under %.0f ms "
      "(see BM_ImportAddresses)\n",
      kRows, kBookEntries, kGoalMs);
  return velkaro::bench::RunWithRatios(argc, argv,
                                       {{"BM_ImportAddresses", "BM_SplitLinesAndCommas", 20.0}});
}
