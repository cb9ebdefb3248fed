// Zentool: the utility object under every other layer. It has no state of
// its own beyond its version numbers; callers create one on the stack where
// they need an operation.
//
// Texts are Shift_JIS byte strings whose lines end in CR LF. Paths are the
// file system's bytes (UTF-8 here); "/" is the folder separator, and "\" is
// accepted as one too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "core/text_bytes.h"

namespace velkaro {

// Which part of a path `ZenSplitPath` returns.
enum class PathPart {
  Drive = 1,          // "X:" or empty
  Folder = 2,         // without one trailing separator
  Name = 3,           // file name without extension
  Extension = 4,      // without its dot
  DriveFolder = 5,    // drive and folder
  NameExtension = 6,  // file name with extension
};

// The memory block behind `ZenGetMemory`: a zero-filled heap block.
struct ZenMemoryBlock;
using ZenMemoryHandle = ZenMemoryBlock*;

class Zentool {
 public:
  Zentool() = default;
  virtual ~Zentool() = default;

  // Version number i (0..3) of the tool library; -1 for any other i.
  int ZenGetVersion(int i) const;

  // Obtains (size > 0, no block yet), resizes (size > 0, block held) or
  // releases (size 0) the caller's memory block. A block is size + 16 bytes,
  // zero-filled. Returns 0, or 1/2 (obtain), 11/12 (resize) on failure.
  // Releasing a block that is not held shows a warning and returns 0.
  int ZenGetMemory(ZenMemoryHandle& handle, char*& pointer, std::int64_t size);

  // --- lines and records (CR LF texts, TAB-separated records) ---
  int ZenCountLines(const std::string& text) const;
  std::string ZenGetLine(const std::string& text, int i) const;
  std::string ZenGetLineCrLf(const std::string& text, int i) const;
  std::string ZenDeleteLine(const std::string& text, int i) const;
  std::string ZenGetTabItem(const std::string& record, int i) const;

  // --- paths ---
  std::string ZenJoinPath(const std::string& folder, const std::string& name) const;
  std::string ZenSplitPath(PathPart part, const std::string& path) const;
  // The drive and folder of `path` into `folder`; 0, or 1 when empty.
  int ZenGetFolder(const std::string& path, std::string& folder) const;

  // --- files ---
  // Size in bytes; 0 when the file does not exist or cannot be opened.
  std::int64_t ZenGetFileSize(const std::string& path) const;
  // The whole file; empty on any failure.
  std::string ZenReadFile(const std::string& path, int chunkSize) const;
  // Writes `text` as the whole file: 0, or 1/2 (not created: I/O error /
  // other), 3/4 (a write failed: I/O error / other).
  int ZenWriteFile(const std::string& path, const std::string& text, int chunkSize) const;

  // --- Japanese text ---
  static constexpr bool ZenIsSjisLead(int byte) {
    return IsSjisLead(static_cast<unsigned char>(byte & 0xFF));
  }
  static constexpr bool ZenIsSjisTrail(unsigned byte) {
    return byte <= 0xFF && IsSjisTrail(static_cast<unsigned char>(byte));
  }
  // The JIS X 0208 code (row + 0x20) << 8 | (cell + 0x20) of a Shift_JIS
  // lead/trail pair by the standard arithmetic, or 0 when the pair falls
  // outside the 94 x 94 grid (leads 0xF0-0xFC and anything that is not a
  // lead/trail pair).
  static constexpr std::uint16_t ZenSjisPairToJis(unsigned lead, unsigned trail) {
    if (!ZenIsSjisLead(static_cast<int>(lead)) || !ZenIsSjisTrail(trail)) return 0;
    const unsigned a = lead < 0xA0 ? lead - 0x81 : lead - 0xC1;
    const bool evenRow = trail >= 0x9F;
    const unsigned high = 2 * a + (evenRow ? 0x22 : 0x21);
    const unsigned low = evenRow ? trail - 0x7E : (trail <= 0x7E ? trail - 0x1F : trail - 0x20);
    if (high < 0x21 || high > 0x7E || low < 0x21 || low > 0x7E) return 0;
    return static_cast<std::uint16_t>(high << 8 | low);
  }
  // Shift_JIS to 7-bit ISO-2022-JP. Pumps events while it works.
  std::string ZenSjisToJis(std::string text) const;

  // --- Base64 and encoded words ---
  std::string ZenBase64Encode(const std::string& text) const;
  std::string ZenBase64EncodeBuf(std::size_t count, const void* bytes) const;
  // The payload of an ISO-2022-JP "B" encoded word for a Shift_JIS text.
  std::string ZenMimeEncode(const std::string& sjisText) const;
  // The whole file as Base64, read in chunks; empty on any failure.
  std::string ZenFileToBase64(const std::string& path, int chunkSize) const;

  // --- dates ---
  // The local time of `t` by style number; empty for unknown styles.
  std::string FormatDateTime(std::time_t t, int style) const;

  // --- waiting ---
  // Sleeps in 1 ms steps, each followed by a pump, until n ms have passed on
  // the platform's clock; n = 0 pumps once.
  void Wait(int n) const;
  // Delivers every pending event before returning.
  void Pump() const;

 private:
  static constexpr int kVersion[4] = {1, 0, 1, 3};
};

}  // namespace velkaro
