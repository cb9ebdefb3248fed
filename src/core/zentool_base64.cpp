// Base64 (RFC 2045 alphabet, "=" fill, no line breaks), the payload of
// ISO-2022-JP "B" encoded words (RFC 2047) and whole files as Base64.
//
// Nothing here breaks lines: an attachment's text is cut into lines only
// while it is sent, and an encoded word is never split or folded.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "core/base64_detail.h"
#include "core/file_descriptor.h"
#include "core/file_reading.h"
#include "core/zentool.h"

namespace velkaro {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr int kMinimumChunk = 300;

// The two characters of every 12-bit value as one 16-bit word, the first
// character in the low byte (the order they take in memory on a
// little-endian machine), so a group of three bytes takes two lookups.
constexpr std::array<std::uint16_t, 4096> MakePairTable() {
  std::array<std::uint16_t, 4096> table{};
  for (unsigned v = 0; v < 4096; ++v) {
    const auto first = static_cast<unsigned char>(kAlphabet[v >> 6]);
    const auto second = static_cast<unsigned char>(kAlphabet[v & 0x3F]);
    table[v] = static_cast<std::uint16_t>(
        std::endian::native == std::endian::little ? first | (second << 8) : (first << 8) | second);
  }
  return table;
}
constexpr std::array<std::uint16_t, 4096> kPairs = MakePairTable();

constexpr std::size_t EncodedLength(std::size_t count) {
  return (count + 2) / 3 * 4;
}

std::uint64_t LoadBigEndian64(const unsigned char* in) {
  std::uint64_t word;
  std::memcpy(&word, in, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

// Writes the EncodedLength(count) characters of `count` bytes to `out`.
void Encode(const unsigned char* in, std::size_t count, char* out) {
  // Two groups (6 bytes, 8 characters) per pass through one 8-byte load and
  // one 8-byte store. The load reaches 2 bytes beyond the two groups, so
  // this stops while 8 bytes are still left to read.
  const unsigned char* const end = in + count;
  for (; end - in >= 8; in += 6, out += 8) {
    const std::uint64_t bits = LoadBigEndian64(in);
    const std::uint16_t chars[4] = {kPairs[(bits >> 52) & 0xFFF], kPairs[(bits >> 40) & 0xFFF],
                                    kPairs[(bits >> 28) & 0xFFF], kPairs[(bits >> 16) & 0xFFF]};
    std::memcpy(out, chars, sizeof chars);
  }
  const unsigned char* const whole = end - (end - in) % 3;
  for (; in != whole; in += 3, out += 4) {
    const std::uint32_t group = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    const std::uint16_t chars[2] = {kPairs[group >> 12], kPairs[group & 0xFFF]};
    std::memcpy(out, chars, sizeof chars);
  }
  // A last group of one or two bytes: the missing bytes count as 0 and the
  // characters that stand only for them become "=".
  switch (end - in) {
    case 1:
      out[0] = kAlphabet[in[0] >> 2];
      out[1] = kAlphabet[(in[0] & 0x03) << 4];
      out[2] = '=';
      out[3] = '=';
      break;
    case 2:
      out[0] = kAlphabet[in[0] >> 2];
      out[1] = kAlphabet[((in[0] & 0x03) << 4) | (in[1] >> 4)];
      out[2] = kAlphabet[(in[1] & 0x0F) << 2];
      out[3] = '=';
      break;
    default: break;
  }
}

std::string EncodeToString(const void* bytes, std::size_t count) {
  std::string text(EncodedLength(count), '\0');
  if (count != 0) Encode(static_cast<const unsigned char*>(bytes), count, text.data());
  return text;
}

// The tool library's memory block, released on every way out of the scope.
class ScopedMemoryBlock {
 public:
  ScopedMemoryBlock() = default;
  ~ScopedMemoryBlock() {
    // A failed obtain leaves no handle; releasing then would only raise the
    // "release failed" warning for a block that never existed.
    if (handle_ != nullptr) tool_.ZenGetMemory(handle_, pointer_, 0);
  }
  ScopedMemoryBlock(const ScopedMemoryBlock&) = delete;
  ScopedMemoryBlock& operator=(const ScopedMemoryBlock&) = delete;
  bool Obtain(std::size_t size) {
    return tool_.ZenGetMemory(handle_, pointer_, static_cast<std::int64_t>(size)) == 0;
  }
  char* data() const { return pointer_; }

 private:
  Zentool tool_;
  ZenMemoryHandle handle_ = nullptr;
  char* pointer_ = nullptr;
};

// Sizes `text` to `count` characters; false when the memory is not there.
//
// For a text of many megabytes, faulting in its 4 KiB pages one by one (and
// unmapping them again later) costs more than reading and encoding the whole
// file, so such a text asks the kernel for huge pages first. The hint only
// covers whole 2 MiB spans inside the buffer and is free to be ignored.
bool SizeText(std::string& text, std::size_t count) {
  try {
    text.reserve(count);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    if (count >= 2 * kHugePage) {
      const auto start = reinterpret_cast<std::uintptr_t>(text.data());
      const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
      const std::uintptr_t last = (start + text.capacity()) & ~(kHugePage - 1);
      if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#endif
    text.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

}  // namespace

namespace detail {

int Base64ReadChunk(int requested) {
  const int whole = requested - requested % 3;
  return whole < kMinimumChunk ? kMinimumChunk : whole;
}

std::string FileToBase64(const std::string& path, std::int64_t size, int chunkSize) {
  if (size <= 0) return {};
  const std::size_t total = static_cast<std::size_t>(size);
  const std::size_t chunk = static_cast<std::size_t>(Base64ReadChunk(chunkSize));

  // No step reads more than the file holds, so a block larger than the file
  // would be zero-filled for nothing.
  ScopedMemoryBlock block;
  if (!block.Obtain(std::min(chunk, total))) return {};

  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return {};

  // The whole text is sized once and every step encodes straight into its
  // place. Every step but the last is a multiple of 3 bytes, so the joined
  // steps are exactly the text of the whole file, with "=" only at its end.
  std::string text;
  if (!SizeText(text, EncodedLength(total))) return {};
  char* out = text.data();
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
  for (std::size_t left = total; left > 0;) {
    const std::size_t step = std::min(chunk, left);
    if (!ReadExactly(fd.get(), block.data(), step)) return {};
    Encode(bytes, step, out);
    out += EncodedLength(step);
    left -= step;
  }
  return text;
}

}  // namespace detail

std::string Zentool::ZenBase64Encode(const std::string& text) const {
  return EncodeToString(text.data(), text.size());
}

std::string Zentool::ZenBase64EncodeBuf(std::size_t count, const void* bytes) const {
  return EncodeToString(bytes, count);
}

std::string Zentool::ZenMimeEncode(const std::string& sjisText) const {
  if (sjisText.empty()) return {};
  return ZenBase64Encode(ZenSjisToJis(sjisText));
}

std::string Zentool::ZenFileToBase64(const std::string& path, int chunkSize) const {
  return detail::FileToBase64(path, ZenGetFileSize(path), chunkSize);
}

}  // namespace velkaro
