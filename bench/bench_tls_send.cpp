// The cost of TLS on the paced data phase: 10 MB of Base64 text handed to
// SmtpStringSend2 at speed 100, once over a plain socket and once over a
// TLS socket, each to a sink thread of this process on 127.0.0.1 that only
// reads. Runs alternate (plain, TLS, plain, …) so that a busy moment of the
// machine hits both. Prints:
//  - wall time TLS / plain (goal <= 1.15): what encryption adds to a run
//    that is mostly its own pacing;
//  - CPU time / wall time of the TLS runs, the sending thread only
//    (goal <= 0.15), so that a wait that spins, or records too small to
//    pay for their encryption, show up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "mail/mail_connection.h"
#include "platform/posix_services.h"
#include "platform/test_platform.h"
#include "sample_text.h"
#include "support/test_support.h"

namespace {

constexpr std::size_t kTextSize = 10u * 1024 * 1024;
constexpr int kSpeed = 100;
constexpr int kRunsEach = 3;
constexpr double kWallGoal = 1.15;
constexpr double kCpuGoal = 0.15;

using velkaro::bench::Base64Text;

double ThreadCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Takes one connection on 127.0.0.1 and reads everything it sends, in TLS
// with `certificateBase` (.pem/.key) when that is not empty.
class Sink {
 public:
  explicit Sink(const std::string& certificateBase) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener_, 1);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, certificateBase] { Serve(certificateBase); });
  }
  ~Sink() {
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }

 private:
  void Serve(const std::string& certificateBase) {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    char buffer[65536];
    if (certificateBase.empty()) {
      while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
      }
    } else {
      SSL_CTX* context = SSL_CTX_new(TLS_server_method());
      SSL_CTX_use_certificate_chain_file(context, (certificateBase + ".pem").c_str());
      SSL_CTX_use_PrivateKey_file(context, (certificateBase + ".key").c_str(), SSL_FILETYPE_PEM);
      SSL* ssl = SSL_new(context);
      SSL_set_fd(ssl, fd);
      // After the handshake the ciphertext is drained unread: decrypting a
      // small record per piece would make the sink, which shares this
      // machine's processors, what is measured. A real server runs elsewhere.
      if (SSL_accept(ssl) == 1) {
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
      }
      SSL_free(ssl);
      SSL_CTX_free(context);
    }
    ::close(fd);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

struct Figures {
  double wall = 0;
  double cpu = 0;
  long long waitedMs = 0;  // 1 ms steps slept: the pacing's and the full socket's
};

// One paced send of `text` to a sink; TLS when `certificateBase` is set.
Figures PacedRun(const std::string& text, const std::string& certificateBase) {
  velkaro::TestPlatform platform;
  velkaro::ScopedPlatform scope(platform);
  platform.SetRealSleep(true);
  Sink sink(certificateBase);
  velkaro::MailConnection m;
  m.SetSpeed(kSpeed);
  m.smtpSocket = velkaro::posix::NewTcpSocket(platform);
  if (!m.smtpSocket->Create() || !m.smtpSocket->Connect("127.0.0.1", sink.port())) {
    std::fprintf(stderr, "bench_tls_send: cannot connect to the sink\n");
    std::exit(1);
  }
  if (!certificateBase.empty()) {
    velkaro::TlsRequest request;
    request.hostName = "localhost";
    const velkaro::TlsOutcome outcome = m.smtpSocket->StartTls(request);
    if (outcome.status != velkaro::TlsOutcome::Ok) {
      std::fprintf(stderr, "bench_tls_send: handshake failed: %s\n", outcome.detail.c_str());
      std::exit(1);
    }
  }
  const long long virtualStart = platform.VirtualMs();
  const double cpuStart = ThreadCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  const int result = m.SmtpStringSend2(1, text);
  Figures figures;
  figures.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.cpu = ThreadCpuSeconds() - cpuStart;
  figures.waitedMs = platform.VirtualMs() - virtualStart;
  if (result != 0) {
    std::fprintf(stderr, "bench_tls_send: SmtpStringSend2 returned %d\n", result);
    std::exit(1);
  }
  m.smtpSocket->Close();
  return figures;
}

void PrintRatio(const char* what, double ratio, double goal) {
  std::printf("  %s = %.3f (goal <= %.2f)%s\n", what, ratio, goal,
              ratio <= goal ? "" : "  ABOVE GOAL");
}

}  // namespace

int main() {
  velkaro::testing::TempDir certificates;
  const std::string make = "bash '" VELKARO_SOURCE_DIR "/tests/support/make_test_certs.sh' '" +
                           certificates.path() + "'";
  if (std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "bench_tls_send: cannot make the test certificates\n");
    return 1;
  }
  // Read by the client context on its first handshake.
  ::setenv("SSL_CERT_FILE", certificates.File("ca.pem").c_str(), 1);

  const std::string text = Base64Text(kTextSize);
  Figures plain, tls;
  for (int i = 0; i < kRunsEach; ++i) {
    const Figures p = PacedRun(text, "");
    const Figures t = PacedRun(text, certificates.File("valid"));
    std::printf(
        "run %d: plain %.0f ms wall, %.0f ms CPU, %lld sleeps; "
        "TLS %.0f ms wall, %.0f ms CPU, %lld sleeps\n",
        i + 1, p.wall * 1e3, p.cpu * 1e3, p.waitedMs, t.wall * 1e3, t.cpu * 1e3, t.waitedMs);
    plain.wall += p.wall;
    plain.cpu += p.cpu;
    tls.wall += t.wall;
    tls.cpu += t.cpu;
  }
  std::printf("\n10 MB Base64 at speed %d, %d runs each:\n", kSpeed, kRunsEach);
  PrintRatio("wall time TLS / plain", tls.wall / plain.wall, kWallGoal);
  PrintRatio("TLS run: CPU time / wall time (sending thread)", tls.cpu / tls.wall, kCpuGoal);
  std::printf("  (plain run: CPU time / wall time = %.3f)\n", plain.cpu / plain.wall);
  return 0;
}
