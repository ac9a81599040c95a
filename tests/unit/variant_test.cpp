#include "engine/variant.h"

#include <gtest/gtest.h>

#include "support/delphi.h"

namespace vorel {
namespace {

TEST(VariantConversion, NumbersFromEveryKind) {
  EXPECT_EQ(TVariant().as_double(), 0);
  EXPECT_EQ(TVariant::Int(-42).as_double(), -42);
  EXPECT_EQ(TVariant::Double(37.5).as_double(), 37.5);
  EXPECT_EQ(TVariant::Bool(true).as_double(), -1);
  EXPECT_EQ(TVariant::Bool(false).as_double(), 0);
  EXPECT_EQ(TVariant::String("37.5").as_double(), 37.5);
  EXPECT_EQ(TVariant::String(" -1.5E3 ").as_double(), -1500);
  EXPECT_EQ(TVariant::String("+.5").as_double(), 0.5);
}

TEST(VariantConversion, TextThatIsNoNumberRaisesConversionError) {
  for (const char* text :
       {"", " ", "abc", "1,5", "$10", "0x10", "INF", "NAN", "1e", "1e999", "1.2.3", "--1", "1 2"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW(TVariant::String(text).as_double(), ConversionError);
  }
  EXPECT_THROW(TVariant::Opaque(1, {}).as_double(), ConversionError) << "a Null is no number";
}

TEST(VariantConversion, SwitchStatesFromEveryKind) {
  EXPECT_FALSE(TVariant().as_bool());
  EXPECT_FALSE(TVariant::Int(0).as_bool());
  EXPECT_TRUE(TVariant::Int(2).as_bool());
  EXPECT_TRUE(TVariant::Double(0.5).as_bool());
  EXPECT_FALSE(TVariant::Double(0.0).as_bool());
  EXPECT_TRUE(TVariant::String("TRUE").as_bool());
  EXPECT_FALSE(TVariant::String("false").as_bool());
  EXPECT_TRUE(TVariant::String("-1").as_bool());
  EXPECT_FALSE(TVariant::String("0").as_bool());
  EXPECT_THROW(TVariant::String("yes").as_bool(), ConversionError);
  EXPECT_THROW(TVariant::Opaque(1, {}).as_bool(), ConversionError) << "nor is a Null a switch";
  EXPECT_THROW(TVariant::Opaque(1, {}).as_string(), ConversionError) << "or a text";
  EXPECT_THROW(TVariant::String("truex").as_bool(), ConversionError);
}

TEST(VariantConversion, TextsForLogLines) {
  EXPECT_EQ(TVariant().as_string(), "");
  EXPECT_EQ(TVariant::Int(-42).as_string(), "-42");
  EXPECT_EQ(TVariant::Double(37.5).as_string(), "37.5");
  EXPECT_EQ(TVariant::Double(double{0.1f}).as_string(), "0.100000001490116");
  EXPECT_EQ(TVariant::Bool(true).as_string(), "True");
  EXPECT_EQ(TVariant::Bool(false).as_string(), "False");
  EXPECT_EQ(TVariant::String("通讯正常!").as_string(), "通讯正常!");
}

// Both orders, so a duplicate-write check gives the same answer whichever value came first.
void ExpectEqual(const TVariant& a, const TVariant& b, bool equal) {
  EXPECT_EQ(a == b, equal);
  EXPECT_EQ(b == a, equal);
  EXPECT_EQ(a != b, !equal);
}

TEST(VariantEquality, NumbersCompareByValueWhateverTheirKind) {
  ExpectEqual(TVariant::Int(1), TVariant::Int(1), true);
  ExpectEqual(TVariant::Int(1), TVariant::Int(2), false);
  ExpectEqual(TVariant::Int(1), TVariant::Double(1.0), true);
  ExpectEqual(TVariant::Int(1), TVariant::Double(1.5), false);
  ExpectEqual(TVariant::Double(0.1), TVariant::Double(0.1), true);
  ExpectEqual(TVariant::Bool(true), TVariant::Int(-1), true);
  ExpectEqual(TVariant::Bool(true), TVariant::Int(1), false);
  ExpectEqual(TVariant::Bool(false), TVariant::Double(0), true);
  ExpectEqual(TVariant::Bool(true), TVariant::Bool(true), true);
  ExpectEqual(TVariant::Bool(true), TVariant::Bool(false), false);
}

TEST(VariantEquality, TextsCompareExactlyAndAgainstNumbersByConversion) {
  ExpectEqual(TVariant::String("板卡"), TVariant::String("板卡"), true);
  ExpectEqual(TVariant::String("Abc"), TVariant::String("abc"), false);
  ExpectEqual(TVariant::String("1"), TVariant::Int(1), true);
  ExpectEqual(TVariant::String("1.0"), TVariant::Double(1), true);
  ExpectEqual(TVariant::String("abc"), TVariant::Int(0), false);  // never throws
  ExpectEqual(TVariant::String(""), TVariant::Double(0), false);
  ExpectEqual(TVariant::String("True"), TVariant::Bool(true), true);
  ExpectEqual(TVariant::String("0"), TVariant::Bool(false), true);
  ExpectEqual(TVariant::String("on"), TVariant::Bool(true), false);
}

TEST(VariantEquality, EmptyAndOpaqueValuesOnlyMatchTheirOwnKind) {
  ExpectEqual(TVariant(), TVariant(), true);
  ExpectEqual(TVariant(), TVariant::Int(0), false);
  ExpectEqual(TVariant(), TVariant::String(""), false);
  ExpectEqual(TVariant(), TVariant::Bool(false), false);
  const std::array<uint8_t, 8> bytes{1, 2, 3, 4, 5, 6, 7, 8};
  ExpectEqual(TVariant::Opaque(6, bytes), TVariant::Opaque(6, bytes), true);
  ExpectEqual(TVariant::Opaque(6, bytes), TVariant::Opaque(7, bytes), false);
  ExpectEqual(TVariant::Opaque(6, bytes), TVariant::Opaque(6, {}), false);
  ExpectEqual(TVariant::Opaque(1, {}), TVariant(), false);
  ExpectEqual(TVariant::Opaque(3, {}), TVariant::Int(0), false);
}

}  // namespace
}  // namespace vorel
