// The host's records as the suites hand them to the driver: a tag as IniDriver and AddTags take
// it, a value as OnDataWrite and WriteTags take it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "records/tag_records.h"

namespace testing_support {

inline vorel::TTagInfo host_record(int32_t id, const char* address, uint8_t value_type,
                                   uint32_t scan_period = 100) {
  vorel::TTagInfo t;
  std::memset(&t, 0, sizeof t);
  t.TagID = id;
  std::snprintf(t.TagName, sizeof t.TagName, "Tag%d", id);
  std::snprintf(t.TagAddr, sizeof t.TagAddr, "%s", address);
  t.ValueType = value_type;
  t.ScanPeriod = scan_period;
  return t;
}

inline vorel::TTagValue switch_value(int32_t id, bool on) {
  vorel::TTagValue v{};
  v.TagID = id;
  v.ValueType = 1;
  const int32_t word = on ? 1 : 0;
  std::memcpy(v.Value, &word, sizeof word);
  return v;
}

inline vorel::TTagValue number_value(int32_t id, double d) {
  vorel::TTagValue v{};
  v.TagID = id;
  v.ValueType = 0;
  std::memcpy(v.Value, &d, sizeof d);
  return v;
}

}  // namespace testing_support
