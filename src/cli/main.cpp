// velkaro-send: the send run without a window. It uses the program folder,
// settings, address book, send log and text copies exactly as the program
// does, so a run from here and a run from the window leave the same traces.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/address_transfer.h"
#include "cli/check_server.h"
#include "cli/cli_options.h"
#include "cli/dry_run.h"
#include "cli/ini_fields.h"
#include "cli/progress_display.h"
#include "cli/resume.h"
#include "cli/run_report.h"
#include "cli/settings_fields.h"
#include "cli/store_password.h"
#include "core/encoding.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "data/settings_file.h"
#include "job/default_sounds.h"
#include "job/eml_export.h"
#include "job/run_results.h"
#include "job/send_check.h"
#include "job/send_job.h"
#include "job/send_log.h"
#include "job/send_setup.h"
#include "platform/headless_platform.h"
#include "platform/posix_services.h"

namespace velkaro::cli {
namespace {

volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
  interrupted = 1;
}

void Write(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void Error(const std::string& text) {
  Write(stderr, std::string(kProgramName) + ": " + text + "\n");
}

// A Shift_JIS text of the system (CR LF lines) for the terminal.
std::string ForTerminal(const std::string& sjis) {
  std::string out;
  for (char c : SjisToUtf8(sjis)) {
    if (c != '\r') out += c;
  }
  return out;
}

// The same on one line: a problem text's closing line end dropped.
std::string OneLine(const std::string& sjis) {
  std::string out = ForTerminal(sjis);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

bool StderrIsTerminal() {
  if (::isatty(STDERR_FILENO) != 1) return false;
  const char* term = std::getenv("TERM");
  return term == nullptr || std::string(term) != "dumb";
}

// Ctrl-C asks the run to stop, as the window's stop button does; the log
// is still written. A second Ctrl-C ends the program at once.
void CatchInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

// What happened to the one mail that failed, from the run's details.
void WriteFailedTranscript(const SendJob& job, const std::string& which) {
  const std::string transcript = LastTranscript(job.sendDetails);
  if (transcript.empty()) return;
  Write(stderr, "--- what happened to " + which + " ---\n" + ForTerminal(transcript));
  if (transcript.back() != '\n') Write(stderr, "\n");
  Write(stderr, "---\n");
}

int TerminalColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  if (const char* columns = std::getenv("COLUMNS")) return std::atoi(columns);
  return 80;
}

// Paths are handed on as absolute paths: the archive names and the
// attachment rows take the folder from them.
std::string Absolute(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ignored);
  return absolute.empty() ? path : absolute.lexically_normal().string();
}

// Nothing is posted to the main window in a run without auto-quit; a
// stray command has nowhere to go.
class NoWindow : public CommandTarget {
 public:
  void OnCommand(int) override {}
  void OnCloseRequest() override {}
};

int ApplySettingsChanges(Settings& settings, const CliOptions& options) {
  SettingsRecord changed = settings.record;
  VelkaroIni changedIni = settings.ini;
  bool refused = false;
  bool recordChanged = false;
  bool iniChanged = false;
  for (const auto& [name, value] : options.sets) {
    const bool inIni = FindSettingsField(name) == nullptr && IsIniField(name);
    const std::string problem =
        inIni ? SetIniField(changedIni, name, value) : SetSettingsField(changed, name, value);
    (inIni ? iniChanged : recordChanged) = true;
    if (!problem.empty()) {
      Error(problem);
      refused = true;
    }
  }
  // All or nothing: a half-applied list of changes would be hard to see.
  if (refused) {
    Error("the settings were not changed");
    return kExitUsage;
  }
  const VelkaroIni before = settings.ini;
  if (iniChanged) {
    settings.ini = changedIni;
    if (settings.SaveIni() != 0) {
      settings.ini = before;
      Error("could not write the settings file " + settings.ini.Path());
      return kExitSettingsWrite;
    }
  }
  if (recordChanged) {
    settings.record = changed;
    if (settings.SaveSettings() != 0) {
      if (iniChanged) {
        settings.ini = before;
        settings.SaveIni();  // back to what it held before this run
      }
      Error("could not write the settings file " + settings.SettingsFilePath());
      return kExitSettingsWrite;
    }
  }
  return 0;
}

int StorePassword(Settings& settings) {
  const std::optional<std::string> password = ReadPasswordLine(STDIN_FILENO, STDERR_FILENO);
  if (!password) {
    Error("--store-password: no password on standard input");
    return kExitUsage;
  }
  const StorePasswordResult result = StoreSmtpPassword(settings, *password);
  Error(result.message);
  return result.exitStatus;
}

// The program's own words and a setup file named on its own, applied as
// the window program applies its command line. "/send=" and "/quit=" make
// no difference here: velkaro-send always sends once and ends.
int ApplyProgramWords(SendJob& job, const CliOptions& options, const std::string& addressBook) {
  if (options.programWords.empty()) return 0;
  std::vector<std::string> words;
  std::vector<std::string> setupFiles;
  for (const std::string& word : options.programWords) {
    if (word.rfind("/sendinf=", 0) == 0 || word.rfind("/text=", 0) == 0 ||
        word.rfind("/to=", 0) == 0) {
      words.push_back(word);
    } else if (word.rfind("/send=", 0) != 0 && word.rfind("/quit=", 0) != 0) {
      setupFiles.push_back(word);
    }
  }
  if (setupFiles.size() > 1) {
    Error("give one setup file, not " + std::to_string(setupFiles.size()));
    return kExitUsage;
  }
  if (!setupFiles.empty()) words.insert(words.begin(), "/sendinf=" + Absolute(setupFiles[0]));
  const velkaro::CommandLine line = velkaro::ParseCommandLine(words);
  if (line.sendinf && *line.sendinf != "<clip>" && Zentool().ZenGetFileSize(*line.sendinf) <= 0) {
    Error("cannot read the setup file " + *line.sendinf + ": missing or empty");
    return kExitUsage;
  }
  ApplyCommandLine(job, line, addressBook);
  if (line.text && !line.text->empty() && job.bodyFilePath != *line.text) {
    Error("cannot read the body text " + *line.text + ": missing, empty or not a text");
    return kExitUsage;
  }
  job.autoQuit = false;
  job.autoSend = false;
  return 0;
}

// Fills the job from the options; 0, or the exit status after an error.
int PrepareJob(SendJob& job, const CliOptions& options, const std::string& addressBook,
               const std::string& addressBookPath) {
  if (const int status = ApplyProgramWords(job, options, addressBook); status != 0) return status;
  if (options.titleIn) job.titleIn = true;
  if (options.textFile) {
    const std::string path = Absolute(*options.textFile);
    switch (job.LoadBodyFile(path)) {
      case 0: break;
      case 1:
        Error("cannot read the body text " + *options.textFile + ": missing or empty");
        return kExitUsage;
      default:
        Error("the body text " + *options.textFile + " is not a text file");
        return kExitUsage;
    }
  }
  for (const std::string& value : options.to) {
    int unmappable = 0;
    const std::string sjis = Utf8ToSjis(value, &unmappable);
    if (unmappable > 0) {
      Error("--to '" + value + "': characters with no Shift_JIS form");
      return kExitUsage;
    }
    const std::size_t before = job.recipientLines.size();
    if (job.AddRecipientByName(sjis, addressBook) != 0) {
      Error("--to needs a recipient, got an empty value");
      return kExitUsage;
    }
    if (job.recipientLines.size() == before) {
      Error("no recipient for --to '" + value + "': not a registered name in the address book " +
            addressBookPath + " and not of the form 'Name <address>'");
      return kExitUsage;
    }
  }
  for (const std::string& file : options.attach) {
    const int result = job.AddAttachment(static_cast<int>(job.attachments.size()), Absolute(file));
    if (result != 0) {
      // A path with placeholder words is taken without its files; one
      // that only looks like it holds a word that is no placeholder.
      const bool looksPersonal =
          file.find("((") != std::string::npos && file.find("))") != std::string::npos;
      Error("cannot attach " + file +
            (result != 2     ? ": not a file name"
             : looksPersonal ? ": missing or empty (and what is in ((…)) is no placeholder word)"
                             : ": missing or empty"));
      return kExitUsage;
    }
  }
  return 0;
}

int DryRun(const SendJob& job, Settings& settings, const std::optional<std::string>& emlFolder) {
  const std::string problems = CheckProblems(job);
  const auto mails = ComposeMails(job, settings.record);
  bool personalProblems = false;
  for (const ComposedMail& mail : mails) personalProblems |= !mail.personalProblem.empty();
  if (!problems.empty()) {
    Write(stderr, HeadlessPlatform::FormatMessage(problems, MsgButtons::Ok));
    // A recipient's own file that is missing stops the run's checks too;
    // the mails are still shown, so that every such recipient can be seen.
    if (!personalProblems) return run_result::kChecksFailed;
  }
  Write(stdout, FormatDryRun(mails, job, settings.record));
  for (std::size_t i = 0; i < mails.size(); ++i) {
    const std::string& problem =
        mails[i].personalProblem.empty() ? mails[i].problem : mails[i].personalProblem;
    if (problem.empty()) continue;
    Error("dry run: mail " + std::to_string(i + 1) + " would be refused: " + problem);
  }
  if (!problems.empty()) {
    Write(stderr, std::string(kProgramName) + ": dry run: the run's checks would fail; " +
                      std::to_string(mails.size()) + " mail(s) shown, nothing sent\n");
    return run_result::kChecksFailed;
  }
  if (emlFolder) {
    const EmlExport exported = ExportEml(job, *emlFolder);
    if (!exported.error.empty()) {
      // The export stops at the first mail it cannot write: say why, when
      // it is that recipient's own attachment.
      const std::string personal =
          job.PersonalProblemOf(exported.written + static_cast<int>(exported.skipped.size()));
      Error("--eml: " + exported.error + (personal.empty() ? "" : ": " + OneLine(personal)));
      return kExitUsage;
    }
    for (const std::string& line : exported.skipped) {
      Write(stderr, std::string(kProgramName) + ": --eml: no file for recipient " + line + "\n");
    }
    Write(stderr, std::string(kProgramName) + ": " + std::to_string(exported.written) +
                      " .eml file(s) written to " + *emlFolder + "\n");
  }
  Write(stderr, std::string(kProgramName) + ": dry run: " + std::to_string(mails.size()) +
                    " mail(s) shown, nothing sent\n");
  return 0;
}

// --check: every finding on standard output, the count on standard error.
// Nothing is connected to and nothing is written.
int CheckRun(const SendJob& job, const std::string& addressBook) {
  const std::vector<CheckFinding> findings = CheckBeforeSending(job, addressBook);
  Write(stdout, FormatFindingsUtf8(findings));
  const std::string recipients =
      std::to_string(Zentool().ZenCountLines(job.recipientLines)) + " recipient(s)";
  if (findings.empty()) {
    Write(stderr, std::string(kProgramName) + ": check: nothing found for " + recipients +
                      "; nothing was sent\n");
    return 0;
  }
  Write(stderr, std::string(kProgramName) + ": check: " + std::to_string(findings.size()) +
                    " problem(s) found for " + recipients + "; nothing was sent\n");
  return run_result::kChecksFailed;
}

int SendRun(SendJob& job, Settings& settings, HeadlessPlatform& platform) {
  ProgressDisplay display([](const std::string& bytes) { Write(stderr, bytes); },
                          StderrIsTerminal(), TerminalColumns());
  display.SetTotal(Zentool().ZenCountLines(job.recipientLines));
  job.onRunEvent = [&display](const RunEvent& event) {
    display.Event(event);
    // Lines that must stay when the run goes on past a mail.
    const std::string mail = "[" + std::to_string(event.mail + 1) + "] ";
    if (event.kind == RunEventKind::MailRefused) {
      display.Message(std::string(kProgramName) + ": " + mail + "refused (" +
                      std::to_string(event.code) + "): " + event.reply + "\n");
    } else if (event.kind == RunEventKind::MailInDoubt) {
      display.Message(std::string(kProgramName) + ": " + mail +
                      "in doubt: the end of data got no reply; not sent again\n");
    } else if (event.kind == RunEventKind::Reconnecting) {
      display.Message(std::string(kProgramName) + ": " + mail + "try " +
                      std::to_string(event.attempt) + " on a new connection in " +
                      std::to_string(event.seconds) + " s\n");
    } else if (event.kind == RunEventKind::WaitingForLimit) {
      display.Message(std::string(kProgramName) + ": waiting " + std::to_string(event.seconds) +
                      " s for " + event.reason + "\n");
    }
  };
  platform.SetStatusSink([&display](const std::string& sjis) { display.Status(SjisToUtf8(sjis)); });
  platform.SetMessageSink([&display](const std::string& lines) { display.Message(lines); });
  NoWindow window;
  platform.SetCommandTarget(&window);

  CatchInterrupt();
  bool stopAnnounced = false;
  platform.SetPumpHook([&] {
    if (interrupted == 0 || !job.Running()) return;
    if (!stopAnnounced) {
      stopAnnounced = true;
      display.Message(
          std::string(kProgramName) +
          ": stop requested: the run ends with the current mail (Ctrl-C again ends at once)\n");
    }
    // The transport honours a stop only while it transmits; asking on
    // every pump makes sure the request is not lost in between.
    job.RequestStop();
  });

  const std::time_t start = platform.Now();
  const int result = job.RunSendJob();
  platform.SetPumpHook(nullptr);
  signal(SIGINT, SIG_DFL);
  display.Finish();
  platform.SetStatusSink(nullptr);
  platform.SetMessageSink(nullptr);
  platform.SetCommandTarget(nullptr);

  if (result > run_result::kMailFailed) WriteFailedTranscript(job, "the mail that failed");
  job.onRunEvent = nullptr;
  const int total = Zentool().ZenCountLines(job.recipientLines);
  std::string explanation = ResultExplanation(result, display.CurrentMail(), total);
  if (stopAnnounced && result != run_result::kSent) explanation += " (stopped on request)";
  if (result == run_result::kOpenFailed) {
    explanation += " (" + SjisToUtf8(FieldText(settings.record.server.smtpServer)) + " port " +
                   std::to_string(settings.record.server.smtpPort) + ")";
  }
  Write(stderr, std::string(kProgramName) + ": " + explanation + " (exit status " +
                    std::to_string(result) + ")\n");
  if (!job.failureReason.empty()) {
    Write(stderr, std::string(kProgramName) + ": " + ForTerminal(job.failureReason) + "\n");
  }
  if (!job.results.empty()) {
    Write(stderr,
          std::string(kProgramName) + ": results: " + ResultSummary(job.results) +
              (job.resultCsvPath.empty() ? std::string(" (the result list could not be written)")
                                         : "; list in " + job.resultCsvPath) +
              "\n");
  }
  if (!job.journalPath.empty()) {
    Write(stderr, std::string(kProgramName) + ": journal: " + job.journalPath +
                      (result == 0 ? "\n" : " (velkaro-send --resume takes it up)\n"));
  } else if (result != run_result::kChecksFailed) {
    Error("warning: the run's journal could not be kept; it cannot be resumed");
  }
  const std::string& folder = settings.GetProgramFolder();
  // The exit status stays the servers' answer; what could not be recorded
  // is said here, so that a missing log or copy does not go unnoticed.
  if (job.unsavedCopies.size() == 1) {
    Error("warning: could not save the copy of the sent text " + job.unsavedCopies[0]);
  } else if (!job.unsavedCopies.empty()) {
    Error("warning: could not save " + std::to_string(job.unsavedCopies.size()) +
          " copies of sent texts, the first " + job.unsavedCopies[0]);
  }
  if (!job.unwrittenLog.empty()) {
    Error("warning: could not write the send log " + job.unwrittenLog);
  } else {
    Write(stderr, std::string(kProgramName) + ": send log: " + BuildLogName(folder, start) + "\n");
  }
  if (display.CurrentMail() > static_cast<int>(job.unsavedCopies.size())) {
    Write(stderr, std::string(kProgramName) + ": copies of the sent texts: " +
                      Zentool().ZenJoinPath(folder, "Text") + "\n");
  }
  return result;
}

// --test-to: the mail of one recipient, as the run would send it, goes to
// the test address only. The one-line report goes to standard error, as
// the run's does; the exit status is the test send's result.
int TestSendRun(SendJob& job, const CliOptions& options, HeadlessPlatform& platform) {
  const int count = Zentool().ZenCountLines(job.recipientLines);
  const int number = options.testAs.value_or(1);
  if (count == 0) {
    Error("--test-to: no recipient to take the mail of: give --to or a setup file");
    return kExitUsage;
  }
  if (number > count) {
    Error("--as " + std::to_string(number) + ": there " +
          (count == 1 ? std::string("is only 1 recipient")
                      : "are only " + std::to_string(count) + " recipients"));
    return kExitUsage;
  }
  const MailContent content = job.MailContentOf(number - 1);
  const std::string recipient =
      SjisToUtf8(content.recipientName) + " <" + content.recipientAddress + ">";
  NoWindow window;
  platform.SetCommandTarget(&window);
  CatchInterrupt();
  platform.SetPumpHook([&job] {
    if (interrupted != 0 && job.Running()) job.RequestStop();
  });
  const int result = job.RunTestSend(number - 1, *options.testTo);
  platform.SetPumpHook(nullptr);
  signal(SIGINT, SIG_DFL);
  platform.SetCommandTarget(nullptr);

  if (result > run_result::kMailFailed) WriteFailedTranscript(job, "the test mail");
  Write(stderr, std::string(kProgramName) + ": " +
                    TestSendReport(result, number, recipient, *options.testTo) + " (exit status " +
                    std::to_string(result) + ")\n");
  // A refusal by the checks has been written out with its reasons already.
  if (result > run_result::kMailFailed) {
    const std::string personal = job.PersonalProblemOf(number - 1);
    if (!personal.empty()) Error(OneLine(personal));
  }
  if (!job.failureReason.empty()) Error(OneLine(job.failureReason));
  if (!job.unwrittenLog.empty()) Error("warning: could not write the send log " + job.unwrittenLog);
  return result < 0 ? run_result::kChecksFailed : result;
}

int Run(const CliOptions& options) {
  HeadlessPlatform platform;
  ScopedPlatform installed(platform);
  platform.SetSoundEnabled(options.sound);

  Settings settings;
  if (settings.LoadSettings() == 11) {
    Error("the settings file " + settings.SettingsFilePath() +
          " has an unknown size; using the defaults");
  }
  if (settings.LoadIni() != 0) {
    Error("cannot read the settings file " + settings.ini.Path() + "; using its defaults");
  }
  for (const std::string& warning : IniValueWarnings(settings.ini)) Error(warning);
  // Like the program at start: the event sounds always find a file.
  EnsureDefaultSounds(settings.GetProgramFolder());
  EnsureAddressBook(Zentool().ZenJoinPath(settings.GetProgramFolder(),
                                          FieldText(settings.record.addressFileName)));

  if (!options.sets.empty()) {
    if (const int status = ApplySettingsChanges(settings, options); status != 0) return status;
  }
  if (options.storePassword) {
    if (const int status = StorePassword(settings); status != 0) return status;
  }
  if (options.showSettings) {
    Write(stdout, FormatSettings(settings.record) + FormatIniSettings(settings.ini));
  }
  if (options.checkServer) {
    const int status = CheckServer(settings, platform);
    if (status != 0 || !options.WantsRun()) return status;
  }
  const std::string addressBookPath = Zentool().ZenJoinPath(
      settings.GetProgramFolder(), FieldText(settings.record.addressFileName));
  if (options.WantsAddressTransfer()) {
    const TransferOutcome outcome = options.importAddresses
                                        ? ImportAddressFile(options, addressBookPath)
                                        : ExportAddressFile(options, addressBookPath);
    Write(stdout, outcome.out);
    Write(stderr, outcome.err);
    return outcome.exitStatus;
  }
  if (!options.WantsRun()) return 0;

  int unmappable = 0;
  const std::string addressBook = LoadAddressBook(addressBookPath, &unmappable);
  if (unmappable > 0) {
    Error("the address book " + addressBookPath + " has " + std::to_string(unmappable) +
          " character(s) with no Shift_JIS form; they read as 〓");
  }

  SendJob job(settings);
  if (options.resume) {
    const int status = PrepareResumeJob(job, options);
    if (status != 0) return status < 0 ? 0 : status;
    return SendRun(job, settings, platform);
  }
  if (const int status = PrepareJob(job, options, addressBook, addressBookPath); status != 0) {
    return status;
  }
  if (options.check) return CheckRun(job, addressBook);
  if (options.testTo) return TestSendRun(job, options, platform);
  return options.dryRun ? DryRun(job, settings, options.emlFolder)
                        : SendRun(job, settings, platform);
}

}  // namespace
}  // namespace velkaro::cli

int main(int argc, char* argv[]) {
  using namespace velkaro::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const ParseResult parsed = ParseCommandLine(args);
  if (!parsed.ok()) {
    Error(parsed.error);
    Write(stderr, TryHelpText());
    return kExitUsage;
  }
  if (parsed.options.help) {
    Write(stdout, UsageText());
    return 0;
  }
  if (parsed.options.version) {
    Write(stdout, VersionText(velkaro::posix::BuildVersion()));
    return 0;
  }
  if (parsed.options.manPage) {
    Write(stdout, ManPageText(velkaro::posix::BuildVersion()));
    return 0;
  }
  return Run(parsed.options);
}
