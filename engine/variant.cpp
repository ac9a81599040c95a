// Conversions and mixed-kind comparisons of the tag value, following the host's variant rules.
#include "engine/variant.h"

#include <optional>

#include "support/delphi.h"
#include "support/gbk_text.h"

namespace vorel {

namespace {

// The Boolean spelling of a text, if it is one ("True" / "False" in any case).
std::optional<bool> parse_boolean_word(std::string_view text) {
  if (text.size() == 4 && gbk::starts_with_no_case(text, "true")) return true;
  if (text.size() == 5 && gbk::starts_with_no_case(text, "false")) return false;
  return std::nullopt;
}

std::optional<bool> parse_boolean(std::string_view text) {
  if (auto word = parse_boolean_word(text)) return word;
  if (auto number = TryStrToFloat(text)) return *number != 0;
  return std::nullopt;
}

[[noreturn]] void fail(std::string_view what) { throw ConversionError(std::string(what)); }

}  // namespace

TVariant TVariant::Int(int32_t v) {
  TVariant r;
  r.kind_ = Kind::Int;
  r.i_ = v;
  return r;
}

TVariant TVariant::Double(double v) {
  TVariant r;
  r.kind_ = Kind::Double;
  r.d_ = v;
  return r;
}

TVariant TVariant::Bool(bool v) {
  TVariant r;
  r.kind_ = Kind::Bool;
  r.i_ = v ? 1 : 0;
  return r;
}

TVariant TVariant::String(std::string v) {
  TVariant r;
  r.kind_ = Kind::String;
  r.s_ = std::make_unique<std::string>(std::move(v));
  return r;
}

TVariant TVariant::Opaque(uint16_t type_code, const std::array<uint8_t, 8>& bytes) {
  TVariant r;
  r.kind_ = Kind::Opaque;
  r.opaque_type_ = type_code;
  r.opaque_ = bytes;
  return r;
}

double TVariant::as_double() const {
  switch (kind_) {
    case Kind::Empty:
      return 0;
    case Kind::Int:
      return static_cast<double>(i_);
    case Kind::Double:
      return d_;
    case Kind::Bool:
      return i_ != 0 ? -1 : 0;
    case Kind::String:
      if (auto v = TryStrToFloat(string_value())) return *v;
      fail("Could not convert variant of type (String) into type (Double)");
    case Kind::Opaque:
      break;
  }
  fail("Could not convert variant into type (Double)");
}

bool TVariant::as_bool() const {
  switch (kind_) {
    case Kind::Empty:
      return false;
    case Kind::Int:
    case Kind::Bool:
      return i_ != 0;
    case Kind::Double:
      return d_ != 0;
    case Kind::String:
      if (auto v = parse_boolean(string_value())) return *v;
      fail("Could not convert variant of type (String) into type (Boolean)");
    case Kind::Opaque:
      break;
  }
  fail("Could not convert variant into type (Boolean)");
}

std::string TVariant::as_string() const {
  switch (kind_) {
    case Kind::Empty:
      return {};
    case Kind::Int:
      return std::to_string(i_);
    case Kind::Double:
      return FloatToStr(d_);
    case Kind::Bool:
      return i_ != 0 ? "True" : "False";
    case Kind::String:
      return string_value();
    case Kind::Opaque:
      break;
  }
  fail("Could not convert variant into type (String)");
}

const std::string& TVariant::empty_text() {
  static const std::string* empty = new std::string;
  return *empty;
}

bool TVariant::equals_slow(const TVariant& other) const {
  if (kind_ == Kind::String && other.kind_ == Kind::String) return string_value() == other.string_value();
  if (kind_ == Kind::Opaque || other.kind_ == Kind::Opaque)
    return kind_ == other.kind_ && opaque_type_ == other.opaque_type_ && opaque_ == other.opaque_;
  if (kind_ == Kind::Empty || other.kind_ == Kind::Empty) return kind_ == other.kind_;

  // A text meets a number or a switch: converted to the other side's kind; a text that does not
  // convert differs.
  if (kind_ == Kind::String || other.kind_ == Kind::String) {
    const TVariant& text = kind_ == Kind::String ? *this : other;
    const TVariant& value = kind_ == Kind::String ? other : *this;
    if (value.kind_ == Kind::Bool) {
      const auto b = parse_boolean(text.string_value());
      return b && *b == (value.i_ != 0);
    }
    const auto n = TryStrToFloat(text.string_value());
    return n && *n == value.as_double();
  }
  // Numbers and switches: numerically, a switch counting as 0 / -1.
  return as_double() == other.as_double();
}

}  // namespace vorel
