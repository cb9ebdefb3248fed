#include "job/run_results.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "core/atomic_file.h"
#include "core/encoding.h"
#include "core/zentool.h"
#include "data/csv.h"

namespace velkaro {

const char* OutcomeName(MailOutcome outcome) {
  switch (outcome) {
    case MailOutcome::Sent: return "sent";
    case MailOutcome::Refused: return "refused";
    case MailOutcome::InDoubt: return "in-doubt";
    case MailOutcome::NotSent: break;
  }
  return "not-sent";
}

const std::vector<RunResultMeaning>& RunResultMeanings() {
  static const std::vector<RunResultMeaning> table = {
      {run_result::kSent, "every mail was accepted (or nothing was to be sent)"},
      {run_result::kChecksFailed,
       "the send checks failed (no recipient, no body, an attachment\n"
       "missing); nothing was sent"},
      {run_result::kOpenFailed, "the SMTP connection could not be opened"},
      {run_result::kQuitFailed, "the server did not accept QUIT after the last mail"},
      {run_result::kSomeRefused,
       "with onRecipientFailure=continue: the run went through the list\n"
       "and some recipients were refused or are in doubt (see the\n"
       "result list)"},
      {run_result::kStopped, "stopped while the run waited for a limit or a retry"},
      {run_result::kJournalFailed,
       "the journal could be neither written nor removed; the run\n"
       "stopped rather than send mails it could not record"},
      {run_result::kQuitAfterFailure, "a failed run's QUIT failed as well"},
      {run_result::kMailFailed,
       "(100+n) the run stopped at a mail whose step n failed (105 POP\n"
       "before SMTP, 106 the envelope, ...); earlier mails were sent"},
  };
  return table;
}

std::string FormatResultCsv(const std::vector<RecipientResult>& results) {
  const bool files = std::any_of(results.begin(), results.end(),
                                 [](const RecipientResult& r) { return !r.attachments.empty(); });
  std::vector<std::string> header{"no", "name", "address", "outcome", "code", "reply"};
  if (files) header.push_back("attachments");
  std::string csv = "\xEF\xBB\xBF" + FormatCsvRecord(header);
  for (std::size_t i = 0; i < results.size(); ++i) {
    const RecipientResult& r = results[i];
    std::vector<std::string> row{std::to_string(i + 1),
                                 SjisToUtf8(r.name),
                                 SjisToUtf8(r.address),
                                 OutcomeName(r.outcome),
                                 r.code == 0 ? "" : std::to_string(r.code),
                                 SjisToUtf8(r.reply)};
    if (files) row.push_back(r.attachments);
    csv += FormatCsvRecord(row);
  }
  return csv;
}

std::string BuildResultCsvName(const std::string& programFolder, std::time_t start) {
  Zentool z;
  const std::string stamp = z.FormatDateTime(start, 13) + "-" + z.FormatDateTime(start, 23);
  return z.ZenJoinPath(programFolder, "Log/result-" + stamp + ".csv");
}

int WriteResultCsv(const std::string& programFolder, std::time_t start,
                   const std::vector<RecipientResult>& results) {
  const std::string path = BuildResultCsvName(programFolder, start);
  std::string folder;
  Zentool().ZenGetFolder(path, folder);
  struct stat st {};
  if (!(::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) &&
      ::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    return 4;
  }
  return AtomicWriteFile(path, FormatResultCsv(results));
}

std::string ResultSummary(const std::vector<RecipientResult>& results) {
  int counts[4] = {0, 0, 0, 0};
  for (const RecipientResult& r : results) ++counts[static_cast<int>(r.outcome)];
  return std::to_string(counts[0]) + " sent, " + std::to_string(counts[1]) + " refused, " +
         std::to_string(counts[2]) + " in doubt, " + std::to_string(counts[3]) + " not sent";
}

}  // namespace velkaro
