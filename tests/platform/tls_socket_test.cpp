// TLS on the TCP stream against an OpenSSL server in a thread of this
// process on 127.0.0.1, with throwaway certificates made by
// tests/support/make_test_certs.sh and trusted through SSL_CERT_FILE.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "platform/posix_services.h"
#include "platform/test_platform.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using Ssl = std::unique_ptr<SSL, decltype(&SSL_free)>;

// The certificates of this test program: made once, before the first
// handshake, because the client reads its trust store only once.
const std::string& CertificateFolder() {
  static testing::TempDir* const dir = [] {
    auto* made = new testing::TempDir;
    const std::string command =
        "bash '" VELKARO_SOURCE_DIR "/tests/support/make_test_certs.sh' '" + made->path() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    ::setenv("SSL_CERT_FILE", made->File("ca.pem").c_str(), 1);
    return made;
  }();
  return dir->path();
}

// What `openssl x509 -fingerprint -sha256` says of a certificate.
std::string FingerprintOf(const std::string& certificate) {
  const std::string said =
      testing::RunCommand("openssl x509 -noout -fingerprint -sha256 -in '" + CertificateFolder() +
                              "/" + certificate + ".pem'",
                          "");
  const auto equals = said.find('=');
  if (equals == std::string::npos) return {};
  std::string hex = said.substr(equals + 1);
  while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
  return hex;
}

std::string LowerHexOf(const std::string& fingerprint) {
  std::string out;
  for (const char c : fingerprint) {
    if (c != ':') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

// One connection served by `serve` in a thread of its own; the listener is
// on 127.0.0.1 only. The thread never outlives the object, and every
// blocking call of a server is bounded by the socket time-outs.
class PeerThread {
 public:
  explicit PeerThread(std::function<void(int fd)> serve) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length) != 0 ||
        ::pipe(stop_) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this, serve = std::move(serve)] { Run(serve); });
  }
  ~PeerThread() {
    if (stop_[1] >= 0) (void)::write(stop_[1], "x", 1);
    if (thread_.joinable()) thread_.join();
    for (const int fd : {listener_, stop_[0], stop_[1]}) {
      if (fd >= 0) ::close(fd);
    }
  }
  int port() const { return port_; }

 private:
  void Run(const std::function<void(int)>& serve) {
    // Signals are the main thread's: a SIGCHLD of the openssl commands it
    // runs would break a blocking read here with EINTR, and a server write
    // to a client that has gone must not end the program with SIGPIPE.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    pollfd wait[2] = {{listener_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (::poll(wait, 2, 10000) <= 0 || (wait[0].revents & POLLIN) == 0) return;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return;
    const timeval patience{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    serve(fd);
    ::close(fd);
  }

  int listener_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;
};

// The server end of a handshake with one of the test certificates; null
// when the handshake failed (the client refused the certificate).
Ssl AcceptTls(int fd, const std::string& certificate, bool oldProtocolOnly = false) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (oldProtocolOnly) {
    SSL_CTX_set_security_level(context, 0);
    SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION);
  }
  const std::string base = CertificateFolder() + "/" + certificate;
  SSL_CTX_use_certificate_chain_file(context, (base + ".pem").c_str());
  SSL_CTX_use_PrivateKey_file(context, (base + ".key").c_str(), SSL_FILETYPE_PEM);
  Ssl ssl(SSL_new(context), SSL_free);
  SSL_CTX_free(context);  // the connection keeps its own reference
  SSL_set_fd(ssl.get(), fd);
  if (SSL_accept(ssl.get()) != 1) ssl.reset();
  return ssl;
}

void EchoUntilClosed(SSL* ssl) {
  char buffer[4096];
  int n;
  while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0) SSL_write(ssl, buffer, n);
}

void DrainUntilClosed(int fd) {
  char buffer[4096];
  while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
  }
}

std::unique_ptr<StreamSocket> Connected(TestPlatform& p, int port, const char* host = "127.0.0.1") {
  auto socket = posix::NewTcpSocket(p);
  if (!socket->Create() || !socket->Connect(host, port)) return nullptr;
  return socket;
}

TlsRequest RequestFor(const std::string& host, const std::string& trusted = {}) {
  TlsRequest request;
  request.hostName = host;
  request.trustedFingerprint = trusted;
  request.timeoutMs = 10000;
  return request;
}

// Reads through ReadableBytes/Receive, as the reply reader does, until
// `size` bytes have come, the peer closed or 10 s of 1 ms steps passed.
std::string ReadBytes(TestPlatform& p, StreamSocket& socket, std::size_t size) {
  std::string got;
  char buffer[1000];
  for (int idle = 0; got.size() < size && idle < 10000;) {
    int count = 0;
    if (!socket.ReadableBytes(count)) break;
    if (count == 0) {
      p.Sleep(1);
      ++idle;
      continue;
    }
    const int n = socket.Receive(buffer, std::min<int>(count, sizeof buffer));
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// True once ReadableBytes reports the connection gone (within 10 s).
bool SeesPeerGone(TestPlatform& p, StreamSocket& socket) {
  for (int i = 0; i < 10000; ++i) {
    int count = 0;
    if (!socket.ReadableBytes(count)) return true;
    if (count > 0) return false;  // bytes the test did not expect
    p.Sleep(1);
  }
  return false;
}

class TlsSocket : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { CertificateFolder(); }
  TlsSocket() { platform.SetRealSleep(true); }
  TestPlatform platform;
};

struct CertificateCase {
  const char* name;
  const char* certificate;  // the one the server shows
  const char* hostName;     // what the client asks for
  TlsOutcome::Status status;
  CertProblem problem;
};

TEST_F(TlsSocket, ChecksTheCertificateAgainstTheTrustStoreAndTheName) {
  const CertificateCase cases[] = {
      {"valid, by name", "valid", "localhost", TlsOutcome::Ok, CertProblem::None},
      {"valid, by address", "valid", "127.0.0.1", TlsOutcome::Ok, CertProblem::None},
      {"expired", "expired", "localhost", TlsOutcome::Untrusted, CertProblem::Expired},
      {"not yet valid", "notyet", "localhost", TlsOutcome::Untrusted, CertProblem::NotYetValid},
      {"other name", "wronghost", "localhost", TlsOutcome::Untrusted, CertProblem::WrongHost},
      {"other address", "wronghost", "127.0.0.1", TlsOutcome::Untrusted, CertProblem::WrongHost},
      // OpenSSL finds a lone self-signed certificate with no issuer in the
      // store as "self-signed certificate" (depth zero).
      {"self-signed", "selfsigned", "localhost", TlsOutcome::Untrusted, CertProblem::SelfSigned},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeerThread server([&](int fd) {
      if (Ssl ssl = AcceptTls(fd, c.certificate)) EchoUntilClosed(ssl.get());
    });
    const auto socket = Connected(platform, server.port());
    ASSERT_NE(socket, nullptr);
    const TlsOutcome outcome = socket->StartTls(RequestFor(c.hostName));
    EXPECT_EQ(outcome.status, c.status) << outcome.detail;
    EXPECT_EQ(outcome.problem, c.problem) << outcome.detail;
    EXPECT_EQ(outcome.fingerprint, FingerprintOf(c.certificate));
    EXPECT_EQ(socket->TlsActive(), c.status == TlsOutcome::Ok);
    if (c.status != TlsOutcome::Ok) {
      EXPECT_FALSE(outcome.detail.empty());
      // Half-way into TLS the plain stream means nothing: all I/O fails.
      int count = 0;
      EXPECT_FALSE(socket->ReadableBytes(count));
      EXPECT_LE(socket->Send("QUIT\r\n", 6), 0);
      continue;
    }
    EXPECT_EQ(socket->Send("NOOP\r\n", 6), 6);
    EXPECT_EQ(ReadBytes(platform, *socket, 6), "NOOP\r\n");
    socket->Close();
  }
}

struct TrustCase {
  const char* name;
  const char* certificate;
  const char* trustedAs;  // whose fingerprint the client trusts
  TlsOutcome::Status status;
};

TEST_F(TlsSocket, AcceptsACertificateThatFailsOnlyWhenItIsTheTrustedOne) {
  const TrustCase cases[] = {
      {"self-signed, trusted", "selfsigned", "selfsigned", TlsOutcome::Ok},
      {"expired, trusted", "expired", "expired", TlsOutcome::Ok},
      {"other name, trusted", "wronghost", "wronghost", TlsOutcome::Ok},
      {"self-signed, another one trusted", "selfsigned", "valid", TlsOutcome::Untrusted},
      {"expired, another one trusted", "expired", "wronghost", TlsOutcome::Untrusted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeerThread server([&](int fd) {
      if (Ssl ssl = AcceptTls(fd, c.certificate)) EchoUntilClosed(ssl.get());
    });
    const auto socket = Connected(platform, server.port());
    ASSERT_NE(socket, nullptr);
    const std::string trusted = LowerHexOf(FingerprintOf(c.trustedAs));
    ASSERT_EQ(trusted.size(), 64u);
    const TlsOutcome outcome = socket->StartTls(RequestFor("localhost", trusted));
    EXPECT_EQ(outcome.status, c.status) << outcome.detail;
    EXPECT_EQ(outcome.fingerprint, FingerprintOf(c.certificate));
    if (c.status == TlsOutcome::Ok) {
      EXPECT_EQ(socket->Send("NOOP\r\n", 6), 6);
      EXPECT_EQ(ReadBytes(platform, *socket, 6), "NOOP\r\n");
    }
    socket->Close();
  }
}

TEST_F(TlsSocket, CarriesAMegabyteOutAndAManyRecordReplyBack) {
  std::string payload(1 << 20, '\0');
  std::mt19937 random(11);
  for (auto& c : payload) c = static_cast<char>(random());
  std::string reply;
  for (int i = 0; reply.size() < 200000; ++i) reply += "250-line " + std::to_string(i) + "\r\n";
  std::promise<std::string> received;
  PeerThread server([&](int fd) {
    Ssl ssl = AcceptTls(fd, "valid");
    std::string got;
    char buffer[16384];
    while (ssl && got.size() < payload.size()) {
      const int n = SSL_read(ssl.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    received.set_value(got);
    // Written in small pieces, each its own record.
    for (std::size_t at = 0; ssl && at < reply.size(); at += 1000) {
      const int piece = static_cast<int>(std::min<std::size_t>(1000, reply.size() - at));
      if (SSL_write(ssl.get(), reply.data() + at, piece) != piece) break;
    }
    if (ssl) EchoUntilClosed(ssl.get());
  });
  const auto socket = Connected(platform, server.port());
  ASSERT_NE(socket, nullptr);
  ASSERT_EQ(socket->StartTls(RequestFor("localhost")).status, TlsOutcome::Ok);
  EXPECT_EQ(socket->Send(payload.data(), static_cast<int>(payload.size())),
            static_cast<int>(payload.size()));
  auto arrived = received.get_future();
  ASSERT_EQ(arrived.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_TRUE(arrived.get() == payload);
  EXPECT_TRUE(ReadBytes(platform, *socket, reply.size()) == reply);
  socket->Close();
}

struct ClosingCase {
  const char* name;
  bool closeNotify;  // the server says goodbye in TLS before hanging up
};

TEST_F(TlsSocket, APeerThatClosedIsSeenOnceItsLastBytesAreRead) {
  for (const ClosingCase c : {ClosingCase{"close_notify", true}, ClosingCase{"bare FIN", false}}) {
    SCOPED_TRACE(c.name);
    PeerThread server([&](int fd) {
      Ssl ssl = AcceptTls(fd, "valid");
      if (!ssl) return;
      SSL_write(ssl.get(), "221 bye\r\n", 9);
      if (c.closeNotify) SSL_shutdown(ssl.get());
    });
    const auto socket = Connected(platform, server.port());
    ASSERT_NE(socket, nullptr);
    ASSERT_EQ(socket->StartTls(RequestFor("localhost")).status, TlsOutcome::Ok);
    EXPECT_EQ(ReadBytes(platform, *socket, 9), "221 bye\r\n");
    EXPECT_TRUE(SeesPeerGone(platform, *socket));
    char byte;
    EXPECT_EQ(socket->Receive(&byte, 1), 0);
    // Sending to the gone peer fails without a SIGPIPE ending the program.
    const std::string line(1000, 'x');
    int result = 1;
    for (int i = 0; i < 5 && result > 0; ++i) {
      result = socket->Send(line.data(), 1000);
      platform.Sleep(5);
    }
    EXPECT_LE(result, 0);
    socket->Close();  // a close_notify to nobody must not raise SIGPIPE either
    EXPECT_FALSE(socket->IsOpen());
  }
}

struct FailingPeer {
  const char* name;
  std::function<void(int fd)> serve;
};

TEST_F(TlsSocket, APeerThatCannotDoTlsFailsTheHandshakeWithTheLibrarysReason) {
  const FailingPeer cases[] = {
      {"greets in plain text first",
       [](int fd) {
         (void)::send(fd, "220 hello\r\n", 11, 0);
         DrainUntilClosed(fd);
       }},
      {"answers the hello in plain text",
       [](int fd) {
         char hello[512];
         (void)::recv(fd, hello, sizeof hello, 0);
         (void)::send(fd, "220 hello\r\n", 11, 0);
         DrainUntilClosed(fd);
       }},
      {"hangs up after the hello",
       [](int fd) {
         char hello[512];
         (void)::recv(fd, hello, sizeof hello, 0);
       }},
      {"speaks TLS 1.1 at most",
       [](int fd) {
         AcceptTls(fd, "valid", true);
         DrainUntilClosed(fd);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeerThread server(c.serve);
    const auto socket = Connected(platform, server.port());
    ASSERT_NE(socket, nullptr);
    // Give a greeting time to arrive before the handshake starts.
    platform.Sleep(20);
    const TlsOutcome outcome = socket->StartTls(RequestFor("localhost"));
    EXPECT_EQ(outcome.status, TlsOutcome::HandshakeFailed);
    EXPECT_FALSE(outcome.detail.empty());
    EXPECT_NE(outcome.detail, "timed out");
    EXPECT_TRUE(outcome.fingerprint.empty());
    EXPECT_FALSE(socket->TlsActive());
    socket->Close();
  }
}

// A server that takes the connection and never answers the hello. The
// handshake's time-out counts 1 ms wait steps on the platform's clock, so
// it needs no real time.
TEST(TlsSocketWaits, ASilentPeerTimesOutAndTheStopRequestEndsTheWait) {
  CertificateFolder();
  TestPlatform p;
  {
    PeerThread server(DrainUntilClosed);
    const auto socket = Connected(p, server.port());
    ASSERT_NE(socket, nullptr);
    TlsRequest request = RequestFor("localhost");
    request.timeoutMs = 50;
    const long long before = p.VirtualMs();
    const TlsOutcome outcome = socket->StartTls(request);
    EXPECT_EQ(outcome.status, TlsOutcome::HandshakeFailed);
    EXPECT_EQ(outcome.detail, "timed out");
    EXPECT_EQ(p.VirtualMs() - before, 50);
    EXPECT_GE(p.PumpCount(), 50);
  }
  {
    PeerThread server(DrainUntilClosed);
    const auto socket = Connected(p, server.port());
    ASSERT_NE(socket, nullptr);
    TlsRequest request = RequestFor("localhost");
    int asked = 0;
    request.cancelled = [&] { return ++asked == 3; };
    const long long before = p.VirtualMs();
    EXPECT_EQ(socket->StartTls(request).status, TlsOutcome::Cancelled);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(p.VirtualMs() - before, 2);
  }
}

}  // namespace
}  // namespace velkaro
