#include "interface/seams.h"

#include <atomic>

#include "card/DLLRealize.h"
#include "dialogs/device_window.h"
#include "engine/run_log.h"
#include "interface/engine_adapter.h"
#include "interface/module.h"
#include "support/getfileinfo.h"
#include "wizard/wizard.h"

namespace vorel {

namespace {
std::atomic<EngineFactory> g_factory{nullptr};
}

void set_engine_factory(EngineFactory factory) { g_factory.store(factory); }

std::unique_ptr<DriverEngine> create_driver_engine(bool first_instance) {
  if (EngineFactory f = g_factory.load()) return f(first_instance);
  return std::make_unique<EngineAdapter>(std::make_unique<TDLLObject>(first_instance));
}

int32_t run_configuration_wizard(void* host_window, TDeviceParams& host_block) {
  const std::shared_ptr<const TfileInfo> info = driver_file_info();
  wizard::WizardEnvironment env;
  if (info) {
    env.texts.DeviceName = info->DeviceName();
    env.texts.DevIDName = info->DevIDName();
    env.texts.InternalName = (*info)[kInternalName];
    env.texts.FileVersion = info->FileVersion();
    env.texts.FileDescription = (*info)[kFileDescription];
  }
  env.log_path = run_log_path();
  return wizard::run_wizard(host_window, host_block, env);
}

dialogs::TestEnvironment test_dialog_environment() {
  dialogs::TestEnvironment env;
  env.start = start_thread_engine;
  env.engine = []() -> TBaseDLLObject* {
    auto* adapter = dynamic_cast<EngineAdapter*>(module::current_engine());
    return adapter ? &adapter->engine() : nullptr;
  };
  env.check_address = [](const TDeviceParams* params, std::string& address) {
    std::string message;
    return check_tag_address(params, address, false, message);
  };
  return env;
}

bool run_test_dialog(TDeviceParams& block, bool interactive) {
  return dialogs::run_test_dialog(block, interactive, test_dialog_environment());
}

}  // namespace vorel
