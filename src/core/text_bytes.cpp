#include "core/text_bytes.h"

namespace velkaro {

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string SjisAsciiLower(std::string sjis) {
  for (std::size_t i = 0; i < sjis.size(); ++i) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    if (IsSjisLead(b)) {
      ++i;
    } else if (b >= 'A' && b <= 'Z') {
      sjis[i] = static_cast<char>(b - 'A' + 'a');
    }
  }
  return sjis;
}

}  // namespace velkaro
