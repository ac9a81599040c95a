#include "tools/hostsim/reports.h"

#include <cmath>
#include <cstring>

#include "tools/hostsim/console.h"

namespace hostsim {

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr int64_t kOleDayOfUnixEpoch = 25569;  // 1970-01-01 counted from 1899-12-30

// Year, month and day of a day number counted from 1970-01-01 (proleptic Gregorian calendar).
void civil_from_days(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

}  // namespace

ReportedValue take_record(const vorel::TTagValue& record, ReceivedStrings& strings) {
  ReportedValue v;
  v.tag_id = record.TagID;
  std::memcpy(&v.stamp, reinterpret_cast<const uint8_t*>(&record) + offsetof(vorel::TTagValue, Stamp),
              sizeof v.stamp);
  v.status = record.TagStatus;
  v.value_type = record.ValueType;
  switch (v.value_type) {
    case vorel::kValueAnalog:
      std::memcpy(&v.number, record.Value, sizeof v.number);
      break;
    case vorel::kValueDigital:
      std::memcpy(&v.flag, record.Value, sizeof v.flag);  // the host reads these two bytes only
      v.on = v.flag != 0;
      break;
    case vorel::kValueString: {
      char* text = nullptr;
      std::memcpy(&text, record.Value, sizeof text);
      v.text = strings.take(text);
      break;
    }
    default:
      break;
  }
  return v;
}

std::string stamp_text(double ole_date) {
  if (!std::isfinite(ole_date) || std::fabs(ole_date) > 3e6) return strprintf("(stamp %g)", ole_date);
  int64_t total_ms = std::llround(ole_date * static_cast<double>(kMsPerDay));
  int64_t days = total_ms / kMsPerDay;
  int64_t ms = total_ms % kMsPerDay;
  if (ms < 0) {
    ms += kMsPerDay;
    --days;
  }
  int64_t year = 0;
  unsigned month = 0, day = 0;
  civil_from_days(days - kOleDayOfUnixEpoch, year, month, day);
  return strprintf("%04lld-%02u-%02u %02d:%02d:%02d.%03d", static_cast<long long>(year), month, day,
                   static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                   static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
}

std::string shown_value(const ReportedValue& value) {
  switch (value.value_type) {
    case vorel::kValueAnalog:
      return strprintf("%.15g", value.number);
    case vorel::kValueDigital:
      return value.on ? "on" : "off";
    case vorel::kValueString: {
      if (!value.text) return "(null)";
      std::string quoted(1, '"');
      quoted.append(gbk_to_utf8(*value.text)).push_back('"');
      return quoted;
    }
    default:
      return strprintf("(value type %u)", value.value_type);
  }
}

std::string status_text(uint32_t status) {
  switch (status) {
    case vorel::kStatusNone:
      return "0x00000000";
    case vorel::kStatusWriteExpired:
      return "0x02000000 (queued write dropped)";
    case vorel::kStatusWriteFailed:
      return "0x04000000 (write failed)";
    default:
      return strprintf("0x%08X", status);
  }
}

}  // namespace hostsim
