// Sample data the send benchmarks share.
#pragma once

#include <cstddef>
#include <string>

namespace velkaro::bench {

// `size` bytes of Base64 alphabet in a fixed pseudo-random order: what an
// attachment's data phase carries, the same in every run.
inline std::string Base64Text(std::size_t size) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text(size, 'A');
  unsigned state = 12345;
  for (char& c : text) {
    state = state * 1103515245u + 12345u;
    c = kAlphabet[(state >> 16) & 63];
  }
  return text;
}

}  // namespace velkaro::bench
