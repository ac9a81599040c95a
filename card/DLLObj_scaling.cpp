// Filtering and scaling of the card object: AD samples to one reading, range names to spans,
// raw words to engineering values and back.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "card/DLLObj.h"
#include "card/DLLObj_detail.h"
#include "engine/images.h"
#include "support/delphi.h"
#include "support/gbk_text.h"

namespace vorel {

using namespace card_detail;

namespace {

// The longest leading run of digits and points, as a decimal number; nullopt when it is empty or
// not a number ("1.2.3").
std::optional<double> NumberPrefix(std::string_view text) {
  size_t n = 0;
  while (n < text.size() && ((text[n] >= '0' && text[n] <= '9') || text[n] == '.')) ++n;
  if (n == 0) return std::nullopt;
  const std::string digits(text.substr(0, n));
  char* end = nullptr;
  const double value = std::strtod(digits.c_str(), &end);
  if (end != digits.c_str() + digits.size()) return std::nullopt;
  return value;
}

}  // namespace

// ---------------------------------------------------------------- filtering and scaling

int32_t TrimmedMean(int32_t* samples, int32_t count) {
  if (!samples || count <= 0) return 0;
  if (count == 1) return samples[0];
  std::sort(samples, samples + count);
  const int32_t s = (count - 1) / 3;
  const int32_t kept = count - 1 - 2 * s;  // the s smallest and the s + 1 largest are dropped
  int64_t sum = 0;
  for (int32_t i = s; i <= count - 2 - s; ++i) sum += samples[i];
  return static_cast<int32_t>(sum / kept);
}

RangeSpan parse_range(std::string_view name) {
  RangeSpan span;
  const size_t plus_minus = gbk::find(name, "+/-");
  if (plus_minus != std::string_view::npos) {
    const std::optional<double> hi = NumberPrefix(name.substr(plus_minus + 3));
    if (!hi) return RangeSpan{0, 0, false};
    span.hi = *hi;
    span.lo = -*hi;
    return span;
  }
  const size_t dash = gbk::find(name, "-");
  if (dash == std::string_view::npos) return span;  // no span given: 0..0
  const std::optional<double> lo = NumberPrefix(name.substr(0, dash));
  const std::optional<double> hi = NumberPrefix(name.substr(dash + 1));
  if (!lo || !hi) return RangeSpan{0, 0, false};
  span.lo = *lo;
  span.hi = *hi;
  return span;
}

int32_t full_scale(int32_t resolution) {
  return resolution > 0 && resolution <= 16 ? static_cast<int32_t>(0xFFFFu >> (16 - resolution)) : 0;
}

std::optional<float> ScaleAD(const RangeSpan& span, int32_t resolution, int32_t raw) {
  const int32_t full = full_scale(resolution);
  if (full == 0) return std::nullopt;
  return to_single(span.lo + (span.hi - span.lo) * raw / full);
}

std::optional<int32_t> ScaleDA(const RangeSpan& span, int32_t resolution, double value) {
  const int32_t full = full_scale(resolution);
  if (full == 0 || span.hi == span.lo || !std::isfinite(value)) return std::nullopt;
  const double raw = (value - span.lo) * full / (span.hi - span.lo);
  // A value beyond the range drives the output to its end, never around to the other end.
  return static_cast<int32_t>(std::clamp<int64_t>(RoundHalfEven(raw), 0, full));
}

}  // namespace vorel
