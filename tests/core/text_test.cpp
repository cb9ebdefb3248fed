// Lines, records and paths.
#include <gtest/gtest.h>

#include "core/zentool.h"

namespace velkaro {
namespace {

struct LineCase {
  const char* text;
  int count;
};

TEST(ZenCountLines, CountsCrLfPairsOnly) {
  const LineCase cases[] = {
      {"", 0}, {"a\r\nb\r\n", 2}, {"a\r\nb", 1}, {"\r\n\r\n", 2}, {"a\nb\r", 0}, {"\r\r\n", 1},
  };
  Zentool z;
  for (const auto& c : cases) EXPECT_EQ(z.ZenCountLines(c.text), c.count) << c.text;
}

}  // namespace
}  // namespace velkaro
