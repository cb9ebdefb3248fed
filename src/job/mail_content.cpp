// The mail one recipient line gets, composed the same way for the run, the
// dry run, the preview and the .eml export.
#include "core/zentool.h"
#include "job/personalise.h"
#include "job/send_job.h"

namespace velkaro {

MailContent SendJob::MailContentOf(int index) const {
  Zentool z;
  const SettingsRecord& record = settings_.record;
  const std::string line = z.ZenGetLineCrLf(recipientLines, index);
  const PersonalisedMail personal =
      PersonaliseMail(PlaceholderWordsOf(record), bodyText, line, titleIn);
  MailContent content;
  content.subject = personal.subject;
  content.body = personal.body;
  content.senderName = FieldText(record.server.senderName);
  content.senderAddress = FieldText(record.server.senderAddress);
  content.recipientName = z.ZenGetTabItem(line, 2);
  content.recipientAddress = z.ZenGetTabItem(line, 3);
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    content.attachmentList += AttachmentPath(i) + "\r\n";
  }
  content.boundary = MailConnection::kBoundary;
  return content;
}

}  // namespace velkaro
