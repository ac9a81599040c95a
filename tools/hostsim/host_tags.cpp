#include "tools/hostsim/host_tags.h"

#include <algorithm>
#include <cstring>

namespace hostsim {

namespace {

template <size_t N>
void copy_field(char (&field)[N], const std::string& text) {
  // The host fills the field up to its width; a text of full width carries no terminating zero.
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

}  // namespace

std::vector<HostTag> builtin_tags() {
  return {
      {1, "DI_1_0", "DI1:0.0", vorel::kValueDigital, 0},   // card 1, input channel 0, bit 0
      {2, "DI_1_1", "DI1:0.1", vorel::kValueDigital, 0},   // card 1, input channel 0, bit 1
      {3, "DO_1_0", "DO1:0.0", vorel::kValueDigital, 0},   // card 1, output channel 0, bit 0
      {4, "DO_1_1", "DO1:0.1", vorel::kValueDigital, 0},   // card 1, output channel 0, bit 1
      {5, "LINK", "COMMLINK", vorel::kValueString, 1000},  // the device's link state as text
  };
}

TagRecords::TagRecords(const std::vector<HostTag>& tags) : records_(tags.size()) {
  for (size_t i = 0; i < tags.size(); ++i) {
    vorel::TTagInfo& r = records_[i];
    std::memset(&r, 0, sizeof r);  // InitValue type code 0: no initial value
    r.TagID = tags[i].id;
    copy_field(r.TagName, tags[i].name);
    copy_field(r.TagAddr, tags[i].address);
    r.ValueType = tags[i].value_type;
    r.ScanPeriod = tags[i].scan_period_ms;
  }
  for (vorel::TTagInfo& r : records_) pointers_.push_back(&r);
}

vorel::TTagValue digital_write(int32_t tag_id, bool on) {
  vorel::TTagValue v;
  std::memset(&v, 0, sizeof v);
  v.TagID = tag_id;
  v.ValueType = vorel::kValueDigital;
  const int32_t flag = on ? 1 : 0;
  std::memcpy(v.Value, &flag, sizeof flag);
  return v;
}

const char* value_type_name(uint8_t value_type) {
  switch (value_type) {
    case vorel::kValueAnalog:
      return "analog";
    case vorel::kValueDigital:
      return "digital";
    case vorel::kValueString:
      return "string";
    default:
      return "unknown";
  }
}

}  // namespace hostsim
