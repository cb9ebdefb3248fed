// The mail one recipient line gets, composed the same way for the run (from
// its copy of the inputs), the dry run, the preview and the .eml export.
#include "core/zentool.h"
#include "job/personalise.h"
#include "job/send_job.h"

namespace velkaro {

MailContent SendJob::ComposeContent(const SettingsRecord& record, const std::string& bodyText,
                                    bool titleIn, const std::string& recipientLine,
                                    const std::string& attachmentPaths, std::time_t at) {
  Zentool z;
  const PersonalisedMail personal =
      PersonaliseMail(PlaceholderWordsOf(record), bodyText, recipientLine, titleIn, at);
  MailContent content;
  content.subject = personal.subject;
  content.body = personal.body;
  content.senderName = FieldText(record.server.senderName);
  content.senderAddress = FieldText(record.server.senderAddress);
  content.recipientName = z.ZenGetTabItem(recipientLine, 2);
  content.recipientAddress = z.ZenGetTabItem(recipientLine, 3);
  content.attachmentList = attachmentPaths;
  content.boundary = MailConnection::kBoundary;
  return content;
}

MailContent SendJob::MailContentOf(int index) const {
  std::string attachmentPaths;
  for (std::size_t i = 0; i < attachments.size(); ++i)
    attachmentPaths += AttachmentPath(i) + "\r\n";
  return ComposeContent(settings_.record, bodyText, titleIn,
                        Zentool().ZenGetLineCrLf(recipientLines, index), attachmentPaths,
                        substitutionTime);
}

}  // namespace velkaro
