// Every field of the settings record by name, for --show-settings and
// --set. Texts are shown and taken in UTF-8 and stored in Shift_JIS; a
// value that does not fit its slot is refused, never cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "data/settings_record.h"

namespace velkaro::cli {

struct SettingsField {
  enum class Kind { Integer, Text };
  std::string name;  // "popServer", "soundOn[1]", "PlaceholderWords[0]", …
  Kind kind;
  std::size_t offset;  // in the record
  std::size_t size;    // slot size (texts: including the NUL)
  std::int32_t minimum = 0;
  std::int32_t maximum = 0;
};

// In the record's order, except the window position, which follows the
// folders (it is the program's business, not the user's).
const std::vector<SettingsField>& SettingsFields();
// The field of that name, or null.
const SettingsField* FindSettingsField(const std::string& name);

// The field's value as --show-settings prints it (texts in UTF-8).
std::string FieldValue(const SettingsRecord& record, const SettingsField& field);
// Every field as "name=value\n", in table order.
std::string FormatSettings(const SettingsRecord& record);

// Stores `utf8Value` in the field called `name`. Returns an empty text on
// success, else why the value was refused (the record is then unchanged).
std::string SetSettingsField(SettingsRecord& record, const std::string& name,
                             const std::string& utf8Value);

}  // namespace velkaro::cli
