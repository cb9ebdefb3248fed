// File faults the way a user meets them, for tests: a small file system of
// its own (tmpfs) that can be filled up or made read-only, and a file whose
// size promises more than a read delivers.
//
// Root ignores permission bits, so a read-only folder needs a read-only
// mount; mounting needs CAP_SYS_ADMIN. Where that is missing, Mounted() is
// false and the test skips. The first mount moves the test process into a
// private mount namespace, so that nothing it mounts is seen outside it and
// nothing outlives it even if it crashes; the mount is also undone at the
// end of its scope.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velkaro::testing {

class ScratchMount {
 public:
  // A tmpfs of `bytes` (whole pages) at a fresh folder.
  explicit ScratchMount(std::size_t bytes) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velkaro-mount-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    PrivateNamespace();
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ =
        ::mount("velkaro-test", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~ScratchMount() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    if (!path_.empty()) ::rmdir(path_.c_str());
  }
  ScratchMount(const ScratchMount&) = delete;
  ScratchMount& operator=(const ScratchMount&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

  // From now on every write is refused with EROFS, for root too.
  bool MakeReadOnly() {
    return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                   nullptr) == 0;
  }

  // Takes every free block, so that the next write needing a block fails
  // with ENOSPC. Files keep the slack of their last block, as on any disk.
  bool Fill() {
    const int fd = ::open(File(".filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::array<char, 4096> block{};
    int error = 0;
    while (error == 0) {
      const ssize_t n = ::write(fd, block.data(), block.size());
      if (n <= 0) error = n == 0 ? ENOSPC : errno;
    }
    ::close(fd);
    return error == ENOSPC;
  }

 private:
  static void PrivateNamespace() {
    static const bool done = ::unshare(CLONE_NEWNS) == 0 &&
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    (void)done;
  }

  std::string path_;
  bool mounted_ = false;
};

// A file that reports a size but delivers fewer bytes when read, as a file
// cut short between the size query and the read does: a sysfs attribute
// (size 4096, a few bytes of content). Nothing on systems without one.
inline std::optional<std::string> ShrinkingFile() {
  for (const char* path : {"/sys/kernel/mm/transparent_hugepage/enabled",
                           "/sys/devices/system/cpu/online", "/sys/kernel/profiling"}) {
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) continue;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    std::array<char, 8192> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    if (n > 0 && n < st.st_size) return std::string(path);
  }
  return std::nullopt;
}

// The three ways a write fails for good, each in force only between Arm()
// and Disarm() (or the end of the scope).
enum class WriteFault {
  ReadOnly,  // the folder is on a read-only file system (EROFS)
  DiskFull,  // no free block is left (ENOSPC)
  HalfWay,   // a file may not grow past a limit (EFBIG), so a write stops
             // part of the way through
};
inline constexpr WriteFault kWriteFaults[] = {WriteFault::ReadOnly, WriteFault::DiskFull,
                                              WriteFault::HalfWay};

inline const char* Describe(WriteFault fault) {
  switch (fault) {
    case WriteFault::ReadOnly: return "read-only folder";
    case WriteFault::DiskFull: return "full disk";
    case WriteFault::HalfWay: return "write failing half-way";
  }
  return "?";
}

// A folder in which the old files are put first, then the fault is armed.
// ReadOnly and DiskFull need a mount of their own; HalfWay works anywhere.
class FaultyFolder {
 public:
  // `halfWayLimit`: the file size limit of HalfWay, in bytes.
  explicit FaultyFolder(WriteFault fault, rlim_t halfWayLimit = 1000)
      : fault_(fault), limitBytes_(halfWayLimit) {
    if (fault_ != WriteFault::HalfWay) mount_.emplace(256 * 1024);
  }
  // False when the fault cannot be made here (no right to mount).
  bool Usable() const { return !mount_ || mount_->Mounted(); }
  const std::string& path() const { return mount_ ? mount_->path() : dir_.path(); }
  std::string File(const std::string& name) const { return path() + "/" + name; }

  // True when the fault is now in force.
  bool Arm() {
    switch (fault_) {
      case WriteFault::ReadOnly: return mount_->MakeReadOnly();
      case WriteFault::DiskFull: return mount_->Fill();
      case WriteFault::HalfWay: limit_.emplace(limitBytes_); return true;
    }
    return false;
  }
  // Lifts the file size limit, so that the test's own output and files are
  // not cut; the other two faults need no lifting for the checks.
  void Disarm() { limit_.reset(); }

 private:
  WriteFault fault_;
  rlim_t limitBytes_;
  TempDir dir_;
  std::optional<ScratchMount> mount_;
  std::optional<FileSizeLimit> limit_;
};

// Every name in a folder, hidden ones included, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ignored;
  for (const auto& e : std::filesystem::directory_iterator(folder, ignored)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace velkaro::testing
