// Sending to a local SMTP receiver (aiosmtpd on 127.0.0.1) through the real
// TCP socket with real 1 ms sleeps:
//
//  - BM_PacedAttachment10MB: a 10 MB Base64 attachment text handed to
//    SmtpStringSend2 in mode 1 at speed 100. The pacing alone takes one 1 ms
//    sleep per 101 pieces of 64 characters; the ratio printed is the wall
//    time over that bound (goal <= 1.10): what the sending costs on top of
//    its own pacing.
//  - BM_TwentyMailsOneConnection: SmtpOpen, 20 mails with SendOneMail and
//    SmtpQuit. Nearly all of it is waiting (pauses between header lines,
//    reply polling); the ratio printed is this process's CPU time over the
//    wall time (goal <= 0.10), so a wait that spins shows up. The receiver's
//    CPU time is not counted.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "mail/mail_connection.h"
#include "platform/test_platform.h"
#include "sample_text.h"

extern char** environ;

namespace {

using velkaro::MailConnection;

constexpr std::size_t kAttachmentTextSize = 10u * 1024 * 1024;
constexpr int kPieceSize = 64;
constexpr int kSpeed = 100;
constexpr int kMailsPerRun = 20;
constexpr double kPacingGoal = 1.10;
constexpr double kCpuGoal = 0.10;

std::string SourceDir() {
  if (const char* dir = std::getenv("VELKARO_SOURCE_DIR")) return dir;
  return std::filesystem::path(__FILE__).parent_path().parent_path().string();
}

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench_send: %s\n", what.c_str());
  std::exit(1);
}

// The receiver of tests/peers, started once for the program in a process
// group of its own and stopped by its id when the program ends.
class Receiver {
 public:
  Receiver() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velkaro-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) Fail("cannot create a temporary folder");
    folder_ = pattern;
    Start();
  }
  ~Receiver() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;
  int port() const { return port_; }

 private:
  void Start() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) Fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::string python = "/usr/bin/python3";
    std::string script = SourceDir() + "/tests/peers/smtp_receiver.py";
    std::string store = folder_ + "/received";
    char* argv[] = {python.data(), script.data(), store.data(), nullptr};
    const int rc = ::posix_spawn(&pid_, argv[0], &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    output_ = ends[0];
    if (rc != 0) {
      pid_ = -1;
      Fail("cannot start " + script);
    }
    // The port line, with a time-out.
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      if (left <= 0) Fail("the receiver printed no port");
      pollfd p{output_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
      char buffer[64];
      const ssize_t n = ::read(output_, buffer, sizeof buffer);
      if (n == 0) Fail("the receiver exited (python3-aiosmtpd installed?)");
      if (n > 0) line.append(buffer, static_cast<std::size_t>(n));
    }
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) Fail("bad port line: " + line);
  }

  std::string folder_;
  pid_t pid_ = -1;
  int output_ = -1;
  int port_ = 0;
};

Receiver& TheReceiver() {
  static Receiver receiver;
  return receiver;
}

// The main form's part of the reply time-out (timer 220).
class ReplyTimeout : public velkaro::TimerTarget {
 public:
  void OnTimer(int id) override {
    if (id != MailConnection::kReplyTimerId) return;
    velkaro::CurrentPlatform().StopTimer(this, id);
    if (connection != nullptr) connection->replyWaiting = 0;
  }
  MailConnection* connection = nullptr;
};

// A platform whose sleeps really sleep, a connection to the receiver.
struct Session {
  Session() : scope(platform) {
    platform.SetRealSleep(true);
    velkaro::ServerSettings s = velkaro::DefaultServerSettings();
    velkaro::SetFieldText(s.smtpServer, "127.0.0.1");
    s.smtpPort = TheReceiver().port();
    velkaro::SetFieldText(s.senderName, velkaro::Utf8ToSjis("差出人 山田"));
    velkaro::SetFieldText(s.senderAddress, "sender@example.com");
    connection = std::make_unique<MailConnection>(&timeout);
    timeout.connection = connection.get();
    connection->SetServerSettings(s);
    connection->SetSpeed(kSpeed);
  }
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope;
  ReplyTimeout timeout;
  std::unique_ptr<MailConnection> connection;
};

double CpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Measured figures for the summary after the run: name -> sum over
// iterations.
std::map<std::string, double> totals;

using velkaro::bench::Base64Text;

// The sleeps the pacing itself must take: after piece 1 and then once per
// further speed + 1 pieces.
double PacingBoundSeconds(std::size_t textSize) {
  const std::size_t pieces = (textSize + kPieceSize - 1) / kPieceSize;
  const std::size_t sleeps = pieces == 0 ? 0 : (pieces - 1) / (kSpeed + 1) + 1;
  return static_cast<double>(sleeps) * 1e-3;
}

void BM_PacedAttachment10MB(benchmark::State& state) {
  const std::string text = Base64Text(kAttachmentTextSize);
  Session session;
  MailConnection& m = *session.connection;
  if (m.SmtpOpen() != 0) {
    state.SkipWithError("SmtpOpen failed");
    return;
  }
  m.recipientAddress = "suzuki@example.jp";
  for (auto _ : state) {
    if (m.SmtpSendEnvelope() != 0) {
      state.SkipWithError("envelope refused");
      break;
    }
    const auto start = std::chrono::steady_clock::now();
    const int result = m.SmtpStringSend2(1, text);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    totals["paced_wall"] += seconds;
    totals["paced_bound"] += PacingBoundSeconds(text.size());
    if (result != 0) {
      state.SkipWithError("SmtpStringSend2 failed");
      break;
    }
    if (m.SmtpEndData() != 0) {
      state.SkipWithError("end of data refused");
      break;
    }
  }
  m.SmtpQuit();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.counters["bound_ms"] = PacingBoundSeconds(text.size()) * 1e3;
  // For reading the figure: what the same number of bare 1 ms sleeps takes
  // on this machine (the operating system's part of the overhead).
  const int sleeps = static_cast<int>(PacingBoundSeconds(text.size()) * 1e3 + 0.5);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < sleeps; ++i) session.platform.Sleep(1);
  state.counters["sleeps_only_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
BENCHMARK(BM_PacedAttachment10MB)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_TwentyMailsOneConnection(benchmark::State& state) {
  std::string body;
  for (int i = 0; i < 40; ++i) {
    body +=
        velkaro::Utf8ToSjis("いつもお世話になっております。今月のご請求についてご案内します。\r\n");
  }
  for (auto _ : state) {
    Session session;
    MailConnection& m = *session.connection;
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    bool ok = m.SmtpOpen() == 0;
    for (int i = 0; ok && i < kMailsPerRun; ++i) {
      velkaro::MailRecord record;
      record.subject = velkaro::Utf8ToSjis("ご請求のご案内");
      record.body = body;
      record.recipientName = velkaro::Utf8ToSjis("受取人 鈴木");
      record.recipientAddress = "suzuki" + std::to_string(i) + "@example.jp";
      ok = m.SendOneMail(record) == 0;
      m.ResetProgress();
    }
    ok = m.SmtpQuit() == 0 && ok;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    state.SetIterationTime(wall);
    if (!ok) {
      state.SkipWithError("a mail was refused");
      break;
    }
    totals["mails_wall"] += wall;
    totals["mails_cpu"] += cpu;
    state.counters["cpu_per_wall"] = cpu / wall;
  }
}
BENCHMARK(BM_TwentyMailsOneConnection)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

void PrintRatio(const char* what, double ratio, double goal) {
  std::printf("  %s = %.3f (goal <= %.2f)%s\n", what, ratio, goal,
              ratio <= goal ? "" : "  ABOVE GOAL");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheReceiver();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("\nratios:\n");
  if (totals["paced_bound"] > 0) {
    PrintRatio("10 MB Base64 at speed 100: wall time / pacing bound",
               totals["paced_wall"] / totals["paced_bound"], kPacingGoal);
  } else {
    std::printf("  10 MB Base64 at speed 100: not measured\n");
  }
  if (totals["mails_wall"] > 0) {
    PrintRatio("20 mails over one connection: CPU time / wall time",
               totals["mails_cpu"] / totals["mails_wall"], kCpuGoal);
  } else {
    std::printf("  20 mails over one connection: not measured\n");
  }
  return 0;
}
