#include "core/jis_x0208.h"

#include <algorithm>
#include <cstdint>

#include "core/sjis_canonical.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

struct RowCells {
  std::uint64_t low;   // cells 1..64
  std::uint64_t high;  // cells 65..94
};

constexpr RowCells kRows[94] = {
#include "core/jis_x0208_cells.inc"
};

}  // namespace

bool IsJisX0208Pair(unsigned char lead, unsigned char trail) {
  const std::uint16_t code = Zentool::ZenSjisPairToJis(lead, trail);
  if (code == 0) return false;
  const int row = (code >> 8) - 0x20;
  const int cell = (code & 0xFF) - 0x20;
  const RowCells& cells = kRows[row - 1];
  return cell <= 64 ? (cells.low >> (cell - 1)) & 1U : (cells.high >> (cell - 65)) & 1U;
}

std::vector<std::string> CharactersBeyondJis(const std::string& sjis) {
  std::vector<std::string> found;
  const auto note = [&found](const std::string& bytes) {
    // One entry per character, whichever of its CP932 codes the text used.
    std::string character = CanonicalSjis(bytes);
    if (std::find(found.begin(), found.end(), character) == found.end()) {
      found.push_back(std::move(character));
    }
  };
  for (std::size_t i = 0; i < sjis.size(); ++i) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    if (b < 0x80) continue;
    if (Zentool::ZenIsSjisLead(b) && i + 1 < sjis.size() &&
        Zentool::ZenIsSjisTrail(static_cast<unsigned char>(sjis[i + 1]))) {
      if (!IsJisX0208Pair(b, static_cast<unsigned char>(sjis[i + 1]))) note(sjis.substr(i, 2));
      ++i;
      continue;
    }
    note(sjis.substr(i, 1));
  }
  return found;
}

}  // namespace velkaro
