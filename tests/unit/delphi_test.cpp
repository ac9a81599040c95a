#include "support/delphi.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "tests/common/manual_clock.h"

namespace vorel {
namespace {

using platform::LocalDateTime;

// ---------------------------------------------------------------- FloatToStr

TEST(FloatToStr, RatesAndPeriodsReadAsTheHostWritesThem) {
  EXPECT_EQ(FloatToStr(0.5), "0.5");
  EXPECT_EQ(FloatToStr(37.5), "37.5");
  EXPECT_EQ(FloatToStr(1000), "1000");
  EXPECT_EQ(FloatToStr(-2.25), "-2.25");
  EXPECT_EQ(FloatToStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(1.0 / 3), "0.333333333333333");
  EXPECT_EQ(FloatToStr(2.0 / 3), "0.666666666666667");
  EXPECT_EQ(FloatToStr(999999999999999), "999999999999999");
  // 0.466299077489643499…: rounded from 18 digits, not from 17 (which would end in 644).
  EXPECT_EQ(FloatToStr(0.4662990774896435), "0.466299077489643");
  // 1.355997210259554997…: rounded to 18 digits it ends in 955500 and rounds up; from 19 it would not.
  EXPECT_EQ(FloatToStr(1.355997210259555), "1.35599721025956");
  EXPECT_EQ(FloatToStr(0.0001), "0.0001");
  EXPECT_EQ(FloatToStr(-0.00012), "-0.00012");
}

TEST(FloatToStr, SinglePrecisionValuesShowTheirWidenedDigits) {
  EXPECT_EQ(FloatToStr(double{0.1f}), "0.100000001490116");
  EXPECT_EQ(FloatToStr(double{3.3f}), "3.29999995231628");
}

TEST(FloatToStr, VeryLargeAndVerySmallValuesUseTheShortExponentForm) {
  EXPECT_EQ(FloatToStr(1e-5), "1E-5");
  EXPECT_EQ(FloatToStr(-1.5e-7), "-1.5E-7");
  EXPECT_EQ(FloatToStr(1e15), "1E15");
  EXPECT_EQ(FloatToStr(123456789012345678.0), "1.23456789012346E17");
  EXPECT_EQ(FloatToStr(DBL_MAX), "1.79769313486232E308");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::denorm_min()), "4.94065645841247E-324");
}

TEST(FloatToStr, ExactTiesAtTheFifteenthDigitRoundAwayFromZero) {
  EXPECT_EQ(FloatToStr(100000000000000.5), "100000000000001");
  EXPECT_EQ(FloatToStr(-100000000000000.5), "-100000000000001");
  EXPECT_EQ(FloatToStr(999999999999999.5), "1E15") << "the carry moves the value out of fixed range";
  EXPECT_EQ(FloatToStr(2.9999999999999996), "3") << "the carry stops at the first digit";
}

TEST(FloatToStr, ZeroAndNonFiniteValuesHaveFixedTexts) {
  EXPECT_EQ(FloatToStr(0.0), "0");
  EXPECT_EQ(FloatToStr(-0.0), "0");
  EXPECT_EQ(FloatToStr(std::nan("")), "NAN");
  EXPECT_EQ(FloatToStr(HUGE_VAL), "INF");
  EXPECT_EQ(FloatToStr(-HUGE_VAL), "-INF");
}

// ---------------------------------------------------------------- RoundHalfEven

TEST(RoundHalfEven, ExactHalvesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven(2.5), 2);
  EXPECT_EQ(RoundHalfEven(3.5), 4);
  EXPECT_EQ(RoundHalfEven(37.5), 38) << "3 failed reads out of 8";
  EXPECT_EQ(RoundHalfEven(62.5), 62) << "5 failed reads out of 8";
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(-3.5), -4);
  EXPECT_EQ(RoundHalfEven(0.5), 0);
  EXPECT_EQ(RoundHalfEven(-0.5), 0);
}

TEST(RoundHalfEven, OtherValuesGoToTheNearestInteger) {
  EXPECT_EQ(RoundHalfEven(2.4999999), 2);
  EXPECT_EQ(RoundHalfEven(2.5000001), 3);
  EXPECT_EQ(RoundHalfEven(-7.6), -8);
  EXPECT_EQ(RoundHalfEven(double{249.99f}), 250);
  EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497);
}

TEST(RoundHalfEven, ValuesBeyondRangeClampAndNanGivesZero) {
  EXPECT_EQ(RoundHalfEven(1e300), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(RoundHalfEven(HUGE_VAL), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(RoundHalfEven(-1e300), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(RoundHalfEven(-9223372036854775808.0), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
}

// ---------------------------------------------------------------- StrToInt, int_to_str_padded

TEST(StrToInt, AcceptsDecimalAndHexadecimalWithLeadingBlanks) {
  EXPECT_EQ(TryStrToInt(" 42"), 42);
  EXPECT_EQ(TryStrToInt("+7"), 7);
  EXPECT_EQ(TryStrToInt("007"), 7);
  EXPECT_EQ(TryStrToInt("$1F"), 31);
  EXPECT_EQ(TryStrToInt("-$10"), -16);
  EXPECT_EQ(TryStrToInt("0x2a"), 42);
  EXPECT_EQ(TryStrToInt("X2A"), 42);
  EXPECT_EQ(TryStrToInt("0X1f"), 31);
  EXPECT_EQ(TryStrToInt("$aF"), 175);
  EXPECT_EQ(TryStrToInt("2147483647"), 2147483647);
  EXPECT_EQ(TryStrToInt("-2147483648"), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(TryStrToInt("-$80000000"), std::numeric_limits<int32_t>::min());
}

TEST(StrToInt, RejectsAnythingButOneWholeInt32) {
  for (const char* text :
       {"",   " ",  "42 ", "4 2",        "1.0",         "x",         "$",
        "0x", "-",  "+-1", "- 1",        "\t1",         "1e3",       "12a",
        "$G", "$g", "0xg", "2147483648", "-2147483649", "$80000000", "99999999999999999999"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(TryStrToInt(text).has_value());
    EXPECT_THROW(StrToInt(text), ConversionError);
  }
  EXPECT_EQ(StrToInt("-12"), -12);
}

TEST(IntToStrPadded, PadsTheDigitsAfterTheSign) {
  EXPECT_EQ(int_to_str_padded(2, 4), "0002");
  EXPECT_EQ(int_to_str_padded(0, 4), "0000");
  EXPECT_EQ(int_to_str_padded(12345, 4), "12345") << "never cut";
  EXPECT_EQ(int_to_str_padded(-1, 3), "-001");
  EXPECT_EQ(int_to_str_padded(7, 0), "7");
  EXPECT_EQ(int_to_str_padded(std::numeric_limits<int64_t>::min(), 1), "-9223372036854775808");
}

// ---------------------------------------------------------------- dates and times

const LocalDateTime kMorning{2026, 12, 7, 9, 5, 3, 0};
const LocalDateTime kMidnight{2026, 12, 7, 0, 0, 0, 0};

TEST(DateTimeText, ChineseDefaultsShowDateAndUnpaddedHour) {
  EXPECT_EQ(date_time_text(kMorning), "2026/12/7 9:05:03");
  EXPECT_EQ(date_time_text({2026, 1, 31, 23, 59, 59, 999}), "2026/1/31 23:59:59");
  EXPECT_EQ(date_time_text({2026, 12, 7, 0, 0, 1, 0}), "2026/12/7 0:00:01");
  EXPECT_EQ(short_date_text(kMorning), "2026/12/7");
  EXPECT_EQ(stamp_text(kMorning), "2026-12-07-09-05-03");
  EXPECT_EQ(stamp_text({2026, 1, 2, 23, 4, 5, 0}), "2026-01-02-23-04-05");
}

TEST(DateTimeText, MidnightShowsTheDateAlone) {
  EXPECT_EQ(date_time_text(kMidnight), "2026/12/7");
  EXPECT_EQ(date_time_text({2026, 12, 7, 0, 0, 0, 500}), "2026/12/7") << "milliseconds are not shown";
}

TEST(DateTimeText, NowFollowsTheEngineClock) {
  platform::ManualClock clock;
  platform::ScopedClock installed(clock);
  EXPECT_EQ(now_text(), "2026/12/7 9:05:03");
  clock.set_time({2024, 2, 29, 0, 0, 0, 0});
  EXPECT_EQ(now_text(), "2024/2/29");
}

platform::DateTimeFormat TwelveHourLocale() {
  platform::DateTimeFormat f = locale_date_time_format();
  f.short_date = "M/d/yyyy";
  f.hour_leading_zero = true;
  f.twelve_hour = true;
  f.marker_first = false;
  f.am = "AM";
  f.pm = "PM";
  return f;
}

TEST(DateTimeText, TwelveHourLocalesShowTheMarkerAndHoursOneToTwelve) {
  const auto f = TwelveHourLocale();
  EXPECT_EQ(date_time_text(kMorning, f), "12/7/2026 09:05:03 AM");
  EXPECT_EQ(date_time_text({2026, 12, 7, 13, 0, 0, 0}, f), "12/7/2026 01:00:00 PM");
  EXPECT_EQ(date_time_text({2026, 12, 7, 12, 0, 0, 0}, f), "12/7/2026 12:00:00 PM");
  EXPECT_EQ(date_time_text({2026, 12, 7, 0, 30, 0, 0}, f), "12/7/2026 12:30:00 AM");
  auto chinese = locale_date_time_format();
  chinese.twelve_hour = true;
  chinese.marker_first = true;
  EXPECT_EQ(date_time_text({2026, 12, 7, 21, 5, 3, 0}, chinese), "2026/12/7 下午 9:05:03");
  // The markers written in a picture take their own letters, and what follows them goes on.
  auto pictures = locale_date_time_format();
  pictures.short_date = "h am/pm|h a/p|h ampm|";
  EXPECT_EQ(short_date_text({2026, 12, 7, 21, 5, 3, 0}, pictures), "9 pm|9 p|9 下午|");
  pictures.short_date = "h a.";  // an "a" that starts no marker is copied
  EXPECT_EQ(short_date_text({2026, 12, 7, 21, 5, 3, 0}, pictures), "21 a.");
  // A marker after quoted text still counts; one inside it does not.
  pictures.short_date = "'at' h am/pm";
  EXPECT_EQ(short_date_text({2026, 12, 7, 21, 5, 3, 0}, pictures), "at 9 pm");
  pictures.short_date = "'am/pm' h";
  EXPECT_EQ(short_date_text({2026, 12, 7, 21, 5, 3, 0}, pictures), "am/pm 21");
  pictures.short_date = "d//m::h";  // each sign is a separator of its own
  EXPECT_EQ(short_date_text({2026, 12, 7, 21, 5, 3, 0}, pictures), "7//12::21");
}

TEST(DateTimeText, ShortDatePicturesFollowTheLocale) {
  auto f = locale_date_time_format();
  f.short_date = "dd/MM/yy";
  f.date_separator = '.';
  EXPECT_EQ(short_date_text({2026, 3, 4, 0, 0, 0, 0}, f), "04.03.26") << "\"/\" is the locale's separator";
  f.short_date = "yyyy'年'M'月'd'日'";
  EXPECT_EQ(short_date_text(kMorning, f), "2026年12月7日");
  f.short_date = "yyyy年M月d日";
  EXPECT_EQ(short_date_text(kMorning, f), "2026年12月7日") << "unquoted Chinese text is copied";
  f.short_date = "yyyy\xB0";
  EXPECT_EQ(short_date_text(kMorning, f), "2026\xB0") << "a lead byte cut off at the end is copied alone";
  f.short_date = "d-MMM-yyyy dddd";
  EXPECT_EQ(short_date_text(kMorning, f), "7-12月-2026 星期一");
  f.short_date = "MMMM ddd";
  EXPECT_EQ(short_date_text({2027, 1, 3, 0, 0, 0, 0}, f), "一月 周日");
  // Hours, minutes and seconds take two digits at most however long their run; a run of one or
  // two z shows the milliseconds as they are, a longer one with three digits.
  f.short_date = "MMM|MMMM";
  EXPECT_EQ(short_date_text({2026, 0, 4, 0, 0, 0, 0}, f), "|") << "a month outside 1..12 has no name";
  f.short_date = "d t";  // a time inside the date inside "c": two pictures down, still shown
  EXPECT_EQ(date_time_text({2026, 3, 4, 9, 5, 3, 7}, f), "4 9:05 9:05:03");
  f.short_date = "ddddd|";  // a short date that names itself ends at the nesting limit
  EXPECT_EQ(short_date_text(kMorning, f), "||");
  f.short_date = "t|tt";  // the short time, the long time
  EXPECT_EQ(short_date_text({2026, 3, 4, 9, 5, 3, 7}, f), "9:05|9:05:03");
  f.short_date = "hhh:nnn:sss z zz zzz yyy";
  EXPECT_EQ(short_date_text({2026, 3, 4, 9, 5, 3, 7}, f), "09:05:03 7 7 007 2026");
}

// ---------------------------------------------------------------- add_days

LocalDateTime Day(int y, int m, int d) { return {y, m, d, 0, 0, 0, 0}; }

std::string Ymd(const LocalDateTime& t) {
  return std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day);
}

TEST(AddDays, CrossesMonthYearAndLeapDayBoundaries) {
  EXPECT_EQ(Ymd(add_days(Day(2026, 1, 31), 1)), "2026-2-1");
  EXPECT_EQ(Ymd(add_days(Day(2026, 12, 31), 1)), "2027-1-1");
  EXPECT_EQ(Ymd(add_days(Day(2024, 3, 1), -1)), "2024-2-29");
  EXPECT_EQ(Ymd(add_days(Day(2023, 3, 1), -1)), "2023-2-28");
  EXPECT_EQ(Ymd(add_days(Day(2024, 3, 30), -30)), "2024-2-29");
  EXPECT_EQ(Ymd(add_days(Day(2000, 3, 1), -1)), "2000-2-29");
  EXPECT_EQ(Ymd(add_days(Day(1900, 3, 1), -1)), "1900-2-28");
  EXPECT_EQ(Ymd(add_days(Day(2026, 1, 15), -30)), "2025-12-16");
  EXPECT_EQ(Ymd(add_days(Day(2026, 12, 7), 0)), "2026-12-7");
  EXPECT_EQ(Ymd(add_days(Day(2026, 12, 7), 36525)), "2126-12-8") << "2100 is no leap year";
}

// Against a calendar kept by hand, one day at a time, from 1900 on.
TEST(AddDays, AgreesWithTheCalendarOnEveryDayOfTwoCenturies) {
  const auto days_in = [](int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
  };
  LocalDateTime day = Day(1900, 1, 1);
  for (int k = 0; k <= 73000; ++k) {
    ASSERT_EQ(Ymd(add_days(Day(1900, 1, 1), k)), Ymd(day)) << k << " days after 1900-1-1";
    ASSERT_EQ(Ymd(add_days(day, -k)), "1900-1-1") << Ymd(day);
    if (++day.day > days_in(day.year, day.month)) {
      day.day = 1;
      if (++day.month > 12) {
        day.month = 1;
        ++day.year;
      }
    }
  }
}

TEST(AddDays, KeepsTheTimeOfDayForYesterdaysArchiveName) {
  const LocalDateTime yesterday = add_days({2024, 3, 1, 9, 5, 3, 7}, -1);
  EXPECT_EQ(yesterday.hour, 9);
  EXPECT_EQ(yesterday.minute, 5);
  EXPECT_EQ(yesterday.second, 3);
  EXPECT_EQ(yesterday.millisecond, 7);
  EXPECT_EQ(short_date_text(yesterday), "2024/2/29");
}

}  // namespace
}  // namespace vorel
