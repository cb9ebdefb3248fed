// Personalising a mail: the placeholder words of the settings are replaced
// by the recipient's address-book fields and by the date and time.
#pragma once

#include <array>
#include <ctime>
#include <functional>
#include <string>

namespace velkaro {

// The sixteen words, in the slot order of the settings: 0 regist, 1 name,
// 2 kana, 3 mailaddr, 4 telephone, 5 realaddr, 6–9 data1–data4, 10 today,
// 11 time, 12 year, 13 month, 14 day, 15 week.
using PlaceholderWordList = std::array<std::string, 16>;

PlaceholderWordList DefaultPlaceholderWords();

// Replaces every placeholder of `text` (Shift_JIS, CR LF) for the recipient
// whose entry line (ten TAB-separated fields ended by CR LF) is `record`,
// each word found as ReplaceWord finds it. The clock is read once, through
// the platform.
// `at`: the time the date and time words show; 0 for now.
std::string ReplacePlaceholders(const PlaceholderWordList& words, const std::string& text,
                                const std::string& record, std::time_t at = 0);

// Decides about a value going into a UTF-8 text: returns the bytes to put
// in (the value itself, or it escaped), or sets `why` (Shift_JIS) to
// refuse it.
using PlaceholderValueFilter =
    std::function<std::string(const std::string& utf8Value, std::string& why)>;

struct PersonalUtf8 {
  std::string text;     // UTF-8, the words replaced
  std::string problem;  // Shift_JIS: why the first refused value was refused
};

// The placeholders of a UTF-8 text that leaves the Shift_JIS world (a file
// path, a link): every word and every value is taken to UTF-8 and replaced
// as ReplacePlaceholders does, date and time words first. A refused value
// is left out (its word stays) and the first refusal is named.
PersonalUtf8 ReplacePlaceholdersUtf8(const PlaceholderWordList& words, const std::string& utf8Text,
                                     const std::string& record, std::time_t at = 0,
                                     const PlaceholderValueFilter& filter = {});

// True when a UTF-8 text holds any of the words.
bool HasPlaceholder(const PlaceholderWordList& words, const std::string& utf8Text);

// One replacement pass: every occurrence of `word` that begins on a
// character boundary, left to right, never searching inside `value`. The
// word matches by character: either of CP932's codes for a character it
// holds twice matches the other. The text keeps its own bytes outside
// the replaced words.
std::string ReplaceWord(const std::string& text, const std::string& word, const std::string& value);

}  // namespace velkaro
