// Seeded random walks of host operations over the driver (tests/walk/host_walk.h lists what each
// step checks). make test runs a short walk over a few seeds; a long one is the same program with
// VOREL_WALK_SEEDS and VOREL_WALK_STEPS set, e.g. 200 seeds of 5000 steps.
//
// Every heap block carries a small header saying whether it was allocated during a call into the
// driver, so that the driver's live blocks are counted apart from the walk's and the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>

#include "engine/run_log.h"
#include "engine_probe.h"
#include "host_memory.h"
#include "temp_dir.h"
#include "tests/walk/host_walk.h"

namespace {

thread_local bool g_in_driver = false;
std::atomic<int64_t> g_driver_blocks{0};

// Header before each block: whether it is the driver's, and where the allocation starts.
struct alignas(16) Header {
  void* base;
  bool driver;
};
static_assert(sizeof(Header) == 16);

void* Allocate(std::size_t size, std::size_t align) {
  align = std::max<std::size_t>(align, alignof(Header));
  const std::size_t offset = (sizeof(Header) + align - 1) / align * align;
  void* base = std::malloc(size + offset + align);
  if (!base) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(base) + offset;
  auto* p = reinterpret_cast<void*>((start + align - 1) / align * align);
  Header* h = static_cast<Header*>(p) - 1;
  h->base = base;
  h->driver = g_in_driver;
  if (h->driver) g_driver_blocks.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void Release(void* p) noexcept {
  if (!p) return;
  Header* h = static_cast<Header*>(p) - 1;
  if (h->driver) g_driver_blocks.fetch_sub(1, std::memory_order_relaxed);
  std::free(h->base);
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, 16); }
void* operator new[](std::size_t size) { return Allocate(size, 16); }
void* operator new(std::size_t size, std::align_val_t a) {
  return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return Allocate(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size, 16);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }

namespace {

// Wall-clock seconds of a monotonic clock (<chrono> does not compile with the GBK literals).
double Seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text && *text ? std::strtoull(text, nullptr, 10) : fallback;
}

TEST(RandomWalk, HostOperationsKeepEveryInvariant) {
  unsetenv("PCI7505_SIM");
  testing_support::ScopedCurrentDir folder;
  vorel::InitLogPath();
  const testing_support::HostMemory& host = testing_support::HostMemory::instance();
  walk::MemoryHooks hooks;
  hooks.release = [&host](char* text) { host.release(text); };
  hooks.live_strings = [&host] { return static_cast<int64_t>(host.live()); };
  hooks.live_driver_blocks = [] { return g_driver_blocks.load(); };
  hooks.driver_calls = [](bool on) { g_in_driver = on; };

  const uint64_t seeds = FromEnvironment("VOREL_WALK_SEEDS", 8);
  const uint64_t steps = FromEnvironment("VOREL_WALK_STEPS", 2500);
  const uint64_t first_seed = FromEnvironment("VOREL_WALK_FIRST_SEED", 1);
  const double began = Seconds();
  walk::Figures total;
  for (uint64_t seed = first_seed; seed < first_seed + seeds; ++seed) {
    walk::SeededChoices choices(seed);
    walk::HostWalk w(choices, hooks);
    std::optional<std::string> broken;
    for (uint64_t i = 0; i < steps && !broken; ++i) broken = w.Step();
    if (!broken) broken = w.Finish();
    ASSERT_FALSE(broken) << "seed " << seed << ", step " << w.figures().steps << ": " << *broken;
    const walk::Figures& f = w.figures();
    total.steps += f.steps;
    total.polls += f.polls;
    total.accepted_writes += f.accepted_writes;
    total.failure_reports += f.failure_reports;
    total.starts += f.starts;
    total.restarts += f.restarts;
    total.stops += f.stops;
    total.settles += f.settles;
    total.faults += f.faults;
  }
  const double seconds = Seconds() - began;
  std::printf(
      "random walk: %llu seeds from %llu, %llu steps (%llu polls, %llu accepted writes, %llu failure "
      "reports, %llu starts, %llu restarts, %llu stops, %llu settles, %llu card faults) in %.1f s\n",
      static_cast<unsigned long long>(seeds), static_cast<unsigned long long>(first_seed),
      static_cast<unsigned long long>(total.steps), static_cast<unsigned long long>(total.polls),
      static_cast<unsigned long long>(total.accepted_writes),
      static_cast<unsigned long long>(total.failure_reports), static_cast<unsigned long long>(total.starts),
      static_cast<unsigned long long>(total.restarts), static_cast<unsigned long long>(total.stops),
      static_cast<unsigned long long>(total.settles), static_cast<unsigned long long>(total.faults), seconds);
  vorel::InitLogPath();
}

}  // namespace
