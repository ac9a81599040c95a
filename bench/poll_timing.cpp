// The benchmark scenarios without Google Benchmark, for the Windows build under Wine: each
// scenario is timed in 15 repetitions and the median time per step is printed.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "interface/module.h"
#include "platform/platform.h"
#include "scenarios.h"

int main() {
  vorel::module::load();  // linked in statically: there is no DLL entry point to do it
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
      per_step.push_back(static_cast<double>(platform::monotonic_ns() - t0) / 1000.0 /
                         static_cast<double>(steps));
    }
    std::sort(per_step.begin(), per_step.end());
    const double median = per_step[per_step.size() / 2];
    std::printf("%-40s %14.3f\n", info.name.c_str(), median);
    for (const bench::Figure& f : scenario->Figures()) {
      if (f.per_item)
        std::printf("  %-38s %14.4f\n", ("us per " + f.name).c_str(), f.value > 0 ? median / f.value : 0.0);
      else
        std::printf("  %-38s %14.0f\n", f.name.c_str(), f.value);
    }
  }
  return 0;
}
