#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>

namespace velkaro {
namespace {
Platform* installed = nullptr;
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
