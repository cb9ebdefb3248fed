// The settings file and the address book under file faults: a folder that
// cannot be written, a full disk, a write that stops half-way, and files
// that read shorter than their size said. The old file must always stay as
// it was, and the failure must come back as the documented result code.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "data/address_book.h"
#include "data/settings_file.h"
#include "support/file_faults.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::FaultyFolder;
using testing::FolderNames;
using testing::kWriteFaults;
using testing::ReadBytes;
using testing::WriteBytes;
using testing::WriteFault;

std::string RecordBytes(const SettingsRecord& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

std::string BookText(int entries) {
  std::string text = AddressBookHeaderLine();
  for (int i = 0; i < entries; ++i) {
    AddressEntry e;
    e.regist = "r" + std::to_string(i);
    e.name = "n" + std::to_string(i);
    e.mailaddr = "m" + std::to_string(i) + "@example.jp";
    text += FormatEntryLine(e);
  }
  return text;
}

class DataFileFaultTest : public testing::PlatformTest {};

// One save per file kind; each writes more than the half-way limit.
struct Save {
  const char* name;
  const char* file;
  std::function<int(const std::string& folder)> save;
};

TEST_F(DataFileFaultTest, AFailedSaveKeepsTheOldFileAndReportsIt) {
  const Save saves[] = {
      {"settings", "Velkaro.cfg",
       [this](const std::string& folder) {
         platform.SetProgramFolder(folder);
         Settings settings;
         settings.record.speed = 99;
         const std::string before = RecordBytes(settings.record);
         const int result = settings.SaveSettings();
         EXPECT_EQ(RecordBytes(settings.record), before) << "a failed save changes nothing";
         return result;
       }},
      {"address book", "VelkaroAddress.txt",
       [](const std::string& folder) {
         return SaveAddressBook(folder + "/VelkaroAddress.txt", BookText(200));
       }},
  };
  std::string notRun;
  testing::CaseCount cases;
  for (const WriteFault fault : kWriteFaults) {
    for (const Save& s : saves) {
      SCOPED_TRACE(std::string(testing::Describe(fault)) + ": " + s.name);
      FaultyFolder folder(fault);
      if (!folder.Usable()) {
        notRun += std::string(" ") + testing::Describe(fault) + "/" + s.name;
        continue;
      }
      cases.Add(testing::Describe(fault));
      const std::string old = std::string(3312, 'o');
      WriteBytes(folder.File(s.file), old);
      ASSERT_TRUE(folder.Arm());
      const std::vector<std::string> names = FolderNames(folder.path());
      const long long before = platform.VirtualMs();
      const int result = s.save(folder.path());
      folder.Disarm();
      EXPECT_EQ(result, 1);
      EXPECT_TRUE(ReadBytes(folder.File(s.file)) == old) << "the old file was changed";
      EXPECT_EQ(FolderNames(folder.path()), names) << "a temporary file was left behind";
      EXPECT_EQ(platform.VirtualMs(), before) << "no pause after a save that failed";
    }
  }
  if (!notRun.empty()) GTEST_SKIP() << "cannot mount a file system here; not run:" << notRun;
}

// Loading only reads: a read-only folder must not stand in its way.
TEST_F(DataFileFaultTest, FilesLoadFromAReadOnlyFolder) {
  FaultyFolder folder(WriteFault::ReadOnly);
  if (!folder.Usable()) GTEST_SKIP() << "cannot mount a file system here";
  testing::CaseCount cases;
  cases.Add("read-only folder");
  platform.SetProgramFolder(folder.path());
  Settings saved;
  saved.record.speed = 42;
  SetFieldText(saved.record.server.smtpServer, "smtp.example.jp");
  ASSERT_EQ(saved.SaveSettings(), 0);
  WriteBytes(folder.File("VelkaroAddress.txt"), BookText(3));
  ASSERT_TRUE(folder.Arm());

  Settings loaded;
  EXPECT_EQ(loaded.LoadSettings(), 0);
  EXPECT_EQ(RecordBytes(loaded.record), RecordBytes(saved.record));
  EXPECT_EQ(LoadAddressBook(folder.File("VelkaroAddress.txt")), BookText(3));
}

// A file that vanishes, or reads shorter than the size taken before the
// read, is an unreadable file: never a half-filled record or a book cut in
// the middle of an entry.
TEST_F(DataFileFaultTest, FilesThatVanishOrShrinkReadAsUnreadable) {
  const std::optional<std::string> shrinking = testing::ShrinkingFile();
  const struct {
    const char* name;
    std::optional<std::string> target;  // what the file is a link to
    int settingsResult;
  } cases[] = {
      {"vanished", "/nonexistent/velkaro/file", 1},
      // 4096 bytes by its size, a few when read: no accepted record size.
      {"shrunk", shrinking, 11},
  };
  testing::CaseCount count;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.target) GTEST_SKIP() << "no file here reads shorter than its size";
    count.Add("vanishing or shrinking file");
    testing::TempDir dir;
    platform.SetProgramFolder(dir.path());
    std::filesystem::create_symlink(*c.target, dir.File("Velkaro.cfg"));
    std::filesystem::create_symlink(*c.target, dir.File("VelkaroAddress.txt"));
    Settings settings;
    settings.record.speed = 42;
    const std::string before = RecordBytes(settings.record);
    EXPECT_EQ(settings.LoadSettings(), c.settingsResult);
    EXPECT_EQ(RecordBytes(settings.record), before);
    EXPECT_EQ(LoadAddressBook(dir.File("VelkaroAddress.txt")), "");
  }
}

}  // namespace
}  // namespace velkaro
