// The settings file: its byte layout, the older sizes it converts, and saves
// that never damage it. Expected images are built here at literal offsets,
// independently of the record's declaration.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>

#include "data/settings_file.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using velkaro::testing::FileSizeLimit;

using testing::ReadBytes;
using testing::WriteBytes;

const char* const kSounds[] = {"NormalEnd.wav", "ErrorEnd.wav", "OneMail.wav", "Develop.wav"};
const char* const kWords[] = {"((regist))",    "((name))",     "((kana))",  "((mailaddr))",
                              "((telephone))", "((realaddr))", "((data1))", "((data2))",
                              "((data3))",     "((data4))",    "((today))", "((time))",
                              "((year))",      "((month))",    "((day))",   "((week))"};

// A file image of a given size; values that would pass its end are left out,
// the way an older, shorter record simply does not have them.
class Image {
 public:
  explicit Image(std::size_t size) : bytes_(size, '\0') {}
  Image& Int(std::size_t at, std::int32_t value) {
    if (at + 4 > bytes_.size()) return *this;
    for (int i = 0; i < 4; ++i)
      bytes_[at + i] = static_cast<char>(static_cast<std::uint32_t>(value) >> (8 * i));
    return *this;
  }
  Image& Text(std::size_t at, const std::string& text) {
    if (at + text.size() <= bytes_.size()) bytes_.replace(at, text.size(), text);
    return *this;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

std::string DefaultImage() {
  Image image(3312);
  image.Int(0, 1).Int(396, 110).Int(528, 25).Text(788, "VelkaroAddress.txt").Int(860, 5);
  for (int i = 0; i < 4; ++i) image.Int(864 + 4 * i, 1).Text(880 + 32 * i, kSounds[i]);
  for (int i = 0; i < 16; ++i) image.Text(2800 + 32 * i, kWords[i]);
  return image.bytes();
}

// Distinctive values at the offsets of the older records, cut at `size`.
std::string OldImage(std::size_t size) {
  Image image(size);
  image.Int(0, 7).Int(4, 320).Int(8, -40);
  image.Text(12, "pop.example.jp").Text(140, "taro").Text(268, "secret").Int(396, 1110);
  image.Text(400, "smtp.example.jp").Int(528, 2525);
  image.Text(532, "\x8E\x52\x93\x63").Text(660, "taro@example.jp").Text(788, "Book.txt");
  for (int i = 0; i < 4; ++i) {
    image.Int(852 + 4 * i, i).Text(868 + 32 * i, "d" + std::to_string(i) + ".wav");
    image.Text(996 + 256 * i, "/snd/p" + std::to_string(i) + ".wav");
  }
  image.Int(2020, 1).Text(2024, "/old/body").Text(2280, "/old/attach").Int(2536, 77);
  for (int i = 0; i < 16; ++i) image.Text(2540 + 32 * i, "<<w" + std::to_string(i) + ">>");
  image.Int(3052, 1);
  return image.bytes();
}

std::string RecordBytes(const SettingsRecord& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// Where two images first differ, for readable failures.
std::string FirstDifference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  if (i == a.size() && i == b.size()) return "identical";
  return "first difference at offset " + std::to_string(i);
}

class SettingsTest : public testing::PlatformTest {
 protected:
  SettingsTest() { platform.SetProgramFolder(dir.path()); }
  std::string CfgPath() const { return dir.File("Velkaro.cfg"); }
  testing::TempDir dir;
};

TEST_F(SettingsTest, DefaultsAreSavedAsTheGoldenImage) {
  Settings settings;
  ASSERT_EQ(settings.SaveSettings(), 0);
  const std::string file = ReadBytes(CfgPath());
  ASSERT_EQ(file.size(), 3312u);
  EXPECT_EQ(file.substr(0, 4), std::string("\x01\x00\x00\x00", 4));
  EXPECT_TRUE(file == DefaultImage()) << FirstDifference(file, DefaultImage());
}

TEST_F(SettingsTest, TheFileLiesInTheProgramFolder) {
  const struct {
    std::string folder, file;
  } cases[] = {{"/srv/velkaro", "/srv/velkaro/Velkaro.cfg"}, {"/", "/Velkaro.cfg"}};
  for (const auto& c : cases) {
    platform.SetProgramFolder(c.folder);
    Settings settings;
    EXPECT_EQ(settings.GetProgramFolder(), c.folder);
    EXPECT_EQ(settings.SettingsFilePath(), c.file);
  }
}

TEST_F(SettingsTest, NoReadableFileLeavesTheRecordAsItWas) {
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
  } cases[] = {
      {"missing", [](const std::string&) {}},
      {"empty", [](const std::string& p) { WriteBytes(p, ""); }},
      {"a folder", [](const std::string& p) { std::filesystem::create_directory(p); }},
      // Opening a pipe for reading would block start-up for good.
      {"a pipe", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(CfgPath());
    c.make(CfgPath());
    Settings settings;
    settings.record.speed = 42;
    const std::string before = RecordBytes(settings.record);
    EXPECT_EQ(settings.LoadSettings(), 1);
    EXPECT_EQ(RecordBytes(settings.record), before);
  }
}

TEST_F(SettingsTest, UnknownSizesKeepDefaultsAndTheNextSaveRepairsTheFile) {
  for (const std::size_t size : {1u, 852u, 2019u, 2021u, 2535u, 3055u, 3311u, 3313u, 9000u}) {
    SCOPED_TRACE(size);
    WriteBytes(CfgPath(), std::string(size, 'Z'));
    Settings settings;
    EXPECT_EQ(settings.LoadSettings(), 11);
    EXPECT_EQ(RecordBytes(settings.record), RecordBytes(DefaultSettingsRecord()));
    ASSERT_EQ(settings.SaveSettings(), 0);
    EXPECT_TRUE(ReadBytes(CfgPath()) == DefaultImage());
  }
}

TEST_F(SettingsTest, OlderSizesAreConvertedFieldByField) {
  const struct {
    std::size_t size;
    bool folders;  // confirmExit, bodyFolder, attachFolder
    bool speed;
    int words;  // placeholder words taken from the file
    bool titleIn;
  } cases[] = {{2020, false, false, 0, false},
               {2536, true, false, 0, false},
               {2860, true, true, 10, false},
               {3052, true, true, 16, false},
               {3056, true, true, 16, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    WriteBytes(CfgPath(), OldImage(c.size));
    Settings settings;
    ASSERT_EQ(settings.LoadSettings(), 0);
    const SettingsRecord& r = settings.record;
    EXPECT_EQ(r.recordMark, 7);
    EXPECT_EQ(r.windowLeft, 320);
    EXPECT_EQ(r.windowTop, -40);
    EXPECT_EQ(FieldText(r.server.popServer), "pop.example.jp");
    EXPECT_EQ(FieldText(r.server.popUser), "taro");
    EXPECT_EQ(FieldText(r.server.popPassword), "secret");
    EXPECT_EQ(r.server.popPort, 1110);
    EXPECT_EQ(FieldText(r.server.smtpServer), "smtp.example.jp");
    EXPECT_EQ(r.server.smtpPort, 2525);
    EXPECT_EQ(FieldText(r.server.senderName), "\x8E\x52\x93\x63");
    EXPECT_EQ(FieldText(r.server.senderAddress), "taro@example.jp");
    EXPECT_EQ(FieldText(r.addressFileName), "Book.txt");
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(r.soundOn[i], i);
      EXPECT_EQ(FieldText(r.soundDefaultName[i]), "d" + std::to_string(i) + ".wav");
      EXPECT_EQ(FieldText(r.soundPath[i]), "/snd/p" + std::to_string(i) + ".wav");
    }
    EXPECT_EQ(r.confirmExit, c.folders ? 1 : 0);
    EXPECT_EQ(FieldText(r.bodyFolder), c.folders ? "/old/body" : "");
    EXPECT_EQ(FieldText(r.attachFolder), c.folders ? "/old/attach" : "");
    EXPECT_EQ(r.speed, c.speed ? 77 : 5);
    EXPECT_EQ(r.titleIn, c.titleIn ? 1 : 0);
    EXPECT_EQ(FieldText(r.setupFolder), "");
    for (int i = 0; i < 16; ++i) {
      EXPECT_EQ(FieldText(r.PlaceholderWords[i]),
                i < c.words ? "<<w" + std::to_string(i) + ">>" : kWords[i])
          << "word " << i;
    }
    // The converted record reaches the disk in the current size.
    ASSERT_EQ(settings.SaveSettings(), 0);
    EXPECT_EQ(ReadBytes(CfgPath()).size(), 3312u);
  }
}

// Text slots from a hand-made file: without a NUL they are cut at slot size
// - 1 bytes, never inside a double-byte character; after a NUL nothing
// counts.
TEST_F(SettingsTest, TextsFromTheFileAreAlwaysTerminated) {
  const struct {
    std::size_t fileSize, fileOffset, recordOffset, slot;
  } slots[] = {
      {3312, 12, 12, 128},      // popServer
      {3312, 788, 788, 64},     // addressFileName
      {3312, 976, 976, 32},     // soundDefaultName[3]
      {3312, 2544, 2544, 256},  // setupFolder
      {3312, 3280, 3280, 32},   // PlaceholderWords[15]
      {2020, 1764, 1776, 256},  // soundPath[3]
      {2860, 2828, 3088, 32},   // PlaceholderWords[9]
      {3056, 2024, 2032, 256},  // bodyFolder
  };
  for (const auto& s : slots) {
    const struct {
      std::string stored, expected;
    } texts[] = {
        {std::string(s.slot, 'A'), std::string(s.slot - 1, 'A')},
        {std::string(s.slot - 2, 'A') + "\x82\xA0", std::string(s.slot - 2, 'A')},
        {"abc" + std::string(1, '\0') + std::string(s.slot - 4, 'Z'), "abc"},
    };
    for (const auto& t : texts) {
      SCOPED_TRACE(::testing::Message() << "size " << s.fileSize << " offset " << s.fileOffset
                                        << " text " << t.expected.size());
      WriteBytes(CfgPath(), Image(s.fileSize).Text(s.fileOffset, t.stored).bytes());
      Settings settings;
      ASSERT_EQ(settings.LoadSettings(), 0);
      EXPECT_EQ(RecordBytes(settings.record).substr(s.recordOffset, s.slot),
                t.expected + std::string(s.slot - t.expected.size(), '\0'));
    }
  }
}

TEST_F(SettingsTest, SavedRecordsLoadBackUnchanged) {
  Settings saved;
  SettingsRecord& r = saved.record;
  r.recordMark = 9;
  r.windowLeft = -1200;
  r.windowTop = 64;
  SetFieldText(r.server.popServer, "pop.example.jp");
  SetFieldText(r.server.popPassword, "p\x82\xA0ss");
  r.server.popPort = 995;
  r.server.smtpPort = 587;
  SetFieldText(r.server.senderAddress, "a@example.jp");
  r.confirmExit = 1;
  r.titleIn = 1;
  r.speed = 100;
  r.soundOn[2] = 0;
  SetFieldText(r.soundPath[1], "/home/u/err.wav");
  SetFieldText(r.setupFolder, "/home/u/setup");
  SetFieldText(r.PlaceholderWords[15], "((youbi))");
  ASSERT_EQ(saved.SaveSettings(), 0);
  EXPECT_EQ(r.recordMark, 1);
  EXPECT_EQ(ReadBytes(CfgPath()).substr(0, 4), std::string("\x01\x00\x00\x00", 4));

  Settings loaded;
  ASSERT_EQ(loaded.LoadSettings(), 0);
  EXPECT_EQ(RecordBytes(loaded.record), RecordBytes(saved.record));
  EXPECT_EQ(FieldText(ServerBlock(loaded.record).popPassword), "p\x82\xA0ss");
}

// The file holds the POP3 password: owner only, also when an older file
// was readable by others.
TEST_F(SettingsTest, TheFileIsReadableByItsOwnerOnly) {
  for (const bool existed : {false, true}) {
    SCOPED_TRACE(existed);
    std::filesystem::remove(CfgPath());
    if (existed) {
      WriteBytes(CfgPath(), DefaultImage());
      ::chmod(CfgPath().c_str(), 0644);
    }
    Settings settings;
    ASSERT_EQ(settings.SaveSettings(), 0);
    struct stat st {};
    ASSERT_EQ(::stat(CfgPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary file may stay behind";
  }
}

TEST_F(SettingsTest, EachSavePausesTwoSeconds) {
  Settings settings;
  const long long start = platform.VirtualMs();
  ASSERT_EQ(settings.SaveSettings(), 0);
  ASSERT_EQ(settings.SaveSettings(), 0);
  EXPECT_EQ(platform.VirtualMs() - start, 4000);
}

TEST_F(SettingsTest, AFailedSaveChangesNeitherTheFileNorTheRecord) {
  const struct {
    const char* name;
    std::string folder;
    rlim_t sizeLimit;  // 0: none
  } cases[] = {{"write fails half-way", "", 100}, {"folder missing", "/gone", 0}};
  std::string old = DefaultImage();
  old.replace(860, 4, std::string("\x21\x00\x00\x00", 4));  // speed 33
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(CfgPath(), old);
    platform.SetProgramFolder(dir.path() + c.folder);
    Settings settings;
    settings.record.speed = 99;
    settings.record.recordMark = 5;
    const std::string before = RecordBytes(settings.record);
    const long long start = platform.VirtualMs();
    if (c.sizeLimit != 0) {
      FileSizeLimit limit(c.sizeLimit);
      EXPECT_EQ(settings.SaveSettings(), 1);
    } else {
      EXPECT_EQ(settings.SaveSettings(), 1);
    }
    EXPECT_TRUE(ReadBytes(CfgPath()) == old);
    EXPECT_EQ(RecordBytes(settings.record), before);
    EXPECT_EQ(platform.VirtualMs(), start) << "nothing was written, so nothing to wait for";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  }
}

}  // namespace
}  // namespace velkaro
