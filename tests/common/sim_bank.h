// The simulated card bank as the native and the Wine suites drive it, through its control exports.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "sim/pci7505/sim7505.h"

namespace testing_support {

// The simulated bank, by default loaded the way the driver loads the vendor's library so that both
// see the same bank; kept loaded for the whole test so its counters outlive the engine's release.
// `path` names another copy (a broken variant in a folder of its own). Reset when loaded.
class SimBank {
 public:
  explicit SimBank(const std::string& path = "pci7505.dll") : library_(platform::load_library(path.c_str())) {
    if (!library_) return;
    reset_ = get<sim7505::ResetFn>("sim7505_reset");
    configure_ = get<sim7505::ConfigureFn>("sim7505_configure");
    set_present_ = get<sim7505::SetPresentFn>("sim7505_set_present");
    set_input_ = get<sim7505::SetInputFn>("sim7505_set_input");
    get_output_ = get<sim7505::GetOutputFn>("sim7505_get_output");
    set_loopback_ = get<sim7505::SetLoopbackFn>("sim7505_set_loopback");
    set_fault_ = get<sim7505::SetFaultFn>("sim7505_set_fault");
    calls_ = get<sim7505::CallsFn>("sim7505_calls");
    closes_ = get<sim7505::ClosesFn>("sim7505_closes");
    bad_calls_ = get<sim7505::BadCallsFn>("sim7505_bad_calls");
    if (loaded()) reset_();
  }
  ~SimBank() { release(); }
  SimBank(const SimBank&) = delete;
  SimBank& operator=(const SimBank&) = delete;

  // Every control export is there.
  bool loaded() const {
    return library_ && reset_ && configure_ && set_present_ && set_input_ && get_output_ && set_loopback_ &&
           set_fault_ && calls_ && closes_ && bad_calls_;
  }
  // Lets the library go before the test ends (the driver may still hold it).
  void release() {
    if (library_) platform::free_library(library_);
    library_ = nullptr;
  }
  void reset() { reset_(); }
  bool configure(const char* text) { return configure_(text) != 0; }
  void present(int32_t card, bool present) { set_present_(card, present); }
  void input(int32_t card, int32_t port, int32_t value) { set_input_(card, port, value); }
  int32_t output(int32_t card, int32_t port) { return get_output_(card, port); }
  void loopback(int32_t card, bool on) { set_loopback_(card, on); }
  void fault(sim7505::Entry entry, sim7505::FaultMode mode, int32_t arg = 0) { set_fault_(entry, mode, arg); }
  int32_t calls(sim7505::Entry entry) { return calls_(entry); }
  int32_t closes(int32_t card) { return closes_(card); }
  int32_t bad_calls() { return bad_calls_(); }

 private:
  template <class Fn>
  Fn get(const char* name) {
    return reinterpret_cast<Fn>(platform::resolve(library_, name));
  }
  platform::LibraryHandle library_;
  sim7505::ResetFn reset_ = nullptr;
  sim7505::ConfigureFn configure_ = nullptr;
  sim7505::SetPresentFn set_present_ = nullptr;
  sim7505::SetInputFn set_input_ = nullptr;
  sim7505::GetOutputFn get_output_ = nullptr;
  sim7505::SetLoopbackFn set_loopback_ = nullptr;
  sim7505::SetFaultFn set_fault_ = nullptr;
  sim7505::CallsFn calls_ = nullptr;
  sim7505::ClosesFn closes_ = nullptr;
  sim7505::BadCallsFn bad_calls_ = nullptr;
};

}  // namespace testing_support
