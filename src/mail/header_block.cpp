// The header block of a mail, written field by field onto the SMTP
// connection right after DATA was accepted.
//
// Result codes of SmtpHeaderSend, in the order the fields are sent; the
// first field not sent in full ends the block and nothing after it is sent:
//
//   100  no SMTP connection; nothing sent
//     1  From
//     2  To
//     3  Subject
//    10  Date
//    11  MIME-Version
//     4  Content-Transfer-Encoding
//     5  Content-Type multipart/mixed (mail with attachments)
//     6  Content-Type text/plain (mail without attachments)
//     7  Message-Id
//     8  X-Mailer
//     9  the empty line that ends the block (and the one that starts the
//        body)
//     0  all sent
//
// Date and MIME-Version came later than the others, hence their numbers.
#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

// Message ids must be unique (RFC 5322 3.6.4) while the time in them only
// changes once a second and one run sends many mails a second; the process
// token keeps two runs (or two machines) in the same second apart.
std::atomic<unsigned> messageSequence{0};

std::string Digits14(const std::tm& tm) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

// "From: =?ISO-2022-JP?B?…?= <address>" or, without a name, "From: <address>".
// An encoded word must be followed by white space (RFC 2047 5(3)); without
// it Python's email reports a defect and SpamAssassin scores __FROM_RUNON.
std::string AddressField(const std::string& field, const std::string& sjisName,
                         const std::string& address) {
  if (sjisName.empty()) return field + ": <" + address + ">\r\n";
  return mime::EncodedField(field + ": ", sjisName, " <" + address + ">");
}

}  // namespace

int MailConnection::SmtpHeaderSend(int multipart) {
  if (smtpOpen == 0) return 100;

  Platform& platform = CurrentPlatform();
  const std::time_t now = platform.Now();
  const std::tm local = platform.LocalTime(now);
  const std::string senderAddress = FieldText(server.senderAddress);
  const std::string messageId = Digits14(local) + "." + std::to_string(++messageSequence) + "." +
                                mime::ProcessToken() + "_velkaro@" +
                                mime::MessageIdDomain(senderAddress);

  struct Field {
    std::string text;
    int code;
  };
  const std::vector<Field> fields = {
      {AddressField("From", FieldText(server.senderName), senderAddress), 1},
      {AddressField("To", recipientName, recipientAddress), 2},
      {subject.empty() ? std::string("Subject: Non Subject!\r\n")
                       : mime::EncodedField("Subject: ", subject, ""),
       3},
      {"Date: " + mime::DateTime(now, local) + "\r\n", 10},
      {"MIME-Version: 1.0\r\n", 11},
      {"Content-Transfer-Encoding: 7bit\r\n", 4},
      multipart == 1 ? Field{"Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n", 5}
                     : Field{"Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n", 6},
      {"Message-Id: <" + messageId + ">\r\n", 7},
      {"X-Mailer: Velkaro\r\n", 8},
      {"\r\n\r\n", 9},
  };

  Zentool tool;
  for (const Field& field : fields) {
    // Pauses between the fields keep slow servers in step, as for the body.
    tool.Wait(20);
    // Only an address too long for any line can make a field unfoldable;
    // sending it would break RFC 5322 for every receiver, so it is not sent.
    if (!mime::LinesFit(field.text)) return field.code;
    if (!smtpSocket || !SendAll(*smtpSocket, field.text)) return field.code;
  }
  return 0;
}

}  // namespace velkaro
