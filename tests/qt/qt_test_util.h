// Waiting helpers for tests that drive the Qt event loop by hand, the way
// the program's own waits do: short sleeps with a pump in between.
#pragma once

#include <QElapsedTimer>
#include <functional>

#include "platform/qt/qt_platform.h"

namespace velkaro::qt::testing {

// Sleeps and pumps until `done` holds or `limitMs` has passed; true when it
// held. The limit only guards against a hang, it is never a speed check.
inline bool PumpUntil(QtPlatform& platform, const std::function<bool()>& done, int limitMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limitMs) return false;
    platform.Sleep(1);
    platform.Pump();
  }
  return true;
}

inline void PumpFor(QtPlatform& platform, int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    platform.Sleep(1);
    platform.Pump();
  }
}

}  // namespace velkaro::qt::testing
