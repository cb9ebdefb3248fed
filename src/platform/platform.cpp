#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace velkaro {
namespace {
Platform* installed = nullptr;
}

std::int64_t Platform::MonotonicMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

Platform& CurrentPlatform() {
  if (installed == nullptr) {
    std::fputs("velkaro: no platform installed\n", stderr);
    std::abort();
  }
  return *installed;
}

void InstallPlatform(Platform* platform) {
  installed = platform;
}

ScopedPlatform::ScopedPlatform(Platform& platform) : previous_(installed) {
  installed = &platform;
}

ScopedPlatform::~ScopedPlatform() {
  installed = previous_;
}

}  // namespace velkaro
