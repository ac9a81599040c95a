// What the exports call beyond the module state: the engine factory (which tests may replace),
// the configuration wizard and the test dialog given the driver's version texts and run-log path,
// and IniDriver and TagEdAddr with the driver's own strings, for the test dialog.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dialogs/device_window.h"
#include "interface/driver_engine.h"
#include "records/pdb.h"

namespace vorel {

// A new engine, or nullptr when none can be built.
std::unique_ptr<DriverEngine> create_driver_engine(bool first_instance);

// One wizard run over the host's block: 1 when the block was changed, 2 when not.
int32_t run_configuration_wizard(void* host_window, TDeviceParams& host_block);

// The test dialog on a private copy of the block.
bool run_test_dialog(TDeviceParams& block, bool interactive);
// What the test dialog is given of the driver: the thread's engine and the two entry points below.
dialogs::TestEnvironment test_dialog_environment();

// IniDriver and TagEdAddr with texts of the driver's own instead of host strings; the exports
// wrap them, and the test dialog starts its engines and checks its addresses through them. Both
// may throw where the exports catch.
bool start_thread_engine(int32_t count, TTagInfo** tags, TDeviceParams* block, std::string& message);
bool check_tag_address(const TDeviceParams* block, std::string& address, bool skip_check,
                       std::string& message);

// Tests replace the engine factory to drive the exports; nullptr restores the driver's own.
using EngineFactory = std::unique_ptr<DriverEngine> (*)(bool first_instance);
void set_engine_factory(EngineFactory factory);

}  // namespace vorel
