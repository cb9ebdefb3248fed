// What one send run keeps while it works (shared by the files of the run).
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "job/run_journal.h"
#include "job/run_policy.h"
#include "job/send_job.h"

namespace velkaro {

// Everything a run sends, copied when it starts: the form stays editable
// during a run, and its edits (a recipient removed, the body changed, an
// attachment added) apply to the next run instead of changing, skipping or
// repeating recipients of this one.
struct RunInputs {
  std::string bodyText;
  std::string bodyFilePath;
  std::string recipientLines;
  bool titleIn = false;
  std::time_t substitutionTime = 0;
  SettingsRecord record;
  MailExtras extras;
};

struct SendJob::RunState {
  RunInputs inputs;
  RunPolicy policy;
  std::unique_ptr<SendRateLimiter> limiter;
  JournalWriter journal;
  bool journalLost = false;   // it could not be kept and was withdrawn
  bool journalStuck = false;  // … and could not even be removed
  std::time_t start = 0;
  std::string runLog;
  std::string errorText;
  std::string attachmentPaths;  // the rows, each followed by CR LF
  bool personalRows = false;    // one of them names a file per recipient
  std::unique_ptr<MailConnection> connection;
  int mailsOnConnection = 0;
  bool someNotAccepted = false;  // refused or in doubt, the run going on
};

}  // namespace velkaro
