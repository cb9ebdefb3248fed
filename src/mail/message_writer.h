// One mail as bytes: the header block, the text part and the attachment
// parts, each in the form the receiver stores it (before SMTP's dot
// stuffing). The transport sends these pieces paced and in steps; the dry
// run, the preview and the .eml export join them. One writer for all of
// them, so what is shown or saved is what is sent.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "mail/mime_text.h"

namespace velkaro {

// The `charset` setting: every mail in ISO-2022-JP, each mail in
// ISO-2022-JP unless its text needs more (the default), or every mail in
// UTF-8.
enum class CharsetSetting { IsoJp, Auto, Utf8 };

// "iso-2022-jp", "auto", "utf-8".
const char* CharsetSettingName(CharsetSetting setting);
// The setting of a name as CharsetSettingName gives it (any case); false
// for anything else.
bool ParseCharsetSetting(const std::string& name, CharsetSetting* setting);

// Header fields a user's settings add to every mail; empty ones are left
// out. Names Shift_JIS, addresses and the URI ASCII as they go out.
struct ExtraHeaders {
  std::string replyToName;
  std::string replyToAddress;  // Reply-To when not empty
  std::string ccName;
  std::string ccAddress;        // Cc when not empty
  std::string listUnsubscribe;  // List-Unsubscribe: <uri> when not empty
  bool operator==(const ExtraHeaders&) const = default;
};

// The texts of one mail, Shift_JIS; the addresses and the attachment paths
// (each followed by CR LF) as they are.
struct MailContent {
  std::string subject;
  std::string body;
  std::string senderName;
  std::string senderAddress;
  std::string recipientName;
  std::string recipientAddress;
  std::string attachmentList;
  std::string boundary;
  ExtraHeaders extra;
};

struct CharsetChoice {
  mime::Charset charset = mime::Charset::IsoJp;
  // The characters (Shift_JIS, each once) of the subject, the names and the
  // body that ISO-2022-JP cannot carry; what made an automatic choice pick
  // UTF-8. Filled for every setting, so a forced ISO-2022-JP can warn.
  std::vector<std::string> causes;
};

// The character set of one mail under `setting`, decided on the texts
// after substitution: the subject, the body and every name that goes into
// the header (a Cc or Reply-To name only with its address).
CharsetChoice ChooseCharset(CharsetSetting setting, const MailContent& content);

// "ISO-2022-JP" or "UTF-8".
const char* CharsetLabel(mime::Charset charset);

// One field of the header block and the code its failure is reported with.
struct HeaderLine {
  std::string text;
  int code;
};

// "List-Unsubscribe: <uri>" (RFC 2369) with its CR LF. A field longer than
// 76 characters is folded after the colon, so the URI starts a line of its
// own; a URI too long even for that line (998 characters with its space
// and brackets) gives a field mime::LinesFit refuses.
std::string ListUnsubscribeField(const std::string& uri);

// True when the URI's scheme is https (any case): only then does the mail
// offer one-click unsubscription (RFC 8058 3.1 requires an HTTPS URI for it).
bool OffersOneClick(const std::string& uri);

// A message id "YYYYMMDDhhmmss.N.<process token>_velkaro@domain" (without
// the brackets) for a mail composed at local time `local`; N counts the
// ids of this process from 1.
std::string NewMessageId(const std::tm& local, const std::string& senderAddress);

class MessageWriter {
 public:
  MessageWriter(MailContent content, mime::Charset charset)
      : content_(std::move(content)), charset_(charset) {}

  mime::Charset Charset() const { return charset_; }
  const MailContent& Content() const { return content_; }
  bool Multipart() const;
  int AttachmentCount() const;
  std::string AttachmentPath(int index) const;

  // The header fields in sending order, the last one the empty line that
  // ends the block (and the one before the body). `multipart` chooses the
  // top-level Content-Type. Fields of `extra` are only there when set; the
  // codes are those of the table in header_block.cpp.
  std::vector<HeaderLine> HeaderFields(bool multipart, std::time_t now, const std::tm& local,
                                       const std::string& messageId) const;
  // The text part's own header (multipart mails).
  std::string TextPartHeader() const;
  // The body as it goes out, before dot stuffing: ISO-2022-JP lines of at
  // most 990 bytes, or Base64 of its UTF-8 in lines of 76 characters; CR LF
  // line ends either way.
  std::string BodyText() const;
  // Attachment `index`'s part header, ending in its empty line; empty when
  // the file is missing or empty.
  std::string AttachmentHeader(int index) const;
  // The lines that open a part: the boundary line, the part header's lines
  // and one more empty line.
  std::vector<std::string> PartOpening(const std::string& partHeader) const;
  std::string ClosingBoundary() const;

  // The whole message as a receiver stores it. Empty when an attachment
  // cannot be read in full.
  std::string Message(std::time_t now, const std::tm& local, const std::string& messageId) const;

 private:
  MailContent content_;
  mime::Charset charset_;
};

// Base64 text cut into lines of `lineLength` characters, each ended by
// CR LF, as the attachments and UTF-8 bodies go out.
std::string Base64Lines(const std::string& base64, std::size_t lineLength);

// The Base64 of an attachment file, unbroken; empty when the file cannot
// be read in full.
std::string AttachmentBase64(const std::string& path);

}  // namespace velkaro
