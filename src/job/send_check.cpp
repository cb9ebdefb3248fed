#include "job/send_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "core/encoding.h"
#include "core/sjis_canonical.h"
#include "core/text_bytes.h"
#include "core/zentool.h"
#include "job/mail_extras.h"
#include "job/personal_files.h"
#include "job/personalise.h"
#include "job/shown_value.h"
#include "mail/mime_text.h"
#include "platform/platform.h"

namespace velkaro {
namespace {

constexpr char kCrLf[] = "\r\n";
// The mark SendJob::AddRecipientByName gives a recipient typed as
// "name <address>": such a recipient was never meant to be in the book.
constexpr char kUnregisteredUtf8[] = "(未登録者)";
// Longest inside of a placeholder-like "((…))" that is still taken for a
// mistyped word rather than for text in double brackets.
constexpr std::size_t kMaxPlaceholderInside = 32;

std::size_t CharacterLength(std::string_view text, std::size_t i) {
  return Zentool::ZenIsSjisLead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

std::string Shown(std::string_view sjis) {
  return ShownValue(std::string(sjis));
}

// Only ASCII blanks and full-width spaces (or nothing at all).
bool Blank(std::string_view sjis) {
  for (std::size_t i = 0; i < sjis.size();) {
    if (sjis[i] == ' ' || sjis[i] == '\t') {
      ++i;
    } else if (sjis.substr(i, 2) == "\x81\x40") {
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

void Add(std::vector<CheckFinding>& findings, FindingKind kind, int line, std::string message) {
  findings.push_back({kind, line, std::move(message)});
}

// --- run-wide ---

void CheckSetup(const SendJob& job, std::vector<CheckFinding>& findings) {
  if (job.recipientLines.find(kCrLf) == std::string::npos) {
    Add(findings, FindingKind::Setup, 0, Sjis("送信先が１件も指定されていません。"));
  }
  if (job.bodyText.empty()) Add(findings, FindingKind::Setup, 0, Sjis("送信本文がありません。"));
  const std::string sender = FieldText(job.settings().record.server.senderAddress);
  if (sender.empty()) {
    Add(findings, FindingKind::Setup, 0, Sjis("差出人のメールアドレスが設定されていません。"));
  } else if (mime::CheckAddress(sender) != mime::AddressFault::None) {
    Add(findings, FindingKind::Setup, 0,
        Sjis("差出人のメールアドレス( ") + Shown(sender) + Sjis(" )は送信できません。"));
  }
}

// Why the file at `path` (UTF-8) cannot be attached, as a Shift_JIS
// sentence naming it; empty when it can.
std::string FileProblem(const std::string& path) {
  struct stat st {};
  std::string problem;
  if (::stat(path.c_str(), &st) != 0) {
    problem = Sjis(" )が見つかりません。");
  } else if (!S_ISREG(st.st_mode)) {
    problem = Sjis(" )はファイルではありません。");
  } else if (st.st_size == 0) {
    problem = Sjis(" )は空です。");
  } else if (Zentool().ZenGetFileSize(path) < 1) {
    problem = Sjis(" )を読めません。");
  }
  if (problem.empty()) return {};
  return Sjis("添付ファイル( ") + Shown(Utf8ToSjis(path)) + problem;
}

// The rows that name one file for all mails; a row with placeholder words
// in its path is looked at for each recipient instead.
void CheckAttachments(const SendJob& job, std::vector<CheckFinding>& findings) {
  const PlaceholderWordList words = PlaceholderWordsOf(job.settings().record);
  for (std::size_t i = 0; i < job.attachments.size(); ++i) {
    const std::string path = job.AttachmentPath(i);
    if (IsPersonalPattern(words, path)) continue;
    const std::string problem = FileProblem(path);
    if (!problem.empty()) Add(findings, FindingKind::Attachment, 0, problem);
  }
}

std::vector<std::string> SplitCrLf(const std::string& lines) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end = lines.find(kCrLf); end != std::string::npos;
       start = end + 2, end = lines.find(kCrLf, start)) {
    parts.push_back(lines.substr(start, end - start));
  }
  return parts;
}

// The attachment rows of a run, and which of them are personal.
struct AttachmentRows {
  PlaceholderWordList words;
  std::string patterns;  // UTF-8 paths, each followed by CR LF
  std::vector<bool> personal;
  bool anyPersonal = false;
};

AttachmentRows RowsOf(const SendJob& job) {
  AttachmentRows rows;
  rows.words = PlaceholderWordsOf(job.settings().record);
  for (std::size_t i = 0; i < job.attachments.size(); ++i) {
    const std::string path = job.AttachmentPath(i);
    rows.patterns += path + kCrLf;
    rows.personal.push_back(IsPersonalPattern(rows.words, path));
    rows.anyPersonal = rows.anyPersonal || rows.personal.back();
  }
  return rows;
}

// One recipient's own files: a value refused in a path, or each personal
// file of its mail that is missing, no file, empty or unreadable, naming
// the recipient and the path looked for.
void CheckPersonalFiles(const AttachmentRows& rows, std::time_t at, const std::string& line,
                        const MailContent& mail, int n, std::vector<CheckFinding>& findings) {
  const std::string who = mail.recipientName.empty()
                              ? Sjis("<") + Shown(mail.recipientAddress) + Sjis(">")
                              : Shown(mail.recipientName);
  const RecipientAttachments own = AttachmentsFor(rows.words, rows.patterns, line, at, false);
  if (!own.problem.empty()) {
    Add(findings, FindingKind::Attachment, n, who + Sjis(": ") + own.problem);
    return;
  }
  // The mail's list holds one path per row, in row order.
  const std::vector<std::string> paths = SplitCrLf(mail.attachmentList);
  for (std::size_t i = 0; i < paths.size() && i < rows.personal.size(); ++i) {
    if (!rows.personal[i]) continue;
    const std::string problem = FileProblem(paths[i]);
    if (!problem.empty()) Add(findings, FindingKind::Attachment, n, who + Sjis("の") + problem);
  }
}

// The opening and closing marks of the configured words: "((" and "))"
// for "((name))", the ASCII punctuation each word begins and ends with.
struct Marks {
  std::string open;
  std::string close;
  bool operator==(const Marks&) const = default;
};

bool IsMark(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b > 0x20 && b < 0x7F && !(b >= '0' && b <= '9') && !(b >= 'A' && b <= 'Z') &&
         !(b >= 'a' && b <= 'z');
}

std::vector<Marks> MarksOf(const PlaceholderWordList& words) {
  std::vector<Marks> marks;
  for (const std::string& word : words) {
    std::size_t open = 0;
    while (open < word.size() && IsMark(word[open])) ++open;
    // A trail byte can look like punctuation: only the bytes after the
    // last character that is not one count.
    std::size_t close = word.size();
    while (close > open && IsMark(word[close - 1]) &&
           (close < 2 || !Zentool::ZenIsSjisLead(static_cast<unsigned char>(word[close - 2])))) {
      --close;
    }
    if (open == 0 || close == word.size() || close <= open) continue;
    Marks m{word.substr(0, open), word.substr(close)};
    if (std::find(marks.begin(), marks.end(), m) == marks.end()) marks.push_back(std::move(m));
  }
  return marks;
}

// Everything in the body text that is written like a placeholder but is
// none of the configured words, each once with the body lines it is on.
void CheckPlaceholders(const SendJob& job, std::vector<CheckFinding>& findings) {
  const PlaceholderWordList words = PlaceholderWordsOf(job.settings().record);
  const std::vector<Marks> marks = MarksOf(words);
  if (marks.empty()) return;
  std::unordered_set<std::string> known;
  for (const std::string& word : words) {
    if (!word.empty()) known.insert(CanonicalSjis(word));
  }
  std::vector<std::string> order;
  std::unordered_map<std::string, std::vector<int>> linesOf;
  const std::string canonical = CanonicalSjis(job.bodyText);
  const std::string_view text(canonical);
  int lineNumber = 1;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '\n') ++lineNumber;
    std::size_t taken = 0;
    for (const Marks& m : marks) {
      if (text.substr(i, m.open.size()) != m.open) continue;
      // In "(((data1)))" the word begins with the last "((".
      if (text.substr(i + 1, m.open.size()) == m.open) continue;
      // The closing marks on the same line, found character by character.
      const std::size_t inside = i + m.open.size();
      std::size_t j = inside;
      while (j < text.size() && j - inside <= kMaxPlaceholderInside && text[j] != '\r' &&
             text[j] != '\n' && text.substr(j, m.close.size()) != m.close) {
        j += CharacterLength(text, j);
      }
      if (j == inside || j - inside > kMaxPlaceholderInside ||
          text.substr(j, m.close.size()) != m.close) {
        continue;
      }
      // With the same mark on both sides ("%name%"), "100% and 50%" is
      // prose: such a word has no blank inside.
      if (m.open == m.close && text.substr(inside, j - inside).find(' ') != std::string::npos) {
        continue;
      }
      const std::size_t end = j + m.close.size();
      const std::string token(text.substr(i, end - i));
      if (!known.contains(token)) {
        // Shown in the text's own bytes.
        const std::string own = job.bodyText.substr(i, end - i);
        auto [at, added] = linesOf.try_emplace(own);
        if (added) order.push_back(own);
        if (at->second.empty() || at->second.back() != lineNumber) {
          at->second.push_back(lineNumber);
        }
      }
      taken = end - i;
      break;
    }
    i += taken > 0 ? taken : CharacterLength(text, i);
  }
  for (const std::string& token : order) {
    std::string lines;
    for (const int n : linesOf[token]) lines += (lines.empty() ? "" : ", ") + std::to_string(n);
    Add(findings, FindingKind::UnknownPlaceholder, 0,
        Sjis("本文 ") + lines + Sjis(" 行目の ") + Shown(token) +
            Sjis(" は差し込み語ではありません(そのまま送られます)。"));
  }
}

// --- per recipient ---

std::string RecipientProblem(const std::string& name, const std::string& address) {
  if (address.empty()) return Sjis("メールアドレスがありません。");
  switch (mime::CheckAddress(address)) {
    case mime::AddressFault::Unclean:
      return Sjis("メールアドレス <") + Shown(address) + Sjis("> に使えない文字があります。");
    case mime::AddressFault::TooLong:
      return Sjis("メールアドレスが長すぎます( ") + std::to_string(address.size()) +
             Sjis(" バイト)。");
    case mime::AddressFault::None: break;
  }
  // The transport refuses a mail without a recipient name as well.
  if (name.empty()) return Sjis("<") + Shown(address) + Sjis("> に氏名がありません。");
  return {};
}

std::unordered_set<std::string> RegisteredNames(const std::string& addressBook) {
  Zentool z;
  std::unordered_set<std::string> names;
  // Line 0 is the header line.
  std::size_t start = addressBook.find(kCrLf);
  if (start == std::string::npos) return names;
  for (std::size_t end = addressBook.find(kCrLf, start += 2); end != std::string::npos;
       start = end + 2, end = addressBook.find(kCrLf, start)) {
    names.insert(CanonicalSjis(z.ZenGetTabItem(addressBook.substr(start, end + 2 - start), 1)));
  }
  return names;
}

std::string CausesText(const std::vector<std::string>& causes) {
  std::string out;
  for (const std::string& c : causes) out += (out.empty() ? "" : Sjis("、")) + c;
  return out;
}

}  // namespace

void ForEachMailContent(const SendJob& job, const MailVisitor& visit) {
  std::string attachmentPaths;
  for (std::size_t i = 0; i < job.attachments.size(); ++i) {
    attachmentPaths += job.AttachmentPath(i) + kCrLf;
  }
  const MailExtras extras = MailExtrasOf(job.settings().ini);
  const std::string& lines = job.recipientLines;
  int index = 0;
  for (std::size_t start = 0, end = lines.find(kCrLf); end != std::string::npos;
       start = end + 2, end = lines.find(kCrLf, start), ++index) {
    const std::string line = lines.substr(start, end + 2 - start);
    visit(index, line,
          SendJob::ComposeContent(job.settings().record, job.bodyText, job.titleIn, line,
                                  attachmentPaths, job.substitutionTime, extras));
  }
}

std::vector<CheckFinding> CheckBeforeSending(const SendJob& job, const std::string& addressBook) {
  std::vector<CheckFinding> findings;
  CheckSetup(job, findings);
  CheckAttachments(job, findings);
  CheckPlaceholders(job, findings);

  Zentool z;
  const std::unordered_set<std::string> registered = RegisteredNames(addressBook);
  const std::string unregistered = Utf8ToSjis(kUnregisteredUtf8);
  const bool forcedJis = CharsetSettingOf(job.settings().ini) == CharsetSetting::IsoJp;
  const AttachmentRows rows = RowsOf(job);
  // The time the words of a file name are filled with, as the run's.
  const std::time_t at = job.substitutionTime != 0 ? job.substitutionTime : CurrentPlatform().Now();
  std::unordered_map<std::string, int> firstLineOf;  // lower-case address → line
  firstLineOf.reserve(static_cast<std::size_t>(z.ZenCountLines(job.recipientLines)));
  ForEachMailContent(job, [&](int index, const std::string& line, const MailContent& mail) {
    const int n = index + 1;
    const std::string& address = mail.recipientAddress;
    const std::string problem = RecipientProblem(mail.recipientName, address);
    if (!problem.empty()) Add(findings, FindingKind::Unsendable, n, problem);
    if (!address.empty()) {
      const auto [first, added] = firstLineOf.try_emplace(AsciiLower(address), n);
      if (!added) {
        Add(findings, FindingKind::DuplicateAddress, n,
            Sjis("メールアドレス <") + Shown(address) + Sjis("> は ") +
                std::to_string(first->second) + Sjis(" 件目と ") + std::to_string(n) +
                Sjis(" 件目の両方にあります。"));
      }
    }
    const std::string regist = z.ZenGetTabItem(line, 1);
    if (!regist.empty() && regist != unregistered && !registered.contains(CanonicalSjis(regist))) {
      Add(findings, FindingKind::NotInAddressBook, n,
          Sjis("登録名「") + Shown(regist) + Sjis("」はアドレス帳にありません。"));
    }
    if (rows.anyPersonal) CheckPersonalFiles(rows, at, line, mail, n, findings);
    if (Blank(mail.subject)) {
      Add(findings, FindingKind::EmptySubject, n,
          Sjis("件名(本文の１行目)が差替え後に空になります。"));
    }
    if (forcedJis) {
      const CharsetChoice choice = ChooseCharset(CharsetSetting::IsoJp, mail);
      if (!choice.causes.empty()) {
        Add(findings, FindingKind::UncarriedCharacters, n,
            Sjis("ISO-2022-JP で送れない文字があります: ") + CausesText(choice.causes));
      }
    }
  });
  return findings;
}

std::string FormatFindings(const std::vector<CheckFinding>& findings, std::size_t maxLines) {
  std::string out;
  for (std::size_t i = 0; i < findings.size(); ++i) {
    if (i == maxLines) {
      out += Sjis("ほかに ") + std::to_string(findings.size() - i) + Sjis(" 件あります。\r\n");
      break;
    }
    const CheckFinding& f = findings[i];
    if (f.line > 0) out += Sjis("送信先 ") + std::to_string(f.line) + Sjis(" 件目: ");
    out += f.message + kCrLf;
  }
  return out;
}

std::string FormatFindingsUtf8(const std::vector<CheckFinding>& findings) {
  std::string out;
  for (const CheckFinding& f : findings) {
    out += f.line > 0 ? "line " + std::to_string(f.line) + ": " : std::string("all mails: ");
    out += SjisToUtf8(f.message) + "\n";
  }
  return out;
}

}  // namespace velkaro
