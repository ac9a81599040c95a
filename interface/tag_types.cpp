#include "interface/tag_types.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vorel {

namespace {

void set_short_string(uint8_t (&field)[256], std::string_view text) {
  const size_t length = std::min<size_t>(text.size(), 255);
  field[0] = static_cast<uint8_t>(length);
  std::memcpy(field + 1, text.data(), length);
}

TTagTypeInfo row(std::string_view name, std::string_view description, uint8_t value_type, uint8_t writable,
                 double max_value, double min_value) {
  TTagTypeInfo r{};
  set_short_string(r.TypeName, name);
  set_short_string(r.TypeDesc, description);
  r.ValueType = value_type;
  r.Writable = writable;
  r.MaxValue = max_value;
  r.MinValue = min_value;
  return r;
}

size_t rows_to_copy(int64_t requested) {
  return requested <= 0 ? 0 : static_cast<size_t>(std::min<int64_t>(requested, kHostTagTypeCount));
}

}  // namespace

const std::array<TTagTypeInfo, kHostTagTypeCount>& host_tag_types() {
  static const std::array<TTagTypeInfo, kHostTagTypeCount> table = {
      row("AD", "模拟量输入", kValueAnalog, 0, 65535, -65535),
      row("DA", "模拟量输出", kValueAnalog, 1, 65535, -65535),
      row("DI", "数字量输入", kValueDigital, 0, 0, 0),
      row("DO", "数字量输出", kValueDigital, 1, 0, 0),
      row("Count", "计数", kValueAnalog, 0, 65535, 0),
      row("INI_Count", "计数初始化值", kValueAnalog, 1, 65535, 0),
  };
  return table;
}

void describe_tag_types(uint16_t* count, TTagTypeInfo* items) {
  if (!count) return;
  if (!items) {
    *count = kHostTagTypeCount;
    return;
  }
  const auto& table = host_tag_types();
  const size_t n = rows_to_copy(*count);
  std::memcpy(items, table.data(), n * sizeof(TTagTypeInfo));
}

void describe_tag_addresses(int32_t* count, TTagAddrItem* items) {
  if (!count) return;
  if (!items) {
    *count = kHostTagTypeCount;
    return;
  }
  const auto& table = host_tag_types();
  const size_t n = rows_to_copy(*count);
  for (size_t i = 0; i < n; ++i) {
    TTagAddrItem item{};
    std::memcpy(item.TypeName, table[i].TypeName, sizeof item.TypeName);
    std::memcpy(item.TypeDesc, table[i].TypeDesc, sizeof item.TypeDesc);
    item.ValueType = table[i].ValueType;
    item.Writable = table[i].Writable;
    item.MaxValue = table[i].MaxValue;
    item.MinValue = table[i].MinValue;
    item.trailer532 = 0;
    // Bytes 514..515 are padding the original never writes: leave the host's bytes there.
    std::memcpy(reinterpret_cast<uint8_t*>(&items[i]), &item, 514);
    std::memcpy(reinterpret_cast<uint8_t*>(&items[i]) + 516, reinterpret_cast<uint8_t*>(&item) + 516, 20);
  }
}

}  // namespace vorel
