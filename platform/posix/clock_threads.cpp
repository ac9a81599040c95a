// POSIX clock, thread slot, locks, threads, events and library loading.
#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

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

void sleep_ms(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

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

// ---------------------------------------------------------------- Mutex

namespace {
std::mutex& std_mutex(unsigned char* storage) {
  return *std::launder(reinterpret_cast<std::mutex*>(storage));
}
}  // namespace

Mutex::Mutex() {
  static_assert(sizeof(std::mutex) <= sizeof(storage_) && alignof(std::mutex) <= 8);
  new (storage_) std::mutex;
}

Mutex::~Mutex() { std_mutex(storage_).~mutex(); }

void Mutex::lock() { std_mutex(storage_).lock(); }

bool Mutex::try_lock() { return std_mutex(storage_).try_lock(); }

void Mutex::unlock() { std_mutex(storage_).unlock(); }

void yield_thread() { sched_yield(); }

// ---------------------------------------------------------------- Thread

namespace {
// What the thread and its Thread share: the thread may outlive a detached Thread.
struct ThreadEnd {
  std::mutex mutex;
  std::condition_variable cv;
  bool ended = false;
};
}  // namespace

struct Thread::Impl {
  std::thread thread;
  std::shared_ptr<ThreadEnd> end;
};

Thread::Thread(std::function<void()> body) {
  auto end = std::make_shared<ThreadEnd>();
  try {
    std::thread thread([body = std::move(body), end] {
      body();
      std::lock_guard lock(end->mutex);
      end->ended = true;
      end->cv.notify_all();
    });
    impl_ = new Impl{std::move(thread), std::move(end)};
  } catch (const std::system_error&) {
    throw std::runtime_error("the system could not start a thread");
  }
}

Thread::~Thread() { join(); }

bool Thread::wait(uint32_t timeout_ms) {
  if (!impl_) return true;
  ThreadEnd& end = *impl_->end;
  std::unique_lock lock(end.mutex);
  return end.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return end.ended; });
}

void Thread::join() {
  if (!impl_) return;
  impl_->thread.join();
  delete impl_;
  impl_ = nullptr;
}

void Thread::detach() {
  if (!impl_) return;
  impl_->thread.detach();
  delete impl_;
  impl_ = nullptr;
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

// There are no host event handles on POSIX; tests count the signals per handle instead. An event
// of create_host_event() is signalled while its count is ahead of what its waits have taken.
namespace {
std::mutex g_signal_mutex;
std::condition_variable g_signal_cv;
std::map<uint32_t, int> g_signals;
std::map<uint32_t, int> g_signals_taken;  // by handle of create_host_event()
uint32_t g_next_host_event = 0x4E560001;  // far from the small numbers tests pass by hand
}  // namespace

void signal_host_event(uint32_t handle) {
  if (!handle) return;
  {
    std::lock_guard lock(g_signal_mutex);
    ++g_signals[handle];
  }
  g_signal_cv.notify_all();
}

uint32_t create_host_event() {
  std::lock_guard lock(g_signal_mutex);
  const uint32_t handle = g_next_host_event++;
  g_signals_taken[handle] = g_signals[handle];
  return handle;
}

bool wait_host_event(uint32_t handle, uint32_t timeout_ms) {
  std::unique_lock lock(g_signal_mutex);
  const auto taken = g_signals_taken.find(handle);
  if (taken == g_signals_taken.end()) return false;
  const auto signalled = [&] { return g_signals[handle] > taken->second; };
  // A host that looks at every poll (timeout 0) must not pay a timed futex wait each time.
  if (!signalled() &&
      (timeout_ms == 0 || !g_signal_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), signalled)))
    return false;
  taken->second = g_signals[handle];  // auto-reset: one wait takes every signal so far
  return true;
}

void close_host_event(uint32_t handle) {
  std::lock_guard lock(g_signal_mutex);
  g_signals_taken.erase(handle);
}

namespace test_stores {
int host_event_signals(uint32_t handle) {
  std::lock_guard lock(g_signal_mutex);
  auto it = g_signals.find(handle);
  return it == g_signals.end() ? 0 : it->second;
}
}  // namespace test_stores

// ---------------------------------------------------------------- libraries

// Windows looks for a library named without a folder in the program's own folder first, then
// along its search path. The native build names its shared objects lib<name>.so, so a bare
// "pci7505.dll" is looked for as <program folder>/libpci7505.so, then as libpci7505.so along the
// loader's path. Every other name is passed on as it is.
namespace {

std::mutex g_library_files_mutex;
std::map<std::string, std::string> g_library_files;  // test redirections, by lower-case name

std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string program_folder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  const std::string_view exe(path, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(exe.substr(0, slash + 1));
}

std::vector<std::string> library_candidates(const char* name) {
  const std::string lower = LowerCase(name);
  {
    std::lock_guard lock(g_library_files_mutex);
    auto it = g_library_files.find(lower);
    if (it != g_library_files.end()) return {it->second};
  }
  constexpr std::string_view kDll = ".dll";
  if (lower.find('/') != std::string::npos || lower.find('\\') != std::string::npos ||
      lower.size() <= kDll.size() || !lower.ends_with(kDll))
    return {name};
  const std::string file = "lib" + lower.substr(0, lower.size() - kDll.size()) + ".so";
  return {program_folder() + file, file};
}

}  // namespace

namespace test_stores {
void set_library_file(std::string_view name, std::string_view file) {
  std::lock_guard lock(g_library_files_mutex);
  if (file.empty())
    g_library_files.erase(LowerCase(name));
  else
    g_library_files[LowerCase(name)] = std::string(file);
}
}  // namespace test_stores

LibraryHandle find_loaded_library(const char* name) {
  for (const std::string& candidate : library_candidates(name)) {
    if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
      dlclose(handle);  // RTLD_NOLOAD still counts a reference
      return handle;
    }
  }
  return nullptr;
}

LibraryHandle load_library(const char* name) {
  for (const std::string& candidate : library_candidates(name))
    if (void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
  return nullptr;
}

void* resolve(LibraryHandle library, const char* symbol) {
  return library ? dlsym(library, symbol) : nullptr;
}

void free_library(LibraryHandle library) {
  if (library) dlclose(library);
}

void* process_heap_alloc(size_t size) { return std::malloc(size); }
void process_heap_free(void* block) { std::free(block); }

std::string own_module_path() {
  Dl_info info{};
  // A found address always comes with the file's name.
  return dladdr(reinterpret_cast<void*>(&own_module_path), &info) != 0 ? info.dli_fname : std::string();
}

}  // namespace platform
