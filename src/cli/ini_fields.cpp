#include "cli/ini_fields.h"

namespace velkaro::cli {
namespace {

const IniField* FindIniField(const std::string& name) {
  for (const IniField& f : KnownIniFields()) {
    if (f.key == name) return &f;
  }
  return nullptr;
}

std::string Choices(const IniField& field) {
  std::string list;
  for (const std::string& choice : field.choices) list += (list.empty() ? "" : ", ") + choice;
  return list;
}

// A value as the terminal shows it: a control byte from a hand-edited file
// (an escape sequence) would act on the terminal instead of being seen.
std::string Shown(const std::string& value) {
  std::string shown = value;
  for (char& c : shown) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = '?';
  }
  return shown;
}

std::string Refusal(const IniField& field, const std::string& raw) {
  const std::string value = Shown(raw);
  if (raw.find_first_of("\r\n") != std::string::npos) {
    return field.key + " must not contain line ends";
  }
  if (!field.choices.empty()) {
    return field.key + " must be one of " + Choices(field) + ", not '" + value + "'";
  }
  if (field.maxNumber >= 0) {
    return field.key + " must be a whole number from 0 to " + std::to_string(field.maxNumber) +
           ", not '" + value + "'";
  }
  if (!field.takes.empty()) return field.key + " must be " + field.takes + ", not '" + value + "'";
  return field.key + " does not take '" + value + "'";
}

}  // namespace

bool IsIniField(const std::string& name) {
  return name == VelkaroIni::kPasswordKey || FindIniField(name) != nullptr;
}

std::string FormatIniSettings(const VelkaroIni& ini) {
  std::string out;
  for (const IniField& f : KnownIniFields()) out += f.key + "=" + ini.Get(f.key) + "\n";
  return out;
}

std::string SetIniField(VelkaroIni& ini, const std::string& name, const std::string& value) {
  // The value of a command line is visible to every user of the host
  // (ps, /proc) and stays in the shell's history.
  if (name == VelkaroIni::kPasswordKey) {
    return std::string(VelkaroIni::kPasswordKey) +
           " is never given on the command line: use --store-password, which reads it from "
           "standard input";
  }
  const IniField* field = FindIniField(name);
  if (field == nullptr) return "unknown settings field '" + name + "'";
  switch (ini.Set(name, value)) {
    case 0: return {};
    case 2: return Refusal(*field, value);
    default: return "unknown settings field '" + name + "'";
  }
}

std::vector<std::string> IniValueWarnings(const VelkaroIni& ini) {
  std::vector<std::string> warnings;
  for (const auto& [key, value] : ini.UnusableValues()) {
    const IniField* field = FindIniField(key);
    warnings.push_back(ini.Path() + ": " + Refusal(*field, value) + "; using '" +
                       field->defaultValue + "'");
  }
  return warnings;
}

}  // namespace velkaro::cli
