// Peak memory of a send run of 1,000 mails, each with a personal attachment
// of 100 KB (a file per recipient, named by their registered name, no two
// alike), to a local aiosmtpd. A file is read when its mail goes out and let
// go after it, so the run's memory must not grow with the number of
// recipients: the run's peak growth over the same run without attachments
// is set against the Base64 size of the largest single attachment.
//
// The run is the real SendJob over real TCP, driven by the test platform so
// that its designed waits (a few hundred milliseconds a mail) take no time,
// as in the soak test. Each run goes in a process of its own, forked from a
// small parent, and its peak is read from the kernel (VmHWM, reset first
// through /proc/self/clear_refs) after one warming mail.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "core/encoding.h"
#include "job/send_job.h"
#include "peers/peer_process.h"
#include "platform/posix_services.h"
#include "platform/test_platform.h"
#include "support/test_support.h"

namespace {

// 1,000 unless the first argument names another number.
int gRecipients = 1000;
constexpr std::size_t kAttachmentBytes = 100 * 1024;
constexpr int kRepeats = 3;

// The real TCP socket, except that a read finding nothing waits a little in
// real time before it says so: the reply time-out runs on the test
// platform's virtual clock, which must only move on while the receiver
// really is silent.
class PatientSocket final : public velkaro::StreamSocket {
 public:
  explicit PatientSocket(std::unique_ptr<velkaro::StreamSocket> inner) : inner_(std::move(inner)) {}
  bool Create() override { return inner_->Create(); }
  bool Connect(const std::string& host, int port) override { return inner_->Connect(host, port); }
  int Send(const char* data, int length) override { return inner_->Send(data, length); }
  bool ReadableBytes(int& count) override {
    for (int i = 0; i < 400; ++i) {
      if (!inner_->ReadableBytes(count)) return false;
      if (count > 0) return true;
      ::usleep(50);
    }
    return true;
  }
  int Receive(char* buffer, int capacity) override { return inner_->Receive(buffer, capacity); }
  bool HungUp() override { return inner_->HungUp(); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }

 private:
  std::unique_ptr<velkaro::StreamSocket> inner_;
};

// The platform's records of status texts are the benchmark's, not the
// run's: dropped now and then so they do not count as the run's memory.
class RecordTrimmer : public velkaro::SendJobView {
 public:
  explicit RecordTrimmer(velkaro::TestPlatform& platform) : platform_(platform) {}
  void JobChanged() override {
    if (platform_.StatusTexts().size() > 100) platform_.ClearRecords();
  }

 private:
  velkaro::TestPlatform& platform_;
};

std::string Regist(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", n);
  return "会員" + std::string(text);
}

std::string RecipientLines() {
  std::string lines;
  for (int n = 1; n <= gRecipients; ++n) {
    lines += velkaro::Utf8ToSjis("よみ\t" + Regist(n) + "\t宛先 " + std::to_string(n) + "\tuser" +
                                 std::to_string(n) + "@example.jp\t\t\t\t\t\t\r\n");
  }
  return lines;
}

// One file per recipient under FOLDER, named by the registered name.
void WritePersonalFiles(const std::string& folder) {
  std::filesystem::create_directories(folder);
  std::mt19937 rng(11);
  std::string bytes(kAttachmentBytes, '\0');
  for (int n = 1; n <= gRecipients; ++n) {
    for (auto& c : bytes) c = static_cast<char>(rng());
    velkaro::testing::WriteBytes(folder + "/" + Regist(n) + ".pdf", bytes);
  }
}

long StatusKb(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::string(key).size()));
  }
  return -1;
}

// The run itself, in the forked child: returns its result code and sets
// the peak memory growth in bytes.
int RunJob(const std::string& home, int port, const std::string& personalFolder, long& growth) {
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  platform.SetProgramFolder(home);
  platform.SetSocketFactory(
      [&] { return std::make_unique<PatientSocket>(velkaro::posix::NewTcpSocket(platform)); });
  velkaro::Settings settings;
  velkaro::SetFieldText(settings.record.server.smtpServer, "127.0.0.1");
  settings.record.server.smtpPort = port;
  velkaro::SetFieldText(settings.record.server.popServer, "");
  velkaro::SetFieldText(settings.record.server.senderAddress, "from@example.jp");
  settings.record.speed = 100;
  for (auto& on : settings.record.soundOn) on = 0;
  auto job = std::make_unique<velkaro::SendJob>(settings);
  RecordTrimmer trimmer(platform);
  job->SetView(&trimmer);
  job->bodyText =
      velkaro::Utf8ToSjis("((name))様へのご請求書\r\n((name))様\r\n請求書をお送りします。\r\n");
  job->recipientLines = RecipientLines();
  if (!personalFolder.empty()) job->attachments.push_back({"((regist)).pdf", personalFolder});

  // One mail first, the same way: the program's own code and tables for
  // attachments (Base64, media types, part headers) are paged in the first
  // time they run. Those pages are the same for any attachment size and any
  // number of mails, so they are not what this run is measured for.
  const std::string all = job->recipientLines;
  job->recipientLines = all.substr(0, all.find("\r\n") + 2);
  if (const int warm = job->RunSendJob(); warm != 0) return warm;
  job->recipientLines = all;

  std::ofstream("/proc/self/clear_refs") << "5";  // VmHWM := VmRSS
  const long before = StatusKb("VmRSS:");
  const int result = job->RunSendJob();
  growth = (StatusKb("VmHWM:") - before) * 1024;
  return result;
}

// Forks, runs the job in the child and returns its peak growth (-1 when
// the run failed).
long GrowthOfRun(const std::string& home, int port, const std::string& personalFolder) {
  int channel[2];
  if (::pipe(channel) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    long growth = -1;
    const int result = RunJob(home, port, personalFolder, growth);
    const long report[2] = {result, growth};
    const bool written = ::write(channel[1], report, sizeof report) == sizeof report;
    ::_exit(written ? 0 : 1);
  }
  ::close(channel[1]);
  long report[2] = {-1, -1};
  const bool read = ::read(channel[0], report, sizeof report) == sizeof report;
  ::close(channel[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!read || report[0] != 0) {
    std::fprintf(stderr, "run failed: result %ld, status %d\n", report[0], status);
    return -1;
  }
  return report[1];
}

std::size_t StoredMails(const std::string& folder) {
  std::size_t count = 0;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    if (entry.path().extension() == ".eml") ++count;
  }
  return count;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::atoi(argv[1]) > 0) gRecipients = std::atoi(argv[1]);
  velkaro::testing::TempDir dir;
  velkaro::testing::PeerProcess receiver;
  if (!receiver.Start({"/usr/bin/python3", VELKARO_SOURCE_DIR "/tests/peers/smtp_receiver.py",
                       dir.File("received")},
                      dir.File("receiver.log"), 10000)) {
    std::fprintf(stderr, "cannot start the receiver: %s\n", receiver.error().c_str());
    return 1;
  }
  const std::string home = dir.File("home");
  std::filesystem::create_directories(home);
  const std::string personal = dir.File("請求書");
  WritePersonalFiles(personal);

  // The allocator's choices move a peak by a few hundred KB between equal
  // runs: each run is taken three times and its lowest peak counts.
  long without = -1;
  long with = -1;
  double withoutSeconds = 0;
  double withSeconds = 0;
  for (int i = 0; i < kRepeats; ++i) {
    auto start = std::chrono::steady_clock::now();
    const long plain = GrowthOfRun(home, receiver.port(), "");
    withoutSeconds += SecondsSince(start) / kRepeats;
    start = std::chrono::steady_clock::now();
    const long attached = GrowthOfRun(home, receiver.port(), personal);
    withSeconds += SecondsSince(start) / kRepeats;
    if (plain < 0 || attached < 0) return 1;
    without = without < 0 ? plain : std::min(without, plain);
    with = with < 0 ? attached : std::min(with, attached);
  }
  const std::size_t stored = StoredMails(dir.File("received"));
  // Every run sends its warming mail too.
  const std::size_t sent = 2u * kRepeats * static_cast<std::size_t>(gRecipients + 1);
  if (stored != sent) {
    std::fprintf(stderr, "the runs did not send every mail (%zu stored of %zu)\n", stored, sent);
    return 1;
  }
  const double base64 = 4.0 * ((kAttachmentBytes + 2) / 3);
  std::printf(
      "%d recipients, a personal 100 KB attachment each: peak growth %.0f KB (%.0f s a run); "
      "without attachments %.0f KB (%.0f s); Base64 of one attachment %.0f KB\n",
      gRecipients, with / 1024.0, withSeconds, without / 1024.0, withoutSeconds, base64 / 1024.0);
  std::printf(
      "  peak memory growth / Base64 size of the largest attachment = %.2f (goal <= 2.50)\n",
      static_cast<double>(with - without) / base64);
  return 0;
}
