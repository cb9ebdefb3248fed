// Conversions between the system's Shift_JIS (code page 932) texts and the
// UTF-8 of file names, command-line arguments and the window system.
#pragma once

#include <string>

namespace velkaro {

// Shift_JIS to UTF-8. Bytes that are not valid CP932 become U+FFFD.
std::string SjisToUtf8(const std::string& sjis);

// UTF-8 to Shift_JIS. Characters with no CP932 form (and invalid UTF-8
// bytes) become the geta mark 〓; their number is added to `*unmappable`.
// Characters that have a CP932 form under another code point (the JIS
// WAVE DASH U+301C for CP932's U+FF5E, MINUS SIGN U+2212 for U+FF0D, …)
// are written through that form.
std::string Utf8ToSjis(const std::string& utf8, int* unmappable = nullptr);

// The Shift_JIS form of a UTF-8 string literal, converted once and kept:
// lets the code spell the system's Japanese texts readably.
const std::string& Sjis(const char* utf8Literal);

}  // namespace velkaro
