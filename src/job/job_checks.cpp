// The checks a send run makes before it connects. Whatever would make the
// transport refuse a mail for sure is found here, so that a run never
// stops half-way through its recipients for a fault that was there from
// the start, and no byte of a bad address ever reaches the server.
#include <functional>
#include <string>

#include "core/encoding.h"
#include "core/zentool.h"
#include "job/personal_files.h"
#include "job/personalise.h"
#include "job/run_policy.h"
#include "job/send_job.h"
#include "job/shown_value.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

// A message box with thousands of lines helps nobody: the first few bad
// recipients are named, the rest counted.
constexpr int kNamedRecipients = 10;

}  // namespace

std::string ShownValue(const std::string& sjis) {
  // Values are shown cut to this many bytes.
  constexpr std::size_t kShownBytes = 64;
  std::string out;
  for (std::size_t i = 0; i < sjis.size();) {
    const auto b = static_cast<unsigned char>(sjis[i]);
    const bool pair = Zentool::ZenIsSjisLead(b) && i + 1 < sjis.size() &&
                      static_cast<unsigned char>(sjis[i + 1]) >= 0x40;
    const std::size_t step = pair ? 2 : 1;
    if (out.size() + step > kShownBytes) return out + Sjis("…");
    if (pair) {
      out.append(sjis, i, 2);
    } else {
      // A lead byte without its trail would swallow the byte after it.
      const bool broken = b < 0x20 || b == 0x7F || Zentool::ZenIsSjisLead(b);
      out += broken ? '?' : sjis[i];
    }
    i += step;
  }
  return out;
}

namespace {

// The problem of the recipient address of line `number` (1-based), or
// empty. An empty address cannot be sent to either.
std::string RecipientProblem(int number, const std::string& name, const std::string& address) {
  const std::string who =
      Sjis("送信先( ") + std::to_string(number) + Sjis("件目 ") + ShownValue(name);
  if (address.empty()) return who + Sjis(" )のメールアドレスがありません。\r\n");
  switch (mime::CheckAddress(address)) {
    case mime::AddressFault::Unclean:
      return who + "<" + ShownValue(address) +
             Sjis("> )のメールアドレスに使えない文字があります。\r\n");
    case mime::AddressFault::TooLong:
      return who + Sjis(" )のメールアドレスが長すぎます( ") + std::to_string(address.size()) +
             Sjis(" バイト)。\r\n");
    case mime::AddressFault::None: break;
  }
  return {};
}

std::string SenderProblem(const std::string& address) {
  switch (mime::CheckAddress(address)) {
    case mime::AddressFault::Unclean:
      return Sjis("差出人のメールアドレス( ") + ShownValue(address) +
             Sjis(" )に使えない文字があります。\r\n");
    case mime::AddressFault::TooLong:
      return Sjis("差出人のメールアドレスが長すぎます( ") + std::to_string(address.size()) +
             Sjis(" バイト)。\r\n");
    case mime::AddressFault::None: break;
  }
  return {};
}

// The lines `problemOf` gives for the recipient lines (number from 1, the
// line with its CR LF), in recipient order: the first few named, the rest
// counted in `moreText`. The lines are walked once: a run may have many
// thousands of recipients.
std::string NameBadRecipients(
    const std::string& recipientLines, const char* moreText,
    const std::function<std::string(int number, const std::string& line)>& problemOf) {
  std::string named;
  int bad = 0;
  int number = 0;
  for (std::size_t start = 0, end = recipientLines.find("\r\n"); end != std::string::npos;
       start = end + 2, end = recipientLines.find("\r\n", start)) {
    const std::string problem = problemOf(++number, recipientLines.substr(start, end + 2 - start));
    if (problem.empty()) continue;
    if (++bad <= kNamedRecipients) named += problem;
  }
  if (bad > kNamedRecipients) {
    named += Sjis("ほかに ") + std::to_string(bad - kNamedRecipients) + Sjis(moreText);
  }
  return named;
}

std::string RecipientProblems(const std::string& recipientLines) {
  return NameBadRecipients(recipientLines, "件の送信先のメールアドレスにも問題があります。\r\n",
                           [](int number, const std::string& line) {
                             Zentool z;
                             return RecipientProblem(number, z.ZenGetTabItem(line, 2),
                                                     z.ZenGetTabItem(line, 3));
                           });
}

}  // namespace

// With onRecipientFailure=continue a recipient without its own file is
// refused at its turn and the others get their mails; otherwise the run
// does not start, and every such recipient is named with the path looked
// for, before any connection.
std::string SendJob::PersonalProblems() const {
  if (RunPolicyOf(settings_.ini).continueOnFailure) return {};
  bool personal = !MailExtrasOf(settings_.ini).listUnsubscribe.empty();
  for (std::size_t i = 0; i < attachments.size(); ++i)
    personal = personal || IsPersonalAttachment(i);
  if (!personal) return {};
  std::string attachmentPaths;
  for (std::size_t i = 0; i < attachments.size(); ++i)
    attachmentPaths += AttachmentPath(i) + "\r\n";
  const MailExtras extras = MailExtrasOf(settings_.ini);
  const PlaceholderWordList words = PlaceholderWordsOf(settings_.record);
  const std::time_t at = substitutionTime != 0 ? substitutionTime : CurrentPlatform().Now();
  // Only the file names and the link: personalising every body here
  // would cost a pass over the text per recipient.
  return NameBadRecipients(recipientLines, "件の送信先にも個別の問題があります。\r\n",
                           [&](int number, const std::string& line) {
                             const std::string problem = RecipientFilesAndLinkProblem(
                                 words, attachmentPaths, extras, line, at);
                             if (problem.empty()) return problem;
                             return Sjis("送信先( ") + std::to_string(number) + Sjis("件目 ") +
                                    ShownValue(Zentool().ZenGetTabItem(line, 2)) +
                                    " ): " + problem + "\r\n";
                           });
}

std::string SendJob::CheckProblems() const {
  Zentool z;
  std::string errors;
  if (z.ZenCountLines(recipientLines) == 0)
    errors += Sjis("送信先が１件も指定されていません。\r\n");
  if (bodyText.empty()) errors += Sjis("送信本文がありません。\r\n");
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    if (!IsPersonalAttachment(i) && z.ZenGetFileSize(AttachmentPath(i)) < 1) {
      errors +=
          Sjis("添付ファイル( ") + Utf8ToSjis(attachments[i].name) + Sjis(" )を開けません。\r\n");
    }
  }
  errors += SenderProblem(FieldText(settings_.record.server.senderAddress));
  errors += MailExtrasProblems(MailExtrasOf(settings_.ini));
  errors += RecipientProblems(recipientLines);
  // Each recipient's files are looked for only when the run could start
  // otherwise: a thousand missing files behind an empty body help nobody.
  if (errors.empty()) errors += PersonalProblems();
  return errors;
}

}  // namespace velkaro
