// Paced sending and the dialogue's waits against a clock whose sleeps
// overshoot and whose sends take time, as on a loaded machine: no piece may
// leave before its due time, the whole wait must come out at the pace's
// bound (not a tenth above it), and a sender that is behind must not sleep.
// The reply reader's polling pause ends as soon as the reply is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/zentool.h"
#include "mail/mail_connection.h"
#include "platform/test_platform.h"

namespace velkaro {
namespace {

// A virtual clock in microseconds: a 1 ms sleep takes `sleepMicros`, a pump
// `pumpMicros`. Every sleep records the time it started.
class DriftingPlatform final : public TestPlatform {
 public:
  std::int64_t MonotonicMicros() override { return micros; }
  void Sleep(int ms) override {
    sleptAt.push_back(micros);
    micros += static_cast<std::int64_t>(ms) * sleepMicros;
    TestPlatform::Sleep(ms);
  }
  void Pump() override {
    ++pumps;
    micros += pumpMicros;
    TestPlatform::Pump();
  }

  std::int64_t micros = 5000;  // not 0: the pace must count from its start
  std::int64_t sleepMicros = 1000;
  std::int64_t pumpMicros = 0;
  long long pumps = 0;
  std::vector<std::int64_t> sleptAt;
};

// Accepts everything; each send takes `sendMicros` on the platform's clock
// and records when it started.
class TimedSocket final : public StreamSocket {
 public:
  explicit TimedSocket(DriftingPlatform& p) : platform(p) {}
  bool Create() override { return true; }
  bool Connect(const std::string&, int) override { return true; }
  int Send(const char* data, int length) override {
    sentAt.push_back(platform.micros);
    platform.micros += sendMicros;
    wire.append(data, static_cast<std::size_t>(length));
    return length;
  }
  bool ReadableBytes(int& count) override {
    count = 0;
    return true;
  }
  int Receive(char*, int) override { return -1; }
  void Close() override {}
  bool IsOpen() const override { return true; }

  DriftingPlatform& platform;
  std::int64_t sendMicros = 0;
  std::vector<std::int64_t> sentAt;
  std::string wire;
};

std::string Text(std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text.push_back(static_cast<char>('a' + i % 23));
  return text;
}

struct PaceRow {
  const char* name;
  int speed;
  std::size_t size;
  int mode;
  std::int64_t sleepMicros;
  std::int64_t sendMicros;
  std::int64_t pumpMicros;
};

TEST(DeadlinePacing, NoPieceEarlyAndTheWholeAtTheBound) {
  const PaceRow rows[] = {
      {"speed 100, exact sleeps", 100, 64 * 1000 + 17, 1, 1000, 0, 0},
      {"speed 100, sleeps 15 % over", 100, 64 * 1000, 1, 1150, 0, 0},
      {"speed 100, sleeps twice as long", 100, 64 * 700 + 3, 0, 2000, 0, 0},
      {"speed 1, sleeps 7 % over", 1, 64 * 40, 0, 1070, 0, 0},
      {"speed 5, costly pumps", 5, 64 * 90 + 1, 1, 1100, 0, 40},
      {"speed 37, sends take a while", 37, 64 * 300, 1, 1300, 9, 3},
      {"speed 100, one piece", 100, 10, 1, 1200, 0, 0},
      {"speed 100, sends slower than the pace", 100, 64 * 500, 0, 1000, 12, 0},
  };
  for (const PaceRow& row : rows) {
    SCOPED_TRACE(row.name);
    DriftingPlatform platform;
    ScopedPlatform scope(platform);
    platform.sleepMicros = row.sleepMicros;
    platform.pumpMicros = row.pumpMicros;
    MailConnection mail;
    auto owned = std::make_unique<TimedSocket>(platform);
    TimedSocket& socket = *owned;
    socket.sendMicros = row.sendMicros;
    mail.smtpSocket = std::move(owned);
    mail.smtpOpen = 1;
    mail.SetSpeed(row.speed);
    const std::string text = Text(row.size);
    const std::int64_t start = platform.micros;

    ASSERT_EQ(mail.SmtpStringSend2(row.mode, text), 0);
    const std::int64_t end = platform.micros;

    // The bytes are the pieces in order, whatever the timing.
    std::string expected;
    for (std::size_t at = 0; at < text.size(); at += 64) {
      expected += text.substr(at, 64) + (row.mode == 1 ? "\r\n" : "");
    }
    EXPECT_EQ(socket.wire, expected);

    // Piece k goes no earlier than k / (speed + 1) ms after the first:
    // (t - start) * (speed + 1) >= k * 1000, in exact integers.
    const std::int64_t perMs = row.speed + 1;
    const auto pieces = static_cast<std::int64_t>(socket.sentAt.size());
    ASSERT_EQ(pieces, static_cast<std::int64_t>((row.size + 63) / 64));
    for (std::int64_t k = 0; k < pieces; ++k) {
      const std::int64_t at = socket.sentAt[static_cast<std::size_t>(k)] - start;
      ASSERT_GE(at * perMs, k * 1000) << "piece " << k << " went early";
    }

    // Every sleep began while the sender was ahead of what was due next:
    // the next piece, or after the last one the end of the text's pace.
    std::size_t sent = 0;
    for (const std::int64_t at : platform.sleptAt) {
      while (sent < socket.sentAt.size() && socket.sentAt[sent] <= at) ++sent;
      EXPECT_LT((at - start) * perMs, static_cast<std::int64_t>(sent) * 1000)
          << "slept at " << at - start << " us after " << sent << " pieces";
    }

    // The whole lasts at least the bound, and no more than one sleep (plus
    // the last piece's own send and pump) beyond it: the overshoot of every
    // sleep is made up by the pieces that follow it.
    const std::int64_t bound = (pieces * 1000 + perMs - 1) / perMs;
    EXPECT_GE(end - start, bound);
    EXPECT_LE(end - start, std::max(bound, pieces * (row.sendMicros + row.pumpMicros)) +
                               row.sleepMicros + row.sendMicros + row.pumpMicros);
  }
}

struct WaitRow {
  int ms;
  std::int64_t sleepMicros;
  std::int64_t pumpMicros;
  int sleeps;  // 1 ms sleeps the wait takes
};

TEST(DeadlineWaits, WaitHoldsItsLengthWhateverASleepTakes) {
  const WaitRow rows[] = {
      {20, 1000, 0, 20}, {20, 1150, 0, 18},  {50, 1070, 30, 46}, {5, 1000, 300, 4},
      {1, 1900, 0, 1},   {100, 2500, 0, 40}, {3, 1000, 1500, 2},
  };
  for (const WaitRow& row : rows) {
    SCOPED_TRACE("Wait(" + std::to_string(row.ms) + "), sleeps of " +
                 std::to_string(row.sleepMicros) + " us, pumps of " +
                 std::to_string(row.pumpMicros) + " us");
    DriftingPlatform platform;
    ScopedPlatform scope(platform);
    platform.sleepMicros = row.sleepMicros;
    platform.pumpMicros = row.pumpMicros;
    const std::int64_t start = platform.micros;

    Zentool().Wait(row.ms);

    const std::int64_t took = platform.micros - start;
    EXPECT_GE(took, row.ms * 1000LL);
    EXPECT_LT(took, row.ms * 1000LL + row.sleepMicros + row.pumpMicros);
    EXPECT_EQ(static_cast<int>(platform.sleptAt.size()), row.sleeps);
    // The window is served after every sleep.
    EXPECT_EQ(platform.pumps, row.sleeps);
  }
}

// A reply that becomes readable `arrivesAfterMs` after the reader starts.
class LateReplySocket final : public StreamSocket {
 public:
  LateReplySocket(TestPlatform& p, long long arrivesAfterMs, std::string text)
      : platform(p), arrivesAt(p.VirtualMs() + arrivesAfterMs), reply(std::move(text)) {}
  bool Create() override { return true; }
  bool Connect(const std::string&, int) override { return true; }
  int Send(const char*, int length) override { return length; }
  bool ReadableBytes(int& count) override {
    count = platform.VirtualMs() >= arrivesAt ? static_cast<int>(reply.size()) : 0;
    return true;
  }
  int Receive(char* buffer, int capacity) override {
    if (platform.VirtualMs() < arrivesAt) return -1;
    const int n = std::min(capacity, static_cast<int>(reply.size()));
    reply.copy(buffer, static_cast<std::size_t>(n));
    reply.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  void Close() override {}
  bool IsOpen() const override { return true; }

  TestPlatform& platform;
  long long arrivesAt;
  std::string reply;
};

TEST(ReplyPolling, AReplyIsTakenWithinAMillisecondOfItsArrival) {
  struct Row {
    long long arrivesAfterMs;
    long long waitedMs;
  };
  // The polling pause is 5 ms, but a reply arriving within it ends it.
  const Row rows[] = {{0, 0}, {1, 1}, {2, 2}, {4, 4}, {5, 5}, {6, 6}, {13, 13}};
  for (const Row& row : rows) {
    SCOPED_TRACE("reply after " + std::to_string(row.arrivesAfterMs) + " ms");
    TestPlatform platform;
    ScopedPlatform scope(platform);
    MailConnection windowless;
    LateReplySocket socket(platform, row.arrivesAfterMs, "250 ok\r\n");
    const long long start = platform.VirtualMs();
    std::string reply;
    EXPECT_EQ(windowless.ReadReply(socket, reply, 200, ReplyKind::Smtp), 8);
    EXPECT_EQ(reply, "250 ok\r\n");
    EXPECT_EQ(platform.VirtualMs() - start, row.waitedMs);
  }
}

}  // namespace
}  // namespace velkaro
