// The configuration wizard behind DLLEdDev: a chain of modal pages that edit a working copy of
// the host's parameter block. The start page (1) leads to the board page (4); the debug page is
// opened from the start page and is not in the chain. Page numbers 0 and 8 end the chain. The host
// block is written only by a Finish ("完成"); the result tells the host whether anything changed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "records/pdb.h"
#include "ui/controls.h"
#include "wizard/catalogue.h"

namespace vorel::wizard {

// The driver's descriptive strings the pages show (from its version resource). Empty strings are
// shown as empty: the captions are then the forms' own.
struct WizardTexts {
  std::string DeviceName;
  std::string DevIDName;
  std::string InternalName;
  std::string FileVersion;
  std::string FileDescription;
};

struct WizardEnvironment {
  WizardTexts texts;
  std::string log_path;                       // the run log the debug page shows
  const BoardCatalogue* catalogue = nullptr;  // nullptr: the driver's own models
};

enum OperationMode : uint8_t { kOpNew = 0, kOpModify = 1, kOpView = 2 };

constexpr uint8_t kPageStart = 1;
constexpr uint8_t kPageBoard = 4;
constexpr uint8_t kPageEnd = 8;
constexpr int kHistoryRoom = 11;

// The state of one wizard run, shared by its pages.
class WizardRun {
 public:
  WizardRun(const WizardEnvironment& env, TDeviceParams& host_block);

  const WizardEnvironment& env() const { return env_; }
  const WizardTexts& texts() const { return env_.texts; }
  const BoardCatalogue& catalogue() const { return *catalogue_; }
  TDeviceParams& working() { return *working_; }

  uint8_t next_page = kPageEnd;
  bool modified = false;
  uint8_t operation_mode = kOpNew;

  // "Next": remembers the page left; "Last": goes back to it (page 1 when nothing is left).
  void push(uint8_t page);
  uint8_t Pop();

  // Copies the working copy into the host block (the Finish of a page).
  void commit();

  // "欢迎使用" + DeviceName + "配置向导", the header of every page.
  std::string welcome() const;

 private:
  const WizardEnvironment& env_;
  const BoardCatalogue* catalogue_;
  TDeviceParams& host_block_;
  std::unique_ptr<TDeviceParams> working_;
  std::array<uint8_t, kHistoryRoom> history_{};
  int8_t depth_ = 0;
};

// The page form of a page number, nullptr for the numbers that end the chain.
std::unique_ptr<ui::Form> create_page(uint8_t page, WizardRun& run);

// One wizard run over the host's block, modal over host_window: 1 when the run ended with the
// modified flag set, else 2. A second run while one is active (another thread, or a page calling
// back into the driver) returns 2 at once and does not touch its block.
int32_t run_wizard(void* host_window, TDeviceParams& host_block, const WizardEnvironment& env);

}  // namespace vorel::wizard
