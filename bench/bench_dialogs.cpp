// Opening the address book dialogs with a large address book: the time from
// constructing the dialog to its first paint on screen (offscreen platform).
// Goal: well under a second; 0.5 s each for 10,000 entries.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/encoding.h"
#include "data/address_book.h"
#include "platform/test_platform.h"
#include "ui/dialogs/address_dialogs.h"

namespace {

constexpr int kEntries = 10000;
constexpr double kGoalMs = 500.0;

// A book in random reading order, with Japanese names and every field set.
std::string MakeBook(int entries) {
  static const char* const kKana[] = {"あ", "い", "う", "え", "お", "か", "き", "く", "け",
                                      "こ", "さ", "し", "す", "せ", "そ", "た", "ち", "つ",
                                      "て", "と", "な", "に", "ぬ", "ね", "の", "は", "ひ"};
  static const char* const kFamily[] = {"山田", "鈴木", "佐藤", "田中", "伊藤", "渡辺", "高橋"};
  unsigned seed = 12345;
  const auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7fffu;
  };
  std::string book = velkaro::AddressBookHeaderLine();
  for (int i = 0; i < entries; ++i) {
    std::string kana;
    for (int k = 0; k < 5; ++k) kana += kKana[next() % std::size(kKana)];
    const std::string n = std::to_string(i);
    const std::string family = kFamily[next() % std::size(kFamily)];
    book += velkaro::Utf8ToSjis(kana + "\t" + family + n + "\t" + family + "太郎" + n + "\tuser" +
                                n + "@example.jp\t03-0000-" + n + "\t東京都千代田区" + n +
                                "\tデータ1\tデータ2\tデータ3\tデータ4") +
            "\r\n";
  }
  return book;
}

const std::string& Book() {
  static const std::string book = MakeBook(kEntries);
  return book;
}

template <typename Dialog>
void OpenDialog(benchmark::State& state) {
  const std::string& book = Book();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    Dialog dialog(nullptr, book);
    dialog.show();
    // The first paint happens when the shown window's events are handled.
    QApplication::processEvents();
    const auto shown = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(shown - start).count());
  }
  state.counters["entries"] = kEntries;
}

void BM_OpenAddressSelectDialog(benchmark::State& state) {
  OpenDialog<velkaro::ui::dialogs::AddressSelectDialog>(state);
}
BENCHMARK(BM_OpenAddressSelectDialog)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_OpenAddressEditDialog(benchmark::State& state) {
  OpenDialog<velkaro::ui::dialogs::AddressEditDialog>(state);
}
BENCHMARK(BM_OpenAddressEditDialog)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  std::printf("opening the address book dialogs with %d entries; goal under %.0f ms each\n",
              kEntries, kGoalMs);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
