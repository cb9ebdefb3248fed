#include "data/velkaro_ini.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <optional>
#include <string_view>

#include "core/atomic_file.h"
#include "core/file_reading.h"
#include "core/text_bytes.h"

namespace velkaro {
namespace {

// Owner only: the file may hold the SMTP password and the command that
// prints it.
constexpr mode_t kFileMode = 0600;
// Far more than any hand-written settings file; a bigger one is not ours.
constexpr std::size_t kMaxFileSize = 1024 * 1024;
constexpr const char* kUtf8Bom = "\xEF\xBB\xBF";

// What a value of these forms must be, for the refusal of one that is not.
constexpr const char* kFingerprintForm =
    "empty or a SHA-256 fingerprint (64 hex digits, with or without colons)";
constexpr const char* kLinkForm =
    "empty or a mailto: or https: link without blanks, control characters, < > or non-ASCII "
    "characters outside placeholder words";
constexpr const char* kMailboxForm =
    "empty, an address or \"name <address>\" (the address in ASCII without blanks and with one "
    "@)";

std::vector<IniField> BuildTable() {
  return {
      {"smtp", "smtpSecurity", "none", {"none", "starttls", "tls"}},
      {"smtp", "smtpAuth", "none", {"none", "auto", "plain", "login", "xoauth2"}},
      {"smtp", "smtpUser", "", {}},
      {"smtp", "smtpPasswordCommand", "", {}},
      {"smtp", "heloName", "", {}},
      {"smtp", "tlsTrustedFingerprint", "", {}, -1, IsSha256Fingerprint, kFingerprintForm},
      {"smtp", "allowInsecureAuth", "0", {"0", "1"}},
      {"pop", "popSecurity", "none", {"none", "stls", "tls"}},
      {"mail", "charset", "auto", {"iso-2022-jp", "auto", "utf-8"}},
      {"mail", "copyToSelf", "0", {"0", "1"}},
      {"mail", "replyTo", "", {}, -1, IsMailboxSetting, kMailboxForm},
      {"mail", "cc", "", {}, -1, IsMailboxSetting, kMailboxForm},
      {"mail", "listUnsubscribe", "", {}, -1, IsUnsubscribeSetting, kLinkForm},
      {"run", "onRecipientFailure", "stop", {"stop", "continue"}},
      {"run", "retries", "2", {}, 10},
      {"run", "retryWaitSeconds", "30", {}, 3600},
      {"run", "mailsPerMinute", "0", {}, 100000},
      {"run", "mailsPerHour", "0", {}, 1000000},
      {"run", "mailsPerConnection", "0", {}, 100000},
  };
}

const IniField* FindField(const std::string& key) {
  for (const IniField& f : KnownIniFields()) {
    if (f.key == key) return &f;
  }
  return nullptr;
}

// The known sections in the order a new file gets them.
std::vector<std::string> SectionOrder() {
  std::vector<std::string> order;
  for (const IniField& f : KnownIniFields()) {
    if (std::find(order.begin(), order.end(), f.section) == order.end()) {
      order.push_back(f.section);
    }
  }
  return order;
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool HasLineBreakOrNul(const std::string& text) {
  return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool IsHexDigits(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

// Empty, 64 hex digits, or 32 pairs of them joined by colons ("AB:cd:…",
// as `openssl x509 -fingerprint -sha256` prints it). Lives here rather
// than with the TLS code so that the settings need no mail layer.
bool IsSha256Fingerprint(const std::string& text) {
  if (text.empty()) return true;
  if (text.size() == 64) return IsHexDigits(text);
  if (text.size() != 32 * 3 - 1) return false;
  std::string digits;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i % 3 == 2) {
      if (text[i] != ':') return false;
    } else {
      digits += text[i];
    }
  }
  return IsHexDigits(digits);
}

namespace {

bool IsControl(unsigned char b) {
  return b < 0x20 || b == 0x7F;
}

// Printable ASCII other than the blank and the characters that would end
// or split the field: <> close the brackets around an address or a link.
bool IsPlainLinkByte(unsigned char b) {
  return b > 0x20 && b < 0x7F && b != '<' && b != '>';
}

bool IsAddressByte(unsigned char b) {
  // Specials outside a dot-atom (RFC 5322 3.2.3) that a bare address in a
  // header line cannot carry unquoted: "a@b,c@d" would be two addresses
  // there but one path in the envelope.
  return IsPlainLinkByte(b) &&
         std::string_view("(),;\"\\").find(static_cast<char>(b)) == std::string_view::npos;
}

MailboxFault CheckAddressPart(const std::string& address) {
  if (!std::all_of(address.begin(), address.end(),
                   [](char c) { return IsAddressByte(static_cast<unsigned char>(c)); })) {
    return MailboxFault::AddressCharacters;
  }
  const std::size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size() ||
      address.find('@', at + 1) != std::string::npos) {
    return MailboxFault::AddressShape;
  }
  return MailboxFault::None;
}

}  // namespace

MailboxFault ParseMailbox(const std::string& text, Mailbox& out) {
  out = {};
  const std::size_t open = text.find('<');
  const std::size_t close = text.find('>');
  if (open == std::string::npos && close == std::string::npos) {
    out.address = text;
  } else {
    // One pair, the address last: "name <address>".
    if (open == std::string::npos || close != text.size() - 1 || open > close ||
        text.find('<', open + 1) != std::string::npos) {
      return MailboxFault::Form;
    }
    out.address = Trim(text.substr(open + 1, close - open - 1));
    out.name = Trim(text.substr(0, open));
    if (out.name.size() >= 2 && out.name.front() == '"' && out.name.back() == '"') {
      out.name = out.name.substr(1, out.name.size() - 2);
    }
    if (out.address.empty()) return MailboxFault::Form;
  }
  if (std::any_of(out.name.begin(), out.name.end(),
                  [](char c) { return IsControl(static_cast<unsigned char>(c)); })) {
    return MailboxFault::NameCharacters;
  }
  return CheckAddressPart(out.address);
}

bool IsMailboxSetting(const std::string& text) {
  Mailbox unused;
  return text.empty() || ParseMailbox(text, unused) == MailboxFault::None;
}

bool IsPlainLinkText(const std::string& text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return IsPlainLinkByte(static_cast<unsigned char>(c)); });
}

// The placeholder words are the user's (they live in the settings record,
// not here), so any "((…))" is taken for one: the run checks the link
// again once the recipient's values are in.
bool IsUnsubscribeSetting(const std::string& text) {
  if (text.empty()) return true;
  const std::string lower = AsciiLower(text);
  std::size_t from = 0;
  for (const char* scheme : {"mailto:", "https:"}) {
    if (lower.rfind(scheme, 0) == 0) from = std::string_view(scheme).size();
  }
  if (from == 0 || from == text.size()) return false;
  while (from < text.size()) {
    const std::size_t word = text.find("((", from);
    const std::size_t wordEnd = word == std::string::npos ? word : text.find("))", word + 2);
    const std::size_t plainEnd = wordEnd == std::string::npos ? text.size() : word;
    if (!IsPlainLinkText(text.substr(from, plainEnd - from))) return false;
    if (plainEnd == text.size()) break;
    for (std::size_t i = word; i < wordEnd + 2; ++i) {
      const auto b = static_cast<unsigned char>(text[i]);
      if (IsControl(b) || b == '<' || b == '>') return false;
    }
    from = wordEnd + 2;
  }
  return true;
}

namespace {

// The value as the program uses it (a choice in its own spelling), or
// nothing when the key does not take it.
std::optional<std::string> AcceptedValue(const IniField& field, const std::string& value) {
  if (HasLineBreakOrNul(value)) return std::nullopt;
  if (!field.choices.empty()) {
    // Hand-edited files say "STARTTLS" as often as "starttls"; reading it
    // as the default would quietly send in the clear.
    const std::string lower = AsciiLower(value);
    for (const std::string& choice : field.choices) {
      if (choice == lower) return choice;
    }
    return std::nullopt;
  }
  if (field.accepts != nullptr && !field.accepts(value)) return std::nullopt;
  if (field.maxNumber >= 0) {
    // Digits only (no sign, no spaces inside), and not so many that the
    // number cannot be held; leading zeros are read away.
    if (value.empty() || value.size() > 9 ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return std::nullopt;
    }
    const long number = std::stol(value);
    if (number > field.maxNumber) return std::nullopt;
    return std::to_string(number);
  }
  return value;
}

// Nothing when the file is missing; an empty text for an empty file.
// `failed` is set when it exists but cannot be read whole.
std::optional<std::string> ReadFile(const std::string& path, bool& failed) {
  failed = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    failed = errno != ENOENT;
    return std::nullopt;
  }
  struct stat st {};
  std::string bytes;
  failed = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
  // One byte over the limit tells a file that is too long.
  if (!failed) failed = !ReadUpTo(fd, bytes, kMaxFileSize + 1) || bytes.size() > kMaxFileSize;
  ::close(fd);
  if (failed) return std::nullopt;
  return bytes;
}

}  // namespace

const std::vector<IniField>& KnownIniFields() {
  static const std::vector<IniField> table = BuildTable();
  return table;
}

VelkaroIni::Line VelkaroIni::ParseLine(const std::string& section, std::string text,
                                       std::string ending) {
  Line line{section, std::move(text), std::move(ending), "", "", false};
  const std::string trimmed = Trim(line.text);
  if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#') return line;
  if (trimmed.front() == '[' && trimmed.back() == ']') {
    line.header = true;
    line.section = Trim(trimmed.substr(1, trimmed.size() - 2));
    return line;
  }
  const std::size_t equals = line.text.find('=');
  if (equals == std::string::npos) return line;
  line.key = Trim(line.text.substr(0, equals));
  line.value = line.text.substr(equals + 1);
  return line;
}

void VelkaroIni::Parse(std::string bytes) {
  lines_.clear();
  bom_ = bytes.rfind(kUtf8Bom, 0) == 0;
  if (bom_) bytes.erase(0, 3);
  newline_.clear();
  std::string section;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    std::string ending = end == std::string::npos ? "" : "\n";
    if (end == std::string::npos) end = bytes.size();
    std::string text = bytes.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') {
      text.pop_back();
      ending.insert(0, "\r");
    }
    if (newline_.empty() && !ending.empty()) newline_ = ending;
    lines_.push_back(ParseLine(section, std::move(text), std::move(ending)));
    section = lines_.back().section;
    start = end + 1;
  }
  if (newline_.empty() || newline_ == "\r") newline_ = "\n";
}

int VelkaroIni::Load() {
  bool failed = false;
  std::optional<std::string> bytes = ReadFile(path_, failed);
  loadFailed_ = failed;
  if (failed) return 1;
  Parse(bytes ? std::move(*bytes) : std::string());
  return 0;
}

std::string VelkaroIni::Serialise() const {
  std::string out = bom_ ? kUtf8Bom : "";
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    out += line.text;
    // Only the very last line may go without a line end, as it came.
    out += line.ending.empty() && i + 1 < lines_.size() ? newline_ : line.ending;
  }
  return out;
}

int VelkaroIni::Save() {
  // A file that is there but could not be read would lose every line this
  // object never saw.
  struct stat st {};
  if (loadFailed_ && ::lstat(path_.c_str(), &st) == 0) return 1;
  if (lines_.empty()) {
    for (const std::string& section : SectionOrder()) AddSection(section);
  }
  return AtomicWriteFile(path_, Serialise(), kFileMode);
}

const VelkaroIni::Line* VelkaroIni::FindEntry(const std::string& section,
                                              const std::string& key) const {
  // The last one counts, as with most readers of such files.
  for (auto it = lines_.rbegin(); it != lines_.rend(); ++it) {
    if (!it->header && it->section == section && it->key == key) return &*it;
  }
  return nullptr;
}

std::string VelkaroIni::Get(const std::string& key) const {
  const IniField* field = FindField(key);
  if (field == nullptr) return {};
  const Line* entry = FindEntry(field->section, key);
  if (entry == nullptr) return field->defaultValue;
  return AcceptedValue(*field, Trim(entry->value)).value_or(field->defaultValue);
}

std::vector<std::pair<std::string, std::string>> VelkaroIni::UnusableValues() const {
  std::vector<std::pair<std::string, std::string>> unusable;
  for (const IniField& field : KnownIniFields()) {
    const Line* entry = FindEntry(field.section, field.key);
    if (entry != nullptr && !AcceptedValue(field, Trim(entry->value))) {
      unusable.emplace_back(field.key, Trim(entry->value));
    }
  }
  return unusable;
}

int VelkaroIni::Set(const std::string& key, const std::string& value) {
  const IniField* field = FindField(key);
  if (field == nullptr) return 1;
  const std::optional<std::string> accepted = AcceptedValue(*field, Trim(value));
  if (!accepted) return 2;
  SetEntry(field->section, key, *accepted);
  return 0;
}

std::string VelkaroIni::StoredPassword() const {
  // Taken as written after "=": blanks around a password are part of it.
  const Line* entry = FindEntry(kPasswordSection, kPasswordKey);
  return entry == nullptr ? std::string() : entry->value;
}

bool VelkaroIni::SetStoredPassword(const std::string& password) {
  if (HasLineBreakOrNul(password)) return false;
  if (password.empty()) {
    std::erase_if(lines_, [](const Line& l) {
      return !l.header && l.section == kPasswordSection && l.key == kPasswordKey;
    });
  } else {
    SetEntry(kPasswordSection, kPasswordKey, password);
  }
  return true;
}

void VelkaroIni::SetEntry(const std::string& section, const std::string& key,
                          const std::string& value) {
  const auto matches = [&](const Line& l) {
    return !l.header && l.section == section && l.key == key;
  };
  std::size_t keep = lines_.size();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (matches(lines_[i])) keep = i;
  }
  if (keep == lines_.size()) {
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(EntryPosition(section)),
                  Line{section, key + "=" + value, newline_, key, value, false});
    return;
  }
  lines_[keep].text = key + "=" + value;
  lines_[keep].value = value;
  // One line per key, so that the file says what the program uses.
  std::vector<Line> kept;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i == keep || !matches(lines_[i])) kept.push_back(std::move(lines_[i]));
  }
  lines_ = std::move(kept);
}

// After the last setting of the section (comments and blank lines after it
// usually belong to what follows), or right after its header.
std::size_t VelkaroIni::EntryPosition(const std::string& section) {
  std::size_t header = lines_.size();
  for (std::size_t i = 0; i < lines_.size() && header == lines_.size(); ++i) {
    if (lines_[i].header && lines_[i].section == section) header = i;
  }
  if (header == lines_.size()) header = AddSection(section);
  std::size_t position = header + 1;
  for (std::size_t i = header + 1; i < lines_.size() && !lines_[i].header; ++i) {
    if (!lines_[i].key.empty()) position = i + 1;
  }
  return position;
}

// A new section goes before the first known section that comes later in
// table order, else at the end; returns the index of its header.
std::size_t VelkaroIni::AddSection(const std::string& section) {
  const std::vector<std::string> order = SectionOrder();
  const auto rank = [&](const std::string& name) {
    return std::find(order.begin(), order.end(), name) - order.begin();
  };
  std::size_t at = lines_.size();
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].header && rank(lines_[i].section) > rank(section) &&
        rank(lines_[i].section) < static_cast<std::ptrdiff_t>(order.size())) {
      at = i;
      break;
    }
  }
  const bool blankBefore = at > 0 && !Trim(lines_[at - 1].text).empty();
  std::vector<Line> added;
  if (blankBefore) added.push_back(Line{lines_[at - 1].section, "", newline_, "", "", false});
  added.push_back(Line{section, "[" + section + "]", newline_, "", "", true});
  if (at < lines_.size()) added.push_back(Line{section, "", newline_, "", "", false});
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
  return blankBefore ? at + 1 : at;
}

}  // namespace velkaro
