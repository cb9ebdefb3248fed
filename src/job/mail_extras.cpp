#include "job/mail_extras.h"

#include <algorithm>

#include "core/encoding.h"
#include "core/text_bytes.h"
#include "job/shown_value.h"
#include "mail/mime_text.h"

namespace velkaro {
namespace {

// "List-Unsubscribe: <" and ">" CR LF around the link must stay within the
// 998 bytes of a header line (RFC 5322 2.1.1): a link cannot be folded.
constexpr std::size_t kMaxLinkBytes = 900;

constexpr const char* kLinkForm =
    " )は mailto: か https: で始め、空白・制御文字・<>・ASCII 以外の文字を差し込み語の外に"
    "含まない形で書いてください。\r\n";

// RFC 3986 2.3: the characters a URI carries unencoded anywhere.
bool IsUnreserved(unsigned char b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
         b == '.' || b == '_' || b == '~';
}

// A recipient's value inside the link: every other byte percent-encoded,
// so that no value (an address book may come from anyone) can end the
// link, add a parameter or a header field. A control byte is refused:
// it is no value anybody typed.
std::string LinkValue(const std::string& utf8Value, std::string& why) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : utf8Value) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) {
      why = Sjis("リンクに使えない制御文字を含みます。");
      return {};
    }
    if (IsUnreserved(b)) {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return out;
}

// The setting as shown in a message: Shift_JIS, control bytes as "?",
// cut when long.
std::string Shown(const std::string& utf8) {
  return ShownValue(Utf8ToSjis(utf8));
}

// What is wrong with an address setting ("Reply-To", "Cc"), one line, or
// empty.
std::string MailboxProblem(const char* field, const std::string& text) {
  if (text.empty()) return {};
  const std::string who = field + Sjis(" のメールアドレス( ") + Shown(text);
  Mailbox box;
  switch (ParseMailbox(text, box)) {
    case MailboxFault::Form:
      return who + Sjis(" )は「アドレス」か「名前 <アドレス>」の形で書いてください。\r\n");
    case MailboxFault::NameCharacters:
      return field + Sjis(" の名前( ") + Shown(text) + Sjis(" )に使えない文字があります。\r\n");
    case MailboxFault::AddressCharacters: return who + Sjis(" )に使えない文字があります。\r\n");
    case MailboxFault::AddressShape:
      return who + Sjis(" )には @ を１つ、その前後に文字を書いてください。\r\n");
    case MailboxFault::None: break;
  }
  switch (mime::CheckAddress(box.address)) {
    case mime::AddressFault::Unclean: return who + Sjis(" )に使えない文字があります。\r\n");
    case mime::AddressFault::TooLong:
      return field + Sjis(" のメールアドレスが長すぎます( ") + std::to_string(box.address.size()) +
             Sjis(" バイト)。\r\n");
    case mime::AddressFault::None: break;
  }
  // The name goes out in Shift_JIS's characters like the sender's: one it
  // lacks would arrive as 〓.
  int unmappable = 0;
  Utf8ToSjis(box.name, &unmappable);
  if (unmappable > 0) {
    return field + Sjis(" の名前( ") + Shown(box.name) +
           Sjis(" )に Shift_JIS にない文字があります。\r\n");
  }
  return {};
}

std::string LinkProblem(const std::string& link) {
  if (link.empty()) return {};
  if (!IsUnsubscribeSetting(link)) {
    return Sjis("List-Unsubscribe のリンク( ") + Shown(link) + Sjis(kLinkForm);
  }
  if (link.size() > kMaxLinkBytes) {
    return Sjis("List-Unsubscribe のリンクが長すぎます( ") + std::to_string(link.size()) +
           Sjis(" バイト)。\r\n");
  }
  return {};
}

void SplitInto(const std::string& text, std::string& name, std::string& address) {
  Mailbox box;
  if (text.empty() || ParseMailbox(text, box) != MailboxFault::None) return;
  name = Utf8ToSjis(box.name);
  address = box.address;
}

// The link with the recipient's values in, or why it cannot go out.
PersonalUtf8 PersonalLink(const MailExtras& extras, const PlaceholderWordList& words,
                          const std::string& recipientLine, std::time_t at) {
  PersonalUtf8 link =
      ReplacePlaceholdersUtf8(words, extras.listUnsubscribe, recipientLine, at, LinkValue);
  const std::string head = Sjis("List-Unsubscribe のリンク( ") + Shown(extras.listUnsubscribe);
  if (!link.problem.empty()) {
    link.problem = head + Sjis(" ): ") + link.problem;
  } else if (!IsPlainLinkText(link.text)) {
    // Text outside the words that only looked like one.
    link.problem = head + Sjis(" )に使えない文字があります。");
  } else if (link.text.size() > kMaxLinkBytes) {
    link.problem = head + Sjis(" )は差し込み後に長すぎます( ") + std::to_string(link.text.size()) +
                   Sjis(" バイト)。");
  }
  return link;
}

}  // namespace

MailExtras MailExtrasOf(const VelkaroIni& ini) {
  MailExtras extras;
  extras.copyToSelf = ini.Get("copyToSelf") == "1";
  extras.replyTo = ini.Get("replyTo");
  extras.cc = ini.Get("cc");
  extras.listUnsubscribe = ini.Get("listUnsubscribe");
  return extras;
}

std::string MailExtrasProblems(const MailExtras& extras) {
  return MailboxProblem("Reply-To", extras.replyTo) + MailboxProblem("Cc", extras.cc) +
         LinkProblem(extras.listUnsubscribe);
}

RecipientExtras ExtrasFor(const MailExtras& extras, const PlaceholderWordList& words,
                          const std::string& recipientLine, std::time_t at) {
  RecipientExtras out;
  // The run checks the settings before it connects; settings that did not
  // pass never reach a header here either.
  const std::string settings = MailExtrasProblems(extras);
  if (!settings.empty()) {
    out.problem = settings.substr(0, settings.find("\r\n"));
    return out;
  }
  if (!extras.listUnsubscribe.empty()) {
    const PersonalUtf8 link = PersonalLink(extras, words, recipientLine, at);
    if (!link.problem.empty()) {
      out.problem = link.problem;
      return out;
    }
    out.headers.listUnsubscribe = link.text;
  }
  SplitInto(extras.replyTo, out.headers.replyToName, out.headers.replyToAddress);
  SplitInto(extras.cc, out.headers.ccName, out.headers.ccAddress);
  return out;
}

std::vector<std::string> EnvelopeRecipients(const MailExtras& extras,
                                            const std::string& recipientAddress,
                                            const std::string& senderAddress) {
  std::string ccName;
  std::string ccAddress;
  SplitInto(extras.cc, ccName, ccAddress);
  std::vector<std::string> out;
  std::vector<std::string> seen;
  const auto add = [&](const std::string& address) {
    // Servers compare domains without case, and most mailboxes too: the
    // same mailbox twice would get the mail twice.
    const std::string key = AsciiLower(address);
    if (address.empty() || std::find(seen.begin(), seen.end(), key) != seen.end()) return;
    seen.push_back(key);
    out.push_back(address);
  };
  add(recipientAddress);
  add(ccAddress);
  if (extras.copyToSelf) add(senderAddress);
  return out;
}

}  // namespace velkaro
