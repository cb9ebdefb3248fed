// Replacing files atomically: a failed write never damages the old file.
#include "core/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>

#include "support/test_support.h"

namespace velkaro {
namespace {

using velkaro::testing::FileSizeLimit;

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::size_t FilesIn(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++n;
  }
  return n;
}

TEST(AtomicWriteFile, ReplacesTheFileWithTheGivenMode) {
  TempDir dir;
  const std::string path = dir.File("Velkaro.cfg");
  WriteBytes(path, "old contents");
  EXPECT_EQ(AtomicWriteFile(path, std::string(3312, 'n'), 0600), 0);
  EXPECT_EQ(ReadBytes(path), std::string(3312, 'n'));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(FilesIn(dir.path()), 1u) << "no temporary file may stay behind";
}

TEST(AtomicWriteFile, AFailedWriteLeavesTheOldFileIntact) {
  TempDir dir;
  const std::string path = dir.File("Velkaro.cfg");
  WriteBytes(path, "old contents");
  {
    FileSizeLimit limit(100);
    EXPECT_EQ(AtomicWriteFile(path, std::string(3312, 'n')), 1);
  }
  EXPECT_EQ(ReadBytes(path), "old contents");
  EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(AtomicWriteFile, AMissingFolderIsAnError) {
  TempDir dir;
  EXPECT_EQ(AtomicWriteFile(dir.File("no/such/file"), "x"), 1);
  WriteBytes(dir.File("plain"), "x");
  EXPECT_EQ(AtomicWriteFile(dir.File("plain/file"), "x"), 1);
}

TEST(AtomicWriteFile, WritesEmptyFiles) {
  TempDir dir;
  EXPECT_EQ(AtomicWriteFile(dir.File("e"), ""), 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("e")));
  EXPECT_EQ(std::filesystem::file_size(dir.File("e")), 0u);
}

}  // namespace
}  // namespace velkaro
