#include "tools/hostsim/write_script.h"

#include "tools/hostsim/console.h"
#include "tools/hostsim/tag_table.h"

namespace hostsim {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

// The first blank-separated word of `s`; `s` keeps the rest, leading blanks removed.
std::string_view take_word(std::string_view& s) {
  s = trimmed(s);
  size_t end = 0;
  while (end < s.size() && !is_blank(s[end])) ++end;
  const std::string_view word = s.substr(0, end);
  s = trimmed(s.substr(end));
  return word;
}

std::optional<uint32_t> milliseconds(std::string_view text) {
  if (text.empty() || text.size() > 9) return std::nullopt;  // up to 11 days and a half
  uint32_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  return value;
}

const char* expected_value(uint8_t value_type) {
  switch (value_type) {
    case vorel::kValueAnalog:
      return "a number";
    case vorel::kValueDigital:
      return "on or off";
    default:
      return "a text";
  }
}

}  // namespace

std::optional<ScriptedWrite> parse_write_command(std::string_view utf8, const std::vector<HostTag>& tags,
                                                 std::string& error) {
  std::string_view rest = utf8;
  const std::string_view name = take_word(rest);
  const HostTag* tag = find_tag(tags, utf8_to_gbk(name));
  if (!tag) {
    error = "no tag named '" + std::string(name) + "'";
    return std::nullopt;
  }
  std::optional<HostValue> value = parse_value(tag->value_type, utf8_to_gbk(rest));
  if (!value) {
    error = gbk_to_utf8(tag->name) + " takes " + expected_value(tag->value_type) + ", not '" +
            std::string(rest) + "'";
    return std::nullopt;
  }
  ScriptedWrite write;
  write.tag_id = tag->id;
  write.tag_name = tag->name;
  write.value = std::move(*value);
  return write;
}

std::optional<WriteScript> WriteScript::parse(std::string_view utf8, const std::vector<HostTag>& tags,
                                              std::string& error) {
  WriteScript script;
  int line_number = 0;
  for (std::string_view line : text_lines(utf8)) {
    ++line_number;
    std::string_view rest = trimmed(line);
    if (rest.empty() || rest.front() == '#') continue;
    const auto fail = [&](const std::string& problem) {
      error = strprintf("line %d: ", line_number) + problem;
      return std::nullopt;
    };
    if (script.repeat_ms_ != 0) return fail("nothing may follow the repeat line");
    const std::string_view first = take_word(rest);
    if (first == "repeat") {
      const std::optional<uint32_t> period = milliseconds(rest);
      if (!period || *period == 0) return fail("repeat takes a period in milliseconds");
      if (script.entries_.empty()) return fail("repeat without writes");
      if (*period < script.entries_.back().at_ms - script.entries_.front().at_ms)
        return fail("a round of the list lasts longer than the repeat period");
      script.repeat_ms_ = *period;
      continue;
    }
    const std::optional<uint32_t> at = milliseconds(first);
    if (!at) return fail("a line starts with the milliseconds after the start");
    if (!script.entries_.empty() && *at < script.entries_.back().at_ms)
      return fail("the time goes backwards");
    std::string problem;
    std::optional<ScriptedWrite> write = parse_write_command(rest, tags, problem);
    if (!write) return fail(problem);
    write->at_ms = *at;
    script.entries_.push_back(std::move(*write));
  }
  return script;
}

std::vector<const ScriptedWrite*> WriteScript::due(uint32_t elapsed_ms) {
  std::vector<const ScriptedWrite*> writes;
  while (!entries_.empty()) {
    if (next_ == entries_.size()) {
      if (repeat_ms_ == 0) break;
      next_ = 0;
      round_start_ms_ += repeat_ms_;
    }
    const ScriptedWrite& write = entries_[next_];
    if (round_start_ms_ + write.at_ms > elapsed_ms) break;
    writes.push_back(&write);
    ++next_;
  }
  return writes;
}

}  // namespace hostsim
