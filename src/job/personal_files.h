// Personal attachments: an attachment row whose path holds placeholder
// words (請求書/((regist)).pdf) names one file per recipient. The words are
// filled with the recipient's values taken to the file system's UTF-8; a
// value that would lead out of the folder is refused, never followed.
#pragma once

#include <ctime>
#include <string>

#include "job/mail_extras.h"
#include "job/placeholders.h"

namespace velkaro {

bool IsPersonalPattern(const PlaceholderWordList& words, const std::string& utf8Path);

struct RecipientAttachments {
  std::string paths;    // UTF-8, each followed by CR LF, in row order
  std::string problem;  // Shift_JIS: the refused value or the file not found
  std::string missing;  // UTF-8: the path looked for, when a file is missing
};

// The attachment paths one recipient's mail carries, from the rows'
// `patterns` (each followed by CR LF). With `checkFiles` a personal file
// that is missing, unreadable or empty is a problem too.
RecipientAttachments AttachmentsFor(const PlaceholderWordList& words, const std::string& patterns,
                                    const std::string& recipientLine, std::time_t at,
                                    bool checkFiles);

// Why one recipient cannot get the mail for its own files or its link
// (Shift_JIS), the files first; empty when nothing stands in the way.
std::string RecipientFilesAndLinkProblem(const PlaceholderWordList& words,
                                         const std::string& patterns, const MailExtras& extras,
                                         const std::string& recipientLine, std::time_t at);

}  // namespace velkaro
