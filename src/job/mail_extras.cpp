#include "job/mail_extras.h"

namespace velkaro {

MailExtras MailExtrasOf(const VelkaroIni&) {
  return {};
}
std::string MailExtrasProblems(const MailExtras&) {
  return {};
}
RecipientExtras ExtrasFor(const MailExtras&, const PlaceholderWordList&, const std::string&,
                          std::time_t) {
  return {};
}
std::vector<std::string> EnvelopeRecipients(const MailExtras&, const std::string& recipientAddress,
                                            const std::string&) {
  return {recipientAddress};
}

}  // namespace velkaro
