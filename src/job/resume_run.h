// Taking up a run that did not finish, from its journal: the same body,
// subject rule, attachments and substitutions, sent to exactly the
// recipients the server has not accepted. A second copy of one mail to
// one recipient is the worst outcome of a run, so a mail in doubt (its end
// of data went out, no reply came) is left out unless asked for.
#pragma once

#include <string>
#include <vector>

#include "job/run_journal.h"
#include "job/send_job.h"

namespace velkaro {

struct ResumeDifference {
  enum Kind {
    BodyNotInAFile,  // the run's text was never saved (cannot be had again)
    BodyMissing,     // the body file cannot be read now
    BodyChanged,     // it reads differently from what the run sent
    AttachmentMissing,
    AttachmentChanged,
  } kind;
  std::string path;  // file-system bytes (UTF-8)
};

struct ResumePlan {
  std::vector<ResumeDifference> differences;
  std::vector<std::string> inDoubt;  // addresses left out (or included)
  int accepted = 0;                  // mails the earlier run got through
  int toSend = 0;
  // Whether the differences allow no run: a missing file always, a
  // changed one unless forced.
  bool refused = false;
};

// Loads the journal's run into `job` (body file, title-in, attachments,
// the recipients still to be sent, the time the date words show) and
// says what differs. `job` is ready for RunSendJob unless `refused`.
ResumePlan PrepareResume(SendJob& job, const JournalState& journal, bool force,
                         bool includeInDoubt);

// The differences in English, one line each ("the body file X changed
// since the run"), for velkaro-send.
std::string DescribeDifference(const ResumeDifference& difference);

}  // namespace velkaro
