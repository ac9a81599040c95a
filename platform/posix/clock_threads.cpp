// POSIX clock, thread slot, event and library loading.
#include <dlfcn.h>
#include <pthread.h>
#include <time.h>

#include <cstdlib>
#include <condition_variable>
#include <map>
#include <mutex>

#include "platform/platform.h"

namespace platform {

namespace {

class SystemClock : public Clock {
 public:
  uint32_t ticks() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }
  LocalDateTime now() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
            local.tm_min,         local.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
  }
};

}  // namespace

uint64_t monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

Clock& system_clock() {
  static SystemClock* instance = new SystemClock;  // read until the module unloads
  return *instance;
}

// ---------------------------------------------------------------- ThreadSlot

ThreadSlot::~ThreadSlot() { release(); }

bool ThreadSlot::allocate(Destructor on_thread_exit) {
  if (allocated_) return true;
  pthread_key_t key;
  if (pthread_key_create(&key, on_thread_exit) != 0) return false;
  index_ = key;
  allocated_ = true;
  return true;
}

void ThreadSlot::release() {
  if (!allocated_) return;
  pthread_key_delete(static_cast<pthread_key_t>(index_));
  allocated_ = false;
}

void* ThreadSlot::get() const {
  return allocated_ ? pthread_getspecific(static_cast<pthread_key_t>(index_)) : nullptr;
}

void ThreadSlot::set(void* value) {
  if (allocated_) pthread_setspecific(static_cast<pthread_key_t>(index_), value);
}

// ---------------------------------------------------------------- AutoResetEvent

struct AutoResetEvent::Impl {
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
};

AutoResetEvent::AutoResetEvent(bool initially_signalled) : impl_(new Impl) {
  impl_->signalled = initially_signalled;
}

AutoResetEvent::~AutoResetEvent() { delete impl_; }

void AutoResetEvent::set() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->signalled = true;
  }
  impl_->cv.notify_one();
}

bool AutoResetEvent::wait(uint32_t timeout_ms) {
  std::unique_lock lock(impl_->mutex);
  if (!impl_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return impl_->signalled; }))
    return false;
  impl_->signalled = false;
  return true;
}

// There are no host event handles on POSIX; tests count the signals per handle instead.
namespace {
std::mutex g_signal_mutex;
std::map<uint32_t, int> g_signals;
}  // namespace

void signal_host_event(uint32_t handle) {
  if (!handle) return;
  std::lock_guard lock(g_signal_mutex);
  ++g_signals[handle];
}

namespace test_stores {
int host_event_signals(uint32_t handle) {
  std::lock_guard lock(g_signal_mutex);
  auto it = g_signals.find(handle);
  return it == g_signals.end() ? 0 : it->second;
}
}  // namespace test_stores

// ---------------------------------------------------------------- libraries

LibraryHandle find_loaded_library(const char* name) {
  void* handle = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);  // RTLD_NOLOAD still counts a reference
  return handle;
}

LibraryHandle load_library(const char* name) { return dlopen(name, RTLD_NOW | RTLD_LOCAL); }

void* resolve(LibraryHandle library, const char* symbol) {
  return library ? dlsym(library, symbol) : nullptr;
}

void free_library(LibraryHandle library) {
  if (library) dlclose(library);
}

void* process_heap_alloc(size_t size) { return std::malloc(size); }

std::string own_module_path() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&own_module_path), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

}  // namespace platform
