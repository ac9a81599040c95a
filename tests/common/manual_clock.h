// A clock that moves only when told to, for tests of time-outs, expiries and scan periods.
#pragma once

#include "platform/platform.h"

namespace platform {

class ManualClock : public Clock {
 public:
  explicit ManualClock(uint32_t start_ticks = 0, LocalDateTime start_time = {2026, 12, 7, 9, 5, 3, 0})
      : ticks_(start_ticks), time_(start_time) {}

  uint32_t ticks() override { return ticks_; }
  LocalDateTime now() override { return time_; }
  void sleep(uint32_t ms) override { ticks_ += ms; }

  void advance(uint32_t ms) { ticks_ += ms; }
  void set_ticks(uint32_t ticks) { ticks_ = ticks; }
  void set_time(const LocalDateTime& t) { time_ = t; }

 private:
  uint32_t ticks_;
  LocalDateTime time_;
};

// Installs a clock for the lifetime of a scope.
class ScopedClock {
 public:
  explicit ScopedClock(Clock& c) { set_clock(&c); }
  ~ScopedClock() { set_clock(nullptr); }
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace platform
