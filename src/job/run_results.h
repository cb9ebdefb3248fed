// The outcome of a run for each of its recipients, and the result codes a
// run ends with: one table for the run, its log, the command line's report
// and the result list.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace velkaro {

// Result codes of a send run. A mail that failed ends the run with
// kMailFailed + the transport's code of the failed step (101 … 122).
namespace run_result {
inline constexpr int kSent = 0;          // every mail was accepted
inline constexpr int kChecksFailed = 1;  // the checks refused the run; nothing sent
inline constexpr int kOpenFailed = 10;   // the SMTP connection could not be opened
inline constexpr int kQuitFailed = 20;   // every mail accepted, QUIT was not
// With onRecipientFailure=continue: the run went through the whole list
// and some recipients were refused (or are in doubt); see the result list.
inline constexpr int kSomeRefused = 30;
// The stop button while the run waited for a limit or a retry.
inline constexpr int kStopped = 40;
// The journal could not be written nor withdrawn: the run stopped rather
// than send mails it could not record.
inline constexpr int kJournalFailed = 50;
inline constexpr int kQuitAfterFailure = 90;  // a failed run whose QUIT failed too
inline constexpr int kMailFailed = 100;       // + the failed step of one mail
}  // namespace run_result

// The steps of one mail, as MailConnection::SendOneMail reports the one
// that failed; the run ends with run_result::kMailFailed + the step.
namespace mail_step {
inline constexpr int kNotOpen = 1;            // the SMTP connection was not open
inline constexpr int kPopStillOpen = 2;       // a POP3 connection was still open
inline constexpr int kUnsendable = 3;         // empty subject, name or address; unusable address
inline constexpr int kAttachmentMissing = 4;  // an attachment could not be read
inline constexpr int kPopBeforeSmtp = 5;
inline constexpr int kEnvelope = 6;  // MAIL FROM, RCPT TO, DATA, or over the server's SIZE
// From the header on the server holds part of the mail, and a failure
// drops the connection so that the server discards it.
inline constexpr int kHeader = 7;
inline constexpr int kTextPartHeader = 8;
inline constexpr int kBodyOfParts = 9;  // the text part of a mail with attachments
inline constexpr int kBody = 10;        // the body of a mail without
inline constexpr int kEndOfData = 11;
inline constexpr int kAttachmentPartHeader = 20;
inline constexpr int kAttachment = 21;
inline constexpr int kClosingBoundary = 22;

// MailConnection::endOfDataCode of a failed end of data.
inline constexpr int kEndOfDataSentInPart = 1;
inline constexpr int kEndOfDataRefused = 2;
// Sent whole without a reply: the server may have taken the mail.
inline constexpr int kEndOfDataNoReply = 3;

// The steps during which the mail's connection is dropped half-way.
constexpr bool DropsConnection(int step) {
  return (step >= kHeader && step <= kBody) ||
         (step >= kAttachmentPartHeader && step <= kClosingBoundary);
}
}  // namespace mail_step

// What the server check ends with besides kSent, kOpenFailed (any failure
// of connecting, TLS or the login) and kQuitFailed: the POP before SMTP
// login failed, numbered as that step of a mail.
namespace run_result {
inline constexpr int kPopBeforeSmtpFailed = kMailFailed + mail_step::kPopBeforeSmtp;
}  // namespace run_result

// Each result code with what it means for the user (English, one or more
// lines of at most 60 characters), in ascending order; the last is the
// family kMailFailed + n. velkaro-send's help lists them.
struct RunResultMeaning {
  int code;
  const char* meaning;
};
const std::vector<RunResultMeaning>& RunResultMeanings();

enum class MailOutcome {
  Sent,     // the server accepted the end of data
  Refused,  // the mail failed at a step; the server did not take it
  InDoubt,  // the end of data went out but no reply came: it may have arrived
  NotSent,  // the run ended before this mail
};

// "sent", "refused", "in-doubt", "not-sent".
const char* OutcomeName(MailOutcome outcome);

struct RecipientResult {
  std::string name;  // Shift_JIS, as in the recipient line
  std::string address;
  MailOutcome outcome = MailOutcome::NotSent;
  int code = 0;       // the run's code for a failed mail (101 …); 0 otherwise
  std::string reply;  // the server's last reply line, or why nothing was sent (Shift_JIS)
  std::string line;   // the recipient line as the run took it, with CR LF
  // The file names the mail carried, "; " between them (UTF-8); kept only
  // in runs with personal attachments, where they differ per recipient.
  std::string attachments;
};

// The result list as CSV, UTF-8 with BOM (what spreadsheet programs open
// as UTF-8), CR LF: a header row "no,name,address,outcome,code,reply" and
// one row per recipient in list order; `code` is empty for a sent mail. A
// run with personal attachments has an "attachments" column too.
std::string FormatResultCsv(const std::vector<RecipientResult>& results);

// "Log/result-YYYYMMDD-hhmmss.csv" of the run started at `start`.
std::string BuildResultCsvName(const std::string& programFolder, std::time_t start);

// Writes the list atomically; 0 written, else the failure (4 the folder
// could not be made; -1 an input/output error; 1 any other).
int WriteResultCsv(const std::string& programFolder, std::time_t start,
                   const std::vector<RecipientResult>& results);

// "3 sent, 1 refused, 0 in doubt, 2 not sent".
std::string ResultSummary(const std::vector<RecipientResult>& results);

}  // namespace velkaro
