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

bool IsTrail(unsigned char b) {
  return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

// JIS row and cell (1-based) of a Shift_JIS pair, or 0 when the lead lies
// past row 94.
bool RowAndCell(unsigned char lead, unsigned char trail, int* row, int* cell) {
  int r = lead <= 0x9F ? (lead - 0x81) * 2 + 1 : (lead - 0xE0) * 2 + 63;
  int c = 0;
  if (trail >= 0x9F) {
    ++r;
    c = trail - 0x9E;
  } else {
    c = trail - (trail >= 0x80 ? 0x40 : 0x3F);
  }
  if (r < 1 || r > 94 || c < 1 || c > 94) return false;
  *row = r;
  *cell = c;
  return true;
}

}  // namespace

bool IsJisX0208Pair(unsigned char lead, unsigned char trail) {
  if (!Zentool::ZenIsSjisLead(lead) || !IsTrail(trail)) return false;
  int row = 0;
  int cell = 0;
  if (!RowAndCell(lead, trail, &row, &cell)) return false;
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
        IsTrail(static_cast<unsigned char>(sjis[i + 1]))) {
      if (!IsJisX0208Pair(b, static_cast<unsigned char>(sjis[i + 1]))) note(sjis.substr(i, 2));
      ++i;
      continue;
    }
    note(sjis.substr(i, 1));
  }
  return found;
}

}  // namespace velkaro
