// The start-up offer to take up a send run that ended without finishing (a
// crash, a kill, a power cut): the window asks once for the newest such run
// of the program folder and, when the user agrees, loads its body file,
// attachments and the recipients the server has not accepted into the form.
// Nothing is sent: the user checks the form and presses 送信.
#pragma once

#include "ui/velkaro_doc.h"
#include "ui/velkaro_view.h"

namespace velkaro::ui {

enum class ResumeOffer {
  NotAsked,     // nothing to offer, or the form is the command line's
  Declined,     // "No": asked again at the next start
  Silenced,     // "Cancel": the run is never offered again
  NothingLeft,  // every recipient was accepted or is in doubt; told once
  Refused,      // a file of the run is missing or changed: nothing loaded
  Loaded,       // the form holds the rest of the run
};

// Asks about the newest unfinished run, unless the program was started to
// do something (a setup file, a body file, a recipient, an automatic send)
// or the form already holds a body, recipients or attachments: those come
// first and are never replaced.
ResumeOffer OfferUnfinishedRun(CVelkaroView& view, CVelkaroDoc& doc);

// A resumed run's own journal now holds its recipients: the form's next
// run is a new one again (its date words show the time it is sent).
void ForgetResumedRun(SendJob& job);

}  // namespace velkaro::ui
