// The host at run time: starts the driver with the project's tags and block, hands it an event to
// signal, polls OnDataRead at the pace DetectScanTime asks for, prints every value reported with
// its time stamp and event word, writes the scripted and the typed values, and stops the driver.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/hostsim/configuration.h"
#include "tools/hostsim/driver_api.h"
#include "tools/hostsim/host_tags.h"
#include "tools/hostsim/reports.h"
#include "tools/hostsim/run_time.h"
#include "tools/hostsim/write_script.h"

namespace hostsim {

// Told what the host saw, poll by poll, so a check can judge the run afterwards.
class SessionObserver {
 public:
  virtual ~SessionObserver() = default;
  virtual void started(const StartAnswer& answer) = 0;
  virtual void wrote(uint64_t poll, const ScriptedWrite& write, bool accepted) = 0;
  // `tag` is nullptr for a record whose identifier the host never registered.
  virtual void reported(uint64_t poll, const HostTag* tag, const ReportedValue& value) = 0;
  virtual void event_signalled(uint64_t poll) = 0;
};

struct SessionSettings {
  uint32_t seconds = 10;
  bool console = true;  // accept commands on standard input
};

struct SessionSummary {
  bool started = false;
  uint16_t scan_time = 0;
  uint64_t polls = 0;
  uint64_t values = 0;
  int writes = 0;
  int accepted = 0;
  int events = 0;
  uint32_t elapsed_ms = 0;
};

SessionSummary run_session(const DriverExports& driver, ReceivedStrings& strings,
                           const std::vector<HostTag>& tags, ParameterBlock& block, WriteScript& script,
                           const SessionSettings& settings, SessionObserver& observer);

}  // namespace hostsim
