#include "jis_check.h"

#include "core/zentool.h"

namespace velkaro::fuzz {
namespace {

constexpr char kEsc = '\x1b';

bool IsJisByte(unsigned char b) {
  return b >= 0x21 && b <= 0x7E;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::string> ReadJis(const std::string& jis) {
  std::string chars;
  bool inRun = false;
  bool runEmpty = false;
  for (std::size_t i = 0; i < jis.size();) {
    const auto b = static_cast<unsigned char>(jis[i]);
    if (b >= 0x80) return std::nullopt;
    if (b == kEsc) {
      const std::string designation = jis.substr(i + 1, 2);
      if (!inRun && designation == "$B") {
        inRun = runEmpty = true;
      } else if (inRun && designation == "(B" && !runEmpty) {
        inRun = false;
      } else {
        return std::nullopt;
      }
      i += 3;
    } else if (inRun) {
      if (i + 1 >= jis.size()) return std::nullopt;
      const auto second = static_cast<unsigned char>(jis[i + 1]);
      if (!IsJisByte(b) || !IsJisByte(second)) return std::nullopt;
      chars += static_cast<char>(b | 0x80);
      chars += static_cast<char>(second | 0x80);
      runEmpty = false;
      i += 2;
    } else {
      chars += static_cast<char>(b);
      ++i;
    }
  }
  if (inRun) return std::nullopt;
  return chars;
}

std::optional<std::string> DecodeBase64(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int fill = 0;
    if (last && text[i + 3] == '=') fill = text[i + 2] == '=' ? 2 : 1;
    unsigned group = 0;
    for (int k = 0; k < 4; ++k) {
      const int v = k >= 4 - fill ? 0 : Base64Value(text[i + k]);
      if (v < 0) return std::nullopt;
      group = group << 6 | static_cast<unsigned>(v);
    }
    // The bits that stand only for the fill must be zero.
    if ((fill == 1 && (group & 0xFF) != 0) || (fill == 2 && (group & 0xFFFF) != 0)) {
      return std::nullopt;
    }
    out += static_cast<char>(group >> 16);
    if (fill < 2) out += static_cast<char>(group >> 8 & 0xFF);
    if (fill < 1) out += static_cast<char>(group & 0xFF);
  }
  return out;
}

std::string StandaloneAscii(const std::string& sjis) {
  std::string out;
  for (std::size_t i = 0; i < sjis.size(); ++i) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    if (b < 0x80) {
      out += static_cast<char>(b);
      continue;
    }
    if (!Zentool::ZenIsSjisLead(b) || i + 1 >= sjis.size()) continue;
    const auto next = static_cast<unsigned char>(sjis[i + 1]);
    if ((next >= 0x40 && next <= 0x7E) || (next >= 0x80 && next <= 0xFC)) ++i;
  }
  return out;
}

}  // namespace velkaro::fuzz
