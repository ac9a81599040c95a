#include "support/gbk_text.h"

#include <gtest/gtest.h>

#include <string>

namespace vorel::gbk {
namespace {

// "讀" is D7 78 and "錯" E5 65: their trail bytes are the letters x and e. "測" is 9C 79 (y).
const std::string kTraditional = "讀錯";

TEST(GbkUpperCase, LettersChangeButTrailBytesThatLookLikeLettersDoNot) {
  ASSERT_EQ(kTraditional, "\xD7\x78\xE5\x65");
  EXPECT_EQ(UpperCase("讀錯abc"), "讀錯ABC");
  EXPECT_EQ(UpperCase("di1:測y,3"), "DI1:測Y,3");
  EXPECT_EQ(UpperCase("devicelink"), "DEVICELINK");
  EXPECT_EQ(UpperCase("ab\xB0"), "AB\xB0") << "a lead byte at the very end stands alone";
  EXPECT_EQ(UpperCase(""), "");
}

TEST(GbkFind, FullWidthColonMatchesOnlyAtACharacterBoundary) {
  // 埃 (B0 A3) followed by 毫 (BA C1): the bytes A3 BA inside are not a "：".
  const std::string text = "\xB0\xA3\xBA\xC1";
  ASSERT_EQ(text, "埃毫");
  ASSERT_EQ(kFullWidthColon, "\xA3\xBA");
  EXPECT_EQ(find(text, kFullWidthColon), std::string::npos);
  EXPECT_EQ(find("埃毫：DI", kFullWidthColon), 4u);
  EXPECT_EQ(find("埃：毫：", kFullWidthColon, 3), 6u) << "search from the middle of a character";
  EXPECT_EQ(find("板卡，", kFullWidthComma), 4u);
}

TEST(GbkFind, AsciiNeedlesSkipTrailBytes) {
  EXPECT_EQ(find("測y", "y"), 2u) << "the first y is the trail byte of 測";
  EXPECT_EQ(find("讀錯", "x"), std::string::npos);
  EXPECT_EQ(find("DI1:0,3", ","), 5u);
  EXPECT_EQ(find("DI1:0,3,", ",", 6), 7u);
  EXPECT_EQ(find("abc", "abcd"), std::string::npos);
  EXPECT_EQ(find("abc", ""), 0u);
  EXPECT_EQ(find("abc", "c", 4), std::string::npos);
  EXPECT_EQ(find("埃", "\xB0"), std::string::npos) << "half a character is no match";
  EXPECT_EQ(find("a\xB0", "\xB0"), 1u) << "a lead byte with nothing after it stands alone";
}

TEST(GbkStartsWithNoCase, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(starts_with_no_case("devicelink12", "DEVICELINK"));
  EXPECT_TRUE(starts_with_no_case("EnLog", "enlog"));
  EXPECT_TRUE(starts_with_no_case("讀錯di", "讀錯DI"));
  EXPECT_TRUE(starts_with_no_case("x", ""));
  EXPECT_FALSE(starts_with_no_case("\xD7\x78", "\xD7X")) << "the trail byte x is not the letter x";
  EXPECT_FALSE(starts_with_no_case("埃", "\xB0")) << "the prefix ends inside a character";
  EXPECT_FALSE(starts_with_no_case("DEV", "DEVICE"));
  EXPECT_FALSE(starts_with_no_case("COMMLINK", "ENCOMMLINK"));
}

TEST(GbkTruncate, NeverSplitsADoubleByteCharacter) {
  EXPECT_EQ(truncate("PCI_7505", 40), "PCI_7505");
  EXPECT_EQ(truncate("板卡号", 6), "板卡号");
  EXPECT_EQ(truncate("板卡号", 5), "板卡");
  EXPECT_EQ(truncate("A板", 2), "A");
  EXPECT_EQ(truncate("\xD7x板", 2), "\xD7x") << "x is the trail byte of the first character";
  EXPECT_EQ(truncate("板", 0), "");
}

}  // namespace
}  // namespace vorel::gbk
