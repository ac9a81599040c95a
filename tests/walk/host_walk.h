// A random walk of host operations over the driver's exports on one thread: starts, added tags,
// stops, polls, writes (good ones, refused ones, to identifiers nobody registered), immediate
// reads, pauses and resumes, card faults of the simulated bank and time on a manual clock. After
// each operation it checks what a host relies on:
//   - a running engine never waits for an answer longer than the answer time-out;
//   - every accepted write reaches the card or is reported with a failure word;
//   - an identifier the running tag list did not register reaches no tag;
//   - a stopped engine holds no tags, commands or writes; no host string is left unfreed; after
//     the engine is destroyed the driver's heap is back where it started;
//   - the vendor library is only ever called with the handle of an open card, and a running,
//     enabled engine with readable tags keeps calling it.
// The choices come from a seeded generator (the unit walk) or from a fuzzer's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "records/tag_records.h"
#include "tests/common/manual_clock.h"

namespace walk {

class Choices {
 public:
  virtual ~Choices() = default;
  // A number below bound (bound > 0).
  virtual uint32_t below(uint32_t bound) = 0;
  // False once the source is used up.
  virtual bool More() const { return true; }
};

class SeededChoices : public Choices {
 public:
  explicit SeededChoices(uint64_t seed) : rng_(seed) {}
  uint32_t below(uint32_t bound) override { return static_cast<uint32_t>(rng_() % bound); }

 private:
  std::mt19937_64 rng_;
};

class ByteChoices : public Choices {
 public:
  ByteChoices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint32_t below(uint32_t bound) override {
    uint32_t v = 0;
    for (int i = 0; i < (bound > 256 ? 2 : 1); ++i) v = (v << 8) | (at_ < size_ ? data_[at_++] : 0u);
    return v % bound;
  }
  bool More() const override { return at_ < size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// What the walk may see of memory. Every hook is optional.
struct MemoryHooks {
  std::function<void(char*)> release;           // frees a host string (required)
  std::function<int64_t()> live_strings;        // host strings not yet freed
  std::function<int64_t()> live_driver_blocks;  // heap blocks the driver allocated and holds
  std::function<void(bool)> driver_calls;       // on around each call into the driver
};

struct Figures {
  uint64_t steps = 0, polls = 0, accepted_writes = 0, failure_reports = 0, starts = 0, restarts = 0,
           stops = 0, settles = 0, faults = 0;
};

class HostWalk {
 public:
  HostWalk(Choices& choices, MemoryHooks memory);
  ~HostWalk();
  HostWalk(const HostWalk&) = delete;
  HostWalk& operator=(const HostWalk&) = delete;

  // One host operation and the checks after it: the first broken invariant, described.
  std::optional<std::string> Step();
  // The end of a walk: the card behaves again, every accepted write is accounted for, and the
  // engine is destroyed as at the thread's end.
  std::optional<std::string> Finish();
  const Figures& figures() const { return figures_; }

 private:
  struct Impl;
  Figures figures_;  // before impl_, which counts into it from its construction on
  std::unique_ptr<Impl> impl_;
};

}  // namespace walk
