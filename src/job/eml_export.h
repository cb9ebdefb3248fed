// The mails of a send job as .eml files, for a look in the user's own mail
// program before sending: each exactly as the receiver will store it (CR LF
// line ends, no dot stuffing), only the Date and the Message-Id differ from
// a later real send.
#pragma once

#include <string>
#include <vector>

#include "mail/message_writer.h"

namespace velkaro {

class SendJob;

// "NNNN_<address>.eml": `number` (1-based) in four digits, the address
// with every character but letters, digits and "._@+-" as "_".
std::string EmlFileName(int number, const std::string& address);

// The message the run would send for recipient line `index`, composed now.
std::string ComposedMessage(const SendJob& job, int index, CharsetChoice* choice = nullptr);

struct EmlExport {
  int written = 0;
  // Recipients with no mail to look at (their own file missing, a value
  // refused) while the run would go on without them: named, not written.
  std::vector<std::string> skipped;  // UTF-8, one line each
  // UTF-8; empty when every mail was written. Names the file that failed.
  std::string error;
};

// Writes one .eml per recipient line into `folder` (made when missing),
// each atomically; stops at the first file that cannot be written or
// composed. With onRecipientFailure=continue a recipient the run would
// refuse is skipped, as the run skips it.
EmlExport ExportEml(const SendJob& job, const std::string& folder);

}  // namespace velkaro
