// Runs the registered benchmarks and then prints, for each pair, the time of
// ours divided by the time of the reference measured in the same run.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace velkaro::bench {

struct RatioPair {
  std::string ours;       // benchmark name (as registered)
  std::string reference;  // benchmark name of the reference
  double goal;            // the ratio we aim to stay at or below
};

int RunWithRatios(int argc, char** argv, const std::vector<RatioPair>& pairs);

}  // namespace velkaro::bench
