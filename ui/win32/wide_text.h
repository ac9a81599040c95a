// Code page 936 texts to and from the UTF-16 that the W entry points of Windows take, for the
// Windows backend and the window probe.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace ui::win32 {

inline std::wstring wide(std::string_view gbk) {
  const std::u16string s = platform::gbk_to_utf16(gbk);
  return std::wstring(s.begin(), s.end());
}

inline std::string narrow(std::wstring_view text) {
  return platform::utf16_to_gbk(
      std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

}  // namespace ui::win32
