// Loading the settings file (src/data/settings_file.*) from arbitrary bytes
// of every accepted size. The first input byte picks the size (the current
// 3312 or one of the older 2020/2536/2860/3052/3056, or the rest of the
// input as it is); the rest is cut or zero-padded to it. Its high bit adds
// a save and a second load.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "data/settings_file.h"
#include "support.h"

using namespace velkaro;

namespace {

constexpr std::size_t kSizes[] = {SettingsRecord::kSize, 2020, 2536, 2860, 3052, 3056};
constexpr std::size_t kCommonBytes = 852;  // recordMark … addressFileName: the same in every size

struct Slot {
  std::size_t offset;
  std::size_t size;
};

std::vector<Slot> TextSlots() {
  std::vector<Slot> slots;
  const auto add = [&](std::size_t offset, std::size_t size) { slots.push_back({offset, size}); };
  const std::size_t server = offsetof(SettingsRecord, server);
  for (std::size_t field :
       {offsetof(ServerSettings, popServer), offsetof(ServerSettings, popUser),
        offsetof(ServerSettings, popPassword), offsetof(ServerSettings, smtpServer),
        offsetof(ServerSettings, senderName), offsetof(ServerSettings, senderAddress)}) {
    add(server + field, ServerSettings::kTextSize);
  }
  add(offsetof(SettingsRecord, addressFileName), 64);
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    add(offsetof(SettingsRecord, soundDefaultName) + 32 * i, 32);
    add(offsetof(SettingsRecord, soundPath) + 256 * i, 256);
  }
  add(offsetof(SettingsRecord, bodyFolder), 256);
  add(offsetof(SettingsRecord, attachFolder), 256);
  add(offsetof(SettingsRecord, setupFolder), 256);
  for (int i = 0; i < SettingsRecord::kPlaceholderWords; ++i) {
    add(offsetof(SettingsRecord, PlaceholderWords) + 32 * i, 32);
  }
  return slots;
}

// Numbers a damaged file may hold out of range: the loader puts them back
// into it (ports 1..65535, speed 1..100) and keeps those that fit.
struct RangedNumber {
  std::size_t offset;
  std::int32_t low;
  std::int32_t high;
};
constexpr RangedNumber kRangedNumbers[] = {
    {offsetof(SettingsRecord, server) + offsetof(ServerSettings, popPort), 1, 65535},
    {offsetof(SettingsRecord, server) + offsetof(ServerSettings, smtpPort), 1, 65535},
    {offsetof(SettingsRecord, speed), 1, 100},
};

bool IsRangedNumber(std::size_t offset) {
  return std::any_of(
      std::begin(kRangedNumbers), std::end(kRangedNumbers),
      [&](const RangedNumber& n) { return offset >= n.offset && offset < n.offset + 4; });
}

bool IsTextByte(std::size_t offset) {
  static const std::vector<Slot> slots = TextSlots();
  for (const Slot& s : slots) {
    if (offset >= s.offset && offset < s.offset + s.size) return true;
  }
  return false;
}

const unsigned char* Raw(const SettingsRecord& r) {
  return reinterpret_cast<const unsigned char*>(&r);
}

// Every text slot holds a terminated text and nothing after it; the numbers
// the image holds are its own (or in range), its texts are
// prefixes of the image's.
void CheckLoaded(const SettingsRecord& r, const std::string& image, std::size_t checkedBytes) {
  static const std::vector<Slot> slots = TextSlots();
  const unsigned char* raw = Raw(r);
  for (const Slot& s : slots) {
    const std::size_t length = strnlen(reinterpret_cast<const char*>(raw + s.offset), s.size);
    FUZZ_CHECK(length < s.size);
    for (std::size_t i = length; i < s.size; ++i) FUZZ_CHECK(raw[s.offset + i] == 0);
    if (s.offset + s.size <= checkedBytes) {
      FUZZ_CHECK(std::memcmp(raw + s.offset, image.data() + s.offset, length) == 0);
    }
  }
  for (std::size_t i = 0; i < checkedBytes; ++i) {
    if (!IsTextByte(i) && !IsRangedNumber(i)) {
      FUZZ_CHECK(raw[i] == static_cast<unsigned char>(image[i]));
    }
  }
  for (const RangedNumber& n : kRangedNumbers) {
    if (n.offset + 4 > checkedBytes) continue;
    std::int32_t loaded, stored;
    std::memcpy(&loaded, raw + n.offset, 4);
    std::memcpy(&stored, image.data() + n.offset, 4);
    const bool storedFits = stored >= n.low && stored <= n.high;
    FUZZ_CHECK(loaded >= n.low && loaded <= n.high);
    if (storedFits) FUZZ_CHECK(loaded == stored);
  }
}

// Fields an older size does not have keep their defaults.
void CheckDefaults(const SettingsRecord& r, std::size_t size) {
  const SettingsRecord d = DefaultSettingsRecord();
  const auto same = [&](const auto& field, const auto& defaultField) {
    return std::memcmp(&field, &defaultField, sizeof field) == 0;
  };
  FUZZ_CHECK(same(r.setupFolder, d.setupFolder));
  if (size < 3056) FUZZ_CHECK(r.titleIn == d.titleIn);
  if (size < 2860) FUZZ_CHECK(r.speed == d.speed);
  if (size < 2536) {
    FUZZ_CHECK(r.confirmExit == d.confirmExit);
    FUZZ_CHECK(same(r.bodyFolder, d.bodyFolder) && same(r.attachFolder, d.attachFolder));
  }
  const int wordsInFile = size < 2860 ? 0 : size == 2860 ? 10 : 16;
  for (int i = wordsInFile; i < SettingsRecord::kPlaceholderWords; ++i) {
    FUZZ_CHECK(same(r.PlaceholderWords[i], d.PlaceholderWords[i]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TestPlatform& platform = fuzz::Platform();
  platform.SetProgramFolder(fuzz::ScratchFolder());
  fuzz::InputReader in(data, size);
  const std::uint8_t first = in.Byte();
  const std::size_t pick = first % (std::size(kSizes) + 1);
  std::string image = in.Rest();
  const bool accepted = pick < std::size(kSizes);
  if (accepted) image.resize(kSizes[pick], '\0');
  fuzz::WriteFile(fuzz::ScratchFolder() + "/" + Settings::kFileName, image);

  Settings settings;
  std::memset(&settings.record, 0x5A, sizeof settings.record);
  const SettingsRecord before = settings.record;
  const int result = settings.LoadSettings();
  const bool knownSize =
      std::find(std::begin(kSizes), std::end(kSizes), image.size()) != std::end(kSizes);
  if (!knownSize) {
    FUZZ_CHECK(result == (image.empty() ? 1 : 11));
    FUZZ_CHECK(std::memcmp(&before, &settings.record, sizeof before) == 0);
    return 0;
  }
  FUZZ_CHECK(result == 0);
  const bool current = image.size() == SettingsRecord::kSize;
  CheckLoaded(settings.record, image, current ? SettingsRecord::kSize : kCommonBytes);
  if (!current) CheckDefaults(settings.record, image.size());

  // Saved and loaded again, the record stays as it is (marked as saved).
  // Saving syncs the disk, so only inputs with the high bit of the first
  // byte set take this step; the rest keep the run fast.
  if ((first & 0x80) == 0) return 0;
  SettingsRecord expected = settings.record;
  expected.recordMark = 1;
  FUZZ_CHECK(settings.SaveSettings() == 0);
  std::memset(&settings.record, 0, sizeof settings.record);
  FUZZ_CHECK(settings.LoadSettings() == 0);
  FUZZ_CHECK(std::memcmp(&expected, &settings.record, sizeof expected) == 0);
  return 0;
}
