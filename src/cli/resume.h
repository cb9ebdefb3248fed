// --resume JOURNAL: the recipients of an earlier run that the server has
// not accepted, with that run's body, attachments and substitutions.
#pragma once

#include <string>

#include "cli/cli_options.h"
#include "job/send_job.h"

namespace velkaro::cli {

// Loads the journal's run into `job`. 0 when a run is to follow; else the
// exit status (with the reason on standard error): kExitUsage for a
// journal that cannot be used or files that differ from the run's, and
// -1 when nothing is left to send (exit 0).
int PrepareResumeJob(SendJob& job, const CliOptions& options);

}  // namespace velkaro::cli
