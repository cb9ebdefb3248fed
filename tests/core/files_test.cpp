// Whole-file reading and writing, file sizes and the memory block.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>

#include "core/encoding.h"
#include "core/zentool.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

TEST(ZenReadFile, ReadsTheWholeFileAcrossChunks) {
  TempDir dir;
  Zentool z;
  for (const std::size_t size : {1u, 1023u, 1024u, 1025u, 1500u, 4096u, 100000u}) {
    for (const int chunk : {0, 1024, 1500, 4096}) {
      const std::string bytes = RandomBytes(size, static_cast<unsigned>(size));
      const std::string path = dir.File("f" + std::to_string(size));
      WriteBytes(path, bytes);
      EXPECT_EQ(z.ZenReadFile(path, chunk), bytes) << size << " bytes, chunk " << chunk;
    }
  }
}

TEST(ZenReadFile, KeepsNulBytes) {
  TempDir dir;
  const std::string bytes("abc\0def\r\n\0", 10);
  WriteBytes(dir.File("nul"), bytes);
  EXPECT_EQ(Zentool().ZenReadFile(dir.File("nul"), 0), bytes);
}

TEST(ZenReadFile, EveryFailureIsAnEmptyText) {
  TempDir dir;
  WriteBytes(dir.File("empty"), "");
  Zentool z;
  EXPECT_EQ(z.ZenReadFile(dir.File("missing"), 0), "");
  EXPECT_EQ(z.ZenReadFile(dir.File("empty"), 0), "");
  EXPECT_EQ(z.ZenReadFile(dir.path(), 0), "");
}

TEST(ZenGetFileSize, IsZeroForWhatCannotBeRead) {
  TempDir dir;
  WriteBytes(dir.File("f"), std::string(1500, 'x'));
  Zentool z;
  EXPECT_EQ(z.ZenGetFileSize(dir.File("f")), 1500);
  EXPECT_EQ(z.ZenGetFileSize(dir.File("missing")), 0);
  EXPECT_EQ(z.ZenGetFileSize(dir.path()), 0);
}

TEST(ZenWriteFile, WritesAndReplacesTheWholeFile) {
  TempDir dir;
  Zentool z;
  const std::string path = dir.File("請求書_山田.txt");
  const std::string bytes = RandomBytes(5000, 7);
  EXPECT_EQ(z.ZenWriteFile(path, bytes, 0), 0);
  EXPECT_EQ(ReadBytes(path), bytes);
  EXPECT_EQ(z.ZenWriteFile(path, "short", 2048), 0);
  EXPECT_EQ(ReadBytes(path), "short");
  EXPECT_EQ(z.ZenWriteFile(path, "", 0), 0);
  EXPECT_EQ(z.ZenGetFileSize(path), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
}

TEST(ZenWriteFile, ReportsWhereItFailed) {
  TempDir dir;
  Zentool z;
  EXPECT_EQ(z.ZenWriteFile(dir.File("no/such/folder/f.txt"), "x", 0), 2);
  EXPECT_EQ(z.ZenWriteFile(dir.path(), "x", 0), 2);
  // A full disk refuses the write after the file was created.
  EXPECT_EQ(z.ZenWriteFile("/dev/full", "x", 0), 4);
}

class ZenGetMemoryTest : public testing::PlatformTest {};

TEST_F(ZenGetMemoryTest, ObtainsZeroFilledBlocksAndKeepsContentOnResize) {
  Zentool z;
  ZenMemoryHandle handle = nullptr;
  char* pointer = nullptr;
  ASSERT_EQ(z.ZenGetMemory(handle, pointer, 100), 0);
  ASSERT_NE(pointer, nullptr);
  for (int i = 0; i < 116; ++i) ASSERT_EQ(pointer[i], 0) << i;
  std::memcpy(pointer, "hello", 5);
  ASSERT_EQ(z.ZenGetMemory(handle, pointer, 5000), 0);
  EXPECT_EQ(std::string(pointer, 5), "hello");
  for (int i = 100; i < 5016; ++i) ASSERT_EQ(pointer[i], 0) << i;
  EXPECT_EQ(z.ZenGetMemory(handle, pointer, 0), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(pointer, nullptr);
  EXPECT_TRUE(platform.MessageBoxes().empty());
}

TEST_F(ZenGetMemoryTest, ReleasingWhatWasNeverObtainedWarns) {
  Zentool z;
  ZenMemoryHandle handle = nullptr;
  char* pointer = nullptr;
  EXPECT_EQ(z.ZenGetMemory(handle, pointer, 0), 0);
  ASSERT_EQ(platform.MessageBoxes().size(), 1u);
  const auto& box = platform.MessageBoxes()[0];
  EXPECT_EQ(box.text, Utf8ToSjis("ZenGetMemory: メモリ開放に失敗しました。\r\n retUnlock=-1 retFree=-1"));
  EXPECT_EQ(box.buttons, MsgButtons::Ok);
  EXPECT_EQ(box.icon, MsgIcon::Exclamation);
}

TEST_F(ZenGetMemoryTest, AnImpossibleSizeFailsWithoutLosingTheBlock) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's operator new aborts instead of throwing bad_alloc";
#endif
  Zentool z;
  ZenMemoryHandle handle = nullptr;
  char* pointer = nullptr;
  EXPECT_EQ(z.ZenGetMemory(handle, pointer, std::int64_t{1} << 60), 1);
  EXPECT_EQ(handle, nullptr);
  ASSERT_EQ(z.ZenGetMemory(handle, pointer, 10), 0);
  char* before = pointer;
  EXPECT_EQ(z.ZenGetMemory(handle, pointer, std::int64_t{1} << 60), 11);
  EXPECT_EQ(pointer, before);
  EXPECT_EQ(z.ZenGetMemory(handle, pointer, 0), 0);
}

TEST(ZenGetVersion, IsOnePointZeroOneThree) {
  Zentool z;
  EXPECT_EQ(z.ZenGetVersion(0), 1);
  EXPECT_EQ(z.ZenGetVersion(1), 0);
  EXPECT_EQ(z.ZenGetVersion(2), 1);
  EXPECT_EQ(z.ZenGetVersion(3), 3);
  EXPECT_EQ(z.ZenGetVersion(4), -1);
  EXPECT_EQ(z.ZenGetVersion(-1), -1);
}

}  // namespace
}  // namespace velkaro
