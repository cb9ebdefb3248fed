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

// Writes all bytes and closes: 0, -1 or 1.
int WriteAndClose(int fd, const std::string& text) {
  int error = 0;
  for (std::size_t done = 0; done < text.size() && error == 0;) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      error = errno;
    } else if (n == 0) {
      error = ENOSPC;
    }
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error == 0 ? 0 : ErrorCode(error);
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
  return WriteAndClose(fd, text);
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
  return WriteAndClose(fd, text);
}

}  // namespace velkaro
