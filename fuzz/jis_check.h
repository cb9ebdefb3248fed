// Reading back what the ISO-2022-JP conversion wrote, for the fuzz targets.
#pragma once

#include <optional>
#include <string>

namespace velkaro::fuzz {

// The characters of an ISO-2022-JP text as one byte string: ASCII bytes as
// they are, each JIS X 0208 character as its two bytes with the high bit
// set, so the two kinds can never be mistaken for each other. Nothing when
// the text breaks the rules the converter promises (RFC 1468): 7-bit only;
// ESC only in "ESC $ B" opening a run from ASCII and "ESC ( B" closing one;
// no empty run; inside a run only pairs of 0x21-0x7E (so never CR or LF);
// the text ends in ASCII.
std::optional<std::string> ReadJis(const std::string& jis);

// Strict RFC 4648 Base64 (the alphabet of RFC 2045, "=" only as the fill of
// the last group, unused bits zero, no line breaks); nothing when `text` is
// not in that form.
std::optional<std::string> DecodeBase64(const std::string& text);

// The bytes of a Shift_JIS text below 0x80 that stand for themselves: all
// but the trail bytes of lead/trail pairs, in the way the converter pairs
// bytes (a lead byte takes the next byte when it is 0x40-0x7E or 0x80-0xFC).
std::string StandaloneAscii(const std::string& sjis);

}  // namespace velkaro::fuzz
