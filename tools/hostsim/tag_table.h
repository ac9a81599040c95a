// The project's tag list, one tag per line of a CSV file, as the host keeps it for a device:
//
//   id,name,address,value type,scan period,initial value
//   1,DI_00,"DI1:0,0.0",digital,0,
//
// Fields are separated by commas; a field in double quotes may hold commas, and "" inside it is
// one quote. Blank lines and lines starting with # are skipped, and so is a first line whose
// first field is "id". The value type is analog, digital or string (or 0, 1, 2); the scan period
// is in milliseconds; an empty initial value leaves the tag's default. The file is UTF-8; names,
// addresses and texts reach the driver in code page 936.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hostsim/host_tags.h"

namespace hostsim {

// The fields of one CSV line; nullopt when a quoted field is not closed.
std::optional<std::vector<std::string>> split_csv_line(std::string_view line);

// The tags of a whole file's text. On a mistake, nullopt and `error` names the line and the field.
std::optional<std::vector<HostTag>> parse_tag_table(std::string_view utf8, std::string& error);

// The file's bytes; nullopt when it cannot be read.
std::optional<std::string> read_text_file(const std::string& path);

// The lines of a text, with a leading UTF-8 byte order mark and line-end CRs removed.
std::vector<std::string_view> text_lines(std::string_view text);

}  // namespace hostsim
