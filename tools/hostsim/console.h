// Console output of the stand-in host. The driver speaks code page 936; a Linux terminal under
// Wine expects UTF-8, so every text from the driver is converted on its way out, and every text for
// the driver (project files and typed commands are UTF-8) on its way in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostsim {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// Code page 936 bytes to UTF-8 for printing.
std::string gbk_to_utf8(std::string_view gbk);

// UTF-8 (project files, typed commands) to code page 936, the driver's text. A malformed sequence
// becomes U+FFFD first, which code page 936 has no room for either.
std::u16string utf8_to_utf16(std::string_view utf8);
std::string utf8_to_gbk(std::string_view utf8);

// A host string as the terminal shows it: its text in UTF-8, or "(null)" for a null pointer.
std::string shown(const std::optional<std::string>& gbk);

// printf into a std::string, for numbers in the host's own lines.
std::string strprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// GBK text padded with blanks to `columns` terminal columns (a double-byte character takes two),
// then converted to UTF-8.
std::string padded(std::string_view gbk, size_t columns);

// One line of UTF-8 (or plain ASCII) text to standard output, or to standard error.
void print_line(std::string_view utf8);
void print_error(std::string_view utf8);

}  // namespace hostsim
