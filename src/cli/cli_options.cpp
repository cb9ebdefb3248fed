#include "cli/cli_options.h"

#include <array>
#include <utility>
#include <vector>

#include "cli/man_page.h"
#include "job/run_results.h"
#include "mail/mime_text.h"

namespace velkaro::cli {
namespace {

enum class Takes { Nothing, Value };

struct KnownOption {
  const char* name;  // with its dashes
  Takes takes;
};

constexpr std::array kOptions = {
    KnownOption{"--text", Takes::Value},
    KnownOption{"--to", Takes::Value},
    KnownOption{"--attach", Takes::Value},
    KnownOption{"--set", Takes::Value},
    KnownOption{"--title-in", Takes::Nothing},
    KnownOption{"--dry-run", Takes::Nothing},
    KnownOption{"--check", Takes::Nothing},
    KnownOption{"--eml", Takes::Value},
    KnownOption{"--show-settings", Takes::Nothing},
    KnownOption{"--store-password", Takes::Nothing},
    KnownOption{"--check-server", Takes::Nothing},
    KnownOption{"--sound", Takes::Nothing},
    KnownOption{"--resume", Takes::Value},
    KnownOption{"--force", Takes::Nothing},
    KnownOption{"--include-in-doubt", Takes::Nothing},
    KnownOption{"--test-to", Takes::Value},
    KnownOption{"--as", Takes::Value},
    KnownOption{"--import-addresses", Takes::Value},
    KnownOption{"--export-addresses", Takes::Value},
    KnownOption{"--map", Takes::Value},
    KnownOption{"--import-all", Takes::Nothing},
    KnownOption{"--encoding", Takes::Value},
    KnownOption{"--help", Takes::Nothing},
    KnownOption{"--version", Takes::Nothing},
    KnownOption{"-h", Takes::Nothing},
    // Hidden: the build writes the manual page with it.
    KnownOption{"--man-page", Takes::Nothing},
};

// The program's own option words. They look like absolute paths, so they
// are recognised by name to give a useful message.
constexpr std::array kSlashOptions = {"/sendinf=", "/text=",   "/to=",     "/send=on",
                                      "/send=off", "/quit=on", "/quit=off"};

const KnownOption* FindOption(const std::string& name) {
  for (const KnownOption& known : kOptions) {
    if (name == known.name) return &known;
  }
  return nullptr;
}

bool IsSlashOption(const std::string& arg) {
  for (const char* word : kSlashOptions) {
    if (arg.rfind(word, 0) == 0) return true;
  }
  return false;
}

// The options of the address book transfer, or an error. A transfer runs
// on its own: mixing it with a send would make --dry-run mean two things.
std::string AddressTransferOption(CliOptions& o, const std::string& name,
                                  const std::string& value) {
  if (name == "--import-addresses" || name == "--export-addresses") {
    std::optional<std::string>& file =
        name == "--import-addresses" ? o.importAddresses : o.exportAddresses;
    if (file) return name + " can be given only once";
    if (value.empty()) return name + " needs a file name";
    file = value;
  } else if (name == "--map") {
    const std::size_t split = value.rfind('=');
    if (split == std::string::npos || split == 0 || split + 1 == value.size()) {
      return "--map needs COLUMN=FIELD, got '" + value + "'";
    }
    o.maps.emplace_back(value.substr(0, split), value.substr(split + 1));
  } else if (name == "--import-all") {
    o.importAll = true;
  } else if (value != "utf-8" && value != "shift_jis") {
    return "--encoding takes utf-8 or shift_jis, not '" + value + "'";
  } else {
    o.encoding = value;
  }
  return "";
}

// A plain mail address the test mail can go to: one "@" with something on
// either side, nothing a header line or the envelope cannot carry.
bool UsableTestAddress(const std::string& address) {
  const std::size_t at = address.find('@');
  if (at == std::string::npos || at == 0 || at + 1 == address.size()) return false;
  if (address.find('@', at + 1) != std::string::npos) return false;
  if (address.find_first_of(" \t") != std::string::npos) return false;
  return mime::CheckAddress(address) == mime::AddressFault::None;
}

// A whole number from 1 on, digits only (no sign, no blanks).
std::optional<int> RecipientNumber(const std::string& value) {
  if (value.empty() || value.size() > 9) return std::nullopt;
  int n = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (n < 1) return std::nullopt;
  return n;
}

std::string TestSendOption(CliOptions& o, const std::string& name, const std::string& value) {
  if (name == "--test-to") {
    if (o.testTo) return "--test-to can be given only once";
    if (!UsableTestAddress(value)) {
      return "--test-to needs a mail address such as me@example.jp, got '" + value + "'";
    }
    o.testTo = value;
    return "";
  }
  if (o.testAs) return "--as can be given only once";
  o.testAs = RecipientNumber(value);
  if (!o.testAs) return "--as needs a recipient number from 1 on, got '" + value + "'";
  return "";
}

// The test mail stands in for the run: what only makes sense for a run, a
// dry run or a check does not go with it.
std::string CheckTestSend(const CliOptions& o) {
  if (o.testAs && !o.testTo) return "--as goes with --test-to";
  if (o.testTo && (o.resume || o.dryRun || o.check || o.emlFolder)) {
    return "--test-to sends one test mail in place of the run: give no --resume, --dry-run, "
           "--eml or --check with it";
  }
  return "";
}

std::string CheckAddressTransfer(const CliOptions& o) {
  if (!o.importAddresses && (!o.maps.empty() || o.importAll)) {
    return "--map and --import-all go with --import-addresses";
  }
  if (!o.exportAddresses && o.encoding) return "--encoding goes with --export-addresses";
  if (!o.WantsAddressTransfer()) return "";
  if (o.importAddresses && o.exportAddresses) {
    return "give --import-addresses or --export-addresses, not both";
  }
  if (o.exportAddresses && o.dryRun) return "--dry-run goes with --import-addresses";
  if (o.textFile || !o.to.empty() || !o.attach.empty() || !o.programWords.empty() || o.check ||
      o.showSettings || o.storePassword || o.checkServer || !o.sets.empty() || o.titleIn ||
      o.testTo || o.testAs) {
    return "--import-addresses and --export-addresses cannot be combined with a send or a "
           "settings option";
  }
  return "";
}

}  // namespace

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  CliOptions& o = result.options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (arg.empty() || arg == "-") {
        result.error = "'" + arg + "' is no setup file";
        return result;
      }
      if (arg[0] == '/' && arg.find('=') != std::string::npos && !IsSlashOption(arg)) {
        result.error = "unrecognized option '" + arg +
                       "' (the program's options are /sendinf=, "
                       "/text=, /to=, /send=, /quit=)";
        return result;
      }
      o.programWords.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    const std::string name = arg.substr(0, equals);
    const KnownOption* known = FindOption(name);
    if (known == nullptr) {
      result.error =
          (arg.rfind("--", 0) == 0 ? "unrecognized option '" : "invalid option '") + name + "'";
      return result;
    }
    std::string value;
    if (known->takes == Takes::Nothing) {
      if (equals != std::string::npos) {
        result.error = "option '" + name + "' doesn't allow an argument";
        return result;
      }
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      result.error = "option '" + name + "' requires an argument";
      return result;
    }

    if (name == "--help" || name == "-h") {
      o.help = true;
      return result;
    }
    if (name == "--version") {
      o.version = true;
      return result;
    }
    if (name == "--man-page") {
      o.manPage = true;
      return result;
    }
    if (name == "--text") {
      if (o.textFile) {
        result.error = "--text can be given only once";
        return result;
      }
      if (value.empty()) {
        result.error = "--text needs a file name";
        return result;
      }
      o.textFile = value;
    } else if (name == "--to") {
      o.to.push_back(value);
    } else if (name == "--attach") {
      if (value.empty()) {
        result.error = "--attach needs a file name";
        return result;
      }
      o.attach.push_back(value);
    } else if (name == "--set") {
      const std::size_t split = value.find('=');
      if (split == std::string::npos || split == 0) {
        result.error = "--set needs FIELD=VALUE, got '" + value + "'";
        return result;
      }
      o.sets.emplace_back(value.substr(0, split), value.substr(split + 1));
    } else if (name == "--title-in") {
      o.titleIn = true;
    } else if (name == "--dry-run") {
      o.dryRun = true;
    } else if (name == "--check") {
      o.check = true;
    } else if (name == "--eml") {
      if (value.empty() || o.emlFolder) {
        result.error = o.emlFolder ? "--eml can be given only once" : "--eml needs a folder";
        return result;
      }
      o.emlFolder = value;
    } else if (name == "--show-settings") {
      o.showSettings = true;
    } else if (name == "--store-password") {
      o.storePassword = true;
    } else if (name == "--check-server") {
      o.checkServer = true;
    } else if (name == "--sound") {
      o.sound = true;
    } else if (name == "--resume") {
      if (value.empty() || o.resume) {
        result.error = o.resume ? "--resume can be given only once" : "--resume needs a journal";
        return result;
      }
      o.resume = value;
    } else if (name == "--force") {
      o.force = true;
    } else if (name == "--include-in-doubt") {
      o.includeInDoubt = true;
    } else if (name == "--test-to" || name == "--as") {
      result.error = TestSendOption(o, name, value);
      if (!result.error.empty()) return result;
    } else {
      result.error = AddressTransferOption(o, name, value);
      if (!result.error.empty()) return result;
    }
  }
  result.error = CheckAddressTransfer(o);
  if (!result.error.empty()) return result;
  result.error = CheckTestSend(o);
  if (!result.error.empty()) return result;
  if ((o.force || o.includeInDoubt) && !o.resume) {
    result.error = std::string(o.force ? "--force" : "--include-in-doubt") + " goes with --resume";
    return result;
  }
  if (o.resume && (o.textFile || !o.to.empty() || !o.attach.empty() || !o.programWords.empty() ||
                   o.titleIn || o.check || o.dryRun || o.WantsAddressTransfer())) {
    result.error =
        "--resume sends what its journal names: give no body, recipients, attachments, "
        "--title-in, --check or --dry-run with it";
    return result;
  }
  if (o.check && o.dryRun) {
    result.error = "give --check or --dry-run, not both";
    return result;
  }
  if (o.emlFolder && (!o.dryRun || o.WantsAddressTransfer())) {
    result.error = "--eml goes with the --dry-run of a send";
    return result;
  }
  if (!o.WantsAnything()) {
    result.error = "nothing to do: give --text and --to to send, or --show-settings";
  }
  return result;
}

std::vector<std::pair<std::string, std::string>> ExitStatusRows() {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const RunResultMeaning& m : RunResultMeanings()) {
    std::string meaning = m.meaning;
    std::string code = std::to_string(m.code);
    if (m.code == run_result::kMailFailed) {
      code = "100+n";
      meaning = meaning.substr(meaning.find(')') + 2);
    }
    rows.emplace_back(code, meaning);
    if (m.code == run_result::kChecksFailed) {
      rows.back().second += "; with --check: something was found";
      rows.emplace_back(std::to_string(kExitUsage),
                        "wrong options or unusable input (body file, recipient,\n"
                        "attachment, settings value, journal)");
      rows.emplace_back(std::to_string(kExitSettingsWrite),
                        "a settings file or the address book (or the export) could not\n"
                        "be written, or --store-password could not keep the password");
    }
  }
  return rows;
}

std::vector<std::string> OptionNames() {
  std::vector<std::string> names;
  for (const KnownOption& known : kOptions) {
    if (std::string(known.name) != "--man-page") names.emplace_back(known.name);
  }
  for (const char* word : kSlashOptions) {
    std::string name = word;
    names.push_back(name.substr(0, name.find('=') + 1));
  }
  return names;
}

namespace {

// The run's result codes from their table, and the front end's own.
std::string ExitStatusLines() {
  std::string text;
  for (const auto& [code, meaning] : ExitStatusRows()) {
    std::string line = "  " + code + std::string(7 - code.size(), ' ');
    for (const char c : meaning) {
      line += c == '\n' ? std::string("\n           ") : std::string(1, c);
    }
    text += line + "\n";
  }
  return text;
}

}  // namespace

std::string UsageText() {
  return R"(Usage: velkaro-send [OPTION]... [SETUP.vlk2] [/WORD=VALUE]...
Send one personalised mail per recipient, as Velkaro's send button does,
without a window. The settings, the address book, the send log and the
copies of the sent texts are those of Velkaro's program folder
($VELKARO_HOME when set).

The first line of the body text is the subject. Placeholders such as
((name)) and ((today)) are filled in for each recipient.

  SETUP.vlk2           a send setup file: body, attachments, recipients
  /sendinf=FILE        the same (or /sendinf=<clip> for the clipboard)
  /text=FILE           the body text, as the window program takes it
  /to=RECIPIENT        a recipient, as the window program takes it
  /send=on, /send=off, /quit=on, /quit=off
                       taken, but change nothing here: velkaro-send always
                         sends once and ends
  --text FILE          the body text (Shift_JIS or UTF-8)
  --to RECIPIENT       a registered name of the address book, or
                         "Display Name <address>"; may be repeated
  --attach FILE        a file to attach to every mail; may be repeated;
                         FILE may hold placeholder words for a file of
                         each recipient's own ('請求書/((regist)).pdf'),
                         filled in and looked for when the run checks,
                         never when the option is read
  --title-in           keep the subject line in the body as well
  --dry-run            send nothing: print each mail (To, Subject, body)
                         as it would go out (on the wire half-width katakana
                         become full-width in ISO-2022-JP mails) and its
                         character set; writes no log and no copies
      --eml FOLDER     with --dry-run: also write each mail as
                         FOLDER/NNNN_<address>.eml, exactly as the receiver
                         will store it (Date and Message-Id aside)
  --check              send nothing: look at every recipient first and list
                         each problem found, one per line on standard
                         output ("line N: ..."): addresses that cannot be
                         sent or are there twice, registered names not in
                         the address book, misspelt placeholders,
                         characters a forced ISO-2022-JP cannot carry,
                         attachments missing or empty, empty subjects;
                         exit status 0 when nothing was found, else 1;
                         no connection, no log, no copies
  --test-to ADDRESS    send one test mail in place of the run: the mail of
                         one recipient exactly as the run would send it
                         (To shows the recipient), delivered to ADDRESS
                         only, its subject marked "[テスト] "; kept in the
                         send log as a test; no journal, no result list,
                         no copies; exit status as for a run
      --as N           the recipient whose mail is sent, counted from 1
                         in the order of the recipients (default 1)
  --show-settings      print every settings field as FIELD=VALUE, those of
                         Velkaro.cfg, then those of Velkaro.ini
  --set FIELD=VALUE    change a settings field and save its settings file;
                         may be repeated (names as --show-settings prints)
  --store-password     read the SMTP password from standard input (not
                         echoed on a terminal) and keep it in the desktop's
                         secret store, or in Velkaro.ini when no store can
                         be reached; for smtpUser (else popUser) at
                         smtpServer
  --check-server       connect to the servers as set, with TLS and login,
                         and log out again without sending a mail; one
                         line per step (OK/NG and the server's words) on
                         standard output; exit status 0 when every step
                         passed, else what a send run would have ended with
  --sound              play the event sounds (with aplay, when present)
  --resume JOURNAL     send again the mails of an earlier run (its journal,
                         Log/journal-YYYYMMDD-hhmmss.txt) that the server did
                         not accept, with the same body, subject,
                         attachments and substitutions; refused when the
                         body or an attachment changed since; mails in
                         doubt (sent, but no reply came) are left out and
                         named on standard error
      --force          resume even though the body or an attachment changed
      --include-in-doubt
                       send the mails in doubt again too (their recipients
                         may get the mail twice)
  --import-addresses FILE
                       append the rows of a CSV file (UTF-8 or Shift_JIS;
                         comma, TAB or semicolon; first row the header) to
                         the address book; rows without a usable address,
                         with an address already in the book or with
                         characters Shift_JIS cannot hold are listed with
                         their line and left out; with --dry-run only shown
      --map COLUMN=FIELD
                       read column COLUMN (header name or number from 1)
                         into FIELD (kana, regist, name, mailaddr,
                         telephone, realaddr, data1..data4, or - to drop
                         it); may be repeated
      --import-all     take rows with characters Shift_JIS cannot hold
                         too, those characters as 〓
  --export-addresses FILE
                       write the address book as CSV (header row of the
                         field names, CR LF)
      --encoding utf-8|shift_jis
                       of the export; default UTF-8 with BOM
  -h, --help           display this help and exit
      --version        output version information and exit

Fields of Velkaro.ini:
  smtpSecurity=none|starttls|tls    smtpAuth=none|auto|plain|login|xoauth2
  smtpUser=USER                     smtpPasswordCommand=COMMAND
  heloName=NAME                     allowInsecureAuth=0|1
  tlsTrustedFingerprint=SHA-256 of a certificate to accept (64 hex digits)
  popSecurity=none|stls|tls
  charset=iso-2022-jp|auto|utf-8    auto: UTF-8 only for a mail whose text
                                      ISO-2022-JP cannot carry
  copyToSelf=0|1                    1: each mail to the sender's address too
  replyTo=ADDRESS  cc=ADDRESS       "address" or "name <address>"
  listUnsubscribe=LINK              mailto: or https:, may hold placeholders
  onRecipientFailure=stop|continue  continue: a recipient refused for good is
                                      listed and the run goes on
  retries=N (2)  retryWaitSeconds=S (30, doubled each time)
                                    with continue: a mail that met a 4xx
                                      reply or a lost connection is tried
                                      again on a new connection
  mailsPerMinute=N  mailsPerHour=N  mailsPerConnection=N
                                    a provider's limits (0: none): the run
                                      waits, or opens a new connection
The SMTP password is never a --set field: use --store-password.

Progress and messages go to standard error. Every run ends with a
result list, Log/result-YYYYMMDD-hhmmss.csv, and keeps a journal for
--resume.

Exit status:
)" + ExitStatusLines() +
         R"(
Example:
  velkaro-send --to 山田 --to "Taro Suzuki <suzuki@example.jp>" \
               --text notice.txt --attach map.pdf
)";
}

std::string VersionText(const std::string& version) {
  return std::string(kProgramName) + " (Velkaro) " + version + "\n";
}

std::string TryHelpText() {
  return std::string("Try '") + kProgramName + " --help' for more information.\n";
}

std::string ManPageText(const std::string& version) {
  ManPageSource source;
  source.name = kProgramName;
  source.summary = "send personalised Japanese mails from the command line";
  source.version = version;
  source.help = UsageText();
  for (const auto& [code, meaning] : ExitStatusRows()) {
    std::string text;
    for (const char c : meaning) text += c == '\n' ? ' ' : c;
    source.exitStatus.push_back({code, text});
  }
  source.extraEnvironment = {
      {"TERM",
       "when it is \"dumb\" (or standard error is no terminal) the progress "
       "is written as plain lines instead of one redrawn line."},
      {"COLUMNS", "the width of the progress line when the terminal does not say."},
  };
  source.examples = {
      {"velkaro-send --to 山田 --to \"Taro Suzuki <suzuki@example.jp>\" \\\n"
       "             --text notice.txt --attach map.pdf",
       "Send notice.txt with map.pdf to the address book's 山田 and to one more address:"},
      {"velkaro-send --dry-run --text notice.txt --to 山田",
       "Show the mail as it would go out, sending nothing:"},
      {"velkaro-send --check --text notice.txt --to 山田 --to 鈴木",
       "Look for problems before a run:"},
      {"velkaro-send --test-to me@example.jp --as 2 --text notice.txt --to 山田 --to 鈴木",
       "Before the run, send yourself the mail the second recipient would get:"},
      {"velkaro-send --set smtpServer=mail.example.jp --set smtpPort=587\n"
       "velkaro-send --set smtpSecurity=starttls --set smtpUser=taro\n"
       "velkaro-send --store-password",
       "Set up the server and keep the password in the desktop's secret store:"},
      {"velkaro-send --resume Log/journal-20261208-093000.txt",
       "After a crash or a failed run, send the mails the server did not accept:"},
      {"velkaro-send --import-addresses members.csv --map Mail=mailaddr --dry-run",
       "Look at what an address import would take:"},
  };
  return ManPage(source);
}

}  // namespace velkaro::cli
