// What velkaro-send says after a run.
#include "cli/run_report.h"

#include <gtest/gtest.h>

#include "cli/cli_options.h"
#include "core/encoding.h"
#include "job/run_results.h"

namespace velkaro::cli {
namespace {

struct ReportCase {
  int result;
  int mailNumber;
  int total;
  const char* expected;
};

const ReportCase kReports[] = {
    {0, 1, 1, "all 1 mail was accepted"},
    {0, 3, 3, "all 3 mails were accepted"},
    {1, 0, 0, "nothing was sent: the send checks failed"},
    {10, 0, 2, "nothing was sent: the SMTP connection could not be opened"},
    {105, 1, 3,
     "mail 1 of 3 failed: POP before SMTP failed (POP3 server, user or password); no mail was "
     "sent before it"},
    {106, 2, 3,
     "mail 2 of 3 failed: the server refused the envelope (MAIL FROM, RCPT TO or DATA); 1 mail "
     "was sent before it"},
    // The data phase was under way: the connection was dropped before its end.
    {121, 3, 3,
     "mail 3 of 3 failed: an attachment could not be sent (the connection was dropped, so the "
     "server discards it); 2 mails were sent before it"},
    {30, 5, 5,
     "the run went through all 5 recipients, but not every mail was accepted (see the result "
     "list)"},
    {40, 2, 5, "stopped on request while the run waited for a limit or a retry"},
    {111, 1, 1,
     "mail 1 of 1 failed: the server did not accept the end of the mail; no mail was sent before "
     "it"},
};

TEST(RunReport, ExplainsEveryKindOfResult) {
  for (const ReportCase& c : kReports) {
    EXPECT_EQ(ResultExplanation(c.result, c.mailNumber, c.total), c.expected) << c.result;
  }
}

TEST(RunReport, TheLastTranscriptIsTheFailedMails) {
  const std::string details =
      Utf8ToSjis("★To A<a@example.jp>\r\n  ok\r\n★To B<b@example.jp>\r\n  失敗\r\n");
  EXPECT_EQ(LastTranscript(details), Utf8ToSjis("★To B<b@example.jp>\r\n  失敗\r\n"));
  EXPECT_EQ(LastTranscript(""), "");
}

}  // namespace
}  // namespace velkaro::cli

namespace velkaro::cli {
namespace {

// One table of result codes: the help lists each, and the report explains
// each in its own words.
TEST(RunReport, EveryResultCodeIsInTheHelpAndExplained) {
  const std::string help = UsageText();
  for (const RunResultMeaning& m : RunResultMeanings()) {
    const std::string code = m.code == run_result::kMailFailed ? "100+n" : std::to_string(m.code);
    EXPECT_NE(help.find("\n  " + code + " "), std::string::npos) << code;
    const int result = m.code == run_result::kMailFailed ? m.code + 6 : m.code;
    EXPECT_EQ(ResultExplanation(result, 1, 2).find("the run ended with result"), std::string::npos)
        << code;
  }
}

// The line after --test-to: a QUIT the server refused after the mail was
// taken is still a delivered test mail, every other code is not.
TEST(TestSendReport, SaysWhetherTheTestMailWentAndWhyNot) {
  const struct {
    int result;
    const char* tail;
  } cases[] = {
      {0, " sent to me@example.jp"},
      {20, " sent to me@example.jp, but the server did not accept QUIT"},
      {1, " not sent to me@example.jp: the send checks failed"},
      {10, " not sent to me@example.jp: the SMTP connection could not be opened"},
      {106,
       " not sent to me@example.jp: the server refused the envelope (MAIL FROM, RCPT TO or "
       "DATA)"},
      {110,
       " not sent to me@example.jp: the body could not be sent (the connection was dropped, "
       "so the server discards it)"},
      {90, " not sent to me@example.jp: it failed and the server did not accept QUIT either"},
      {-1, " not sent to me@example.jp: a run is still active"},
      {77, " not sent to me@example.jp: it ended with result 77"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TestSendReport(c.result, 2, "伊藤 花子 <ito@example.jp>", "me@example.jp"),
              std::string("test mail of recipient 2 (伊藤 花子 <ito@example.jp>)") + c.tail)
        << c.result;
  }
}

}  // namespace
}  // namespace velkaro::cli
