#include "core/mime_types.h"

#include <fstream>
#include <sstream>
#include <unordered_map>

#include "core/text_bytes.h"

namespace velkaro {
namespace {

constexpr char kMimeTypesFile[] = "/etc/mime.types";

// "type ext ext …" per line; "#" starts a comment.
std::unordered_map<std::string, std::string> ReadTable() {
  std::unordered_map<std::string, std::string> table;
  std::ifstream file(kMimeTypesFile);
  std::string line;
  while (std::getline(file, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string type;
    std::string extension;
    if (!(words >> type)) continue;
    while (words >> extension) table.emplace(AsciiLower(extension), type);
  }
  return table;
}

}  // namespace

std::string MimeTypeForExtension(const std::string& extension) {
  static const std::unordered_map<std::string, std::string> table = ReadTable();
  if (extension.empty()) return {};
  const auto found = table.find(AsciiLower(extension));
  return found == table.end() ? std::string() : found->second;
}

}  // namespace velkaro
