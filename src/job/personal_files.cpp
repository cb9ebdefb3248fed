#include "job/personal_files.h"

namespace velkaro {

bool IsPersonalPattern(const PlaceholderWordList& words, const std::string& utf8Path) {
  return HasPlaceholder(words, utf8Path);
}

RecipientAttachments AttachmentsFor(const PlaceholderWordList&, const std::string& patterns,
                                    const std::string&, std::time_t, bool) {
  return {patterns, {}, {}};
}

}  // namespace velkaro
