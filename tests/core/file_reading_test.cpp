// Reading from descriptors through short reads: pipes hand out what was
// written so far, files end early.
#include "core/file_reading.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "support/test_support.h"

namespace velkaro {
namespace {

std::string Pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

// A stream whose writer sends `bytes` in pieces of `piece` and then
// closes, so that the reader sees short reads and then the end of file. A
// socket pair, so that a writer left blocked gets an error on the reader
// closing (MSG_NOSIGNAL) rather than SIGPIPE.
class PiecewisePipe {
 public:
  PiecewisePipe(std::string bytes, std::size_t piece) {
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
    writer_ = std::thread([this, bytes = std::move(bytes), piece] {
      for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = std::min(piece, bytes.size() - done);
        const ssize_t w = ::send(fds_[1], bytes.data() + done, n, MSG_NOSIGNAL);
        if (w <= 0) break;
        done += static_cast<std::size_t>(w);
      }
      ::close(fds_[1]);
    });
  }
  ~PiecewisePipe() {
    // A writer still blocked gets EPIPE and stops.
    ::shutdown(fds_[0], SHUT_RDWR);
    ::close(fds_[0]);
    writer_.join();
  }
  int fd() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
  std::thread writer_;
};

TEST(ReadExactly, NeedsEveryByteAskedFor) {
  struct Case {
    std::size_t available;
    std::size_t piece;
    std::size_t asked;
    bool ok;
  };
  const Case cases[] = {
      {0, 1, 0, true},
      {10, 3, 10, true},
      {10, 3, 11, false},
      {100000, 4096, 100000, true},
      {100000, 777, 99999, true},
      {5, 5, 6, false},
  };
  for (const Case& c : cases) {
    const std::string bytes = Pattern(c.available);
    PiecewisePipe pipe(bytes, c.piece);
    std::string into(c.asked, '\x55');
    EXPECT_EQ(ReadExactly(pipe.fd(), into.data(), c.asked), c.ok)
        << c.available << " available, " << c.asked << " asked";
    if (c.ok) {
      EXPECT_EQ(into, bytes.substr(0, c.asked));
    }
  }
  char byte = 0;
  EXPECT_FALSE(ReadExactly(-1, &byte, 1));
}

TEST(ReadUpTo, StopsAtTheLimitOrTheEnd) {
  struct Case {
    std::size_t available;
    std::size_t piece;
    std::size_t limit;
    std::size_t expected;
  };
  const Case cases[] = {
      {0, 1, 10, 0},
      {10, 3, 10, 10},
      {10, 3, 4, 4},
      {200000, 5000, std::string::npos, 200000},
      {200000, 65536, 65537, 65537},
      {200000, 65536, 0, 0},
      {70000, 1, 70001, 70000},
  };
  for (const Case& c : cases) {
    const std::string bytes = Pattern(c.available);
    PiecewisePipe pipe(bytes, c.piece);
    std::string got = "kept";
    EXPECT_TRUE(ReadUpTo(pipe.fd(), got, c.limit)) << c.available << " / " << c.limit;
    EXPECT_EQ(got, "kept" + bytes.substr(0, c.expected)) << c.available << " / " << c.limit;
  }
}

TEST(ReadUpTo, ReportsAReadError) {
  testing::TempDir dir;
  // A folder opens but cannot be read.
  const int fd = ::open(dir.File("").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::string got;
  EXPECT_FALSE(ReadUpTo(fd, got, 100));
  ::close(fd);
  EXPECT_FALSE(ReadUpTo(-1, got, 100));
}

}  // namespace
}  // namespace velkaro
