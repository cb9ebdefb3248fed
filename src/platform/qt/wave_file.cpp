#include "platform/qt/wave_file.h"

#include <cstdint>
#include <cstring>
#include <fstream>

namespace velkaro::qt {
namespace {

// Numbers in the byte order of the file: little endian in RIFF, big
// endian in the rare RIFX.
struct Reader {
  bool bigEndian;
  std::uint32_t U32(const unsigned char* p) const {
    if (bigEndian) {
      return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
             static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
    }
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  }
  std::uint16_t U16(const unsigned char* p) const {
    return static_cast<std::uint16_t>(bigEndian ? p[0] << 8 | p[1] : p[0] | p[1] << 8);
  }
};

bool ReadExactly(std::ifstream& in, unsigned char* buffer, std::streamsize count) {
  in.read(reinterpret_cast<char*>(buffer), count);
  return in.gcount() == count;
}

}  // namespace

WaveProbe ProbeWaveFile(const std::string& path) {
  WaveProbe probe;
  std::ifstream in(path, std::ios::binary);
  if (!in) return probe;
  in.seekg(0, std::ios::end);
  const long long fileSize = static_cast<long long>(in.tellg());
  in.seekg(0, std::ios::beg);
  if (fileSize < 12) return probe;

  unsigned char riff[12];
  if (!ReadExactly(in, riff, sizeof riff)) return probe;
  const bool little = std::memcmp(riff, "RIFF", 4) == 0;
  const bool big = std::memcmp(riff, "RIFX", 4) == 0;
  if ((!little && !big) || std::memcmp(riff + 8, "WAVE", 4) != 0) return probe;
  probe.isWave = true;
  const Reader read{big};

  std::uint32_t byteRate = 0;
  bool haveFormat = false;
  long long position = 12;
  // Chunks follow one another, each padded to an even length. Unknown
  // chunks (LIST, fact, cue …) are skipped by seeking.
  while (position + 8 <= fileSize) {
    unsigned char header[8];
    in.seekg(position);
    if (!ReadExactly(in, header, sizeof header)) break;
    const long long size = read.U32(header + 4);
    const long long body = position + 8;
    if (std::memcmp(header, "fmt ", 4) == 0 && size >= 16) {
      unsigned char format[16];
      if (!ReadExactly(in, format, sizeof format)) break;
      const std::uint32_t sampleRate = read.U32(format + 4);
      byteRate = read.U32(format + 8);
      const std::uint16_t blockAlign = read.U16(format + 12);
      if (byteRate == 0) byteRate = sampleRate * blockAlign;
      haveFormat = true;
    } else if (std::memcmp(header, "data", 4) == 0) {
      // Writers that stream often leave the size at 0 or 0xFFFFFFFF; the
      // bytes present in the file are what can be played.
      long long dataBytes = size;
      if (dataBytes == 0 || dataBytes > fileSize - body) dataBytes = fileSize - body;
      if (haveFormat && byteRate != 0) probe.durationMs = dataBytes * 1000 / byteRate;
      break;
    }
    position = body + size + (size & 1);
  }
  return probe;
}

}  // namespace velkaro::qt
