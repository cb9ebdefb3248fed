#include "platform/posix_services.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#ifndef VELKARO_VERSION
#define VELKARO_VERSION "0.0.0"
#endif

namespace velkaro::posix {
namespace {

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool IsWritableFolder(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         ::access(folder.c_str(), W_OK) == 0;
}

// Creates every missing folder of `path`, like `mkdir -p`.
bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string prefix = path.substr(0, pos);
    if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return IsWritableFolder(path);
}

std::string TrimTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

void SleepMs(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

std::string ExecutablePath() {
  std::string buffer(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<std::size_t>(n));
  return buffer;
}

bool IsInstalledExecutable(const std::string& executablePath) {
  // /proc/self/exe is canonical already; a path handed in by a caller may
  // still carry "." or ".." parts that would hide or fake the prefix.
  const std::string path = std::filesystem::path(executablePath).lexically_normal().string();
  return path.rfind("/usr/", 0) == 0;  // /usr/local/ included
}

std::string ChooseProgramFolder(const std::string& executablePath, const FolderEnvironment& env,
                                bool executableFolderWritable) {
  if (!env.velkaroHome.empty()) return TrimTrailingSlashes(env.velkaroHome);
  // An installed program never keeps its files next to its binary, not even
  // when that folder is writable (as it is for root): a package update or
  // removal would take the user's settings and logs with it.
  if (!executablePath.empty() && executableFolderWritable &&
      !IsInstalledExecutable(executablePath)) {
    return FolderOf(executablePath);
  }
  // A relative XDG_DATA_HOME is invalid and ignored (XDG Base Directory).
  std::string data = env.xdgDataHome;
  if (data.empty() || data.front() != '/') {
    data = env.home;
    if (data.empty()) data = "/tmp";
    data = TrimTrailingSlashes(data) + "/.local/share";
  }
  return TrimTrailingSlashes(data) + "/velkaro";
}

std::string ProgramFolder(const std::string& executablePath) {
  const FolderEnvironment env{.velkaroHome = Environment("VELKARO_HOME"),
                              .xdgDataHome = Environment("XDG_DATA_HOME"),
                              .home = Environment("HOME")};
  const bool writable = !executablePath.empty() && IsWritableFolder(FolderOf(executablePath));
  const std::string folder = ChooseProgramFolder(executablePath, env, writable);
  MakeFolders(folder);
  return folder;
}

std::tm LocalTime(std::time_t t) {
  std::tm out{};
  ::localtime_r(&t, &out);
  return out;
}

std::string BuildVersion() {
  return std::string(VELKARO_VERSION) + ".0";
}

std::string QualifiedHostNameOrEmpty(std::string name) {
  while (!name.empty() && name.back() == '.') name.pop_back();
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string first = lower.substr(0, lower.find('.'));
  // Debian and Red Hat name the loopback address "localhost.localdomain",
  // "localhost6.localdomain6" or "ip6-localhost": a peer cannot reach us by
  // any of them.
  const bool loopback = first == "localhost" || first == "localhost4" || first == "localhost6" ||
                        first == "ip6-localhost" || first == "ip6-loopback";
  // An address is no domain name (EHLO wants it as a bracketed literal).
  const bool address = name.find(':') != std::string::npos ||
                       name.find_first_not_of("0123456789.") == std::string::npos;
  if (loopback || address || name.find('.') == std::string::npos || name.front() == '.') {
    return {};
  }
  return name;
}

std::string FullyQualifiedHostName() {
  char own[HOST_NAME_MAX + 1] = {};
  if (::gethostname(own, sizeof own - 1) != 0 || own[0] == '\0') return {};
  std::string name = own;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_flags = AI_CANONNAME;
  addrinfo* list = nullptr;
  if (::getaddrinfo(own, nullptr, &hints, &list) == 0) {
    if (list != nullptr && list->ai_canonname != nullptr) name = list->ai_canonname;
    ::freeaddrinfo(list);
  }
  return QualifiedHostNameOrEmpty(name);
}

}  // namespace velkaro::posix
