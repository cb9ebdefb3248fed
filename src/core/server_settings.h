// The server and sender block of the settings: copied whole into the mail
// connection for one run. Its layout is part of the settings file (776
// bytes, little-endian), so it stays a plain record of fixed buffers; each
// text is a NUL-terminated Shift_JIS string of at most 127 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "core/text_bytes.h"

namespace velkaro {

struct ServerSettings {
  static constexpr std::size_t kTextSize = 128;

  char popServer[kTextSize];
  char popUser[kTextSize];
  char popPassword[kTextSize];
  std::int32_t popPort;
  char smtpServer[kTextSize];
  std::int32_t smtpPort;
  char senderName[kTextSize];
  char senderAddress[kTextSize];
};

static_assert(sizeof(ServerSettings) == 776, "the settings file holds this block byte for byte");
static_assert(offsetof(ServerSettings, popPort) == 384);
static_assert(offsetof(ServerSettings, smtpServer) == 388);
static_assert(offsetof(ServerSettings, smtpPort) == 516);
static_assert(offsetof(ServerSettings, senderName) == 520);
static_assert(offsetof(ServerSettings, senderAddress) == 648);

// The text of a fixed buffer, up to its NUL (or its end when it has none).
template <std::size_t N>
std::string FieldText(const char (&field)[N]) {
  return std::string(field, strnlen(field, N));
}

// Stores a text in a fixed buffer, cut to N - 1 bytes (never inside a
// double-byte Shift_JIS character) and NUL-filled.
template <std::size_t N>
void SetFieldText(char (&field)[N], const std::string& text) {
  std::size_t length = 0;
  while (length < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[length]);
    const std::size_t step = (IsSjisLead(b) && length + 1 < text.size()) ? 2 : 1;
    if (length + step > N - 1) break;
    length += step;
  }
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), length);
}

// A zeroed block with the usual ports (POP3 110, SMTP 25).
inline ServerSettings DefaultServerSettings() {
  ServerSettings s{};
  s.popPort = 110;
  s.smtpPort = 25;
  return s;
}

}  // namespace velkaro
