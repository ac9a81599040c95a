// The host's side of the tag records: the tags a project assigns to the device, turned into the
// records the driver reads at start-up, and value records for writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interface/records.h"

namespace hostsim {

struct HostTag {
  int32_t id = 0;
  std::string name;     // code page 936, at most 32 bytes reach the driver
  std::string address;  // code page 936, at most 64 bytes reach the driver
  uint8_t value_type = vorel::kValueDigital;
  uint32_t scan_period_ms = 0;
};

// A small project: inputs and outputs of card 1 and the device's link tag.
std::vector<HostTag> builtin_tags();

// The records handed to IniDriver. The pointer array stays valid as long as this object lives.
class TagRecords {
 public:
  explicit TagRecords(const std::vector<HostTag>& tags);
  TagRecords(const TagRecords&) = delete;
  TagRecords& operator=(const TagRecords&) = delete;

  int32_t count() const { return static_cast<int32_t>(records_.size()); }
  vorel::TTagInfo** pointers() { return pointers_.data(); }

 private:
  std::vector<vorel::TTagInfo> records_;
  std::vector<vorel::TTagInfo*> pointers_;
};

// A value record for a write of a digital tag: on is sent as the 32-bit integer 1.
vorel::TTagValue digital_write(int32_t tag_id, bool on);

const char* value_type_name(uint8_t value_type);

}  // namespace hostsim
