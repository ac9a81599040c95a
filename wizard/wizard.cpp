#include "wizard/wizard.h"

#include <atomic>

#include "platform/platform.h"
#include "ui/services.h"
#include "wizard/board_page.h"
#include "wizard/start_page.h"

namespace vorel::wizard {

namespace {

// One wizard run at a time in the module: its pages share the application's window handle.
std::atomic<bool> g_running{false};

class RunningFlag {
 public:
  RunningFlag() : owned_(!g_running.exchange(true)) {}
  ~RunningFlag() {
    if (owned_) g_running.store(false);
  }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;
  bool owned() const { return owned_; }

 private:
  bool owned_;
};

// The application's window points at the host's for the run, and back afterwards however the
// run ends.
class OwnerWindow {
 public:
  explicit OwnerWindow(void* host_window) : saved_(ui::app().Handle()) { ui::app().SetHandle(host_window); }
  ~OwnerWindow() { ui::app().SetHandle(saved_); }
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;

 private:
  void* saved_;
};

// Runs the chain from page n; signals the completion event when a page number ends it.
void run_chain(uint8_t n, WizardRun& run, platform::AutoResetEvent& completed) {
  for (;;) {
    std::unique_ptr<ui::Form> page = create_page(n, run);
    if (!page) {
      completed.set();
      return;
    }
    page->ShowModal();
    page.reset();
    n = run.next_page;
  }
}

}  // namespace

WizardRun::WizardRun(const WizardEnvironment& env, TDeviceParams& host_block)
    : env_(env),
      catalogue_(env.catalogue ? env.catalogue : &driver_catalogue()),
      host_block_(host_block),
      working_(std::make_unique<TDeviceParams>()) {
  CopyPDB(host_block_, *working_);
}

void WizardRun::push(uint8_t page) {
  if (depth_ < kHistoryRoom) history_[depth_++] = page;
}

uint8_t WizardRun::Pop() {
  if (depth_ > 0) --depth_;
  return history_[depth_];
}

void WizardRun::commit() { CopyPDB(*working_, host_block_); }

std::string WizardRun::welcome() const { return "欢迎使用" + texts().DeviceName + "配置向导"; }

std::unique_ptr<ui::Form> create_page(uint8_t page, WizardRun& run) {
  switch (page) {
    case kPageStart:
      return std::make_unique<TStartFrm>(run);
    case kPageBoard:
      return std::make_unique<TStep11Frm>(run);
    default:
      return nullptr;
  }
}

int32_t run_wizard(void* host_window, TDeviceParams& host_block, const WizardEnvironment& env) {
  const RunningFlag running;
  if (!running.owned()) return 2;
  platform::AutoResetEvent completed(false);
  WizardRun run(env, host_block);
  bool finished = false;
  {
    const OwnerWindow owner(host_window);
    run_chain(kPageStart, run, completed);
    // The chain has signalled before this wait, which therefore returns at once.
    finished = completed.wait(0xFFFFFFFFu);
  }
  return finished && run.modified ? 1 : 2;
}

}  // namespace vorel::wizard
