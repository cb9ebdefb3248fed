// The mail connection's small operations and its reply reader: whole
// replies from any segmentation, the kept length, and both time-outs.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "mail/mail_connection.h"
#include "support/reply_timeout.h"
#include "support/scripted_socket.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::ScriptedServer;

using testing::ReplyTimeout;

// --- small operations ---

struct ServerTextCase {
  int which;
  std::string expected;
};

TEST(MailConnectionFields, ServerTextsByNumber) {
  ServerSettings settings = DefaultServerSettings();
  SetFieldText(settings.popServer, "pop.example.jp");
  SetFieldText(settings.popUser, "taro");
  SetFieldText(settings.popPassword, "secret");
  SetFieldText(settings.smtpServer, "smtp.example.jp");
  // Sender name in Shift_JIS, filling its buffer: nothing of the next field
  // may be read with it.
  SetFieldText(settings.senderName, std::string(125, 'n') + "\x93\x63");
  SetFieldText(settings.senderAddress, "taro@example.jp");
  MailConnection mail;
  mail.SetServerSettings(settings);
  const ServerTextCase cases[] = {
      {1, "pop.example.jp"},
      {2, "taro"},
      {3, "secret"},
      {4, "smtp.example.jp"},
      {5, std::string(125, 'n') + "\x93\x63"},
      {6, "taro@example.jp"},
      {0, ""},
      {7, ""},
      {-1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(mail.GetServerText(c.which), c.expected) << "which " << c.which;
  }
}

TEST(MailConnectionFields, VersionPartsOutsideZeroToThreeAreMinusOne) {
  MailConnection mail;
  const int expected[] = {-1, 1, 0, 0, 4, -1};
  for (int i = -1; i <= 4; ++i) EXPECT_EQ(mail.GetVersionPart(i), expected[i + 1]) << i;
}

TEST(MailConnectionFields, SpeedIgnoresNegativeValues) {
  struct Case {
    std::vector<int> calls;
    int speed;
  };
  const Case cases[] = {
      {{}, 5}, {{0}, 0}, {{100}, 100}, {{-3}, 5}, {{20, -1}, 20}, {{20, 0}, 0},
  };
  for (const auto& c : cases) {
    MailConnection mail;
    for (int n : c.calls) mail.SetSpeed(n);
    EXPECT_EQ(mail.speed, c.speed) << ::testing::PrintToString(c.calls);
  }
}

// The stop request is a negated speed, and only a running transmission can
// honour it; a repeated request keeps it.
TEST(MailConnectionFields, StopRequestActsOnlyWhileDataIsSent) {
  struct Case {
    int sendingData;
    int requests;
    int speed;
  };
  const Case cases[] = {{0, 1, 7}, {1, 1, -7}, {1, 2, -7}, {2, 1, 7}};
  for (const auto& c : cases) {
    MailConnection mail;
    mail.SetSpeed(7);
    mail.progress.sendingData = c.sendingData;
    for (int i = 0; i < c.requests; ++i) mail.RequestStop();
    EXPECT_EQ(mail.speed, c.speed) << "sendingData " << c.sendingData << ", " << c.requests;
  }
}

class ProgressSoundTest : public velkaro::testing::PlatformTest {
 protected:
  velkaro::testing::TempDir dir;
};

TEST_F(ProgressSoundTest, AcceptsOnlyNonEmptyWaveAndMidiFiles) {
  struct Case {
    const char* name;  // created with content unless `empty`
    bool create;
    bool empty;
    int code;
  };
  const Case cases[] = {
      {"tick.wav", true, false, 0},     {"TICK.WAV", true, false, 0},
      {"tune.MiD", true, false, 0},     {"gone.wav", false, false, 1},
      {"empty.wav", true, true, 1},     {"noextension", true, false, 2},
      {"tick.mp3", true, false, 3},     {"tick.wave", true, false, 3},
      {"tick.wav.txt", true, false, 3}, {"tick.midi", true, false, 3},
  };
  for (const auto& c : cases) {
    const std::string path = dir.File(c.name);
    if (c.create) velkaro::testing::WriteBytes(path, c.empty ? "" : "RIFF");
    MailConnection mail;
    EXPECT_EQ(mail.SetProgressSound(path), c.code) << c.name;
    EXPECT_EQ(mail.progressSoundOn, c.code == 0 ? 1 : 0) << c.name;
    EXPECT_EQ(mail.progressSoundPath, c.code == 0 ? path : "") << c.name;
  }
}

TEST_F(ProgressSoundTest, RefusedFileKeepsTheEarlierSoundAndClearForgetsIt) {
  velkaro::testing::WriteBytes(dir.File("a.wav"), "RIFF");
  velkaro::testing::WriteBytes(dir.File("b.mp3"), "ID3");
  MailConnection mail;
  ASSERT_EQ(mail.SetProgressSound(dir.File("a.wav")), 0);
  EXPECT_EQ(mail.SetProgressSound(dir.File("b.mp3")), 3);
  EXPECT_EQ(mail.progressSoundOn, 1);
  EXPECT_EQ(mail.progressSoundPath, dir.File("a.wav"));
  mail.ClearProgressSound();
  EXPECT_EQ(mail.progressSoundOn, 0);
  EXPECT_EQ(mail.progressSoundPath, "");
}

// --- the connection's sockets ---

class MailConnectionTest : public velkaro::testing::PlatformTest {
 protected:
  MailConnectionTest() {
    platform.SetSocketFactory([this] { return server.NewSocket(); });
    timeout.connection = &mail;
  }
  // The reader run directly on a socket connected to the script.
  int Read(std::string& reply, ReplyKind kind, int patience = MailConnection::kPatience) {
    if (!socket) {
      socket = server.NewSocket();
      EXPECT_TRUE(socket->Connect("mail.example.jp", 25));
    }
    return mail.ReadReply(*socket, reply, patience, kind);
  }

  ScriptedServer server;
  ReplyTimeout timeout;
  MailConnection mail{&timeout};
  std::unique_ptr<StreamSocket> socket;
};

// The driver sends QUIT itself; destruction only hangs up.
TEST_F(MailConnectionTest, DestructionHangsUpWithoutAWord) {
  server.Send("220 ready\r\n").Expect("EHLO localhost\r\n").Send("250 ok\r\n");
  {
    MailConnection run(&timeout);
    timeout.connection = &run;
    ASSERT_EQ(run.SmtpOpen(), 0);
    EXPECT_FALSE(server.ClientClosed());
  }
  EXPECT_TRUE(server.ClientClosed());
  EXPECT_EQ(server.Received(), "EHLO localhost\r\n");
}

// --- ReadReply: whole replies ---

struct ReplyCase {
  const char* name;
  ReplyKind kind;
  std::vector<std::string> segments;  // each arrives in a receive of its own
  bool hangUp;                        // the server closes after the segments
  int result;
  std::string reply;
  long long elapsedMs;  // 20000: the reply time-out ended the wait
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadReplyRows : public MailConnectionTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReadReplyRows, HoldsTheWholeReply) {
  const ReplyCase& row = GetParam();
  for (const auto& segment : row.segments) server.Send(segment);
  if (row.hangUp) server.Close();
  // Whatever follows a complete reply belongs to the next one.
  const bool complete = !row.hangUp && row.elapsedMs == 0;
  if (complete) server.Send("NEXT\r\n");
  std::string reply;
  EXPECT_EQ(Read(reply, row.kind), row.result);
  EXPECT_EQ(reply, row.reply);
  EXPECT_EQ(platform.VirtualMs(), row.elapsedMs);
  EXPECT_EQ(mail.replyWaiting, 0);
  EXPECT_FALSE(platform.TimerRunning(&timeout, MailConnection::kReplyTimerId));
  if (complete) {
    EXPECT_EQ(Read(reply, row.kind), 6);
    EXPECT_EQ(reply, "NEXT\r\n");
  }
}

constexpr ReplyKind S = ReplyKind::Smtp;
constexpr ReplyKind P = ReplyKind::Pop3;
const std::string kMulti = "250-mail.example.jp\r\n250-PIPELINING\r\n250 8BITMIME\r\n";

INSTANTIATE_TEST_SUITE_P(
    Segmentations, ReadReplyRows,
    ::testing::Values(
        ReplyCase{"SmtpOneLine", S, {"250 ok\r\n"}, false, 8, "250 ok\r\n", 0},
        ReplyCase{"SmtpCodeAlone", S, {"250\r\n"}, false, 5, "250\r\n", 0},
        ReplyCase{"SmtpMultiLineAtOnce", S, {kMulti}, false, 51, kMulti, 0},
        ReplyCase{"SmtpMultiLineByLines",
                  S,
                  {"250-mail.example.jp\r\n", "250-PIPELINING\r\n", "250 8BITMIME\r\n"},
                  false,
                  51,
                  kMulti,
                  0},
        ReplyCase{"SmtpSplitInsideCrLf",
                  S,
                  {"250-a\r", "\n250", " b\r", "\n"},
                  false,
                  14,
                  "250-a\r\n250 b\r\n",
                  0},
        ReplyCase{
            "SmtpLastLineCodeAlone", S, {"250-a\r\n", "250\r\n"}, false, 12, "250-a\r\n250\r\n", 0},
        ReplyCase{"SmtpBareLineFeeds", S, {"250-a\n", "250 b\n"}, false, 12, "250-a\n250 b\n", 0},
        // Not a reply at all, but a complete line: the code test rejects it
        // at once rather than after the time-out.
        ReplyCase{"SmtpGarbageLine", S, {"hello\r\n"}, false, 7, "hello\r\n", 0},
        ReplyCase{"Pop3OneLine", P, {"+OK 2 320\r\n"}, false, 11, "+OK 2 320\r\n", 0},
        ReplyCase{"Pop3Split", P, {"+OK", " 2 3", "20\r\n"}, false, 11, "+OK 2 320\r\n", 0},
        // A hyphen after the status is no continuation in POP3.
        ReplyCase{"Pop3HyphenIsText", P, {"+OK-ready\r\n"}, false, 11, "+OK-ready\r\n", 0},
        ReplyCase{"Pop3Error", P, {"-ERR locked\r\n"}, false, 13, "-ERR locked\r\n", 0},
        ReplyCase{"OneByteThenSilence", S, {"2"}, false, 1, "2", 20000},
        ReplyCase{"TwoBytesThenHangUp", P, {"+O"}, true, 2, "+O", 0},
        ReplyCase{"HalfAReplyThenSilence", S, {"250-a\r\n"}, false, 7, "250-a\r\n", 20000},
        ReplyCase{"HalfAReplyThenHangUp", S, {"250-a\r\n", "250-b"}, true, 12, "250-a\r\n250-b", 0},
        ReplyCase{"HangUpBeforeAnything", S, {}, true, -1, "", 0},
        ReplyCase{"Silence", S, {}, false, 0, "", 20000}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(MailConnectionTest, NextReplyStartsWhereTheLastEnded) {
  server.Send("250-a\r\n").Send("250 b\r\n").Send("354 go\r\n");
  std::string reply;
  EXPECT_EQ(Read(reply, ReplyKind::Smtp), 14);
  EXPECT_EQ(Read(reply, ReplyKind::Smtp), 8);
  EXPECT_EQ(reply, "354 go\r\n");
}

TEST_F(MailConnectionTest, LongReplyIsDrainedAndKeptToCapacity) {
  std::string longReply;
  for (int i = 0; i < 30; ++i)
    longReply += "250-" + std::string(96, static_cast<char>('a' + i)) + "\r\n";
  longReply += "250 end\r\n";
  ASSERT_EQ(longReply.size(), 3069u);
  // In odd pieces, so receives of a full buffer and of less both occur.
  for (std::size_t at = 0; at < longReply.size(); at += 700) server.Send(longReply.substr(at, 700));
  server.Send("221 bye\r\n");
  std::string reply;
  EXPECT_EQ(Read(reply, ReplyKind::Smtp), 3069);
  EXPECT_EQ(reply, longReply.substr(0, MailConnection::kReplyCapacity - 1));
  EXPECT_EQ(Read(reply, ReplyKind::Smtp), 9);
  EXPECT_EQ(reply, "221 bye\r\n");
}

// --- ReadReply: time-outs ---

struct TimeoutCase {
  int patience;
  int timerPeriodMs;
};

TEST_F(MailConnectionTest, TimerWindowEndsTheWaitAfterPatienceTimesHundredMs) {
  const TimeoutCase cases[] = {{MailConnection::kPatience, 20000},
                               {MailConnection::kQuitPatience, 300000}};
  for (const auto& c : cases) {
    platform.ClearRecords();
    const long long start = platform.VirtualMs();
    std::string reply = "stale";
    EXPECT_EQ(Read(reply, ReplyKind::Smtp, c.patience), 0);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(platform.VirtualMs() - start, c.timerPeriodMs);
    const auto& events = platform.TimerEvents();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].kind, TestPlatform::TimerEvent::Start);
    EXPECT_EQ(events[0].id, MailConnection::kReplyTimerId);
    EXPECT_EQ(events[0].periodMs, c.timerPeriodMs);
    EXPECT_EQ(events[1].kind, TestPlatform::TimerEvent::Fire);
    EXPECT_EQ(events[2].kind, TestPlatform::TimerEvent::Stop);
    EXPECT_EQ(mail.replyWaiting, 0);
  }
}

TEST_F(MailConnectionTest, ReplyStopsTheTimer) {
  server.Send("250 ok\r\n");
  std::string reply;
  ASSERT_EQ(Read(reply, ReplyKind::Smtp), 8);
  const auto& events = platform.TimerEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, TestPlatform::TimerEvent::Start);
  EXPECT_EQ(events[1].kind, TestPlatform::TimerEvent::Stop);
  EXPECT_EQ(events[1].id, MailConnection::kReplyTimerId);
  EXPECT_EQ(platform.RunningTimers(), 0u);
}

// Without a window for the timer the reader counts 5 ms polling passes.
TEST_F(MailConnectionTest, WithoutTimerWindowPatienceCountsPasses) {
  MailConnection windowless;
  auto socketToServer = server.NewSocket();
  ASSERT_TRUE(socketToServer->Connect("mail.example.jp", 25));
  const int patiences[] = {1, 200};
  for (int patience : patiences) {
    const long long start = platform.VirtualMs();
    std::string reply;
    EXPECT_EQ(windowless.ReadReply(*socketToServer, reply, patience, ReplyKind::Smtp), 0);
    EXPECT_EQ(platform.VirtualMs() - start, 5LL * patience) << patience;
    EXPECT_EQ(windowless.replyWaiting, 0);
  }
  EXPECT_TRUE(platform.TimerEvents().empty());
}

// A socket whose readable count and receives are scripted call by call.
class FlakySocket final : public StreamSocket {
 public:
  struct Poll {
    bool queryOk;
    int readable;
    int received;  // result of the receive made when readable > 0
    std::string bytes;
  };
  explicit FlakySocket(std::deque<Poll> polls) : polls_(std::move(polls)) {}
  bool Create() override { return true; }
  bool Connect(const std::string&, int) override { return true; }
  int Send(const char*, int length) override { return length; }
  bool ReadableBytes(int& count) override {
    if (polls_.empty()) {
      count = 0;
      return true;
    }
    count = polls_.front().readable;
    const bool ok = polls_.front().queryOk;
    if (!ok || count == 0) polls_.pop_front();
    return ok;
  }
  int Receive(char* buffer, int) override {
    Poll poll = polls_.front();
    polls_.pop_front();
    std::copy(poll.bytes.begin(), poll.bytes.end(), buffer);
    return poll.received;
  }
  void Close() override {}
  bool IsOpen() const override { return true; }

 private:
  std::deque<Poll> polls_;
};

// A receive that fails although bytes were reported is not an error; the
// reader polls again. A failed query after part of a reply gives the part.
TEST_F(MailConnectionTest, FailedReceivesAndQueries) {
  struct Case {
    const char* name;
    std::deque<FlakySocket::Poll> polls;
    int result;
    std::string reply;
  };
  const Case cases[] = {
      {"ReceiveFailsThenSucceeds",
       {{true, 8, -1, ""}, {true, 8, 8, "250 ok\r\n"}},
       8,
       "250 ok\r\n"},
      {"ReceiveGivesNothingThenSucceeds",
       {{true, 8, 0, ""}, {true, 0, 0, ""}, {true, 8, 8, "250 ok\r\n"}},
       8,
       "250 ok\r\n"},
      {"QueryFailsAtOnce", {{false, 0, 0, ""}}, -1, ""},
      {"QueryFailsAfterPart", {{true, 4, 4, "250-"}, {false, 0, 0, ""}}, 4, "250-"},
  };
  for (const auto& c : cases) {
    FlakySocket flaky(c.polls);
    std::string reply;
    EXPECT_EQ(mail.ReadReply(flaky, reply, MailConnection::kPatience, ReplyKind::Smtp), c.result)
        << c.name;
    EXPECT_EQ(reply, c.reply) << c.name;
    EXPECT_EQ(mail.replyWaiting, 0) << c.name;
    EXPECT_EQ(platform.RunningTimers(), 0u) << c.name;
  }
}

}  // namespace
}  // namespace velkaro
