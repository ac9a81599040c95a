// The device parameter block: the 17296-byte configuration record the host stores per device and
// hands back on every call that needs it. The layout is the host's file format, byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vorel {

constexpr int kCardCount = 32;
constexpr int kCardCounters = 24;  // counter settings each card entry holds
constexpr int kModelNameMax = 40;
constexpr uint8_t kModelNoCard = 1;  // ModelCode of an unused entry
constexpr uint8_t kModelPci7505 = 0;
constexpr int32_t kDefaultBaseAddress = 0x220;

// Card numbers run from 1 to 32.
constexpr bool is_card_number(int n) { return n >= 1 && n <= kCardCount; }

#pragma pack(push, 1)

struct TCardParams {
  int32_t CardNo;
  uint8_t ModelCode;
  uint8_t ModelName[1 + kModelNameMax];  // length byte, then at most 40 bytes of GBK text
  uint8_t reserved46[2];
  int32_t BaseAddress;
  int32_t InputMode;
  int32_t ADMaxRange;
  int32_t ADFilterNums;
  int32_t reserved64;
  uint8_t ADRange[32];
  uint8_t TCMode[kCardCounters];
  uint8_t DARange[16];
  uint8_t TCClockDivOn[kCardCounters];
  uint16_t TCClockDiv[kCardCounters];
  uint8_t TCFilterDivOn[kCardCounters];
  uint16_t TCFilterDiv[kCardCounters];
  uint8_t reserved284[256];
};

struct TDeviceParams {
  uint8_t DebugSwitch;
  uint8_t ErrorLog;
  uint8_t TraceLog;
  uint8_t reserved3[5];
  uint8_t CreateMode;
  uint8_t reserved9[3];
  int32_t CurCardNo;
  TCardParams Cards[kCardCount];  // card n is Cards[n - 1]

  TCardParams* card(int n) { return is_card_number(n) ? &Cards[n - 1] : nullptr; }
  const TCardParams* card(int n) const { return is_card_number(n) ? &Cards[n - 1] : nullptr; }
};

#pragma pack(pop)

static_assert(sizeof(TCardParams) == 540);
static_assert(offsetof(TCardParams, CardNo) == 0);
static_assert(offsetof(TCardParams, ModelCode) == 4);
static_assert(offsetof(TCardParams, ModelName) == 5);
static_assert(offsetof(TCardParams, reserved46) == 46);
static_assert(offsetof(TCardParams, BaseAddress) == 48);
static_assert(offsetof(TCardParams, InputMode) == 52);
static_assert(offsetof(TCardParams, ADMaxRange) == 56);
static_assert(offsetof(TCardParams, ADFilterNums) == 60);
static_assert(offsetof(TCardParams, reserved64) == 64);
static_assert(offsetof(TCardParams, ADRange) == 68);
static_assert(offsetof(TCardParams, TCMode) == 100);
static_assert(offsetof(TCardParams, DARange) == 124);
static_assert(offsetof(TCardParams, TCClockDivOn) == 140);
static_assert(offsetof(TCardParams, TCClockDiv) == 164);
static_assert(offsetof(TCardParams, TCFilterDivOn) == 212);
static_assert(offsetof(TCardParams, TCFilterDiv) == 236);
static_assert(offsetof(TCardParams, reserved284) == 284);

static_assert(sizeof(TDeviceParams) == 17296);
static_assert(offsetof(TDeviceParams, DebugSwitch) == 0);
static_assert(offsetof(TDeviceParams, ErrorLog) == 1);
static_assert(offsetof(TDeviceParams, TraceLog) == 2);
static_assert(offsetof(TDeviceParams, CreateMode) == 8);
static_assert(offsetof(TDeviceParams, CurCardNo) == 12);
static_assert(offsetof(TDeviceParams, Cards) == 16);

constexpr int32_t kParamBlockSize = static_cast<int32_t>(sizeof(TDeviceParams));

// Fills the default configuration: one PCI_7505 as card 1 at 220H. Reserved bytes are untouched.
void FullPDB(TDeviceParams* block);
// A card's channel settings as a new block has them: the first ranges, counter mode 0, no
// dividers on, clock dividers 1 and filter dividers 2.
void reset_channel_settings(TCardParams& card);

// Copies exactly the fields FullPDB defines; the destination's reserved bytes stay as they are.
void CopyPDB(const TDeviceParams& source, TDeviceParams& dest);
// Copies one entry's model, base address, analog-input settings and AD/DA range tables; its number
// and its counter settings stay as they are.
void copy_card_settings(const TCardParams& source, TCardParams& dest);

// The lowest card number 1..32 whose entry is free (used), -1 when there is none.
int first_free_card(const TDeviceParams& block);
int first_used_card(const TDeviceParams& block);

// Length-prefixed model name of an entry (at most 40 bytes, whatever the length byte claims).
std::string_view ModelName(const TCardParams& card);
// Stores at most 40 bytes of the name, never half a double-byte character.
void set_model_name(TCardParams& card, std::string_view name);

}  // namespace vorel
