// What the front end says after a run: the result in words and, for a
// failed mail, the transport's own account of it.
#pragma once

#include <string>

namespace velkaro::cli {

// One line (no line end) that explains a run's result code. `mailNumber`
// is the 1-based number of the last mail started, `total` the number of
// recipients.
std::string ResultExplanation(int result, int mailNumber, int total);

// The one line (no line end) that tells how a test send ended: recipient
// `number` (1-based) shown as `recipient` ("Name <address>", UTF-8), its
// mail sent to `testAddress`; `result` is SendJob::RunTestSend's.
std::string TestSendReport(int result, int number, const std::string& recipient,
                           const std::string& testAddress);

// The transcript of the last mail in the details text of a run (from its
// last "★To " line to the end), Shift_JIS; empty when there is none.
std::string LastTranscript(const std::string& sjisDetails);

}  // namespace velkaro::cli
