// The settings of "Velkaro.ini" by name, for --show-settings and --set,
// next to the record's fields (settings_fields.h). Values are UTF-8 both
// on the command line and in the file.
#pragma once

#include <string>
#include <vector>

#include "data/velkaro_ini.h"

namespace velkaro::cli {

// Whether --set handles `name` here: a known key of the file, or the
// stored password, which is refused by name.
bool IsIniField(const std::string& name);
// Every known key as "key=value\n", in table order. Never the password.
std::string FormatIniSettings(const VelkaroIni& ini);
// Sets the key; an empty text on success, else why it was refused (the
// file's contents are then unchanged).
std::string SetIniField(VelkaroIni& ini, const std::string& name, const std::string& value);
// One warning per value in the file that is read as its key's default.
std::vector<std::string> IniValueWarnings(const VelkaroIni& ini);

}  // namespace velkaro::cli
