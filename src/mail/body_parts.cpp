// The content after the header block, sent as the message writer composes
// it: the body, and for a mail with attachments the multipart/mixed parts
// (RFC 2046 5.1) with one Base64 part per attachment.
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

// Line `index` of a CR LF list; bytes after the last CR LF are not a line.
std::string ListLine(const std::string& list, int index) {
  Zentool tool;
  if (index < 0 || index >= tool.ZenCountLines(list)) return {};
  return tool.ZenGetLine(list, index);
}

}  // namespace

int MailConnection::SmtpBodySend() {
  if (smtpOpen == 0) return 100;
  if (body.empty()) return 1;
  // Stuffed after the conversion, so the progress counters and the
  // transcript count the bytes that really go out.
  const std::string wire = mime::StuffDots(Writer().BodyText());
  progress.stage[4] = 1;
  progress.attachmentIndex = 0;
  const int result = SmtpStringSend2(0, wire);
  return result == 0 ? 0 : 10 + result;
}

int MailConnection::SmtpPartHeadSend(const std::string& partHeader) {
  if (smtpOpen == 0) return 100;
  const std::vector<std::string> lines = Writer().PartOpening(partHeader);
  Zentool tool;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // The boundary line goes at once, then a pause before each header line
    // and a longer one before the empty line that ends the part header.
    if (i + 1 == lines.size()) {
      tool.Wait(50);
    } else if (i > 0) {
      tool.Wait(20);
    }
    if (!smtpSocket || !SendAll(*smtpSocket, lines[i])) {
      return i == 0 ? 1 : (i + 1 == lines.size() ? 9 : 2);
    }
  }
  return 0;
}

int MailConnection::SmtpLastBoundarySend() {
  if (smtpOpen == 0) return 100;
  if (!smtpSocket || !SendAll(*smtpSocket, Writer().ClosingBoundary())) return 1;
  return 0;
}

std::string MailConnection::AttachHeaderGet(int index, const std::string& list) {
  const std::string path = ListLine(list, index);
  if (path.empty()) return {};
  return AttachHeaderMake(path);
}

int MailConnection::SmtpAttachSend(int index, const std::string& list) {
  if (smtpOpen == 0) return 100;
  const std::string path = ListLine(list, index);
  if (path.empty()) return 1;
  const std::string text = AttachmentBase64(path);
  if (text.empty()) return 2;
  transcript += Sjis("\r\n添付送信: ") + Utf8ToSjis(path) + "\r\n";
  transcript +=
      Sjis("・・・ File Read & Base64 変換後のサイズ : ") + std::to_string(text.size()) + "\r\n";
  const int result = SmtpStringSend2(1, text);
  return result == 0 ? 0 : 10 + result;
}

}  // namespace velkaro
