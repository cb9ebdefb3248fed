#include "ratio_reporter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace velkaro::bench {
namespace {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        // The plain name without "/real_time" and similar suffixes.
        std::string name = run.benchmark_name();
        const auto slash = name.find('/');
        if (slash != std::string::npos) name.resize(slash);
        times[name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int RunWithRatios(int argc, char** argv, const std::vector<RatioPair>& pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nratios (ours / reference, same run):\n");
  for (const RatioPair& pair : pairs) {
    const auto ours = reporter.times.find(pair.ours);
    const auto reference = reporter.times.find(pair.reference);
    if (ours == reporter.times.end() || reference == reporter.times.end() ||
        reference->second <= 0) {
      std::printf("  %s / %s: not measured\n", pair.ours.c_str(), pair.reference.c_str());
      continue;
    }
    const double ratio = ours->second / reference->second;
    std::printf("  %s / %s = %.2f (goal <= %.2f)%s\n", pair.ours.c_str(), pair.reference.c_str(),
                ratio, pair.goal, ratio <= pair.goal ? "" : "  ABOVE GOAL");
  }
  return 0;
}

}  // namespace velkaro::bench
