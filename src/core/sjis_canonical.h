// One spelling for characters that CP932 holds under more than one code.
//
// The NEC-selected IBM extensions (0xED40–0xEEFC) repeat the IBM extensions
// (0xFA40–0xFC4B), and NEC row 13 (0x8740–0x879C) repeats a few characters
// of JIS row 2 and of the IBM extensions. Which copy a file holds depends
// on the program that wrote it (Windows writes 髙 as 0xFBFC, other
// converters as 0xEEE0), so names typed in one place and stored in another
// must be compared by character, never by byte.
#pragma once

#include <string>

namespace velkaro {

// The text with every duplicate code replaced by the code Utf8ToSjis writes
// for its character (the one Windows writes). Everything else, ASCII,
// half-width katakana and bytes that are not valid CP932 included, stays
// as it is, so the result has the same length and the same character
// boundaries as the input: a position found in it is a position in the
// input.
std::string CanonicalSjis(const std::string& sjis);

// True when both texts hold the same characters, whichever copy of a
// duplicate each one uses.
bool SameSjisCharacters(const std::string& a, const std::string& b);

}  // namespace velkaro
