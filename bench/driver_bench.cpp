// Google Benchmark over the driver's hot-path scenarios, with heap allocations per step.
#include <benchmark/benchmark.h>

#include "alloc_counter.h"
#include "scenarios.h"

namespace {

void Run(benchmark::State& state, const bench::ScenarioInfo* info) {
  auto scenario = info->make();
  const long before = bench::allocations();
  for (auto _ : state) scenario->Step();
  state.counters["allocs_per_step"] =
      static_cast<double>(bench::allocations() - before) / static_cast<double>(state.iterations());
  // Items per step become time per item (seconds, shown with an SI prefix); other figures as they are.
  for (const bench::Figure& f : scenario->Figures())
    state.counters[f.per_item ? "time_per_" + f.name : f.name] =
        f.per_item ? benchmark::Counter(
                         f.value, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert)
                   : benchmark::Counter(f.value);
}

}  // namespace

int main(int argc, char** argv) {
  bench::EnterScratchFolder();
  for (const bench::ScenarioInfo& info : bench::Scenarios())
    benchmark::RegisterBenchmark(info.name.c_str(), &Run, &info)->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
