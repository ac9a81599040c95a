#include "interface/module.h"

#include <atomic>

#include "engine/run_log.h"
#include "support/getfileinfo.h"

namespace vorel::module {

namespace {

struct State {
  platform::ThreadSlot slot;
  std::unique_ptr<platform::AutoResetEvent> admission;
  bool loaded = false;
};

State& state() {
  // Never destroyed: DllMain's process detach may run after static destructors on some loaders.
  static State* s = new State;
  return *s;
}

void destroy_engine(void* engine) { delete static_cast<DriverEngine*>(engine); }

}  // namespace

void load() {
  State& s = state();
  if (s.loaded) return;
  s.slot.allocate(&destroy_engine);
  thread_attach();
  s.admission = std::make_unique<platform::AutoResetEvent>(true);
  if (!s.admission->valid()) s.admission.reset();
  s.loaded = true;
}

void thread_attach() {
  // Read only: a failure is shown later by the first export that needs the strings, never here
  // under the loader lock.
  refresh_driver_file_info(platform::own_module_path());
  InitLogPath();
  state().slot.set(nullptr);
}

void thread_detach() { destroy_current_engine(); }

void unload() {
  State& s = state();
  if (!s.loaded) return;
  thread_detach();
  s.admission.reset();
  s.slot.release();
  s.loaded = false;
}

bool loaded() { return state().loaded; }

DriverEngine* current_engine() { return static_cast<DriverEngine*>(state().slot.get()); }

void set_current_engine(std::unique_ptr<DriverEngine> engine) {
  destroy_current_engine();
  state().slot.set(engine.release());
}

void destroy_current_engine() {
  State& s = state();
  DriverEngine* engine = static_cast<DriverEngine*>(s.slot.get());
  if (!engine) return;
  s.slot.set(nullptr);
  delete engine;
}

platform::AutoResetEvent* admission_event() { return state().admission.get(); }

namespace {
constexpr uint32_t kAdmissionWaitMs = 5000;
std::atomic<uint32_t> g_admission_wait_ms{kAdmissionWaitMs};
}  // namespace

uint32_t admission_wait_ms() { return g_admission_wait_ms.load(); }
void set_admission_wait_ms(uint32_t ms) { g_admission_wait_ms.store(ms); }

}  // namespace vorel::module
