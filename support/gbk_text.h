// Code page 936 text rules. A GBK character is one byte (0x00..0x80) or a lead byte 0x81..0xFE
// followed by a trail byte; trail bytes can look like ASCII letters or like the first byte of a
// full-width sign, so byte loops must walk by character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vorel::gbk {

inline bool is_lead_byte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// Upper-cases a..z only, never a trail byte.
std::string UpperCase(std::string_view text);

// Byte offset of the first occurrence of `needle` that starts on a character boundary, or npos.
size_t find(std::string_view text, std::string_view needle, size_t from = 0);

// Whether text begins with prefix, comparing a..z without regard to case.
bool starts_with_no_case(std::string_view text, std::string_view prefix);

// The longest prefix of at most max_bytes bytes that ends on a character boundary, so that a
// double-byte character is never split.
std::string_view truncate(std::string_view text, size_t max_bytes);

// The full-width colon and comma in code page 936.
inline constexpr std::string_view kFullWidthColon = "：";
inline constexpr std::string_view kFullWidthComma = "，";

}  // namespace vorel::gbk
