// Which names of the host are good enough to introduce it with (EHLO).
#include <gtest/gtest.h>

#include <string>

#include "platform/posix_services.h"

namespace velkaro {
namespace {

struct NameCase {
  const char* name;
  const char* qualified;  // what is kept of it
};

TEST(HostName, KeepsOnlyQualifiedNamesOtherHostsCanKnowUsBy) {
  const NameCase cases[] = {
      {"mail.example.jp", "mail.example.jp"},
      {"pc01.office.example.jp.", "pc01.office.example.jp"},  // the root's dot dropped
      {"pc01", ""},                                           // no domain
      {"", ""},
      {"localhost", ""},
      {"localhost.localdomain", ""},
      {"LOCALHOST.localdomain", ""},
      {"localhost6.localdomain6", ""},
      {"ip6-localhost", ""},
      {"localhostess.example.jp", "localhostess.example.jp"},
      {"192.0.2.7", ""},  // an address, not a name
      {"2001:db8::7", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(posix::QualifiedHostNameOrEmpty(c.name), c.qualified) << c.name;
  }
}

TEST(HostName, TheHostsOwnNameIsQualifiedOrEmpty) {
  const std::string name = posix::FullyQualifiedHostName();
  EXPECT_EQ(posix::QualifiedHostNameOrEmpty(name), name);
}

}  // namespace
}  // namespace velkaro
