// A long send run against a real receiver (aiosmtpd on 127.0.0.1): 10,000
// recipients over one SMTP connection, driven by the test platform so that
// the run's designed waits take no time. The run must neither keep
// descriptors nor grow with every mail, and every mail must arrive exactly
// once. The figures go to standard output and to soak-figures.json in the
// build folder (VELKARO_SOAK_FIGURES names another file; VELKARO_SOAK_RECIPIENTS
// another number of recipients).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "core/encoding.h"
#include "job/send_job.h"
#include "peers/peer_fixture.h"
#include "peers/process_figures.h"
#include "platform/posix_services.h"

namespace velkaro::testing {
namespace {

constexpr int kDefaultRecipients = 10000;
constexpr int kEarlyMails = 100;
constexpr long kMegabyte = 1024 * 1024;
// What memory may grow by between mail 100 and the end of the run.
constexpr long kGrowthAllowance = 8 * kMegabyte;
// The same for the heap without the details text (every mail's transcript,
// kept for the details command by design): a leak of 100 bytes a mail
// shows.
constexpr long kHeapLeakAllowance = kMegabyte;

// The real TCP socket, except that a read finding nothing waits a little in
// real time before it says so. The test platform's sleeps take no time, so
// the reply time-out (counted on its virtual clock) would otherwise run out
// while the receiver is still answering; this way the virtual clock only
// moves on while the receiver really is silent.
class PatientSocket final : public StreamSocket {
 public:
  explicit PatientSocket(std::unique_ptr<StreamSocket> inner) : inner_(std::move(inner)) {}
  bool Create() override { return inner_->Create(); }
  bool Connect(const std::string& host, int port) override { return inner_->Connect(host, port); }
  int Send(const char* data, int length) override { return inner_->Send(data, length); }
  bool ReadableBytes(int& count) override {
    for (int i = 0; i < kPolls; ++i) {
      if (!inner_->ReadableBytes(count)) return false;
      if (count > 0) return true;
      ::usleep(kPollMicroseconds);
    }
    return true;
  }
  int Receive(char* buffer, int capacity) override { return inner_->Receive(buffer, capacity); }
  // A question, not a wait for a reply: no patience.
  bool HungUp() override { return inner_->HungUp(); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }

 private:
  static constexpr int kPolls = 400;  // about 20 ms
  static constexpr int kPollMicroseconds = 50;
  std::unique_ptr<StreamSocket> inner_;
};

int RecipientCount() {
  const char* text = std::getenv("VELKARO_SOAK_RECIPIENTS");
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > kEarlyMails ? n : kDefaultRecipients;
}

std::string FiguresPath() {
  const char* path = std::getenv("VELKARO_SOAK_FIGURES");
  return path != nullptr ? path : std::string(VELKARO_BUILD_DIR) + "/soak-figures.json";
}

std::string Serial(int i) {
  char text[16];
  std::snprintf(text, sizeof text, "%05d", i);
  return text;
}

std::string Address(const std::string& serial) {
  return "user" + serial + "@example.jp";
}

// What the receiver stored, checked mail by mail against its envelope.
struct Arrivals {
  int files = 0;
  int distinct = 0;
  int duplicates = 0;
  int mismatched = 0;  // the body's serial is not the envelope's recipient's
  int connections = 0;
};

// Everything the run is judged by, and its JSON form for scripts.
struct SoakFigures {
  int recipients = 0;
  int result = -1;
  double seconds = 0;
  ProcessFigures before, early, after;
  int fdsAfterJob = 0;
  std::size_t timersAfter = 0;
  std::size_t detailsBytes = 0;
  int archived = 0;
  Arrivals arrived;

  long RssGrowth() const { return (after.rssKb - early.rssKb) * 1024; }
  long HeapGrowth() const {
    return static_cast<long>(after.heapBytes) - static_cast<long>(early.heapBytes);
  }
  std::string Json() const {
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "{\"recipients\": %d, \"result\": %d, \"seconds\": %.1f,\n"
        " \"fd_before\": %d, \"fd_after\": %d, \"fd_after_job\": %d, \"timers_after\": %zu,\n"
        " \"rss_kb_after_100\": %ld, \"rss_kb_after_run\": %ld,\n"
        " \"heap_bytes_after_100\": %zu, \"heap_bytes_after_run\": %zu,\n"
        " \"details_bytes\": %zu, \"archived_texts\": %d,\n"
        " \"mails_received\": %d, \"distinct_recipients\": %d, \"duplicates\": %d,\n"
        " \"mismatched\": %d, \"connections\": %d}\n",
        recipients, result, seconds, before.openFds, after.openFds, fdsAfterJob, timersAfter,
        early.rssKb, after.rssKb, early.heapBytes, after.heapBytes, detailsBytes, archived,
        arrived.files, arrived.distinct, arrived.duplicates, arrived.mismatched,
        arrived.connections);
    return text;
  }
};

int CountFiles(const std::string& folder) {
  std::error_code ignored;
  int n = 0;
  for (auto it = std::filesystem::directory_iterator(folder, ignored);
       it != std::filesystem::directory_iterator(); ++it) {
    ++n;
  }
  return n;
}

class SoakRun : public PeerTest, public SendJobView {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(PeerTest::SetUp());
    platform.SetRealSleep(false);
    std::filesystem::create_directories(dir.File("home"));
    platform.SetProgramFolder(dir.File("home"));
    platform.SetSocketFactory(
        [this] { return std::make_unique<PatientSocket>(posix::NewTcpSocket(platform)); });
  }

  // The run shows " N通目: …" before mail N; when mail 101 begins, 100
  // have been accepted. The platform's records are dropped now and then:
  // they are the test's, not the run's.
  void JobChanged() override {
    const std::vector<std::string>& texts = platform.StatusTexts();
    if (!early && !texts.empty() && texts.back().rfind(earlyMark, 0) == 0) {
      early = ReadProcessFigures();
    }
    if (texts.size() > 1000) platform.ClearRecords();
  }

  void Configure(velkaro::Settings& settings) const {
    settings.record.server = Settings(receiver.port());
    SetFieldText(settings.record.server.popServer, "");
    settings.record.speed = 5;
    for (int& on : settings.record.soundOn) on = 0;
  }

  static std::string RecipientLines(int count) {
    std::string lines;
    for (int i = 1; i <= count; ++i) {
      const std::string serial = Serial(i);
      lines += Utf8ToSjis("じゅしん\t受信者" + serial + "\t受信者 " + serial + "\t") +
               Address(serial) + "\t\t\t" + serial + "\t\t\t\t\r\n";
    }
    return lines;
  }

  static std::string BodyText() {
    std::string body = "((name))様へのご案内\r\n((name))様\r\n\r\n管理番号: ID-((data1))\r\n";
    for (int i = 0; i < 12; ++i) {
      body += "いつもお世話になっております。ご案内の資料をお送りします。カタカナもあります。\r\n";
    }
    return Utf8ToSjis(body + "宛先: ((mailaddr))\r\n");
  }

  Arrivals CheckArrivals() const {
    Arrivals out;
    std::map<std::string, int> seen;
    std::set<std::string> peers;
    for (const std::string& path : ReceivedMessages()) {
      ++out.files;
      const auto envelope = Envelope(path);
      const std::string to = First(envelope, "rcpt_to");
      peers.insert(First(envelope, "peer"));
      ++seen[to];
      const std::string message = ReadBytes(path);
      const std::size_t at = message.find("ID-");
      const std::string serial = at == std::string::npos ? "" : message.substr(at + 3, 5);
      if (Address(serial) != to) ++out.mismatched;
    }
    out.distinct = static_cast<int>(seen.size());
    for (const auto& [to, n] : seen) out.duplicates += n - 1;
    out.connections = static_cast<int>(peers.size());
    return out;
  }

  std::optional<ProcessFigures> early;
  std::string earlyMark = " " + std::to_string(kEarlyMails + 1) + Sjis("通目: ");
};

TEST_F(SoakRun, TenThousandRecipientsOverOneConnection) {
  SoakFigures f;
  f.recipients = RecipientCount();
  ASSERT_NO_FATAL_FAILURE(StartReceiver());
  velkaro::Settings settings;
  Configure(settings);
  auto job = std::make_unique<SendJob>(settings);
  job->SetView(this);
  job->bodyText = BodyText();
  job->recipientLines = RecipientLines(f.recipients);

  f.before = ReadProcessFigures();
  const auto start = std::chrono::steady_clock::now();
  f.result = job->RunSendJob();
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  f.after = ReadProcessFigures();
  f.detailsBytes = job->sendDetails.capacity();
  f.timersAfter = platform.RunningTimers();
  job.reset();
  f.fdsAfterJob = ReadProcessFigures().openFds;
  f.archived = CountFiles(dir.File("home/Text"));
  f.arrived = CheckArrivals();
  ASSERT_TRUE(early.has_value()) << "mail " << kEarlyMails + 1 << " never began";
  f.early = *early;

  std::printf("soak figures (%s):\n%s", FiguresPath().c_str(), f.Json().c_str());
  EXPECT_TRUE(WriteTextFile(FiguresPath(), f.Json())) << FiguresPath();

  EXPECT_EQ(f.result, 0);
  EXPECT_EQ(f.after.openFds, f.before.openFds);
  EXPECT_EQ(f.fdsAfterJob, f.before.openFds);
  EXPECT_EQ(f.timersAfter, 0u);
#if !defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed blocks in quarantine (up to 256 MB) and
  // hides the heap from mallinfo2; its leak check stands in for the bounds.
  EXPECT_LE(f.RssGrowth(), kGrowthAllowance);
  EXPECT_LE(f.HeapGrowth(), kGrowthAllowance);
  EXPECT_LE(f.HeapGrowth() - static_cast<long>(f.detailsBytes), kHeapLeakAllowance);
#endif
  EXPECT_EQ(f.archived, f.recipients);
  EXPECT_EQ(f.arrived.files, f.recipients);
  EXPECT_EQ(f.arrived.distinct, f.recipients);
  EXPECT_EQ(f.arrived.duplicates, 0);
  EXPECT_EQ(f.arrived.mismatched, 0);
  EXPECT_EQ(f.arrived.connections, 1);
}

}  // namespace
}  // namespace velkaro::testing
