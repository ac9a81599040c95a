#include "tools/hostsim/tag_table.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

#include "tools/hostsim/console.h"

namespace hostsim {

namespace {

constexpr size_t kNameBytes = 32;     // what the driver reads of TagName
constexpr size_t kAddressBytes = 64;  // and of TagAddr

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A decimal number without sign within [0, max].
std::optional<uint64_t> unsigned_number(std::string_view text, uint64_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

bool is_header(const std::vector<std::string>& fields) {
  const std::string_view first = trimmed(fields.front());
  return first.size() == 2 && (first[0] == 'i' || first[0] == 'I') && (first[1] == 'd' || first[1] == 'D');
}

// One tag from the fields of one line; on a mistake, nullopt and what is wrong.
std::optional<HostTag> tag_of(const std::vector<std::string>& fields, std::string& error) {
  if (fields.size() < 5 || fields.size() > 6) {
    error = strprintf("%d fields, expected id,name,address,value type,scan period[,initial value]",
                      static_cast<int>(fields.size()));
    return std::nullopt;
  }
  HostTag tag;
  const std::optional<uint64_t> id = unsigned_number(trimmed(fields[0]), INT32_MAX);
  if (!id) {
    error = "the id is not a number from 0 to 2147483647";
    return std::nullopt;
  }
  tag.id = static_cast<int32_t>(*id);
  tag.name = utf8_to_gbk(trimmed(fields[1]));
  tag.address = utf8_to_gbk(trimmed(fields[2]));
  if (tag.name.empty() || tag.name.size() > kNameBytes) {
    error = strprintf("the name must have 1 to %d bytes in code page 936", static_cast<int>(kNameBytes));
    return std::nullopt;
  }
  if (tag.address.size() > kAddressBytes) {
    error =
        strprintf("the address has more than the %d bytes the driver reads", static_cast<int>(kAddressBytes));
    return std::nullopt;
  }
  const std::optional<uint8_t> type = parse_value_type(trimmed(fields[3]));
  if (!type) {
    error = "the value type is not analog, digital or string";
    return std::nullopt;
  }
  tag.value_type = *type;
  const std::string_view period = trimmed(fields[4]);
  const std::optional<uint64_t> ms = period.empty() ? 0 : unsigned_number(period, UINT32_MAX);
  if (!ms) {
    error = "the scan period is not a number of milliseconds";
    return std::nullopt;
  }
  tag.scan_period_ms = static_cast<uint32_t>(*ms);
  // A string's initial value keeps its blanks; the others are read without them.
  const std::string_view initial = fields.size() == 6 ? fields[5] : std::string_view();
  const std::string_view given = tag.value_type == vorel::kValueString ? initial : trimmed(initial);
  if (!given.empty()) {
    tag.initial = parse_value(tag.value_type, utf8_to_gbk(given));
    if (!tag.initial) {
      error = std::string("the initial value is no ") + value_type_name(tag.value_type) + " value";
      return std::nullopt;
    }
  }
  return tag;
}

}  // namespace

std::optional<std::vector<std::string>> split_csv_line(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c != '"') {
        fields.back() += c;
      } else if (i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

std::optional<std::vector<HostTag>> parse_tag_table(std::string_view utf8, std::string& error) {
  std::vector<HostTag> tags;
  std::set<int32_t> ids;
  std::set<std::string> names;
  int line_number = 0;
  for (std::string_view line : text_lines(utf8)) {
    ++line_number;
    if (trimmed(line).empty() || trimmed(line).front() == '#') continue;
    const std::optional<std::vector<std::string>> fields = split_csv_line(line);
    std::string problem;
    if (!fields) {
      problem = "a quoted field is not closed";
    } else if (tags.empty() && is_header(*fields)) {
      continue;
    } else if (std::optional<HostTag> tag = tag_of(*fields, problem)) {
      if (!ids.insert(tag->id).second) {
        problem = strprintf("the id %d is used twice", tag->id);
      } else if (!names.insert(name_key(tag->name)).second) {
        problem = "the name is used twice (names are found in any case of their letters)";
      } else {
        tags.push_back(std::move(*tag));
        continue;
      }
    }
    error = strprintf("line %d: ", line_number) + problem;
    return std::nullopt;
  }
  if (tags.empty()) {
    error = "no tags";
    return std::nullopt;
  }
  return tags;
}

std::optional<std::string> read_text_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

std::vector<std::string_view> text_lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

}  // namespace hostsim
