// The EHLO reply reader (ParseEhloReply in src/mail) on arbitrary server
// bytes: what it makes of them must stay well-formed, since the opening
// steps decide on STARTTLS, AUTH and SIZE by it.
#include <algorithm>
#include <string>

#include "mail/smtp_capabilities.h"
#include "support.h"

using namespace velkaro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const SmtpCapabilities caps = ParseEhloReply(reply);
  for (const std::string& mechanism : caps.authMechanisms) {
    FUZZ_CHECK(!mechanism.empty());
    FUZZ_CHECK(mechanism.find_first_of(" \t\r\n") == std::string::npos);
    FUZZ_CHECK(!std::any_of(mechanism.begin(), mechanism.end(),
                            [](char c) { return c >= 'a' && c <= 'z'; }));
    FUZZ_CHECK(std::count(caps.authMechanisms.begin(), caps.authMechanisms.end(), mechanism) == 1);
    FUZZ_CHECK(caps.OffersAuth(mechanism));
  }
  FUZZ_CHECK(caps.sizeLimit == 0 || caps.sizeAdvertised);
  // Whatever was read came from lines after the first, so a one-line
  // reply offers nothing.
  if (reply.find('\n') == std::string::npos || reply.find('\n') == reply.size() - 1) {
    FUZZ_CHECK(!caps.startTls && caps.authMechanisms.empty() && !caps.sizeAdvertised);
  }
  const std::string name = ChooseEhloName("", reply, reply);
  FUZZ_CHECK(!name.empty());
  return 0;
}
