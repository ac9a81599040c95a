// Number, date and string conversions as the host's run-time library performs them.
#include "support/delphi.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "support/gbk_text.h"

namespace vorel {

// ---------------------------------------------------------------- numbers

namespace {

// Digits of a finite, positive value rounded to `kFloatDigits` significant digits, and the
// decimal exponent of the first digit.
struct DecimalDigits {
  std::string digits;  // no trailing zeros, at least one digit
  int exponent = 0;    // value = d.ddd x 10^exponent
};

constexpr int kFloatDigits = 15;
// The original stores the value as an 18-digit BCD number (x87 FBSTP) and rounds that half away
// from zero to 15 digits. Taking 18 correctly rounded digits first gives the same two-step result.
constexpr int kBcdDigits = 18;

DecimalDigits decimal_of(double magnitude) {
  char buffer[64];
  auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, kBcdDigits - 1);
  const std::string_view text(buffer, static_cast<size_t>(end - buffer));
  // "d.ddddddddddddddddde[+-]x"
  std::string digits;
  digits += text[0];
  digits += text.substr(2, kFloatDigits);  // the digits kept, and the one that rounds them
  const size_t e = text.find('e');
  int exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), end, exponent);

  const bool round_up = digits[kFloatDigits] >= '5';
  digits.resize(kFloatDigits);
  if (round_up) {
    int i = kFloatDigits - 1;
    while (i >= 0 && digits[static_cast<size_t>(i)] == '9') digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++digits[static_cast<size_t>(i)];
    } else {
      digits.insert(digits.begin(), '1');
      digits.pop_back();
      ++exponent;
    }
  }
  while (digits.back() == '0') digits.pop_back();  // the first digit is never 0
  return {digits, exponent};
}

}  // namespace

std::string FloatToStr(double value) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";  // negative zero included

  const DecimalDigits d = decimal_of(std::fabs(value));
  const std::string_view digits = d.digits;
  const int e = d.exponent;
  const size_t count = digits.size();
  std::string out;
  if (value < 0) out += '-';
  if (e >= kFloatDigits || e < -4) {
    out += digits[0];
    if (count > 1) out.append(".").append(digits.substr(1));
    out.append("E").append(std::to_string(e));
  } else if (e < 0) {
    out.append("0.").append(static_cast<size_t>(-e - 1), '0').append(digits);
  } else if (count <= static_cast<size_t>(e) + 1) {
    out.append(digits).append(static_cast<size_t>(e) + 1 - count, '0');
  } else {
    out.append(digits.substr(0, static_cast<size_t>(e) + 1))
        .append(".")
        .append(digits.substr(static_cast<size_t>(e) + 1));
  }
  return out;
}

int64_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (value >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  if (value < -kTwoTo63) return std::numeric_limits<int64_t>::min();
  // Independent of the FPU rounding mode, which a host may have changed.
  const double below = std::floor(value);
  const double fraction = value - below;  // exact
  double result = below;
  if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0)) result = below + 1;
  if (result >= kTwoTo63) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(result);
}

std::optional<int32_t> TryStrToInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == text.size()) return std::nullopt;

  constexpr int64_t kLimit = int64_t{1} << 31;  // magnitude of the smallest int32
  int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > kLimit) return std::nullopt;
  }
  if (!negative && magnitude == kLimit) return std::nullopt;
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

int32_t StrToInt(std::string_view text) {
  if (auto v = TryStrToInt(text)) return *v;
  throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
}

std::optional<double> TryStrToFloat(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  text = text.substr(b, e - b);

  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  // Check the shape first: from_chars alone would also take "inf", "nan" and hexadecimal forms.
  size_t i = 0, digits = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t first = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == first) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;

  // from_chars (no leading "+", which is why the sign was taken off) reads "." whatever the C
  // locale of the host process says.
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

std::string int_to_str_padded(int64_t value, int digits) {
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  std::string number = std::to_string(magnitude);
  if (digits > 0 && number.size() < static_cast<size_t>(digits))
    number.insert(0, static_cast<size_t>(digits) - number.size(), '0');
  return value < 0 ? "-" + number : number;
}

std::string IntToHex(uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  return text;
}

// ---------------------------------------------------------------- calendar

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12, as every clock gives it).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civil_from_days(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(yoe + era * 400 + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

// 0 = Sunday.
int day_of_week(const platform::LocalDateTime& t) {
  const int64_t days = days_from_civil(t.year, t.month, t.day);  // 1970-01-01 was a Thursday
  return static_cast<int>(((days + 4) % 7 + 7) % 7);
}

}  // namespace

platform::LocalDateTime add_days(const platform::LocalDateTime& t, int days) {
  platform::LocalDateTime out = t;
  civil_from_days(days_from_civil(t.year, t.month, t.day) + days, out.year, out.month, out.day);
  return out;
}

// ---------------------------------------------------------------- date-time texts

namespace {

// Whether the picture carries an AM/PM marker outside quoted text: its hours then run 1..12.
bool uses_twelve_hour_clock(std::string_view picture) {
  char quote = 0;
  for (size_t i = 0; i < picture.size(); ++i) {
    const char c = picture[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (gbk::is_lead_byte(static_cast<unsigned char>(c))) {
      ++i;
    } else if (gbk::starts_with_no_case(picture.substr(i), "am/pm") ||
               gbk::starts_with_no_case(picture.substr(i), "a/p") ||
               gbk::starts_with_no_case(picture.substr(i), "ampm")) {
      return true;
    }
  }
  return false;
}

std::string time_picture(const platform::DateTimeFormat& locale, bool with_seconds) {
  std::string picture = locale.hour_leading_zero ? "hh:mm" : "h:mm";
  if (with_seconds) picture += ":ss";
  if (locale.twelve_hour) picture = locale.marker_first ? "AMPM " + picture : picture + " AMPM";
  return picture;
}

class DateTimeWriter {
 public:
  DateTimeWriter(const platform::LocalDateTime& t, const platform::DateTimeFormat& locale)
      : t_(t), locale_(locale) {}

  // `level` limits the nesting of pictures inside pictures (c, ddddd, t).
  void append(std::string_view picture, int level) {
    if (level > 2) return;
    const bool twelve_hour = uses_twelve_hour_clock(picture);
    char last_token = ' ';
    size_t i = 0;
    while (i < picture.size()) {
      const char starter = picture[i];
      if (gbk::is_lead_byte(static_cast<unsigned char>(starter))) {
        out_ += picture.substr(i, 2);  // a lead byte at the end goes alone
        i += 2;
        last_token = ' ';
        continue;
      }
      size_t count = 1;
      while (i + count < picture.size() && picture[i + count] == starter) ++count;
      char token = starter >= 'a' && starter <= 'z' ? static_cast<char>(starter - 32) : starter;
      if (token >= 'A' && token <= 'Z') {
        if (token == 'M' && last_token == 'H') token = 'N';  // "h:mm": minutes
        last_token = token;
      }
      switch (token) {
        case 'Y':
          if (count <= 2)
            number(((t_.year % 100) + 100) % 100, 2);
          else
            number(t_.year, 4);
          break;
        case 'M':
          if (count <= 2)
            number(t_.month, count);
          else
            out_ += month_name(count == 3 ? locale_.short_month_names : locale_.long_month_names);
          break;
        case 'D':
          if (count <= 2)
            number(t_.day, count);
          else if (count <= 4)
            out_ += day_name(count == 3 ? locale_.short_day_names : locale_.long_day_names);
          else  // no long date picture is kept; both forms give the short date
            append(locale_.short_date, level + 1);
          break;
        case 'H': {
          int hour = t_.hour;
          if (twelve_hour) hour = hour % 12 == 0 ? 12 : hour % 12;
          number(hour, count > 2 ? 2 : count);
          break;
        }
        case 'N':
          number(t_.minute, count > 2 ? 2 : count);
          break;
        case 'S':
          number(t_.second, count > 2 ? 2 : count);
          break;
        case 'Z':
          number(t_.millisecond, count <= 2 ? 1 : 3);
          break;
        case 'T':
          append(time_picture(locale_, count > 1), level + 1);
          break;
        case 'C':
          append(locale_.short_date, level + 1);
          if (t_.hour != 0 || t_.minute != 0 || t_.second != 0) {
            out_ += ' ';
            append(time_picture(locale_, true), level + 1);
          }
          break;
        case 'A':
          count = marker(picture.substr(i));
          break;
        case '/':
          count = 1;
          if (locale_.date_separator) out_ += locale_.date_separator;
          break;
        case ':':
          count = 1;
          if (locale_.time_separator) out_ += locale_.time_separator;
          break;
        case '"':
        case '\'': {
          const size_t close = picture.find(starter, i + 1);
          const size_t end = close == std::string_view::npos ? picture.size() : close;
          out_ += picture.substr(i + 1, end - i - 1);
          count = end - i + (close == std::string_view::npos ? 0 : 1);
          break;
        }
        default:
          count = 1;
          out_ += starter;
          break;
      }
      i += count;
    }
  }

  std::string take() { return std::move(out_); }

 private:
  void number(int value, size_t digits) { out_ += int_to_str_padded(value, static_cast<int>(digits)); }

  const std::string& month_name(const std::array<std::string, 12>& names) {
    static const std::string none;
    return t_.month >= 1 && t_.month <= 12 ? names[static_cast<size_t>(t_.month - 1)] : none;
  }

  const std::string& day_name(const std::array<std::string, 7>& names) {
    return names[static_cast<size_t>(day_of_week(t_))];
  }

  // "AM/PM" and "A/P" show their own letters, "AMPM" the locale's markers. Returns the length
  // of picture text used.
  size_t marker(std::string_view rest) {
    const bool pm = t_.hour >= 12;
    if (gbk::starts_with_no_case(rest, "am/pm")) {
      out_ += rest.substr(pm ? 3 : 0, 2);
      return 5;
    }
    if (gbk::starts_with_no_case(rest, "a/p")) {
      out_ += rest.substr(pm ? 2 : 0, 1);
      return 3;
    }
    if (gbk::starts_with_no_case(rest, "ampm")) {
      out_ += pm ? locale_.pm : locale_.am;
      return 4;
    }
    out_ += rest[0];
    return 1;
  }

  const platform::LocalDateTime& t_;
  const platform::DateTimeFormat& locale_;
  std::string out_;
};

}  // namespace

const platform::DateTimeFormat& locale_date_time_format() {
  // Kept past static destruction: the final stop report is written while the module unloads.
  static const auto* format = new platform::DateTimeFormat(platform::date_time_format());
  return *format;
}

std::string FormatDateTime(std::string_view picture, const platform::LocalDateTime& t,
                           const platform::DateTimeFormat& locale) {
  DateTimeWriter writer(t, locale);
  writer.append(picture, 0);
  return writer.take();
}

std::string date_time_text(const platform::LocalDateTime& t, const platform::DateTimeFormat& locale) {
  return FormatDateTime("c", t, locale);
}

std::string date_time_text(const platform::LocalDateTime& t) {
  return date_time_text(t, locale_date_time_format());
}

std::string short_date_text(const platform::LocalDateTime& t, const platform::DateTimeFormat& locale) {
  return FormatDateTime("ddddd", t, locale);
}

std::string short_date_text(const platform::LocalDateTime& t) {
  return short_date_text(t, locale_date_time_format());
}

std::string stamp_text(const platform::LocalDateTime& t) {
  return FormatDateTime(R"(yyyy"-"mm"-"dd"-"hh"-"nn"-"ss)", t, locale_date_time_format());
}

std::string now_text() { return date_time_text(platform::clock().now()); }

}  // namespace vorel
