// --dry-run: the mails of a run as they would go out, without a
// connection, a log or copies of the texts.
#pragma once

#include <string>
#include <vector>

#include "data/settings_record.h"
#include "job/send_job.h"

namespace velkaro::cli {

// One personalised mail, Shift_JIS, as the run hands it to the transport.
struct ComposedMail {
  std::string recipientName;
  std::string recipientAddress;
  std::string subject;
  std::string body;     // CR LF, as the run archives it
  std::string problem;  // UTF-8: why the transport would refuse it, or empty
  // The file names (UTF-8) this recipient's mail carries, personal ones
  // filled in, and why the recipient cannot get its mail at all (its own
  // file missing, a value refused in its path), or empty.
  std::vector<std::string> attachmentNames;
  std::string personalProblem;
  CharsetChoice charset;
};

// What the run's checks would report (the program's own texts, in
// Shift_JIS, each line ending in CR LF), or empty when the run could start.
std::string CheckProblems(const SendJob& job);

// Substitutes, splits off the subject and applies the title-in rule for
// every recipient line, and chooses each mail's character set, exactly as
// a run does. The clock is read through the platform.
std::vector<ComposedMail> ComposeMails(const SendJob& job, const SettingsRecord& record);

// "UTF-8 (because of ①, ㈱)" or "ISO-2022-JP" (UTF-8).
std::string CharsetLine(const CharsetChoice& choice);

// The mails as text for the terminal (UTF-8, LF line ends).
std::string FormatDryRun(const std::vector<ComposedMail>& mails, const SendJob& job,
                         const SettingsRecord& record);

}  // namespace velkaro::cli
