// Velkaro.ini is read whole up to 1 MiB; a longer file is not a settings
// file the program wrote and is refused rather than read in part.
#include <gtest/gtest.h>

#include <string>

#include "data/velkaro_ini.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::TempDir;
using testing::WriteBytes;

TEST(VelkaroIniSize, ReadsUpToTheLimitAndRefusesMore) {
  constexpr std::size_t kLimit = 1024 * 1024;
  const std::string entry = "[smtp]\r\nsmtpSecurity=starttls\r\n";
  struct Case {
    std::size_t size;
    int load;
  };
  const Case cases[] = {
      {entry.size(), 0}, {65536 + 1, 0},  {kLimit - 1, 0},
      {kLimit, 0},       {kLimit + 1, 1}, {3 * kLimit, 1},
  };
  for (const Case& c : cases) {
    TempDir dir;
    // Comment lines first, the entry at the very end: a file read in part
    // would lose it.
    std::string text;
    for (std::size_t room = c.size - entry.size(); room > 0;) {
      const std::size_t line = room < 160 ? room : 80;  // ";xxx…\r\n", at least 3 bytes
      text += ";" + std::string(line - 3, 'x') + "\r\n";
      room -= line;
    }
    text += entry;
    ASSERT_EQ(text.size(), c.size);
    const std::string path = dir.File("Velkaro.ini");
    WriteBytes(path, text);
    VelkaroIni ini(path);
    EXPECT_EQ(ini.Load(), c.load) << c.size << " bytes";
    if (c.load == 0) {
      EXPECT_EQ(ini.Get("smtpSecurity"), "starttls") << c.size << " bytes";
    }
  }
}

}  // namespace
}  // namespace velkaro
