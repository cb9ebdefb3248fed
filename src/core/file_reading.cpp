#include "core/file_reading.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace velkaro {

bool ReadExactly(int fd, char* into, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::read(fd, into, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    count -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadUpTo(int fd, std::string& bytes, std::size_t limit) {
  char buffer[65536];
  std::size_t got = 0;
  while (got < limit) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    got += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace velkaro
