// The subject and body one recipient gets: placeholders filled in, the
// first line taken as the subject, and kept in the body only with
// title-in. The send run, the preview and the dry run all use this, so
// what is shown is exactly what is sent.
#pragma once

#include <ctime>
#include <string>

#include "data/settings_record.h"
#include "data/velkaro_ini.h"
#include "job/placeholders.h"
#include "mail/message_writer.h"

namespace velkaro {

struct PersonalisedMail {
  std::string subject;  // Shift_JIS, trimmed; "Non Subject!" for an empty text
  std::string body;     // Shift_JIS, ends in CR LF
};

PersonalisedMail PersonaliseMail(const PlaceholderWordList& words, const std::string& bodyText,
                                 const std::string& recipientLine, bool titleIn,
                                 std::time_t at = 0);

PlaceholderWordList PlaceholderWordsOf(const SettingsRecord& record);

// The `charset` setting of "Velkaro.ini" (auto when unset or unusable).
CharsetSetting CharsetSettingOf(const VelkaroIni& ini);

}  // namespace velkaro
