// Number, date and string conversions with the results the host's run-time library gives, so the
// log lines and messages read exactly as the plant engineers know them.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace vorel {

// A failed conversion (StrToInt of "x", a text compared with a number, ...).
class ConversionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// General floating-point format: 15 significant digits, no trailing zeros, exponent form
// "1.5E17" / "1E-5" outside 0.0001 <= |x| < 1e15; "NAN", "INF", "-INF".
std::string FloatToStr(double value);

// Round to nearest, exact halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). Values
// beyond the int64 range give its ends, NaN gives 0.
int64_t RoundHalfEven(double value);

// StrToInt: leading blanks, optional sign, optional "$" / "0x" / "x" hexadecimal prefix, digits
// only, int32 range. nullopt where the original raises.
std::optional<int32_t> TryStrToInt(std::string_view text);
int32_t StrToInt(std::string_view text);  // throws ConversionError

// StrToFloat: blanks around, optional sign, digits with at most one ".", an optional exponent
// ("E" or "e", optional sign, digits); at least one digit before the exponent. nullopt where the
// original raises (no digits, other characters, a value beyond the double range).
std::optional<double> TryStrToFloat(std::string_view text);

// IntToStr with at least `digits` digits, zero-padded after the sign ("0002", "-001").
std::string int_to_str_padded(int64_t value, int digits);

// IntToHex: upper case, at least `digits` digits, never cut (a negative Integer shows its 32 bits).
std::string IntToHex(uint32_t value, int digits);

// The user's date and time settings, read from the system once per process.
const platform::DateTimeFormat& locale_date_time_format();

// FormatDateTime: y, m, d, h, n, s, z, am/pm, c, t, "/" and ":" as the run-time library reads
// them, quoted text kept. The long time is composed from the locale's hour and AM/PM settings.
std::string FormatDateTime(std::string_view picture, const platform::LocalDateTime& t,
                           const platform::DateTimeFormat& locale);

// The date-time text every log line starts with: short date, a blank, long time; the time part
// is left out at exactly midnight.
std::string date_time_text(const platform::LocalDateTime& t);
std::string date_time_text(const platform::LocalDateTime& t, const platform::DateTimeFormat& locale);
// The short date alone.
std::string short_date_text(const platform::LocalDateTime& t);
std::string short_date_text(const platform::LocalDateTime& t, const platform::DateTimeFormat& locale);
// yyyy-mm-dd-hh-nn-ss, each field zero-padded.
std::string stamp_text(const platform::LocalDateTime& t);

// The current date-time text on the engine clock.
std::string now_text();

// The same calendar day moved by `days` (time of day kept).
platform::LocalDateTime add_days(const platform::LocalDateTime& t, int days);

}  // namespace vorel
