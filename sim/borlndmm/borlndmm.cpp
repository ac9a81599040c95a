// Stand-in for the host's shared memory manager. It hands out blocks with the register calling
// convention of the real one and counts the blocks still live, so tests can prove that every host
// string the driver returned was handed over and freed.
#include <atomic>
#include <cstdint>
#include <cstdlib>

#if defined(__i386__)
#define REGISTER_CALL __attribute__((regparm(3)))
#else
#define REGISTER_CALL
#endif

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::atomic<int32_t> g_live{0};
std::atomic<int32_t> g_total{0};
}  // namespace

#if defined(_WIN32)
#define GET_MEM SysGetMemImpl
#define FREE_MEM SysFreeMemImpl
#else
#define GET_MEM SysGetMem
#define FREE_MEM SysFreeMem
#endif

SIM_EXPORT REGISTER_CALL void* GET_MEM(int32_t size) {
  if (size <= 0) return nullptr;
  void* block = std::malloc(static_cast<size_t>(size));
  if (block) {
    ++g_live;
    ++g_total;
  }
  return block;
}

// 0 = success, as the real manager answers.
SIM_EXPORT REGISTER_CALL int32_t FREE_MEM(void* block) {
  if (!block) return 1;
  std::free(block);
  --g_live;
  return 0;
}

SIM_EXPORT int32_t sim_live_blocks() { return g_live.load(); }
SIM_EXPORT int32_t sim_total_blocks() { return g_total.load(); }
