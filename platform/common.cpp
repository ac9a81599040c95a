// Portable pieces of the platform layer shared by both implementations.
#include <atomic>

#include "platform/platform.h"

namespace platform {

namespace {
std::atomic<Clock*> g_clock{nullptr};
}

Clock& clock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : system_clock();
}

void set_clock(Clock* replacement) { g_clock.store(replacement, std::memory_order_release); }

double to_ole_date(const LocalDateTime& t) {
  // Days from 1970-01-01 by the proleptic Gregorian calendar (civil-from-days inverse); OLE dates
  // count from 1899-12-30, 25569 days earlier.
  constexpr int kOleEpochDays = 25569;
  auto days_from_civil = [](int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
  };
  const int days = days_from_civil(t.year, t.month, t.day) + kOleEpochDays;
  const double fraction =
      (((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond) / 86400000.0;
  return days + fraction;
}

}  // namespace platform
