// The value records OnDataRead fills, as the host reads them: the value by its type (a string
// value is a host string the host now owns), the time stamp and the event word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "records/tag_records.h"
#include "tools/hostsim/driver_api.h"

namespace hostsim {

struct ReportedValue {
  int32_t tag_id = 0;
  double stamp = 0;  // OLE date, local time
  uint32_t status = 0;
  uint8_t value_type = 0;
  double number = 0;                // analog
  bool on = false;                  // digital: the 16-bit flag is not 0
  uint16_t flag = 0;                // digital: the flag as the driver wrote it
  std::optional<std::string> text;  // string, code page 936; nullopt for a null pointer
};

// Reads one record; a string value's block is handed back to the manager through `strings`.
ReportedValue take_record(const vorel::TTagValue& record, ReceivedStrings& strings);

// "2026-12-07 09:05:03.250" for an OLE date.
std::string stamp_text(double ole_date);

// The value as the terminal shows it (UTF-8): on/off, the number, or the text in quotes.
std::string shown_value(const ReportedValue& value);

// "0x04000000 (write failed)" and the like.
std::string status_text(uint32_t status);

}  // namespace hostsim
