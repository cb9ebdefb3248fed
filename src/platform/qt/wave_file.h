// What the sound player needs to know about a wave file before playing it:
// whether it is a RIFF WAVE file at all, and how long its sound lasts, so
// that a synchronous play can be bounded even when the audio back end never
// reports the end of playback.
#pragma once

#include <optional>
#include <string>

namespace velkaro::qt {

struct WaveProbe {
  // The file starts with a RIFF (or big-endian RIFX) WAVE header.
  bool isWave = false;
  // Length of the sound, from the "fmt " byte rate and the "data" chunk size
  // (clamped to the bytes actually in the file); empty when either chunk is
  // missing or unusable.
  std::optional<long long> durationMs;
};

// Reads only the chunk headers of the file; a missing or unreadable file
// gives a probe with isWave false.
WaveProbe ProbeWaveFile(const std::string& path);

}  // namespace velkaro::qt
