// The built-in event sounds.
#include "job/default_sounds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "support/test_support.h"

namespace velkaro {
namespace {

std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

TEST(DefaultSounds, AreShortDistinctPcmWaves) {
  std::string previous;
  for (int event = 1; event <= 4; ++event) {
    const std::string wave = DefaultSoundWave(event);
    ASSERT_GT(wave.size(), 44u) << event;
    EXPECT_EQ(wave.substr(0, 4), "RIFF");
    EXPECT_EQ(Le32(wave, 4), wave.size() - 8);
    EXPECT_EQ(wave.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(wave.substr(36, 4), "data");
    EXPECT_EQ(Le32(wave, 40), wave.size() - 44);
    const double seconds = static_cast<double>(Le32(wave, 40)) / Le32(wave, 28);
    EXPECT_GT(seconds, 0.02) << event;
    EXPECT_LT(seconds, 1.0) << event;
    EXPECT_NE(wave, previous);
    previous = wave;
  }
  EXPECT_EQ(DefaultSoundWave(0), "");
  EXPECT_EQ(DefaultSoundWave(5), "");
}

TEST(DefaultSounds, AreWrittenOnlyWhereMissing) {
  testing::TempDir dir;
  testing::WriteBytes(dir.File("OneMail.wav"), "mine");
  EXPECT_EQ(EnsureDefaultSounds(dir.path()), 0);
  EXPECT_EQ(testing::ReadBytes(dir.File("OneMail.wav")), "mine");
  EXPECT_EQ(testing::ReadBytes(dir.File("NormalEnd.wav")), DefaultSoundWave(1));
  EXPECT_EQ(testing::ReadBytes(dir.File("Develop.wav")), DefaultSoundWave(4));
  EXPECT_EQ(EnsureDefaultSounds(dir.File("missing")), 4);
}

}  // namespace
}  // namespace velkaro
