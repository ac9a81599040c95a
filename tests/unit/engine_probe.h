// A test view of the engine: the protected state made visible, run-log lines collected instead
// of written, tags put straight into the tag list, and the device's answers scripted.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/DLLBase.h"
#include "engine/tag_types.h"
#include "temp_dir.h"

namespace testing_support {

// The address the host's editor writes for a tag: "DI1:0,3.5" is type DI, card 1, slot 0,
// channel 3, bit 5.
inline std::string tag_address(std::string_view type, int32_t card, int32_t channel, int32_t bit = 0) {
  return std::string(type) + std::to_string(card) + ":0," + std::to_string(channel) + "." +
         std::to_string(bit);
}

// A tag record as the host hands it to a start or a registration.
inline vorel::HostTag host_tag(int32_t id, std::string address, uint8_t value_type = 1,
                               uint32_t scan_period = 0) {
  vorel::HostTag t;
  t.TagID = id;
  t.Name = "T" + std::to_string(id);
  t.Address = std::move(address);
  t.ValueType = value_type;
  t.ScanPeriod = scan_period;
  return t;
}

// A tag for Probe::AddTag. type is a row of the tag type table or an internal keyword (COMMLINK,
// ENCOMMLINK, ...); value_type 0 number, 1 switch, 2 text. The name is T<id> and the address is
// tag_address's unless given.
struct TagSpec {
  std::string_view type = "DI";
  int32_t card = 1;
  int32_t channel = 0;
  int32_t bit = 0;
  uint8_t value_type = 1;
  uint32_t period = 1000;
  std::string name = {};
  std::string address = {};
};

// An engine class (TBaseDLLObject, TCustomDLLObject, TDLLObject) opened up for the tests.
template <class Engine>
class Probe : public Engine {
 public:
  explicit Probe(bool first_instance = true) : Engine(first_instance) {}
  ~Probe() override { this->Destroy(); }

  // ---- the state the suites look at
  using Base = vorel::TBaseDLLObject;
  using Base::ActiveWrite, Base::AverageScan, Base::CmdList, Base::CommEnabled, Base::CommLinkOK,
      Base::CommState, Base::CurCmd, Base::CurHead, Base::CycleMark, Base::DefaultCardNo, Base::DevFailCount,
      Base::DevLinkState, Base::EnLog_, Base::EnLogTag, Base::FastestScan, Base::IndexArray,
      Base::LastCycleMs, Base::Params, Base::ParamsLoaded, Base::PendingWrites, Base::ReadCommTotal,
      Base::ReadFailTotal, Base::ReadTimeouts, Base::RunEvent, Base::RunStatus, Base::Running,
      Base::ScanFigures, Base::SlowestScan, Base::StaleWrites, Base::StartReportOK, Base::StartTick,
      Base::StopTick, Base::Stopped, Base::TagCount_, Base::TagList, Base::WriteCommTotal,
      Base::WriteFailTotal, Base::WriteLogBudget, Base::WriteQuota, Base::WriteTimeouts;
  // ... and the steps and report writers they drive one at a time.
  using Base::free_current_chain, Base::write_run_time_line, Base::write_start_report,
      Base::write_stop_totals, Base::write_tag_statistics;

  // The card layer's library and port access; for probes of TCustomDLLObject and TDLLObject only.
  bool library_loaded() const { return this->LibLoaded; }
  auto library_handle() const { return this->LibHandle; }
  auto port_library_handle() const { return this->PortLibHandle; }
  void port_write(uint16_t port, uint8_t value) { this->PortWrite(port, value); }
  uint8_t port_read(uint16_t port) { return this->PortRead(port); }

  vorel::TDLLTag& Tag(int32_t id) { return *this->find_tag(id); }

  // ---- the run log: lines collected, not written
  void AppendLog(std::string_view text) override { log.emplace_back(text); }
  std::vector<std::string> log;

  // Lines containing `text`.
  int LogCount(std::string_view text) const {
    int n = 0;
    for (const auto& line : log) n += line.find(text) != std::string::npos;
    return n;
  }
  // Whether a line reads exactly `line`.
  bool HasLine(std::string_view line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

  // ---- set-up
  // Running on `block` without a start: parameters loaded, nothing in flight, the log empty.
  void Ready(const vorel::TDeviceParams& block) {
    Params = block;
    ParamsLoaded = Running = true;
    RunStatus = vorel::kStatusReady;
    log.clear();
  }

  // A tag as registration leaves it, appended to the tag list and indexed, without a start or a
  // refresh: the identifier is its position plus one.
  vorel::TDLLTag& AddTag(const TagSpec& spec) {
    auto tag = std::make_unique<vorel::TDLLTag>();
    tag->Position = static_cast<int32_t>(TagList.size());
    tag->TagID = tag->Position + 1;
    tag->Name = spec.name.empty() ? "T" + std::to_string(tag->TagID) : spec.name;
    tag->TypeStr = spec.type;
    for (size_t i = 0; i < vorel::kTagTypes.size(); ++i)
      if (vorel::kTagTypes[i].Name == spec.type) tag->TypeIndex = static_cast<int32_t>(i);
    tag->Internal = tag->TypeIndex == -1;
    tag->Writable = !tag->Internal && vorel::kTagTypes[static_cast<size_t>(tag->TypeIndex)].CanWrite;
    tag->Address =
        spec.address.empty() ? tag_address(spec.type, spec.card, spec.channel, spec.bit) : spec.address;
    tag->CardNo = spec.card;
    tag->Channel = spec.channel;
    tag->Bit = spec.bit;
    tag->ScanPeriod = spec.period;
    tag->ValueType = spec.value_type;
    tag->Value = spec.value_type == 0   ? vorel::TVariant::Int(0)
                 : spec.value_type == 1 ? vorel::TVariant::Bool(false)
                                        : vorel::TVariant::String("");
    IndexArray.set(tag->TagID, tag->Position);
    TagList.push_back(std::move(tag));
    TagCount_ = static_cast<int32_t>(TagList.size());
    return *TagList.back();
  }

  // ---- the device
  // From AnswerAll on every command sent is answered, from AnswerNone none is; until either is
  // called the engine's own GetResult decides (the card layer's registers or vendor library).
  void AnswerAll() { answers_ = true; }
  void AnswerNone() { answers_ = false; }
  bool GetResult() override { return answers_ ? *answers_ : Engine::GetResult(); }

  // One host poll `ms` after the last.
  template <class Clock>
  void Poll(Clock& clock, uint32_t ms = 10) {
    clock.advance(ms);
    this->ReadExecute();
  }

 private:
  std::optional<bool> answers_;
};

using EngineProbe = Probe<vorel::TBaseDLLObject>;

// Runs a test in a fresh current folder, where relative run-log paths land.
class ScopedCurrentDir {
 public:
  ScopedCurrentDir() {
    if (chdir(dir_.dir().c_str()) != 0) std::abort();
  }
  ~ScopedCurrentDir() {
    if (chdir(previous_.get()) != 0) std::abort();
  }
  const TempDir& dir() const { return dir_; }

 private:
  std::unique_ptr<char, decltype(&free)> previous_{getcwd(nullptr, 0), &free};
  TempDir dir_;
};

}  // namespace testing_support
