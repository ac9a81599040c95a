// The engine's records: the host tag as handed in, the engine's tag, and one device exchange.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/variant.h"

namespace vorel {

// What the engine takes from a host tag record (the boundary copies it in during the call).
struct HostTag {
  int32_t TagID = 0;
  std::string Name;     // at most 32 bytes
  std::string Address;  // at most 64 bytes
  uint8_t ValueType = 0;
  uint32_t ScanPeriod = 0;
  TVariant InitValue;  // empty: the tag has no initial value
};

// Positions in TagList of the tags a command serves.
using TIndexArray = std::vector<int32_t>;
using TValueArray = std::vector<TVariant>;

struct alignas(64) TDLLTag {
  // Tags come from a pool, one after another in memory, so the poll's walk over the tag list
  // reads memory in order and the processor can fetch ahead.
  static void* operator new(size_t size);
  static void operator delete(void* p, size_t size) noexcept;

  // What every host poll reads, together in the first cache line.
  uint32_t LastReport = 0;
  uint32_t ScanPeriod = 0;
  uint32_t TagStatus = 0;
  int8_t Countdown = 5;
  bool Internal = false;  // the link state scans for these after every exchange
  TVariant Value;
  TVariant Reported;

  int32_t TagID = 0;
  int32_t Position = 0;
  std::string Name;
  std::string Address;
  uint8_t ValueType = 0;
  std::string TypeStr;
  int32_t TypeIndex = -1;
  TVariant Confirmed;  // the value the device last took (or the start value): what a dropped write leaves
  float RawImage = 0;
  int32_t Bit = 0, Channel = 0, CardNo = 0, Slot = 0;
  uint8_t ModelCode = 1;
  uint32_t ReadCount = 0, ReadFails = 0, WriteCount = 0, WriteFails = 0;
  bool Writable = false;
  int32_t PortImage = 0;  // integer image of the digital output port the tag belongs to
};

static_assert(offsetof(TDLLTag, Reported) + sizeof(TVariant) <= 64, "poll fields share one cache line");

// CmdFlags bits.
constexpr uint16_t kCmdWriting = 0x1;     // it writes to the card
constexpr uint16_t kCmdTagCommand = 0x2;  // its answers update its tags
constexpr uint16_t kCmdOneShot = 0x8;     // freed when its chain has run
constexpr uint16_t kCmdRead = kCmdTagCommand;
constexpr uint16_t kCmdWrite = kCmdWriting | kCmdTagCommand | kCmdOneShot;
static_assert(kCmdRead == 2 && kCmdWrite == 11);

struct TCommand {
  uint16_t CmdFlags = 0;
  uint8_t RetryState = 0;
  TIndexArray TagIds;
  std::string CmdText;
  std::string AnswerText;
  std::string TypeStr;
  int32_t TypeIndex = 0;
  bool IsWrite = false;
  int32_t ChanLow = 0, ChanHigh = 0;
  bool Optimized = false;
  std::string Received;
  int32_t CardNo = 0;
  uint32_t ScanPeriod = 0;
  int32_t Countdown = 0, Reload = 1;  // a chain is taken every Reload-th visit (set by the schedule)
  float RawValue = 0;
  float SuccessRate = 1.0f;
  std::unique_ptr<TCommand> Next;  // the rest of the chain; only heads stand in the lists
  uint32_t QueuedTick = 0;
  TValueArray Values;
  // Card layer fields.
  int32_t Channel = 0;
  int32_t PortValue = 0;
  int16_t RangeIndex = 0;

  bool is_tag_command() const { return (CmdFlags & kCmdTagCommand) != 0; }
  bool is_one_shot() const { return (CmdFlags & kCmdOneShot) != 0; }
};

using CommandChain = std::unique_ptr<TCommand>;

}  // namespace vorel
