// Shift_JIS (CP932) to ISO-2022-JP (RFC 1468) for mail bodies and the
// payload of encoded words.
//
// Only two designations are ever written: ESC $ B (JIS X 0208) and ESC ( B
// (ASCII). RFC 1468 also allows ESC ( J and ESC $ @, but many receivers
// handle nothing beyond these two, and no receiver needs more. The output is
// strictly 7-bit: every input byte that has no JIS X 0208 or ASCII form
// still turns into a double-byte character, so nothing 8-bit ever reaches a
// "7bit" mail part.
//
// A double-byte run is opened before the first double-byte character of a
// sequence and closed right before the next ASCII byte and at the end of the
// text, so CR LF (and every line) always ends in ASCII, as RFC 1468 requires.
#include <array>
#include <cstdint>

#include "core/pump_pacer.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr char kEscJisX0208[] = "\x1b$B";
constexpr char kEscAscii[] = "\x1b(B";
constexpr std::size_t kEscLength = 3;

// 〓 (the geta mark, row 2 cell 14): the conventional stand-in for a
// character that cannot be written, the same one the rest of the system
// uses for unmappable text.
constexpr std::uint16_t kGeta = 0x222E;

// IBM extension characters (leads 0xFA-0xFC) lie beyond row 94, so JIS has
// no code for them as they are. Each one also exists elsewhere in CP932:
// written through that code they reach a Windows receiver as the very same
// character (and nkf makes the same substitution).
struct IbmSubstitute {
  std::uint16_t ibm;
  std::uint16_t other;
};
constexpr IbmSubstitute kIbmSubstitutes[] = {
#include "core/jis_ibm_table.inc"
};

constexpr unsigned kIbmFirstLead = 0xFA;
constexpr unsigned kIbmLeads = 3;
constexpr unsigned IbmIndex(unsigned lead, unsigned trail) {
  return ((lead - kIbmFirstLead) << 8) | trail;
}

// JIS codes indexed by (lead - 0xFA) * 256 + trail; 0 for unassigned codes.
constexpr std::array<std::uint16_t, kIbmLeads * 256> MakeIbmTable() {
  std::array<std::uint16_t, kIbmLeads * 256> table{};
  for (const IbmSubstitute& s : kIbmSubstitutes) {
    table[IbmIndex(s.ibm >> 8, s.ibm & 0xFF)] =
        Zentool::ZenSjisPairToJis(s.other >> 8, s.other & 0xFF);
  }
  return table;
}
constexpr auto kIbmTable = MakeIbmTable();
static_assert(kIbmTable[IbmIndex(0xFA, 0x40)] == 0x7C71, "ⅰ goes through NEC-selected 0xEEEF");
static_assert(kIbmTable[IbmIndex(0xFA, 0x54)] == 0x224C, "¬ goes through standard 0x81CA");

// Half-width katakana 0xA1-0xDF as their full-width JIS X 0208 forms
// (RFC 1468 has no room for JIS X 0201 katakana; ESC ( I is not allowed in
// mail). Index: byte - 0xA1.
// clang-format off
constexpr std::uint16_t kWideKana[63] = {
    // ｡     ｢       ｣       ､       ･       ｦ       ｧ       ｨ
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523,
    // ｩ     ｪ       ｫ       ｬ       ｭ       ｮ       ｯ       ｰ
    0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C,
    // ｱ     ｲ       ｳ       ｴ       ｵ       ｶ       ｷ       ｸ
    0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F,
    // ｹ     ｺ       ｻ       ｼ       ｽ       ｾ       ｿ       ﾀ
    0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F,
    // ﾁ     ﾂ       ﾃ       ﾄ       ﾅ       ﾆ       ﾇ       ﾈ
    0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D,
    // ﾉ     ﾊ       ﾋ       ﾌ       ﾍ       ﾎ       ﾏ       ﾐ
    0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F,
    // ﾑ     ﾒ       ﾓ       ﾔ       ﾕ       ﾖ       ﾗ       ﾘ
    0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, 0x256A,
    // ﾙ     ﾚ       ﾛ       ﾜ       ﾝ       ﾞ       ﾟ
    0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,
};
// clang-format on
constexpr unsigned kVoicedMark = 0xDE;      // ﾞ
constexpr unsigned kSemiVoicedMark = 0xDF;  // ﾟ
constexpr std::uint16_t kVu = 0x2574;       // ヴ

// The full-width letter that a half-width letter and the sound mark after it
// make together, or 0 when JIS X 0208 has no such letter (then the mark
// stays a character of its own, ゛ or ゜). In the katakana row the voiced
// letter directly follows the plain one and the semi-voiced one follows
// that (ハ バ パ).
constexpr std::uint16_t CombinedKana(unsigned letter, unsigned mark) {
  const std::uint16_t plain = kWideKana[letter - 0xA1];
  const bool kaToTo = letter >= 0xB6 && letter <= 0xC4;  // ｶ … ﾄ
  const bool haToHo = letter >= 0xCA && letter <= 0xCE;  // ﾊ … ﾎ
  if (mark == kVoicedMark) {
    if (letter == 0xB3) return kVu;  // ｳﾞ
    if (kaToTo || haToHo) return static_cast<std::uint16_t>(plain + 1);
  } else if (mark == kSemiVoicedMark && haToHo) {
    return static_cast<std::uint16_t>(plain + 2);
  }
  return 0;
}

}  // namespace

std::string Zentool::ZenSjisToJis(std::string text) const {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* const end = p + text.size();

  // One step writes at most 5 bytes (ESC $ B and a character) and closing
  // the last run 3 more. Japanese mail text grows by about a tenth, so the
  // first guess nearly always holds; otherwise the buffer doubles.
  constexpr std::size_t kMaxStep = 8;
  std::string out;
  out.resize(text.size() + text.size() / 4 + 2 * kMaxStep);
  char* q = out.data();
  char* limit = out.data() + out.size() - kMaxStep;

  // The event loop is served at the start of every step so that the window
  // stays responsive on long bodies; the pacer lets the real pump run at
  // most once per millisecond, which keeps a 10 MB body fast.
  PumpPacer pacer;
  bool inRun = false;
  for (;;) {
    pacer.Step([this] { Pump(); });
    if (p == end) break;
    if (q > limit) {
      const std::size_t used = static_cast<std::size_t>(q - out.data());
      out.resize(out.size() * 2);
      q = out.data() + used;
      limit = out.data() + out.size() - kMaxStep;
    }

    const unsigned b = *p;
    if (b < 0x80) {
      if (inRun) {
        for (std::size_t i = 0; i < kEscLength; ++i) *q++ = kEscAscii[i];
        inRun = false;
      }
      *q++ = static_cast<char>(b);
      ++p;
      continue;
    }

    std::uint16_t code;
    if (ZenIsSjisLead(static_cast<int>(b))) {
      const unsigned trail = p + 1 < end ? p[1] : 0;
      if (!Zentool::ZenIsSjisTrail(trail)) {
        // A lead byte without its trail byte (the text ends, or the next
        // byte is ASCII or 0xFD-0xFF). The lost character becomes 〓 and the
        // next byte is taken on its own: swallowing it could eat the CR of
        // a line end or put it inside a run.
        code = kGeta;
        p += 1;
      } else {
        code = b >= kIbmFirstLead ? kIbmTable[IbmIndex(b, trail)]
                                  : Zentool::ZenSjisPairToJis(b, trail);
        // User-defined characters (0xF040-0xF9FC) and unassigned IBM codes
        // have no form any receiver shares with us.
        if (code == 0) code = kGeta;
        p += 2;
      }
    } else if (b >= 0xA1 && b <= 0xDF) {
      const unsigned next = p + 1 < end ? p[1] : 0;
      const std::uint16_t combined =
          (next == kVoicedMark || next == kSemiVoicedMark) ? CombinedKana(b, next) : 0;
      if (combined != 0) {
        code = combined;
        p += 2;
      } else {
        code = kWideKana[b - 0xA1];
        p += 1;
      }
    } else {
      code = kGeta;  // 0x80, 0xA0, 0xFD-0xFF: no character in CP932
      p += 1;
    }

    if (!inRun) {
      for (std::size_t i = 0; i < kEscLength; ++i) *q++ = kEscJisX0208[i];
      inRun = true;
    }
    *q++ = static_cast<char>(code >> 8);
    *q++ = static_cast<char>(code & 0xFF);
  }
  if (inRun) {
    for (std::size_t i = 0; i < kEscLength; ++i) *q++ = kEscAscii[i];
  }
  out.resize(static_cast<std::size_t>(q - out.data()));
  return out;
}

}  // namespace velkaro
