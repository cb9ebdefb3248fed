#include "cli/run_report.h"

#include "core/encoding.h"
#include "job/run_results.h"

namespace velkaro::cli {
namespace {

// The failing step of one mail (the transport's result n of 100 + n).
const char* StepText(int step) {
  switch (step) {
    case 1: return "the SMTP connection was not open";
    case 2: return "a POP3 connection was still open";
    case 3:
      return "the mail was refused before sending (empty subject, name or address, "
             "or an address that cannot be sent)";
    case 4: return "an attachment could not be read";
    case 5: return "POP before SMTP failed (POP3 server, user or password)";
    case 6: return "the server refused the envelope (MAIL FROM, RCPT TO or DATA)";
    case 7: return "the header could not be sent";
    case 8: return "the text part's header could not be sent";
    case 9: return "the body could not be sent";
    case 10: return "the body could not be sent";
    case 11: return "the server did not accept the end of the mail";
    case 20: return "an attachment's part header could not be sent";
    case 21: return "an attachment could not be sent";
    case 22: return "the closing boundary could not be sent";
    default: return "an unknown step failed";
  }
}

std::string Plural(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string ResultExplanation(int result, int mailNumber, int total) {
  switch (result) {
    case run_result::kSent: return "all " + Plural(total, "mail was", "mails were") + " accepted";
    case run_result::kChecksFailed: return "nothing was sent: the send checks failed";
    case run_result::kOpenFailed:
      return "nothing was sent: the SMTP connection could not be opened";
    case run_result::kQuitFailed:
      return "every mail was accepted, but the server did not accept QUIT";
    case run_result::kQuitAfterFailure:
      return "the run failed and the server did not accept QUIT either";
    case run_result::kSomeRefused:
      return "the run went through all " + Plural(total, "recipient", "recipients") +
             ", but not every mail was accepted (see the result list)";
    case run_result::kStopped:
      return "stopped on request while the run waited for a limit or a retry";
    case run_result::kJournalFailed:
      return "stopped: the journal could be neither written nor removed, so no further mail "
             "was sent";
    default: break;
  }
  if (result > run_result::kMailFailed) {
    std::string text = "mail " + std::to_string(mailNumber) + " of " + std::to_string(total) +
                       " failed: " + StepText(result - run_result::kMailFailed);
    const int step = result - run_result::kMailFailed;
    // From the header on, a failed mail's connection is dropped before the
    // end of data, so the server throws away what it got.
    if ((step >= 7 && step <= 10) || (step >= 20 && step <= 22)) {
      text += " (the connection was dropped, so the server discards it)";
    }
    const int sent = mailNumber > 0 ? mailNumber - 1 : 0;
    text += "; " + (sent == 0 ? std::string("no mail was sent before it")
                              : Plural(sent, "mail was", "mails were") + " sent before it");
    return text;
  }
  return "the run ended with result " + std::to_string(result);
}

std::string LastTranscript(const std::string& sjisDetails) {
  const std::string& marker = Sjis("★To ");
  const std::size_t at = sjisDetails.rfind(marker);
  if (at == std::string::npos) return {};
  return sjisDetails.substr(at);
}

}  // namespace velkaro::cli
