// The host's side of the tag records: the tags a project assigns to the device, turned into the
// records the driver reads at start-up, the values the host writes, and finding a tag by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/tag_records.h"

namespace hostsim {

// One value as the host holds it, typed like the tag it belongs to.
struct HostValue {
  uint8_t value_type = vorel::kValueDigital;
  double number = 0;  // analog
  bool on = false;    // digital
  std::string text;   // string, code page 936
};

// Reads a value written for a tag of this value type: a number for analog; on, off, true, false, 1
// or 0 for digital (any case); any text, blanks included, for string (code page 936 in, as it is).
// nullopt when the text is no value of that type.
std::optional<HostValue> parse_value(uint8_t value_type, std::string_view text);

// The value as the host shows it, code page 936: "on"/"off", the number, or the text.
std::string value_text(const HostValue& value);

struct HostTag {
  int32_t id = 0;
  std::string name;     // code page 936, at most 32 bytes reach the driver
  std::string address;  // code page 936, at most 64 bytes reach the driver
  uint8_t value_type = vorel::kValueDigital;
  uint32_t scan_period_ms = 0;
  std::optional<HostValue> initial;  // none: the driver starts the tag with its type's default
};

// A small project: inputs and outputs of card 1 and the device's link tag.
std::vector<HostTag> builtin_tags();

// A name as tags are looked up: ASCII letters upper-cased, the two bytes of a code page 936
// character left as they are (a trail byte may look like a letter).
std::string name_key(std::string_view gbk);

// The tag with this name (ASCII letters in any case) or, for a text of digits, this identifier.
// `name_or_id` is code page 936. nullptr when there is none.
const HostTag* find_tag(const std::vector<HostTag>& tags, std::string_view name_or_id);

// The records handed to IniDriver. The pointer array, and the texts string initial values point
// to, stay valid as long as this object lives.
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
  std::vector<std::string> texts_;  // reserved up front: the records point into these
};

// A value record for a write. A string value's pointer points into value.text, which must outlive
// the call that hands the record over.
vorel::TTagValue write_record(int32_t tag_id, const HostValue& value);

// A value record for a write of a digital tag: on is sent as the 32-bit integer 1.
vorel::TTagValue digital_write(int32_t tag_id, bool on);

const char* value_type_name(uint8_t value_type);

// "analog", "digital", "string" (any case) or the codes 0, 1, 2.
std::optional<uint8_t> parse_value_type(std::string_view text);

}  // namespace hostsim
