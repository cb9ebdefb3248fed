// Wave files: reading their length from the header, and playing them
// without ever hanging the caller.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qt/qt_platform.h"
#include "platform/qt/wave_file.h"
#include "support/test_support.h"

namespace velkaro::qt {
namespace {

std::string Le32(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF),
          static_cast<char>(v >> 16 & 0xFF), static_cast<char>(v >> 24 & 0xFF)};
}
std::string Le16(std::uint16_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}

std::string Be32(std::uint32_t v) {
  const std::string le = Le32(v);
  return {le.rbegin(), le.rend()};
}
std::string Be16(std::uint16_t v) {
  const std::string le = Le16(v);
  return {le.rbegin(), le.rend()};
}

std::string Chunk(const std::string& id, const std::string& body) {
  std::string chunk = id + Le32(static_cast<std::uint32_t>(body.size())) + body;
  if (body.size() % 2 != 0) chunk += '\0';
  return chunk;
}

// PCM "fmt " body; byteRate 0 asks the reader to derive it.
std::string Format(std::uint32_t sampleRate, std::uint16_t channels, std::uint16_t bits,
                   bool withByteRate = true) {
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
  return Le16(1) + Le16(channels) + Le32(sampleRate) +
         Le32(withByteRate ? sampleRate * blockAlign : 0) + Le16(blockAlign) + Le16(bits);
}

std::string Riff(const std::string& chunks) {
  return "RIFF" + Le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

// 8 kHz, mono, 16 bit: 16000 bytes a second.
std::string TinyWave(int ms) {
  return Riff(Chunk("fmt ", Format(8000, 1, 16)) +
              Chunk("data", std::string(static_cast<std::size_t>(16 * ms), '\0')));
}

TEST(WaveProbe, ReadsTheLengthFromTheChunkHeaders) {
  const std::string format = Chunk("fmt ", Format(8000, 1, 16));
  const std::string tenthSecond(1600, '\0');
  const struct {
    const char* name;
    std::string bytes;
    bool isWave;
    long long durationMs;  // -1: unknown
  } cases[] = {
      {"plain PCM", TinyWave(100), true, 100},
      {"stereo 44.1 kHz",
       Riff(Chunk("fmt ", Format(44100, 2, 16)) + Chunk("data", std::string(176400, '\0'))), true,
       1000},
      {"odd LIST chunk first", Riff(Chunk("LIST", "INFOabc") + format + Chunk("data", tenthSecond)),
       true, 100},
      {"byte rate left 0",
       Riff(Chunk("fmt ", Format(8000, 1, 16, false)) + Chunk("data", tenthSecond)), true, 100},
      {"data size larger than the file", Riff(format + "data" + Le32(0xFFFFFFFFu) + tenthSecond),
       true, 100},
      {"data size 0 while streaming", Riff(format + "data" + Le32(0) + tenthSecond), true, 100},
      {"no fmt chunk", Riff(Chunk("data", tenthSecond)), true, -1},
      {"no data chunk", Riff(format), true, -1},
      {"chunk size past the end", Riff("fmt " + Le32(0x7FFFFFF0u)), true, -1},
      {"big-endian RIFX",
       "RIFX" + Be32(4 + 24 + 8 + 1600) + "WAVE" + "fmt " + Be32(16) + Be16(1) + Be16(1) +
           Be32(8000) + Be32(16000) + Be16(2) + Be16(16) + "data" + Be32(1600) + tenthSecond,
       true, 100},
      {"not RIFF", "MThd" + std::string(20, '\0'), false, -1},
      {"RIFF but not WAVE", "RIFF" + Le32(4) + "AVI ", false, -1},
      {"too short", "RIFF", false, -1},
      {"empty", "", false, -1},
  };
  testing::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("probe.wav");
    testing::WriteBytes(path, c.bytes);
    const WaveProbe probe = ProbeWaveFile(path);
    EXPECT_EQ(probe.isWave, c.isWave);
    EXPECT_EQ(probe.durationMs.value_or(-1), c.durationMs);
  }
  EXPECT_FALSE(ProbeWaveFile(dir.File("missing.wav")).isWave);
  EXPECT_FALSE(ProbeWaveFile(dir.path()).isWave) << "a folder";
}

// Files written once for the play tests.
class QtPlayWave : public ::testing::Test {
 protected:
  QtPlayWave() {
    testing::WriteBytes(dir_.File("tiny.wav"), TinyWave(50));
    testing::WriteBytes(dir_.File("garbage.wav"), std::string(3000, '\x5A'));
    testing::WriteBytes(dir_.File("headless.wav"), Riff(Chunk("LIST", "INFO")));
    testing::WriteBytes(dir_.File("song.mid"), "MThd" + std::string(20, '\0'));
  }
  std::vector<std::string> Paths() const {
    return {dir_.File("tiny.wav"),
            dir_.File("garbage.wav"),
            dir_.File("headless.wav"),
            dir_.File("song.mid"),
            dir_.File("missing.wav"),
            dir_.path(),
            ""};
  }
  testing::TempDir dir_;
};

// Plays every file once; a play that does not come back within 15 s is a
// hang: it fails the test and is broken off by ending the event loops.
void ExpectEveryPlayReturns(QtPlatform& platform, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    bool hung = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
      hung = true;
      QCoreApplication::exit(1);
    });
    watchdog.start(15000);
    QElapsedTimer clock;
    clock.start();
    platform.PlayWave(path);
    watchdog.stop();
    EXPECT_FALSE(hung) << path;
    EXPECT_LT(clock.elapsed(), 15000) << path;
  }
}

TEST_F(QtPlayWave, ReturnsForEveryKindOfFile) {
  QtPlatform platform;
  ExpectEveryPlayReturns(platform, Paths());
}

// Where there is no audio device the back end never reports the end of a
// sound; without the device check only the bound on the wait returns.
TEST_F(QtPlayWave, ReturnsEvenWhenTheBackEndNeverReportsAnEnd) {
  QtPlatform platform;
  platform.SetRequireAudioOutput(false);
  ExpectEveryPlayReturns(platform, Paths());
}

}  // namespace
}  // namespace velkaro::qt
