// Lines, records and paths of the tool library.
#include <gtest/gtest.h>

#include "core/zentool.h"

namespace velkaro {
namespace {

TEST(ZenCountLines, CountsCrLfPairsOnly) {
  const struct {
    const char* text;
    int count;
  } cases[] = {
      {"", 0},          {"a\r\nb\r\n", 2}, {"a\r\nb", 1},
      {"\r\n\r\n", 2},  {"a\nb\r", 0},     {"\r\r\n", 1},
      {"\x82\xA0\r\n", 1},  // あ then CR LF
  };
  Zentool z;
  for (const auto& c : cases) EXPECT_EQ(z.ZenCountLines(c.text), c.count) << c.text;
}

TEST(ZenGetLine, ReturnsLinesAndTheUnterminatedRest) {
  const struct {
    const char* text;
    int i;
    const char* line;
  } cases[] = {
      {"a\r\nb", 0, "a"},    {"a\r\nb", 1, "b"},      {"a\r\nb", 2, ""},
      {"a\r\nb\r\n", 2, ""}, {"a\r\nb", -1, ""},      {"\r\nx\r\n", 0, ""},
      {"\r\nx\r\n", 1, "x"}, {"a\nb\r\nc", 0, "a\nb"}, {"", 0, ""},
  };
  Zentool z;
  for (const auto& c : cases) {
    EXPECT_EQ(z.ZenGetLine(c.text, c.i), c.line) << c.text << " line " << c.i;
  }
}

TEST(ZenGetLineCrLf, AlwaysEndsInCrLf) {
  Zentool z;
  EXPECT_EQ(z.ZenGetLineCrLf("a\r\nb", 1), "b\r\n");
  EXPECT_EQ(z.ZenGetLineCrLf("a\r\nb", 2), "\r\n");
  EXPECT_EQ(z.ZenGetLineCrLf("a\r\n\r\n", 1), "\r\n");
}

TEST(ZenDeleteLine, RemovesOneLineWithItsLineEnd) {
  const struct {
    const char* text;
    int i;
    const char* rest;
  } cases[] = {
      {"a\r\nb\r\nc", 0, "b\r\nc"},  {"\r\nb\r\nc", 0, "b\r\nc"},
      {"\r\nb\r\nc", 1, "\r\nc"},    {"a\r\n\r\nc\r\n", 2, "a\r\n\r\n"},
      {"a\r\nb\r\nc", 2, "a\r\nb\r\n"}, {"a\r\nb\r\nc", 3, "a\r\nb\r\nc"},
      {"a\r\nb", -1, "a\r\nb"},      {"", 0, ""},
  };
  Zentool z;
  for (const auto& c : cases) {
    EXPECT_EQ(z.ZenDeleteLine(c.text, c.i), c.rest) << c.text << " line " << c.i;
  }
}

TEST(ZenGetTabItem, LastFieldNeedsItsLineEnd) {
  const struct {
    const char* record;
    int i;
    const char* field;
  } cases[] = {
      {"k\tr\tn\r\n", 0, "k"}, {"k\tr\tn\r\n", 1, "r"}, {"k\tr\tn\r\n", 2, "n"},
      {"k\tr\tn\r\n", 3, ""},  {"k\tr\tn", 2, ""},      {"k\tr\tn", 1, "r"},
      {"\t\tn\r\n", 0, ""},    {"\t\tn\r\n", 2, "n"},   {"k\tr\t\r\n", 2, ""},
      {"k\r\n", 0, "k"},       {"k", 0, ""},            {"k\tr\r\n", -1, ""},
      // A double-byte name whose trail byte is not a separator.
      {"\x8E\x52\x93\x63\t\x82\xE2\r\n", 0, "\x8E\x52\x93\x63"},
  };
  Zentool z;
  for (const auto& c : cases) {
    EXPECT_EQ(z.ZenGetTabItem(c.record, c.i), c.field) << c.record << " field " << c.i;
  }
}

TEST(ZenJoinPath, AddsOneSeparatorWhenNeeded) {
  const struct {
    const char* folder;
    const char* name;
    const char* path;
  } cases[] = {
      {"C:\\data\\", "a.txt", "C:\\data\\a.txt"},
      {"C:\\data", "a.txt", "C:\\data/a.txt"},
      {"/home/u/", "a.txt", "/home/u/a.txt"},
      {"/home/u", "a.txt", "/home/u/a.txt"},
      {"", "a.txt", "a.txt"},
      {"/", "a.txt", "/a.txt"},
      {"/home/請求書", "山田.txt", "/home/請求書/山田.txt"},
  };
  Zentool z;
  for (const auto& c : cases) EXPECT_EQ(z.ZenJoinPath(c.folder, c.name), c.path);
}

TEST(ZenSplitPath, SplitsWithEitherSeparatorAndADrive) {
  const struct {
    const char* path;
    const char* drive;
    const char* folder;
    const char* name;
    const char* ext;
    const char* driveFolder;
    const char* nameExt;
  } cases[] = {
      {"C:\\dir\\file.name.txt", "C:", "\\dir", "file.name", "txt", "C:\\dir", "file.name.txt"},
      {"/home/u/notice.txt", "", "/home/u", "notice", "txt", "/home/u", "notice.txt"},
      {"/home/u/notice", "", "/home/u", "notice", "", "/home/u", "notice"},
      {"/a.txt", "", "/", "a", "txt", "/", "a.txt"},
      {"a.txt", "", "", "a", "txt", "", "a.txt"},
      {"C:\\a.txt", "C:", "\\", "a", "txt", "C:\\", "a.txt"},
      {"/home/u/", "", "/home/u", "", "", "/home/u", ""},
      {"/home/u.d/readme", "", "/home/u.d", "readme", "", "/home/u.d", "readme"},
      {"dir\\sub/x.wav", "", "dir\\sub", "x", "wav", "dir\\sub", "x.wav"},
      {"/データ/請求書_山田.txt", "", "/データ", "請求書_山田", "txt", "/データ",
       "請求書_山田.txt"},
  };
  Zentool z;
  for (const auto& c : cases) {
    EXPECT_EQ(z.ZenSplitPath(PathPart::Drive, c.path), c.drive) << c.path;
    EXPECT_EQ(z.ZenSplitPath(PathPart::Folder, c.path), c.folder) << c.path;
    EXPECT_EQ(z.ZenSplitPath(PathPart::Name, c.path), c.name) << c.path;
    EXPECT_EQ(z.ZenSplitPath(PathPart::Extension, c.path), c.ext) << c.path;
    EXPECT_EQ(z.ZenSplitPath(PathPart::DriveFolder, c.path), c.driveFolder) << c.path;
    EXPECT_EQ(z.ZenSplitPath(PathPart::NameExtension, c.path), c.nameExt) << c.path;
  }
  EXPECT_EQ(z.ZenSplitPath(static_cast<PathPart>(7), "/a/b.c"), "");
}

TEST(ZenGetFolder, ReportsAnEmptyFolder) {
  Zentool z;
  std::string folder = "unchanged";
  EXPECT_EQ(z.ZenGetFolder("a.txt", folder), 1);
  EXPECT_EQ(folder, "unchanged");
  EXPECT_EQ(z.ZenGetFolder("/var/log/x.txt", folder), 0);
  EXPECT_EQ(folder, "/var/log");
}

}  // namespace
}  // namespace velkaro
