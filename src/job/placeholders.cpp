#include "job/placeholders.h"

#include <string_view>
#include <utility>
#include <vector>

#include "core/encoding.h"
#include "core/sjis_canonical.h"
#include "core/zentool.h"
#include "job/shown_value.h"
#include "platform/platform.h"

namespace velkaro {
namespace {

// A byte below 0x40 can never be the trail byte of a double-byte character,
// so the position after it is always a character boundary. That lets a
// candidate match be checked by walking back only to the last such byte
// (usually the start of its line) instead of from the start of the text.
bool StartsCharacter(std::string_view text, std::size_t known, std::size_t p) {
  std::size_t start = known;
  for (std::size_t q = p; q > known; --q) {
    if (static_cast<unsigned char>(text[q - 1]) < 0x40) {
      start = q;
      break;
    }
  }
  std::size_t w = start;
  while (w < p) {
    w += (Zentool::ZenIsSjisLead(static_cast<unsigned char>(text[w])) && w + 1 < text.size()) ? 2
                                                                                              : 1;
  }
  return w == p;
}

// Every occurrence of `canonicalWord` in `canonical` (the text's canonical
// spelling) replaced by `value`; everything else is copied from the text's
// own bytes. The two spellings have the same length and the same character
// boundaries, so a position found in one is a position in the other.
std::string ReplaceInText(const std::string& text, std::string_view canonical,
                          const std::string& canonicalWord, const std::string& value) {
  std::size_t found = canonical.find(canonicalWord);
  if (found == std::string_view::npos) return text;
  const std::string_view original(text);
  std::string out;
  out.reserve(text.size());
  std::size_t copied = 0;  // everything before this is in `out`
  std::size_t known = 0;   // a position known to start a character
  while (found != std::string_view::npos) {
    // A word must cover whole characters: one that ends in a lone lead
    // byte must not take half of a double-byte character with it.
    const std::size_t end = found + canonicalWord.size();
    if (StartsCharacter(canonical, known, found) &&
        (end >= canonical.size() || StartsCharacter(canonical, found, end))) {
      out.append(original.substr(copied, found - copied));
      out.append(value);
      copied = known = end;
      found = canonical.find(canonicalWord, copied);
    } else {
      found = canonical.find(canonicalWord, found + 1);
    }
  }
  out.append(original.substr(copied));
  return out;
}

}  // namespace

PlaceholderWordList DefaultPlaceholderWords() {
  return {"((regist))", "((name))",  "((kana))",  "((mailaddr))", "((telephone))", "((realaddr))",
          "((data1))",  "((data2))", "((data3))", "((data4))",    "((today))",     "((time))",
          "((year))",   "((month))", "((day))",   "((week))"};
}

std::string ReplaceWord(const std::string& text, const std::string& word,
                        const std::string& value) {
  if (word.empty()) return text;
  return ReplaceInText(text, CanonicalSjis(text), CanonicalSjis(word), value);
}

namespace {

// Every word with its value for one recipient, in the order they are
// replaced: date and time words first, so a field value holding one of
// them is left alone; the record words follow in field order 0..9, so a
// field holding a later field's word is expanded. The clock is read once.
std::vector<std::pair<std::string, std::string>> WordValues(const PlaceholderWordList& words,
                                                            const std::string& record,
                                                            std::time_t at) {
  Zentool z;
  const std::time_t now = at != 0 ? at : CurrentPlatform().Now();
  const struct {
    int slot;
    int style;
  } dateWords[] = {{11, 21}, {12, 1}, {13, 2}, {14, 3}, {15, 7}, {10, 15}};
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& d : dateWords) out.emplace_back(words[d.slot], z.FormatDateTime(now, d.style));
  // Slot of the word for field 0 (kana), 1 (regist), 2 (name), 3 …
  constexpr int kFieldSlot[10] = {2, 0, 1, 3, 4, 5, 6, 7, 8, 9};
  for (int field = 0; field < 10; ++field) {
    out.emplace_back(words[kFieldSlot[field]], z.ZenGetTabItem(record, field));
  }
  return out;
}

// UTF-8 needs no care for character boundaries: no character's bytes
// appear inside another's.
std::string ReplaceAllUtf8(const std::string& text, const std::string& word,
                           const std::string& value) {
  std::string out;
  std::size_t copied = 0;
  for (std::size_t found = text.find(word); found != std::string::npos;
       found = text.find(word, copied)) {
    out.append(text, copied, found - copied);
    out += value;
    copied = found + word.size();
  }
  out.append(text, copied);
  return out;
}

}  // namespace

std::string ReplacePlaceholders(const PlaceholderWordList& words, const std::string& text,
                                const std::string& record, std::time_t at) {
  std::string out = text;
  // The words come from the settings and the text from a file, each maybe
  // written by another program: they are compared by character, so a word
  // typed with one of CP932's duplicate codes matches the other.
  std::string canonical = CanonicalSjis(out);
  for (const auto& [word, value] : WordValues(words, record, at)) {
    if (word.empty()) continue;
    const std::string canonicalWord = CanonicalSjis(word);
    if (canonical.find(canonicalWord) == std::string::npos) continue;
    out = ReplaceInText(out, canonical, canonicalWord, value);
    canonical = CanonicalSjis(out);
  }
  return out;
}

PersonalUtf8 ReplacePlaceholdersUtf8(const PlaceholderWordList& words, const std::string& utf8Text,
                                     const std::string& record, std::time_t at,
                                     const PlaceholderValueFilter& filter) {
  PersonalUtf8 out{utf8Text, {}};
  for (const auto& [word, value] : WordValues(words, record, at)) {
    const std::string utf8Word = word.empty() ? std::string() : SjisToUtf8(word);
    if (utf8Word.empty() || out.text.find(utf8Word) == std::string::npos) continue;
    std::string why;
    std::string put = SjisToUtf8(value);
    if (filter) put = filter(put, why);
    if (!why.empty()) {
      if (out.problem.empty()) {
        out.problem = word + Sjis(" の値( ") + ShownValue(value) + Sjis(" )は") + why;
      }
      continue;
    }
    out.text = ReplaceAllUtf8(out.text, utf8Word, put);
  }
  return out;
}

bool HasPlaceholder(const PlaceholderWordList& words, const std::string& utf8Text) {
  for (const std::string& word : words) {
    if (!word.empty() && utf8Text.find(SjisToUtf8(word)) != std::string::npos) return true;
  }
  return false;
}

}  // namespace velkaro
