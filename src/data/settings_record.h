// The persisted settings: one fixed record whose raw image is the settings
// file, byte for byte (3312 bytes, little-endian, no header, no checksum).
// Earlier versions of the program wrote shorter records; settings_file.cpp
// reads those too. Because the layout is the file format, the record stays a
// plain struct of fixed buffers and every offset is pinned below: moving a
// field would silently break every user's settings file.
//
// Text fields are NUL-terminated Shift_JIS strings of at most slot size - 1
// bytes; FieldText and SetFieldText (mail/server_settings.h) read and write
// them. Other code reads and writes the fields directly.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "core/server_settings.h"

namespace velkaro {

static_assert(std::endian::native == std::endian::little,
              "the settings file is the record's raw little-endian image");

// Sound events, in the order of `soundOn`, `soundDefaultName` and `soundPath`.
enum SoundEvent : int {
  kSoundRunSucceeded = 0,  // every mail of a run was sent
  kSoundMailFailed = 1,    // a mail failed
  kSoundOneMailSent = 2,   // one mail was sent
  kSoundProgress = 3,      // progress during a transfer
};

struct SettingsRecord {
  static constexpr std::size_t kSize = 3312;
  static constexpr int kSoundEvents = 4;
  static constexpr int kPlaceholderWords = 16;

  std::int32_t recordMark;  // set to 1 on every save, not interpreted on reading
  std::int32_t windowLeft;  // main window position, stored at exit
  std::int32_t windowTop;
  ServerSettings server;     // popServer … senderAddress, copied whole into the connection
  char addressFileName[64];  // address book file inside the program folder
  std::int32_t confirmExit;  // 1: ask before the program ends
  std::int32_t titleIn;      // 1: the subject line stays in the body too
  std::int32_t speed;        // sending speed 1..100
  std::int32_t soundOn[kSoundEvents];       // a sound plays only when its flag is exactly 1
  char soundDefaultName[kSoundEvents][32];  // fallback wave file in the program folder
  char soundPath[kSoundEvents][256];        // the user's wave file (full path)
  char bodyFolder[256];                     // start folders of the file dialogs
  char attachFolder[256];
  char setupFolder[256];
  char PlaceholderWords[kPlaceholderWords][32];  // words replaced per recipient
};

static_assert(std::is_standard_layout_v<SettingsRecord>);
static_assert(std::is_trivially_copyable_v<SettingsRecord>);
static_assert(sizeof(SettingsRecord) == SettingsRecord::kSize);
static_assert(offsetof(SettingsRecord, recordMark) == 0);
static_assert(offsetof(SettingsRecord, windowLeft) == 4);
static_assert(offsetof(SettingsRecord, windowTop) == 8);
static_assert(offsetof(SettingsRecord, server) == 12);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, popServer) == 12);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, popUser) == 140);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, popPassword) == 268);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, popPort) == 396);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, smtpServer) == 400);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, smtpPort) == 528);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, senderName) == 532);
static_assert(offsetof(SettingsRecord, server) + offsetof(ServerSettings, senderAddress) == 660);
static_assert(offsetof(SettingsRecord, addressFileName) == 788);
static_assert(offsetof(SettingsRecord, confirmExit) == 852);
static_assert(offsetof(SettingsRecord, titleIn) == 856);
static_assert(offsetof(SettingsRecord, speed) == 860);
static_assert(offsetof(SettingsRecord, soundOn) == 864);
static_assert(offsetof(SettingsRecord, soundDefaultName) == 880);
static_assert(offsetof(SettingsRecord, soundPath) == 1008);
static_assert(offsetof(SettingsRecord, bodyFolder) == 2032);
static_assert(offsetof(SettingsRecord, attachFolder) == 2288);
static_assert(offsetof(SettingsRecord, setupFolder) == 2544);
static_assert(offsetof(SettingsRecord, PlaceholderWords) == 2800);

// The ranges a number of the record must lie in to be used as it is.
inline constexpr std::int32_t kMinPort = 1;
inline constexpr std::int32_t kMaxPort = 65535;
inline constexpr std::int32_t kMinSpeed = 1;  // the settings page offers 1 to 100
inline constexpr std::int32_t kMaxSpeed = 100;
inline constexpr std::int32_t kDefaultSpeed = 5;

inline constexpr const char* kDefaultAddressFileName = "VelkaroAddress.txt";
inline constexpr const char* kDefaultSoundNames[SettingsRecord::kSoundEvents] = {
    "NormalEnd.wav", "ErrorEnd.wav", "OneMail.wav", "Develop.wav"};
inline constexpr const char* kDefaultPlaceholderWords[SettingsRecord::kPlaceholderWords] = {
    "((regist))", "((name))",  "((kana))",  "((mailaddr))", "((telephone))", "((realaddr))",
    "((data1))",  "((data2))", "((data3))", "((data4))",    "((today))",     "((time))",
    "((year))",   "((month))", "((day))",   "((week))"};

// A record with every field at its default and every unused byte zero.
inline SettingsRecord DefaultSettingsRecord() {
  SettingsRecord r{};
  r.recordMark = 1;
  r.server = DefaultServerSettings();
  SetFieldText(r.addressFileName, kDefaultAddressFileName);
  r.speed = kDefaultSpeed;
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    r.soundOn[i] = 1;
    SetFieldText(r.soundDefaultName[i], kDefaultSoundNames[i]);
  }
  for (int i = 0; i < SettingsRecord::kPlaceholderWords; ++i) {
    SetFieldText(r.PlaceholderWords[i], kDefaultPlaceholderWords[i]);
  }
  return r;
}

// The server and sender block, as handed to the mail connection for a run.
inline ServerSettings ServerBlock(const SettingsRecord& record) {
  return record.server;
}

}  // namespace velkaro
