// The mail one recipient line gets, composed the same way for the run (from
// its copy of the inputs), the dry run, the preview and the .eml export.
#include "core/zentool.h"
#include "job/personal_files.h"
#include "job/personalise.h"
#include "job/send_job.h"

namespace velkaro {

MailContent SendJob::ComposeContent(const SettingsRecord& record, const std::string& bodyText,
                                    bool titleIn, const std::string& recipientLine,
                                    const std::string& attachmentPaths, std::time_t at,
                                    const MailExtras& extras, PersonalProblem* problem) {
  Zentool z;
  // One time for the text, the file names and the link: a day ending
  // between them must not give a mail another day's file.
  if (at == 0) at = CurrentPlatform().Now();
  const PlaceholderWordList words = PlaceholderWordsOf(record);
  const PersonalisedMail personal = PersonaliseMail(words, bodyText, recipientLine, titleIn, at);
  const RecipientAttachments files =
      AttachmentsFor(words, attachmentPaths, recipientLine, at, problem != nullptr);
  const RecipientExtras extra = ExtrasFor(extras, words, recipientLine, at);
  MailContent content;
  content.subject = personal.subject;
  content.body = personal.body;
  content.senderName = FieldText(record.server.senderName);
  content.senderAddress = FieldText(record.server.senderAddress);
  content.recipientName = z.ZenGetTabItem(recipientLine, 2);
  content.recipientAddress = z.ZenGetTabItem(recipientLine, 3);
  content.attachmentList = files.paths;
  content.boundary = MailConnection::kBoundary;
  content.extra = extra.headers;
  if (problem != nullptr) {
    if (!files.problem.empty()) {
      *problem = {mail_step::kAttachmentMissing, files.problem};
    } else if (!extra.problem.empty()) {
      *problem = {mail_step::kUnsendable, extra.problem};
    } else {
      *problem = {};
    }
  }
  return content;
}

MailContent SendJob::MailContentOf(int index) const {
  std::string attachmentPaths;
  for (std::size_t i = 0; i < attachments.size(); ++i)
    attachmentPaths += AttachmentPath(i) + "\r\n";
  return ComposeContent(settings_.record, bodyText, titleIn,
                        Zentool().ZenGetLineCrLf(recipientLines, index), attachmentPaths,
                        substitutionTime, MailExtrasOf(settings_.ini));
}

std::string SendJob::PersonalProblemOf(int index) const {
  std::string attachmentPaths;
  for (std::size_t i = 0; i < attachments.size(); ++i)
    attachmentPaths += AttachmentPath(i) + "\r\n";
  PersonalProblem problem;
  ComposeContent(settings_.record, bodyText, titleIn,
                 Zentool().ZenGetLineCrLf(recipientLines, index), attachmentPaths, substitutionTime,
                 MailExtrasOf(settings_.ini), &problem);
  return problem.text;
}

bool SendJob::IsPersonalAttachment(std::size_t row) const {
  return row < attachments.size() &&
         IsPersonalPattern(PlaceholderWordsOf(settings_.record), AttachmentPath(row));
}

int SendJob::PersonalFilesFound(std::size_t row) const {
  if (!IsPersonalAttachment(row)) return 0;
  const PlaceholderWordList words = PlaceholderWordsOf(settings_.record);
  const std::string pattern = AttachmentPath(row) + "\r\n";
  const std::time_t at = substitutionTime != 0 ? substitutionTime : CurrentPlatform().Now();
  int found = 0;
  for (std::size_t from = 0, end = recipientLines.find("\r\n"); end != std::string::npos;
       from = end + 2, end = recipientLines.find("\r\n", from)) {
    const std::string line = recipientLines.substr(from, end + 2 - from);
    if (AttachmentsFor(words, pattern, line, at, true).problem.empty()) ++found;
  }
  return found;
}

}  // namespace velkaro
