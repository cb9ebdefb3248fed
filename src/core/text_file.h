// Text files as the rest of the system sees them. Every layer works on
// Shift_JIS texts whose lines end in CR LF, but on Linux the files a user
// hands us are often UTF-8 and end their lines in a bare LF. This reader
// turns either kind into the system's form and remembers what it found, so
// that a file can be written back the way it came.
//
// Line ends: a lone LF becomes CR LF. A lone CR is kept as it is: it is an
// ordinary byte inside a line for every other part of the system, and
// turning it into a line end would change files written by the system
// itself, which must load byte for byte as they were saved.
//
// Encoding: a file is read as UTF-8 when it starts with a byte-order mark,
// or when it is valid UTF-8 holding at least one multi-byte sequence and
// is not just as well plain Shift_JIS with only two-byte sequences in it.
// The last condition keeps half-width katakana readings such as "ﾅｶ" (C5
// B6, also the UTF-8 form of "Ŷ") as what they are: UTF-8 Japanese text
// always holds three-byte sequences (kana, kanji, full-width forms). Pure
// ASCII is Shift_JIS and passes unchanged.
#pragma once

#include <string>

namespace velkaro {

enum class TextEncoding {
  ShiftJis,  // taken as it is
  Utf8,      // UTF-8 without a byte-order mark
  Utf8Bom,   // UTF-8 starting with EF BB BF
};

enum class LineEnds {
  CrLf,   // every line end is CR LF
  Lf,     // every line end is a bare LF
  Mixed,  // both kinds, or no line end at all; written back as CR LF
};

struct TextFileContent {
  std::string sjis;  // Shift_JIS, lines ended by CR LF
  TextEncoding encoding = TextEncoding::ShiftJis;
  LineEnds lineEnds = LineEnds::Mixed;
  int unmappable = 0;  // characters with no CP932 form, now 〓
  bool ok = false;     // false: missing, empty or unreadable file
};

// The bytes of a file (or any other source) in the system's form.
// Empty bytes give ok = false.
TextFileContent DecodeText(const std::string& bytes);

// The whole file in the system's form; ok = false and an empty text when
// the file is missing, empty or cannot be read.
TextFileContent ReadTextFile(const std::string& path);

// A bare LF becomes CR LF; CR LF and a lone CR stay as they are.
std::string LoneLfToCrLf(const std::string& text);

// The counterpart for writing: a Shift_JIS CR LF text in the encoding and
// line-end style a file had when it was read. Bytes that are no valid
// Shift_JIS become U+FFFD in UTF-8 and are added to `*unmappable`.
std::string EncodeTextForFile(const std::string& sjisCrLf, TextEncoding encoding, LineEnds lineEnds,
                              int* unmappable = nullptr);

}  // namespace velkaro
