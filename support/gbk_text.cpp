// Code page 936 text rules: every loop walks by character, so a trail byte is never read as a
// letter or as the start of a sign.
#include "support/gbk_text.h"

namespace vorel::gbk {

namespace {

// Length of the character that starts at byte i; a lead byte with nothing after it stands alone.
size_t char_length(std::string_view text, size_t i) {
  return is_lead_byte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

char fold_ascii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether walking by character from `start` (a boundary) lands exactly on `end`.
bool is_boundary_from(std::string_view text, size_t start, size_t end) {
  size_t i = start;
  while (i < end) i += char_length(text, i);
  return i == end;
}

}  // namespace

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); i += char_length(out, i)) out[i] = fold_ascii(out[i]);
  return out;
}

size_t find(std::string_view text, std::string_view needle, size_t from) {
  if (from > text.size()) return std::string_view::npos;
  for (size_t i = 0;; i += char_length(text, i)) {
    if (i >= from && text.substr(i).starts_with(needle) && is_boundary_from(text, i, i + needle.size()))
      return i;
    if (i + needle.size() >= text.size()) break;  // nothing further can fit
  }
  return std::string_view::npos;
}

bool starts_with_no_case(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  size_t i = 0;
  while (i < prefix.size()) {
    const size_t length = char_length(text, i);
    if (i + length > prefix.size()) return false;  // the prefix ends inside a character
    if (length == 1 ? fold_ascii(text[i]) != fold_ascii(prefix[i]) : text.substr(i, 2) != prefix.substr(i, 2))
      return false;
    i += length;
  }
  return true;
}

std::string_view truncate(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t end = 0;
  while (end < max_bytes) {
    const size_t length = char_length(text, end);
    if (end + length > max_bytes) break;
    end += length;
  }
  return text.substr(0, end);
}

}  // namespace vorel::gbk
