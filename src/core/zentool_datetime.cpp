// Date and time by style number, in the platform's local time.
#include <ctime>
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "platform/platform.h"

namespace velkaro {
namespace {

std::string Strftime(const std::tm& tm, const char* format) {
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, n);
}

std::string Weekday(const std::tm& tm) {
  static const char* const kDays[7] = {"日", "月", "火", "水", "木", "金", "土"};
  if (tm.tm_wday < 0 || tm.tm_wday > 6) return {};
  return Sjis(kDays[tm.tm_wday]);
}

}  // namespace

std::string Zentool::FormatDateTime(std::time_t t, int style) const {
  const std::tm tm = CurrentPlatform().LocalTime(t);
  switch (style) {
    case 1: return Strftime(tm, "%Y");
    case 2: return Strftime(tm, "%m");
    case 3: return Strftime(tm, "%d");
    case 4: return Strftime(tm, "%H");
    case 5: return Strftime(tm, "%M");
    case 6: return Strftime(tm, "%S");
    case 7: return Weekday(tm);
    case 11:
      return Strftime(tm, "%Y") + Sjis("年") + Strftime(tm, "%m") + Sjis("月") +
             Strftime(tm, "%d") + Sjis("日");
    case 12: return Strftime(tm, "%Y/%m/%d");
    case 13: return Strftime(tm, "%Y%m%d");
    case 15: return FormatDateTime(t, 11) + "(" + Weekday(tm) + ")";
    case 21:
      return Strftime(tm, "%H") + Sjis("時") + Strftime(tm, "%M") + Sjis("分") +
             Strftime(tm, "%S") + Sjis("秒");
    case 22: return Strftime(tm, "%H:%M:%S");
    case 23: return Strftime(tm, "%H%M%S");
    default: return {};
  }
}

}  // namespace velkaro
