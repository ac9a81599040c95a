// The host's hot paths as repeatable scenarios: set up in the constructor, one unit of work per
// Step(), torn down in the destructor. Google Benchmark runs them natively; poll_timing runs the
// same scenarios where Google Benchmark is not available (the Windows build under Wine).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace bench {

class Scenario {
 public:
  virtual ~Scenario() = default;
  virtual void Step() = 0;
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
const std::vector<ScenarioInfo>& Scenarios();

// Runs everything below a scratch folder (the run log lands there); removed at exit.
void EnterScratchFolder();

}  // namespace bench
