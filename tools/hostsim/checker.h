// With --check the host verifies the driver's answers instead of only printing them. A mismatch is
// printed at once and makes the run fail.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostsim {

class Checker {
 public:
  explicit Checker(bool enabled) : enabled_(enabled) {}

  bool enabled() const { return enabled_; }
  int failures() const { return failures_; }

  // `what` is UTF-8 and names the answer in the host's words.
  void expect(bool ok, std::string_view what);
  void expect_equal(int64_t actual, int64_t expected, std::string_view what);
  // Host strings: expected is code page 936 text, or nullopt for a null pointer.
  void expect_text(const std::optional<std::string>& actual, const std::optional<std::string>& expected,
                   std::string_view what);

 private:
  bool enabled_;
  int failures_ = 0;
};

}  // namespace hostsim
