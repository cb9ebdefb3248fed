// The header block of a mail, written field by field onto the SMTP
// connection right after DATA was accepted.
//
// Result codes of SmtpHeaderSend, in the order the fields are sent; the
// first field not sent in full ends the block and nothing after it is sent:
//
//   100  no SMTP connection; nothing sent
//     1  From
//     2  To
//    12  Cc (only when set)
//    13  Reply-To (only when set)
//     3  Subject
//    10  Date
//    11  MIME-Version
//     4  Content-Transfer-Encoding
//     5  Content-Type multipart/mixed (mail with attachments)
//     6  Content-Type text/plain (mail without attachments)
//     7  Message-Id
//    14  List-Unsubscribe (only when set)
//    15  List-Unsubscribe-Post (only with an https unsubscribe URI)
//     8  X-Mailer
//     9  the empty line that ends the block (and the one that starts the
//        body)
//     0  all sent
//
// Date and MIME-Version came later than the others, and the fields of the
// user's [mail] settings later still, hence their numbers.
#include <string>

#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"

namespace velkaro {

MessageWriter MailConnection::Writer() const {
  MailContent content;
  content.subject = subject;
  content.body = body;
  content.senderName = FieldText(server.senderName);
  content.senderAddress = FieldText(server.senderAddress);
  content.recipientName = recipientName;
  content.recipientAddress = recipientAddress;
  content.attachmentList = attachmentList;
  content.boundary = boundary;
  content.extra = extra;
  return MessageWriter(std::move(content), mailCharset);
}

int MailConnection::SmtpHeaderSend(int multipart) {
  if (smtpOpen == 0) return 100;

  Platform& platform = CurrentPlatform();
  const std::time_t now = platform.Now();
  const std::tm local = platform.LocalTime(now);
  const MessageWriter writer = Writer();
  const std::string messageId = NewMessageId(local, writer.Content().senderAddress);

  Zentool tool;
  for (const HeaderLine& field : writer.HeaderFields(multipart == 1, now, local, messageId)) {
    // Pauses between the fields keep slow servers in step, as for the body.
    tool.Wait(20);
    // Only an address or unsubscribe URI too long for any line can make a
    // field unfoldable; sending it would break RFC 5322 for every receiver,
    // so it is not sent.
    if (!mime::LinesFit(field.text)) return field.code;
    if (!smtpSocket || !SendAll(*smtpSocket, field.text)) return field.code;
  }
  return 0;
}

}  // namespace velkaro
