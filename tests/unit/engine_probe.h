// A test view of the engine: the protected state made visible, run-log lines collected instead
// of written, and the device's answers scripted.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/DLLBase.h"
#include "temp_dir.h"

namespace testing_support {

// An engine class with its run-log lines collected instead of written; the tests' probes derive
// from it and open up the state they look at.
template <class Engine>
class Probe : public Engine {
 public:
  explicit Probe(bool first_instance = true) : Engine(first_instance) {}
  ~Probe() override { this->Destroy(); }

  void AppendLog(std::string_view text) override { log.emplace_back(text); }
  std::vector<std::string> log;

  // Lines containing `text`.
  int LogCount(std::string_view text) const {
    int n = 0;
    for (const auto& line : log) n += line.find(text) != std::string::npos;
    return n;
  }
};

class EngineProbe : public Probe<vorel::TBaseDLLObject> {
 public:
  using Probe::Probe;

  using TBaseDLLObject::ActiveWrite, TBaseDLLObject::CmdList, TBaseDLLObject::CommEnabled,
      TBaseDLLObject::CommLinkOK, TBaseDLLObject::CommState, TBaseDLLObject::CurCmd,
      TBaseDLLObject::DefaultCardNo, TBaseDLLObject::DevFailCount, TBaseDLLObject::DevLinkState,
      TBaseDLLObject::EnLogTag, TBaseDLLObject::Params, TBaseDLLObject::PendingWrites,
      TBaseDLLObject::ReadCommTotal, TBaseDLLObject::ReadFailTotal, TBaseDLLObject::ReadTimeouts,
      TBaseDLLObject::RunEvent, TBaseDLLObject::RunStatus, TBaseDLLObject::Running,
      TBaseDLLObject::StartReportOK, TBaseDLLObject::Stopped, TBaseDLLObject::TagList,
      TBaseDLLObject::WriteCommTotal, TBaseDLLObject::WriteFailTotal, TBaseDLLObject::WriteTimeouts;

  // The device answers every command sent while this is set.
  bool answering = false;
  bool GetResult() override { return answering; }

  vorel::TDLLTag& Tag(int32_t id) { return *find_tag(id); }
};

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

}  // namespace testing_support
