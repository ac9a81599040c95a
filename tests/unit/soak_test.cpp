// Hours of host polling: a million OnDataRead calls, 10 ms apart on a manual clock, over the
// simulated card bank with card 1's outputs wired back to its inputs. The host writes between the
// polls and the card fails (its library faults at every input and output call) and recovers twice.
// Afterwards neither the driver's own heap nor the host's memory manager may hold more blocks than
// after the first ten thousand polls: what a host running for weeks would otherwise run out of.
//
// The driver is linked into this program, so the global operator new and delete below count every
// block it allocates (live = allocations - releases).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/run_log.h"
#include "engine_probe.h"
#include "host_memory.h"
#include "interface/exports.h"
#include "interface/module.h"
#include "sim/pci7505/sim7505.h"
#include "support/getfileinfo.h"
#include "tests/common/host_records.h"
#include "tests/common/manual_clock.h"
#include "tests/common/sim_bank.h"

namespace {

std::atomic<int64_t> g_allocations{0};
std::atomic<int64_t> g_releases{0};

void* counted_alloc(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void* counted_aligned_alloc(std::size_t size, std::align_val_t align) {
  const auto a = static_cast<std::size_t>(align);
  void* p = std::aligned_alloc(a, (size + a - 1) / a * a);
  if (!p) throw std::bad_alloc();
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void counted_free(void* p) noexcept {
  if (!p) return;
  g_releases.fetch_add(1, std::memory_order_relaxed);
  std::free(p);
}

int64_t live_heap_blocks() { return g_allocations.load() - g_releases.load(); }

}  // namespace

void* operator new(std::size_t size) { return counted_alloc(size); }
void* operator new[](std::size_t size) { return counted_alloc(size); }
void* operator new(std::size_t size, std::align_val_t align) { return counted_aligned_alloc(size, align); }
void* operator new[](std::size_t size, std::align_val_t align) { return counted_aligned_alloc(size, align); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted_alloc(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { counted_free(p); }
void operator delete[](void* p) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t) noexcept { counted_free(p); }
void operator delete(void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { counted_free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { counted_free(p); }

namespace vorel {
namespace {

using testing_support::host_record;
using testing_support::HostMemory;
using testing_support::switch_value;

constexpr int kPolls = 1'000'000;
constexpr int kWarmUpPolls = 10'000;
constexpr uint32_t kPollMs = 10;
constexpr int kChannels = 16;
constexpr int kWriteEvery = 50;  // polls between two steps of the walking output bit
constexpr int kFailingPolls = 2'000;
constexpr int kFailureStarts[] = {200'000, 600'000};
constexpr int kRecoveryPolls = 100;  // an answer time-out of the failure may still end after it
constexpr int kQuietPolls = 1'000;   // no writes at the end, so every input settles

// Tag identifiers of the soak project: DI 0..15 of card 1, DO 0..15, the two link texts.
constexpr int32_t kFirstInput = 1;
constexpr int32_t kFirstOutput = 101;
constexpr int32_t kDeviceLink = 200;
constexpr int32_t kCardLink = 201;

// What the host saw, kept in fixed fields: the loop must not allocate anything that outlives a
// poll, or it would count against the driver.
struct Observed {
  bool input[kChannels] = {};
  bool output_written[kChannels] = {};
  int device_link_normal = 0, device_link_broken = 0;  // reports of these texts
  int card_link_normal = 0, card_link_broken = 0;
  int failed_writes = 0;
  int signals_while_failing = 0, signals_while_healthy = 0;
  int refused_writes_while_healthy = 0;
};

enum class Phase { Healthy, Failing, Recovering };

class HostPollingForHours : public ::testing::Test {
 protected:
  HostPollingForHours() {
    InitLogPath();  // relative to the scratch folder now current
    FullPDB(&block_);
    for (int c = 0; c < kChannels; ++c) {
      const std::string channel = "1:0," + std::to_string(c) + ".0";
      records_.push_back(host_record(kFirstInput + c, ("DI" + channel).c_str(), kValueDigital, 0));
      records_.push_back(host_record(kFirstOutput + c, ("DO" + channel).c_str(), kValueDigital, 0));
    }
    records_.push_back(host_record(kDeviceLink, "COMMLINK", kValueString, 0));
    records_.push_back(host_record(kCardLink, "DEVICELINK1:", kValueString, 0));
    for (auto& r : records_) pointers_.push_back(&r);
    values_.resize(records_.size());
    device_normal_ = driver_file_info()->DeviceName() + "通讯正常!";
    device_broken_ = driver_file_info()->DeviceName() + "通讯线路断路!";
    card_normal_ = "1号" + driver_file_info()->DevTypeName() + "PCI_7505通讯正常!";
    card_broken_ = "1号" + driver_file_info()->DevTypeName() + "PCI_7505通讯线路断路!";
  }
  ~HostPollingForHours() override {
    Fail(false);
    module::destroy_current_engine();
    InitLogPath();
  }

  void Poll(Phase phase) {
    clock_.advance(kPollMs);
    int32_t count = -1;
    char* message = nullptr;
    OnDataRead(&count, values_.data(), &message);
    memory_.release(message);
    for (int32_t i = 0; i < count; ++i) take(values_[i]);
    if (platform::wait_host_event(event_, 0)) {
      seen_.signals_while_failing += phase == Phase::Failing;
      seen_.signals_while_healthy += phase == Phase::Healthy;
    }
  }

  void take(const TTagValue& v) {
    const int32_t id = v.TagID;
    if (v.TagStatus == kTagStatusWriteFailed) ++seen_.failed_writes;
    if (v.ValueType == kValueDigital && id >= kFirstInput && id < kFirstInput + kChannels) {
      uint16_t flag;
      std::memcpy(&flag, v.Value, sizeof flag);
      seen_.input[id - kFirstInput] = flag != 0;
    }
    if (v.ValueType != kValueString) return;
    char* text;
    std::memcpy(&text, v.Value, sizeof text);
    if (text && id == kDeviceLink) {
      seen_.device_link_normal += device_normal_ == text;
      seen_.device_link_broken += device_broken_ == text;
    } else if (text && id == kCardLink) {
      seen_.card_link_normal += card_normal_ == text;
      seen_.card_link_broken += card_broken_ == text;
    }
    memory_.release(text);
  }

  // One step of the walking bit: the previous output off, the next one on, in one call.
  void WalkOutputs(int step, Phase phase) {
    const int on = step % kChannels;
    const int off = (on + kChannels - 1) % kChannels;
    TTagValue writes[] = {switch_value(kFirstOutput + off, false), switch_value(kFirstOutput + on, true)};
    bool accepted;
    if (step % 10 == 9) {
      accepted = WriteTags(2, writes, 0) == 0;  // the host's other write call
    } else {
      char* message = nullptr;
      accepted = OnDataWrite(2, writes, &message) != 0;
      memory_.release(message);
    }
    if (phase == Phase::Healthy) {
      seen_.refused_writes_while_healthy += !accepted;
      seen_.output_written[off] = false;
      seen_.output_written[on] = true;
    }
  }

  // The library faults at every input and output call, as a card that no longer answers.
  void Fail(bool failing) {
    const sim7505::FaultMode mode = failing ? sim7505::kAccessViolation : sim7505::kBehave;
    bank_.fault(sim7505::kInput, mode);
    bank_.fault(sim7505::kOutput, mode);
  }

  // The host's occasional calls between polls.
  void Housekeeping(int poll) {
    char* message = nullptr;
    if (poll % 997 == 0) {
      int32_t ids[kChannels];
      for (int c = 0; c < kChannels; ++c) ids[c] = kFirstInput + c;
      ReadTags(kChannels, ids, 0);
    }
    if (poll % 1009 == 0) {
      GetDeviceStatus(&message);
      memory_.release(message);
    }
    if (poll % 5003 == 0) {
      WriteLog(1, &message);
      memory_.release(message);
    }
  }

  static Phase PhaseOf(int poll) {
    for (int start : kFailureStarts) {
      if (poll >= start && poll < start + kFailingPolls) return Phase::Failing;
      if (poll >= start && poll < start + kFailingPolls + kRecoveryPolls) return Phase::Recovering;
    }
    return Phase::Healthy;
  }

  const HostMemory& memory_ = HostMemory::instance();
  testing_support::SimBank bank_;
  platform::ManualClock clock_{100000};
  platform::ScopedClock use_clock_{clock_};
  testing_support::ScopedCurrentDir folder_;
  TDeviceParams block_{};
  std::vector<TTagInfo> records_;
  std::vector<TTagInfo*> pointers_;
  std::vector<TTagValue> values_;
  uint32_t event_ = 0;
  Observed seen_;
  std::string device_normal_, device_broken_, card_normal_, card_broken_;
};

TEST_F(HostPollingForHours, AMillionPollsWithWritesAndFailuresHoldNoMoreMemoryThanTheFirstTenThousand) {
  ASSERT_TRUE(bank_.loaded()) << "the simulated card bank is not next to the test program";
  bank_.loopback(1, true);
  char* message = nullptr;
  ASSERT_EQ(IniDriver(static_cast<int32_t>(pointers_.size()), pointers_.data(), &block_, &message), 1);
  memory_.release(message);
  event_ = platform::create_host_event();
  ASSERT_EQ(IniDriverEx(event_), 1);
  ASSERT_EQ(DetectScanTime(), kPollMs);

  const uint64_t started_ns = platform::monotonic_ns();
  int64_t heap_after_warm_up = 0;
  int32_t manager_after_warm_up = 0;
  bool was_failing = false;
  for (int poll = 1; poll <= kPolls; ++poll) {
    const Phase phase = PhaseOf(poll);
    const bool failing = phase == Phase::Failing;
    if (failing != was_failing) Fail(failing);
    was_failing = failing;
    if (poll % kWriteEvery == kWriteEvery / 2 && poll <= kPolls - kQuietPolls)
      WalkOutputs(poll / kWriteEvery, phase);
    Housekeeping(poll);
    Poll(phase);
    if (poll == kWarmUpPolls) {
      heap_after_warm_up = live_heap_blocks();
      manager_after_warm_up = memory_.live();
    }
  }
  const int64_t heap_at_end = live_heap_blocks();
  const int64_t allocations = g_allocations.load();
  const int32_t manager_at_end = memory_.live();
  const double seconds = static_cast<double>(platform::monotonic_ns() - started_ns) / 1e9;
  std::printf(
      "[ soak     ] %d OnDataRead calls in %.1f s; live blocks after %d calls: driver heap %lld, "
      "memory manager %d; at the end: driver heap %lld, memory manager %d; %.1f heap allocations a call\n",
      kPolls, seconds, kWarmUpPolls, static_cast<long long>(heap_after_warm_up), manager_after_warm_up,
      static_cast<long long>(heap_at_end), manager_at_end,
      static_cast<double>(allocations) / static_cast<double>(kPolls));

  EXPECT_EQ(heap_at_end, heap_after_warm_up) << "the driver's heap grew while the host kept polling";
  EXPECT_EQ(manager_at_end, manager_after_warm_up) << "host strings were left with the memory manager";
  EXPECT_EQ(manager_at_end, 0);

  // The run did what it was meant to: the card failed and came back, and the host saw both.
  EXPECT_GE(seen_.device_link_broken, 2) << "each failure shows as a broken line";
  EXPECT_GE(seen_.card_link_broken, 2);
  EXPECT_GE(seen_.device_link_normal, 3) << "normal at the start and after each recovery";
  EXPECT_GE(seen_.card_link_normal, 3);
  EXPECT_GT(seen_.failed_writes, 0) << "writes while the card is gone come back as failed";
  EXPECT_GT(seen_.signals_while_failing, 0) << "the host's event tells of the repeated failures";
  EXPECT_EQ(seen_.signals_while_healthy, 0);
  EXPECT_EQ(seen_.refused_writes_while_healthy, 0);
  for (int c = 0; c < kChannels; ++c)
    EXPECT_EQ(seen_.input[c], seen_.output_written[c]) << "input " << c << " follows its output";

  EXPECT_EQ(FreeDriver(), 1);
  platform::close_host_event(event_);
}

}  // namespace
}  // namespace vorel
