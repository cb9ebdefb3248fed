// One mail to one recipient over the open SMTP connection: checks, POP
// before SMTP when asked, envelope, header block, body, attachments, end of
// data. The stages it sets are what the main form shows.
//
// Result codes:
//    0  accepted by the server
//    1  SMTP connection not open
//    2  a POP3 connection is still open
//    3  subject, body, recipient name or address empty, an address that
//       cannot be sent safely (recipient, sender, envelope, Cc, Reply-To),
//       or an unsubscribe URI that cannot go into its header field
//    4  an attachment file missing, unreadable or empty
//    5  POP before SMTP failed
//    6  the envelope failed, or the mail is larger than the server's SIZE
//       limit (then nothing was sent for it)
//    7  the header block failed
//    8  the text part's header failed (multipart)
//    9  the body failed (multipart)
//   10  the body failed (single part)
//   11  the end of data was not accepted
//   20  an attachment's part header failed, or the file vanished after
//       the checks so that no part header could be made
//   21  an attachment's content failed (also a file that reads shorter
//       than its size)
//   22  the closing boundary failed
// The stop request fails the body or attachment being sent (9, 10, 21).
// For codes 7 to 10 and 20 to 22 the content went out incomplete: the data
// is not ended, the SMTP connection is dropped instead (smtpOpen 0), so the
// server discards the mail rather than delivering it cut short. For codes 6
// and 11 the connection stays open when the server refused the command, and
// is dropped when the command went out in part or got no reply, as it is
// then out of step and cannot take QUIT.
#include <algorithm>
#include <cstdint>
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

// The transcript line for an address that cannot go out, or empty. The
// address goes into "MAIL FROM"/"RCPT TO" and a header line verbatim: a line
// end in it would let the address book or settings inject commands or
// header fields, a bracket would end the path early.
std::string AddressProblem(const std::string& address, const char* field) {
  switch (mime::CheckAddress(address)) {
    case mime::AddressFault::Unclean:
      return Sjis("  ") + Sjis(field) + Sjis("に使えない文字があります。\r\n");
    case mime::AddressFault::TooLong: return Sjis("  ") + Sjis(field) + Sjis("が長すぎます。\r\n");
    case mime::AddressFault::None: break;
  }
  return {};
}

// The transcript line for an unsubscribe URI that cannot go out, or empty.
// The URI goes between "<" and ">" on a header line as it is: a line end
// would add header fields of its own, a space or bracket ends the URI early
// for the receiver (RFC 2369 2), and a byte beyond ASCII belongs in no URI
// (RFC 3986 2) nor unencoded header field (RFC 5322 2.2).
std::string UnsubscribeProblem(const std::string& uri) {
  if (uri.empty()) return {};
  for (const char c : uri) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == '<' || c == '>') {
      return Sjis("  配信停止リンク(List-Unsubscribe)に使えない文字があります。\r\n");
    }
  }
  if (!mime::LinesFit(ListUnsubscribeField(uri))) {
    return Sjis("  配信停止リンク(List-Unsubscribe)が長すぎます。\r\n");
  }
  return {};
}

// The transcript lines for what the user's [mail] settings and the test
// send add to the mail and cannot go out: the envelope addresses (the
// first faulty one), the Cc and Reply-To addresses and the unsubscribe URI.
// An empty envelope address would be the null path, which RCPT TO does not
// take (RFC 5321 4.1.1.3).
std::string ExtraProblems(const MailRecord& record) {
  std::string problems;
  for (const std::string& address : record.envelopeRecipients) {
    problems = address.empty() ? Sjis("  配送先アドレスが空です。\r\n")
                               : AddressProblem(address, "配送先アドレス");
    if (!problems.empty()) break;
  }
  problems += AddressProblem(record.extra.ccAddress, "Ccアドレス");
  problems += AddressProblem(record.extra.replyToAddress, "返信先アドレス(Reply-To)");
  return problems + UnsubscribeProblem(record.extra.listUnsubscribe);
}

// An upper estimate of what DATA will carry: the body as it goes out, each
// attachment's Base64 with its line ends, and room for the header block and
// the part headers.
std::uint64_t EstimatedMailSize(const MessageWriter& writer) {
  constexpr std::uint64_t kHeaderRoom = 4096;
  constexpr std::uint64_t kPartRoom = 1024;
  Zentool tool;
  std::uint64_t size = kHeaderRoom + mime::StuffDots(writer.BodyText()).size();
  for (int i = 0; i < writer.AttachmentCount(); ++i) {
    const std::int64_t file = tool.ZenGetFileSize(writer.AttachmentPath(i));
    const std::uint64_t base64 =
        (static_cast<std::uint64_t>(std::max<std::int64_t>(file, 0)) + 2) / 3 * 4;
    size += kPartRoom + base64 + (base64 / 64 + 1) * 2;
  }
  return size;
}

}  // namespace

// RFC 1870 6: a client that knows the mail is over the server's limit does
// not send it; the server would only refuse it after the whole transfer.
bool MailConnection::ExceedsSizeLimit() {
  if (!capabilities.sizeAdvertised || capabilities.sizeLimit == 0) return false;
  const std::uint64_t size = EstimatedMailSize(Writer());
  if (size <= capabilities.sizeLimit) return false;
  failureReason = Sjis("メールのサイズ(約") + std::to_string(size) +
                  Sjis("バイト)がサーバーの上限(") + std::to_string(capabilities.sizeLimit) +
                  Sjis("バイト)を超えています。");
  transcript += "  " + failureReason + "\r\n";
  return true;
}

int MailConnection::SendOneMail(MailRecord record) {
  Zentool tool;
  transcript = Sjis("★To ") + record.recipientName + "<" + record.recipientAddress + ">\r\n" +
               Sjis("  Subject: ") + record.subject + "\r\n";
  transcript += Sjis("  本文サイズ: ") + std::to_string(record.body.size()) + " Bytes\r\n";

  failureReason.clear();
  endOfDataCode = -1;
  envelopeStep = 0;
  if (smtpOpen == 0) return 1;
  if (popOpen == 1) return 2;
  if (record.subject.empty() || record.body.empty() || record.recipientName.empty() ||
      record.recipientAddress.empty()) {
    return 3;
  }
  const std::string recipientProblem = AddressProblem(record.recipientAddress, "宛先アドレス");
  const std::string senderProblem =
      AddressProblem(FieldText(server.senderAddress), "差出人アドレス");
  const std::string problems = recipientProblem + senderProblem + ExtraProblems(record);
  if (!problems.empty()) {
    transcript += problems;
    return 3;
  }

  const int count = tool.ZenCountLines(record.attachmentList);
  const bool hasAttachments = count > 0;
  for (int i = 0; i < count; ++i) {
    const std::string path = tool.ZenGetLine(record.attachmentList, i);
    const std::int64_t size = tool.ZenGetFileSize(path);
    if (size < 1) return 4;
    transcript += Sjis("  添付[") + std::to_string(i + 1) + "-" + std::to_string(size) +
                  "Bytes]: " + Utf8ToSjis(path) + "\r\n";
  }

  progress.stage[0] = 1;

  // Without a POP3 server there is nothing to log in to; the SMTP server
  // then does not expect POP before SMTP either.
  if (record.popBeforeSmtp == 1 && !FieldText(server.popServer).empty()) {
    if (PopBeforeSmtp() != 0) return 5;
    progress.popDone = 1;
  }

  progress.stage[1] = 1;
  subject = record.subject;
  body = record.body;
  attachmentList = record.attachmentList;
  recipientName = record.recipientName;
  recipientAddress = record.recipientAddress;
  extra = record.extra;
  envelopeRecipients = record.envelopeRecipients;
  const CharsetChoice choice = ChooseCharset(charsetSetting, Writer().Content());
  mailCharset = choice.charset;
  if (mailCharset == mime::Charset::Utf8) {
    transcript += Sjis("  文字コード: UTF-8");
    if (!choice.causes.empty()) {
      transcript += " (";
      for (const std::string& c : choice.causes) transcript += c;
      transcript += ")";
    }
    transcript += "\r\n";
  }

  if (ExceedsSizeLimit()) return 6;
  if (SmtpSendEnvelope() != 0) return 6;

  // From here on the server holds part of the mail: a failure drops the
  // connection so that the part is discarded.
  const auto abandon = [this](int code) {
    SmtpAbandon();
    transcript +=
        Sjis("  送信を中断したため、SMTP接続を切断しました(このメールは配信されません)。\r\n");
    return code;
  };

  progress.stage[2] = 1;
  if (SmtpHeaderSend(hasAttachments ? 1 : 0) != 0) return abandon(7);
  progress.stage[3] = 1;

  if (hasAttachments) {
    if (SmtpPartHeadSend(Writer().TextPartHeader()) != 0) return abandon(8);
    progress.attachmentIndex = 0;
    if (SmtpBodySend() != 0) return abandon(9);
    progress.stage[5] = 1;

    for (int i = 0; i < count; ++i) {
      const std::string header = AttachHeaderGet(i, attachmentList);
      if (header.empty()) {
        transcript += Sjis("  添付[") + std::to_string(i + 1) + Sjis("]を開けません: ") +
                      Utf8ToSjis(tool.ZenGetLine(attachmentList, i)) + "\r\n";
        return abandon(20);
      }
      tool.Wait(100);
      if (SmtpPartHeadSend(header) != 0) return abandon(20);
      progress.stage[7] = 0;
      progress.stage[6] = 1;
      progress.attachmentIndex = i + 1;
      if (SmtpAttachSend(i, attachmentList) != 0) return abandon(21);
      progress.stage[7] = 1;
    }

    progress.stage[8] = 1;
    tool.Wait(100);
    if (SmtpLastBoundarySend() != 0) return abandon(22);
  } else {
    progress.attachmentIndex = 0;
    if (SmtpBodySend() != 0) return abandon(10);
    progress.stage[5] = 1;
  }

  tool.Wait(100);
  if (SmtpEndData() != 0) return 11;
  return 0;
}

}  // namespace velkaro
