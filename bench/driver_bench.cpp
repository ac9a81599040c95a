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
