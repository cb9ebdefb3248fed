// The command line of `velkaro-send`, GNU style: long options with their
// value as the next argument or after "=", "--" ending the options.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velkaro::cli {

inline constexpr const char* kProgramName = "velkaro-send";

// Exit statuses of the front end itself; a send run exits with its own
// result code (0, 1, 10, 20, 90, 100 + n), which never collides with these.
inline constexpr int kExitUsage = 2;          // wrong options or unusable input
inline constexpr int kExitSettingsWrite = 3;  // a settings file (or the password) not written

struct CliOptions {
  std::optional<std::string> textFile;  // --text
  std::vector<std::string> to;          // --to, in order (UTF-8)
  std::vector<std::string> attach;      // --attach, in order
  // The program's own words (/sendinf=, /text=, /to=, …) and a setup file
  // named on its own, in order, as the window program takes them.
  std::vector<std::string> programWords;
  // --set FIELD=VALUE, in order: field name and value (UTF-8).
  std::vector<std::pair<std::string, std::string>> sets;
  bool titleIn = false;
  bool dryRun = false;
  bool check = false;                    // --check: look at the run, send nothing
  std::optional<std::string> emlFolder;  // --eml, with --dry-run
  bool showSettings = false;
  bool storePassword = false;  // --store-password
  bool checkServer = false;    // --check-server
  bool sound = false;
  bool help = false;
  bool version = false;
  bool manPage = false;  // --man-page (hidden): the manual page in roff
  // The address book to and from CSV; --dry-run with an import shows the
  // rows that would be taken and saves nothing.
  std::optional<std::string> importAddresses;  // --import-addresses
  std::optional<std::string> exportAddresses;  // --export-addresses
  // --map COLUMN=FIELD, in order: column (header or 1-based number), field.
  std::vector<std::pair<std::string, std::string>> maps;
  bool importAll = false;               // --import-all
  std::optional<std::string> encoding;  // --encoding of an export
  std::optional<std::string> resume;    // --resume JOURNAL
  bool force = false;                   // --force: resume a changed body
  bool includeInDoubt = false;          // --include-in-doubt
  // --test-to ADDRESS: the mail of one recipient (--as N, counted from 1)
  // goes to ADDRESS instead of the run.
  std::optional<std::string> testTo;
  std::optional<int> testAs;  // --as

  // Whether anything asks for a send (or a dry run of one).
  bool WantsRun() const {
    return ((dryRun || check) && !WantsAddressTransfer()) || textFile || !to.empty() ||
           !attach.empty() || !programWords.empty() || resume.has_value() || testTo.has_value();
  }
  // Whether the address book is to be imported or exported.
  bool WantsAddressTransfer() const { return importAddresses || exportAddresses; }
  // Whether the command line asks for anything at all.
  bool WantsAnything() const {
    return WantsRun() || showSettings || storePassword || checkServer || !sets.empty() ||
           WantsAddressTransfer();
  }
};

struct ParseResult {
  CliOptions options;
  std::string error;  // empty when the command line is usable
  bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. `--help` and `--version`
// end the parsing where they stand, as with getopt: an error before them
// is still reported, anything after them is not looked at.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// Texts for --help and --version (standard output).
std::string UsageText();
std::string VersionText(const std::string& version);
// The hint after an error, as GNU tools give it.
std::string TryHelpText();
// The manual page velkaro-send(1) in roff, made from UsageText().
std::string ManPageText(const std::string& version);
// Exit statuses with their meanings (lines split by "\n"), in order:
// the run's result codes and the front end's own.
std::vector<std::pair<std::string, std::string>> ExitStatusRows();
// Every option the parser takes (the program's words as "/text="), but
// the hidden --man-page.
std::vector<std::string> OptionNames();

}  // namespace velkaro::cli
