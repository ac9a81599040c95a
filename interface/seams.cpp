#include "interface/seams.h"

#include "card/DLLRealize.h"
#include "interface/engine_adapter.h"

#include <atomic>

namespace vorel {

namespace {
std::atomic<EngineFactory> g_factory{nullptr};
}

void SetEngineFactory(EngineFactory factory) { g_factory.store(factory); }

std::unique_ptr<DriverEngine> CreateDriverEngine(bool first_instance) {
  if (EngineFactory f = g_factory.load()) return f(first_instance);
  return std::make_unique<EngineAdapter>(std::make_unique<TDLLObject>(first_instance));
}

int32_t RunConfigurationWizard(void*, TDeviceParams&) {
  // Without the wizard pages nothing is edited, so the host's block is reported unchanged.
  return 2;
}

bool RunTestDialog(TDeviceParams&, bool) {
  // Without the test dialog no test can pass.
  return false;
}

}  // namespace vorel
