#include "data/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "core/atomic_file.h"
#include "core/file_reading.h"
#include "core/zentool.h"
#include "platform/platform.h"

namespace velkaro {
namespace {

constexpr int kSavePauseMs = 2000;
// Owner only: the record holds the POP3 password as plain text.
constexpr mode_t kFileMode = 0600;

// Older record sizes, one bit each in `OldField::sizes`.
constexpr std::array<std::size_t, 5> kOldSizes = {2020, 2536, 2860, 3052, 3056};
constexpr unsigned kAllOld = 0b11111;
constexpr unsigned kFrom2536 = 0b11110;
constexpr unsigned kFrom2860 = 0b11100;
constexpr unsigned kOnly2860 = 0b00100;
constexpr unsigned kFrom3052 = 0b11000;
constexpr unsigned kOnly3056 = 0b10000;

// Where the fields lay in the older records. Up to `addressFileName` the
// layout never changed; after it, each version appended fields of its own.
struct OldField {
  std::size_t oldOffset;
  std::size_t size;
  std::size_t offset;  // in the current record
  unsigned sizes;      // the older sizes that have the field
};

constexpr OldField kOldFields[] = {
    {0, 852, 0, kAllOld},  // recordMark … addressFileName
    {852, 16, offsetof(SettingsRecord, soundOn), kAllOld},
    {868, 128, offsetof(SettingsRecord, soundDefaultName), kAllOld},
    {996, 1024, offsetof(SettingsRecord, soundPath), kAllOld},
    {2020, 4, offsetof(SettingsRecord, confirmExit), kFrom2536},
    {2024, 256, offsetof(SettingsRecord, bodyFolder), kFrom2536},
    {2280, 256, offsetof(SettingsRecord, attachFolder), kFrom2536},
    {2536, 4, offsetof(SettingsRecord, speed), kFrom2860},
    {2540, 320, offsetof(SettingsRecord, PlaceholderWords), kOnly2860},  // words 0..9
    {2540, 512, offsetof(SettingsRecord, PlaceholderWords), kFrom3052},
    {3052, 4, offsetof(SettingsRecord, titleIn), kOnly3056},
};

constexpr bool OldFieldsFit() {
  for (const OldField& f : kOldFields) {
    for (std::size_t i = 0; i < kOldSizes.size(); ++i) {
      if ((f.sizes >> i & 1u) && f.oldOffset + f.size > kOldSizes[i]) return false;
    }
    if (f.offset + f.size > SettingsRecord::kSize) return false;
  }
  return true;
}
static_assert(OldFieldsFit());

// A slot from a file may lack its NUL, or hold a Shift_JIS character cut in
// half by the limit: keep what fits whole and terminate it.
template <std::size_t N>
void Terminate(char (&field)[N]) {
  SetFieldText(field, FieldText(field));
}

void TerminateTexts(SettingsRecord& r) {
  Terminate(r.server.popServer);
  Terminate(r.server.popUser);
  Terminate(r.server.popPassword);
  Terminate(r.server.smtpServer);
  Terminate(r.server.senderName);
  Terminate(r.server.senderAddress);
  Terminate(r.addressFileName);
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    Terminate(r.soundDefaultName[i]);
    Terminate(r.soundPath[i]);
  }
  Terminate(r.bodyFolder);
  Terminate(r.attachFolder);
  Terminate(r.setupFolder);
  for (auto& word : r.PlaceholderWords) Terminate(word);
}

// A hand-edited or damaged file may hold any number. A port outside
// 1..65535 is not refused by the resolver but wrapped (70000 connects to
// port 4464, 65561 to port 25), so it becomes the usual port of its
// protocol. The speed is taken to the nearest end of 1..100: 0 would never
// pause between pieces, a negative value is no speed at all (the connection
// ignores it), and a huge one would make the pacing meaningless.
void KeepNumbersInRange(SettingsRecord& r) {
  const ServerSettings usual = DefaultServerSettings();
  if (r.server.popPort < kMinPort || r.server.popPort > kMaxPort) {
    r.server.popPort = usual.popPort;
  }
  if (r.server.smtpPort < kMinPort || r.server.smtpPort > kMaxPort) {
    r.server.smtpPort = usual.smtpPort;
  }
  r.speed = std::clamp(r.speed, kMinSpeed, kMaxSpeed);
}

// The record an image of an accepted size stands for, or nothing.
std::optional<SettingsRecord> DecodeImage(const std::string& image) {
  SettingsRecord r = DefaultSettingsRecord();
  auto* bytes = reinterpret_cast<unsigned char*>(&r);
  if (image.size() == SettingsRecord::kSize) {
    std::memcpy(bytes, image.data(), SettingsRecord::kSize);
  } else {
    std::size_t version = 0;
    while (version < kOldSizes.size() && kOldSizes[version] != image.size()) ++version;
    if (version == kOldSizes.size()) return std::nullopt;
    for (const OldField& f : kOldFields) {
      if (f.sizes >> version & 1u)
        std::memcpy(bytes + f.offset, image.data() + f.oldOffset, f.size);
    }
  }
  TerminateTexts(r);
  KeepNumbersInRange(r);
  return r;
}

// At most `limit` bytes of a plain file. Nothing when the file is missing,
// is not a plain file (a folder, or a pipe that would block start-up) or
// cannot be read to the end of what it holds.
std::optional<std::string> ReadHead(const std::string& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string bytes;
  const bool read = ReadUpTo(fd, bytes, limit);
  ::close(fd);
  if (!read) return std::nullopt;
  return bytes;
}

}  // namespace

Settings::Settings() : record(DefaultSettingsRecord()) {
  Platform& platform = CurrentPlatform();
  executablePath_ = platform.ExecutablePath();
  programFolder_ = platform.ProgramFolder();
  settingsFilePath_ = Zentool().ZenJoinPath(programFolder_, kFileName);
  ini.SetPath(Zentool().ZenJoinPath(programFolder_, VelkaroIni::kFileName));
}

int Settings::LoadSettings() {
  // The size is that of what was read, not of an earlier size query, so a
  // file that changes meanwhile cannot leave a half-filled record. One byte
  // more than a record is enough to tell that a file is too long.
  const std::optional<std::string> image = ReadHead(settingsFilePath_, SettingsRecord::kSize + 1);
  if (!image || image->empty()) return 1;
  const std::optional<SettingsRecord> loaded = DecodeImage(*image);
  if (!loaded) return 11;
  record = *loaded;
  return 0;
}

int Settings::SaveSettings() {
  SettingsRecord image = record;
  image.recordMark = 1;
  const int result =
      AtomicWriteFile(settingsFilePath_,
                      std::string(reinterpret_cast<const char*>(&image), sizeof image), kFileMode);
  if (result != 0) return result;
  record.recordMark = 1;
  CurrentPlatform().Sleep(kSavePauseMs);
  return 0;
}

}  // namespace velkaro
