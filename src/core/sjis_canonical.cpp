#include "core/sjis_canonical.h"

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/encoding.h"
#include "core/text_bytes.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr unsigned kGetaCode = 0x81AC;  // what Utf8ToSjis writes for U+FFFD

struct DuplicateTable {
  std::array<bool, 256> leadHasDuplicates{};
  std::unordered_map<unsigned, unsigned> canonical;  // duplicate code → code written
};

std::vector<unsigned> AllDoubleByteCodes() {
  std::vector<unsigned> codes;
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!Zentool::ZenIsSjisLead(static_cast<int>(lead))) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (IsSjisTrail(static_cast<unsigned char>(trail))) codes.push_back(lead * 256 + trail);
    }
  }
  return codes;
}

// Derived from the converter itself rather than written out, so that the
// canonical code is by construction the one every text converted from
// UTF-8 carries: each code goes to UTF-8 and back, and those that come
// back as another code are duplicates. All codes travel in one text, one
// per line, because LF is never part of a double-byte character.
DuplicateTable BuildTable() {
  const std::vector<unsigned> codes = AllDoubleByteCodes();
  std::string sjis;
  sjis.reserve(codes.size() * 3);
  for (unsigned code : codes) {
    sjis += static_cast<char>(code >> 8);
    sjis += static_cast<char>(code & 0xFF);
    sjis += '\n';
  }
  const std::string back = Utf8ToSjis(SjisToUtf8(sjis));
  DuplicateTable table;
  std::size_t start = 0;
  for (unsigned code : codes) {
    const std::size_t end = back.find('\n', start);
    if (end == std::string::npos) break;
    if (end - start == 2) {
      const unsigned written = static_cast<unsigned char>(back[start]) * 256u +
                               static_cast<unsigned char>(back[start + 1]);
      // An unassigned code comes back as the geta mark, which is no copy.
      if (written != code && written != kGetaCode) {
        table.canonical.emplace(code, written);
        table.leadHasDuplicates[code >> 8] = true;
      }
    }
    start = end + 1;
  }
  return table;
}

const DuplicateTable& Duplicates() {
  static const DuplicateTable table = BuildTable();
  return table;
}

}  // namespace

std::string CanonicalSjis(const std::string& sjis) {
  const DuplicateTable& table = Duplicates();
  std::string out = sjis;
  std::size_t i = 0;
  while (i < out.size()) {
    const auto lead = static_cast<unsigned char>(out[i]);
    // Characters are walked the way the rest of the system walks them: a
    // lead byte takes the next byte whatever it is.
    if (!Zentool::ZenIsSjisLead(lead) || i + 1 == out.size()) {
      ++i;
      continue;
    }
    if (table.leadHasDuplicates[lead]) {
      const unsigned code = lead * 256u + static_cast<unsigned char>(out[i + 1]);
      if (const auto found = table.canonical.find(code); found != table.canonical.end()) {
        out[i] = static_cast<char>(found->second >> 8);
        out[i + 1] = static_cast<char>(found->second & 0xFF);
      }
    }
    i += 2;
  }
  return out;
}

bool SameSjisCharacters(const std::string& a, const std::string& b) {
  return a.size() == b.size() && (a == b || CanonicalSjis(a) == CanonicalSjis(b));
}

}  // namespace velkaro
