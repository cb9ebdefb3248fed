// The host's secrets: a password command's first line, and a real Secret
// Service (gnome-keyring on a private D-Bus session) reached through
// secret-tool, the way the program reaches the user's keyring.
#include "platform/secret_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::TempDir;

// Sets (or, with nothing, removes) an environment variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Gone, or a zombie nobody reaped yet: in either case no longer running.
bool Running(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t close = line.rfind(')');
  return close == std::string::npos || line.substr(close + 2, 1) != "Z";
}

class PasswordCommandTest : public testing::PlatformTest {
 protected:
  PasswordCommandTest() { platform.SetRealSleep(true); }
};

TEST_F(PasswordCommandTest, TheFirstLineOfASuccessfulCommandIsThePassword) {
  const struct {
    const char* command;
    std::optional<std::string> expected;
  } cases[] = {
      {"printf 'first\\nsecond\\n'", "first"},
      {"printf 'windows\\r\\n'", "windows"},
      {"printf 'no line end'", "no line end"},
      {"printf ' blanks kept \\n'", " blanks kept "},
      {"printf 'パス\\n'", "パス"},
      {"printf 'mine\\n'; exit 3", std::nullopt},
      {"true", std::nullopt},
      {"printf '\\nsecond\\n'", std::nullopt},
      // Its input is empty, not ours: a command that reads must not hang.
      {"cat", std::nullopt},
      {"read line; echo \"[$line]\"", "[]"},
      {"/nonexistent/velkaro-helper", std::nullopt},
      // A helper it leaves running (an agent) does not hold the answer back.
      {"sleep 3 & printf 'early\\n'", "early"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(posix::RunPasswordCommand(platform, c.command, 10000), c.expected);
  }
}

TEST_F(PasswordCommandTest, ACommandThatTakesTooLongIsKilledWithWhatItStarted) {
  TempDir dir;
  const std::string pids = dir.File("pids");
  const std::string command =
      "echo $$ > '" + pids + "'; sleep 60 & echo $! >> '" + pids + "'; echo partial; wait";
  const long long pumpsBefore = platform.PumpCount();
  EXPECT_EQ(posix::RunPasswordCommand(platform, command, 300), std::nullopt);
  EXPECT_GT(platform.PumpCount(), pumpsBefore) << "the wait pumps the platform";
  std::ifstream in(pids);
  std::string pid;
  int seen = 0;
  while (in >> pid) {
    ++seen;
    // The kill is sent before the call returns; the kernel may take a
    // moment to finish the grandchild.
    for (int i = 0; i < 200 && Running(pid); ++i) platform.Sleep(5);
    EXPECT_FALSE(Running(pid)) << "process " << pid << " still runs";
  }
  EXPECT_EQ(seen, 2);
}

TEST_F(PasswordCommandTest, WithoutASessionBusOrSecretToolNoStoreIsReachable) {
  TempDir empty;
  const struct {
    const char* name;
    std::optional<std::string> bus;
    std::optional<std::string> path;
  } cases[] = {
      {"no D-Bus session", std::nullopt, std::getenv("PATH")},
      {"empty D-Bus address", "", std::getenv("PATH")},
      {"no secret-tool", "unix:path=/nonexistent/bus", empty.path()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", c.bus);
    ScopedEnv path("PATH", c.path);
    EXPECT_EQ(posix::StoreSecret(platform, "smtp:a@b", "pw"), 1);
    EXPECT_EQ(posix::LookupSecret(platform, "smtp:a@b"), std::nullopt);
  }
}

// Runs inside the session the next test starts; not on its own.
TEST_F(PasswordCommandTest, DISABLED_SecretServiceRoundTrip) {
  const std::string account = "smtp:taro@mail.example.jp";
  EXPECT_EQ(posix::LookupSecret(platform, account), std::nullopt) << "nothing stored yet";
  const std::string secret = " pässword with = and ; ";
  ASSERT_EQ(posix::StoreSecret(platform, account, secret), 0);
  EXPECT_EQ(posix::LookupSecret(platform, account), secret);
  ASSERT_EQ(posix::StoreSecret(platform, account, "second"), 0);
  EXPECT_EQ(posix::LookupSecret(platform, account), "second") << "a store replaces";
  EXPECT_EQ(posix::LookupSecret(platform, "smtp:hanako@mail.example.jp"), std::nullopt);
}

TEST(SecretServiceTest, ASecretStoredIsFoundAgainInARealKeyring) {
  for (const char* program : {"dbus-run-session", "gnome-keyring-daemon", "secret-tool"}) {
    if (!testing::HaveProgram(program)) {
      GTEST_SKIP() << program << " is missing (scripts/install-deps.sh installs it)";
    }
  }
  // A home of its own: the keyring the daemon creates and unlocks with the
  // test's password is thrown away with it, the user's is never touched.
  TempDir home;
  for (const char* folder : {"data", "config", "cache", "run"}) {
    std::filesystem::create_directory(home.File(folder));
    ::chmod(home.File(folder).c_str(), 0700);
  }
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command =
      "cd '" + home.path() + "' && env HOME='" + home.path() + "' XDG_DATA_HOME='" +
      home.File("data") + "' XDG_CONFIG_HOME='" + home.File("config") + "' XDG_CACHE_HOME='" +
      home.File("cache") + "' XDG_RUNTIME_DIR='" + home.File("run") +
      "' dbus-run-session -- sh -c "
      "'printf pw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && "
      "exec \"$0\" --gtest_also_run_disabled_tests "
      "--gtest_filter=PasswordCommandTest.DISABLED_SecretServiceRoundTrip' '" +
      self + "' 2>&1";
  bool ok = false;
  const std::string output = testing::RunCommand(command, "", &ok);
  if (output.find("[ RUN      ]") == std::string::npos) {
    GTEST_SKIP() << "no D-Bus session could be started here:\n" << output;
  }
  EXPECT_TRUE(ok) << output;
  EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}

}  // namespace
}  // namespace velkaro
