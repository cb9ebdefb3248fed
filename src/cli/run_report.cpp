#include "cli/run_report.h"

#include "core/encoding.h"
#include "job/run_results.h"

namespace velkaro::cli {
namespace {

// The failing step of one mail (the transport's result n of 100 + n).
const char* StepText(int step) {
  switch (step) {
    case mail_step::kNotOpen: return "the SMTP connection was not open";
    case mail_step::kPopStillOpen: return "a POP3 connection was still open";
    case mail_step::kUnsendable:
      return "the mail was refused before sending (empty subject, name or address, "
             "or an address that cannot be sent)";
    case mail_step::kAttachmentMissing: return "an attachment could not be read";
    case mail_step::kPopBeforeSmtp: return "POP before SMTP failed (POP3 server, user or password)";
    case mail_step::kEnvelope:
      return "the server refused the envelope (MAIL FROM, RCPT TO or DATA)";
    case mail_step::kHeader: return "the header could not be sent";
    case mail_step::kTextPartHeader: return "the text part's header could not be sent";
    case mail_step::kBodyOfParts: return "the body could not be sent";
    case mail_step::kBody: return "the body could not be sent";
    case mail_step::kEndOfData: return "the server did not accept the end of the mail";
    case mail_step::kAttachmentPartHeader: return "an attachment's part header could not be sent";
    case mail_step::kAttachment: return "an attachment could not be sent";
    case mail_step::kClosingBoundary: return "the closing boundary could not be sent";
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
    if (mail_step::DropsConnection(step)) {
      text += " (the connection was dropped, so the server discards it)";
    }
    const int sent = mailNumber > 0 ? mailNumber - 1 : 0;
    text += "; " + (sent == 0 ? std::string("no mail was sent before it")
                              : Plural(sent, "mail was", "mails were") + " sent before it");
    return text;
  }
  return "the run ended with result " + std::to_string(result);
}

std::string TestSendReport(int result, int number, const std::string& recipient,
                           const std::string& testAddress) {
  const std::string mail =
      "test mail of recipient " + std::to_string(number) + " (" + recipient + ")";
  const std::string sent = mail + " sent to " + testAddress;
  const std::string notSent = mail + " not sent to " + testAddress + ": ";
  switch (result) {
    case run_result::kSent: return sent;
    case run_result::kQuitFailed: return sent + ", but the server did not accept QUIT";
    case -1: return notSent + "a run is still active";
    case run_result::kChecksFailed: return notSent + "the send checks failed";
    case run_result::kOpenFailed: return notSent + "the SMTP connection could not be opened";
    case run_result::kQuitAfterFailure:
      return notSent + "it failed and the server did not accept QUIT either";
    case run_result::kStopped: return notSent + "stopped on request";
    case run_result::kSomeRefused: return notSent + "the mail was refused";
    default: break;
  }
  if (result > run_result::kMailFailed) {
    const int step = result - run_result::kMailFailed;
    std::string text = notSent + StepText(step);
    if (mail_step::DropsConnection(step)) {
      text += " (the connection was dropped, so the server discards it)";
    }
    return text;
  }
  return notSent + "it ended with result " + std::to_string(result);
}

std::string LastTranscript(const std::string& sjisDetails) {
  const std::string& marker = Sjis("★To ");
  const std::size_t at = sjisDetails.rfind(marker);
  if (at == std::string::npos) return {};
  return sjisDetails.substr(at);
}

}  // namespace velkaro::cli
