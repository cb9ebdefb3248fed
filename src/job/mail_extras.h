// The [mail] settings of "Velkaro.ini" that every mail of a run carries: a
// copy to the sender's own mailbox, a Reply-To, one fixed Cc and a
// List-Unsubscribe link (RFC 2369, one-click per RFC 8058 for https).
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "data/velkaro_ini.h"
#include "job/placeholders.h"
#include "mail/message_writer.h"

namespace velkaro {

struct MailExtras {
  bool copyToSelf = false;
  std::string replyTo;          // UTF-8 as in the file: "address" or "name <address>"
  std::string cc;               // the same form
  std::string listUnsubscribe;  // a mailto: or https: URI; may hold placeholder words
};

MailExtras MailExtrasOf(const VelkaroIni& ini);

// What in the settings cannot go out: one Shift_JIS line ending in CR LF
// per problem, in the wording of the run's checks; empty when all can.
std::string MailExtrasProblems(const MailExtras& extras);

struct RecipientExtras {
  ExtraHeaders headers;
  std::string problem;  // Shift_JIS: why this recipient's link cannot go out
};

// The header fields of the mail for recipient line `recipientLine`, the
// unsubscribe link personalised. With a problem no field is set.
RecipientExtras ExtrasFor(const MailExtras& extras, const PlaceholderWordList& words,
                          const std::string& recipientLine, std::time_t at = 0);

// The RCPT TO addresses of a mail: the recipient, the Cc, and the sender
// with copyToSelf; each address once (compared without regard to case).
std::vector<std::string> EnvelopeRecipients(const MailExtras& extras,
                                            const std::string& recipientAddress,
                                            const std::string& senderAddress);

}  // namespace velkaro
