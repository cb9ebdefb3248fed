#include "job/default_sounds.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/atomic_file.h"
#include "core/zentool.h"
#include "data/address_book.h"
#include "data/settings_record.h"

namespace velkaro {

namespace {

constexpr int kSampleRate = 22050;
constexpr double kPi = 3.14159265358979323846;

struct Note {
  double frequency;  // Hz; 0 is a rest
  double seconds;
};

void AppendLittleEndian(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A note with a 5 ms attack and an exponential decay, plus a quiet octave
// for a bell-like colour.
void Synthesise(std::vector<std::int16_t>& samples, const Note& note, double volume) {
  const int count = static_cast<int>(note.seconds * kSampleRate);
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) / kSampleRate;
    double value = 0;
    if (note.frequency > 0) {
      const double attack = std::min(1.0, t / 0.005);
      const double decay = std::exp(-4.0 * t / note.seconds);
      value =
          attack * decay *
          (std::sin(2 * kPi * note.frequency * t) + 0.25 * std::sin(4 * kPi * note.frequency * t)) /
          1.25;
    }
    samples.push_back(static_cast<std::int16_t>(value * volume * 32767));
  }
}

std::string WaveFile(const std::vector<std::int16_t>& samples) {
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
  std::string out = "RIFF";
  AppendLittleEndian(out, 36 + dataBytes, 4);
  out += "WAVEfmt ";
  AppendLittleEndian(out, 16, 4);               // fmt chunk size
  AppendLittleEndian(out, 1, 2);                // PCM
  AppendLittleEndian(out, 1, 2);                // mono
  AppendLittleEndian(out, kSampleRate, 4);      // samples per second
  AppendLittleEndian(out, kSampleRate * 2, 4);  // bytes per second
  AppendLittleEndian(out, 2, 2);                // block align
  AppendLittleEndian(out, 16, 2);               // bits per sample
  out += "data";
  AppendLittleEndian(out, dataBytes, 4);
  for (const std::int16_t s : samples) AppendLittleEndian(out, static_cast<std::uint16_t>(s), 2);
  return out;
}

}  // namespace

std::string DefaultSoundWave(int event) {
  // All sent: a rising major arpeggio. Error: two falling low tones. One
  // mail: a single short chime. Progress: a very short, quiet tick.
  static const std::vector<Note> kTunes[4] = {
      {{523.25, 0.12}, {659.25, 0.12}, {783.99, 0.30}},
      {{392.00, 0.20}, {0, 0.04}, {293.66, 0.35}},
      {{880.00, 0.18}},
      {{1318.51, 0.04}},
  };
  static const double kVolume[4] = {0.5, 0.5, 0.4, 0.2};
  if (event < 1 || event > 4) return {};
  std::vector<std::int16_t> samples;
  for (const Note& note : kTunes[event - 1]) Synthesise(samples, note, kVolume[event - 1]);
  return WaveFile(samples);
}

int EnsureDefaultSounds(const std::string& folder) {
  Zentool z;
  int failures = 0;
  for (int event = 1; event <= 4; ++event) {
    const std::string path = z.ZenJoinPath(folder, kDefaultSoundNames[event - 1]);
    if (z.ZenGetFileSize(path) > 0) continue;
    if (AtomicWriteFile(path, DefaultSoundWave(event)) != 0) ++failures;
  }
  return failures;
}

int EnsureAddressBook(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return 0;
  if (errno != ENOENT) return 1;
  return AtomicWriteFile(path, AddressBookHeaderLine()) == 0 ? 0 : 1;
}

}  // namespace velkaro
