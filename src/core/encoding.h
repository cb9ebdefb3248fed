// Conversions between the system's Shift_JIS (code page 932) texts and the
// UTF-8 of file names, command-line arguments and the window system.
#pragma once

#include <string>

namespace velkaro {

// Shift_JIS to UTF-8, each character as Windows' CP932 reads it: the NEC
// and IBM extensions included (① U+2460, 髙 U+9AD9 from 0xFBFC and from
// 0xEEE0 alike), the user-defined area as U+E000–U+E757, and the lone
// bytes 0x80, 0xA0, 0xFD–0xFF as U+0080, U+F8F0–U+F8F3. Bytes that are not
// valid CP932 become U+FFFD.
std::string SjisToUtf8(const std::string& sjis);

// UTF-8 to Shift_JIS. Characters with no CP932 form (and invalid UTF-8
// bytes) become the geta mark 〓; their number is added to `*unmappable`.
// Characters that have a CP932 form under another code point (the JIS
// WAVE DASH U+301C for CP932's U+FF5E, MINUS SIGN U+2212 for U+FF0D, …)
// are written through that form.
// A character CP932 holds under two or three codes gets the one Windows
// writes: the JIS row 2 code where there is one (≒ 0x81E0, ∵ 0x81E6,
// ￢ 0x81CA), else the NEC row 13 code (Ⅰ 0x8754, № 0x8782), else the IBM
// extension code (髙 0xFBFC, ⅰ 0xFA40); never the NEC-selected copy in
// 0xED40–0xEEFC.
std::string Utf8ToSjis(const std::string& utf8, int* unmappable = nullptr);

// The Shift_JIS form of a UTF-8 string literal, converted once and kept:
// lets the code spell the system's Japanese texts readably.
const std::string& Sjis(const char* utf8Literal);

}  // namespace velkaro
