// A wizard run on a host block whose reserved bytes are marked, under the headless backend.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "records/pdb.h"
#include "temp_dir.h"
#include "tests/common/headless.h"
#include "wizard/wizard.h"

namespace vorel::wizard::testing {

inline WizardTexts BuiltTexts() {
  return {"VorelPCI系列板卡", "板卡号", "Vorel_PCI", "4.0.0.4", "支持VorelPCI-7505板卡"};
}

// The host's block: FullPDB over bytes of 0xCD, so that a write to a reserved byte shows.
inline std::unique_ptr<TDeviceParams> HostBlock() {
  auto b = std::make_unique<TDeviceParams>();
  std::memset(b.get(), 0xCD, sizeof *b);
  FullPDB(b.get());
  return b;
}

inline bool SameBytes(const TDeviceParams& a, const TDeviceParams& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The page a script runs on, as the class it is.
template <class Page>
Page& PageOf(ui::headless::Driver& d) {
  auto* p = dynamic_cast<Page*>(&d.form());
  if (!p) throw ui::headless::ScriptError{"unexpected page " + d.form().Name()};
  return *p;
}

class WizardTest : public ::testing::Test {
 protected:
  WizardTest() {
    env.texts = BuiltTexts();
    env.log_path = dir.file("Vorel_PCI.Log");
    ui->set_screen({1024, 768});
  }
  int Run() { return run_wizard(kHostWindow, *host, env); }
  static inline void* const kHostWindow = reinterpret_cast<void*>(0x00010EA8);
  ui::headless::Session ui;
  testing_support::TempDir dir;
  WizardEnvironment env;
  std::unique_ptr<TDeviceParams> host = HostBlock();
};

}  // namespace vorel::wizard::testing
