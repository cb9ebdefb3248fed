// The fixed text fields of the server block.
#include "core/server_settings.h"

#include <gtest/gtest.h>

namespace velkaro {
namespace {

TEST(ServerSettingsFields, CutLongTextsOnCharacterBoundaries) {
  ServerSettings s = DefaultServerSettings();
  EXPECT_EQ(s.popPort, 110);
  EXPECT_EQ(s.smtpPort, 25);
  SetFieldText(s.senderName, std::string(200, 'a'));
  EXPECT_EQ(FieldText(s.senderName), std::string(127, 'a'));
  // 126 ASCII bytes and a double-byte character that would need bytes 127
  // and 128: the character is dropped whole, never cut in half.
  SetFieldText(s.senderName, std::string(126, 'a') + "\x8E\x52");
  EXPECT_EQ(FieldText(s.senderName), std::string(126, 'a'));
  SetFieldText(s.senderName, "\x8E\x52\x93\x63");
  EXPECT_EQ(FieldText(s.senderName), "\x8E\x52\x93\x63");
}

}  // namespace
}  // namespace velkaro
