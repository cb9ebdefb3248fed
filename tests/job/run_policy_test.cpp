// How a run judges a failed mail, paces its mails and reads its [run]
// settings.
#include "job/run_policy.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace velkaro {
namespace {

struct ClassifyCase {
  const char* what;
  FailedMail mail;
  FailureKind kind;
};

FailedMail Failed(int code, int envelopeStep, char replyClass, bool open, int endOfData = -1) {
  FailedMail f;
  f.code = code;
  f.envelopeStep = envelopeStep;
  f.replyClass = replyClass;
  f.connectionOpen = open;
  f.endOfDataCode = endOfData;
  return f;
}

FailedMail Stopped(FailedMail f) {
  f.stopRequested = true;
  return f;
}

FailedMail BadSender(FailedMail f) {
  f.senderUnusable = true;
  return f;
}

const ClassifyCase kCases[] = {
    {"550 to RCPT", Failed(6, 2, '5', true), FailureKind::Recipient},
    {"450 to RCPT", Failed(6, 2, '4', true), FailureKind::Temporary},
    {"550 to MAIL: the sender, every mail", Failed(6, 1, '5', true), FailureKind::Run},
    {"421 to MAIL", Failed(6, 1, '4', true), FailureKind::Temporary},
    {"554 to DATA", Failed(6, 3, '5', true), FailureKind::Run},
    {"no reply to RCPT (connection dropped)", Failed(6, 2, 0, false), FailureKind::Temporary},
    {"over the server's SIZE", Failed(6, 0, '2', true), FailureKind::Run},
    {"550 after the data", Failed(11, 3, '5', true, 2), FailureKind::Recipient},
    {"451 after the data", Failed(11, 3, '4', true, 2), FailureKind::Temporary},
    {"no reply after the data", Failed(11, 3, 0, false, 3), FailureKind::InDoubt},
    {"end of data sent in part", Failed(11, 3, 0, false, 1), FailureKind::Temporary},
    {"body cut off", Failed(10, 3, '3', false), FailureKind::Temporary},
    {"attachment cut off", Failed(21, 3, '3', false), FailureKind::Temporary},
    {"attachment cut off by the stop button", Stopped(Failed(21, 3, '3', false)), FailureKind::Run},
    {"in doubt, but the stop button was pressed", Stopped(Failed(11, 3, 0, false, 3)),
     FailureKind::Run},
    {"recipient address unusable", Failed(3, 0, 0, true), FailureKind::Recipient},
    {"sender address unusable", BadSender(Failed(3, 0, 0, true)), FailureKind::Run},
    {"attachment missing", Failed(4, 0, 0, true), FailureKind::Run},
    {"POP before SMTP", Failed(5, 0, '-', true), FailureKind::Run},
    {"connection gone before the mail", Failed(1, 0, 0, false), FailureKind::Temporary},
};

TEST(RunPolicy, JudgesEachFailedMail) {
  for (const ClassifyCase& c : kCases) {
    EXPECT_EQ(ClassifyFailure(c.mail), c.kind) << c.what;
  }
}

TEST(RunPolicy, OnlyConnectionTroubleIsWorthAnotherOpening) {
  for (const int code : {2, 3, 4, 11}) EXPECT_TRUE(OpeningMayRecover(code)) << code;
  // TLS, certificates, login: another try meets the same refusal.
  for (const int code : {1, 5, 6, 12, 30, 35, 36, 40, 41, 42, 45, 100}) {
    EXPECT_FALSE(OpeningMayRecover(code)) << code;
  }
}

TEST(RunPolicy, RetryWaitsDoubleAndStopAtADay) {
  RunPolicy policy;
  policy.retryWaitSeconds = 30;
  EXPECT_EQ(RetryWaitSeconds(policy, 2), 30);
  EXPECT_EQ(RetryWaitSeconds(policy, 3), 60);
  EXPECT_EQ(RetryWaitSeconds(policy, 4), 120);
  policy.retryWaitSeconds = 3600;
  EXPECT_EQ(RetryWaitSeconds(policy, 11), 24 * 3600);
  policy.retryWaitSeconds = 0;
  EXPECT_EQ(RetryWaitSeconds(policy, 5), 0);
}

TEST(RunPolicy, LimiterWaitsUntilTheOldestStartLeavesTheWindow) {
  RunPolicy policy;
  policy.mailsPerMinute = 3;
  policy.mailsPerHour = 5;
  SendRateLimiter limiter(policy);
  EXPECT_EQ(limiter.WaitBefore(1000).seconds, 0);
  limiter.MailStarted(1000);
  limiter.MailStarted(1010);
  EXPECT_EQ(limiter.WaitBefore(1020).seconds, 0);
  limiter.MailStarted(1020);
  // Three in the last minute: the one of 1000 leaves it at 1060.
  LimitWait wait = limiter.WaitBefore(1030);
  EXPECT_EQ(wait.seconds, 30);
  EXPECT_EQ(wait.setting, "mailsPerMinute");
  EXPECT_EQ(wait.limit, 3);
  EXPECT_EQ(limiter.WaitBefore(1060).seconds, 0);
  limiter.MailStarted(1060);
  limiter.MailStarted(1070);
  // Five in the hour: the first leaves it at 4600, later than any minute.
  wait = limiter.WaitBefore(1200);
  EXPECT_EQ(wait.seconds, 3400);
  EXPECT_EQ(wait.setting, "mailsPerHour");
  EXPECT_EQ(limiter.WaitBefore(4600).seconds, 0);
}

TEST(RunPolicy, NoLimitNeverWaits) {
  SendRateLimiter limiter{RunPolicy{}};
  for (int i = 0; i < 1000; ++i) limiter.MailStarted(5000);
  EXPECT_EQ(limiter.WaitBefore(5000).seconds, 0);
}

TEST(RunPolicy, ReadsTheRunSectionWithItsDefaults) {
  testing::TempDir dir;
  VelkaroIni ini(dir.File("Velkaro.ini"));
  RunPolicy policy = RunPolicyOf(ini);
  EXPECT_FALSE(policy.continueOnFailure);
  EXPECT_EQ(policy.retries, 2);
  EXPECT_EQ(policy.retryWaitSeconds, 30);
  EXPECT_EQ(policy.mailsPerMinute + policy.mailsPerHour + policy.mailsPerConnection, 0);

  testing::WriteBytes(dir.File("Velkaro.ini"),
                      "[run]\nonRecipientFailure=CONTINUE\nretries=007\nretryWaitSeconds=-5\n"
                      "mailsPerMinute=50\nmailsPerHour=1e3\nmailsPerConnection=10\n");
  ASSERT_EQ(ini.Load(), 0);
  policy = RunPolicyOf(ini);
  EXPECT_TRUE(policy.continueOnFailure);
  EXPECT_EQ(policy.retries, 7);
  EXPECT_EQ(policy.retryWaitSeconds, 30) << "a value the field does not take reads as default";
  EXPECT_EQ(policy.mailsPerMinute, 50);
  EXPECT_EQ(policy.mailsPerHour, 0);
  EXPECT_EQ(policy.mailsPerConnection, 10);
}

}  // namespace
}  // namespace velkaro
