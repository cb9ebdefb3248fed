// "Velkaro.ini": what a hand-edited file reads as, that a save keeps every
// line this build does not know exactly as it was, and that a save either
// replaces the whole file or leaves the old one.
#include "data/velkaro_ini.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "data/settings_file.h"
#include "support/file_faults.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

const std::string kFingerprint = std::string(32, 'a') + std::string(32, 'F');
const std::string kColonFingerprint =
    "AB:cd:EF:01:23:45:67:89:ab:CD:ef:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:ab:cd:ef:01:23:45:67:"
    "89";

VelkaroIni LoadText(const TempDir& dir, const std::string& text) {
  VelkaroIni ini(dir.File("Velkaro.ini"));
  WriteBytes(ini.Path(), text);
  EXPECT_EQ(ini.Load(), 0);
  return ini;
}

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(VelkaroIni, AFileReadsAsItsKnownValuesElseTheDefaults) {
  const struct {
    const char* name;
    std::string text;
    const char* key;
    std::string expected;
  } cases[] = {
      {"empty file", "", "smtpSecurity", "none"},
      {"plain", "[smtp]\nsmtpSecurity=starttls\n", "smtpSecurity", "starttls"},
      {"CR LF", "[smtp]\r\nsmtpAuth=login\r\n", "smtpAuth", "login"},
      {"no final line end", "[pop]\npopSecurity=stls", "popSecurity", "stls"},
      {"blanks around", "  [ smtp ]  \n\t smtpUser =  taro@example.jp \t\n", "smtpUser",
       "taro@example.jp"},
      // A hand-written capital must not quietly mean "none".
      {"choice in capitals", "[smtp]\nsmtpSecurity=STARTTLS\n", "smtpSecurity", "starttls"},
      {"UTF-8 mark", "\xEF\xBB\xBF[smtp]\nsmtpSecurity=tls\n", "smtpSecurity", "tls"},
      {"last of two wins", "[smtp]\nsmtpAuth=plain\nsmtpAuth=xoauth2\n", "smtpAuth", "xoauth2"},
      {"UTF-8 text", "[smtp]\nheloName=送信.example.jp\n", "heloName", "送信.example.jp"},
      {"value with '='", "[smtp]\nsmtpPasswordCommand=pass show a=b\n", "smtpPasswordCommand",
       "pass show a=b"},
      {"fingerprint with colons", "[smtp]\ntlsTrustedFingerprint=" + kColonFingerprint + "\n",
       "tlsTrustedFingerprint", kColonFingerprint},
      {"bad choice", "[smtp]\nsmtpSecurity=tsl\n", "smtpSecurity", "none"},
      {"bad flag", "[smtp]\nallowInsecureAuth=yes\n", "allowInsecureAuth", "0"},
      {"bad fingerprint", "[smtp]\ntlsTrustedFingerprint=abc\n", "tlsTrustedFingerprint", ""},
      {"wrong section", "[pop]\nsmtpSecurity=tls\n", "smtpSecurity", "none"},
      {"before any section", "smtpSecurity=tls\n[smtp]\n", "smtpSecurity", "none"},
      {"comment ;", "[smtp]\n; smtpSecurity=tls\n", "smtpSecurity", "none"},
      {"comment #", "[smtp]\n#smtpSecurity=tls\n", "smtpSecurity", "none"},
      {"unknown key", "[smtp]\nsmtpColour=blue\n", "smtpColour", ""},
      {"copy to self", "[mail]\ncopyToSelf=1\n", "copyToSelf", "1"},
      {"copy to self not a flag", "[mail]\ncopyToSelf=yes\n", "copyToSelf", "0"},
      {"Reply-To with a name", "[mail]\nreplyTo= 営業部 <sales@example.jp> \n", "replyTo",
       "営業部 <sales@example.jp>"},
      // A header line must never be made of what the file says badly.
      {"Reply-To with a blank", "[mail]\nreplyTo=sales @example.jp\n", "replyTo", ""},
      {"Cc of two addresses", "[mail]\ncc=a@example.jp, b@example.jp\n", "cc", ""},
      {"Cc with a bell", "[mail]\ncc=a\x07@example.jp\n", "cc", ""},
      {"personal link", "[mail]\nlistUnsubscribe=https://example.jp/stop?id=((regist))\n",
       "listUnsubscribe", "https://example.jp/stop?id=((regist))"},
      {"link of another scheme", "[mail]\nlistUnsubscribe=http://example.jp/stop\n",
       "listUnsubscribe", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    EXPECT_EQ(LoadText(dir, c.text).Get(c.key), c.expected);
  }
}

TEST(VelkaroIni, AMissingFileIsEveryDefaultAndUnusableValuesAreNamed) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  ASSERT_EQ(ini.Load(), 0);
  for (const IniField& f : KnownIniFields()) EXPECT_EQ(ini.Get(f.key), f.defaultValue) << f.key;
  EXPECT_TRUE(ini.UnusableValues().empty());

  ini = LoadText(dir, "[smtp]\nsmtpSecurity=tsl\nsmtpAuth=login\n[pop]\npopSecurity=ssl\n");
  const std::vector<std::pair<std::string, std::string>> expected = {{"smtpSecurity", "tsl"},
                                                                     {"popSecurity", "ssl"}};
  EXPECT_EQ(ini.UnusableValues(), expected);
}

TEST(VelkaroIni, SetTakesOnlyWhatTheKeyTakes) {
  const struct {
    const char* key;
    std::string value;
    int result;
    std::string stored;  // Get afterwards, when set
  } cases[] = {
      {"smtpSecurity", "starttls", 0, "starttls"},
      {"smtpSecurity", "  TLS ", 0, "tls"},
      {"smtpSecurity", "ssl", 2, ""},
      {"smtpAuth", "xoauth2", 0, "xoauth2"},
      {"smtpAuth", "cram-md5", 2, ""},
      {"popSecurity", "stls", 0, "stls"},
      {"popSecurity", "starttls", 2, ""},
      {"allowInsecureAuth", "1", 0, "1"},
      {"allowInsecureAuth", "2", 2, ""},
      {"smtpUser", " 山田@example.jp ", 0, "山田@example.jp"},
      {"smtpUser", "a\r\nb", 2, ""},
      {"smtpPasswordCommand", "pass show\nmail", 2, ""},
      {"heloName", std::string("a\0b", 3), 2, ""},
      {"tlsTrustedFingerprint", "", 0, ""},
      {"tlsTrustedFingerprint", kFingerprint, 0, kFingerprint},
      {"tlsTrustedFingerprint", kColonFingerprint, 0, kColonFingerprint},
      {"tlsTrustedFingerprint", kFingerprint.substr(1), 2, ""},
      {"tlsTrustedFingerprint", kFingerprint.substr(1) + "g", 2, ""},
      {"tlsTrustedFingerprint", kColonFingerprint.substr(0, 94) + ":", 2, ""},
      {"tlsTrustedFingerprint", ":" + kColonFingerprint.substr(1), 2, ""},
      {"tlsTrustedFingerprint", kFingerprint + "00", 2, ""},
      {"copyToSelf", "1", 0, "1"},
      {"copyToSelf", "true", 2, ""},
      {"replyTo", "", 0, ""},
      {"replyTo", "info@example.jp", 0, "info@example.jp"},
      {"replyTo", "\"Suzuki, Taro\" <suzuki@example.jp>", 0,
       "\"Suzuki, Taro\" <suzuki@example.jp>"},
      {"replyTo", "<info@example.jp>", 0, "<info@example.jp>"},
      {"replyTo", "窓口 <info@example.jp", 2, ""},
      {"replyTo", "窓口 <info@example.jp> x", 2, ""},
      {"replyTo", "窓口 <>", 2, ""},
      {"replyTo", "a <b> <info@example.jp>", 2, ""},
      {"replyTo", "info@example.jp>", 2, ""},
      {"replyTo", "info@@example.jp", 2, ""},
      {"replyTo", "info@", 2, ""},
      {"replyTo", "@example.jp", 2, ""},
      {"replyTo", "info.example.jp", 2, ""},
      {"replyTo", "窓口@example.jp", 2, ""},
      {"replyTo", "a@example.jp,b@example.jp", 2, ""},
      {"replyTo", "a\tb <info@example.jp>", 2, ""},
      {"cc", "総務 <soumu@example.jp>", 0, "総務 <soumu@example.jp>"},
      {"cc", "soumu@example.jp\r\nBcc: x@example.jp", 2, ""},
      {"cc", "soumu@example.jp\x1b", 2, ""},
      {"listUnsubscribe", "mailto:stop@example.jp?subject=stop", 0,
       "mailto:stop@example.jp?subject=stop"},
      {"listUnsubscribe", "HTTPS://example.jp/u/((regist))/((mailaddr))", 0,
       "HTTPS://example.jp/u/((regist))/((mailaddr))"},
      // A word of the user's own, in Japanese: the run checks it again.
      {"listUnsubscribe", "https://example.jp/u?n=((登録番号))", 0,
       "https://example.jp/u?n=((登録番号))"},
      {"listUnsubscribe", "https://例え.jp/stop", 2, ""},
      {"listUnsubscribe", "https://example.jp/a b", 2, ""},
      {"listUnsubscribe", "https://example.jp/>,<https://evil.example", 2, ""},
      {"listUnsubscribe", "https://example.jp/((<x>))", 2, ""},
      {"listUnsubscribe", "https://example.jp/\x7f", 2, ""},
      {"listUnsubscribe", "javascript:alert(1)", 2, ""},
      {"listUnsubscribe", "https:", 2, ""},
      {"listUnsubscribe", "example.jp/stop", 2, ""},
      {"smtpPassword", "secret", 1, ""},
      {"smtpColour", "blue", 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    TempDir dir;
    VelkaroIni ini(dir.File("Velkaro.ini"));
    ASSERT_EQ(ini.Set("smtpUser", "before"), 0);
    const std::string untouched = std::string(c.key) == "smtpUser" ? "before" : ini.Get(c.key);
    EXPECT_EQ(ini.Set(c.key, c.value), c.result);
    EXPECT_EQ(ini.Get(c.key), c.result == 0 ? c.stored : untouched);
    ASSERT_EQ(ini.Save(), 0);
    VelkaroIni reread(ini.Path());
    ASSERT_EQ(reread.Load(), 0);
    EXPECT_EQ(reread.Get(c.key), ini.Get(c.key)) << "as saved";
    EXPECT_EQ(reread.StoredPassword(), "");
  }
}

// The address settings are read into the name the header shows and the
// address the envelope and the header carry.
TEST(VelkaroIni, AnAddressSettingIsReadIntoItsNameAndAddress) {
  const struct {
    std::string text;
    MailboxFault fault;
    std::string name;
    std::string address;
  } cases[] = {
      {"info@example.jp", MailboxFault::None, "", "info@example.jp"},
      {"窓口 <info@example.jp>", MailboxFault::None, "窓口", "info@example.jp"},
      {"\"Suzuki, Taro\"   < info@example.jp >", MailboxFault::None, "Suzuki, Taro",
       "info@example.jp"},
      {"<info@example.jp>", MailboxFault::None, "", "info@example.jp"},
      {"\"\" <info@example.jp>", MailboxFault::None, "", "info@example.jp"},
      {"\"", MailboxFault::AddressCharacters, "", ""},
      {"窓口 info@example.jp>", MailboxFault::Form, "", ""},
      {"窓口 <info@example.jp> 様", MailboxFault::Form, "", ""},
      {"窓口 <  >", MailboxFault::Form, "", ""},
      {"a<b <info@example.jp>", MailboxFault::Form, "", ""},
      {"窓口\x1b(B <info@example.jp>", MailboxFault::NameCharacters, "", ""},
      {"窓口 <info(x)@example.jp>", MailboxFault::AddressCharacters, "", ""},
      {"窓口 <info;x@example.jp>", MailboxFault::AddressCharacters, "", ""},
      {"窓口 <\"a b\"@example.jp>", MailboxFault::AddressCharacters, "", ""},
      {"info@example.jp\xe3\x80\x80", MailboxFault::AddressCharacters, "", ""},
      {"info@example.jp@example.jp", MailboxFault::AddressShape, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Mailbox box;
    EXPECT_EQ(ParseMailbox(c.text, box), c.fault);
    if (c.fault != MailboxFault::None && c.name.empty() && c.address.empty()) continue;
    EXPECT_EQ(box.name, c.name);
    EXPECT_EQ(box.address, c.address);
  }
}

// Lines of a newer build, comments and the user's layout survive a save;
// only the line of the key that was set changes.
TEST(VelkaroIni, ASaveKeepsEveryOtherLineByteForByte) {
  const std::string head =
      "; Velkaro settings\r\n"
      "[smtp]\r\n"
      "# the relay\r\n"
      "smtpSecurity = none   \r\n"
      "smtpFuture=42\r\n"
      "\r\n";
  const std::string tail =
      "[run]\r\n"
      "colour=blue\r\n"
      "[pop]\r\n"
      "popSecurity=tls";
  const struct {
    const char* name;
    std::function<void(VelkaroIni&)> change;
    std::string expected;
  } cases[] = {
      {"nothing", [](VelkaroIni&) {}, head + tail},
      {"known key", [](VelkaroIni& ini) { ASSERT_EQ(ini.Set("smtpSecurity", "starttls"), 0); },
       "; Velkaro settings\r\n[smtp]\r\n# the relay\r\nsmtpSecurity=starttls\r\n"
       "smtpFuture=42\r\n\r\n" +
           tail},
      {"new key in its section", [](VelkaroIni& ini) { ASSERT_EQ(ini.Set("smtpUser", "taro"), 0); },
       "; Velkaro settings\r\n[smtp]\r\n# the relay\r\nsmtpSecurity = none   \r\n"
       "smtpFuture=42\r\nsmtpUser=taro\r\n\r\n" +
           tail},
      {"the unended last line",
       [](VelkaroIni& ini) { ASSERT_EQ(ini.Set("popSecurity", "stls"), 0); },
       head + "[run]\r\ncolour=blue\r\n[pop]\r\npopSecurity=stls"},
      {"password kept and removed",
       [](VelkaroIni& ini) {
         ASSERT_TRUE(ini.SetStoredPassword("x"));
         ASSERT_TRUE(ini.SetStoredPassword(""));
       },
       head + tail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    VelkaroIni ini = LoadText(dir, head + tail);
    c.change(ini);
    ASSERT_EQ(ini.Save(), 0);
    EXPECT_EQ(ReadBytes(ini.Path()), c.expected);
  }
  // A line added after an unended last line must not run on from it.
  TempDir dir;
  VelkaroIni ini = LoadText(dir, "[smtp]\nsmtpUser=a");
  ASSERT_EQ(ini.Set("smtpAuth", "plain"), 0);
  ASSERT_EQ(ini.Save(), 0);
  EXPECT_EQ(ReadBytes(ini.Path()), "[smtp]\nsmtpUser=a\nsmtpAuth=plain\n");
}

TEST(VelkaroIni, ANewFileHasItsSectionsInTableOrderAndOnlyItsOwnerReadsIt) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  ASSERT_EQ(ini.Load(), 0);
  ASSERT_EQ(ini.Set("popSecurity", "tls"), 0);
  ASSERT_EQ(ini.Set("smtpAuth", "plain"), 0);
  ASSERT_EQ(ini.Save(), 0);
  EXPECT_EQ(ReadBytes(ini.Path()), "[smtp]\nsmtpAuth=plain\n\n[pop]\npopSecurity=tls\n");
  EXPECT_EQ(ModeOf(ini.Path()), 0600u);

  // An existing file that others could read is no longer so once it may
  // hold a password.
  ::chmod(ini.Path().c_str(), 0644);
  ASSERT_TRUE(ini.SetStoredPassword("pw"));
  ASSERT_EQ(ini.Save(), 0);
  EXPECT_EQ(ModeOf(ini.Path()), 0600u);
}

TEST(VelkaroIni, TheStoredPasswordIsKeptAsTypedAndNeverAsLines) {
  const struct {
    std::string password;
    bool kept;
  } cases[] = {
      {" blanks around ", true}, {"a=b;#[smtp]", true}, {"パスワード", true},
      {"two\nlines", false},     {"cr\rinside", false}, {std::string("nul\0x", 5), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Hex(c.password));
    TempDir dir;
    VelkaroIni ini = LoadText(dir, "[smtp]\nsmtpPassword=old\n");
    EXPECT_EQ(ini.SetStoredPassword(c.password), c.kept);
    ASSERT_EQ(ini.Save(), 0);
    VelkaroIni reread(ini.Path());
    ASSERT_EQ(reread.Load(), 0);
    EXPECT_EQ(reread.StoredPassword(), c.kept ? c.password : "old");
    EXPECT_EQ(reread.Get("smtpSecurity"), "none") << "no line was injected";
  }
}

TEST(VelkaroIni, AFailedSaveLeavesTheOldFile) {
  using testing::FaultyFolder;
  std::string notRun;
  testing::CaseCount cases;
  for (const testing::WriteFault fault : testing::kWriteFaults) {
    SCOPED_TRACE(testing::Describe(fault));
    FaultyFolder folder(fault, 100);
    if (!folder.Usable()) {
      notRun += std::string(" ") + testing::Describe(fault);
      continue;
    }
    cases.Add(testing::Describe(fault));
    const std::string old = "[smtp]\nsmtpSecurity=tls\n";
    WriteBytes(folder.File("Velkaro.ini"), old);
    VelkaroIni ini(folder.File("Velkaro.ini"));
    ASSERT_EQ(ini.Load(), 0);
    ASSERT_EQ(ini.Set("smtpPasswordCommand", std::string(300, 'x')), 0);
    ASSERT_TRUE(folder.Arm());
    const std::vector<std::string> names = testing::FolderNames(folder.path());
    const int result = ini.Save();
    folder.Disarm();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadBytes(folder.File("Velkaro.ini")), old);
    EXPECT_EQ(testing::FolderNames(folder.path()), names) << "a temporary file was left behind";
  }
  if (!notRun.empty()) GTEST_SKIP() << "cannot mount a file system here; not run:" << notRun;
}

// What could not be read is not replaced by the little this object knows.
TEST(VelkaroIni, AFileThatCannotBeReadIsNotOverwritten) {
  TempDir dir;
  const std::string path = dir.File("Velkaro.ini");
  std::filesystem::create_directory(path);
  WriteBytes(path + "/inside", "kept");
  VelkaroIni ini(path);
  EXPECT_EQ(ini.Load(), 1);
  ASSERT_EQ(ini.Set("smtpSecurity", "tls"), 0);
  EXPECT_EQ(ini.Save(), 1);
  EXPECT_EQ(ReadBytes(path + "/inside"), "kept");
}

class SettingsIniTest : public testing::PlatformTest {};

TEST_F(SettingsIniTest, TheIniLivesBesideTheSettingsFileAndSavesWithoutAPause) {
  TempDir dir;
  platform.SetProgramFolder(dir.path());
  Settings settings;
  EXPECT_EQ(settings.ini.Path(), dir.File("Velkaro.ini"));
  ASSERT_EQ(settings.LoadIni(), 0);
  ASSERT_EQ(settings.ini.Set("smtpSecurity", "starttls"), 0);
  const long long before = platform.VirtualMs();
  ASSERT_EQ(settings.SaveIni(), 0);
  EXPECT_EQ(platform.VirtualMs(), before);
  EXPECT_FALSE(std::filesystem::exists(settings.SettingsFilePath())) << "the record is not saved";

  Settings again;
  ASSERT_EQ(again.LoadIni(), 0);
  EXPECT_EQ(again.ini.Get("smtpSecurity"), "starttls");
}

}  // namespace
}  // namespace velkaro
