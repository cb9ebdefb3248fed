// Where the program keeps its settings, address book, logs and copies.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/posix_services.h"

namespace velkaro {
namespace {

// Sets environment variables for one test and restores them afterwards.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("velkaro-pf-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_ / "bin");
  }
  void TearDown() override { std::filesystem::remove_all(root_); }
  std::filesystem::path root_;
  EnvGuard env_;
};

TEST_F(ProgramFolderTest, VelkaroHomeWinsAndIsCreated) {
  const std::string home = (root_ / "home" / "velkaro").string();
  env_.Set("VELKARO_HOME", (home + "/").c_str());
  EXPECT_EQ(posix::ProgramFolder((root_ / "bin" / "velkaro").string()), home);
  EXPECT_TRUE(std::filesystem::is_directory(home));
}

TEST_F(ProgramFolderTest, AWritableExecutableFolderIsUsed) {
  env_.Set("VELKARO_HOME", nullptr);
  EXPECT_EQ(posix::ProgramFolder((root_ / "bin" / "velkaro").string()),
            (root_ / "bin").string());
}

TEST_F(ProgramFolderTest, OtherwiseTheUsersDataFolder) {
  env_.Set("VELKARO_HOME", nullptr);
  env_.Set("XDG_DATA_HOME", (root_ / "data").c_str());
  // A folder that does not exist cannot be written to.
  EXPECT_EQ(posix::ProgramFolder((root_ / "missing" / "velkaro").string()),
            (root_ / "data" / "velkaro").string());
  EXPECT_TRUE(std::filesystem::is_directory(root_ / "data" / "velkaro"));
  env_.Set("XDG_DATA_HOME", nullptr);
  env_.Set("HOME", (root_ / "user").c_str());
  EXPECT_EQ(posix::ProgramFolder((root_ / "missing" / "velkaro").string()),
            (root_ / "user" / ".local" / "share" / "velkaro").string());
}

TEST(ExecutablePath, IsThisTestProgram) {
  const std::string path = posix::ExecutablePath();
  EXPECT_NE(path.find("platform_tests"), std::string::npos) << path;
}

}  // namespace
}  // namespace velkaro
