// Parsing the program's command-line words.
#include "data/command_line.h"

#include <gtest/gtest.h>

#include "core/encoding.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

TEST(CommandLine, ReadsEachArgumentOnItsOwn) {
  testing::TempDir dir;
  testing::WriteBytes(dir.File("a=b.txt"), "x");
  const struct {
    std::vector<std::string> args;
    std::optional<std::string> sendinf, text, to;
    bool quitOn, quitOff, sendOn, sendOff;
    std::vector<std::string> files;
  } cases[] = {
      {{}, {}, {}, {}, false, false, false, false, {}},
      {{"/quit=on", "/quit=off"}, {}, {}, {}, true, true, false, false, {}},
      {{"/send=off", "/send=on"}, {}, {}, {}, false, false, true, true, {}},
      {{"/sendinf=", "/send=on"}, "", {}, {}, false, false, true, false, {}},
      {{"/sendinf=\"/home/u/job 1.vlk2\""},
       "/home/u/job 1.vlk2",
       {},
       {},
       false,
       false,
       false,
       false,
       {}},
      {{"/text=/home/yamada/案内.txt", "/text=/second.txt"},
       {},
       "/home/yamada/案内.txt",
       {},
       false,
       false,
       false,
       false,
       {}},
      {{"/to=山田 太郎 <yamada@example.jp>"},
       {},
       {},
       Utf8ToSjis("山田 太郎 <yamada@example.jp>"),
       false,
       false,
       false,
       false,
       {}},
      {{"/to=\"山田\"", "/to=鈴木"}, {}, {}, Utf8ToSjis("山田"), false, false, false, false, {}},
      {{"/SEND=ON", "-style", "--unknown"}, {}, {}, {}, false, false, false, false, {}},
      {{"notice.txt", "/home/u/body.txt", dir.File("a=b.txt")},
       {},
       {},
       {},
       false,
       false,
       false,
       false,
       {"notice.txt", "/home/u/body.txt", dir.File("a=b.txt")}},
  };
  for (const auto& c : cases) {
    const CommandLine line = ParseCommandLine(c.args);
    const std::string label = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(line.sendinf, c.sendinf) << label;
    EXPECT_EQ(line.text, c.text) << label;
    EXPECT_EQ(line.to, c.to) << label;
    EXPECT_EQ(line.quitOn, c.quitOn) << label;
    EXPECT_EQ(line.quitOff, c.quitOff) << label;
    EXPECT_EQ(line.sendOn, c.sendOn) << label;
    EXPECT_EQ(line.sendOff, c.sendOff) << label;
    EXPECT_EQ(line.files, c.files) << label;
    EXPECT_EQ(line.Empty(), c.args.empty() || label == "/SEND=ON") << label;
  }
}

TEST(CommandLine, HelpAndVersion) {
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"--version"}).version);
  EXPECT_FALSE(ParseCommandLine({"--help"}).version);
}

}  // namespace
}  // namespace velkaro
