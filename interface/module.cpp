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

void Load() {
  State& s = state();
  if (s.loaded) return;
  s.slot.allocate(&destroy_engine);
  ThreadAttach();
  s.admission = std::make_unique<platform::AutoResetEvent>(true);
  if (!s.admission->valid()) s.admission.reset();
  s.loaded = true;
}

void ThreadAttach() {
  // Read only: a failure is shown later by the first export that needs the strings, never here
  // under the loader lock.
  RefreshDriverFileInfo(platform::own_module_path());
  InitLogPath();
  state().slot.set(nullptr);
}

void ThreadDetach() { DestroyCurrentEngine(); }

void Unload() {
  State& s = state();
  if (!s.loaded) return;
  ThreadDetach();
  s.admission.reset();
  s.slot.release();
  s.loaded = false;
}

bool Loaded() { return state().loaded; }

DriverEngine* CurrentEngine() { return static_cast<DriverEngine*>(state().slot.get()); }

void SetCurrentEngine(std::unique_ptr<DriverEngine> engine) {
  DestroyCurrentEngine();
  state().slot.set(engine.release());
}

void DestroyCurrentEngine() {
  State& s = state();
  DriverEngine* engine = static_cast<DriverEngine*>(s.slot.get());
  if (!engine) return;
  s.slot.set(nullptr);
  delete engine;
}

platform::AutoResetEvent* AdmissionEvent() { return state().admission.get(); }

namespace {
constexpr uint32_t kAdmissionWaitMs = 5000;
std::atomic<uint32_t> g_admission_wait_ms{kAdmissionWaitMs};
}  // namespace

uint32_t AdmissionWaitMs() { return g_admission_wait_ms.load(); }
void SetAdmissionWaitMs(uint32_t ms) { g_admission_wait_ms.store(ms); }

}  // namespace vorel::module
