#include "tools/hostsim/host_tags.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace hostsim {

namespace {

// VARIANT type codes the host uses for initial values.
constexpr uint16_t kVtDouble = 5;
constexpr uint16_t kVtBool = 11;           // 16-bit, -1 for true
constexpr uint16_t kVtHostString = 0x100;  // pointer to the host's own zero-terminated text

template <size_t N>
void copy_field(char (&field)[N], const std::string& text) {
  // The host fills the field up to its width; a text of full width carries no terminating zero.
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

template <class T>
void store(uint8_t (&bytes)[8], const T& value) {
  static_assert(sizeof(T) <= 8);
  std::memcpy(bytes, &value, sizeof value);
}

bool same_name(std::string_view a, std::string_view b) { return name_key(a) == name_key(b); }

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string name_key(std::string_view gbk) {
  std::string key(gbk);
  for (size_t i = 0; i < key.size(); ++i) {
    const auto byte = static_cast<unsigned char>(key[i]);
    if (byte >= 0x81 && byte <= 0xFE) {
      ++i;  // lead byte: the next one belongs to the same character
    } else if (byte >= 'a' && byte <= 'z') {
      key[i] = static_cast<char>(byte - 'a' + 'A');
    }
  }
  return key;
}

std::optional<HostValue> parse_value(uint8_t value_type, std::string_view text) {
  HostValue v;
  v.value_type = value_type;
  switch (value_type) {
    case vorel::kValueAnalog: {
      const std::string copy(text);
      char* end = nullptr;
      v.number = std::strtod(copy.c_str(), &end);
      if (copy.empty() || *end != '\0' || !std::isfinite(v.number)) return std::nullopt;
      return v;
    }
    case vorel::kValueDigital:
      for (std::string_view on : {"on", "true", "1"})
        if (same_name(text, on)) {
          v.on = true;
          return v;
        }
      for (std::string_view off : {"off", "false", "0"})
        if (same_name(text, off)) return v;
      return std::nullopt;
    case vorel::kValueString:
      v.text = std::string(text);
      return v;
    default:
      return std::nullopt;
  }
}

std::string value_text(const HostValue& value) {
  switch (value.value_type) {
    case vorel::kValueAnalog: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.15g", value.number);
      return buffer;
    }
    case vorel::kValueDigital:
      return value.on ? "on" : "off";
    default:
      return value.text;
  }
}

std::vector<HostTag> builtin_tags() {
  return {
      {1, "DI_1_0", "DI1:0.0", vorel::kValueDigital, 0, {}},   // card 1, input channel 0, bit 0
      {2, "DI_1_1", "DI1:0.1", vorel::kValueDigital, 0, {}},   // card 1, input channel 0, bit 1
      {3, "DO_1_0", "DO1:0.0", vorel::kValueDigital, 0, {}},   // card 1, output channel 0, bit 0
      {4, "DO_1_1", "DO1:0.1", vorel::kValueDigital, 0, {}},   // card 1, output channel 0, bit 1
      {5, "LINK", "COMMLINK", vorel::kValueString, 1000, {}},  // the device's link state as text
  };
}

const HostTag* find_tag(const std::vector<HostTag>& tags, std::string_view name_or_id) {
  for (const HostTag& t : tags)
    if (same_name(t.name, name_or_id)) return &t;
  if (all_digits(name_or_id) && name_or_id.size() <= 10) {
    const long long id = std::strtoll(std::string(name_or_id).c_str(), nullptr, 10);
    for (const HostTag& t : tags)
      if (t.id == id) return &t;
  }
  return nullptr;
}

TagRecords::TagRecords(const std::vector<HostTag>& tags) : records_(tags.size()) {
  texts_.reserve(tags.size());
  for (size_t i = 0; i < tags.size(); ++i) {
    const HostTag& tag = tags[i];
    vorel::TTagInfo& r = records_[i];
    std::memset(&r, 0, sizeof r);  // InitValue type code 0: no initial value
    r.TagID = tag.id;
    copy_field(r.TagName, tag.name);
    copy_field(r.TagAddr, tag.address);
    r.ValueType = tag.value_type;
    r.ScanPeriod = tag.scan_period_ms;
    if (!tag.initial) continue;
    switch (tag.initial->value_type) {
      case vorel::kValueAnalog:
        r.InitValue.vt = kVtDouble;
        store(r.InitValue.value, tag.initial->number);
        break;
      case vorel::kValueDigital:
        r.InitValue.vt = kVtBool;
        store(r.InitValue.value, static_cast<int16_t>(tag.initial->on ? -1 : 0));
        break;
      default:
        texts_.push_back(tag.initial->text);
        r.InitValue.vt = kVtHostString;
        store(r.InitValue.value, texts_.back().c_str());
        break;
    }
  }
  for (vorel::TTagInfo& r : records_) pointers_.push_back(&r);
}

vorel::TTagValue write_record(int32_t tag_id, const HostValue& value) {
  vorel::TTagValue v;
  std::memset(&v, 0, sizeof v);
  v.TagID = tag_id;
  v.ValueType = value.value_type;
  switch (value.value_type) {
    case vorel::kValueAnalog:
      store(v.Value, value.number);
      break;
    case vorel::kValueDigital:
      store(v.Value, static_cast<int32_t>(value.on ? 1 : 0));
      break;
    default:
      store(v.Value, value.text.c_str());
      break;
  }
  return v;
}

vorel::TTagValue digital_write(int32_t tag_id, bool on) {
  HostValue value;
  value.on = on;
  return write_record(tag_id, value);
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

std::optional<uint8_t> parse_value_type(std::string_view text) {
  for (uint8_t type : {vorel::kValueAnalog, vorel::kValueDigital, vorel::kValueString})
    if (same_name(text, value_type_name(type)) || (text.size() == 1 && text[0] == '0' + type)) return type;
  return std::nullopt;
}

}  // namespace hostsim
