// The host's side of one thread's session with the driver, through the exports: host tag records,
// polls that collect the reported records (host strings freed as the host frees them), writes, and
// the run log the session leaves. The clock is manual and the current folder a scratch folder.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_log.h"
#include "engine_probe.h"
#include "host_memory.h"
#include "interface/exports.h"
#include "interface/module.h"
#include "tests/common/host_records.h"
#include "tests/common/manual_clock.h"

namespace testing_support {

// One reported record, its value decoded.
struct Reported {
  int32_t id = 0;
  uint32_t status = 0;
  uint8_t type = 0;
  double number = 0;
  bool on = false;
  std::string text;
};

// The run log the engines write to, as it stands now.
inline std::string run_log_text() {
  std::string path = vorel::run_log_path();
  for (char& c : path)
    if (c == '\\') c = '/';
  return file_text(path);
}

class HostSession {
 public:
  HostSession() { vorel::InitLogPath(); }  // relative to the scratch folder now current
  ~HostSession() {
    vorel::module::destroy_current_engine();
    vorel::InitLogPath();
  }

  // IniDriver with these records; the start message is kept in message.
  bool Start(std::vector<vorel::TTagInfo> records) {
    tags_ = std::move(records);
    std::vector<vorel::TTagInfo*> pointers;
    for (auto& r : tags_) pointers.push_back(&r);
    char* text = nullptr;
    const bool ok = ::IniDriver(static_cast<int32_t>(pointers.size()), pointers.data(), &block, &text) != 0;
    message = memory_.take(text);
    return ok;
  }

  // AddTags with these records; one verdict per record in results.
  int32_t Add(std::vector<vorel::TTagInfo> records) {
    added_ = std::move(records);
    std::vector<vorel::TTagInfo*> pointers;
    for (auto& r : added_) pointers.push_back(&r);
    results.assign(added_.size(), 9);
    return ::AddTags(static_cast<uint16_t>(pointers.size()), pointers.data(), results.data());
  }

  // One host poll `ms` after the last; the reported records (the message goes to message).
  std::vector<Reported> Poll(uint32_t ms = 10) {
    clock.advance(ms);
    std::vector<vorel::TTagValue> values(kRoom);
    int32_t count = -1;
    char* text = nullptr;
    ::OnDataRead(&count, values.data(), &text);
    message = memory_.take(text);
    std::vector<Reported> out;
    for (int32_t i = 0; i < count; ++i) {
      const vorel::TTagValue& v = values[static_cast<size_t>(i)];
      Reported r;
      r.id = v.TagID;
      r.status = v.TagStatus;
      r.type = v.ValueType;
      if (v.ValueType == 0) {
        std::memcpy(&r.number, v.Value, sizeof r.number);
      } else if (v.ValueType == 1) {
        uint16_t flag;
        std::memcpy(&flag, v.Value, sizeof flag);
        r.on = flag != 0;
      } else {
        char* s;
        std::memcpy(&s, v.Value, sizeof s);
        r.text = memory_.take(s);
      }
      out.push_back(r);
    }
    return out;
  }

  // Polls n times; the last record reported for the tag, if any.
  std::optional<Reported> PollFor(int32_t id, int n, uint32_t ms = 10) {
    std::optional<Reported> last;
    for (int i = 0; i < n; ++i)
      for (const Reported& r : Poll(ms))
        if (r.id == id) last = r;
    return last;
  }

  bool write(const vorel::TTagValue& value) {
    vorel::TTagValue copy = value;
    char* text = nullptr;
    const bool ok = ::OnDataWrite(1, &copy, &text) != 0;
    message = memory_.take(text);
    return ok;
  }

  std::string log() const { return run_log_text(); }

  static constexpr size_t kRoom = 64;  // records one poll may fill
  platform::ManualClock clock{100000};
  vorel::TDeviceParams block{};
  std::string message;
  std::vector<int32_t> results;

 private:
  const HostMemory& memory_ = HostMemory::instance();
  platform::ScopedClock use_clock_{clock};
  std::vector<vorel::TTagInfo> tags_;
  std::vector<vorel::TTagInfo> added_;
};

// Occurrences of text in all.
inline size_t CountOf(const std::string& all, const std::string& text) {
  size_t n = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
  return n;
}

}  // namespace testing_support
