// The check before sending: every recipient of a run looked at before any
// connection, with everything found listed at once. It only looks ahead
// for the user; the run makes its own checks and refuses what it must.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "job/send_job.h"

namespace velkaro {

enum class FindingKind {
  Setup,                // no recipient, no body text, an unusable sender address
  Unsendable,           // a recipient address or name the transport refuses
  DuplicateAddress,     // the same address on two lines (case aside)
  NotInAddressBook,     // a registered name the address book no longer has
  UnknownPlaceholder,   // "((nmae))": looks like a placeholder, is no word
  UncarriedCharacters,  // characters the forced ISO-2022-JP cannot carry
  Attachment,           // an attachment missing, unreadable or empty
  EmptySubject,         // the subject is empty after substitution
};

struct CheckFinding {
  FindingKind kind;
  int line;             // recipient line, 1-based; 0 for the whole run
  std::string message;  // Shift_JIS, no line end

  bool operator==(const CheckFinding&) const = default;
};

// Everything the check finds for `job`, run-wide findings first, then by
// recipient line. `addressBook` is the book's text (header line, then entry
// lines) the registered names are looked up in.
std::vector<CheckFinding> CheckBeforeSending(const SendJob& job, const std::string& addressBook);

// The mail every recipient line gets, as SendJob::MailContentOf composes
// it, in line order with the entry line (CR LF included); the lines are
// walked once, so that thousands of recipients cost no more than reading
// them.
using MailVisitor =
    std::function<void(int index, const std::string& line, const MailContent& mail)>;
void ForEachMailContent(const SendJob& job, const MailVisitor& visit);

// The findings for the window: one Shift_JIS line (CR LF) each, recipient
// findings led by their line number. After `maxLines` findings the rest
// are counted in one last line.
std::string FormatFindings(const std::vector<CheckFinding>& findings,
                           std::size_t maxLines = static_cast<std::size_t>(-1));

// The findings for the terminal: "line N: …" (or "all mails: …" for a
// run-wide one), UTF-8, one LF-ended line each.
std::string FormatFindingsUtf8(const std::vector<CheckFinding>& findings);

}  // namespace velkaro
