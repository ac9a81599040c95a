// Code page 936 text rules: every loop walks by character, so a trail byte is never read as a
// letter or as the start of a sign.
#include "support/gbk_text.h"

namespace vorel::gbk {

namespace {

// Length of the character that starts at byte i; a lead byte with nothing after it stands alone.
size_t CharLength(std::string_view text, size_t i) {
  return IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1;
}

char FoldAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether walking by character from `start` (a boundary) lands exactly on `end`.
bool IsBoundaryFrom(std::string_view text, size_t start, size_t end) {
  size_t i = start;
  while (i < end) i += CharLength(text, i);
  return i == end;
}

}  // namespace

std::string UpperCase(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); i += CharLength(out, i)) out[i] = FoldAscii(out[i]);
  return out;
}

size_t Find(std::string_view text, std::string_view needle, size_t from) {
  if (from > text.size()) return std::string_view::npos;
  for (size_t i = 0;; i += CharLength(text, i)) {
    if (i >= from && text.substr(i).starts_with(needle) && IsBoundaryFrom(text, i, i + needle.size()))
      return i;
    if (i + needle.size() >= text.size()) break;  // nothing further can fit
  }
  return std::string_view::npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (prefix.size() > text.size()) return false;
  size_t i = 0;
  while (i < prefix.size()) {
    const size_t length = CharLength(text, i);
    if (i + length > prefix.size()) return false;  // the prefix ends inside a character
    if (length == 1 ? FoldAscii(text[i]) != FoldAscii(prefix[i]) : text.substr(i, 2) != prefix.substr(i, 2))
      return false;
    i += length;
  }
  return true;
}

std::string_view Truncate(std::string_view text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  size_t end = 0;
  while (end < max_bytes) {
    const size_t length = CharLength(text, end);
    if (end + length > max_bytes) break;
    end += length;
  }
  return text.substr(0, end);
}

}  // namespace vorel::gbk
