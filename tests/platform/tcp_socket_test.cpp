// The TCP stream against a listener on 127.0.0.1 in the same process.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix_services.h"
#include "platform/test_platform.h"

namespace velkaro {
namespace {

class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(fd_, 4);
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() {
    if (peer_ >= 0) ::close(peer_);
    ::close(fd_);
  }
  int port() const { return port_; }
  int Accept() { return peer_ = ::accept(fd_, nullptr, nullptr); }
  void ClosePeer() {
    ::close(peer_);
    peer_ = -1;
  }

 private:
  int fd_ = -1;
  int peer_ = -1;
  int port_ = 0;
};

// Polls like the reply reader does, until bytes are readable or it fails.
// A socket of `p` connected to `listener` by way of `host`, with the
// listener's end accepted (its descriptor in `peer`); null when any step
// failed.
std::unique_ptr<StreamSocket> ConnectedSocket(TestPlatform& p, Listener& listener, const char* host,
                                              int& peer) {
  auto socket = posix::NewTcpSocket(p);
  if (!socket->Create() || !socket->Connect(host, listener.port())) return nullptr;
  peer = listener.Accept();
  return peer >= 0 ? std::move(socket) : nullptr;
}

int AwaitReadable(TestPlatform& p, StreamSocket& s) {
  int count = 0;
  for (int i = 0; i < 2000; ++i) {
    if (!s.ReadableBytes(count)) return -1;
    if (count > 0) return count;
    p.Sleep(1);
  }
  return 0;
}

TEST(TcpSocket, ExchangesBytesWithAServer) {
  TestPlatform p;
  p.SetRealSleep(true);
  Listener listener;
  int peer = -1;
  const auto socket = ConnectedSocket(p, listener, "127.0.0.1", peer);
  ASSERT_NE(socket, nullptr);
  EXPECT_TRUE(socket->IsOpen());
  ASSERT_EQ(::send(peer, "220 hi\r\n", 8, 0), 8);
  EXPECT_EQ(AwaitReadable(p, *socket), 8);
  char buffer[16] = {};
  EXPECT_EQ(socket->Receive(buffer, sizeof buffer), 8);
  EXPECT_EQ(std::string(buffer, 8), "220 hi\r\n");
  EXPECT_EQ(socket->Send("EHLO localhost\r\n", 16), 16);
  char got[32] = {};
  EXPECT_EQ(::recv(peer, got, sizeof got, 0), 16);
  socket->Close();
  EXPECT_FALSE(socket->IsOpen());
  int count = 0;
  EXPECT_FALSE(socket->ReadableBytes(count));
}

TEST(TcpSocket, AClosedPeerFailsQueriesAndSendsWithoutASignal) {
  TestPlatform p;
  p.SetRealSleep(true);
  Listener listener;
  int peer = -1;
  const auto socket = ConnectedSocket(p, listener, "localhost", peer);
  ASSERT_NE(socket, nullptr);
  listener.ClosePeer();
  EXPECT_EQ(AwaitReadable(p, *socket), -1);
  // The first send after the peer closed may still be accepted locally;
  // the next ones fail. The process must survive both (no SIGPIPE).
  const std::string line(1000, 'x');
  int result = 1;
  for (int i = 0; i < 5 && result > 0; ++i) result = socket->Send(line.data(), 1000);
  EXPECT_LE(result, 0);
}

// The descriptor of this process whose peer is 127.0.0.1:`port` and whose
// own port is not `port` (that one is the listener's accepted end), or -1.
int ClientDescriptorTo(int port) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename().string());
    sockaddr_in peer{}, self{};
    socklen_t peerLength = sizeof peer, selfLength = sizeof self;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfLength) != 0) continue;
    if (peer.sin_family == AF_INET && ntohs(peer.sin_port) == port &&
        ntohs(self.sin_port) != port) {
      return fd;
    }
  }
  return -1;
}

// The dialogue is lock-step: the end of a mail's data (and every command)
// is a short write the peer must see before it answers. Nagle's algorithm
// would hold such a write back until the peer has acknowledged the pieces
// before it, and a peer that has nothing to say yet delays that
// acknowledgement (40 ms on Linux, up to 200 ms elsewhere): every mail of a
// run would wait that long. So every connection has TCP_NODELAY set.
TEST(TcpSocket, ShortWritesAreNotHeldBackForThePeersAcknowledgement) {
  TestPlatform p;
  p.SetRealSleep(true);
  Listener listener;
  int peer = -1;
  const auto socket = ConnectedSocket(p, listener, "127.0.0.1", peer);
  ASSERT_NE(socket, nullptr);
  const int fd = ClientDescriptorTo(listener.port());
  ASSERT_GE(fd, 0);
  int noDelay = 0;
  socklen_t length = sizeof noDelay;
  ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
  EXPECT_NE(noDelay, 0);
}

TEST(TcpSocket, RefusedAndUnresolvableConnectsFail) {
  TestPlatform p;
  int port;
  {
    Listener listener;
    port = listener.port();
  }
  auto socket = posix::NewTcpSocket(p);
  ASSERT_TRUE(socket->Create());
  EXPECT_FALSE(socket->Connect("127.0.0.1", port));
  EXPECT_FALSE(socket->IsOpen());
  auto other = posix::NewTcpSocket(p);
  ASSERT_TRUE(other->Create());
  EXPECT_FALSE(other->Connect("no-such-host.invalid", 25));
  int count = 0;
  EXPECT_FALSE(other->ReadableBytes(count));
  EXPECT_LT(other->Receive(reinterpret_cast<char*>(&count), 1), 0);
}

TEST(TcpSocket, ConnectWithoutCreateFails) {
  TestPlatform p;
  Listener listener;
  auto socket = posix::NewTcpSocket(p);
  EXPECT_FALSE(socket->Connect("127.0.0.1", listener.port()));
}

// A listening socket on a numeric loopback address; `backlog` 0 with one
// connection waiting makes every further connect hang unanswered (Linux
// drops the SYNs of a full accept queue). Port 0 takes any free port.
class LoopbackListener {
 public:
  LoopbackListener(const char* address, int port, int backlog = 4) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* ai = nullptr;
    if (::getaddrinfo(address, std::to_string(port).c_str(), &hints, &ai) != 0) return;
    fd_ = ::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int v6Only = 0;  // so that an IPv4-mapped address can be bound
    if (ai->ai_family == AF_INET6) {
      ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only);
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::bind(fd_, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd_, backlog) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length) == 0) {
      port_ = ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);  // same offset in v6
    }
    ::freeaddrinfo(ai);
  }
  ~LoopbackListener() {
    for (const int fd : {filler_, fd_}) {
      if (fd >= 0) ::close(fd);
    }
  }
  bool ok() const { return port_ != 0; }
  int port() const { return port_; }
  // Fills the accept queue with one connection nobody accepts.
  bool Fill(const sockaddr* address, socklen_t length) {
    filler_ = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return ::connect(filler_, address, length) == 0;
  }

 private:
  int fd_ = -1;
  int filler_ = -1;
  int port_ = 0;
};

struct AddressCase {
  const char* name;
  const char* listenOn;
  const char* connectTo;
  const char* localAddress;  // as LocalAddress shows it
};

TEST(TcpSocket, TellsItsLocalAddressAndThatThePeerIsOnLoopback) {
  const AddressCase cases[] = {
      {"IPv4", "127.0.0.1", "127.0.0.1", "127.0.0.1"},
      // Whatever "localhost" resolves to first, the IPv4 listener is found.
      {"IPv4 by name", "127.0.0.1", "localhost", "127.0.0.1"},
      {"IPv6", "::1", "::1", "::1"},
      {"IPv4 mapped into IPv6", "::ffff:127.0.0.1", "::ffff:127.0.0.1", "127.0.0.1"},
  };
  TestPlatform p;
  p.SetRealSleep(true);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackListener listener(c.listenOn, 0);
    if (!listener.ok()) {
      std::printf("[ skipped  ] %s: cannot listen on %s here\n", c.name, c.listenOn);
      continue;
    }
    auto socket = posix::NewTcpSocket(p);
    ASSERT_TRUE(socket->Create());
    EXPECT_EQ(socket->LocalAddress(), "");
    EXPECT_FALSE(socket->PeerIsLoopback());
    ASSERT_TRUE(socket->Connect(c.connectTo, listener.port()));
    EXPECT_EQ(socket->LocalAddress(), c.localAddress);
    EXPECT_TRUE(socket->PeerIsLoopback());
  }
}

// A name with several addresses that all hang gets one connect time-out in
// all, not one per address: a user would otherwise wait twice as long for
// "localhost" (::1 and 127.0.0.1) as for an address.
TEST(TcpSocket, AllAddressesOfANameShareOneConnectTimeOut) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* addresses = nullptr;
  ASSERT_EQ(::getaddrinfo("localhost", nullptr, &hints, &addresses), 0);
  std::vector<std::string> numeric;
  std::vector<std::pair<sockaddr_storage, socklen_t>> raw;
  for (addrinfo* ai = addresses; ai != nullptr; ai = ai->ai_next) {
    char text[NI_MAXHOST] = {};
    ::getnameinfo(ai->ai_addr, ai->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    numeric.push_back(text);
    sockaddr_storage copy{};
    std::memcpy(&copy, ai->ai_addr, ai->ai_addrlen);
    raw.emplace_back(copy, ai->ai_addrlen);
  }
  ::freeaddrinfo(addresses);
  // One stuck listener per address, all on the same port.
  std::vector<std::unique_ptr<LoopbackListener>> stuck;
  for (std::size_t i = 0; i < numeric.size(); ++i) {
    const int port = stuck.empty() ? 0 : stuck.front()->port();
    stuck.push_back(std::make_unique<LoopbackListener>(numeric[i].c_str(), port, 0));
    if (!stuck.back()->ok()) GTEST_SKIP() << "cannot listen on " << numeric[i];
    reinterpret_cast<sockaddr_in&>(raw[i].first).sin_port = htons(stuck.front()->port());
    ASSERT_TRUE(stuck.back()->Fill(reinterpret_cast<sockaddr*>(&raw[i].first), raw[i].second));
  }
  TestPlatform p;
  auto socket = posix::NewTcpSocket(p, 30);
  ASSERT_TRUE(socket->Create());
  EXPECT_FALSE(socket->Connect("localhost", stuck.front()->port()));
  EXPECT_LE(p.VirtualMs(), 30);
  std::printf("[ info     ] localhost has %zu address(es)\n", numeric.size());
}

}  // namespace
}  // namespace velkaro
