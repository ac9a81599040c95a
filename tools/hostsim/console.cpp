#include "tools/hostsim/console.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace hostsim {

namespace {

void append_code_point(std::string& out, char32_t c) {
  auto byte = [&out](char32_t b) { out.push_back(static_cast<char>(static_cast<unsigned char>(b))); };
  if (c < 0x80) {
    byte(c);
  } else if (c < 0x800) {
    byte(0xC0 | (c >> 6));
    byte(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    byte(0xE0 | (c >> 12));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  } else {
    byte(0xF0 | (c >> 18));
    byte(0x80 | ((c >> 12) & 0x3F));
    byte(0x80 | ((c >> 6) & 0x3F));
    byte(0x80 | (c & 0x3F));
  }
}

bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (is_high_surrogate(u) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
      append_code_point(out, 0x10000 + ((char32_t{u} - 0xD800) << 10) + (char32_t{text[i + 1]} - 0xDC00));
      ++i;
    } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
      append_code_point(out, kReplacement);
    } else {
      append_code_point(out, u);
    }
  }
  return out;
}

std::string gbk_to_utf8(std::string_view gbk) { return utf16_to_utf8(platform::gbk_to_utf16(gbk)); }

std::u16string utf8_to_utf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
    bool ok = length != 0 && i + length <= utf8.size();
    for (size_t k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and values beyond Unicode are as malformed as a cut sequence.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && c >= kSmallest[length] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    if (!ok) {
      out.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += length;
  }
  return out;
}

std::string utf8_to_gbk(std::string_view utf8) { return platform::utf16_to_gbk(utf8_to_utf16(utf8)); }

std::string shown(const std::optional<std::string>& gbk) { return gbk ? gbk_to_utf8(*gbk) : "(null)"; }

std::string strprintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, again);
  va_end(again);
  return out;
}

std::string padded(std::string_view gbk, size_t columns) {
  std::string text(gbk);
  if (text.size() < columns) text.append(columns - text.size(), ' ');
  return gbk_to_utf8(text);
}

void print_line(std::string_view utf8) {
  std::string line(utf8);
  line += '\n';
  platform::write_standard_stream(platform::StandardStream::Output, line);
}

void print_error(std::string_view utf8) {
  std::string line(utf8);
  line += '\n';
  platform::write_standard_stream(platform::StandardStream::Error, line);
}

}  // namespace hostsim
