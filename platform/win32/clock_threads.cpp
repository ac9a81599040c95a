// Win32 clock, thread slot, locks, threads, events and library loading. Nothing here is newer
// than Windows XP.
#include <process.h>
#include <windows.h>

#include <memory>
#include <new>
#include <stdexcept>

#include "platform/platform.h"

namespace platform {

namespace {

class SystemClock : public Clock {
 public:
  uint32_t ticks() override { return GetTickCount(); }
  LocalDateTime now() override {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
  }
};

}  // namespace

uint64_t monotonic_ns() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const uint64_t ticks = static_cast<uint64_t>(now.QuadPart);
  return ticks / frequency * 1000000000u + ticks % frequency * 1000000000u / frequency;
}

void sleep_ms(uint32_t ms) { Sleep(ms); }

Clock& system_clock() {
  static SystemClock* instance = new SystemClock;  // read until the module unloads
  return *instance;
}

// ---------------------------------------------------------------- ThreadSlot
// Windows has no per-slot destructor: DllMain's thread detach destroys what the slot holds.

ThreadSlot::~ThreadSlot() { release(); }

bool ThreadSlot::allocate(Destructor) {
  if (allocated_) return true;
  DWORD index = TlsAlloc();
  if (index == TLS_OUT_OF_INDEXES) return false;
  index_ = index;
  allocated_ = true;
  return true;
}

void ThreadSlot::release() {
  if (!allocated_) return;
  TlsFree(index_);
  allocated_ = false;
}

void* ThreadSlot::get() const { return allocated_ ? TlsGetValue(index_) : nullptr; }

void ThreadSlot::set(void* value) {
  if (allocated_) TlsSetValue(index_, value);
}

// ---------------------------------------------------------------- Mutex

namespace {
CRITICAL_SECTION& section(unsigned char* storage) {
  return *std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

Mutex::Mutex() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_) && alignof(CRITICAL_SECTION) <= 8);
  InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

Mutex::~Mutex() { DeleteCriticalSection(&section(storage_)); }

void Mutex::lock() { EnterCriticalSection(&section(storage_)); }

bool Mutex::try_lock() { return TryEnterCriticalSection(&section(storage_)) != FALSE; }

void Mutex::unlock() { LeaveCriticalSection(&section(storage_)); }

void yield_thread() { Sleep(0); }

// ---------------------------------------------------------------- Thread
// Started through the C run-time (_beginthreadex), so that its per-thread state is set up for
// the body and freed at the end.

struct Thread::Impl {
  HANDLE handle;
};

namespace {
unsigned __stdcall run_thread_body(void* start) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(start));
  (*body)();
  return 0;
}
}  // namespace

Thread::Thread(std::function<void()> body) {
  auto start = std::make_unique<std::function<void()>>(std::move(body));
  const uintptr_t handle = _beginthreadex(nullptr, 0, &run_thread_body, start.get(), 0, nullptr);
  if (handle == 0) throw std::runtime_error("the system could not start a thread");
  start.release();  // the thread owns it now
  impl_ = new Impl{reinterpret_cast<HANDLE>(handle)};
}

Thread::~Thread() { join(); }

bool Thread::wait(uint32_t timeout_ms) {
  return !impl_ || WaitForSingleObject(impl_->handle, timeout_ms) == WAIT_OBJECT_0;
}

void Thread::join() {
  if (!impl_) return;
  WaitForSingleObject(impl_->handle, INFINITE);
  detach();
}

void Thread::detach() {
  if (!impl_) return;
  CloseHandle(impl_->handle);
  delete impl_;
  impl_ = nullptr;
}

// ---------------------------------------------------------------- AutoResetEvent

struct AutoResetEvent::Impl {
  HANDLE handle;
};

AutoResetEvent::AutoResetEvent(bool initially_signalled) {
  HANDLE h = CreateEventA(nullptr, FALSE, initially_signalled ? TRUE : FALSE, nullptr);
  if (h) impl_ = new Impl{h};
}

AutoResetEvent::~AutoResetEvent() {
  if (!impl_) return;
  CloseHandle(impl_->handle);
  delete impl_;
}

void AutoResetEvent::set() {
  if (impl_) SetEvent(impl_->handle);
}

bool AutoResetEvent::wait(uint32_t timeout_ms) {
  return impl_ && WaitForSingleObject(impl_->handle, timeout_ms) == WAIT_OBJECT_0;
}

void signal_host_event(uint32_t handle) {
  if (handle) SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)));
}

uint32_t create_host_event() {
  HANDLE h = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(h));
}

bool wait_host_event(uint32_t handle, uint32_t timeout_ms) {
  return handle && WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)),
                                       timeout_ms) == WAIT_OBJECT_0;
}

void close_host_event(uint32_t handle) {
  if (handle) CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle)));
}

// ---------------------------------------------------------------- libraries

LibraryHandle find_loaded_library(const char* name) { return GetModuleHandleA(name); }

LibraryHandle load_library(const char* name) { return LoadLibraryA(name); }

void* resolve(LibraryHandle library, const char* symbol) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), symbol));
}

void free_library(LibraryHandle library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

void* process_heap_alloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }
void process_heap_free(void* block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

std::string own_module_path() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&own_module_path), &self))
    return {};
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  return std::string(path, n);
}

}  // namespace platform
