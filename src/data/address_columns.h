// Which CSV column fills which address book field. Spreadsheets made by
// hand use the Japanese words of the book's own header; Google Contacts
// and Outlook exports use their own fixed English headers and split the
// name into given and family name, which the book keeps as one field.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velkaro {

struct ColumnTarget {
  int field = -1;  // 0..9, or -1 when the column is not used
  // Several columns for one field are joined with a space in this order:
  // the family name before the given name, as Japanese names are written.
  int order = 0;
};

// The targets of the columns named `headers` (UTF-8), found from the
// header names and then corrected by the COLUMN=FIELD pairs of `maps`. An
// explicit pair replaces the automatic columns of its field. Returns a
// message (UTF-8) when a pair names no column or no field, or when no
// column gives the mail address; empty otherwise.
std::string MapColumns(const std::vector<std::string>& headers,
                       const std::vector<std::pair<std::string, std::string>>& maps,
                       std::vector<ColumnTarget>& targets);

}  // namespace velkaro
