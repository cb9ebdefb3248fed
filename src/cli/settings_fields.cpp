#include "cli/settings_fields.h"

#include <charconv>
#include <cstring>
#include <limits>

#include "core/encoding.h"

namespace velkaro::cli {
namespace {

using Kind = SettingsField::Kind;

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();

constexpr std::size_t ServerOffset(std::size_t inServer) {
  return offsetof(SettingsRecord, server) + inServer;
}

std::vector<SettingsField> BuildTable() {
  std::vector<SettingsField> t;
  const auto text = [&](std::string name, std::size_t offset, std::size_t size) {
    t.push_back({std::move(name), Kind::Text, offset, size});
  };
  const auto integer = [&](std::string name, std::size_t offset, std::int32_t lo, std::int32_t hi) {
    t.push_back({std::move(name), Kind::Integer, offset, sizeof(std::int32_t), lo, hi});
  };
  constexpr std::size_t kServerText = ServerSettings::kTextSize;
  text("popServer", ServerOffset(offsetof(ServerSettings, popServer)), kServerText);
  text("popUser", ServerOffset(offsetof(ServerSettings, popUser)), kServerText);
  text("popPassword", ServerOffset(offsetof(ServerSettings, popPassword)), kServerText);
  integer("popPort", ServerOffset(offsetof(ServerSettings, popPort)), kMinPort, kMaxPort);
  text("smtpServer", ServerOffset(offsetof(ServerSettings, smtpServer)), kServerText);
  integer("smtpPort", ServerOffset(offsetof(ServerSettings, smtpPort)), kMinPort, kMaxPort);
  text("senderName", ServerOffset(offsetof(ServerSettings, senderName)), kServerText);
  text("senderAddress", ServerOffset(offsetof(ServerSettings, senderAddress)), kServerText);
  text("addressFileName", offsetof(SettingsRecord, addressFileName),
       sizeof SettingsRecord::addressFileName);
  integer("confirmExit", offsetof(SettingsRecord, confirmExit), 0, 1);
  integer("titleIn", offsetof(SettingsRecord, titleIn), 0, 1);
  // The settings dialog offers 1 to 100; 0 would send without any pause.
  integer("speed", offsetof(SettingsRecord, speed), kMinSpeed, kMaxSpeed);
  // Sound events are numbered from 1, as the program's settings page does.
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    integer("soundOn[" + std::to_string(i + 1) + "]",
            offsetof(SettingsRecord, soundOn) + i * sizeof(std::int32_t), 0, 1);
  }
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    text(
        "soundDefaultName[" + std::to_string(i + 1) + "]",
        offsetof(SettingsRecord, soundDefaultName) + i * sizeof SettingsRecord::soundDefaultName[0],
        sizeof SettingsRecord::soundDefaultName[0]);
  }
  for (int i = 0; i < SettingsRecord::kSoundEvents; ++i) {
    text("soundPath[" + std::to_string(i + 1) + "]",
         offsetof(SettingsRecord, soundPath) + i * sizeof SettingsRecord::soundPath[0],
         sizeof SettingsRecord::soundPath[0]);
  }
  text("bodyFolder", offsetof(SettingsRecord, bodyFolder), sizeof SettingsRecord::bodyFolder);
  text("attachFolder", offsetof(SettingsRecord, attachFolder), sizeof SettingsRecord::attachFolder);
  text("setupFolder", offsetof(SettingsRecord, setupFolder), sizeof SettingsRecord::setupFolder);
  integer("windowLeft", offsetof(SettingsRecord, windowLeft), kIntMin, kIntMax);
  integer("windowTop", offsetof(SettingsRecord, windowTop), kIntMin, kIntMax);
  // Placeholder slots are numbered from 0, like the record's array.
  for (int i = 0; i < SettingsRecord::kPlaceholderWords; ++i) {
    text(
        "PlaceholderWords[" + std::to_string(i) + "]",
        offsetof(SettingsRecord, PlaceholderWords) + i * sizeof SettingsRecord::PlaceholderWords[0],
        sizeof SettingsRecord::PlaceholderWords[0]);
  }
  return t;
}

const char* Bytes(const SettingsRecord& record) {
  return reinterpret_cast<const char*>(&record);
}

char* Bytes(SettingsRecord& record) {
  return reinterpret_cast<char*>(&record);
}

std::string RangeText(const SettingsField& f) {
  if (f.minimum == kIntMin && f.maximum == kIntMax) return "a whole number";
  if (f.minimum == 0 && f.maximum == 1) return "0 or 1";
  return "a whole number from " + std::to_string(f.minimum) + " to " + std::to_string(f.maximum);
}

std::string SetInteger(SettingsRecord& record, const SettingsField& f, const std::string& value) {
  const char* first = value.data();
  const char* last = value.data() + value.size();
  if (first != last && *first == '+') ++first;
  std::int64_t number = 0;
  const auto [end, error] = std::from_chars(first, last, number);
  if (value.empty() || error != std::errc() || end != last || number < f.minimum ||
      number > f.maximum) {
    return f.name + " must be " + RangeText(f) + ", not '" + value + "'";
  }
  const auto stored = static_cast<std::int32_t>(number);
  std::memcpy(Bytes(record) + f.offset, &stored, sizeof stored);
  return {};
}

std::string SetText(SettingsRecord& record, const SettingsField& f, const std::string& value) {
  for (const char c : value) {
    const auto b = static_cast<unsigned char>(c);
    // A line end or TAB would end up inside a mail header or a protocol
    // command; no field has a use for control characters.
    if (b < 0x20 || b == 0x7F) {
      return f.name + " must not contain control characters (line ends, TAB, …)";
    }
  }
  int unmappable = 0;
  const std::string sjis = Utf8ToSjis(value, &unmappable);
  if (unmappable > 0) {
    return f.name + ": " + std::to_string(unmappable) +
           " character(s) have no Shift_JIS form (or the text is not UTF-8)";
  }
  if (sjis.size() > f.size - 1) {
    return f.name + " is too long: " + std::to_string(sjis.size()) +
           " bytes in Shift_JIS, the field holds at most " + std::to_string(f.size - 1);
  }
  char* slot = Bytes(record) + f.offset;
  std::memset(slot, 0, f.size);
  std::memcpy(slot, sjis.data(), sjis.size());
  return {};
}

}  // namespace

const std::vector<SettingsField>& SettingsFields() {
  static const std::vector<SettingsField> table = BuildTable();
  return table;
}

const SettingsField* FindSettingsField(const std::string& name) {
  for (const SettingsField& f : SettingsFields()) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

std::string FieldValue(const SettingsRecord& record, const SettingsField& f) {
  const char* slot = Bytes(record) + f.offset;
  if (f.kind == Kind::Integer) {
    std::int32_t value = 0;
    std::memcpy(&value, slot, sizeof value);
    return std::to_string(value);
  }
  return SjisToUtf8(std::string(slot, strnlen(slot, f.size)));
}

std::string FormatSettings(const SettingsRecord& record) {
  std::string out;
  for (const SettingsField& f : SettingsFields())
    out += f.name + "=" + FieldValue(record, f) + "\n";
  return out;
}

std::string SetSettingsField(SettingsRecord& record, const std::string& name,
                             const std::string& utf8Value) {
  const SettingsField* f = FindSettingsField(name);
  if (f == nullptr) {
    return "unknown settings field '" + name + "' (--show-settings lists the names)";
  }
  return f->kind == Kind::Integer ? SetInteger(record, *f, utf8Value)
                                  : SetText(record, *f, utf8Value);
}

}  // namespace velkaro::cli
