#include "core/text_file.h"

#include <cstddef>
#include <string>

#include "core/encoding.h"
#include "core/text_bytes.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD
constexpr int kReadChunk = 64 * 1024;

struct Utf8Scan {
  bool valid = true;
  std::size_t longest = 1;  // longest sequence seen, in bytes
};

bool IsContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
Utf8Scan ScanUtf8(const std::string& bytes, std::size_t from) {
  Utf8Scan scan;
  const std::size_t n = bytes.size();
  for (std::size_t i = from; i < n;) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      scan.valid = false;
      return scan;
    }
    if (i + length > n) {
      scan.valid = false;
      return scan;
    }
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    if (second < low || second > high) {
      scan.valid = false;
      return scan;
    }
    for (std::size_t k = 2; k < length; ++k) {
      if (!IsContinuation(static_cast<unsigned char>(bytes[i + k]))) {
        scan.valid = false;
        return scan;
      }
    }
    if (length > scan.longest) scan.longest = length;
    i += length;
  }
  return scan;
}

// Every byte a single-byte character (ASCII, half-width katakana) or part
// of a lead/trail pair of CP932.
bool IsValidSjis(const std::string& bytes) {
  const std::size_t n = bytes.size();
  for (std::size_t i = 0; i < n;) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) {
      ++i;
    } else if (Zentool::ZenIsSjisLead(b)) {
      if (i + 1 >= n) return false;
      const auto t = static_cast<unsigned char>(bytes[i + 1]);
      if (!IsSjisTrail(t)) return false;
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

TextEncoding DetectEncoding(const std::string& bytes) {
  if (bytes.compare(0, 3, kBom) == 0) return TextEncoding::Utf8Bom;
  const Utf8Scan scan = ScanUtf8(bytes, 0);
  if (!scan.valid || scan.longest == 1) return TextEncoding::ShiftJis;
  if (scan.longest == 2 && IsValidSjis(bytes)) return TextEncoding::ShiftJis;
  return TextEncoding::Utf8;
}

// CR and LF are never the trail byte of a Shift_JIS pair nor part of a
// UTF-8 sequence, so both encodings can be searched byte by byte.
LineEnds DetectLineEnds(const std::string& bytes) {
  bool crLf = false, lf = false;
  for (std::size_t pos = bytes.find('\n'); pos != std::string::npos;
       pos = bytes.find('\n', pos + 1)) {
    if (pos > 0 && bytes[pos - 1] == '\r') {
      crLf = true;
    } else {
      lf = true;
    }
  }
  if (crLf && !lf) return LineEnds::CrLf;
  if (lf && !crLf) return LineEnds::Lf;
  return LineEnds::Mixed;
}

std::string CrLfToLf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

int CountReplacements(const std::string& utf8) {
  int count = 0;
  for (std::size_t pos = utf8.find(kReplacementUtf8); pos != std::string::npos;
       pos = utf8.find(kReplacementUtf8, pos + 3)) {
    ++count;
  }
  return count;
}

}  // namespace

TextFileContent DecodeText(const std::string& bytes) {
  TextFileContent content;
  if (bytes.empty()) return content;
  content.ok = true;
  content.encoding = DetectEncoding(bytes);
  content.lineEnds = DetectLineEnds(bytes);
  const std::string sjis =
      content.encoding == TextEncoding::ShiftJis ? bytes : Utf8ToSjis(bytes, &content.unmappable);
  content.sjis = content.lineEnds == LineEnds::CrLf ? sjis : LoneLfToCrLf(sjis);
  return content;
}

TextFileContent ReadTextFile(const std::string& path) {
  return DecodeText(Zentool().ZenReadFile(path, kReadChunk));
}

std::string EncodeTextForFile(const std::string& sjisCrLf, TextEncoding encoding, LineEnds lineEnds,
                              int* unmappable) {
  std::string out;
  if (encoding == TextEncoding::ShiftJis) {
    out = sjisCrLf;
  } else {
    const std::string utf8 = SjisToUtf8(sjisCrLf);
    // CP932 has no form of U+FFFD, so every one in the result stands for
    // bytes that were no valid Shift_JIS.
    if (unmappable != nullptr) *unmappable += CountReplacements(utf8);
    out = encoding == TextEncoding::Utf8Bom ? kBom + utf8 : utf8;
  }
  return lineEnds == LineEnds::Lf ? CrLfToLf(out) : out;
}

std::string LoneLfToCrLf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

}  // namespace velkaro
