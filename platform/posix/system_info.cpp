// System facts on POSIX, mapped onto the Windows records the reports are written from.
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <optional>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

#include "platform/platform.h"
#include "test_stores.h"

namespace platform {

OsVersionRecord os_version() {
  OsVersionRecord r;
  r.platform_id = 2;
  utsname u{};
  if (uname(&u) == 0) {
    unsigned major = 0, minor = 0, build = 0;
    std::sscanf(u.release, "%u.%u.%u", &major, &minor, &build);
    r.major = major;
    r.minor = minor;
    r.build = build;
  }
  return r;
}

bool windows_extensions_installed() { return false; }

ProcessorRecord processor_info() {
  ProcessorRecord r;
  const long page = sysconf(_SC_PAGESIZE);
  const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  r.architecture = 0;
  r.page_size = page > 0 ? static_cast<uint32_t>(page) : 4096;
  r.minimum_application_address = 0x10000;
  r.maximum_application_address = 0x7FFEFFFF;
  r.number_of_processors = cpus > 0 ? static_cast<uint32_t>(cpus) : 1;
  r.active_processor_mask = r.number_of_processors >= 64 ? ~0ull : ((1ull << r.number_of_processors) - 1);
  r.processor_type = 586;
  r.allocation_granularity = 65536;
  r.processor_level = 6;
  return r;
}

namespace {

std::mutex g_memory_mutex;
std::optional<test_stores::MemoryFigures> g_memory_figures;

}  // namespace

void test_stores::set_memory_figures(std::optional<MemoryFigures> figures) {
  std::lock_guard lock(g_memory_mutex);
  g_memory_figures = figures;
}

MemoryRecord memory_status() {
  test_stores::MemoryFigures f;
  if (std::lock_guard lock(g_memory_mutex); g_memory_figures) {
    f = *g_memory_figures;
  } else {
    struct sysinfo si {};
    if (sysinfo(&si) != 0) return {};
    f = {si.totalram, si.freeram, si.totalswap, si.freeswap, si.mem_unit};
  }
  auto clamp32 = [&](uint64_t units) {  // bytes, at most what 32 bits can say
    return units > 0xFFFFFFFFu / f.unit ? 0xFFFFFFFFu : static_cast<uint32_t>(units * f.unit);
  };
  MemoryRecord r;
  r.total_physical = clamp32(f.total_ram);
  r.available_physical = clamp32(f.free_ram);
  // As on Windows, the "page file" figures are the commit limit: physical memory plus swap.
  r.total_page_file = clamp32(f.total_ram + f.total_swap);
  r.available_page_file = clamp32(f.free_ram + f.free_swap);
  r.total_virtual = 0x7FFE0000u;
  r.available_virtual = 0x7FFE0000u;
  r.memory_load = f.total_ram ? static_cast<uint32_t>(100 - 100 * f.free_ram / f.total_ram) : 0;
  return r;
}

uint32_t logical_drives() { return 1u << 2; }  // a single "C:" root

uint64_t time_stamp_counter() {
#if defined(__x86_64__) || defined(__i386__)
  return __rdtsc();
#else
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
#endif
}

}  // namespace platform
