// The benchmark scenarios without Google Benchmark, for the Windows build under Wine: each
// scenario is timed in 15 repetitions and the median time per step is printed.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "interface/module.h"
#include "platform/platform.h"
#include "scenarios.h"

int main() {
  vorel::module::Load();  // linked in statically: there is no DLL entry point to do it
  bench::EnterScratchFolder();
  std::printf("%-40s %14s\n", "scenario", "median us/step");
  for (const bench::ScenarioInfo& info : bench::Scenarios()) {
    auto scenario = info.make();
    // Enough steps that one repetition takes about 20 ms.
    uint64_t steps = 1;
    for (;;) {
      const uint64_t t0 = platform::monotonic_ns();
      for (uint64_t i = 0; i < steps; ++i) scenario->Step();
      if (platform::monotonic_ns() - t0 > 20'000'000 || steps > (1u << 24)) break;
      steps *= 2;
    }
    std::vector<double> per_step;
    for (int rep = 0; rep < 15; ++rep) {
      const uint64_t t0 = platform::monotonic_ns();
      for (uint64_t i = 0; i < steps; ++i) scenario->Step();
      per_step.push_back(static_cast<double>(platform::monotonic_ns() - t0) / 1000.0 / static_cast<double>(steps));
    }
    std::sort(per_step.begin(), per_step.end());
    std::printf("%-40s %14.3f\n", info.name.c_str(), per_step[per_step.size() / 2]);
  }
  return 0;
}
