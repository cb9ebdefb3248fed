// Whole-file reading and writing as raw bytes, no line-end translation.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "core/file_descriptor.h"
#include "core/file_reading.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr int kMinimumChunk = 1024;

int EffectiveChunk(int requested) {
  return requested > kMinimumChunk ? requested : kMinimumChunk;
}

// Writes all of `count` bytes; the errno of the failure, 0 on success.
int WriteFully(int fd, const char* from, std::size_t count) {
  while (count > 0) {
    const ssize_t n = ::write(fd, from, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    from += n;
    count -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

std::int64_t Zentool::ZenGetFileSize(const std::string& path) const {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

std::string Zentool::ZenReadFile(const std::string& path, int chunkSize) const {
  const std::size_t chunk = static_cast<std::size_t>(EffectiveChunk(chunkSize));
  const std::int64_t size = ZenGetFileSize(path);
  if (size <= 0) return {};
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return {};
  // Every byte is kept, NUL bytes included: the text is the whole file. A
  // file that shrank since its size was taken is a failed read, not a text
  // padded with whatever was in memory.
  std::string result(static_cast<std::size_t>(size), '\0');
  for (std::size_t done = 0; done < result.size();) {
    const std::size_t step = std::min(chunk, result.size() - done);
    if (!ReadExactly(fd.get(), result.data() + done, step)) return {};
    done += step;
  }
  return result;
}

int Zentool::ZenWriteFile(const std::string& path, const std::string& text, int chunkSize) const {
  const std::size_t chunk = static_cast<std::size_t>(EffectiveChunk(chunkSize));
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) return errno == EIO ? 1 : 2;
  for (std::size_t done = 0; done < text.size();) {
    const std::size_t step = std::min(chunk, text.size() - done);
    const int error = WriteFully(fd.get(), text.data() + done, step);
    if (error != 0) return error == EIO ? 3 : 4;
    done += step;
  }
  // Some file systems report a failed write only when the file is closed.
  const int error = fd.Close();
  if (error != 0) return error == EIO ? 3 : 4;
  return 0;
}

}  // namespace velkaro
