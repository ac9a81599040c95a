#include "interface/seams.h"

#include <atomic>

#include "card/DLLRealize.h"
#include "dialogs/DLLTest.h"
#include "engine/run_log.h"
#include "interface/engine_adapter.h"
#include "interface/module.h"
#include "support/getfileinfo.h"
#include "wizard/wizard.h"

namespace vorel {

namespace {
std::atomic<EngineFactory> g_factory{nullptr};
}

void SetEngineFactory(EngineFactory factory) { g_factory.store(factory); }

std::unique_ptr<DriverEngine> CreateDriverEngine(bool first_instance) {
  if (EngineFactory f = g_factory.load()) return f(first_instance);
  return std::make_unique<EngineAdapter>(std::make_unique<TDLLObject>(first_instance));
}

int32_t RunConfigurationWizard(void* host_window, TDeviceParams& host_block) {
  const std::shared_ptr<const TfileInfo> info = DriverFileInfo();
  wizard::WizardEnvironment env;
  if (info) {
    env.texts.DeviceName = info->DeviceName();
    env.texts.DevIDName = info->DevIDName();
    env.texts.InternalName = (*info)[kInternalName];
    env.texts.FileVersion = info->FileVersion();
    env.texts.FileDescription = (*info)[kFileDescription];
  }
  env.log_path = RunLogPath();
  return wizard::RunWizard(host_window, host_block, env);
}

dialogs::TestEnvironment TestDialogEnvironment() {
  dialogs::TestEnvironment env;
  env.start = StartThreadEngine;
  env.engine = []() -> TBaseDLLObject* {
    auto* adapter = dynamic_cast<EngineAdapter*>(module::CurrentEngine());
    return adapter ? &adapter->engine() : nullptr;
  };
  env.check_address = [](const TDeviceParams* params, std::string& address) {
    std::string message;
    return CheckTagAddress(params, address, false, message);
  };
  return env;
}

bool RunTestDialog(TDeviceParams& block, bool interactive) {
  return dialogs::RunTestDialog(block, interactive, TestDialogEnvironment());
}

}  // namespace vorel
