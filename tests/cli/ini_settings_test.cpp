// velkaro-send's face of "Velkaro.ini": --show-settings and --set of its
// fields, and --store-password, which must never let the password out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "cli/cli_options.h"
#include "cli/ini_fields.h"
#include "cli/store_password.h"
#include "core/encoding.h"
#include "platform/headless_platform.h"
#include "support/test_support.h"

namespace velkaro::cli {
namespace {

using testing::ReadBytes;
using testing::TempDir;

TEST(IniSettings, ShownByTheirNamesInTableOrderWithoutThePassword) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  ASSERT_EQ(ini.Set("smtpSecurity", "starttls"), 0);
  ASSERT_EQ(ini.Set("smtpUser", "山田"), 0);
  ASSERT_TRUE(ini.SetStoredPassword("hunter2"));
  EXPECT_EQ(FormatIniSettings(ini),
            "smtpSecurity=starttls\nsmtpAuth=none\nsmtpUser=山田\nsmtpPasswordCommand=\n"
            "heloName=\ntlsTrustedFingerprint=\nallowInsecureAuth=0\npopSecurity=none\n"
            "charset=auto\ncopyToSelf=0\nreplyTo=\ncc=\nlistUnsubscribe=\n"
            "onRecipientFailure=stop\nretries=2\nretryWaitSeconds=30\n"
            "mailsPerMinute=0\nmailsPerHour=0\nmailsPerConnection=0\n");
}

TEST(IniSettings, SetRefusesWhatTheFieldDoesNotTakeAndSaysWhatItTakes) {
  const struct {
    const char* name;
    const char* value;
    std::string mustSay;  // empty: accepted
  } cases[] = {
      {"smtpSecurity", "starttls", ""},
      {"smtpSecurity", "ssl", "must be one of none, starttls, tls, not 'ssl'"},
      {"smtpAuth", "cram", "none, auto, plain, login, xoauth2"},
      {"popSecurity", "starttls", "none, stls, tls"},
      {"allowInsecureAuth", "yes", "0, 1"},
      {"tlsTrustedFingerprint", "12:34", "SHA-256 fingerprint"},
      {"smtpPasswordCommand", "pass show mail/smtp", ""},
      {"smtpPassword", "hunter2", "--store-password"},
      {"onRecipientFailure", "Continue", ""},
      {"onRecipientFailure", "skip", "stop, continue"},
      {"retries", "0", ""},
      {"retries", "11", "whole number from 0 to 10, not '11'"},
      {"retries", "-1", "whole number from 0 to 10"},
      {"retryWaitSeconds", "1e3", "whole number from 0 to 3600"},
      {"mailsPerMinute", "50", ""},
      {"mailsPerHour", " ", "whole number"},
      {"mailsPerConnection", "99999999999", "whole number from 0 to 100000"},
      {"copyToSelf", "1", ""},
      {"copyToSelf", "yes", "must be one of 0, 1, not 'yes'"},
      {"replyTo", "窓口 <info@example.jp>", ""},
      {"replyTo", "info@example.jp", ""},
      {"replyTo", "窓口 info@example.jp", "an address or \"name <address>\""},
      {"cc", "soumu@example.jp", ""},
      {"cc", "a@example.jp, b@example.jp", "cc must be empty, an address or \"name <address>\""},
      {"cc", "soumu@example.jp\nBcc: x@example.jp", "must not contain line ends"},
      {"listUnsubscribe", "https://example.jp/stop?id=((regist))", ""},
      {"listUnsubscribe", "mailto:stop@example.jp", ""},
      {"listUnsubscribe", "http://example.jp/stop", "a mailto: or https: link"},
      {"listUnsubscribe", "https://example.jp/a b", "without blanks"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    EXPECT_TRUE(IsIniField(c.name));
    TempDir dir;
    VelkaroIni ini(dir.File("Velkaro.ini"));
    const std::string before = FormatIniSettings(ini);
    const std::string problem = SetIniField(ini, c.name, c.value);
    if (c.mustSay.empty()) {
      EXPECT_EQ(problem, "");
      EXPECT_NE(FormatIniSettings(ini), before);
      continue;
    }
    EXPECT_NE(problem.find(c.mustSay), std::string::npos) << problem;
    EXPECT_EQ(FormatIniSettings(ini), before);
    EXPECT_EQ(ini.StoredPassword(), "");
  }
  VelkaroIni ini;
  EXPECT_EQ(SetIniField(ini, "smtpPassword", "hunter2").find("hunter2"), std::string::npos)
      << "the refusal does not repeat the password";
  EXPECT_FALSE(IsIniField("popServer"));
}

TEST(IniSettings, ValuesReadAsTheirDefaultAreWarnedAbout) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  testing::WriteBytes(ini.Path(), "[smtp]\nsmtpSecurity=tsl\nsmtpAuth=login\n");
  ASSERT_EQ(ini.Load(), 0);
  const std::vector<std::string> warnings = IniValueWarnings(ini);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("smtpSecurity must be one of none, starttls, tls, not 'tsl'"),
            std::string::npos);
  EXPECT_NE(warnings[0].find("using 'none'"), std::string::npos);
}

// A refused value is shown without its control bytes: an escape sequence
// written into the file must not reach the terminal as one.
TEST(IniSettings, AWarningShowsNoControlByteOfTheValue) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  testing::WriteBytes(ini.Path(), "[smtp]\nsmtpSecurity=\x1b[2Jtls\x07\n");
  ASSERT_EQ(ini.Load(), 0);
  const std::vector<std::string> warnings = IniValueWarnings(ini);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("not '?[2Jtls?'"), std::string::npos) << warnings[0];
  EXPECT_EQ(warnings[0].find('\x1b'), std::string::npos);
}

// A hand-written value that would make a bad header is not used, and the
// user is told which and what is used instead.
TEST(IniSettings, UnusableMailSettingsAreWarnedAboutAndShownAsTheirDefault) {
  TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  testing::WriteBytes(ini.Path(),
                      "[mail]\ncopyToSelf=on\nreplyTo=窓口 <info@example.jp>\n"
                      "cc=soumu@example.jp>\nlistUnsubscribe=https://example.jp/<x>\n");
  ASSERT_EQ(ini.Load(), 0);
  const std::vector<std::string> warnings = IniValueWarnings(ini);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_NE(warnings[0].find("copyToSelf must be one of 0, 1, not 'on'; using '0'"),
            std::string::npos)
      << warnings[0];
  EXPECT_NE(warnings[1].find("cc must be empty, an address"), std::string::npos) << warnings[1];
  EXPECT_NE(warnings[1].find("not 'soumu@example.jp>'; using ''"), std::string::npos);
  EXPECT_NE(warnings[2].find("listUnsubscribe must be empty or a mailto: or https: link"),
            std::string::npos)
      << warnings[2];
  const std::string shown = FormatIniSettings(ini);
  EXPECT_NE(shown.find("copyToSelf=0\nreplyTo=窓口 <info@example.jp>\ncc=\nlistUnsubscribe=\n"),
            std::string::npos)
      << shown;
}

TEST(IniSettings, StorePasswordIsAnOptionOfItsOwnAndHelpNamesEveryField) {
  const ParseResult alone = ParseCommandLine({"--store-password"});
  ASSERT_TRUE(alone.ok()) << alone.error;
  EXPECT_TRUE(alone.options.storePassword);
  EXPECT_FALSE(alone.options.WantsRun());
  // The password never rides on the command line, not even this way.
  EXPECT_FALSE(ParseCommandLine({"--store-password=hunter2"}).ok());
  const std::string usage = UsageText();
  EXPECT_NE(usage.find("--store-password"), std::string::npos);
  for (const IniField& f : KnownIniFields()) {
    EXPECT_NE(usage.find(f.key + "="), std::string::npos) << f.key;
  }
}

class StorePasswordTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    platform.SetProgramFolder(dir.path());
    settings.ini.SetPath(dir.File("Velkaro.ini"));
    SetFieldText(settings.record.server.smtpServer, "mail.example.jp");
    SetFieldText(settings.record.server.popUser, "popuser");
  }
  TempDir dir;
  Settings settings;
};

TEST_F(StorePasswordTest, KeptInTheSecretStoreUnderTheSmtpUserElseThePopUser) {
  const struct {
    const char* smtpUser;
    const char* account;
  } cases[] = {
      {"", "smtp:popuser@mail.example.jp"},
      {"taro@example.jp", "smtp:taro@example.jp@mail.example.jp"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.account);
    platform.SetProgramFolder(dir.path());
    Settings s;
    s.record = settings.record;
    ASSERT_EQ(s.ini.Set("smtpUser", c.smtpUser), 0);
    ASSERT_TRUE(s.ini.SetStoredPassword("older copy"));
    const StorePasswordResult result = StoreSmtpPassword(s, "hunter2");
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(platform.StoredSecrets().at(c.account), "hunter2");
    EXPECT_EQ(result.message.find("hunter2"), std::string::npos);
    EXPECT_EQ(s.ini.StoredPassword(), "") << "no copy outlives the one in the store";
  }
}

TEST_F(StorePasswordTest, WithoutAStoreThePasswordGoesToTheIniForItsOwnerOnly) {
  platform.SetSecretStoreReachable(false);
  const StorePasswordResult result = StoreSmtpPassword(settings, "hunter2");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.message.find("unencrypted"), std::string::npos) << result.message;
  EXPECT_NE(result.message.find("owner only"), std::string::npos) << result.message;
  EXPECT_EQ(result.message.find("hunter2"), std::string::npos);
  VelkaroIni reread(settings.ini.Path());
  ASSERT_EQ(reread.Load(), 0);
  EXPECT_EQ(reread.StoredPassword(), "hunter2");
  struct stat st {};
  ASSERT_EQ(::stat(settings.ini.Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(StorePasswordTest, NothingIsKeptWithoutAnAccountOrAUsablePassword) {
  const struct {
    const char* name;
    const char* server;
    const char* popUser;
    std::string password;
  } cases[] = {
      {"no server", "", "popuser", "pw"},
      {"no user", "mail.example.jp", "", "pw"},
      {"empty password", "mail.example.jp", "popuser", ""},
      {"NUL in it", "mail.example.jp", "popuser", std::string("p\0w", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetFieldText(settings.record.server.smtpServer, c.server);
    SetFieldText(settings.record.server.popUser, c.popUser);
    EXPECT_EQ(StoreSmtpPassword(settings, c.password).exitStatus, 2);
  }
  EXPECT_TRUE(platform.StoredSecrets().empty());
  EXPECT_FALSE(std::filesystem::exists(settings.ini.Path()));
}

// The real host services with no D-Bus session, as on a server or in CI.
TEST(StorePasswordHeadless, NoSessionBusFallsBackToTheIni) {
  TempDir dir;
  ::setenv("VELKARO_HOME", dir.path().c_str(), 1);
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::optional<std::string> savedBus = bus ? std::optional<std::string>(bus) : std::nullopt;
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  HeadlessPlatform platform;
  ScopedPlatform installed(platform);
  Settings settings;
  SetFieldText(settings.record.server.smtpServer, "mail.example.jp");
  SetFieldText(settings.record.server.popUser, "popuser");
  const StorePasswordResult result = StoreSmtpPassword(settings, "hunter2");
  if (savedBus) ::setenv("DBUS_SESSION_BUS_ADDRESS", savedBus->c_str(), 1);
  ::unsetenv("VELKARO_HOME");
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(settings.ini.Path(), dir.File("Velkaro.ini"));
  EXPECT_NE(ReadBytes(dir.File("Velkaro.ini")).find("smtpPassword=hunter2"), std::string::npos);
}

TEST(ReadPasswordLine, TakesOneLineFromAPipeWithoutAPrompt) {
  const struct {
    std::string input;
    std::optional<std::string> expected;
  } cases[] = {
      {"hunter2\nnext line", "hunter2"},
      {"windows\r\n", "windows"},
      {"unended", "unended"},
      {"\n", ""},
      {"", std::nullopt},
      {std::string(5000, 'x') + "\n", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int prompt[2];
    ASSERT_EQ(::pipe2(prompt, O_NONBLOCK), 0);
    ASSERT_EQ(::write(fds[1], c.input.data(), c.input.size()),
              static_cast<ssize_t>(c.input.size()));
    ::close(fds[1]);
    EXPECT_EQ(ReadPasswordLine(fds[0], prompt[1]), c.expected);
    char byte = 0;
    EXPECT_EQ(::read(prompt[0], &byte, 1), -1) << "no prompt when the input is no terminal";
    for (const int fd : {fds[0], prompt[0], prompt[1]}) ::close(fd);
  }
}

// What the terminal shows while the user types: the prompt, never the
// password, and echo back on afterwards.
TEST(ReadPasswordLine, OnATerminalPromptsAndDoesNotEcho) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    GTEST_SKIP() << "no pseudo-terminal here";
  }
  const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  std::optional<std::string> line;
  std::thread reader([&] { line = ReadPasswordLine(terminal, terminal); });
  // Typed only once echo is off, as a user types after the prompt.
  termios now{};
  for (int i = 0; i < 500; ++i) {
    if (::tcgetattr(terminal, &now) == 0 && (now.c_lflag & ECHO) == 0) break;
    ::usleep(2000);
  }
  ASSERT_EQ(::write(master, "hunter2\n", 8), 8);
  reader.join();
  EXPECT_EQ(line, "hunter2");
  std::string shown;
  char buffer[256];
  pollfd p{master, POLLIN, 0};
  while (::poll(&p, 1, 100) > 0) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    shown.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_NE(shown.find(kPasswordPrompt), std::string::npos) << shown;
  EXPECT_EQ(shown.find("hunter2"), std::string::npos) << shown;
  termios after{};
  ASSERT_EQ(::tcgetattr(terminal, &after), 0);
  EXPECT_NE(after.c_lflag & ECHO, 0u) << "echo is on again";
  ::close(terminal);
  ::close(master);
}

}  // namespace
}  // namespace velkaro::cli
