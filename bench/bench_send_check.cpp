// The check before sending for 10,000 recipients against an address book
// of 10,000 entries: a 3 KB body with placeholders, one attachment, and
// charset=iso-2022-jp so that every mail is also searched for characters
// ISO-2022-JP cannot carry. Goal: well under 0.5 s for BM_CheckBeforeSending.
// The reference personalises the same mails and nothing else, which every
// run does anyway; the ratio says what the checks cost on top of it.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "data/settings_file.h"
#include "job/personalise.h"
#include "job/send_check.h"
#include "job/send_job.h"
#include "platform/test_platform.h"
#include "ratio_reporter.h"

namespace {

constexpr int kRecipients = 10000;

std::string MakeBody() {
  const std::string greeting = velkaro::Utf8ToSjis(
      "((name))様 いつもお世話になっております。((today)) ((time)) のご案内です。\r\n");
  const std::string plain =
      velkaro::Utf8ToSjis("本文の行です。ｶﾀｶﾅと漢字とASCII text が混ざっています。①\r\n");
  std::string body = velkaro::Utf8ToSjis("((name))様へのご案内((nmae))\r\n");
  while (body.size() < 3 * 1024) body += (body.size() % 1024 < 100) ? greeting : plain;
  return body;
}

std::string Line(int i) {
  const std::string n = std::to_string(i);
  return velkaro::Utf8ToSjis("やまだ\t山田" + n + "\t山田 太郎" + n + "\tuser" + n +
                             "@example.jp\t03\t東京\t会員\t\t\t\r\n");
}

// A job as the window holds it before a run; the platform and the
// attachment file live as long as the benchmark.
struct Fixture {
  Fixture() : scope(platform) {
    char folder[] = "/tmp/bench_send_check_XXXXXX";
    if (::mkdtemp(folder) != nullptr) this->folder = folder;
    platform.SetProgramFolder(this->folder);
    velkaro::Zentool().ZenWriteFile(this->folder + "/map.png", std::string(4096, 'x'), 0);
    settings = std::make_unique<velkaro::Settings>();
    velkaro::SetFieldText(settings->record.server.senderAddress, "from@example.jp");
    settings->ini.Set("charset", "iso-2022-jp");
    job = std::make_unique<velkaro::SendJob>(*settings);
    job->bodyText = MakeBody();
    job->attachments.push_back({"map.png", this->folder});
    book = velkaro::AddressBookHeaderLine();
    for (int i = 0; i < kRecipients; ++i) {
      book += Line(i);
      // A few recipients the book no longer has, and a few twice.
      job->recipientLines += Line(i % 997 == 0 ? kRecipients + i : i % 1009 == 0 ? 0 : i);
    }
  }
  ~Fixture() {
    ::unlink((folder + "/map.png").c_str());
    ::rmdir(folder.c_str());
  }

  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope;
  std::string folder;
  std::unique_ptr<velkaro::Settings> settings;
  std::unique_ptr<velkaro::SendJob> job;
  std::string book;
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

void BM_CheckBeforeSending(benchmark::State& state) {
  Fixture& f = Shared();
  std::size_t found = 0;
  for (auto _ : state) {
    found = velkaro::CheckBeforeSending(*f.job, f.book).size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["findings"] = static_cast<double>(found);
  state.SetItemsProcessed(state.iterations() * kRecipients);
}
BENCHMARK(BM_CheckBeforeSending)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PersonaliseOnly(benchmark::State& state) {
  Fixture& f = Shared();
  const velkaro::PlaceholderWordList words = velkaro::PlaceholderWordsOf(f.settings->record);
  const std::string& lines = f.job->recipientLines;
  for (auto _ : state) {
    std::size_t total = 0;
    for (std::size_t start = 0, end = lines.find("\r\n"); end != std::string::npos;
         start = end + 2, end = lines.find("\r\n", start)) {
      total += velkaro::PersonaliseMail(words, f.job->bodyText,
                                        lines.substr(start, end + 2 - start), false)
                   .body.size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kRecipients);
}
BENCHMARK(BM_PersonaliseOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::printf(
      "checking %d recipients before sending; goal well under 500 ms "
      "(see BM_CheckBeforeSending)\n",
      kRecipients);
  return velkaro::bench::RunWithRatios(argc, argv,
                                       {{"BM_CheckBeforeSending", "BM_PersonaliseOnly", 2.0}});
}
