// Keeps the event loop served during a long computation without paying for
// a full pump on every step: the first step pumps, later steps pump at most
// once per millisecond, and the clock is read only every 64 steps.
#pragma once

#include <chrono>
#include <cstdint>

namespace velkaro {

class PumpPacer {
 public:
  template <typename PumpFn>
  void Step(PumpFn&& pump) {
    if ((steps_++ & 63u) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (steps_ != 1 && now - last_ < std::chrono::milliseconds(1)) return;
    last_ = now;
    pump();
  }

 private:
  std::uint64_t steps_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace velkaro
