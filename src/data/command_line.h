// The program's command-line words. Each argument is looked at on its own
// (Linux hands them over separately and paths hold "/"): an argument that
// begins with an option word is that option, the value of an option with
// "=" is the rest of the argument with spaces and double quotes trimmed at
// both ends, and only the first occurrence of each option word counts.
// Option words are case-sensitive. Any other argument that does not begin
// with "-" names a body file to open.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace velkaro {

struct CommandLine {
  std::optional<std::string> sendinf;  // a setup file path or "<clip>"
  std::optional<std::string> text;     // body file path
  std::optional<std::string> to;       // Shift_JIS: registered name or "name <addr>"
  bool quitOn = false;
  bool quitOff = false;
  bool sendOn = false;
  bool sendOff = false;
  std::vector<std::string> files;  // other arguments: body files to open
  bool help = false;
  bool version = false;

  bool Empty() const {
    return !sendinf && !text && !to && !quitOn && !quitOff && !sendOn && !sendOff && files.empty();
  }
};

// Arguments in the locale's encoding (UTF-8); the "/to=" value is converted
// to Shift_JIS, paths stay as the file system spells them.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// Spaces and double quotes removed at both ends.
std::string TrimOptionValue(const std::string& value);

}  // namespace velkaro
