#include "cli/resume.h"

#include <cstdio>

#include "job/resume_run.h"
#include "job/run_journal.h"

namespace velkaro::cli {
namespace {

void Say(const std::string& text) {
  std::fputs((std::string(kProgramName) + ": " + text + "\n").c_str(), stderr);
}

}  // namespace

int PrepareResumeJob(SendJob& job, const CliOptions& options) {
  std::string error;
  const std::optional<JournalState> journal = ReadJournal(*options.resume, &error);
  if (!journal) {
    Say(error);
    return kExitUsage;
  }
  if (JournalInUse(*options.resume)) {
    Say(*options.resume + " belongs to a run that is still sending; resume it when it has ended");
    return kExitUsage;
  }
  if (journal->resumed) {
    // Its recipients went to a later run, whose journal is the one to take.
    Say(*options.resume + " was resumed already; resume the journal of that run instead");
    return kExitUsage;
  }
  const ResumePlan plan = PrepareResume(job, *journal, options.force, options.includeInDoubt);
  for (const ResumeDifference& d : plan.differences) Say(DescribeDifference(d));
  if (plan.refused) {
    bool onlyChanged = true;
    for (const ResumeDifference& d : plan.differences) {
      onlyChanged = onlyChanged && (d.kind == ResumeDifference::BodyChanged ||
                                    d.kind == ResumeDifference::AttachmentChanged);
    }
    Say(std::string("nothing was sent: the run cannot be resumed as it was") +
        (onlyChanged ? " (--force sends the files as they are now)" : ""));
    return kExitUsage;
  }
  for (const std::string& address : plan.inDoubt) {
    if (options.includeInDoubt) {
      Say("sent again though in doubt: " + address);
    } else {
      Say("in doubt: " + address);
    }
  }
  Say("resuming " + *options.resume + ": " + std::to_string(plan.accepted) +
      " mail(s) accepted earlier, " + std::to_string(plan.toSend) + " to send");
  return plan.toSend == 0 ? -1 : 0;
}

}  // namespace velkaro::cli
