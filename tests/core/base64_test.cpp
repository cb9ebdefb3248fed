// Base64, encoded-word payloads and whole files as Base64. The reference
// texts come from Python's base64 module and coreutils `base64 -w0`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/base64_detail.h"
#include "core/zentool.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::HaveProgram;
using testing::PlatformTest;
using testing::RunCommand;
using testing::TempDir;
using testing::WriteBytes;

std::string RandomBytes(std::size_t count, std::mt19937& random) {
  std::string bytes(count, '\0');
  for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
  return bytes;
}

// "=" may stand only in the last group, once after a group of two bytes and
// twice after a group of one.
void ExpectFillOnlyAtEnd(const std::string& text, std::size_t inputSize) {
  const std::size_t fill = (3 - inputSize % 3) % 3;
  const auto firstFill = text.find('=');
  if (fill == 0) {
    EXPECT_EQ(firstFill, std::string::npos);
  } else {
    EXPECT_EQ(firstFill, text.size() - fill) << "size " << inputSize;
  }
}

struct Vector {
  std::string bytes;
  const char* base64;
};

TEST(ZenBase64Encode, KnownVectors) {
  const Vector cases[] = {
      // RFC 4648, section 10.
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      // The ends of the alphabet, and bytes that are not text.
      {std::string(1, '\0'), "AA=="},
      {std::string(3, '\0'), "AAAA"},
      {"\xFF\xFF\xFF", "////"},
      {"\xFB\xEF\xBE", "++++"},
      {"\xFB\xFF", "+/8="},
      {std::string("a\0b", 3), "YQBi"},
  };
  Zentool z;
  for (const auto& c : cases) {
    EXPECT_EQ(z.ZenBase64Encode(c.bytes), c.base64) << testing::Hex(c.bytes);
    EXPECT_EQ(z.ZenBase64EncodeBuf(c.bytes.size(), c.bytes.data()), c.base64)
        << testing::Hex(c.bytes);
  }
}

TEST(ZenBase64Encode, RandomBuffersMatchPython) {
  constexpr std::size_t kLongest = 1000;
  const std::string python = "/usr/bin/python3";
  if (!HaveProgram(python)) GTEST_SKIP() << "no " << python;

  // Buffers of every length 0..kLongest, back to back in one file, so one
  // process encodes them all. Their start offsets vary, so the encoder also
  // sees every alignment of its input.
  std::mt19937 random(20240611);
  const std::string all = RandomBytes(kLongest * (kLongest + 1) / 2, random);
  TempDir dir;
  WriteBytes(dir.File("buffers"), all);
  WriteBytes(dir.File("encode.py"),
             "import base64, sys\n"
             "data = open(sys.argv[1], 'rb').read()\n"
             "at = 0\n"
             "for n in range(" +
                 std::to_string(kLongest + 1) +
                 "):\n"
                 "    sys.stdout.write(base64.b64encode(data[at:at + n]).decode() + '\\n')\n"
                 "    at += n\n");
  bool ok = false;
  const std::string expected = RunCommand(
      python + " '" + dir.File("encode.py") + "' '" + dir.File("buffers") + "'", "", &ok);
  ASSERT_TRUE(ok);

  Zentool z;
  std::size_t at = 0;
  std::size_t line = 0;
  for (std::size_t n = 0; n <= kLongest; ++n) {
    const std::size_t end = expected.find('\n', line);
    ASSERT_NE(end, std::string::npos) << "reference ended at length " << n;
    const std::string reference = expected.substr(line, end - line);
    line = end + 1;
    ASSERT_EQ(z.ZenBase64EncodeBuf(n, all.data() + at), reference) << "length " << n;
    ASSERT_EQ(z.ZenBase64Encode(all.substr(at, n)), reference) << "length " << n;
    at += n;
  }
}

class ZenFileToBase64Test : public PlatformTest {
 protected:
  // The block is released on every path without a "release failed" box.
  void TearDown() override { EXPECT_TRUE(platform.MessageBoxes().empty()); }
  Zentool z;
  TempDir dir;
};

TEST_F(ZenFileToBase64Test, FilesAroundStepBoundariesMatchCoreutils) {
  if (!HaveProgram("base64")) GTEST_SKIP() << "no coreutils base64";
  // Requests of 12000 and 301 read in steps of 12000 and 300, one of 100 in
  // steps of 300. The sizes sit on, and one byte either side of, those
  // steps, so a step that was not a multiple of 3 would put "=" inside the
  // text and a lost or repeated step would change it.
  const std::size_t sizes[] = {1,   2,     3,     299,   300,   301,    599,   600,
                               601, 11999, 12000, 12001, 24001, 300000, 400003};
  const int chunks[] = {12000, 100, 301};
  std::mt19937 random(7);
  for (const std::size_t size : sizes) {
    const std::string path = dir.File("data" + std::to_string(size));
    WriteBytes(path, RandomBytes(size, random));
    bool ok = false;
    const std::string expected = RunCommand("base64 -w0 '" + path + "'", "", &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(expected.size(), (size + 2) / 3 * 4);
    for (const int chunk : chunks) {
      const std::string text = z.ZenFileToBase64(path, chunk);
      EXPECT_EQ(text, expected) << "size " << size << ", chunk " << chunk;
      ExpectFillOnlyAtEnd(text, size);
    }
  }
}

TEST_F(ZenFileToBase64Test, NothingToReadGivesEmptyText) {
  WriteBytes(dir.File("empty"), "");
  const std::string paths[] = {dir.File("empty"), dir.File("missing"), dir.path()};
  for (const auto& path : paths) EXPECT_EQ(z.ZenFileToBase64(path, 12000), "") << path;
}

TEST_F(ZenFileToBase64Test, ReadsOnlyTheSizeTakenAndRejectsShortReads) {
  std::mt19937 random(3);
  const std::string bytes = RandomBytes(1000, random);
  const std::string path = dir.File("data");
  WriteBytes(path, bytes);
  struct Case {
    std::int64_t claimedSize;
    bool readable;
  };
  // A claimed size above the file's stands for a file that shrank after its
  // size was taken: the last step, or a whole step, comes back short.
  const Case cases[] = {
      {1000, true},  {999, true},   {1, true},       {1001, false},
      {1200, false}, {1300, false}, {100000, false}, {0, false},
  };
  for (const auto& c : cases) {
    const std::string expected =
        c.readable ? z.ZenBase64Encode(bytes.substr(0, static_cast<std::size_t>(c.claimedSize)))
                   : "";
    EXPECT_EQ(detail::FileToBase64(path, c.claimedSize, 300), expected)
        << "claimed " << c.claimedSize;
  }
}

TEST(Base64ReadChunk, MultipleOfThreeAndAtLeast300) {
  const std::pair<int, int> cases[] = {
      {12000, 12000}, {12001, 12000}, {12002, 12000}, {303, 303}, {302, 300},  {301, 300},
      {300, 300},     {299, 300},     {100, 300},     {0, 300},   {-301, 300},
  };
  for (const auto& [requested, step] : cases) {
    EXPECT_EQ(detail::Base64ReadChunk(requested), step) << requested;
  }
}

class ZenMimeEncodeTest : public PlatformTest {
 protected:
  Zentool z;
};

TEST_F(ZenMimeEncodeTest, PayloadIsBase64OfIso2022Jp) {
  const std::string longAscii(200, 'S');
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      // ASCII is still encoded, its bytes unchanged.
      {"Taro Yamada", "VGFybyBZYW1hZGE="},
      // 漢字: ESC $ B 4A ;z ESC ( B.
      {"\x8A\xBF\x8E\x9A", "GyRCNEE7ehsoQg=="},
      // However long, one payload: never split or folded.
      {longAscii, z.ZenBase64Encode(longAscii)},
  };
  for (const auto& [sjis, payload] : cases) {
    EXPECT_EQ(z.ZenMimeEncode(sjis), payload) << testing::Hex(sjis);
  }
}

}  // namespace
}  // namespace velkaro
