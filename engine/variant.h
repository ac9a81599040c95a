// The value a tag holds: empty, 32-bit integer, double, Boolean or GBK text, plus an opaque
// host variant the driver only carries. Comparisons and conversions follow the host's variant
// rules: numbers compare numerically (1 = 1.0), Booleans count as 0 / -1, texts compare
// case-sensitively, and a text meets a number by conversion.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vorel {

class TVariant {
 public:
  enum class Kind : uint8_t { Empty, Int, Double, Bool, String, Opaque };

  TVariant() = default;
  TVariant(const TVariant& other) { *this = other; }
  TVariant(TVariant&& other) noexcept = default;
  TVariant& operator=(const TVariant& other) {
    if (this == &other) return *this;
    kind_ = other.kind_;
    opaque_type_ = other.opaque_type_;
    opaque_ = other.opaque_;
    if (other.s_)
      s_ = std::make_unique<std::string>(*other.s_);
    else
      s_.reset();
    return *this;
  }
  TVariant& operator=(TVariant&& other) noexcept = default;
  static TVariant Int(int32_t v);
  static TVariant Double(double v);
  static TVariant Bool(bool v);
  static TVariant String(std::string v);
  // A host variant this driver does not interpret: its type code and its eight value bytes.
  static TVariant Opaque(uint16_t type_code, const std::array<uint8_t, 8>& bytes);

  Kind kind() const { return kind_; }
  bool is_empty() const { return kind_ == Kind::Empty; }

  // Conversions; ConversionError where the host's run-time raises.
  double as_double() const;
  bool as_bool() const;
  std::string as_string() const;

  // The host's "=": never throws; a text that is not a number differs from every number.
  bool operator==(const TVariant& other) const {
    if (kind_ == other.kind_ && kind_ != Kind::String && kind_ != Kind::Opaque) {
      return kind_ == Kind::Double ? d_ == other.d_ : i_ == other.i_;
    }
    return equals_slow(other);
  }
  bool operator!=(const TVariant& other) const { return !(*this == other); }

  // Raw accessors (valid for their kind only).
  int32_t int_value() const { return static_cast<int32_t>(i_); }
  double double_value() const { return d_; }
  bool bool_value() const { return i_ != 0; }
  const std::string& string_value() const { return s_ ? *s_ : empty_text(); }

 private:
  bool equals_slow(const TVariant& other) const;
  static const std::string& empty_text();

  // 24 bytes: two of them sit in each tag and are compared at every host poll.
  Kind kind_ = Kind::Empty;
  uint16_t opaque_type_ = 0;
  union {
    int64_t i_ = 0;  // Int value, or Bool as 0 / 1
    double d_;
    std::array<uint8_t, 8> opaque_;
  };
  std::unique_ptr<std::string> s_;  // the text of a String value
};

static_assert(sizeof(TVariant) == 24);

}  // namespace vorel
