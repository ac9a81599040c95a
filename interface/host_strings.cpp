#include "interface/host_strings.h"

#include <cstring>
#include <mutex>

#include "engine/run_log.h"
#include "platform/platform.h"
#include "support/delphi.h"

namespace vorel {

namespace {

// The manager's entry points use the register convention: the argument arrives in EAX.
#if defined(__i386__)
#define VOREL_REGISTER_CALL __attribute__((regparm(3)))
#else
#define VOREL_REGISTER_CALL
#endif

using SysGetMemFn = void*(VOREL_REGISTER_CALL*)(int32_t size);

#if defined(_WIN32)
constexpr const char* kManagerLibrary = "borlndmm.dll";
constexpr const char* kGetMemSymbol = "@Borlndmm@SysGetMem$qqri";
#else
constexpr const char* kManagerLibrary = "libborlndmm.so";
constexpr const char* kGetMemSymbol = "SysGetMem";
#endif

struct Manager {
  platform::Mutex mutex;
  bool resolved = false;
  SysGetMemFn get_mem = nullptr;
};

Manager& manager() {
  static Manager* m = new Manager;  // used until the module unloads
  return *m;
}

SysGetMemFn resolve_get_mem() {
  Manager& m = manager();
  std::lock_guard lock(m.mutex);
  if (!m.resolved) {
    m.resolved = true;
    platform::LibraryHandle lib = platform::find_loaded_library(kManagerLibrary);
    if (!lib) lib = platform::load_library(kManagerLibrary);  // kept loaded for the process
    m.get_mem = reinterpret_cast<SysGetMemFn>(platform::resolve(lib, kGetMemSymbol));
    if (!m.get_mem)
      append_run_log(now_text() + "：找不到共享内存管理器" + kManagerLibrary +
                     "，返回主机的字符串改用进程堆分配！\r\n");
  }
  return m.get_mem;
}

}  // namespace

char* new_host_string(std::string_view text) {
  if (text.empty()) return nullptr;
  const size_t size = text.size() + 1;
  char* block = nullptr;
  if (SysGetMemFn get_mem = resolve_get_mem())
    block = static_cast<char*>(get_mem(static_cast<int32_t>(size)));
  else
    block = static_cast<char*>(platform::process_heap_alloc(size));
  if (!block) return nullptr;
  std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  return block;
}

void put_host_string(char** out, std::string_view text) {
  if (out) *out = new_host_string(text);
}

std::string from_host_string(const char* text) { return text ? std::string(text) : std::string(); }

bool host_strings_use_process_heap() { return resolve_get_mem() == nullptr; }

void reset_host_memory_manager() {
  Manager& m = manager();
  std::lock_guard lock(m.mutex);
  m.resolved = false;
  m.get_mem = nullptr;
}

}  // namespace vorel
