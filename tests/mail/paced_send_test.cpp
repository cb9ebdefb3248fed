// Paced transmission: piece sizes, counters, partial sends, pacing sleeps,
// the progress sound and the stop request, seen through a socket that
// records every send call.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "mail/mail_connection.h"
#include "support/test_support.h"

namespace velkaro {
namespace {

using testing::PlatformTest;

// Keeps each send call's bytes; the next calls accept only as many bytes as
// queued in `accepts` (0 or less: the call fails), later calls take all.
class RecordingSocket final : public StreamSocket {
 public:
  bool Create() override { return true; }
  bool Connect(const std::string&, int) override { return open = true; }
  int Send(const char* data, int length) override {
    int accepted = length;
    if (!accepts.empty()) {
      accepted = std::min(accepts.front(), length);
      accepts.pop_front();
    }
    calls.emplace_back(data, static_cast<std::size_t>(length));
    if (accepted > 0) wire.append(data, static_cast<std::size_t>(accepted));
    return accepted;
  }
  bool ReadableBytes(int& count) override {
    count = 0;
    return open;
  }
  int Receive(char*, int) override { return -1; }
  void Close() override { open = false; }
  bool IsOpen() const override { return open; }

  bool open = false;
  std::deque<int> accepts;
  std::vector<std::string> calls;  // what each call was asked to send
  std::string wire;                // what the calls accepted, in order
};

class PacedSendTest : public PlatformTest {
 protected:
  PacedSendTest() {
    auto owned = std::make_unique<RecordingSocket>();
    socket = owned.get();
    socket->Connect("smtp.example.jp", 25);
    mail.smtpSocket = std::move(owned);
    mail.smtpOpen = 1;
  }

  std::vector<int> CallSizes() const {
    std::vector<int> sizes;
    for (const std::string& call : socket->calls) sizes.push_back(static_cast<int>(call.size()));
    return sizes;
  }

  MailConnection mail;
  RecordingSocket* socket = nullptr;
};

std::string Letters(std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('A' + i % 26));
  return text;
}

std::string StartLine(int mode, int speed) {
  return mode == 0
             ? Sjis("\r\n>>SmtpStringSend2: 本文開始(Speed=") + std::to_string(speed) + ")\r\n"
             : Sjis(">>SmtpStringSend2: 添付開始(Speed=") + std::to_string(speed) + ")\r\n";
}

std::string EndLine(int size, int calls, int sent) {
  return Sjis("・・・SmtpStringSend2: ストリングサイズ:") + std::to_string(size) +
         Sjis(" ループ回数:") + std::to_string(calls) + Sjis(" 送信サイズ:") +
         std::to_string(sent) + "\r\n";
}

struct PieceCase {
  const char* name;
  int mode;
  std::size_t length;
  int result;
  std::vector<int> callSizes;
  std::vector<int> dataSentSteps;  // progress.dataSent after each piece
  int wireBytes;
};

TEST_F(PacedSendTest, CutsTextIntoPiecesAndCountsThem) {
  const PieceCase cases[] = {
      {"body of 130 bytes", 0, 130, 0, {64, 64, 2}, {64, 128, 130}, 130},
      {"body of exactly one piece", 0, 64, 0, {64}, {64}, 64},
      {"Base64 of 128 characters", 1, 128, 0, {66, 66}, {64, 128}, 132},
      {"Base64 of 4 characters", 1, 4, 0, {6}, {4}, 6},
      {"empty body", 0, 0, 0, {}, {}, 0},
      {"unknown mode", 2, 100, 1, {}, {}, 0},
      {"unknown mode, empty text", -1, 0, 1, {}, {}, 0},
  };
  for (const PieceCase& c : cases) {
    SCOPED_TRACE(c.name);
    socket->calls.clear();
    socket->wire.clear();
    mail.transcript = "before|";
    std::vector<int> steps;
    platform.SetPumpHook([&] { steps.push_back(mail.progress.dataSent); });

    const std::string text = Letters(c.length);
    EXPECT_EQ(mail.SmtpStringSend2(c.mode, text), c.result);

    EXPECT_EQ(CallSizes(), c.callSizes);
    EXPECT_EQ(steps, c.dataSentSteps);
    EXPECT_EQ(mail.progress.dataSize, static_cast<int>(c.length));
    EXPECT_EQ(mail.progress.sendingData, 0);
    EXPECT_EQ(mail.transcript, "before|" + StartLine(c.mode, 5) +
                                   EndLine(static_cast<int>(c.length),
                                           static_cast<int>(c.callSizes.size()), c.wireBytes));
    if (c.mode == 1) {
      // Every piece is a line of at most 64 characters.
      std::string expected;
      for (std::size_t at = 0; at < text.size(); at += 64) expected += text.substr(at, 64) + "\r\n";
      EXPECT_EQ(socket->wire, expected);
    } else if (c.result == 0) {
      EXPECT_EQ(socket->wire, text);
    }
  }
}

TEST_F(PacedSendTest, SendingDataIsSetOnlyWhileTransmitting) {
  std::vector<int> seen;
  platform.SetPumpHook([&] { seen.push_back(mail.progress.sendingData); });
  ASSERT_EQ(mail.SmtpStringSend2(0, Letters(200)), 0);
  EXPECT_EQ(seen, (std::vector<int>{1, 1, 1, 1}));
  EXPECT_EQ(mail.progress.sendingData, 0);
}

struct PartialCase {
  const char* name;
  std::deque<int> accepts;
  int result;
  std::vector<int> callSizes;
  std::string incompleteLines;
  int dataSent;
  int calls;
  int wireBytes;
  long long retryMs;  // Wait(10) per retried part
};

TEST_F(PacedSendTest, PartialSendsAreRetriedAndFailedSendsEndTheText) {
  const std::string partial = Sjis("  SmtpStringSend2: エラー発生! Send結果:");
  const std::string asked = Sjis(" / Send要求:");
  const PartialCase cases[] = {
      {"30 of 66 accepted, then the rest",
       {30},
       0,
       {66, 36, 66},
       partial + "30" + asked + "66 ",
       128,
       3,
       132,
       10},
      {"accepted in three parts",
       {30, 20},
       0,
       {66, 36, 16, 66},
       partial + "30" + asked + "66 " + partial + "20" + asked + "36 ",
       128,
       4,
       132,
       20},
      {"rest of a partial piece fails",
       {30, 0},
       2,
       {66, 36},
       partial + "30" + asked + "66 " + partial + "0" + asked + "36 ",
       0,
       2,
       30,
       10},
      {"first send fails", {-1}, 2, {66}, partial + "-1" + asked + "66 ", 0, 1, 0, 0},
      {"second piece fails", {66, 0}, 2, {66, 66}, partial + "0" + asked + "66 ", 64, 2, 66, 0},
  };
  for (const PartialCase& c : cases) {
    SCOPED_TRACE(c.name);
    socket->calls.clear();
    socket->wire.clear();
    socket->accepts = c.accepts;
    mail.transcript.clear();
    const long long before = platform.VirtualMs();

    EXPECT_EQ(mail.SmtpStringSend2(1, Letters(128)), c.result);

    EXPECT_EQ(CallSizes(), c.callSizes);
    EXPECT_EQ(mail.progress.dataSent, c.dataSent);
    EXPECT_EQ(mail.progress.sendingData, 0);
    EXPECT_EQ(mail.transcript,
              StartLine(1, 5) + c.incompleteLines + EndLine(128, c.calls, c.wireBytes));
    // The bytes on the wire are the pieces in order, never a byte twice.
    const std::string lines =
        Letters(128).substr(0, 64) + "\r\n" + Letters(128).substr(64) + "\r\n";
    EXPECT_EQ(socket->wire, lines.substr(0, static_cast<std::size_t>(c.wireBytes)));
    // Retry pauses, plus the pacing sleep after the first finished piece
    // when no retry pause has already taken the second piece past its due
    // time (a pause counts toward the pace).
    const long long pacing = c.dataSent > 0 && c.retryMs == 0 ? 1 : 0;
    EXPECT_EQ(platform.VirtualMs() - before, c.retryMs + pacing);
  }
}

struct PacingCase {
  int speed;
  int pieces;
  std::vector<int> sleptAfter;  // 1-based pieces followed by a 1 ms sleep
};

TEST_F(PacedSendTest, SleepsOnceEverySpeedPlusOnePieces) {
  const PacingCase cases[] = {
      {1, 7, {1, 3, 5, 7}}, {5, 14, {1, 7, 13}}, {100, 103, {1, 102}}, {100, 101, {1}}, {0, 5, {}},
  };
  for (const PacingCase& c : cases) {
    SCOPED_TRACE("speed " + std::to_string(c.speed));
    mail.SetSpeed(c.speed);
    // Pump k runs right after piece k, before its pacing sleep.
    std::vector<long long> atPump;
    platform.SetPumpHook([&] { atPump.push_back(platform.VirtualMs()); });

    ASSERT_EQ(mail.SmtpStringSend2(0, Letters(static_cast<std::size_t>(c.pieces) * 64)), 0);

    ASSERT_EQ(atPump.size(), static_cast<std::size_t>(c.pieces));
    atPump.push_back(platform.VirtualMs());
    std::vector<int> slept;
    for (int k = 0; k < c.pieces; ++k) {
      const long long pause =
          atPump[static_cast<std::size_t>(k) + 1] - atPump[static_cast<std::size_t>(k)];
      EXPECT_LE(pause, 1);
      if (pause == 1) slept.push_back(k + 1);
    }
    EXPECT_EQ(slept, c.sleptAfter);
  }
}

TEST_F(PacedSendTest, ProgressSoundPlaysAfterPieceOneAndEveryFiftyFirst) {
  mail.progressSoundOn = 1;
  mail.progressSoundPath = "/sounds/OneMail.wav";
  std::vector<std::size_t> playedAtPump;
  platform.SetPumpHook([&] { playedAtPump.push_back(platform.PlayedWaves().size()); });

  ASSERT_EQ(mail.SmtpStringSend2(1, Letters(103 * 64)), 0);

  playedAtPump.push_back(platform.PlayedWaves().size());
  std::vector<int> playedAfter;
  for (std::size_t k = 0; k + 1 < playedAtPump.size(); ++k) {
    if (playedAtPump[k + 1] != playedAtPump[k]) playedAfter.push_back(static_cast<int>(k) + 1);
  }
  EXPECT_EQ(playedAfter, (std::vector<int>{1, 52, 103}));
  EXPECT_EQ(platform.PlayedWaves(), std::vector<std::string>(3, "/sounds/OneMail.wav"));

  // Off: nothing is played, however long the text.
  mail.progressSoundOn = 0;
  ASSERT_EQ(mail.SmtpStringSend2(1, Letters(60 * 64)), 0);
  EXPECT_EQ(platform.PlayedWaves().size(), 3u);
}

TEST_F(PacedSendTest, StopRequestEndsAfterTheCurrentPieceAndRestoresSpeed) {
  struct StopCase {
    int speed;
    int stopAtPump;  // the stop is requested in this pump (after that piece)
    int calls;       // the piece after it still goes out
    int dataSent;
  };
  const StopCase cases[] = {{7, 1, 2, 128}, {7, 3, 4, 256}, {0, 2, 3, 192}, {1, 1, 2, 128}};
  for (const StopCase& c : cases) {
    SCOPED_TRACE("speed " + std::to_string(c.speed) + ", stop in pump " +
                 std::to_string(c.stopAtPump));
    mail.SetSpeed(c.speed);
    socket->calls.clear();
    mail.transcript.clear();
    int pumps = 0;
    platform.SetPumpHook([&] {
      if (++pumps == c.stopAtPump) mail.RequestStop();
    });

    EXPECT_EQ(mail.SmtpStringSend2(0, Letters(640)), 3);

    EXPECT_EQ(static_cast<int>(socket->calls.size()), c.calls);
    EXPECT_EQ(mail.progress.dataSent, c.dataSent);
    EXPECT_EQ(mail.speed, c.speed);
    EXPECT_EQ(mail.progress.sendingData, 0);
    EXPECT_EQ(mail.transcript, StartLine(0, c.speed) +
                                   Sjis("・・・SmtpStringSend2: 強制終了!\r\n") +
                                   EndLine(640, c.calls, c.dataSent));
  }
}

TEST_F(PacedSendTest, StopRequestOutsideATransmissionChangesNothing) {
  mail.RequestStop();
  EXPECT_EQ(mail.speed, 5);
  EXPECT_EQ(mail.SmtpStringSend2(0, Letters(300)), 0);
  EXPECT_EQ(socket->calls.size(), 5u);
}

}  // namespace
}  // namespace velkaro

namespace velkaro {
namespace {

// A socket that gathers as a TLS socket does: the test sees which pieces
// were put out together before each pacing sleep.
class GatheringSocket final : public StreamSocket {
 public:
  bool Create() override { return true; }
  bool Connect(const std::string&, int) override { return true; }
  int Send(const char* data, int length) override {
    (gathering ? held : flushed.emplace_back()).append(data, static_cast<std::size_t>(length));
    return length;
  }
  bool ReadableBytes(int& count) override {
    count = 0;
    return true;
  }
  int Receive(char*, int) override { return -1; }
  void Close() override {}
  bool IsOpen() const override { return true; }
  void GatherSends(bool on) override { gathering = on; }
  bool Flush() override {
    if (failFlush) return false;
    if (!held.empty()) flushed.push_back(held);
    flushedAt.push_back(CurrentPlatform().Now());
    held.clear();
    return true;
  }

  bool gathering = false;
  bool failFlush = false;
  std::string held;
  std::vector<std::string> flushed;  // what went out together, in order
  std::vector<std::time_t> flushedAt;
};

class GatheredSendTest : public testing::PlatformTest {
 protected:
  GatheredSendTest() {
    auto owned = std::make_unique<GatheringSocket>();
    socket = owned.get();
    mail.smtpSocket = std::move(owned);
    mail.smtpOpen = 1;
  }
  MailConnection mail;
  GatheringSocket* socket = nullptr;
};

// The pieces between two pacing sleeps leave together, nothing is left
// held at the end, and gathering is off again for the commands that follow.
TEST_F(GatheredSendTest, PiecesBetweenTwoSleepsGoOutTogether) {
  mail.SetSpeed(2);
  const std::string text(64 * 7 + 10, 'x');
  ASSERT_EQ(mail.SmtpStringSend2(0, text), 0);
  std::vector<std::size_t> sizes;
  std::string joined;
  for (const std::string& part : socket->flushed) {
    sizes.push_back(part.size());
    joined += part;
  }
  // Sleeps after pieces 1, 4 and 7; the rest at the end.
  EXPECT_EQ(sizes, (std::vector<std::size_t>{64, 192, 192, 10}));
  EXPECT_EQ(joined, text);
  EXPECT_TRUE(socket->held.empty());
  EXPECT_FALSE(socket->gathering);
}

TEST_F(GatheredSendTest, AFailedFlushEndsTheTextAsAFailedSend) {
  mail.SetSpeed(2);
  socket->failFlush = true;
  EXPECT_EQ(mail.SmtpStringSend2(1, std::string(64 * 5, 'x')), 2);
  EXPECT_FALSE(socket->gathering);
  EXPECT_EQ(mail.progress.sendingData, 0);
}

}  // namespace
}  // namespace velkaro
