// Console output of the stand-in host. The driver speaks code page 936; a Linux terminal under
// Wine expects UTF-8, so every text from the driver is converted on its way out.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostsim {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// Code page 936 bytes to UTF-8 for printing.
std::string gbk_to_utf8(std::string_view gbk);

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
