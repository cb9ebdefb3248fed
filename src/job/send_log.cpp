#include "job/send_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/zentool.h"

namespace velkaro {
namespace {

int ErrorCode(int error) {
  return error == EIO ? -1 : 1;
}

// Creates the folder (one level) when it is missing: 0, or 4.
int EnsureFolder(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return ::mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST ? 0 : 4;
}

std::string FolderOf(const std::string& path) {
  std::string folder;
  Zentool().ZenGetFolder(path, folder);
  return folder;
}

// Writes all bytes: 0, or the errno of the failure.
int WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0) {
      return ENOSPC;
    } else if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

// Closes, keeping the first error.
int CloseKeeping(int fd, int error) {
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

// A log entry that did not fit (full disk, file size limit) is taken back
// whole: a cut-off run summary would read as if the run had ended there.
// Only when no more than our bytes were added since the size was taken, so
// that nothing another program appended meanwhile is cut away. Should the
// take-back fail too, the cut entry stays; the caller reports the failure.
void TakeBackAppend(int fd, off_t oldSize, std::size_t ourBytes) {
  struct stat now {};
  if (oldSize < 0 || ::fstat(fd, &now) != 0) return;
  if (now.st_size > oldSize && now.st_size <= oldSize + static_cast<off_t>(ourBytes)) {
    [[maybe_unused]] const int ignored = ::ftruncate(fd, oldSize);
  }
}

}  // namespace

std::string BuildArchiveName(const std::string& programFolder, const std::string& bodyFilePath,
                             std::time_t start, int index) {
  Zentool z;
  const std::string stamp = z.FormatDateTime(start, 13) + "-" + z.FormatDateTime(start, 23);
  std::string name;
  if (bodyFilePath.empty()) {
    name = "text_" + stamp + "_" + std::to_string(index) + ".txt";
  } else {
    const std::string base = z.ZenSplitPath(PathPart::Name, bodyFilePath);
    const std::string ext = z.ZenSplitPath(PathPart::Extension, bodyFilePath);
    name = base + "_" + stamp + "_" + std::to_string(index) + (ext.empty() ? "" : "." + ext);
  }
  return z.ZenJoinPath(programFolder, "Text/" + name);
}

std::string BuildLogName(const std::string& programFolder, std::time_t start) {
  Zentool z;
  return z.ZenJoinPath(
      programFolder, "Log/log" + z.FormatDateTime(start, 1) + z.FormatDateTime(start, 2) + ".txt");
}

int SaveSentText(const std::string& programFolder, const std::string& bodyFilePath,
                 std::time_t start, int index, const std::string& text) {
  const std::string path = BuildArchiveName(programFolder, bodyFilePath, start, index);
  if (text.empty()) return 0;
  if (EnsureFolder(FolderOf(path)) != 0) return 4;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 2;
  const int error = CloseKeeping(fd, WriteAll(fd, text));
  if (error == 0) return 0;
  // A copy cut short would pass for the text that was sent: better none.
  ::unlink(path.c_str());
  return ErrorCode(error);
}

int WriteSendLog(const std::string& programFolder, std::time_t start, const std::string& text) {
  const std::string path = BuildLogName(programFolder, start);
  if (text.empty()) return 0;
  if (EnsureFolder(FolderOf(path)) != 0) return 4;
  struct stat st {};
  const bool hasContent = ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
  // Never truncate: even a log that looked empty a moment ago may have been
  // written by another program since, and its runs must not be lost.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return hasContent ? 3 : 2;
  struct stat before {};
  const off_t oldSize = ::fstat(fd, &before) == 0 ? before.st_size : -1;
  const int written = WriteAll(fd, text);
  if (written != 0) TakeBackAppend(fd, oldSize, text.size());
  const int error = CloseKeeping(fd, written);
  return error == 0 ? 0 : ErrorCode(error);
}

}  // namespace velkaro
