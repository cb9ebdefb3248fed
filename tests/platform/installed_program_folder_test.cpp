// Where an installed program and a program run from its build folder keep
// their settings, address book and logs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix_services.h"

namespace velkaro {
namespace {

struct FolderCase {
  const char* what;
  const char* executable;
  posix::FolderEnvironment env;
  bool writable;
  const char* expected;
};

TEST(ChooseProgramFolder, ExecutablePathAndEnvironment) {
  const posix::FolderEnvironment none{};
  const posix::FolderEnvironment user{.home = "/home/taro"};
  const posix::FolderEnvironment xdg{.xdgDataHome = "/data/", .home = "/home/taro"};
  const posix::FolderEnvironment own{.velkaroHome = "/srv/velkaro/", .home = "/home/taro"};
  const FolderCase cases[] = {
      {"installed, writable as for root", "/usr/bin/velkaro", user, true,
       "/home/taro/.local/share/velkaro"},
      {"installed under /usr/local", "/usr/local/bin/velkaro-send", user, true,
       "/home/taro/.local/share/velkaro"},
      {"installed, XDG_DATA_HOME", "/usr/bin/velkaro", xdg, true, "/data/velkaro"},
      {"installed, VELKARO_HOME wins", "/usr/bin/velkaro", own, true, "/srv/velkaro"},
      {"installed, no HOME at all", "/usr/bin/velkaro", none, true, "/tmp/.local/share/velkaro"},
      {"installed, relative XDG_DATA_HOME ignored",
       "/usr/bin/velkaro",
       {.xdgDataHome = "data", .home = "/home/taro"},
       true,
       "/home/taro/.local/share/velkaro"},
      {"dot parts do not hide /usr", "/opt/../usr/bin/velkaro", user, true,
       "/home/taro/.local/share/velkaro"},
      {"build folder, writable", "/work/build/src/ui/velkaro", user, true, "/work/build/src/ui"},
      {"build folder, VELKARO_HOME wins", "/work/build/velkaro", own, true, "/srv/velkaro"},
      {"copied folder, read-only", "/opt/velkaro/velkaro", xdg, false, "/data/velkaro"},
      {"/usr lookalike is no installation", "/usrdata/velkaro", user, true, "/usrdata"},
      {"folder named usr elsewhere", "/home/taro/usr/bin/velkaro", user, true,
       "/home/taro/usr/bin"},
      {"unknown executable", "", user, true, "/home/taro/.local/share/velkaro"},
  };
  for (const FolderCase& c : cases) {
    EXPECT_EQ(posix::ChooseProgramFolder(c.executable, c.env, c.writable), c.expected) << c.what;
  }
}

// Sets environment variables for one test and restores them afterwards.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      it->second ? ::setenv(it->first.c_str(), it->second->c_str(), 1)
                 : ::unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// /usr/bin is writable for root, who runs the tests on CI: the installed
// program must still not use it, and the user's folder must be created.
TEST(ProgramFolderOfInstalledProgram, IsCreatedInTheUsersDataFolder) {
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("velkaro-installed-" + std::to_string(::getpid()));
  ScopedEnv env;
  env.Set("VELKARO_HOME", nullptr);
  env.Set("XDG_DATA_HOME", nullptr);
  env.Set("HOME", root.c_str());
  EXPECT_EQ(posix::ProgramFolder("/usr/bin/velkaro-send"),
            (root / ".local" / "share" / "velkaro").string());
  EXPECT_TRUE(std::filesystem::is_directory(root / ".local" / "share" / "velkaro"));
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace velkaro
