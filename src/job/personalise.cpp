#include "job/personalise.h"

#include "core/zentool.h"

namespace velkaro {
namespace {

std::string TrimAsciiSpace(const std::string& s) {
  const char* space = " \t\r\n\v\f";
  const auto first = s.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(space) - first + 1);
}

}  // namespace

PersonalisedMail PersonaliseMail(const PlaceholderWordList& words, const std::string& bodyText,
                                 const std::string& recipientLine, bool titleIn, std::time_t at) {
  Zentool z;
  std::string text = ReplacePlaceholders(words, bodyText, recipientLine, at);
  PersonalisedMail mail;
  if (text.empty()) {
    text = "\r\n";
    mail.subject = "Non Subject!";
  } else {
    mail.subject = TrimAsciiSpace(z.ZenGetLine(text, 0));
  }
  mail.body = (titleIn ? text : z.ZenDeleteLine(text, 0)) + "\r\n";
  return mail;
}

PlaceholderWordList PlaceholderWordsOf(const SettingsRecord& record) {
  PlaceholderWordList words;
  for (int i = 0; i < SettingsRecord::kPlaceholderWords; ++i) {
    words[i] = FieldText(record.PlaceholderWords[i]);
  }
  return words;
}

CharsetSetting CharsetSettingOf(const VelkaroIni& ini) {
  CharsetSetting setting = CharsetSetting::Auto;
  ParseCharsetSetting(ini.Get("charset"), &setting);
  return setting;
}

}  // namespace velkaro
