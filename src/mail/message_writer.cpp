#include "mail/message_writer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <limits>

#include "core/encoding.h"
#include "core/jis_x0208.h"
#include "core/text_bytes.h"
#include "core/zentool.h"
#include "mail/attachment_header.h"

namespace velkaro {
namespace {

// Message ids must be unique (RFC 5322 3.6.4) while the time in them only
// changes once a second and one run sends many mails a second; the process
// token keeps two runs (or two machines) in the same second apart.
std::atomic<unsigned> messageSequence{0};

// Attachments are read in chunks of this many bytes (a multiple of 3, so
// the Base64 of the chunks joins without padding inside).
constexpr int kReadChunk = 12000;
// RFC 2045 6.8: Base64 lines of at most 76 characters.
constexpr std::size_t kUtf8BodyLine = 76;
constexpr std::size_t kAttachmentLine = 64;

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
                         const std::string& address, mime::Charset charset) {
  if (sjisName.empty()) return field + ": <" + address + ">\r\n";
  return mime::EncodedField(field + ": ", sjisName, " <" + address + ">", charset);
}

std::string TextContentType(mime::Charset charset) {
  return charset == mime::Charset::Utf8 ? "Content-Type: text/plain; charset=UTF-8\r\n"
                                        : "Content-Type: text/plain; charset=\"ISO-2022-JP\"\r\n";
}

std::string TextTransferEncoding(mime::Charset charset) {
  return charset == mime::Charset::Utf8 ? "Content-Transfer-Encoding: base64\r\n"
                                        : "Content-Transfer-Encoding: 7bit\r\n";
}

}  // namespace

const char* CharsetSettingName(CharsetSetting setting) {
  switch (setting) {
    case CharsetSetting::IsoJp: return "iso-2022-jp";
    case CharsetSetting::Utf8: return "utf-8";
    case CharsetSetting::Auto: break;
  }
  return "auto";
}

bool ParseCharsetSetting(const std::string& name, CharsetSetting* setting) {
  for (const CharsetSetting s :
       {CharsetSetting::IsoJp, CharsetSetting::Auto, CharsetSetting::Utf8}) {
    if (AsciiLower(name) == CharsetSettingName(s)) {
      *setting = s;
      return true;
    }
  }
  return false;
}

const char* CharsetLabel(mime::Charset charset) {
  return charset == mime::Charset::Utf8 ? "UTF-8" : "ISO-2022-JP";
}

CharsetChoice ChooseCharset(CharsetSetting setting, const MailContent& content) {
  CharsetChoice choice;
  // A name whose address is not set stays out of the mail, and must not
  // make it UTF-8 either.
  const ExtraHeaders& extra = content.extra;
  const std::string none;
  const std::string* replyToName = extra.replyToAddress.empty() ? &none : &extra.replyToName;
  const std::string* ccName = extra.ccAddress.empty() ? &none : &extra.ccName;
  for (const std::string* text : {&content.subject, &content.senderName, &content.recipientName,
                                  ccName, replyToName, &content.body}) {
    for (std::string& character : CharactersBeyondJis(*text)) {
      if (std::find(choice.causes.begin(), choice.causes.end(), character) == choice.causes.end()) {
        choice.causes.push_back(std::move(character));
      }
    }
  }
  const bool utf8 = setting == CharsetSetting::Utf8 ||
                    (setting == CharsetSetting::Auto && !choice.causes.empty());
  choice.charset = utf8 ? mime::Charset::Utf8 : mime::Charset::IsoJp;
  return choice;
}

std::string ListUnsubscribeField(const std::string& uri) {
  const std::string oneLine = "List-Unsubscribe: <" + uri + ">";
  if (oneLine.size() <= mime::kPreferredLineLength) return oneLine + "\r\n";
  return "List-Unsubscribe:\r\n <" + uri + ">\r\n";
}

bool OffersOneClick(const std::string& uri) {
  return AsciiLower(uri.substr(0, 6)) == "https:";
}

std::string NewMessageId(const std::tm& local, const std::string& senderAddress) {
  return Digits14(local) + "." + std::to_string(++messageSequence) + "." + mime::ProcessToken() +
         "_velkaro@" + mime::MessageIdDomain(senderAddress);
}

bool MessageWriter::Multipart() const {
  return AttachmentCount() > 0;
}

int MessageWriter::AttachmentCount() const {
  return Zentool().ZenCountLines(content_.attachmentList);
}

std::string MessageWriter::AttachmentPath(int index) const {
  if (index < 0 || index >= AttachmentCount()) return {};
  return Zentool().ZenGetLine(content_.attachmentList, index);
}

std::vector<HeaderLine> MessageWriter::HeaderFields(bool multipart, std::time_t now,
                                                    const std::tm& local,
                                                    const std::string& messageId) const {
  const MailContent& c = content_;
  // A mail with attachments keeps 7bit at the top: only its text part
  // carries Base64.
  const std::string transferEncoding =
      multipart ? TextTransferEncoding(mime::Charset::IsoJp) : TextTransferEncoding(charset_);
  const ExtraHeaders& extra = c.extra;
  std::vector<HeaderLine> fields = {
      {AddressField("From", c.senderName, c.senderAddress, charset_), 1},
      {AddressField("To", c.recipientName, c.recipientAddress, charset_), 2},
  };
  if (!extra.ccAddress.empty()) {
    fields.push_back({AddressField("Cc", extra.ccName, extra.ccAddress, charset_), 12});
  }
  if (!extra.replyToAddress.empty()) {
    fields.push_back(
        {AddressField("Reply-To", extra.replyToName, extra.replyToAddress, charset_), 13});
  }
  fields.insert(
      fields.end(),
      {
          {c.subject.empty() ? std::string("Subject: Non Subject!\r\n")
                             : mime::EncodedField("Subject: ", c.subject, "", charset_),
           3},
          {"Date: " + mime::DateTime(now, local) + "\r\n", 10},
          {"MIME-Version: 1.0\r\n", 11},
          {transferEncoding, 4},
          multipart
              ? HeaderLine{"Content-Type: multipart/mixed; boundary=\"" + c.boundary + "\"\r\n", 5}
              : HeaderLine{TextContentType(charset_), 6},
          {"Message-Id: <" + messageId + ">\r\n", 7},
      });
  if (!extra.listUnsubscribe.empty()) {
    fields.push_back({ListUnsubscribeField(extra.listUnsubscribe), 14});
    // RFC 8058 3.1: the receiver POSTs this body to the https URI.
    if (OffersOneClick(extra.listUnsubscribe)) {
      fields.push_back({"List-Unsubscribe-Post: List-Unsubscribe=One-Click\r\n", 15});
    }
  }
  fields.push_back({"X-Mailer: Velkaro\r\n", 8});
  fields.push_back({"\r\n\r\n", 9});
  return fields;
}

std::string MessageWriter::TextPartHeader() const {
  return TextContentType(charset_) + TextTransferEncoding(charset_);
}

std::string MessageWriter::BodyText() const {
  if (charset_ == mime::Charset::IsoJp) {
    return Zentool().ZenSjisToJis(mime::WireReadyBody(content_.body));
  }
  // Base64 lines need no breaking of the text's own lines.
  const std::string lines =
      mime::WireReadyBody(content_.body, std::numeric_limits<std::size_t>::max());
  return Base64Lines(Zentool().ZenBase64Encode(SjisToUtf8(lines)), kUtf8BodyLine);
}

std::string MessageWriter::AttachmentHeader(int index) const {
  const std::string path = AttachmentPath(index);
  if (path.empty()) return {};
  return mime::AttachmentPartHeader(path, charset_);
}

std::vector<std::string> MessageWriter::PartOpening(const std::string& partHeader) const {
  Zentool tool;
  std::vector<std::string> lines = {"--" + content_.boundary + "\r\n"};
  const int count = tool.ZenCountLines(partHeader);
  for (int i = 0; i < count; ++i) lines.push_back(tool.ZenGetLineCrLf(partHeader, i));
  lines.push_back("\r\n");
  return lines;
}

std::string MessageWriter::ClosingBoundary() const {
  return "--" + content_.boundary + "--\r\n";
}

std::string MessageWriter::Message(std::time_t now, const std::tm& local,
                                   const std::string& messageId) const {
  const bool multipart = Multipart();
  std::string message;
  for (const HeaderLine& field : HeaderFields(multipart, now, local, messageId)) {
    message += field.text;
  }
  const auto open = [this, &message](const std::string& partHeader) {
    for (const std::string& line : PartOpening(partHeader)) message += line;
  };
  // The end of data, CR LF "." CR LF, starts with a line end of its own
  // after the content's last one: receivers keep it as an empty last line.
  constexpr char kEndOfDataLine[] = "\r\n";
  if (multipart) open(TextPartHeader());
  message += BodyText();
  if (!multipart) return message + kEndOfDataLine;
  for (int i = 0; i < AttachmentCount(); ++i) {
    const std::string header = AttachmentHeader(i);
    const std::string base64 = AttachmentBase64(AttachmentPath(i));
    if (header.empty() || base64.empty()) return {};
    open(header);
    message += Base64Lines(base64, kAttachmentLine);
  }
  return message + ClosingBoundary() + kEndOfDataLine;
}

std::string Base64Lines(const std::string& base64, std::size_t lineLength) {
  std::string out;
  out.reserve(base64.size() + (base64.size() / lineLength + 1) * 2);
  for (std::size_t at = 0; at < base64.size(); at += lineLength) {
    out.append(base64, at, lineLength);
    out += "\r\n";
  }
  return out;
}

std::string AttachmentBase64(const std::string& path) {
  // Empty also when the file shrank after its size was taken: a short read
  // fails the attachment rather than sending bytes that are not the file's.
  return Zentool().ZenFileToBase64(path, kReadChunk);
}

}  // namespace velkaro
