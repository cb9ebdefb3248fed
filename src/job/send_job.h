// What the main form holds for a send run, and the run itself. The model
// knows nothing of widgets: the Qt form and the headless sender are two
// views of it. It is the "window" the run's timers are started on (103
// automatic send, 105 progress display, 220 reply time-out); questions and
// messages go through the platform's message boxes, status texts through
// its status line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "data/settings_file.h"
#include "job/mail_extras.h"
#include "job/run_events.h"
#include "job/run_results.h"
#include "mail/mail_connection.h"
#include "platform/platform.h"

namespace velkaro {

// A row of the attachment list: the file name with extension and its
// folder without a trailing separator (file-system bytes, UTF-8).
struct AttachmentRow {
  std::string name;
  std::string folder;
};

// Why one recipient cannot get the mail though the others can: the step
// code a mail failing there gets (run_result's mail steps) and the words.
struct PersonalProblem {
  int step = 0;
  std::string text;  // Shift_JIS
};

// Whoever shows the job. The two calls are the form's refresh steps.
class SendJobView {
 public:
  virtual ~SendJobView() = default;
  // Copy what the user edited (body, check boxes, lists) into the job.
  virtual void PullFromControls() {}
  // Show the job's state again (texts, lists, send button, title).
  virtual void JobChanged() {}
};

class SendJob : public TimerTarget {
 public:
  static constexpr int kAutoSendTimerId = 103;
  static constexpr int kProgressTimerId = 105;
  static constexpr int kProgressPeriodMs = 250;
  static constexpr int kAutoSendDelayMs = 2000;

  explicit SendJob(Settings& settings);
  ~SendJob() override;
  SendJob(const SendJob&) = delete;
  SendJob& operator=(const SendJob&) = delete;

  void SetView(SendJobView* view) { view_ = view; }
  void PullFromView();
  void NotifyChanged();

  // --- body and attachments ---
  // 0 loaded; 1 missing or empty file; 2 no text in it (or not a text).
  int LoadBodyFile(const std::string& path);
  // 0 added; 1 empty path; 2 missing or empty file; 3 no name or folder.
  // A path holding placeholder words is added without its files existing.
  int AddAttachment(int index, const std::string& path);
  // 0 saved; 1 the user wants another name; 2 cancelled; 3 the path is a
  // folder; -1 writing failed.
  int SaveBodyFile(const std::string& path, bool noQuestion);
  // Clears the body (no questions: the caller asks them).
  void ClearBody();
  std::string AttachmentPath(std::size_t row) const;
  // Row `row` names a file per recipient: its path holds placeholder words.
  bool IsPersonalAttachment(std::size_t row) const;
  // How many recipient lines find their own file for row `row`.
  int PersonalFilesFound(std::size_t row) const;
  // Why recipient line `index` cannot get its mail though the run goes on
  // (Shift_JIS): a personal attachment not found or a value refused in its
  // path, or its unsubscribe link; empty when nothing stands in the way.
  std::string PersonalProblemOf(int index) const;
  // What recipient line `index` gets: the texts personalised as the run
  // sends them, the sender of the settings, the attachments.
  MailContent MailContentOf(int index) const;
  // The same for one entry line (with its CR LF) of a body, settings and
  // attachment rows (each followed by CR LF; personal ones resolved for the
  // line) given apart: what a run composes from the copy it took when it
  // started. With `problem` the personal files are looked for, and what
  // keeps this recipient from getting the mail is put there.
  static MailContent ComposeContent(const SettingsRecord& record, const std::string& bodyText,
                                    bool titleIn, const std::string& recipientLine,
                                    const std::string& attachmentPaths, std::time_t at = 0,
                                    const MailExtras& extras = {},
                                    PersonalProblem* problem = nullptr);
  // Shows the recipient rows again. Every line of `recipientLines` is a
  // row, also one with an empty name or address, so that the list shows
  // exactly what will be sent and row i is line i.
  void RebuildRecipientList() { NotifyChanged(); }
  // Adds one recipient: a registered name of the address book (its first
  // entry), or "display name <address>" for someone not in it. 1 when the
  // value is empty, else 0 (also when nothing could be added).
  int AddRecipientByName(const std::string& value, const std::string& addressBook);

  // --- the run ---
  // Sends one mail per recipient line; the run's result code (0 success).
  // A run that is asked for while one is active is refused with -1.
  int RunSendJob();
  // The test send: the mail of recipient line `index` (0-based) as it
  // would go, delivered only to `address`, its subject marked "[テスト] ".
  // Kept in the send log as a test; no journal, results or copies. 0 sent,
  // else a run result code; -1 while a run is active.
  int RunTestSend(int index, const std::string& address);
  // What the run's checks would refuse, one line ending in CR LF per
  // problem (Shift_JIS, the texts of the run's message box without its
  // closing cancel line); empty when a run can start.
  std::string CheckProblems() const;
  bool Running() const { return activeConnection_ != nullptr; }
  MailConnection* ActiveConnection() const { return activeConnection_; }
  // The stop button during a run.
  void RequestStop();
  // The details command's text: every transcript of the last run.
  std::string DetailsText() const;
  // Timer 103: posts the Send command after the start-up delay.
  void StartAutoSendTimer();
  void OnTimer(int id) override;
  // The status text the progress display shows for a progress record.
  static std::string ProgressText(const ProgressRecord& progress);

  // --- state (the form copies these to and from its controls) ---
  std::string bodyText;      // Shift_JIS, CR LF; first line is the subject
  std::string bodyFilePath;  // empty for an unsaved text
  bool bodyModified = false;
  TextEncoding bodyEncoding = TextEncoding::ShiftJis;  // how the file was written
  LineEnds bodyLineEnds = LineEnds::CrLf;
  std::string recipientLines;  // entry lines, each ended by CR LF
  std::vector<AttachmentRow> attachments;
  bool autoQuit = false;
  bool titleIn = false;
  bool autoSend = false;
  // What a setup file or the command line asked for: -1 not given, 0 off,
  // 1 on; and the "/text=" and "/sendinf=" values they named.
  int quitOption = -1;
  int sendOption = -1;
  std::string textOption;
  std::string sendinfOption;
  std::string sendDetails;
  // What the last run could not write: the copies of sent texts and the
  // send log (paths). Such a failure never changes the run's result, as
  // the mails went out all the same; it is told in the status text and the
  // run log instead.
  std::vector<std::string> unsavedCopies;
  std::string unwrittenLog;
  // Why the last run failed in words (Shift_JIS): the server's refusal or
  // what went wrong with TLS or the login; empty when nothing was said.
  std::string failureReason;
  // Every recipient of the last run with its outcome, in list order, and
  // the CSV file it was written to (empty when it could not be written).
  std::vector<RecipientResult> results;
  std::string resultCsvPath;
  // The journal of the last run (empty when it could not be kept), and
  // the time the date and time words show (0: when each mail is
  // composed; a resumed run shows those of the run it resumes).
  std::string journalPath;
  std::time_t substitutionTime = 0;
  // The journal of the run this one resumes: marked as taken up once this
  // run's own journal is on the disk, so that it is offered no more.
  std::string resumesJournal;
  // Called with every event of a run, before the status text made of it.
  RunEventSink onRunEvent;
  std::string sendButtonCaption;  // Shift_JIS
  bool sendButtonEnabled = true;
  std::string windowTitle;  // Shift_JIS

  Settings& settings() { return settings_; }
  const Settings& settings() const { return settings_; }

 private:
  struct RunState;
  int CheckJob(RunState& run);
  void StartJournal(RunState& run);
  int SendToRecipients(RunState& run, int count);
  int SendToRecipient(RunState& run, int index);
  int SendAttempt(RunState& run, int index, const MailContent& content, int attempt, bool last);
  int RefuseBeforeSending(RunState& run, int index, const PersonalProblem& problem);
  std::string PersonalProblems() const;
  std::string TestSendProblems(int index, const std::string& address) const;
  int FinishTestSend(MailConnection& mail, std::time_t start, std::string log, int result,
                     const std::string& address);
  int OpenAgain(RunState& run);
  bool WaitForLimits(RunState& run);
  bool WaitSeconds(RunState& run, int seconds, const std::string& sjisWhy);
  bool RecordOutcome(RunState& run, int index);
  bool KeepJournal(RunState& run, bool written);
  int FinishRun(RunState& run, int result, int count);
  void Emit(const RunEvent& event);
  int RefusedCount() const;
  // Every recipient of `lines` not sent yet; then one mail's outcome.
  void StartResults(const std::string& lines);
  static void RecordResult(RecipientResult& result, const MailConnection& mail, int code);
  std::string ChooseSoundFile(int event) const;
  void PlayEventSound(int event) const;
  void SetStatus(const std::string& sjisText);
  void SetSendButton(const std::string& sjisCaption, bool enabled);
  void ShowProgress();

  Settings& settings_;
  SendJobView* view_ = nullptr;
  MailConnection* activeConnection_ = nullptr;
};

}  // namespace velkaro
