// Which Shift_JIS characters ISO-2022-JP can carry to every reader.
//
// ISO-2022-JP (RFC 1468) holds ASCII and the assigned cells of JIS X 0208.
// CP932 has more: half-width katakana, NEC row 13 (①, ㈱, №), the NEC and
// IBM extensions (髙, 﨑) and the user-defined area. Their ISO-2022-JP
// arithmetic lands on cells JIS X 0208 leaves empty, which strict decoders
// show as U+FFFD or, worse, lose their step on, so a mail holding one goes
// out in UTF-8 instead.
#pragma once

#include <string>
#include <vector>

namespace velkaro {

// True for the double-byte Shift_JIS character `lead` `trail` when it is an
// assigned cell of JIS X 0208 (rows 1–84, only the cells the standard
// fills).
bool IsJisX0208Pair(unsigned char lead, unsigned char trail);

// The characters of `sjis` that are neither ASCII nor JIS X 0208, each once
// (in the code Windows writes, see CanonicalSjis), in order of first
// appearance, as Shift_JIS. Empty when the whole text
// can go as ISO-2022-JP. A lead byte at the end of the text, and a lead
// byte with an invalid trail, count as such characters on their own.
std::vector<std::string> CharactersBeyondJis(const std::string& sjis);

}  // namespace velkaro
