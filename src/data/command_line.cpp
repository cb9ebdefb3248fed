#include "data/command_line.h"

#include <sys/stat.h>

#include "core/encoding.h"

namespace velkaro {
namespace {

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

void TakeValue(std::optional<std::string>& slot, const std::string& argument, std::size_t skip) {
  if (!slot) slot = TrimOptionValue(argument.substr(skip));
}

// Anything not starting with "-" names a body file, except a slash word
// that looks like an option ("/SEND=ON") and is no existing file: option
// words are case-sensitive and unknown ones are passed over.
bool IsFileArgument(const std::string& a) {
  if (a.empty() || a[0] == '-') return false;
  if (a[0] != '/' || a.find('=') == std::string::npos) return true;
  struct stat st {};
  return ::stat(a.c_str(), &st) == 0;
}

}  // namespace

std::string TrimOptionValue(const std::string& value) {
  const auto first = value.find_first_not_of(" \"");
  if (first == std::string::npos) return {};
  return value.substr(first, value.find_last_not_of(" \"") - first + 1);
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  for (const std::string& a : arguments) {
    if (StartsWith(a, "/sendinf=")) {
      TakeValue(line.sendinf, a, 9);
    } else if (StartsWith(a, "/text=")) {
      TakeValue(line.text, a, 6);
    } else if (StartsWith(a, "/to=")) {
      if (!line.to) line.to = Utf8ToSjis(TrimOptionValue(a.substr(4)));
    } else if (StartsWith(a, "/quit=on")) {
      line.quitOn = true;
    } else if (StartsWith(a, "/quit=off")) {
      line.quitOff = true;
    } else if (StartsWith(a, "/send=on")) {
      line.sendOn = true;
    } else if (StartsWith(a, "/send=off")) {
      line.sendOff = true;
    } else if (a == "--help" || a == "-h") {
      line.help = true;
    } else if (a == "--version") {
      line.version = true;
    } else if (IsFileArgument(a)) {
      line.files.push_back(a);
    }
  }
  return line;
}

}  // namespace velkaro
