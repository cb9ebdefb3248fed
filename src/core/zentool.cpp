#include "core/zentool.h"

#include <cstdint>
#include <new>
#include <vector>

#include "core/encoding.h"
#include "platform/platform.h"

namespace velkaro {

struct ZenMemoryBlock {
  std::vector<char> bytes;
};

namespace {
// Room kept zeroed beyond every requested size, so a block always ends in
// NUL bytes whatever was copied into it.
constexpr std::int64_t kSlack = 16;
}  // namespace

int Zentool::ZenGetVersion(int i) const {
  return (i >= 0 && i < 4) ? kVersion[i] : -1;
}

int Zentool::ZenGetMemory(ZenMemoryHandle& handle, char*& pointer, std::int64_t size) {
  if (size > 0) {
    const bool resizing = handle != nullptr;
    try {
      if (!resizing) handle = new ZenMemoryBlock;
      handle->bytes.resize(static_cast<std::size_t>(size + kSlack), '\0');
    } catch (const std::exception&) {
      if (!resizing) {
        delete handle;
        handle = nullptr;
      }
      return resizing ? 11 : 1;
    }
    pointer = handle->bytes.data();
    return 0;
  }
  if (size == 0 && handle != nullptr) {
    delete handle;
    handle = nullptr;
    pointer = nullptr;
    return 0;
  }
  // Releasing what was never obtained (or a negative size).
  const int retUnlock = -1;
  const int retFree = -1;
  const std::string text = Sjis("ZenGetMemory: メモリ開放に失敗しました。\r\n retUnlock=") +
                           std::to_string(retUnlock) + " retFree=" + std::to_string(retFree);
  CurrentPlatform().MessageBox(text, MsgButtons::Ok, MsgIcon::Exclamation);
  return 0;
}

void Zentool::Wait(int n) const {
  Platform& platform = CurrentPlatform();
  if (n <= 0) {
    platform.Pump();
    return;
  }
  // Held against a deadline rather than counted in sleeps: every 1 ms
  // sleep overshoots a little, and a count of n sleeps made each wait of
  // the dialogue (50 ms before a command, 20 ms between header fields) a
  // tenth longer than asked. The window is still served at least every
  // millisecond.
  const std::int64_t due = platform.MonotonicMicros() + static_cast<std::int64_t>(n) * 1000;
  do {
    platform.Sleep(1);
    platform.Pump();
  } while (platform.MonotonicMicros() < due);
}

void Zentool::Pump() const {
  CurrentPlatform().Pump();
}

}  // namespace velkaro
