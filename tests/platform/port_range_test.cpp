// Ports outside 1..65535 never reach the resolver: it takes a numeric
// service modulo 65536, so port 65536 + n would quietly connect to port n.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/posix_services.h"
#include "platform/test_platform.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

TEST(TcpSocketPorts, OutOfRangePortsAreRefusedNotWrapped) {
  // A listener on 127.0.0.1 at some free port n.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  socklen_t length = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
  const int port = ntohs(addr.sin_port);

  TestPlatform platform;
  const struct {
    int port;
    bool connects;
  } cases[] = {
      {port, true}, {port + 65536, false}, {port + 2 * 65536, false}, {port - 65536, false},
      {0, false},   {-1, false},
  };
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.port);
    count.Add("absurd settings");
    auto socket = posix::NewTcpSocket(platform, 2000);
    ASSERT_TRUE(socket->Create());
    EXPECT_EQ(socket->Connect("127.0.0.1", c.port), c.connects);
    socket->Close();
  }
  ::close(listener);
}

}  // namespace
}  // namespace velkaro
