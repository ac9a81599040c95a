#include "engine/tag_types.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "interface/exports.h"
#include "interface/tag_types.h"
#include "support/gbk_text.h"

namespace {

std::string short_string(const uint8_t* s) { return std::string(reinterpret_cast<const char*>(s + 1), s[0]); }

struct Row {
  const char* name;
  const char* description;
  uint8_t value_type, writable;
  double max, min;
};

const Row kRows[] = {
    {"AD", "模拟量输入", 0, 0, 65535, -65535}, {"DA", "模拟量输出", 0, 1, 65535, -65535},
    {"DI", "数字量输入", 1, 0, 0, 0},          {"DO", "数字量输出", 1, 1, 0, 0},
    {"Count", "计数", 0, 0, 65535, 0},         {"INI_Count", "计数初始化值", 0, 1, 65535, 0},
};

// An address names its type by the type's name at its start: no name may start another.
TEST(TagTypeTable, NoTypeNameStartsAnother) {
  for (const vorel::TagTypeRow& a : vorel::kTagTypes)
    for (const vorel::TagTypeRow& b : vorel::kTagTypes)
      EXPECT_TRUE(&a == &b || !vorel::gbk::starts_with_no_case(a.Name, b.Name)) << a.Name << " / " << b.Name;
}

TEST(TagTypeDescriptions, NullArrayReportsSixRows) {
  uint16_t count16 = 0;
  EXPECT_EQ(GetTags(&count16, nullptr), 0);
  EXPECT_EQ(count16, 6);
  int32_t count32 = 0;
  GetTagAddrList(0, &count32, nullptr);
  EXPECT_EQ(count32, 6);
  GetTagAddrList(0, nullptr, nullptr);  // no count pointer: nothing to write, no crash
}

TEST(TagTypeDescriptions, TypeRecordsMatchTheHostTableByteForByte) {
  std::vector<TTagTypeInfo> items(6);
  std::memset(items.data(), 0xEE, items.size() * sizeof(TTagTypeInfo));
  uint16_t count = 6;
  EXPECT_EQ(GetTags(&count, items.data()), 0);
  EXPECT_EQ(count, 6);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(kRows[i].name);
    const TTagTypeInfo& t = items[i];
    EXPECT_EQ(short_string(t.TypeName), kRows[i].name);
    EXPECT_EQ(short_string(t.TypeDesc), kRows[i].description);
    EXPECT_EQ(t.ValueType, kRows[i].value_type);
    EXPECT_EQ(t.Writable, kRows[i].writable);
    EXPECT_EQ(double{t.MaxValue}, kRows[i].max);
    EXPECT_EQ(double{t.MinValue}, kRows[i].min);
    const auto* raw = reinterpret_cast<const uint8_t*>(&t);
    for (size_t b = 514; b < 548; ++b) {
      EXPECT_EQ(raw[b], 0) << "reserved byte " << b;
    }
    for (size_t b = 564; b < 568; ++b) EXPECT_EQ(raw[b], 0) << "trailing byte " << b;
    // Short strings are zero past their text, so the records compare equal whatever the host held.
    for (size_t b = 1 + t.TypeName[0]; b < 256; ++b) {
      EXPECT_EQ(t.TypeName[b], 0);
    }
  }
}

TEST(TagTypeDescriptions, AddressItemsAreTheShortForm) {
  std::vector<TTagAddrItem> items(6);
  std::memset(items.data(), 0xEE, items.size() * sizeof(TTagAddrItem));
  int32_t count = 6;
  GetTagAddrList(12345, &count, items.data());
  EXPECT_EQ(count, 6);
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(kRows[i].name);
    const TTagAddrItem& t = items[i];
    EXPECT_EQ(short_string(t.TypeName), kRows[i].name);
    EXPECT_EQ(short_string(t.TypeDesc), kRows[i].description);
    EXPECT_EQ(t.ValueType, kRows[i].value_type);
    EXPECT_EQ(t.Writable, kRows[i].writable);
    EXPECT_EQ(double{t.MaxValue}, kRows[i].max);
    EXPECT_EQ(double{t.MinValue}, kRows[i].min);
    EXPECT_EQ(t.trailer532, 0u);
    EXPECT_EQ(t.padding514[0], 0xEE) << "padding is the host's";
  }
}

TEST(TagTypeDescriptions, RequestsBeyondTheTableCopySixRowsOnly) {
  std::vector<TTagTypeInfo> types(9);
  std::memset(types.data(), 0xEE, types.size() * sizeof(TTagTypeInfo));
  uint16_t count16 = 9;
  GetTags(&count16, types.data());
  EXPECT_EQ(count16, 9);
  EXPECT_EQ(short_string(types[5].TypeName), "INI_Count");
  for (size_t i = 6; i < 9; ++i) {
    EXPECT_EQ(types[i].TypeName[0], 0xEE) << "record " << i << " was written";
  }

  std::vector<TTagAddrItem> items(8);
  std::memset(items.data(), 0xEE, items.size() * sizeof(TTagAddrItem));
  int32_t count32 = -1;
  GetTagAddrList(0, &count32, items.data());
  EXPECT_EQ(items[0].TypeName[0], 0xEE) << "a negative count copies nothing";
  count32 = 1;
  GetTagAddrList(0, &count32, items.data());
  EXPECT_EQ(short_string(items[0].TypeName), "AD");
  EXPECT_EQ(items[1].TypeName[0], 0xEE);
  count32 = 2;
  GetTagAddrList(0, &count32, items.data());
  EXPECT_EQ(short_string(items[1].TypeName), "DA");
  EXPECT_EQ(items[2].TypeName[0], 0xEE);
}

// The host offers the engine's first six tag types under the engine's names, in the engine's order
// and writable exactly where the engine writes; Freq is the engine's own and is not offered.
TEST(TagTypeDescriptions, HostTableAgreesWithTheEngineTable) {
  const auto& host = vorel::host_tag_types();
  ASSERT_EQ(host.size() + 1, vorel::kTagTypes.size());
  for (size_t i = 0; i < host.size(); ++i) {
    const vorel::TagTypeRow& engine = vorel::kTagTypes[i];
    EXPECT_EQ(short_string(host[i].TypeName), engine.Name) << "row " << i;
    EXPECT_EQ(host[i].Writable != 0, engine.CanWrite) << engine.Name;
    EXPECT_NE(engine.CanRead, engine.CanWrite) << engine.Name << " goes one way only";
  }
  EXPECT_EQ(vorel::kTagTypes[vorel::kTypeFreq].Name, "Freq");
  // Only PCI_7505 (code 0) has channel limits; "no card" (1) and codes outside the table have none.
  const vorel::TagTypeRow& di = vorel::kTagTypes[vorel::kTypeDI];
  for (const int model : {1, -1})
    EXPECT_EQ((std::pair{vorel::chan_min_of(di, model), vorel::chan_max_of(di, model)}), (std::pair{-1, -1}))
        << model;
  EXPECT_EQ(vorel::chan_min_of(di, 0), 0);
}

}  // namespace
