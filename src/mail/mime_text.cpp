#include "mail/mime_text.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <stdexcept>

#include "core/encoding.h"
#include "core/text_bytes.h"
#include "core/zentool.h"

namespace velkaro::mime {
namespace {

constexpr char kEsc = '\x1b';

constexpr char kWordStart[] = "=?ISO-2022-JP?B?";
constexpr char kUtf8WordStart[] = "=?UTF-8?B?";
constexpr char kWordEnd[] = "?=";

const char* WordStart(Charset charset) {
  return charset == Charset::Utf8 ? kUtf8WordStart : kWordStart;
}

// A piece of Shift_JIS text in the bytes an encoded word carries.
std::string Converted(const std::string& sjis, Charset charset) {
  if (charset == Charset::Utf8) return SjisToUtf8(sjis);
  return Zentool().ZenSjisToJis(sjis);
}
constexpr char kCrLf[] = "\r\n";

bool IsHalfWidthKana(unsigned char b) {
  return b >= 0xA1 && b <= 0xDF;
}
bool IsSoundMark(unsigned char b) {
  return b == 0xDE || b == 0xDF;
}

// Bytes of the character (as the conversion takes it) starting at `at`.
std::size_t UnitLength(const std::string& text, std::size_t at) {
  const auto b = static_cast<unsigned char>(text[at]);
  if (at + 1 >= text.size()) return 1;
  const auto next = static_cast<unsigned char>(text[at + 1]);
  if (Zentool::ZenIsSjisLead(b)) return 2;
  if (IsHalfWidthKana(b) && IsSoundMark(next)) return 2;
  return 1;
}

std::size_t Base64Length(std::size_t bytes) {
  return (bytes + 2) / 3 * 4;
}

// Payload room of the word that follows `prefixLength` characters of field
// name on the first line: what keeps that line within 76 characters, in
// whole Base64 groups, and never less than the largest single character
// needs.
std::size_t FirstWordPayload(std::size_t prefixLength, Charset charset) {
  const std::size_t wrapper = std::strlen(WordStart(charset)) + std::strlen(kWordEnd);
  const std::size_t used = prefixLength + wrapper;
  const std::size_t room = used < kPreferredLineLength ? kPreferredLineLength - used : 0;
  return std::clamp<std::size_t>(room / 4 * 4, 12, MaxWordPayload(charset));
}

std::string DrawProcessToken() {
  std::uint64_t value = 0;
  try {
    std::random_device device;
    value = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (const std::exception&) {
    // No entropy source: the clock's nanoseconds still differ between runs.
    value = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
  }
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

std::string& ProcessTokenSlot() {
  static std::string token = DrawProcessToken();
  return token;
}

bool IsAtext(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr;
}

}  // namespace

std::size_t MaxWordPayload(Charset charset) {
  const std::size_t wrapper = std::strlen(WordStart(charset)) + std::strlen(kWordEnd);
  return (kMaxWordLength - wrapper) / 4 * 4;
}

std::string EncodedWord(const std::string& payload, Charset charset) {
  return WordStart(charset) + payload + kWordEnd;
}

std::vector<std::string> SplitPayloads(const std::string& sjisText, std::size_t maxPayload,
                                       std::size_t firstMaxPayload, Charset charset) {
  Zentool tool;
  std::vector<std::string> payloads;
  std::size_t start = 0;
  while (start < sjisText.size()) {
    const std::size_t limit = payloads.empty() ? std::min(maxPayload, firstMaxPayload) : maxPayload;
    // Grow the piece one character at a time while its converted form still
    // fits; a single character always fits (at most 8 bytes of JIS).
    std::size_t end = start + UnitLength(sjisText, start);
    std::string converted = Converted(sjisText.substr(start, end - start), charset);
    while (end < sjisText.size()) {
      const std::size_t next = end + UnitLength(sjisText, end);
      std::string longer = Converted(sjisText.substr(start, next - start), charset);
      if (Base64Length(longer.size()) > limit) break;
      converted = std::move(longer);
      end = next;
    }
    payloads.push_back(tool.ZenBase64Encode(converted));
    start = end;
  }
  return payloads;
}

std::string WithoutEscapes(const std::string& sjis) {
  std::string out;
  out.reserve(sjis.size());
  for (const char c : sjis) {
    if (c != kEsc) out.push_back(c);
  }
  return out;
}

std::string EncodedField(const std::string& prefix, const std::string& rawSjisText,
                         const std::string& suffix, Charset charset) {
  Zentool tool;
  const std::string sjisText = WithoutEscapes(rawSjisText);
  std::vector<std::string> lines;
  const std::string whole = charset == Charset::Utf8
                                ? EncodedWord(tool.ZenBase64Encode(SjisToUtf8(sjisText)), charset)
                                : EncodedWord(tool.ZenMimeEncode(sjisText));
  if (whole.size() <= kMaxWordLength) {
    lines.push_back(prefix + whole);
  } else {
    const std::vector<std::string> payloads = SplitPayloads(
        sjisText, MaxWordPayload(charset), FirstWordPayload(prefix.size(), charset), charset);
    for (const std::string& payload : payloads) {
      lines.push_back((lines.empty() ? prefix : " ") + EncodedWord(payload, charset));
    }
  }
  // Folding white space may stand before an angle address (RFC 5322 3.4),
  // not inside a quoted parameter value.
  const bool foldable = !suffix.empty() && suffix.front() == ' ';
  if (foldable && lines.back().size() + suffix.size() > kPreferredLineLength) {
    lines.push_back(suffix);
  } else {
    lines.back() += suffix;
  }
  std::string field;
  for (const std::string& line : lines) field += line + kCrLf;
  return field;
}

bool LinesFit(const std::string& text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(kCrLf, start);
    if (end == std::string::npos) end = text.size();
    if (end - start > kMaxLineLength) return false;
    start = end + 2;
  }
  return true;
}

std::string DateTime(std::time_t t, const std::tm& local) {
  static const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // timegm reads the broken-down local time as if it were UTC: the
  // difference to `t` is the zone offset, and it fills in the weekday, which
  // not every platform's LocalTime sets.
  std::tm normal = local;
  const std::time_t asUtc = ::timegm(&normal);
  const long offsetMinutes = static_cast<long>(asUtc - t) / 60;
  const long zone = std::labs(offsetMinutes);
  const int month = (normal.tm_mon >= 0 && normal.tm_mon < 12) ? normal.tm_mon : 0;
  const int day = (normal.tm_wday >= 0 && normal.tm_wday < 7) ? normal.tm_wday : 0;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[day],
                normal.tm_mday, kMonths[month], normal.tm_year + 1900, normal.tm_hour,
                normal.tm_min, normal.tm_sec, offsetMinutes < 0 ? '-' : '+', zone / 60, zone % 60);
  return text;
}

const std::string& ProcessToken() {
  std::string& token = ProcessTokenSlot();
  if (token.empty()) token = DrawProcessToken();
  return token;
}

void SetProcessTokenForTests(const std::string& token) {
  ProcessTokenSlot() = token;
}

std::string MessageIdDomain(const std::string& address) {
  const std::size_t at = address.rfind('@');
  if (at == std::string::npos) return "localhost";
  const std::string domain = address.substr(at + 1);
  if (domain.empty() || domain.front() == '.' || domain.back() == '.') return "localhost";
  for (std::size_t i = 0; i < domain.size(); ++i) {
    const char c = domain[i];
    if (c == '.') {
      if (domain[i + 1] == '.') return "localhost";
    } else if (!IsAtext(c)) {
      return "localhost";
    }
  }
  return domain;
}

std::string StuffDots(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 64 + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool lineStart = i == 0 || text[i - 1] == '\n' || text[i - 1] == '\r';
    if (text[i] == '.' && lineStart) out.push_back('.');
    out.push_back(text[i]);
  }
  return out;
}

namespace {

std::string CrLfLineEnds(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else if (c != '\0' && c != kEsc) {
      // A NUL (from an address-book field put in by a placeholder) is left
      // out: a 7bit part holds none (RFC 2045 2.7), and receivers that keep
      // texts NUL-terminated would cut the mail there. An ESC of the text
      // is left out too: see WithoutEscapes.
      out += c;
    }
  }
  return out;
}

// Bytes of one character starting at `i` and whether it is written inside
// a double-byte run (everything but ASCII is, after conversion).
struct CharShape {
  std::size_t length;
  bool doubleByte;
  std::size_t wireBytes;  // at most, inside the run
};

CharShape ShapeAt(const std::string& line, std::size_t i) {
  const auto b = static_cast<unsigned char>(line[i]);
  if (b < 0x80) return {1, false, 1};
  if (Zentool::ZenIsSjisLead(b) && i + 1 < line.size()) {
    const auto t = static_cast<unsigned char>(line[i + 1]);
    if (IsSjisTrail(t)) return {2, true, 2};
  }
  // A half-width kana keeps its sound mark with it.
  const bool kana = b >= 0xA1 && b <= 0xDF;
  if (kana && i + 1 < line.size()) {
    const auto m = static_cast<unsigned char>(line[i + 1]);
    if (m == 0xDE || m == 0xDF) return {2, true, 4};  // may not combine
  }
  return {1, true, 2};
}

void AppendBrokenLine(const std::string& line, std::size_t maxWireBytes, std::string& out) {
  std::size_t wire = 0;  // bytes of the current piece, without its closing escape
  bool inRun = false;
  for (std::size_t i = 0; i < line.size();) {
    const CharShape shape = ShapeAt(line, i);
    std::size_t cost = shape.wireBytes;
    if (shape.doubleByte != inRun) cost += 3;  // escape into or out of the run
    const std::size_t closing = shape.doubleByte ? 3 : 0;
    if (wire > 0 && wire + cost + closing > maxWireBytes) {
      out += "\r\n";
      wire = 0;
      inRun = false;
      cost = shape.wireBytes + (shape.doubleByte ? 3 : 0);
    }
    wire += cost;
    inRun = shape.doubleByte;
    out.append(line, i, shape.length);
    i += shape.length;
  }
}

}  // namespace

std::string WireReadyBody(const std::string& sjis, std::size_t maxWireBytes) {
  const std::string text = CrLfLineEnds(sjis);
  std::string out;
  out.reserve(text.size() + 16);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    const bool ended = end != std::string::npos;
    if (!ended) end = text.size();
    AppendBrokenLine(text.substr(start, end - start), maxWireBytes, out);
    if (ended) out += "\r\n";
    start = ended ? end + 2 : end;
  }
  return out;
}

bool AddressIsClean(const std::string& address) {
  for (const char c : address) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '<' || c == '>') return false;
  }
  return true;
}

AddressFault CheckAddress(const std::string& address) {
  if (!AddressIsClean(address)) return AddressFault::Unclean;
  if (address.size() > kMaxAddressLength) return AddressFault::TooLong;
  return AddressFault::None;
}

}  // namespace velkaro::mime
