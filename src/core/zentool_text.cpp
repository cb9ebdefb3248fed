// Lines and records. CR, LF and TAB can never be the trail byte of a
// double-byte Shift_JIS character (trail bytes are 0x40 and above), so a
// plain byte search never finds one inside a character.
#include <string>

#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr char kCrLf[] = "\r\n";

// Start offset of line i, or npos when the text has fewer than i line ends.
std::size_t LineStart(const std::string& text, int i) {
  std::size_t start = 0;
  for (int line = 0; line < i; ++line) {
    const std::size_t end = text.find(kCrLf, start);
    if (end == std::string::npos) return std::string::npos;
    start = end + 2;
  }
  return start;
}

}  // namespace

int Zentool::ZenCountLines(const std::string& text) const {
  int count = 0;
  for (std::size_t pos = text.find(kCrLf); pos != std::string::npos;
       pos = text.find(kCrLf, pos + 2)) {
    ++count;
  }
  return count;
}

std::string Zentool::ZenGetLine(const std::string& text, int i) const {
  if (i < 0) return {};
  const std::size_t start = LineStart(text, i);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(kCrLf, start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Zentool::ZenGetLineCrLf(const std::string& text, int i) const {
  return ZenGetLine(text, i) + kCrLf;
}

std::string Zentool::ZenDeleteLine(const std::string& text, int i) const {
  if (i < 0) return text;
  const std::size_t start = LineStart(text, i);
  if (start == std::string::npos) return text;
  const std::size_t end = text.find(kCrLf, start);
  std::string out = text.substr(0, start);
  if (end != std::string::npos) out.append(text, end + 2, std::string::npos);
  return out;
}

std::string Zentool::ZenGetTabItem(const std::string& record, int i) const {
  if (i < 0) return {};
  std::size_t start = 0;
  for (int field = 0; field < i; ++field) {
    const std::size_t tab = record.find('\t', start);
    if (tab == std::string::npos) return {};
    start = tab + 1;
  }
  const std::size_t tab = record.find('\t', start);
  if (tab != std::string::npos) return record.substr(start, tab - start);
  // The last field of a record counts only when its line is ended.
  const std::size_t end = record.find(kCrLf, start);
  if (end == std::string::npos) return {};
  return record.substr(start, end - start);
}

}  // namespace velkaro
