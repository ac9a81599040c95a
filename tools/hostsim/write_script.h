// The host's scripted writes: values written to tags at set times after the driver started,
// optionally repeated. One write per line, UTF-8:
//
//   # milliseconds after the start, tag name or id, value (the rest of the line)
//   500  DO_00 on
//   750  DO_00 off
//   repeat 4000
//
// Times do not go backwards. "repeat <ms>" (last line) runs the whole list again every <ms>,
// which must not let one round start before the previous one has ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hostsim/host_tags.h"

namespace hostsim {

struct ScriptedWrite {
  uint32_t at_ms = 0;
  int32_t tag_id = 0;
  std::string tag_name;  // code page 936
  HostValue value;
};

class WriteScript {
 public:
  WriteScript() = default;

  // nullopt on a mistake, with `error` naming the line.
  static std::optional<WriteScript> parse(std::string_view utf8, const std::vector<HostTag>& tags,
                                          std::string& error);

  bool empty() const { return entries_.empty(); }
  size_t size() const { return entries_.size(); }
  const std::vector<ScriptedWrite>& entries() const { return entries_; }  // one round
  uint32_t repeat_ms() const { return repeat_ms_; }

  // The writes whose time has come by `elapsed_ms` and that were not handed out before, in order.
  std::vector<const ScriptedWrite*> due(uint32_t elapsed_ms);

 private:
  std::vector<ScriptedWrite> entries_;
  uint32_t repeat_ms_ = 0;
  size_t next_ = 0;
  uint64_t round_start_ms_ = 0;
};

// A typed command: "<tag> <value>" as one write; nullopt and `error` when the tag is unknown or
// the value does not suit it.
std::optional<ScriptedWrite> parse_write_command(std::string_view utf8, const std::vector<HostTag>& tags,
                                                 std::string& error);

}  // namespace hostsim
