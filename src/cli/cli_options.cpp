#include "cli/cli_options.h"

#include <array>

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
    KnownOption{"--show-settings", Takes::Nothing},
    KnownOption{"--store-password", Takes::Nothing},
    KnownOption{"--check-server", Takes::Nothing},
    KnownOption{"--sound", Takes::Nothing},
    KnownOption{"--help", Takes::Nothing},
    KnownOption{"--version", Takes::Nothing},
    KnownOption{"-h", Takes::Nothing},
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
    } else if (name == "--show-settings") {
      o.showSettings = true;
    } else if (name == "--store-password") {
      o.storePassword = true;
    } else if (name == "--check-server") {
      o.checkServer = true;
    } else if (name == "--sound") {
      o.sound = true;
    }
  }
  if (!o.WantsAnything()) {
    result.error = "nothing to do: give --text and --to to send, or --show-settings";
  }
  return result;
}

std::string UsageText() {
  return R"(Usage: velkaro-send [OPTION]... [SETUP.vlk2] [/WORD=VALUE]...
Send one personalised mail per recipient, as Velkaro's send button does,
without a window. The settings, the address book, the send log and the
copies of the sent texts are those of Velkaro's program folder
($VELKARO_HOME when set).

The first line of the body text is the subject. Placeholders such as
((name)) and ((today)) are filled in for each recipient.

  SETUP.vlk2           a send setup file: body, attachments, recipients
  /sendinf=FILE        the same (or /sendinf=<clip> for the clipboard);
  /text=FILE           /text= and /to= as the window program takes them
  /to=RECIPIENT          ("/send=" and "/quit=" change nothing here)
  --text FILE          the body text (Shift_JIS or UTF-8)
  --to RECIPIENT       a registered name of the address book, or
                         "Display Name <address>"; may be repeated
  --attach FILE        a file to attach to every mail; may be repeated
  --title-in           keep the subject line in the body as well
  --dry-run            send nothing: print each mail (To, Subject, body)
                         as it would go out (on the wire half-width katakana
                         become full-width); writes no log and no copies
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
  -h, --help           display this help and exit
      --version        output version information and exit

Fields of Velkaro.ini:
  smtpSecurity=none|starttls|tls    smtpAuth=none|auto|plain|login|xoauth2
  smtpUser=USER                     smtpPasswordCommand=COMMAND
  heloName=NAME                     allowInsecureAuth=0|1
  tlsTrustedFingerprint=SHA-256 of a certificate to accept (64 hex digits)
  popSecurity=none|stls|tls
The SMTP password is never a --set field: use --store-password.

Progress and messages go to standard error.

Exit status:
  0      every mail was accepted (or nothing was to be sent)
  1      the send checks failed (no recipient, no body, an attachment
           missing); nothing was sent
  2      wrong options or unusable input (body file, recipient,
           attachment, settings value)
  3      a settings file could not be written, or --store-password could
           not keep the password
  10     the SMTP connection could not be opened
  20     the server did not accept QUIT after the last mail
  90     a failed run's QUIT failed as well
  100+n  the run stopped at a mail whose step n failed (105 POP before
           SMTP, 106 the envelope, ...); earlier mails were sent

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

}  // namespace velkaro::cli
