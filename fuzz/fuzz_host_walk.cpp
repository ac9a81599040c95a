// Host operations chosen by the fuzzer's bytes over a running driver: starts, added tags, stops,
// polls, writes, immediate reads, pauses, card faults and time, with the random walk's checks
// after every step (tests/walk/host_walk.h). A broken check aborts with its description.
#include <cstdio>
#include <cstdlib>

#include "fuzz_support.h"
#include "tests/walk/host_walk.h"

namespace {
constexpr int kMostSteps = 400;  // a longer input drives a longer walk, up to this
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::enter_scratch_folder();
  walk::ByteChoices choices(data, size);
  walk::MemoryHooks hooks;
  hooks.release = [](char* text) { fuzz::release(text); };
  walk::HostWalk host(choices, hooks);
  std::optional<std::string> broken;
  for (int i = 0; i < kMostSteps && choices.More() && !broken; ++i) broken = host.Step();
  if (!broken) broken = host.Finish();
  if (broken) {
    std::fprintf(stderr, "host walk: %s\n", broken->c_str());
    std::abort();
  }
  return 0;
}
