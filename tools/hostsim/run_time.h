// The run-time calls of the host, per thread: IniDriver once, then the periodic read, write and
// status calls, FreeDriver last. Answers are collected first and printed or checked afterwards, so
// a round can run on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hostsim/checker.h"
#include "tools/hostsim/driver_api.h"
#include "tools/hostsim/host_tags.h"

namespace hostsim {

using HostText = std::optional<std::string>;  // code page 936, nullopt for a null pointer

struct StartAnswer {
  HostBool result = 0;
  HostText message;
};

StartAnswer start_driver(const DriverExports& driver, ReceivedStrings& strings, TagRecords& tags,
                         vorel::TDeviceParams* block);
void print_start(const StartAnswer& answer, int32_t tag_count);

// What one round asks of the driver.
struct RoundPlan {
  std::vector<int32_t> read_ids;         // ReadTags
  std::vector<vorel::TTagValue> writes;  // OnDataWrite and WriteTags
  size_t value_room = 0;                 // records OnDataRead may fill: one per registered tag
};

RoundPlan plan_for(const std::vector<HostTag>& tags);

struct RoundAnswers {
  uint16_t scan_time = 0;
  HostBool read_result = 0;
  int32_t read_count = -1;
  HostText read_message;
  HostBool write_result = 0;
  HostText write_message;
  int32_t read_tags = -1;
  int32_t write_tags = -1;
  HostBool status_result = 0;
  HostText status_message;
  HostText log_message;
  HostBool free_result = 0;
};

RoundAnswers run_round(const DriverExports& driver, ReceivedStrings& strings, const RoundPlan& plan);
void print_round(const RoundAnswers& answers, std::string_view where);

// A start with the built-in tags, and the answers of the thread that started it.
void expect_started(const StartAnswer& answer, Checker& checker);
void expect_engine(const RoundAnswers& answers, const RoundPlan& plan, Checker& checker);
// The answers of a thread that never started an engine.
void expect_no_engine(const RoundAnswers& answers, std::string_view where, Checker& checker);

}  // namespace hostsim
