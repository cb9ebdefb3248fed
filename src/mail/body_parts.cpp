// The content after the header block: the ISO-2022-JP body, and for a mail
// with attachments the multipart/mixed parts (RFC 2046 5.1) with one Base64
// part per attachment.
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

// Attachments are read in chunks of this many bytes (a multiple of 3, so
// the Base64 of the chunks joins without padding inside).
constexpr int kReadChunk = 12000;

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
  Zentool tool;
  // Stuffed after the conversion, so the progress counters and the
  // transcript count the bytes that really go out.
  const std::string wire = mime::StuffDots(tool.ZenSjisToJis(mime::WireReadyBody(body)));
  progress.stage[4] = 1;
  progress.attachmentIndex = 0;
  const int result = SmtpStringSend2(0, wire);
  return result == 0 ? 0 : 10 + result;
}

int MailConnection::SmtpPartHeadSend(const std::string& partHeader) {
  if (smtpOpen == 0) return 100;
  if (!smtpSocket || !SendAll(*smtpSocket, "--" + boundary + "\r\n")) return 1;
  Zentool tool;
  const int lines = tool.ZenCountLines(partHeader);
  for (int i = 0; i < lines; ++i) {
    tool.Wait(20);
    if (!SendAll(*smtpSocket, tool.ZenGetLineCrLf(partHeader, i))) return 2;
  }
  tool.Wait(50);
  if (!SendAll(*smtpSocket, "\r\n")) return 9;
  return 0;
}

int MailConnection::SmtpLastBoundarySend() {
  if (smtpOpen == 0) return 100;
  if (!smtpSocket || !SendAll(*smtpSocket, "--" + boundary + "--\r\n")) return 1;
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
  Zentool tool;
  // Empty also when the file shrank after its size was taken: a short read
  // fails the attachment rather than sending bytes that are not the file's.
  const std::string text = tool.ZenFileToBase64(path, kReadChunk);
  if (text.empty()) return 2;
  transcript += Sjis("\r\n添付送信: ") + Utf8ToSjis(path) + "\r\n";
  transcript +=
      Sjis("・・・ File Read & Base64 変換後のサイズ : ") + std::to_string(text.size()) + "\r\n";
  const int result = SmtpStringSend2(1, text);
  return result == 0 ? 0 : 10 + result;
}

}  // namespace velkaro
