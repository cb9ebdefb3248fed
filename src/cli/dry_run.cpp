#include "cli/dry_run.h"

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/personalise.h"
#include "job/run_policy.h"
#include "mail/mime_text.h"

namespace velkaro::cli {
namespace {

std::string Lf(const std::string& crlf) {
  std::string out;
  out.reserve(crlf.size());
  for (std::size_t i = 0; i < crlf.size(); ++i) {
    if (crlf[i] == '\r' && i + 1 < crlf.size() && crlf[i + 1] == '\n') continue;
    out += crlf[i];
  }
  return out;
}

std::string AddressLine(const std::string& sjisName, const std::string& address) {
  if (sjisName.empty()) return "<" + address + ">";
  return SjisToUtf8(sjisName) + " <" + address + ">";
}

// The transport's own refusal before anything is sent (result 103).
std::string ProblemOf(const ComposedMail& mail, const std::string& senderAddress) {
  if (mail.subject.empty()) return "the subject (first line) is empty";
  if (mail.recipientName.empty()) return "the recipient has no name";
  if (mail.recipientAddress.empty()) return "the recipient has no mail address";
  if (mime::CheckAddress(mail.recipientAddress) != mime::AddressFault::None) {
    return "the recipient's address cannot be sent";
  }
  if (mime::CheckAddress(senderAddress) != mime::AddressFault::None) {
    return "the sender's address cannot be sent";
  }
  return {};
}

// The file names of an attachment list (paths, each followed by CR LF).
std::vector<std::string> FileNames(const std::string& attachmentList) {
  Zentool z;
  std::vector<std::string> names;
  std::size_t start = 0;
  for (std::size_t end = attachmentList.find("\r\n"); end != std::string::npos;
       start = end + 2, end = attachmentList.find("\r\n", start)) {
    if (end > start) {
      names.push_back(
          z.ZenSplitPath(PathPart::NameExtension, attachmentList.substr(start, end - start)));
    }
  }
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

// What the run does with a recipient that cannot get its mail.
std::string PersonalRefusal(const std::string& problem, bool continueOnFailure) {
  return "Refused: " + problem +
         (continueOnFailure
              ? " (onRecipientFailure=continue: the run would skip this recipient and list "
                "it as refused)\n"
              : " (onRecipientFailure=stop: the run would end with result 1 before any "
                "connection)\n");
}

}  // namespace

std::string CheckProblems(const SendJob& job) {
  const std::string errors = job.CheckProblems();
  if (errors.empty()) return {};
  return errors + Sjis("\r\n送信処理をキャンセルします。\r\n");
}

std::vector<ComposedMail> ComposeMails(const SendJob& job, const SettingsRecord& record) {
  const std::string senderAddress = FieldText(record.server.senderAddress);
  const CharsetSetting setting = CharsetSettingOf(job.settings().ini);
  std::vector<ComposedMail> mails;
  const int count = Zentool().ZenCountLines(job.recipientLines);
  for (int i = 0; i < count; ++i) {
    const MailContent content = job.MailContentOf(i);
    ComposedMail mail;
    mail.recipientName = content.recipientName;
    mail.recipientAddress = content.recipientAddress;
    mail.subject = content.subject;
    mail.body = content.body;
    mail.problem = ProblemOf(mail, senderAddress);
    mail.attachmentNames = FileNames(content.attachmentList);
    mail.personalProblem = SjisToUtf8(job.PersonalProblemOf(i));
    while (!mail.personalProblem.empty() &&
           (mail.personalProblem.back() == '\n' || mail.personalProblem.back() == '\r')) {
      mail.personalProblem.pop_back();
    }
    mail.charset = ChooseCharset(setting, content);
    mails.push_back(std::move(mail));
  }
  return mails;
}

std::string CharsetLine(const CharsetChoice& choice) {
  std::string line = CharsetLabel(choice.charset);
  if (choice.causes.empty()) return line;
  std::string characters;
  for (const std::string& c : choice.causes) {
    characters += (characters.empty() ? "" : ", ") + SjisToUtf8(c);
  }
  if (choice.charset == mime::Charset::Utf8) return line + " (because of " + characters + ")";
  return line + " (shown differently or not at all by some readers: " + characters + ")";
}

std::string FormatDryRun(const std::vector<ComposedMail>& mails, const SendJob& job,
                         const SettingsRecord& record) {
  const std::string from =
      AddressLine(FieldText(record.server.senderName), FieldText(record.server.senderAddress));
  const bool continueOnFailure = RunPolicyOf(job.settings().ini).continueOnFailure;
  std::string out;
  const std::string total = std::to_string(mails.size());
  for (std::size_t i = 0; i < mails.size(); ++i) {
    const ComposedMail& m = mails[i];
    out += "===== mail " + std::to_string(i + 1) + "/" + total + " =====\n";
    out += "From: " + from + "\n";
    out += "To: " + AddressLine(m.recipientName, m.recipientAddress) + "\n";
    out += "Subject: " + SjisToUtf8(m.subject) + "\n";
    out += "Charset: " + CharsetLine(m.charset) + "\n";
    if (!m.attachmentNames.empty()) out += "Attachments: " + Joined(m.attachmentNames) + "\n";
    if (!m.personalProblem.empty()) {
      out += PersonalRefusal(m.personalProblem, continueOnFailure);
    } else if (!m.problem.empty()) {
      out += "Refused: " + m.problem + " (the run would stop here with result 103)\n";
    }
    // The body as the transport writes it: the same lines, with an
    // over-long line broken where the run breaks it.
    out += "\n" + Lf(SjisToUtf8(mime::WireReadyBody(m.body)));
    if (out.back() != '\n') out += "\n";
  }
  return out;
}

}  // namespace velkaro::cli
