// The settings beyond the fixed settings record: "Velkaro.ini" beside
// "Velkaro.cfg", UTF-8 "key=value" lines under "[section]" headers. A
// missing file means every default. Keys and sections this build does not
// know are kept as they were when the file is saved again, so a newer
// build's settings survive an older one.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velkaro {

// One known setting: its section, its key (unique across sections), its
// default and, for a choice, the values it takes (empty: any text without
// a line end).
struct IniField {
  std::string section;
  std::string key;
  std::string defaultValue;
  std::vector<std::string> choices;
  // At or above 0 for a whole number from 0 to this (in decimal digits).
  long maxNumber = -1;
  // For a text of a certain form: whether a value has it, and the form in
  // words for a refusal ("must be " + takes).
  bool (*accepts)(const std::string& value) = nullptr;
  std::string takes = {};
};

// Empty, 64 hex digits, or 32 hex pairs joined by colons, in any case.
bool IsSha256Fingerprint(const std::string& text);

// An address setting ("replyTo", "cc"): "address" or "display name
// <address>", the name maybe in double quotes (taken off), UTF-8.
struct Mailbox {
  std::string name;
  std::string address;
};
enum class MailboxFault {
  None,
  // Not one of the two forms: a "<" or ">" astray, or nothing inside <>.
  Form,
  // A control byte in the name.
  NameCharacters,
  // In the address a blank, a byte other than printable ASCII, or one of
  // the specials ( ) , ; " \ that it cannot carry unquoted.
  AddressCharacters,
  // Not exactly one "@" with something on either side.
  AddressShape,
};
// Reads `text` (no blanks around it) into `out`.
MailboxFault ParseMailbox(const std::string& text, Mailbox& out);
// Empty, or a text ParseMailbox reads without fault.
bool IsMailboxSetting(const std::string& text);

// The "listUnsubscribe" setting: empty, or a "mailto:" or "https:" link
// (the scheme in any case) with something after the scheme, holding only
// printable ASCII other than blanks and <> outside "((…))" placeholder
// words; inside those only no control byte and no <>.
bool IsUnsubscribeSetting(const std::string& text);
// True when the whole text is printable ASCII without blanks and <>: what
// can stand between the brackets of List-Unsubscribe as it is.
bool IsPlainLinkText(const std::string& text);

// Every known setting, in the order --show-settings prints them. The
// stored password is not among them: it is never shown or set by name.
const std::vector<IniField>& KnownIniFields();

class VelkaroIni {
 public:
  static constexpr const char* kFileName = "Velkaro.ini";
  // Where a password is kept when the user chose to keep it in the file.
  static constexpr const char* kPasswordSection = "smtp";
  static constexpr const char* kPasswordKey = "smtpPassword";

  VelkaroIni() = default;
  explicit VelkaroIni(std::string path) : path_(std::move(path)) {}

  // 0 read, or missing (every default); 1 it exists but could not be read.
  // A value a known key does not take is read as its default.
  int Load();
  // Writes the whole file atomically, readable by its owner only. 0
  // written; -1 the disk reported an input/output error; 1 any other
  // failure (the old file is then unchanged).
  int Save();

  // The value of a known key (its default when unset); empty for an
  // unknown key.
  std::string Get(const std::string& key) const;
  // 0 set; 1 unknown key; 2 a value the key does not take.
  int Set(const std::string& key, const std::string& value);

  // The password kept in the file, empty when none.
  std::string StoredPassword() const;
  // Keeps the password in the file (empty removes it); saved by `Save`.
  // False, and nothing changed, for a password with a line end or NUL,
  // which would end up as lines of their own.
  bool SetStoredPassword(const std::string& password);

  // Known keys whose value in the file is not one they take (read as
  // their default): key and value as written, in table order.
  std::vector<std::pair<std::string, std::string>> UnusableValues() const;

  const std::string& Path() const { return path_; }
  void SetPath(std::string path) { path_ = std::move(path); }

 private:
  struct Line {
    std::string section;  // the section the line belongs to (its own for a header)
    std::string text;     // the line as read, without its line end
    std::string ending;   // "\r\n", "\n" or, on a last line, ""
    std::string key;      // for key=value lines
    std::string value;    // as written after "=", blanks included
    bool header = false;
  };
  static Line ParseLine(const std::string& section, std::string text, std::string ending);
  void Parse(std::string bytes);
  std::string Serialise() const;
  const Line* FindEntry(const std::string& section, const std::string& key) const;
  void SetEntry(const std::string& section, const std::string& key, const std::string& value);
  std::size_t EntryPosition(const std::string& section);
  std::size_t AddSection(const std::string& section);

  std::string path_;
  std::vector<Line> lines_;
  std::string newline_ = "\n";  // that of the file's first line
  bool bom_ = false;
  // The file was there but could not be read: saving would drop its lines.
  bool loadFailed_ = false;
};

}  // namespace velkaro
