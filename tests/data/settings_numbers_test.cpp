// Numbers from a hand-edited or damaged settings file. A port outside
// 1..65535 would be wrapped by the resolver onto another port, a speed
// outside 1..100 would pace nothing or stop every mail; such values are
// replaced on loading, every other byte stays as the file had it.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "data/settings_file.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::WriteBytes;

constexpr std::size_t kPopPort = 396;
constexpr std::size_t kSmtpPort = 528;
constexpr std::size_t kSpeed = 860;
constexpr std::size_t kSpeedIn2860 = 2536;  // where the older records kept it
constexpr std::size_t kSoundOn1 = 864;
constexpr std::size_t kWindowLeft = 4;

std::string Int32(std::int32_t value) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

std::int32_t At(const std::string& image, std::size_t offset) {
  std::int32_t value = 0;
  std::memcpy(&value, image.data() + offset, 4);
  return value;
}

// A saved default record: every field valid, as the program writes it.
std::string DefaultFile() {
  SettingsRecord r = DefaultSettingsRecord();
  SetFieldText(r.server.smtpServer, "smtp.example.jp");
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

class SettingsNumbersTest : public testing::PlatformTest {
 protected:
  SettingsNumbersTest() { platform.SetProgramFolder(dir.path()); }
  std::string Cfg() const { return dir.File("Velkaro.cfg"); }
  testing::TempDir dir;
};

TEST_F(SettingsNumbersTest, OutOfRangeNumbersAreReplacedValidOnesKept) {
  const struct {
    const char* name;
    std::size_t fileSize;
    std::size_t fileOffset;    // where the file holds the value
    std::size_t recordOffset;  // where the record holds it (and saves it)
    std::int32_t stored;
    std::int32_t loaded;
  } cases[] = {
      {"smtp port 0", 3312, kSmtpPort, kSmtpPort, 0, 25},
      {"smtp port -1", 3312, kSmtpPort, kSmtpPort, -1, 25},
      {"smtp port 70000", 3312, kSmtpPort, kSmtpPort, 70000, 25},
      {"smtp port 65536", 3312, kSmtpPort, kSmtpPort, 65536, 25},
      {"smtp port INT_MIN", 3312, kSmtpPort, kSmtpPort, INT_MIN, 25},
      {"smtp port 1", 3312, kSmtpPort, kSmtpPort, 1, 1},
      {"smtp port 587", 3312, kSmtpPort, kSmtpPort, 587, 587},
      {"smtp port 65535", 3312, kSmtpPort, kSmtpPort, 65535, 65535},
      {"pop port 0", 3312, kPopPort, kPopPort, 0, 110},
      {"pop port -1", 3312, kPopPort, kPopPort, -1, 110},
      {"pop port 70000", 3312, kPopPort, kPopPort, 70000, 110},
      {"pop port 995", 3312, kPopPort, kPopPort, 995, 995},
      {"speed 0", 3312, kSpeed, kSpeed, 0, 1},
      {"speed -5", 3312, kSpeed, kSpeed, -5, 1},
      {"speed 101", 3312, kSpeed, kSpeed, 101, 100},
      {"speed 1000", 3312, kSpeed, kSpeed, 1000, 100},
      {"speed INT_MAX", 3312, kSpeed, kSpeed, INT_MAX, 100},
      {"speed 1", 3312, kSpeed, kSpeed, 1, 1},
      {"speed 100", 3312, kSpeed, kSpeed, 100, 100},
      {"speed 77", 3312, kSpeed, kSpeed, 77, 77},
      {"older file, speed 0", 2860, kSpeedIn2860, kSpeed, 0, 1},
      {"older file, speed 1000", 3052, kSpeedIn2860, kSpeed, 1000, 100},
      {"older file, smtp port 70000", 2020, kSmtpPort, kSmtpPort, 70000, 25},
      // Numbers only ever compared with 1, or placed by the window on a
      // screen that exists: any value is harmless and kept.
      {"sound switch 7", 3312, kSoundOn1, kSoundOn1, 7, 7},
      {"window left -1200", 3312, kWindowLeft, kWindowLeft, -1200, -1200},
  };
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    count.Add("absurd settings");
    std::string image = DefaultFile();
    if (c.fileSize != 3312) {
      // An older record: valid ports, and the speed where it lay then.
      image.assign(c.fileSize, '\0');
      image.replace(kPopPort, 4, Int32(110)).replace(kSmtpPort, 4, Int32(25));
      if (c.fileSize > kSpeedIn2860) image.replace(kSpeedIn2860, 4, Int32(5));
    }
    image.replace(c.fileOffset, 4, Int32(c.stored));
    WriteBytes(Cfg(), image);

    Settings settings;
    ASSERT_EQ(settings.LoadSettings(), 0);
    const std::string record(reinterpret_cast<const char*>(&settings.record), 3312);
    EXPECT_EQ(At(record, c.recordOffset), c.loaded);
    if (c.fileSize != 3312) continue;
    // Nothing else moves: the next save writes the file back with only the
    // replaced number changed.
    ASSERT_EQ(settings.SaveSettings(), 0);
    std::string expected = image;
    expected.replace(c.recordOffset, 4, Int32(c.loaded));
    EXPECT_TRUE(ReadBytes(Cfg()) == expected);
  }
}

}  // namespace
}  // namespace velkaro
