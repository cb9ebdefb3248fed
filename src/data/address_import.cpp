#include "data/address_import.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "core/encoding.h"
#include "core/text_bytes.h"
#include "core/zentool.h"
#include "data/address_columns.h"
#include "data/csv.h"

namespace velkaro {
namespace {

constexpr int kMailaddr = 3;
constexpr char kBom[] = "\xEF\xBB\xBF";

// Calls `visit` with every entry line of the book (line 0, the header, and
// bytes after the last CR LF are no entry lines), without the CR LF.
template <typename Visit>
void ForEachEntryLine(const std::string& book, Visit visit) {
  std::size_t start = book.find("\r\n");
  if (start == std::string::npos) return;
  for (start += 2;;) {
    const std::size_t end = book.find("\r\n", start);
    if (end == std::string::npos) return;
    visit(std::string_view(book).substr(start, end - start));
    start = end + 2;
  }
}

AddressEntry ParseLine(std::string_view line) {
  AddressEntry entry;
  std::string text(line);
  text += "\r\n";
  ParseEntryLine(text, 0, entry);
  return entry;
}

// Mail addresses compare without regard to ASCII case (domains always,
// local parts in practice). Trail bytes of Shift_JIS characters can look
// like ASCII letters and are left alone.
std::string FoldAddress(const std::string& address) {
  return SjisAsciiLower(address);
}

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A line break inside a quoted cell becomes one space, as do TAB, CR and LF
// on their own: the book has no way to hold them.
std::string FlattenCell(std::string value) {
  for (std::size_t at = value.find("\r\n"); at != std::string::npos; at = value.find("\r\n", at)) {
    value.replace(at, 2, " ");
  }
  return SanitizeField(std::move(value));
}

struct RowReader {
  bool utf8;
  bool hasRegistColumn;
  const std::vector<ColumnTarget>& targets;

  // The entry of one row and, per field, the characters that became 〓.
  AddressEntry Read(const CsvRecord& fields, std::vector<int>& unmappable) const {
    std::vector<std::vector<std::pair<int, std::string>>> parts(AddressEntry::kFieldCount);
    for (std::size_t col = 0; col < fields.size() && col < targets.size(); ++col) {
      const ColumnTarget& target = targets[col];
      if (target.field < 0 || fields[col].empty()) continue;
      int lost = 0;
      std::string value = utf8 ? Utf8ToSjis(fields[col], &lost) : fields[col];
      unmappable[target.field] += lost;
      parts[target.field].emplace_back(target.order, FlattenCell(std::move(value)));
    }
    AddressEntry entry;
    for (int field = 0; field < AddressEntry::kFieldCount; ++field) {
      std::stable_sort(parts[field].begin(), parts[field].end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      if (parts[field].size() == 1) {
        entry[field] = std::move(parts[field][0].second);  // kept exactly, for the round trip
        continue;
      }
      for (const auto& [order, value] : parts[field]) {
        if (Trim(value).empty()) continue;
        if (!entry[field].empty()) entry[field] += ' ';
        entry[field] += Trim(value);
      }
    }
    entry.mailaddr = Trim(entry.mailaddr);
    // The editing dialog drops entries without a name on its next save.
    if (entry.name.empty()) entry.name = entry.regist.empty() ? entry.mailaddr : entry.regist;
    // The registered name is what --to and the recipient list go by; a
    // contact export has none of its own.
    if (!hasRegistColumn) entry.regist = entry.name;
    return entry;
  }
};

bool IsBlank(const CsvRecord& fields) {
  return std::all_of(fields.begin(), fields.end(), [](const std::string& f) { return f.empty(); });
}

std::string NamesOf(const std::vector<int>& unmappable) {
  std::string names;
  for (int field = 0; field < AddressEntry::kFieldCount; ++field) {
    if (unmappable[field] == 0) continue;
    if (!names.empty()) names += ", ";
    names += AddressFieldNames()[field];
  }
  return names;
}

class Importer {
 public:
  Importer(const std::string& book, const ImportOptions& options, ImportResult& result)
      : options_(options), result_(result) {
    ForEachEntryLine(book, [this](std::string_view line) {
      inBook_.insert(FoldAddress(ParseLine(line).mailaddr));
    });
  }

  void Row(const CsvRow& row, const RowReader& reader) {
    if (IsBlank(row.fields)) return;
    ++result_.rows;
    std::vector<int> unmappable(AddressEntry::kFieldCount, 0);
    AddressEntry entry = reader.Read(row.fields, unmappable);
    const std::string shown = SjisToUtf8(entry.mailaddr);
    ImportNote note{row.line, "", ImportNote::NoAddress, shown, {}, 0};
    const auto refuse = [&](ImportNote::Kind kind, std::string reason) {
      note.kind = kind;
      note.reason = std::move(reason);
      result_.refused.push_back(std::move(note));
    };
    if (unmappable[kMailaddr] > 0) {
      return refuse(ImportNote::AddressUnmappable,
                    "mail address '" + shown + "' has characters with no Shift_JIS form");
    }
    if (!IsUsableAddress(entry.mailaddr)) {
      return entry.mailaddr.empty()
                 ? refuse(ImportNote::NoAddress, "no mail address")
                 : refuse(ImportNote::UnusableAddress, "no usable mail address: '" + shown + "'");
    }
    for (int field = 0; field < AddressEntry::kFieldCount; ++field) {
      if (unmappable[field] > 0) note.fields.push_back(field);
    }
    const std::string names = NamesOf(unmappable);
    if (!names.empty() && !options_.importAll) {
      return refuse(ImportNote::Unmappable, "characters with no Shift_JIS form in " + names +
                                                " (--import-all takes them as 〓)");
    }
    const std::string folded = FoldAddress(entry.mailaddr);
    if (inBook_.count(folded) != 0) {
      return refuse(ImportNote::InBook, "'" + shown + "' is already in the address book");
    }
    if (const auto [first, isNew] = inFile_.emplace(folded, row.line); !isNew) {
      note.earlierLine = first->second;
      return refuse(ImportNote::RepeatedInFile,
                    "'" + shown + "' is already on line " + std::to_string(first->second));
    }
    if (!names.empty()) {
      note.kind = ImportNote::Replaced;
      note.reason = "characters with no Shift_JIS form in " + names + " written as 〓";
      result_.replaced.push_back(std::move(note));
    }
    result_.entries.push_back(std::move(entry));
  }

 private:
  const ImportOptions& options_;
  ImportResult& result_;
  std::unordered_set<std::string> inBook_;
  std::unordered_map<std::string, int> inFile_;  // address → line of its row
};

}  // namespace

const std::vector<std::string>& AddressFieldNames() {
  static const std::vector<std::string> names = {"kana",      "regist",   "name",  "mailaddr",
                                                 "telephone", "realaddr", "data1", "data2",
                                                 "data3",     "data4"};
  return names;
}

int AddressFieldIndex(const std::string& name) {
  const auto& names = AddressFieldNames();
  const auto it = std::find(names.begin(), names.end(), name);
  return it == names.end() ? -1 : static_cast<int>(it - names.begin());
}

bool IsUsableAddress(const std::string& address) {
  // RFC 5321 limits a path to 256 octets including the angle brackets.
  if (address.empty() || address.size() > 255) return false;
  const std::size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size()) return false;
  if (address.find('@', at + 1) != std::string::npos) return false;
  return std::none_of(address.begin(), address.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b <= 0x20 || b == 0x7F;
  });
}

std::string EncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8Bom: return "UTF-8 with BOM";
    case TextEncoding::Utf8: return "UTF-8";
    case TextEncoding::ShiftJis: break;
  }
  return "Shift_JIS";
}

std::string DescribeCsvEncoding(const std::string& csvBytes, TextEncoding encoding) {
  const bool ascii = std::all_of(csvBytes.begin(), csvBytes.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? "ASCII" : EncodingName(encoding);
}

std::string ReadImportFile(const std::string& path) {
  return Zentool().ZenReadFile(path, 1 << 16);
}

ImportResult ImportAddresses(const std::string& csvBytes, const std::string& addressBook,
                             const ImportOptions& options) {
  ImportResult result;
  // Excel's "Unicode text" is UTF-16: read as bytes it would only give a
  // puzzling "no mail address column".
  if (csvBytes.rfind("\xFF\xFE", 0) == 0 || csvBytes.rfind("\xFE\xFF", 0) == 0) {
    result.error = "UTF-16 text; save it as CSV in UTF-8 or Shift_JIS";
    return result;
  }
  result.encoding = DecodeText(csvBytes).encoding;
  const bool utf8 = result.encoding != TextEncoding::ShiftJis;
  std::string_view bytes(csvBytes);
  if (bytes.substr(0, 3) == kBom) bytes.remove_prefix(3);
  result.separator = DetectCsvSeparator(bytes);
  const std::vector<CsvRow> rows = ReadCsv(bytes, result.separator);
  if (rows.empty() || IsBlank(rows[0].fields)) {
    result.error = "no header row";
    return result;
  }
  for (const std::string& header : rows[0].fields) {
    result.headers.push_back(utf8 ? header : SjisToUtf8(header));
  }
  constexpr std::size_t kSamples = 3;
  result.samples.resize(result.headers.size());
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const CsvRecord& fields = rows[i].fields;
    for (std::size_t col = 0; col < fields.size() && col < result.samples.size(); ++col) {
      if (fields[col].empty() || result.samples[col].size() >= kSamples) continue;
      result.samples[col].push_back(utf8 ? fields[col] : SjisToUtf8(fields[col]));
    }
  }
  std::vector<ColumnTarget> targets;
  result.error = MapColumns(result.headers, options.maps, targets);
  for (const ColumnTarget& target : targets) result.columnField.push_back(target.field);
  if (!result.error.empty()) return result;

  const bool hasRegistColumn = std::any_of(targets.begin(), targets.end(),
                                           [](const ColumnTarget& t) { return t.field == 1; });
  const RowReader reader{utf8, hasRegistColumn, targets};
  Importer importer(addressBook, options, result);
  for (std::size_t i = 1; i < rows.size(); ++i) importer.Row(rows[i], reader);
  return result;
}

std::string AppendEntries(std::string addressBook, const std::vector<AddressEntry>& entries) {
  if (addressBook.empty()) {
    addressBook = AddressBookHeaderLine();
  } else if (addressBook.size() < 2 ||
             addressBook.compare(addressBook.size() - 2, 2, "\r\n") != 0) {
    addressBook += "\r\n";
  }
  for (const AddressEntry& entry : entries) addressBook += FormatEntryLine(entry);
  return addressBook;
}

std::string ExportAddresses(const std::string& addressBook, ExportEncoding encoding, int* rows) {
  const bool utf8 = encoding == ExportEncoding::Utf8Bom;
  // Spreadsheet programs take a file without BOM for the local code page.
  std::string out = utf8 ? kBom : "";
  out += FormatCsvRecord(AddressFieldNames());
  ForEachEntryLine(addressBook, [&](std::string_view line) {
    const AddressEntry entry = ParseLine(line);
    CsvRecord record;
    for (int field = 0; field < AddressEntry::kFieldCount; ++field) {
      record.push_back(utf8 ? SjisToUtf8(entry[field]) : entry[field]);
    }
    if (IsBlank(record)) return;
    out += FormatCsvRecord(record);
    if (rows != nullptr) ++*rows;
  });
  return out;
}

}  // namespace velkaro
