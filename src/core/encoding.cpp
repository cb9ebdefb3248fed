#include "core/encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/text_bytes.h"

namespace velkaro {
namespace {

constexpr char kGetaSjis[] = "\x81\xAC";             // 〓
constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";  // U+FFFD

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
  ~Iconv() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of [in, in + inLeft) as it can, appending to `out`.
  // Returns the errno that stopped it (0 when all input was converted).
  int Convert(const char*& in, size_t& inLeft, std::string& out) {
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    while (inLeft > 0) {
      char* dst = buffer;
      size_t dstLeft = sizeof buffer;
      char* src = const_cast<char*>(in);
      const size_t r = ::iconv(cd_, &src, &inLeft, &dst, &dstLeft);
      in = src;
      out.append(buffer, sizeof buffer - dstLeft);
      if (r == static_cast<size_t>(-1) && errno != E2BIG) return errno;
    }
    return 0;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence starting with `lead`, 1 for a stray byte.
size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

// Bytes of the sequence at `in` that stand for one character: the lead and
// the continuation bytes that follow it, no more than the lead announces.
// A broken sequence ends at the first byte that cannot continue it, so the
// ASCII after it (a CR or LF above all) stays a character of its own.
size_t SequenceLength(const char* in, size_t left) {
  const size_t announced = std::min(Utf8Length(static_cast<unsigned char>(*in)), left);
  size_t length = 1;
  while (length < announced && (static_cast<unsigned char>(in[length]) & 0xC0) == 0x80) ++length;
  return length;
}

// Code points that CP932 holds under a different Unicode value than the
// JIS-style mappings other programs produce.
const std::map<std::string, std::string>& CompatibilityForms() {
  static const std::map<std::string, std::string> forms = {
      {"\xE3\x80\x9C", "\x81\x60"},  // WAVE DASH → ～
      {"\xE2\x80\x96", "\x81\x61"},  // DOUBLE VERTICAL LINE → ∥
      {"\xE2\x88\x92", "\x81\x7C"},  // MINUS SIGN → －
      {"\xC2\xA2", "\x81\x91"},      // CENT SIGN → ￠
      {"\xC2\xA3", "\x81\x92"},      // POUND SIGN → ￡
      {"\xC2\xAC", "\x81\xCA"},      // NOT SIGN → ￢
      {"\xE2\x80\x94", "\x81\x5C"},  // EM DASH → ―
      {"\xC2\xA6", "\xFA\x55"},      // BROKEN BAR → ￤
  };
  return forms;
}

// Single bytes that glibc's CP932 rejects but Windows' CP932 reads as a
// character of their own. Reading them as Windows does keeps a file written
// there intact when its text goes through UTF-8 and back.
struct SingleByteForm {
  unsigned char sjis;
  const char* utf8;
};
constexpr SingleByteForm kWindowsSingleBytes[] = {
    {0x80, "\xC2\x80"},      // U+0080
    {0xA0, "\xEF\xA3\xB0"},  // U+F8F0
    {0xFD, "\xEF\xA3\xB1"},  // U+F8F1
    {0xFE, "\xEF\xA3\xB2"},  // U+F8F2
    {0xFF, "\xEF\xA3\xB3"},  // U+F8F3
};

const char* WindowsSingleByteUtf8(unsigned char b) {
  for (const SingleByteForm& form : kWindowsSingleBytes) {
    if (form.sjis == b) return form.utf8;
  }
  return nullptr;
}

// The Shift_JIS form of one UTF-8 sequence that iconv could not write, or
// nothing when CP932 has none.
std::optional<std::string> FallbackSjis(const std::string& utf8) {
  const auto& forms = CompatibilityForms();
  if (const auto form = forms.find(utf8); form != forms.end()) return form->second;
  for (const SingleByteForm& single : kWindowsSingleBytes) {
    if (utf8 == single.utf8) return std::string(1, static_cast<char>(single.sjis));
  }
  return std::nullopt;
}

}  // namespace

std::string SjisToUtf8(const std::string& sjis) {
  Iconv cd("UTF-8", "CP932");
  std::string out;
  out.reserve(sjis.size() * 3 / 2);
  const char* in = sjis.data();
  size_t left = sjis.size();
  while (left > 0) {
    const int error = cd.Ok() ? cd.Convert(in, left, out) : EILSEQ;
    if (error == 0) break;
    // Skip one byte (or a whole undecodable pair) and mark it.
    const unsigned char b = static_cast<unsigned char>(*in);
    size_t skip = 1;
    if (error == EILSEQ && left >= 2 && IsSjisLead(b) &&
        IsSjisTrail(static_cast<unsigned char>(in[1]))) {
      skip = 2;
    }
    const char* single = skip == 1 ? WindowsSingleByteUtf8(b) : nullptr;
    out += single != nullptr ? single : kReplacementUtf8;
    in += skip;
    left -= skip;
  }
  return out;
}

std::string Utf8ToSjis(const std::string& utf8, int* unmappable) {
  Iconv cd("CP932", "UTF-8");
  std::string out;
  out.reserve(utf8.size());
  const char* in = utf8.data();
  size_t left = utf8.size();
  // A byte-order mark is not part of the text.
  if (left >= 3 && utf8.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    in += 3;
    left -= 3;
  }
  while (left > 0) {
    const int error = cd.Ok() ? cd.Convert(in, left, out) : EILSEQ;
    if (error == 0) break;
    size_t length = SequenceLength(in, left);
    if (const auto fallback = FallbackSjis(std::string(in, length))) {
      out += *fallback;
    } else {
      if (error == EINVAL) length = left;  // truncated sequence at the end
      out += kGetaSjis;
      if (unmappable != nullptr) ++*unmappable;
    }
    in += length;
    left -= length;
  }
  return out;
}

const std::string& Sjis(const char* utf8Literal) {
  static std::mutex mutex;
  static std::unordered_map<const char*, std::unique_ptr<std::string>> cache;
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = cache[utf8Literal];
  if (!slot) slot = std::make_unique<std::string>(Utf8ToSjis(utf8Literal));
  return *slot;
}

}  // namespace velkaro
