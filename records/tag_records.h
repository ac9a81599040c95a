// Records that cross the boundary to the host. The host is built separately, so every offset and
// size below is binding on both targets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorel {

// Value type codes of tags and value records.
enum : uint8_t {
  kValueAnalog = 0,   // double
  kValueDigital = 1,  // 16-bit flag out, 32-bit integer in
  kValueString = 2,   // host string pointer
};

// VARIANT type codes of TVariantBytes::vt: the Windows ones a host hands in, and the host's own
// ANSI string variant (a pointer to its zero-terminated text).
enum : uint16_t {
  kVtEmpty = 0,
  kVtI2 = 2,
  kVtI4 = 3,
  kVtR4 = 4,
  kVtR8 = 5,
  kVtCy = 6,
  kVtDate = 7,
  kVtBstr = 8,
  kVtBool = 11,
  kVtI1 = 16,
  kVtUI1 = 17,
  kVtUI2 = 18,
  kVtUI4 = 19,
  kVtI8 = 20,
  kVtUI8 = 21,
  kVtHostString = 0x100,
};

// Event word values of TTagValue::TagStatus.
constexpr uint32_t kStatusNone = 0;
constexpr uint32_t kStatusWriteExpired = 0x02000000;
constexpr uint32_t kStatusWriteFailed = 0x04000000;

#pragma pack(push, 1)

// The Windows VARIANT as the host lays it out: type code first, value in bytes 8..15.
struct TVariantBytes {
  uint16_t vt;
  uint16_t reserved[3];
  uint8_t value[8];
};

struct TTagInfo {
  int32_t TagID;
  char TagName[32];
  uint8_t unread36[4];
  char TagAddr[64];
  uint8_t ValueType;
  uint8_t padding105[3];
  uint32_t ScanPeriod;
  uint8_t unread112[8];
  TVariantBytes InitValue;
};

struct TTagValue {
  int32_t TagID;
  double Stamp;
  uint32_t TagStatus;
  uint8_t ValueType;
  uint8_t padding17[3];
  uint8_t Value[8];  // double, 16-bit flag / 32-bit integer, or string pointer (first 4 bytes)
};

struct TTagTypeInfo {
  uint8_t TypeName[256];  // short strings: length byte, then the text
  uint8_t TypeDesc[256];
  uint8_t ValueType;
  uint8_t Writable;
  uint8_t reserved514;
  uint8_t padding515;
  uint32_t reserved516;
  uint32_t reserved520;
  uint8_t reserved524;
  uint8_t padding525[3];
  uint32_t reserved528;
  uint32_t reserved532;
  uint8_t reserved536;
  uint8_t padding537[3];
  uint32_t reserved540;
  uint32_t reserved544;
  double MaxValue;
  double MinValue;
  uint32_t trailer564;
};

struct TTagAddrItem {
  uint8_t TypeName[256];
  uint8_t TypeDesc[256];
  uint8_t ValueType;
  uint8_t Writable;
  uint8_t padding514[2];
  double MaxValue;
  double MinValue;
  uint32_t trailer532;
};

#pragma pack(pop)

static_assert(sizeof(TVariantBytes) == 16);
static_assert(offsetof(TVariantBytes, value) == 8);

static_assert(sizeof(TTagInfo) == 136);
static_assert(offsetof(TTagInfo, TagID) == 0);
static_assert(offsetof(TTagInfo, TagName) == 4);
static_assert(offsetof(TTagInfo, TagAddr) == 40);
static_assert(offsetof(TTagInfo, ValueType) == 104);
static_assert(offsetof(TTagInfo, ScanPeriod) == 108);
static_assert(offsetof(TTagInfo, InitValue) == 120);

static_assert(sizeof(TTagValue) == 28);
static_assert(offsetof(TTagValue, TagID) == 0);
static_assert(offsetof(TTagValue, Stamp) == 4);
static_assert(offsetof(TTagValue, TagStatus) == 12);
static_assert(offsetof(TTagValue, ValueType) == 16);
static_assert(offsetof(TTagValue, Value) == 20);

static_assert(sizeof(TTagTypeInfo) == 568);
static_assert(offsetof(TTagTypeInfo, TypeName) == 0);
static_assert(offsetof(TTagTypeInfo, TypeDesc) == 256);
static_assert(offsetof(TTagTypeInfo, ValueType) == 512);
static_assert(offsetof(TTagTypeInfo, Writable) == 513);
static_assert(offsetof(TTagTypeInfo, reserved514) == 514);
static_assert(offsetof(TTagTypeInfo, reserved516) == 516);
static_assert(offsetof(TTagTypeInfo, reserved520) == 520);
static_assert(offsetof(TTagTypeInfo, reserved524) == 524);
static_assert(offsetof(TTagTypeInfo, reserved528) == 528);
static_assert(offsetof(TTagTypeInfo, reserved532) == 532);
static_assert(offsetof(TTagTypeInfo, reserved536) == 536);
static_assert(offsetof(TTagTypeInfo, reserved540) == 540);
static_assert(offsetof(TTagTypeInfo, reserved544) == 544);
static_assert(offsetof(TTagTypeInfo, MaxValue) == 548);
static_assert(offsetof(TTagTypeInfo, MinValue) == 556);
static_assert(offsetof(TTagTypeInfo, trailer564) == 564);

static_assert(sizeof(TTagAddrItem) == 536);
static_assert(offsetof(TTagAddrItem, ValueType) == 512);
static_assert(offsetof(TTagAddrItem, Writable) == 513);
static_assert(offsetof(TTagAddrItem, MaxValue) == 516);
static_assert(offsetof(TTagAddrItem, MinValue) == 524);
static_assert(offsetof(TTagAddrItem, trailer532) == 532);

}  // namespace vorel
