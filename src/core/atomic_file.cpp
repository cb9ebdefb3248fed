#include "core/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace velkaro {
namespace {

int CodeFor(int error) {
  return error == EIO ? -1 : 1;
}

int WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0 ? ENOSPC : errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Makes the rename itself survive a crash.
void SyncFolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

int AtomicWriteFile(const std::string& path, const std::string& bytes, mode_t mode) {
  std::string temp = path + ".tmp-XXXXXX";
  std::vector<char> pattern(temp.begin(), temp.end());
  pattern.push_back('\0');
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return CodeFor(errno);
  temp.assign(pattern.data());
  int error = ::fchmod(fd, mode) == 0 ? 0 : errno;
  if (error == 0) error = WriteAll(fd, bytes);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return CodeFor(error);
  }
  SyncFolderOf(path);
  return 0;
}

}  // namespace velkaro
