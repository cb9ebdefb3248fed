// Placeholder substitution (src/job/placeholders.*) and the personalised
// mail built on it (src/job/personalise.*).
//
// Input: one flag byte, then text NUL record NUL word NUL value. The word
// is tried on its own and, in a slot the flags pick, among the default
// placeholder words.
#include <algorithm>
#include <vector>

#include "core/sjis_canonical.h"
#include "core/zentool.h"
#include "job/personalise.h"
#include "job/placeholders.h"
#include "support.h"

using namespace velkaro;

namespace {

std::vector<std::string> Parts(const std::string& bytes, std::size_t count) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (parts.size() + 1 < count) {
    const std::size_t end = bytes.find('\0', start);
    if (end == std::string::npos) break;
    parts.push_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  parts.push_back(start <= bytes.size() ? bytes.substr(start) : std::string());
  parts.resize(count);
  return parts;
}

// Whether walking the text's characters from `p` (a character start)
// lands exactly on `end`.
bool EndsOnBoundary(const std::string& text, std::size_t p, std::size_t end) {
  while (p < end) {
    p += (Zentool::ZenIsSjisLead(static_cast<unsigned char>(text[p])) && p + 1 < text.size()) ? 2
                                                                                              : 1;
  }
  return p == end || end >= text.size();
}

// Character by character from the start of the text (a lead byte takes
// the byte after it whatever it is); at every character that begins an
// occurrence of the word, the value goes in and the walk goes on behind
// the occurrence. Characters are compared, not codes: either CP932 code of
// a duplicated character matches (the canonical forms keep the lengths).
std::string ReferenceReplace(const std::string& text, const std::string& word,
                             const std::string& value) {
  if (word.empty()) return text;
  const std::string canonicalText = CanonicalSjis(text);
  const std::string canonicalWord = CanonicalSjis(word);
  std::string out;
  for (std::size_t p = 0; p < text.size();) {
    if (canonicalText.compare(p, canonicalWord.size(), canonicalWord) == 0 &&
        EndsOnBoundary(text, p, p + word.size())) {
      out += value;
      p += word.size();
      continue;
    }
    const bool pair =
        Zentool::ZenIsSjisLead(static_cast<unsigned char>(text[p])) && p + 1 < text.size();
    const std::size_t n = pair ? 2 : 1;
    out.append(text, p, n);
    p += n;
  }
  return out;
}

bool Holds(const std::string& text, const std::string& word) {
  return !word.empty() && CanonicalSjis(text).find(CanonicalSjis(word)) != std::string::npos;
}

bool HoldsAny(const std::string& text, const PlaceholderWordList& words) {
  return std::any_of(words.begin(), words.end(),
                     [&](const std::string& w) { return Holds(text, w); });
}

void CheckMail(const PlaceholderWordList& words, const std::string& text, const std::string& record,
               bool titleIn) {
  const PersonalisedMail mail = PersonaliseMail(words, text, record, titleIn);
  FUZZ_CHECK(mail.body.size() >= 2 && mail.body.compare(mail.body.size() - 2, 2, "\r\n") == 0);
  FUZZ_CHECK(mail.subject.find("\r\n") == std::string::npos);
  if (HoldsAny(text, words)) return;
  // Nothing to fill in: the subject is the first line, the body the text.
  const Zentool z;
  if (text.empty()) {
    FUZZ_CHECK(mail.subject == "Non Subject!");
    return;
  }
  const std::string first = z.ZenGetLine(text, 0);
  FUZZ_CHECK(first.find(mail.subject) != std::string::npos);
  const std::string rest = text.substr(std::min(text.size(), first.size() + 2));
  FUZZ_CHECK(mail.body == (titleIn ? text : rest) + "\r\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Platform();
  fuzz::InputReader in(data, size);
  const std::uint8_t flags = in.Byte();
  const std::vector<std::string> parts = Parts(in.Rest(), 4);
  const std::string& text = parts[0];
  const std::string& record = parts[1];
  const std::string& word = parts[2];
  const std::string& value = parts[3];

  const std::string replaced = ReplaceWord(text, word, value);
  FUZZ_CHECK(replaced == ReferenceReplace(text, word, value));
  // A word put back for itself leaves the same characters (the codes of
  // a duplicated character may differ: the word's own are written).
  FUZZ_CHECK(CanonicalSjis(ReplaceWord(text, word, word)) == CanonicalSjis(text));
  if (!Holds(text, word)) FUZZ_CHECK(replaced == text);

  PlaceholderWordList words = DefaultPlaceholderWords();
  if (flags & 1) words[(flags >> 1) % words.size()] = word;
  const std::string filled = ReplacePlaceholders(words, text, record);
  if (!HoldsAny(text, words)) FUZZ_CHECK(filled == text);
  CheckMail(words, text, record, (flags & 0x80) != 0);
  return 0;
}
