// The host's hot paths as repeatable scenarios: set up in the constructor, one unit of work per
// Step(), torn down in the destructor. Google Benchmark runs them natively; poll_timing runs the
// same scenarios where Google Benchmark is not available (the Windows build under Wine).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace bench {

// A figure a scenario measures besides its time per step.
struct Figure {
  std::string name;
  double value = 0;
  bool per_item = false;  // value is the number of items one step handles: shown as time per item
};

class Scenario {
 public:
  virtual ~Scenario() = default;
  virtual void Step() = 0;
  virtual std::vector<Figure> Figures() const { return {}; }
};

struct ScenarioInfo {
  std::string name;
  std::unique_ptr<Scenario> (*make)();
};

// OnDataRead with 1,024 registered tags, every one due, none changed, a card that answers at once.
// The physical floor: 1,024 16-byte values compared with their last reported copies.
// IniDriver + FreeDriver with 1,024 tags, start and stop reports included.
// TagEdAddr of one address, temporary engine included.
// One AppendLog line.
// An OnDataWrite while 299 write chains wait in the queue.
// OnDataRead over 32 PCI_7505 cards with 16 DI and 16 DO tags each, through the simulated vendor
// library; figures: time per tag, and polls and milliseconds for one read cycle over every card
// (each read command answered once) in 10 ms polls, with the bound of one command per poll.
const std::vector<ScenarioInfo>& Scenarios();

// Runs everything below a scratch folder (the run log lands there); removed at exit.
void EnterScratchFolder();

}  // namespace bench
