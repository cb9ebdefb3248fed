// The program's command line (src/data/command_line.*): the input split at
// NUL bytes into arguments.
#include <vector>

#include "data/command_line.h"
#include "support.h"

using namespace velkaro;

namespace {

constexpr std::size_t kMaxArguments = 64;

std::vector<std::string> SplitAtNul(const std::string& bytes) {
  std::vector<std::string> arguments;
  std::size_t start = 0;
  while (arguments.size() < kMaxArguments) {
    const std::size_t end = bytes.find('\0', start);
    arguments.push_back(bytes.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return arguments;
}

bool Trimmed(const std::string& value) {
  return value.empty() || (value.front() != ' ' && value.front() != '"' && value.back() != ' ' &&
                           value.back() != '"');
}

void CheckTrim(const std::string& value) {
  const std::string trimmed = TrimOptionValue(value);
  FUZZ_CHECK(Trimmed(trimmed));
  FUZZ_CHECK(TrimOptionValue(trimmed) == trimmed);
  FUZZ_CHECK(value.find(trimmed) != std::string::npos);
}

bool SameOptions(const CommandLine& a, const CommandLine& b) {
  return a.sendinf == b.sendinf && a.text == b.text && a.to == b.to && a.quitOn == b.quitOn &&
         a.quitOff == b.quitOff && a.sendOn == b.sendOn && a.sendOff == b.sendOff &&
         a.help == b.help && a.version == b.version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> arguments = SplitAtNul(fuzz::Bytes(data, size));
  const CommandLine line = ParseCommandLine(arguments);

  if (line.sendinf) CheckTrim(*line.sendinf);
  if (line.text) CheckTrim(*line.text);
  for (const std::string& a : arguments) CheckTrim(a);

  // Body files are arguments, in their order; a plain word (no "/" or "-"
  // in front) is always one.
  std::size_t next = 0;
  for (const std::string& a : arguments) {
    const bool isFile = next < line.files.size() && line.files[next] == a;
    if (isFile) ++next;
    if (!a.empty() && a[0] != '/' && a[0] != '-') FUZZ_CHECK(isFile);
    if (!a.empty() && a[0] == '-') FUZZ_CHECK(!isFile);
  }
  FUZZ_CHECK(next == line.files.size());

  // Only the first occurrence of an option counts: the same words twice
  // change nothing but the list of files.
  std::vector<std::string> twice = arguments;
  twice.insert(twice.end(), arguments.begin(), arguments.end());
  const CommandLine doubled = ParseCommandLine(twice);
  FUZZ_CHECK(SameOptions(line, doubled));
  FUZZ_CHECK(doubled.files.size() == 2 * line.files.size());
  FUZZ_CHECK(line.Empty() == doubled.Empty());
  return 0;
}
