// What a newcomer should see in the demo, checked by the host itself (--check-demo): the engine
// starts, every input follows the output it is wired to, the device's link text goes from
// "never succeeded" to "normal", and the driver never signals the host's event on a healthy card.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/hostsim/checker.h"
#include "tools/hostsim/poll_session.h"

namespace hostsim {

class DemoCheck : public SessionObserver {
 public:
  // Outputs and inputs are paired by address: "DO1:0,5.0" drives "DI1:0,5.0" through the card's
  // loopback wiring.
  explicit DemoCheck(const std::vector<HostTag>& tags);

  void started(const StartAnswer& answer) override;
  void wrote(uint64_t poll, const ScriptedWrite& write, bool accepted) override;
  void reported(uint64_t poll, const HostTag* tag, const ReportedValue& value) override;
  void event_signalled(uint64_t poll) override;

  // Prints the verdicts and counts what failed into `checker`. `polls` is the number of polls the
  // run made; an input still owed for a write in its last `grace_polls` polls is not held against it.
  void conclude(uint64_t polls, uint64_t grace_polls, Checker& checker) const;

 private:
  struct Owed {
    uint64_t since_poll = 0;
    bool on = false;
  };
  struct LinkTexts {
    std::string name;  // UTF-8
    std::optional<std::string> first, last;
    bool other = false;     // a text that is neither "never linked" nor "normal"
    bool relinked = false;  // "never linked" again after "normal"
  };

  bool started_ = false;
  std::map<int32_t, int32_t> input_of_output_;  // DO tag id -> DI tag id
  std::map<int32_t, bool> input_level_;         // DI tag id -> last reported value
  std::map<int32_t, Owed> owed_;                // DI tag id -> value its output was given
  std::map<int32_t, LinkTexts> link_texts_;     // string link tags by id
  int32_t device_link_id_ = -1;                 // the COMMLINK tag
  int followed_ = 0;
  int missed_ = 0;
  int events_ = 0;
};

}  // namespace hostsim
