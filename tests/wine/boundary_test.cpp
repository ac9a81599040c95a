// The configuration-time exports byte by byte, as the host's editor stores and shows what they
// give: the default parameter block and the two tag type descriptions.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/wine/driver_library.h"

namespace wine_test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kBlockSize = 17296;
constexpr size_t kHeaderSize = 16;
constexpr size_t kEntrySize = 540;
constexpr uint8_t kUntouched = 0xCD;

uint32_t le32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

uint16_t le16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

// Every byte of [from, to) equals `value`; the message names the first one that does not.
::testing::AssertionResult all_bytes(const Bytes& b, size_t from, size_t to, uint8_t value) {
  for (size_t i = from; i < to; ++i)
    if (b[i] != value)
      return ::testing::AssertionFailure()
             << "byte " << i << " is " << int{b[i]} << ", expected " << int{value};
  return ::testing::AssertionSuccess();
}

// Two records are equal byte for byte; the message names the first offset where they differ.
::testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected) {
  if (actual.size() != expected.size())
    return ::testing::AssertionFailure() << actual.size() << " bytes, expected " << expected.size();
  for (size_t i = 0; i < actual.size(); ++i)
    if (actual[i] != expected[i])
      return ::testing::AssertionFailure()
             << "byte " << i << " is " << int{actual[i]} << ", expected " << int{expected[i]};
  return ::testing::AssertionSuccess();
}

// Every 16-bit word in [from, to) equals `value`.
::testing::AssertionResult all_words(const Bytes& b, size_t from, size_t to, uint16_t value) {
  for (size_t i = from; i < to; i += 2)
    if (le16(b, i) != value)
      return ::testing::AssertionFailure()
             << "word at " << i << " is " << le16(b, i) << ", expected " << value;
  return ::testing::AssertionSuccess();
}

class ParameterBlock : public DriverTest {
 protected:
  // A block as a host might hand it over: never zeroed, followed by memory the driver must not
  // touch.
  Bytes filled_by_driver() {
    Bytes b(kBlockSize + 64, kUntouched);
    dll.FullPDB(reinterpret_cast<TDeviceParams*>(b.data()));
    return b;
  }

  static size_t entry(int n) { return kHeaderSize + static_cast<size_t>(n - 1) * kEntrySize; }
};

TEST_F(ParameterBlock, IsTheHostRecordSizeAndANullBlockIsIgnored) {
  EXPECT_EQ(dll.GetPDBLen(), 17296);
  dll.FullPDB(nullptr);
  EXPECT_EQ(dll.GetPDBLen(), 17296);
}

TEST_F(ParameterBlock, DefaultHeaderSelectsCardOneWithDebugOn) {
  const Bytes b = filled_by_driver();
  EXPECT_EQ(b[0], 1) << "DebugSwitch";
  EXPECT_EQ(b[1], 0) << "ErrorLog";
  EXPECT_EQ(b[2], 0) << "TraceLog";
  EXPECT_EQ(b[8], 0) << "CreateMode";
  EXPECT_EQ(le32(b, 12), 1u) << "CurCardNo";
}

TEST_F(ParameterBlock, OnlyCardOneIsConfiguredAsPci7505) {
  const Bytes b = filled_by_driver();
  const size_t first = entry(1);
  EXPECT_EQ(le32(b, first), 1u);
  EXPECT_EQ(b[first + 4], 0) << "model 0 is the PCI_7505";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[first + 5]), 9), std::string("\x08PCI_7505"));
  for (int n = 2; n <= 32; ++n) {
    SCOPED_TRACE("card " + std::to_string(n));
    EXPECT_EQ(le32(b, entry(n)), static_cast<uint32_t>(n)) << "CardNo";
    EXPECT_EQ(b[entry(n) + 4], 1) << "ModelCode: no card";
    EXPECT_EQ(b[entry(n) + 5], 0) << "empty ModelName";
  }
}

TEST_F(ParameterBlock, EveryEntryHasTheDefaultPortsRangesAndCounterDivisors) {
  const Bytes b = filled_by_driver();
  for (int n = 1; n <= 32; ++n) {
    SCOPED_TRACE("card " + std::to_string(n));
    const size_t e = entry(n);
    EXPECT_EQ(le32(b, e + 48), 0x220u) << "BaseAddress";
    EXPECT_EQ(le32(b, e + 52), 0u) << "InputMode";
    EXPECT_EQ(le32(b, e + 56), 0u) << "ADMaxRange";
    EXPECT_EQ(le32(b, e + 60), 10u) << "ADFilterNums";
    EXPECT_EQ(le32(b, e + 64), 0u);
    EXPECT_TRUE(all_bytes(b, e + 68, e + 164, 0)) << "ADRange, TCMode, DARange, TCClockDivOn";
    EXPECT_TRUE(all_words(b, e + 164, e + 212, 1)) << "TCClockDiv";
    EXPECT_TRUE(all_bytes(b, e + 212, e + 236, 0)) << "TCFilterDivOn";
    EXPECT_TRUE(all_words(b, e + 236, e + 284, 2)) << "TCFilterDiv";
  }
}

TEST_F(ParameterBlock, ReservedBytesAndTheMemoryAfterTheBlockStayAsSupplied) {
  const Bytes b = filled_by_driver();
  EXPECT_TRUE(all_bytes(b, 3, 8, kUntouched)) << "header 3..7";
  EXPECT_TRUE(all_bytes(b, 9, 12, kUntouched)) << "header 9..11";
  for (int n = 1; n <= 32; ++n) {
    SCOPED_TRACE("card " + std::to_string(n));
    EXPECT_TRUE(all_bytes(b, entry(n) + 46, entry(n) + 48, kUntouched));
    EXPECT_TRUE(all_bytes(b, entry(n) + 284, entry(n) + 540, kUntouched));
  }
  EXPECT_TRUE(all_bytes(b, kBlockSize, b.size(), kUntouched)) << "written past the block";
}

// ---------------------------------------------------------------- tag type descriptions

constexpr size_t kTypeInfoSize = 568;
constexpr size_t kAddrItemSize = 536;
constexpr uint8_t kMarker = 0x5A;

struct Row {
  std::string_view name, description;
  uint8_t value_type, writable;
  double max, min;
};

const Row kRows[6] = {
    {"AD", "模拟量输入", 0, 0, 65535, -65535}, {"DA", "模拟量输出", 0, 1, 65535, -65535},
    {"DI", "数字量输入", 1, 0, 0, 0},          {"DO", "数字量输出", 1, 1, 0, 0},
    {"Count", "计数", 0, 0, 65535, 0},         {"INI_Count", "计数初始化值", 0, 1, 65535, 0},
};

void put_short_string(Bytes& b, size_t at, std::string_view text) {
  b[at] = static_cast<uint8_t>(text.size());
  std::memcpy(&b[at + 1], text.data(), text.size());
}

void put_double(Bytes& b, size_t at, double v) { std::memcpy(&b[at], &v, sizeof v); }

// A TTagTypeInfo as the host reads it: everything not named is zero.
Bytes type_info(const Row& r) {
  Bytes b(kTypeInfoSize, 0);
  put_short_string(b, 0, r.name);
  put_short_string(b, 256, r.description);
  b[512] = r.value_type;
  b[513] = r.writable;
  put_double(b, 548, r.max);
  put_double(b, 556, r.min);
  return b;
}

// A TTagAddrItem: bytes 514..515 are the caller's own.
Bytes addr_item(const Row& r, uint8_t callers_padding) {
  Bytes b(kAddrItemSize, 0);
  put_short_string(b, 0, r.name);
  put_short_string(b, 256, r.description);
  b[512] = r.value_type;
  b[513] = r.writable;
  b[514] = b[515] = callers_padding;
  put_double(b, 516, r.max);
  put_double(b, 524, r.min);
  return b;
}

Bytes record(const Bytes& array, size_t size, size_t i) {
  return Bytes(array.begin() + static_cast<ptrdiff_t>(i * size),
               array.begin() + static_cast<ptrdiff_t>((i + 1) * size));
}

class TagTypeList : public DriverTest {
 protected:
  // GetTags into `capacity` records pre-filled with the marker; the count must come back as sent.
  Bytes get_tags(uint16_t count, size_t capacity) {
    Bytes items(capacity * kTypeInfoSize, kMarker);
    uint16_t in_out = count;
    EXPECT_EQ(dll.GetTags(&in_out, reinterpret_cast<TTagTypeInfo*>(items.data())), 0);
    EXPECT_EQ(in_out, count);
    return items;
  }

  Bytes get_tag_addr_list(int32_t count, size_t capacity) {
    Bytes items(capacity * kAddrItemSize, kMarker);
    int32_t in_out = count;
    dll.GetTagAddrList(0, &in_out, reinterpret_cast<TTagAddrItem*>(items.data()));
    EXPECT_EQ(in_out, count);
    return items;
  }
};

TEST_F(TagTypeList, WithoutAnArrayBothCallsReportSixRows) {
  uint16_t count16 = 99;
  EXPECT_EQ(dll.GetTags(&count16, nullptr), 0);
  EXPECT_EQ(count16, 6);
  int32_t count32 = -5;
  dll.GetTagAddrList(0xFFFFFFFFu, &count32, nullptr);
  EXPECT_EQ(count32, 6);
}

TEST_F(TagTypeList, GetTagsFillsSixFullRecordsWithZeroedReservedBytes) {
  const Bytes items = get_tags(6, 6);
  for (size_t i = 0; i < 6; ++i)
    EXPECT_TRUE(same_bytes(record(items, kTypeInfoSize, i), type_info(kRows[i]))) << "row " << i;
}

TEST_F(TagTypeList, GetTagAddrListFillsSixShortRecordsAndKeepsTheCallersPadding) {
  const Bytes items = get_tag_addr_list(6, 6);
  for (size_t i = 0; i < 6; ++i)
    EXPECT_TRUE(same_bytes(record(items, kAddrItemSize, i), addr_item(kRows[i], kMarker))) << "row " << i;
}

TEST_F(TagTypeList, ALargerCountCopiesTheSixRowsAndLeavesTheRestAlone) {
  const Bytes types = get_tags(9, 9);
  const Bytes addrs = get_tag_addr_list(9, 9);
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_TRUE(same_bytes(record(types, kTypeInfoSize, i), type_info(kRows[i]))) << "row " << i;
    EXPECT_TRUE(same_bytes(record(addrs, kAddrItemSize, i), addr_item(kRows[i], kMarker))) << "row " << i;
  }
  EXPECT_TRUE(all_bytes(types, 6 * kTypeInfoSize, types.size(), kMarker));
  EXPECT_TRUE(all_bytes(addrs, 6 * kAddrItemSize, addrs.size(), kMarker));
}

TEST_F(TagTypeList, ASmallerCountCopiesOnlyThatManyRows) {
  const Bytes types = get_tags(2, 6);
  const Bytes addrs = get_tag_addr_list(2, 6);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(same_bytes(record(types, kTypeInfoSize, i), type_info(kRows[i]))) << "row " << i;
    EXPECT_TRUE(same_bytes(record(addrs, kAddrItemSize, i), addr_item(kRows[i], kMarker))) << "row " << i;
  }
  EXPECT_TRUE(all_bytes(types, 2 * kTypeInfoSize, types.size(), kMarker));
  EXPECT_TRUE(all_bytes(addrs, 2 * kAddrItemSize, addrs.size(), kMarker));

  EXPECT_TRUE(all_bytes(get_tags(0, 6), 0, 6 * kTypeInfoSize, kMarker));
  EXPECT_TRUE(all_bytes(get_tag_addr_list(-1, 6), 0, 6 * kAddrItemSize, kMarker)) << "negative count";
}

}  // namespace
}  // namespace wine_test
