// Counts heap allocations of the whole process, so a benchmark can report allocations per call.
#pragma once

#include <atomic>
#include <cstddef>

namespace bench {
extern std::atomic<long> g_allocations;
inline long allocations() { return g_allocations.load(std::memory_order_relaxed); }
}  // namespace bench
