// Win32 clock, thread slot, event and library loading.
#include <windows.h>

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
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&own_module_path), &self))
    return {};
  char path[MAX_PATH + 1] = {};
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  return std::string(path, n);
}

}  // namespace platform
