#include "data/address_columns.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "core/text_bytes.h"
#include "data/address_import.h"

namespace velkaro {
namespace {

enum Field { kKana, kRegist, kName, kMailaddr, kTelephone, kRealaddr, kData1 };

struct HeaderAlias {
  const char* header;  // trimmed, ASCII in lower case
  int field;
  int order;
  bool part;  // one part of a split name: used only when no column holds it whole
};

// The first column whose header is one of these fills the field; a later
// one with another alias of the same field is left out.
constexpr HeaderAlias kAliases[] = {
    {"読み", kKana, 0, false},
    {"よみ", kKana, 0, false},
    {"ヨミ", kKana, 0, false},
    {"フリガナ", kKana, 0, false},
    {"ふりがな", kKana, 0, false},
    {"yomi name", kKana, 0, false},
    {"phonetic last name", kKana, 0, true},  // Google Contacts
    {"phonetic first name", kKana, 1, true},
    {"family name yomi", kKana, 0, true},  // older Google Contacts
    {"given name yomi", kKana, 1, true},
    {"surname yomi", kKana, 0, true},  // Outlook
    {"given yomi", kKana, 1, true},
    {"登録名", kRegist, 0, false},
    {"氏名", kName, 0, false},
    {"名前", kName, 0, false},
    {"name", kName, 0, false},
    {"full name", kName, 0, false},
    {"display name", kName, 0, false},
    {"姓", kName, 0, true},
    {"名", kName, 1, true},
    {"last name", kName, 0, true},  // Google Contacts, Outlook
    {"first name", kName, 1, true},
    {"family name", kName, 0, true},  // older Google Contacts
    {"given name", kName, 1, true},
    {"メールアドレス", kMailaddr, 0, false},
    {"メール", kMailaddr, 0, false},
    {"e-mail", kMailaddr, 0, false},
    {"email", kMailaddr, 0, false},
    {"e-mail address", kMailaddr, 0, false},  // Outlook
    {"email address", kMailaddr, 0, false},
    {"e-mail 1 - value", kMailaddr, 0, false},  // Google Contacts
    {"電話", kTelephone, 0, false},
    {"電話番号", kTelephone, 0, false},
    {"tel", kTelephone, 0, false},
    {"phone", kTelephone, 0, false},
    {"phone 1 - value", kTelephone, 0, false},  // Google Contacts
    {"mobile phone", kTelephone, 0, false},     // Outlook
    {"home phone", kTelephone, 0, false},
    {"business phone", kTelephone, 0, false},
    {"住所", kRealaddr, 0, false},
    {"address", kRealaddr, 0, false},
    {"address 1 - formatted", kRealaddr, 0, false},  // Google Contacts
    {"home address", kRealaddr, 0, false},
    {"home street", kRealaddr, 0, false},  // Outlook
    {"データ１", kData1, 0, false},
    {"データ２", kData1 + 1, 0, false},
    {"データ３", kData1 + 2, 0, false},
    {"データ４", kData1 + 3, 0, false},
    {"データ1", kData1, 0, false},
    {"データ2", kData1 + 1, 0, false},
    {"データ3", kData1 + 2, 0, false},
    {"データ4", kData1 + 3, 0, false},
};

std::string NormalizeHeader(const std::string& header) {
  const std::size_t first = header.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const std::size_t last = header.find_last_not_of(" \t");
  std::string out = header.substr(first, last - first + 1);
  // Only ASCII is folded: UTF-8 bytes above 0x7F are left alone.
  return AsciiLower(out);
}

std::optional<HeaderAlias> FindAlias(const std::string& normalized) {
  for (const HeaderAlias& alias : kAliases) {
    if (normalized == alias.header) return alias;
  }
  // Our own export's header: the field names.
  const int field = AddressFieldIndex(normalized);
  if (field < 0) return std::nullopt;
  return HeaderAlias{"", field, 0, false};
}

std::vector<ColumnTarget> AutomaticTargets(const std::vector<std::string>& headers) {
  constexpr int kFields = AddressEntry::kFieldCount;
  std::vector<ColumnTarget> targets(headers.size());
  std::vector<int> whole(kFields, -1);
  std::vector<std::vector<std::pair<int, int>>> parts(kFields);  // (column, order)
  std::vector<bool> partTaken(kFields * 2, false);
  for (std::size_t col = 0; col < headers.size(); ++col) {
    const std::optional<HeaderAlias> alias = FindAlias(NormalizeHeader(headers[col]));
    if (!alias) continue;
    if (!alias->part) {
      if (whole[alias->field] < 0) whole[alias->field] = static_cast<int>(col);
      continue;
    }
    // Outlook and Google exports hold one family and one given name.
    const int slot = alias->field * 2 + alias->order;
    if (partTaken[slot]) continue;
    partTaken[slot] = true;
    parts[alias->field].emplace_back(static_cast<int>(col), alias->order);
  }
  for (int field = 0; field < kFields; ++field) {
    if (whole[field] >= 0) {
      targets[whole[field]] = {field, 0};
      continue;
    }
    for (const auto& [col, order] : parts[field]) targets[col] = {field, order};
  }
  return targets;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() < 8 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The column a --map names: a 1-based number or a header name; -1 if none.
int FindColumn(const std::vector<std::string>& headers, const std::string& spec) {
  if (AllDigits(spec)) {
    const int number = std::stoi(spec);
    return number >= 1 && number <= static_cast<int>(headers.size()) ? number - 1 : -1;
  }
  const std::string wanted = NormalizeHeader(spec);
  for (std::size_t col = 0; col < headers.size(); ++col) {
    if (NormalizeHeader(headers[col]) == wanted) return static_cast<int>(col);
  }
  return -1;
}

}  // namespace

std::string MapColumns(const std::vector<std::string>& headers,
                       const std::vector<std::pair<std::string, std::string>>& maps,
                       std::vector<ColumnTarget>& targets) {
  targets = AutomaticTargets(headers);
  std::vector<ColumnTarget> explicitTargets(headers.size());
  std::vector<bool> isExplicit(headers.size(), false);
  std::vector<bool> fieldExplicit(AddressEntry::kFieldCount, false);
  for (std::size_t i = 0; i < maps.size(); ++i) {
    const auto& [columnSpec, fieldSpec] = maps[i];
    const int col = FindColumn(headers, columnSpec);
    if (col < 0) return "--map: no column '" + columnSpec + "' in the header row";
    const int field = fieldSpec == "-" ? -1 : AddressFieldIndex(NormalizeHeader(fieldSpec));
    if (field < 0 && fieldSpec != "-") {
      return "--map: '" + fieldSpec + "' is no field (kana, regist, name, mailaddr, telephone, " +
             "realaddr, data1 to data4, or - to drop the column)";
    }
    // Later --map options come after earlier ones when joined.
    explicitTargets[col] = {field, 100 + static_cast<int>(i)};
    isExplicit[col] = true;
    if (field >= 0) fieldExplicit[field] = true;
  }
  for (std::size_t col = 0; col < headers.size(); ++col) {
    if (isExplicit[col]) {
      targets[col] = explicitTargets[col];
    } else if (targets[col].field >= 0 && fieldExplicit[targets[col].field]) {
      targets[col] = {};
    }
  }
  const bool hasAddress = std::any_of(targets.begin(), targets.end(),
                                      [](const ColumnTarget& t) { return t.field == kMailaddr; });
  if (!hasAddress) return "no column holds the mail address; name it with --map COLUMN=mailaddr";
  return "";
}

}  // namespace velkaro
