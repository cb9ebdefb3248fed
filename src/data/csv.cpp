#include "data/csv.h"

#include <array>

namespace velkaro {
namespace {

// Moves `pos` past a line end at `pos` (CR LF, LF or a lone CR): true when
// there was one.
bool SkipLineEnd(std::string_view bytes, std::size_t& pos) {
  if (pos >= bytes.size()) return false;
  if (bytes[pos] == '\n') {
    ++pos;
    return true;
  }
  if (bytes[pos] != '\r') return false;
  ++pos;
  if (pos < bytes.size() && bytes[pos] == '\n') ++pos;
  return true;
}

class CsvReader {
 public:
  CsvReader(std::string_view bytes, char separator) : bytes_(bytes), separator_(separator) {}

  std::vector<CsvRow> ReadAll() {
    std::vector<CsvRow> rows;
    while (pos_ < bytes_.size()) rows.push_back(ReadRecord());
    return rows;
  }

 private:
  CsvRow ReadRecord() {
    CsvRow row;
    row.line = line_;
    for (;;) {
      row.fields.push_back(ReadField());
      if (pos_ >= bytes_.size()) break;
      if (bytes_[pos_] == separator_) {
        ++pos_;
        continue;
      }
      SkipLineEnd(bytes_, pos_);
      ++line_;
      break;
    }
    return row;
  }

  // Stops at the separator or line end that ends the field, or the end.
  std::string ReadField() {
    std::string field;
    if (pos_ < bytes_.size() && bytes_[pos_] == '"') {
      ++pos_;
      ReadQuoted(field);
    }
    while (pos_ < bytes_.size() && bytes_[pos_] != separator_ && bytes_[pos_] != '\r' &&
           bytes_[pos_] != '\n') {
      field += bytes_[pos_++];
    }
    return field;
  }

  void ReadQuoted(std::string& field) {
    while (pos_ < bytes_.size()) {
      const char c = bytes_[pos_];
      if (c == '"') {
        if (pos_ + 1 < bytes_.size() && bytes_[pos_ + 1] == '"') {
          field += '"';
          pos_ += 2;
          continue;
        }
        ++pos_;
        return;
      }
      const std::size_t before = pos_;
      if (SkipLineEnd(bytes_, pos_)) {
        field.append(bytes_.substr(before, pos_ - before));
        ++line_;
        continue;
      }
      field += c;
      ++pos_;
    }
  }

  std::string_view bytes_;
  char separator_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

bool NeedsQuotes(const std::string& field, char separator) {
  for (char c : field) {
    if (c == separator || c == '"' || c == '\r' || c == '\n') return true;
  }
  return false;
}

}  // namespace

char DetectCsvSeparator(std::string_view bytes) {
  constexpr std::array<char, 3> kCandidates = {',', '\t', ';'};
  std::array<int, 3> counts{};
  bool quoted = false;
  for (char c : bytes) {
    if (c == '"') quoted = !quoted;  // a doubled quote toggles twice
    if (quoted) continue;
    if (c == '\r' || c == '\n') break;
    for (std::size_t k = 0; k < kCandidates.size(); ++k) {
      if (c == kCandidates[k]) ++counts[k];
    }
  }
  std::size_t best = 0;
  for (std::size_t k = 1; k < kCandidates.size(); ++k) {
    if (counts[k] > counts[best]) best = k;
  }
  return kCandidates[best];
}

std::vector<CsvRow> ReadCsv(std::string_view bytes, char separator) {
  return CsvReader(bytes, separator).ReadAll();
}

std::string FormatCsvRecord(const CsvRecord& record, char separator) {
  std::string out;
  if (record.size() == 1 && record[0].empty()) return "\"\"\r\n";
  for (std::size_t i = 0; i < record.size(); ++i) {
    if (i > 0) out += separator;
    const std::string& field = record[i];
    if (!NeedsQuotes(field, separator)) {
      out += field;
      continue;
    }
    out += '"';
    for (char c : field) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  out += "\r\n";
  return out;
}

}  // namespace velkaro
