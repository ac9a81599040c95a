#include "tools/hostsim/checker.h"

#include "tools/hostsim/console.h"

namespace hostsim {

void Checker::expect(bool ok, std::string_view what) {
  if (!enabled_ || ok) return;
  ++failures_;
  print_error("CHECK FAILED: " + std::string(what));
}

void Checker::expect_equal(int64_t actual, int64_t expected, std::string_view what) {
  expect(actual == expected,
         std::string(what) + ": got " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

void Checker::expect_text(const std::optional<std::string>& actual,
                          const std::optional<std::string>& expected, std::string_view what) {
  expect(actual == expected, std::string(what) + ": got " + shown(actual) + ", expected " + shown(expected));
}

}  // namespace hostsim
