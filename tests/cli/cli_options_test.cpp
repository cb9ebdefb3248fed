// The command line of velkaro-send.
#include "cli/cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velkaro::cli {
namespace {

using Args = std::vector<std::string>;

struct AcceptedCase {
  const char* name;
  Args args;
  CliOptions want;
};

CliOptions Want(void (*fill)(CliOptions&)) {
  CliOptions o;
  fill(o);
  return o;
}

void ExpectSame(const CliOptions& got, const CliOptions& want) {
  EXPECT_EQ(got.textFile, want.textFile);
  EXPECT_EQ(got.to, want.to);
  EXPECT_EQ(got.attach, want.attach);
  EXPECT_EQ(got.sets, want.sets);
  EXPECT_EQ(got.titleIn, want.titleIn);
  EXPECT_EQ(got.dryRun, want.dryRun);
  EXPECT_EQ(got.check, want.check);
  EXPECT_EQ(got.showSettings, want.showSettings);
  EXPECT_EQ(got.sound, want.sound);
  EXPECT_EQ(got.help, want.help);
  EXPECT_EQ(got.version, want.version);
  EXPECT_EQ(got.programWords, want.programWords);
  EXPECT_EQ(got.resume, want.resume);
  EXPECT_EQ(got.force, want.force);
  EXPECT_EQ(got.includeInDoubt, want.includeInDoubt);
  EXPECT_EQ(got.testTo, want.testTo);
  EXPECT_EQ(got.testAs, want.testAs);
}

const AcceptedCase kAccepted[] = {
    {"resume_with_its_options",
     {"--include-in-doubt", "--resume=Log/journal-20261206-093015.txt", "--force", "--sound"},
     Want([](CliOptions& o) {
       o.resume = "Log/journal-20261206-093015.txt";
       o.force = true;
       o.includeInDoubt = true;
       o.sound = true;
     })},
    {"setup_files_and_the_programs_own_words",
     {"--to", "x", "job.vlk2", "/text=/home/u/案内.txt", "/sendinf=<clip>", "/send=on", "--",
      "--odd.vlk2"},
     Want([](CliOptions& o) {
       o.to = {"x"};
       o.programWords = {"job.vlk2", "/text=/home/u/案内.txt", "/sendinf=<clip>", "/send=on",
                         "--odd.vlk2"};
     })},
    {"values_after_a_space_or_an_equals_sign",
     {"--text", "body.txt", "--to=山田", "--to", "Taro <taro@example.jp>", "--attach=a.pdf",
      "--attach", "b b.png"},
     Want([](CliOptions& o) {
       o.textFile = "body.txt";
       o.to = {"山田", "Taro <taro@example.jp>"};
       o.attach = {"a.pdf", "b b.png"};
     })},
    {"flags",
     {"--to", "x", "--title-in", "--dry-run", "--sound", "--show-settings"},
     Want([](CliOptions& o) {
       o.to = {"x"};
       o.titleIn = o.dryRun = o.sound = o.showSettings = true;
     })},
    {"check_with_the_send_inputs",
     {"--check", "--to", "x", "--text", "body.txt", "--attach", "a.pdf", "job.vlk2"},
     Want([](CliOptions& o) {
       o.check = true;
       o.to = {"x"};
       o.textFile = "body.txt";
       o.attach = {"a.pdf"};
       o.programWords = {"job.vlk2"};
     })},
    {"check_alone_still_looks_at_the_run", {"--check"}, Want([](CliOptions& o) {
       o.check = true;
     })},
    {"test_send_of_the_first_recipient",
     {"--test-to", "me@example.jp", "--text", "body.txt", "job.vlk2"},
     Want([](CliOptions& o) {
       o.testTo = "me@example.jp";
       o.textFile = "body.txt";
       o.programWords = {"job.vlk2"};
     })},
    {"test_send_as_a_later_recipient",
     {"--as=12", "--to", "x", "--test-to=me@example.jp", "--attach", "請求書/((regist)).pdf"},
     Want([](CliOptions& o) {
       o.testTo = "me@example.jp";
       o.testAs = 12;
       o.to = {"x"};
       o.attach = {"請求書/((regist)).pdf"};
     })},
    {"test_send_alone_still_asks_for_a_run",
     {"--test-to", "me@example.jp"},
     Want([](CliOptions& o) { o.testTo = "me@example.jp"; })},
    {"set_splits_at_the_first_equals_sign",
     {"--set", "senderName=a=b", "--set=speed=7", "--set", "popPassword="},
     Want([](CliOptions& o) {
       o.sets = {{"senderName", "a=b"}, {"speed", "7"}, {"popPassword", ""}};
     })},
    {"a_value_may_look_like_an_option", {"--to", "--dry-run"}, Want([](CliOptions& o) {
       o.to = {"--dry-run"};
     })},
    {"help_ends_the_parsing", {"--help", "--bogus", "extra"}, Want([](CliOptions& o) {
       o.help = true;
     })},
    {"short_help", {"-h"}, Want([](CliOptions& o) { o.help = true; })},
    {"version_after_other_options",
     {"--to", "x", "--version", "positional"},
     Want([](CliOptions& o) {
       o.to = {"x"};
       o.version = true;
     })},
    {"double_dash_alone_at_the_end", {"--show-settings", "--"}, Want([](CliOptions& o) {
       o.showSettings = true;
     })},
};

class AcceptedTest : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedTest, Parses) {
  const ParseResult r = ParseCommandLine(GetParam().args);
  ASSERT_TRUE(r.ok()) << r.error;
  ExpectSame(r.options, GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Cli, AcceptedTest, ::testing::ValuesIn(kAccepted),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedCase {
  const char* name;
  Args args;
  const char* errorPart;  // what the message must say
};

const RefusedCase kRefused[] = {
    {"no_arguments", {}, "nothing to do"},
    {"only_sound", {"--sound"}, "nothing to do"},
    {"unknown_long_option", {"--to", "x", "--bogus"}, "unrecognized option '--bogus'"},
    {"unknown_long_option_with_value", {"--colour=red"}, "unrecognized option '--colour'"},
    {"unknown_short_option", {"-x"}, "invalid option '-x'"},
    {"missing_value", {"--to"}, "option '--to' requires an argument"},
    {"value_for_a_flag", {"--dry-run=yes"}, "option '--dry-run' doesn't allow an argument"},
    {"stdin_dash", {"-"}, "'-' is no setup file"},
    {"unknown_slash_word", {"/SEND=ON"}, "unrecognized option '/SEND=ON'"},
    {"set_without_equals", {"--set", "speed"}, "--set needs FIELD=VALUE"},
    {"set_without_field", {"--set", "=5"}, "--set needs FIELD=VALUE"},
    {"text_twice", {"--text", "a", "--text", "b"}, "only once"},
    {"empty_text", {"--text="}, "--text needs a file name"},
    {"empty_attach", {"--attach", ""}, "--attach needs a file name"},
    {"resume_with_a_body", {"--resume", "j.txt", "--text", "a.txt"}, "--resume sends what"},
    {"resume_dry_run", {"--resume", "j.txt", "--dry-run"}, "--resume sends what"},
    {"resume_twice", {"--resume", "a", "--resume", "b"}, "--resume can be given only once"},
    {"force_alone", {"--force", "--to", "x"}, "--force goes with --resume"},
    {"in_doubt_alone", {"--include-in-doubt", "--to", "x"}, "--include-in-doubt goes with"},
    {"check_with_a_dry_run", {"--check", "--to", "x", "--dry-run"}, "--check or --dry-run"},
    {"check_with_an_import", {"--check", "--import-addresses", "a.csv"}, "cannot be combined"},
    {"check_with_eml", {"--check", "--to", "x", "--eml", "out"}, "--eml goes with the --dry-run"},
    {"check_takes_no_value", {"--check=yes"}, "option '--check' doesn't allow an argument"},
    {"as_without_test_to", {"--to", "x", "--as", "2"}, "--as goes with --test-to"},
    {"as_zero", {"--test-to", "me@example.jp", "--as", "0"}, "--as needs a recipient number"},
    {"as_negative", {"--test-to", "me@example.jp", "--as=-1"}, "--as needs a recipient number"},
    {"as_not_whole", {"--test-to", "me@example.jp", "--as", "1.5"}, "got '1.5'"},
    {"as_with_a_sign", {"--test-to", "me@example.jp", "--as", "+2"}, "got '+2'"},
    {"as_empty", {"--test-to", "me@example.jp", "--as="}, "--as needs a recipient number"},
    {"as_too_large", {"--test-to", "me@example.jp", "--as", "99999999999"}, "got '99999999999'"},
    {"as_twice", {"--test-to", "a@b.jp", "--as", "1", "--as", "2"}, "--as can be given only once"},
    {"test_to_twice", {"--test-to", "a@b.jp", "--test-to", "c@d.jp"}, "only once"},
    {"test_to_no_address", {"--test-to", "me", "--to", "x"}, "needs a mail address"},
    {"test_to_empty", {"--test-to=", "--to", "x"}, "needs a mail address"},
    {"test_to_a_name_and_address", {"--test-to", "Me <me@example.jp>"}, "needs a mail address"},
    {"test_to_two_at_signs", {"--test-to", "a@b@c.jp"}, "needs a mail address"},
    {"test_to_a_line_break",
     {"--test-to", "me@example.jp\r\nRCPT TO:<x@y>"},
     "needs a mail address"},
    {"test_to_too_long",
     {"--test-to", std::string(250, 'a') + "@example.jp"},
     "needs a mail address"},
    {"test_to_with_a_dry_run",
     {"--test-to", "me@example.jp", "--to", "x", "--dry-run"},
     "--test-to sends one test mail"},
    {"test_to_with_eml",
     {"--test-to", "me@example.jp", "--dry-run", "--eml", "out"},
     "--test-to sends one test mail"},
    {"test_to_with_check",
     {"--test-to", "me@example.jp", "--to", "x", "--check"},
     "--test-to sends one test mail"},
    {"test_to_with_resume",
     {"--test-to", "me@example.jp", "--resume", "j.txt"},
     "--test-to sends one test mail"},
    {"test_to_with_an_import",
     {"--test-to", "me@example.jp", "--import-addresses", "a.csv"},
     "cannot be combined"},
    {"error_before_help_wins", {"--bogus", "--help"}, "unrecognized option '--bogus'"},
};

class RefusedTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedTest, SaysWhy) {
  const ParseResult r = ParseCommandLine(GetParam().args);
  ASSERT_FALSE(r.ok());
  EXPECT_NE(r.error.find(GetParam().errorPart), std::string::npos) << r.error;
}

INSTANTIATE_TEST_SUITE_P(Cli, RefusedTest, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CliTexts, HelpNamesEveryOptionAndTheExitStatuses) {
  const std::string usage = UsageText();
  for (const char* option :
       {"--text", "--to", "--attach", "--title-in", "--dry-run", "--check", "--show-settings",
        "--set", "--sound", "--help", "--version", "--test-to", "--as"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
  for (const char* status : {"  0 ", "  1 ", "  2 ", "  3 ", "  10 ", "  20 ", "  90 ", "100+n"}) {
    EXPECT_NE(usage.find(status), std::string::npos) << status;
  }
  EXPECT_EQ(VersionText("1.2.3.0"), "velkaro-send (Velkaro) 1.2.3.0\n");
  EXPECT_EQ(TryHelpText(), "Try 'velkaro-send --help' for more information.\n");
}

}  // namespace
}  // namespace velkaro::cli
