// TCP stream socket on POSIX sockets. Connecting and sending never block the
// user-interface thread for long: both wait in 1 ms sleep-and-pump steps, so
// timers and the stop button keep working while a slow server is reached.
// After StartTls every byte goes through the TLS session instead.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/posix_services.h"
#include "platform/tls_session.h"

namespace velkaro::posix {
namespace {

// The numeric form of an address, without brackets or zone; an IPv4 address
// mapped into IPv6 is shown as the IPv4 address it is.
std::string NumericAddress(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
      ::inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
    } else {
      ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
  }
  return text;
}

bool IsLoopback(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    return (ntohl(v4.sin_addr.s_addr) >> 24) == 127;
  }
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    return IN6_IS_ADDR_LOOPBACK(&v6.sin6_addr) ||
           (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr) && v6.sin6_addr.s6_addr[12] == 127);
  }
  return false;
}

class TcpSocket final : public StreamSocket {
 public:
  TcpSocket(Platform& platform, int connectTimeoutMs)
      : platform_(platform), connectTimeoutMs_(connectTimeoutMs) {}
  ~TcpSocket() override { Close(); }

  bool Create() override {
    created_ = true;
    return true;
  }

  bool Connect(const std::string& host, int port) override {
    if (!created_ || fd_ >= 0) return false;
    // getaddrinfo takes a numeric service modulo 65536 (70000 would be
    // port 4464), so a port out of range must never reach it.
    if (port < 1 || port > 65535) return false;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0) {
      return false;
    }
    // A name may stand for several addresses ("localhost" for ::1 and
    // 127.0.0.1); they share one time-out, so the user waits no longer for
    // a name with many addresses than for one.
    connectWaited_ = 0;
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
      if (ConnectTo(*ai)) break;
    }
    ::freeaddrinfo(list);
    if (fd_ >= 0) host_ = host;
    return fd_ >= 0;
  }

  int Send(const char* data, int length) override {
    if (tls_ && gathering_ && length >= 0) {
      held_.append(data, static_cast<std::size_t>(length));
      if (held_.size() >= kRecordSize && !Flush()) return -1;
      return length;
    }
    if (tls_) return tls_->Send(data, length);
    if (fd_ < 0 || length < 0 || tlsFailed_) return -1;
    int sent = 0;
    int waited = 0;
    while (sent < length) {
      const ssize_t n =
          ::send(fd_, data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<int>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waited < kSendTimeoutMs) {
        WaitStep();
        ++waited;
        continue;
      }
      break;
    }
    return sent > 0 ? sent : -1;
  }

  // A reader waits for an answer to what was sent: nothing may stay held.
  bool ReadableBytes(int& count) override {
    count = 0;
    if (!held_.empty() && !Flush()) return false;
    if (tls_) return tls_->ReadableBytes(count);
    if (fd_ < 0 || tlsFailed_) return false;
    int available = 0;
    if (::ioctl(fd_, FIONREAD, &available) != 0) return false;
    if (available == 0 && PeerHasClosed()) return false;
    count = available;
    return true;
  }

  int Receive(char* buffer, int capacity) override {
    if (tls_) return tls_->Receive(buffer, capacity);
    if (fd_ < 0 || capacity <= 0 || tlsFailed_) return -1;
    ssize_t n;
    do {
      n = ::recv(fd_, buffer, static_cast<size_t>(capacity), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
  }

  void GatherSends(bool on) override { gathering_ = on; }

  bool Flush() override {
    if (held_.empty()) return true;
    std::string bytes;
    bytes.swap(held_);
    const int size = static_cast<int>(bytes.size());
    for (int done = 0; done < size;) {
      const int n = tls_ ? tls_->Send(bytes.data() + done, size - done) : -1;
      if (n <= 0) return false;
      done += n;
    }
    return true;
  }

  void Close() override {
    held_.clear();
    gathering_ = false;
    if (tls_) tls_->Shutdown();
    tls_.reset();
    tlsFailed_ = false;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool IsOpen() const override { return fd_ >= 0; }

  TlsOutcome StartTls(const TlsRequest& request) override {
    if (fd_ < 0 || tls_ || tlsFailed_) return {};
    TlsRequest checked = request;
    // Without a name of its own the certificate is checked against the
    // host the connection was made to, never against nothing.
    if (checked.hostName.empty()) checked.hostName = host_;
    TlsOutcome outcome;
    tls_ = TlsSession::Handshake(
        fd_, checked, [this] { WaitStep(); }, outcome);
    // The stream is somewhere inside a handshake now: plain bytes would be
    // meaningless, so the socket only fails until it is closed.
    tlsFailed_ = tls_ == nullptr;
    return outcome;
  }

  bool TlsActive() const override { return tls_ != nullptr; }

  std::string LocalAddress() const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return {};
    }
    return NumericAddress(address);
  }

  bool PeerIsLoopback() const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return fd_ >= 0 && ::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
           IsLoopback(address);
  }

 private:
  void WaitStep() {
    platform_.Sleep(1);
    platform_.Pump();
  }

  // A closed connection reads as "nothing readable" forever; telling it
  // apart lets the reply reader give up at once instead of at its time-out.
  bool PeerHasClosed() {
    char probe;
    const ssize_t n = ::recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) return true;
    return n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR;
  }

  bool ConnectTo(const addrinfo& ai) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return false;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) == 0 || AwaitConnect(fd)) {
      NoDelay(fd);
      fd_ = fd;
      return true;
    }
    ::close(fd);
    return false;
  }

  // The dialogue is lock-step: every command, and the end of a mail's
  // data, is a short write the peer answers before anything else is sent.
  // Nagle's algorithm would hold such a write back until the peer has
  // acknowledged the bytes before it, and a peer with nothing to say yet
  // delays its acknowledgement (40 ms on Linux, up to 200 ms elsewhere), so
  // every mail would wait that long after its data. The paced data phase,
  // too, wants its small pieces on the wire as they are written. Should the
  // option be refused, the connection only stays slower.
  static void NoDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }

  // Each address is looked at once even when the time-out is spent, so a
  // refused first address leaves the next one its chance.
  bool AwaitConnect(int fd) {
    if (errno != EINPROGRESS) return false;
    for (;;) {
      pollfd p{fd, POLLOUT, 0};
      const int ready = ::poll(&p, 1, 0);
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0) {
        int error = 0;
        socklen_t len = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
        return error == 0;
      }
      if (connectWaited_ >= connectTimeoutMs_) return false;
      WaitStep();
      ++connectWaited_;
    }
  }

  // The largest plaintext of one TLS record (RFC 8446 5.1).
  static constexpr std::size_t kRecordSize = 16384;

  Platform& platform_;
  bool gathering_ = false;
  std::string held_;
  int connectTimeoutMs_;
  int connectWaited_ = 0;  // wait steps of the current Connect, all addresses
  bool created_ = false;
  int fd_ = -1;
  std::string host_;  // as given to Connect
  std::unique_ptr<TlsSession> tls_;
  bool tlsFailed_ = false;
};

}  // namespace

std::unique_ptr<StreamSocket> NewTcpSocket(Platform& platform, int connectTimeoutMs) {
  return std::make_unique<TcpSocket>(platform, connectTimeoutMs);
}

}  // namespace velkaro::posix
