// Registry, INI files, version resources, code page conversion and message boxes on Win32.
#include <windows.h>

#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

class Win32VersionResource : public VersionResource {
 public:
  explicit Win32VersionResource(std::vector<char> data) : data_(std::move(data)) {}

  bool file_version(uint32_t& most, uint32_t& least) const override {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(data(), "\\", reinterpret_cast<void**>(&fixed), &len) || !fixed ||
        len < sizeof(VS_FIXEDFILEINFO))
      return false;
    most = fixed->dwFileVersionMS;
    least = fixed->dwFileVersionLS;
    return true;
  }

  bool translation(uint16_t& language, uint16_t& code_page) const override {
    WORD* pair = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pair), &len) ||
        !pair || len < 4)
      return false;
    language = pair[0];
    code_page = pair[1];
    return true;
  }

  std::optional<std::string> query_string(std::string_view sub_block) const override {
    std::string path(sub_block);
    char* value = nullptr;
    UINT len = 0;
    if (!VerQueryValueA(data(), path.c_str(), reinterpret_cast<void**>(&value), &len) || !value)
      return std::nullopt;
    return std::string(value);
  }

 private:
  // VerQueryValueA converts text in place inside the block, so it takes a non-const pointer.
  void* data() const { return const_cast<char*>(data_.data()); }
  std::vector<char> data_;
};

}  // namespace

// ---------------------------------------------------------------- registry

std::optional<std::string> read_machine_registry(std::string_view key, std::string_view value) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, std::string(key).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
    return std::nullopt;
  std::string name(value);
  DWORD type = 0, size = 0;
  std::optional<std::string> result;
  if (RegQueryValueExA(h, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::vector<char> buffer(size + 1, '\0');
    if (RegQueryValueExA(h, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
        ERROR_SUCCESS)
      result = std::string(buffer.data());
  }
  RegCloseKey(h);
  return result;
}

bool machine_registry_key_exists(std::string_view key) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, std::string(key).c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
    return false;
  RegCloseKey(h);
  return true;
}

// ---------------------------------------------------------------- INI files and files

std::string read_ini_string(std::string_view file, std::string_view section, std::string_view key,
                            std::string_view fallback) {
  std::vector<char> buffer(2048, '\0');
  DWORD n = GetPrivateProfileStringA(std::string(section).c_str(), std::string(key).c_str(),
                                     std::string(fallback).c_str(), buffer.data(),
                                     static_cast<DWORD>(buffer.size()), std::string(file).c_str());
  return std::string(buffer.data(), n);
}

// ---------------------------------------------------------------- version resources

std::unique_ptr<VersionResource> open_version_resource(std::string_view path) {
  std::string name(path);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(name.c_str(), &ignored);
  if (size == 0) return nullptr;
  std::vector<char> data(size, '\0');
  if (!GetFileVersionInfoA(name.c_str(), 0, size, data.data())) return nullptr;
  return std::make_unique<Win32VersionResource>(std::move(data));
}

// ---------------------------------------------------------------- text

std::u16string gbk_to_utf16(std::string_view gbk) {
  if (gbk.empty()) return {};
  int n = MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(936, 0, gbk.data(), static_cast<int>(gbk.size()), reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string utf16_to_gbk(std::u16string_view text) {
  if (text.empty()) return {};
  auto* w = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(936, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(936, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// ---------------------------------------------------------------- message boxes

void show_message_box(std::string_view text, std::string_view caption) {
  MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(), MB_OK | MB_ICONWARNING);
}

// ---------------------------------------------------------------- standard streams

void write_standard_stream(StandardStream stream, std::string_view utf8) {
  if (utf8.empty()) return;
  HANDLE h = GetStdHandle(stream == StandardStream::Error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (!h || h == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0, written = 0;
  if (GetConsoleMode(h, &mode)) {
    // A console decodes bytes with its own code page; wide text needs no decoding at all.
    const int size = static_cast<int>(utf8.size());
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    WriteConsoleW(h, wide.data(), static_cast<DWORD>(n), &written, nullptr);
    return;
  }
  const char* data = utf8.data();
  size_t left = utf8.size();
  while (left > 0 && WriteFile(h, data, static_cast<DWORD>(left), &written, nullptr) && written > 0) {
    data += written;
    left -= written;
  }
}

// ---------------------------------------------------------------- regional settings

namespace {

std::string locale_text(LCTYPE item, const char* fallback) {
  char buffer[256] = {};
  // An empty setting is a setting (24-hour locales may have no AM/PM texts); only a failed query
  // takes the fallback.
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, item, buffer, sizeof buffer) <= 0) return fallback;
  return buffer;
}

// A setting given as one character ("1" and "0" switches, separators).
char locale_char(LCTYPE item, char fallback) {
  const std::string text = locale_text(item, "");
  return text.empty() ? fallback : text[0];
}

}  // namespace

DateTimeFormat date_time_format() {
  DateTimeFormat f;
  f.short_date = locale_text(LOCALE_SSHORTDATE, "m/d/yy");
  f.date_separator = locale_char(LOCALE_SDATE, '/');
  f.time_separator = locale_char(LOCALE_STIME, ':');
  f.hour_leading_zero = locale_char(LOCALE_ITLZERO, '0') == '1';
  f.twelve_hour = locale_char(LOCALE_ITIME, '0') == '0';  // "0" is the AM/PM clock
  f.marker_first = locale_char(LOCALE_ITIMEMARKPOSN, '0') == '1';
  f.am = locale_text(LOCALE_S1159, "am");
  f.pm = locale_text(LOCALE_S2359, "pm");
  for (int i = 0; i < 12; ++i) {
    const auto m = static_cast<LCTYPE>(i);
    f.short_month_names[static_cast<size_t>(i)] = locale_text(LOCALE_SABBREVMONTHNAME1 + m, "");
    f.long_month_names[static_cast<size_t>(i)] = locale_text(LOCALE_SMONTHNAME1 + m, "");
  }
  // Windows counts the week from Monday (DAYNAME1); the pictures count it from Sunday.
  for (int i = 0; i < 7; ++i) {
    const auto d = static_cast<LCTYPE>((i + 6) % 7);
    f.short_day_names[static_cast<size_t>(i)] = locale_text(LOCALE_SABBREVDAYNAME1 + d, "");
    f.long_day_names[static_cast<size_t>(i)] = locale_text(LOCALE_SDAYNAME1 + d, "");
  }
  return f;
}

}  // namespace platform
