#include "cli/address_transfer.h"

#include "core/atomic_file.h"
#include "core/encoding.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "data/address_import.h"

namespace velkaro::cli {
namespace {

std::string Line(const std::string& text) {
  return std::string(kProgramName) + ": " + text + "\n";
}

std::string SeparatorName(char separator) {
  switch (separator) {
    case '\t': return "TAB";
    case ';': return "semicolon";
    default: return "comma";
  }
}

// Which column went where, so that a wrong guess is seen before saving.
std::string DescribeColumns(const ImportResult& result) {
  std::string text;
  for (std::size_t col = 0; col < result.headers.size(); ++col) {
    const int field = result.columnField[col];
    text += "  " + std::to_string(col + 1) + " '" + result.headers[col] + "' -> " +
            (field < 0 ? std::string("-") : AddressFieldNames()[field]) + "\n";
  }
  return text;
}

std::string DescribeNotes(const std::string& file, const std::vector<ImportNote>& notes,
                          const char* what) {
  std::string text;
  for (const ImportNote& note : notes) {
    text += Line(file + ":" + std::to_string(note.line) + ": " + what + note.reason);
  }
  return text;
}

std::string EntryLinesForTerminal(const std::vector<AddressEntry>& entries) {
  std::string text;
  for (const AddressEntry& entry : entries) {
    std::string line = SjisToUtf8(FormatEntryLine(entry));
    line.erase(line.size() - 2);
    text += line + "\n";
  }
  return text;
}

}  // namespace

TransferOutcome ImportAddressFile(const CliOptions& options, const std::string& bookPath) {
  TransferOutcome outcome;
  const std::string& file = *options.importAddresses;
  const std::string bytes = ReadImportFile(file);
  if (bytes.empty()) {
    outcome.err = Line("cannot read " + file + ": missing or empty");
    outcome.exitStatus = kExitUsage;
    return outcome;
  }
  int unmappable = 0;
  const std::string book = LoadAddressBook(bookPath, &unmappable);
  if (unmappable > 0) {
    // Saving would turn those characters into 〓 for good.
    outcome.err = Line("the address book " + bookPath + " has " + std::to_string(unmappable) +
                       " character(s) with no Shift_JIS form; nothing imported");
    outcome.exitStatus = kExitUsage;
    return outcome;
  }
  const ImportResult result = ImportAddresses(bytes, book, {options.maps, options.importAll});
  outcome.err = Line(file + ": " + DescribeCsvEncoding(bytes, result.encoding) + ", separated by " +
                     SeparatorName(result.separator));
  if (!result.headers.empty()) outcome.err += DescribeColumns(result);
  if (!result.error.empty()) {
    outcome.err += Line(file + ": " + result.error);
    outcome.exitStatus = kExitUsage;
    return outcome;
  }
  outcome.err += DescribeNotes(file, result.refused, "left out: ");
  outcome.err += DescribeNotes(file, result.replaced, "");
  const std::string counts =
      std::to_string(result.entries.size()) + " of " + std::to_string(result.rows) + " row(s)";
  if (options.dryRun) {
    outcome.out = EntryLinesForTerminal(result.entries);
    outcome.err +=
        Line("dry run: would import " + counts + " into " + bookPath + "; nothing saved");
    return outcome;
  }
  if (!result.entries.empty()) {
    const int saved = SaveAddressBook(bookPath, AppendEntries(book, result.entries));
    if (saved != 0) {
      outcome.err += Line("could not write the address book " + bookPath + "; nothing imported");
      outcome.exitStatus = kExitSettingsWrite;
      return outcome;
    }
  }
  outcome.err += Line("imported " + counts + " into " + bookPath);
  return outcome;
}

TransferOutcome ExportAddressFile(const CliOptions& options, const std::string& bookPath) {
  TransferOutcome outcome;
  const std::string& file = *options.exportAddresses;
  int unmappable = 0;
  const std::string book = LoadAddressBook(bookPath, &unmappable);
  const bool sjis = options.encoding == "shift_jis";
  int rows = 0;
  const std::string csv =
      ExportAddresses(book, sjis ? ExportEncoding::ShiftJis : ExportEncoding::Utf8Bom, &rows);
  if (AtomicWriteFile(file, csv) != 0) {
    outcome.err = Line("could not write " + file);
    outcome.exitStatus = kExitSettingsWrite;
    return outcome;
  }
  if (unmappable > 0) {
    outcome.err +=
        Line("warning: the address book " + bookPath + " has " + std::to_string(unmappable) +
             " character(s) with no Shift_JIS form; " + "they are written as 〓");
  }
  outcome.err += Line("exported " + std::to_string(rows) + " entries of " + bookPath + " to " +
                      file + " (" + (sjis ? "Shift_JIS" : "UTF-8 with BOM") + ")");
  return outcome;
}

}  // namespace velkaro::cli
