// The byte tests and case folding every layer applies to its texts, each
// defined once: Shift_JIS lead and trail bytes, and ASCII letters.
#pragma once

#include <string>

namespace velkaro {

// A byte that starts a double-byte Shift_JIS (CP932) character.
constexpr bool IsSjisLead(unsigned char b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// A byte that can follow a lead byte.
constexpr bool IsSjisTrail(unsigned char b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC);
}

// 'A'…'Z' to 'a'…'z' (and back), every other byte as it is whatever the
// process's locale: protocol words, file extensions, settings values and
// header names are ASCII, and bytes above 0x7F must never change.
std::string AsciiLower(std::string text);
std::string AsciiUpper(std::string text);

// AsciiLower for a Shift_JIS text: the trail byte of a double-byte
// character can look like an ASCII letter (0x83 0x41 is ア) and is left
// alone.
std::string SjisAsciiLower(std::string sjis);

}  // namespace velkaro
