// The manual pages and the --help texts they are made from.
#include "cli/man_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/cli_options.h"

namespace velkaro::cli {
namespace {

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(RoffEscape, MakesPlainTextSafe) {
  struct Case {
    const char* in;
    const char* want;
  };
  const Case cases[] = {
      {"--dry-run", "\\-\\-dry\\-run"},
      {"C:\\path", "C:\\epath"},
      {".SH not a request", "\\&.SH not a request"},
      {"'quoted first", "\\&'quoted first"},
      {"mid. line", "mid. line"},
      {"山田", "\\[u5C71]\\[u7530]"},
      {"〓", "\\[u3013]"},
      {"a\tb", "a b"},
      {"bell\a gone", "bell gone"},
      {"\xE5\xB1", "\\[uFFFD]"},  // cut off in the middle of a character
      {"\xFF"
       "x",
       "\\[uFFFD]x"},
  };
  for (const Case& c : cases) EXPECT_EQ(RoffEscape(c.in), c.want) << c.in;
}

TEST(ManPage, IsAsciiWithoutLinesThatStartRequestsByAccident) {
  const std::string page = ManPageText("1.0.0.0");
  for (const unsigned char c : page) ASSERT_LT(c, 0x80) << "non-ASCII byte in the page";
  std::size_t start = 0;
  while (start < page.size()) {
    const std::size_t end = page.find('\n', start);
    const std::string line = page.substr(start, end - start);
    if (!line.empty() && (line[0] == '.' || line[0] == '\'')) {
      // Only the macros the page means to use.
      const std::string request = line.substr(0, line.find(' '));
      const std::vector<std::string> known = {".TH", ".nh", ".SH", ".PP", ".TP", ".B",
                                              ".BR", ".RS", ".RE", ".nf", ".fi"};
      EXPECT_NE(std::find(known.begin(), known.end(), request), known.end()) << line;
    }
    EXPECT_FALSE(line.empty()) << "an empty line is a blank line in roff";
    start = end == std::string::npos ? page.size() : end + 1;
  }
}

// --help, the parser and the manual page name the same options.
TEST(ManPage, OptionsAgreeWithHelpAndParser) {
  std::vector<std::string> parser = OptionNames();
  std::sort(parser.begin(), parser.end());
  parser.erase(std::unique(parser.begin(), parser.end()), parser.end());
  const std::vector<std::string> help = HelpOptionNames(UsageText());
  const std::vector<std::string> man = ManOptionNames(ManPageText("1.0.0.0"));
  EXPECT_EQ(help, parser);
  EXPECT_EQ(man, help);
  EXPECT_EQ(std::count(help.begin(), help.end(), "--man-page"), 0) << "it stays hidden";
}

TEST(ManPage, HiddenOptionParsesButIsNotInTheHelp) {
  const ParseResult parsed = ParseCommandLine({"--man-page"});
  ASSERT_TRUE(parsed.ok()) << parsed.error;
  EXPECT_TRUE(parsed.options.manPage);
  EXPECT_FALSE(Contains(UsageText(), "man-page"));
}

TEST(ManPage, ListsEveryExitStatusOfTheHelp) {
  const std::string page = ManPageText("1.0.0.0");
  const std::string help = UsageText();
  for (const auto& [code, meaning] : ExitStatusRows()) {
    EXPECT_TRUE(Contains(page, ".TP\n\\fI" + RoffEscape(code) + "\\fR\n")) << code;
    EXPECT_TRUE(Contains(help, "  " + code + " ")) << code;
  }
}

// How the parts of a help text come out.
TEST(ManPage, HelpLayoutBecomesSections) {
  ManPageSource source;
  source.name = "tool";
  source.summary = "does things";
  source.version = "2.0";
  source.help =
      "Usage: tool [OPTION]... FILE\n"
      "First paragraph\n"
      "goes on here.\n"
      "\n"
      "  -a, --all            every\n"
      "                         one of them\n"
      "      --long-name-option\n"
      "                       text on the next line\n"
      "  /word=VALUE          a word\n"
      "\n"
      "After the options.\n"
      "\n"
      "Fields of tool.ini:\n"
      "  name=VALUE   kept as laid out\n"
      ".starts with a dot\n"
      "\n"
      "Exit status:\n"
      "  0      fine\n"
      "Example:\n"
      "  tool --all\n";
  source.exitStatus = {{"0", "fine"}, {"9", "not fine"}};
  const std::string page = ManPage(source);
  struct Case {
    const char* what;
    const char* part;
    bool present;
  };
  const Case cases[] = {
      {"title", ".TH TOOL 1 \"\" \"Velkaro 2.0\" \"User Commands\"\n", true},
      {"name line", ".SH NAME\ntool \\- does things\n", true},
      {"synopsis", ".B tool\n[OPTION]... FILE\n", true},
      {"description joined", ".SH DESCRIPTION\n.PP\nFirst paragraph goes on here.\n", true},
      {"short and long", ".TP\n\\fB\\-a\\fR, \\fB\\-\\-all\\fR\nevery one of them\n", true},
      {"term on a line of its own",
       ".TP\n\\fB\\-\\-long\\-name\\-option\\fR\ntext on the next line\n", true},
      {"word with value", ".TP\n\\fB/word=\\fR\\fIVALUE\\fR\na word\n", true},
      {"paragraph after the options", ".PP\nAfter the options.\n", true},
      {"block as its own section", ".SH FIELDS OF TOOL.INI\n.PP\n.nf\nname=VALUE   kept", true},
      {"dot line defused", "\\&.starts with a dot", true},
      {"exit status from the table", ".SH EXIT STATUS\n.TP\n\\fI0\\fR\nfine\n.TP\n\\fI9\\fR\n",
       true},
      {"help's exit status block left out", "      fine", false},
      {"help's example left out", "tool \\-\\-all\n", false},
      {"environment", ".SH ENVIRONMENT\n", true},
      {"files", ".SH FILES\n", true},
      {"see also", ".SH SEE ALSO\n.BR velkaro (1),\n.BR velkaro\\-send (1)\n", true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Contains(page, c.part), c.present) << c.what << "\n" << page;
  EXPECT_EQ(HelpOptionNames(source.help),
            (std::vector<std::string>{"--all", "--long-name-option", "-a", "/word="}));
  EXPECT_EQ(ManOptionNames(page), HelpOptionNames(source.help));
}

}  // namespace
}  // namespace velkaro::cli
