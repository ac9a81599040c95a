// POSIX stand-ins for the registry, INI files, version resources, code page conversion and
// message boxes. Paths may use either slash; backslashes are taken as directory separators.
#include <iconv.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>

#include "platform/platform.h"
#include "platform/version_blob.h"
#include "test_stores.h"

namespace platform {

namespace {

std::string upper_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

std::string posix_path(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

struct Stores {
  std::mutex mutex;
  std::map<std::string, std::map<std::string, std::string>> registry;  // upper-case key/value
  std::map<std::string, std::vector<uint8_t>> versions;
  std::function<void(std::string_view, std::string_view)> message_sink;
};

Stores& stores() {
  static Stores* s = new Stores;  // used until the module unloads
  return *s;
}

std::string convert(const char* to, const char* from, const char* data, size_t size) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string out(size * 4 + 4, '\0');
  char* in = const_cast<char*>(data);
  size_t in_left = size;
  char* dst = out.data();
  size_t out_left = out.size();
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &dst, &out_left) != static_cast<size_t>(-1)) continue;
    // An unconvertible character becomes '?', as WideCharToMultiByte's default does.
    const bool from_utf16 = std::string_view(from) == "UTF-16LE";
    size_t skip = from_utf16 ? 2 : 1;
    if (from_utf16 && in_left >= 4) {
      const unsigned high = static_cast<uint8_t>(in[0]) | static_cast<uint8_t>(in[1]) << 8;
      const unsigned low = static_cast<uint8_t>(in[2]) | static_cast<uint8_t>(in[3]) << 8;
      if (high >= 0xD800 && high < 0xDC00 && low >= 0xDC00 && low < 0xE000) skip = 4;  // one character
    }
    const size_t write = from_utf16 ? 1 : 2;
    if (in_left < skip || out_left < write) break;
    in += skip;
    in_left -= skip;
    *dst++ = '?';
    if (!from_utf16) *dst++ = '\0';
    out_left -= write;
  }
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

class BlobVersionResource : public VersionResource {
 public:
  explicit BlobVersionResource(std::vector<uint8_t> blob) : blob_(std::move(blob)) {}

  bool file_version(uint32_t& most, uint32_t& least) const override {
    return version_blob::fixed_file_version(blob_, most, least);
  }
  bool translation(uint16_t& language, uint16_t& code_page) const override {
    auto v = version_blob::query(blob_, u"\\VarFileInfo\\Translation");
    if (!v || v->bytes.size() < 4) return false;
    language = static_cast<uint16_t>(v->bytes[0] | (v->bytes[1] << 8));
    code_page = static_cast<uint16_t>(v->bytes[2] | (v->bytes[3] << 8));
    return true;
  }
  std::optional<std::string> query_string(std::string_view sub_block) const override {
    auto v = version_blob::query(blob_, gbk_to_utf16(sub_block));
    if (!v || !v->is_text) return std::nullopt;
    std::u16string text(v->bytes.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(v->bytes[2 * i] | (v->bytes[2 * i + 1] << 8));
    return utf16_to_gbk(text);
  }

 private:
  std::vector<uint8_t> blob_;
};

}  // namespace

// ---------------------------------------------------------------- registry

std::optional<std::string> read_machine_registry(std::string_view key, std::string_view value) {
  auto& s = stores();
  std::lock_guard lock(s.mutex);
  auto k = s.registry.find(upper_ascii(key));
  if (k == s.registry.end()) return std::nullopt;
  auto v = k->second.find(upper_ascii(value));
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool machine_registry_key_exists(std::string_view key) {
  auto& s = stores();
  std::lock_guard lock(s.mutex);
  return s.registry.count(upper_ascii(key)) != 0;
}

namespace test_stores {

void set_machine_registry(std::string_view key, std::string_view value, std::string_view data) {
  auto& s = stores();
  std::lock_guard lock(s.mutex);
  s.registry[upper_ascii(key)][upper_ascii(value)] = std::string(data);
}

void clear_machine_registry() {
  auto& s = stores();
  std::lock_guard lock(s.mutex);
  s.registry.clear();
}

void set_message_box_sink(std::function<void(std::string_view, std::string_view)> sink) {
  auto& s = stores();
  std::lock_guard lock(s.mutex);
  s.message_sink = std::move(sink);
}

}  // namespace test_stores

// ---------------------------------------------------------------- INI files and files

std::string read_ini_string(std::string_view file, std::string_view section, std::string_view key,
                            std::string_view fallback) {
  std::ifstream in(posix_path(file), std::ios::binary);
  if (!in) return std::string(fallback);
  const std::string want_section = upper_ascii(section);
  const std::string want_key = upper_ascii(key);
  bool in_section = false;
  std::string line;
  while (std::getline(in, line)) {
    std::string t = trim(line);
    if (t.empty() || t[0] == ';') continue;
    if (t.front() == '[') {
      size_t close = t.find(']');
      in_section = close != std::string::npos && upper_ascii(trim(t.substr(1, close - 1))) == want_section;
      continue;
    }
    if (!in_section) continue;
    size_t eq = t.find('=');
    if (eq == std::string::npos || upper_ascii(trim(t.substr(0, eq))) != want_key) continue;
    std::string v = trim(t.substr(eq + 1));
    // GetPrivateProfileString strips one pair of surrounding quotes.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    return v;
  }
  return std::string(fallback);
}

// ---------------------------------------------------------------- version resources

void register_version_resource(std::string path, std::vector<uint8_t> blob) {
  auto& s = stores();
  std::lock_guard lock(s.mutex);
  if (blob.empty())
    s.versions.erase(path);
  else
    s.versions[std::move(path)] = std::move(blob);
}

std::unique_ptr<VersionResource> open_version_resource(std::string_view path) {
  auto& s = stores();
  std::lock_guard lock(s.mutex);
  auto it = s.versions.find(std::string(path));
  if (it == s.versions.end()) return nullptr;
  return std::make_unique<BlobVersionResource>(it->second);
}

// ---------------------------------------------------------------- text

std::u16string gbk_to_utf16(std::string_view gbk) {
  std::string bytes = convert("UTF-16LE", "GBK", gbk.data(), gbk.size());
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                   (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  return out;
}

std::string utf16_to_gbk(std::u16string_view text) {
  std::string bytes(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return convert("GBK", "UTF-16LE", bytes.data(), bytes.size());
}

// ---------------------------------------------------------------- message boxes

void show_message_box(std::string_view text, std::string_view caption) {
  auto& s = stores();
  std::function<void(std::string_view, std::string_view)> sink;
  {
    std::lock_guard lock(s.mutex);
    sink = s.message_sink;
  }
  if (sink) {
    sink(text, caption);
    return;
  }
  std::cerr << caption << ": " << text << '\n';
}

// ---------------------------------------------------------------- standard streams

void write_standard_stream(StandardStream stream, std::string_view utf8) {
  std::FILE* f = stream == StandardStream::Error ? stderr : stdout;
  std::fwrite(utf8.data(), 1, utf8.size(), f);
  std::fflush(f);
}

// ---------------------------------------------------------------- regional settings

// The settings of a Simplified Chinese Windows installation left at its defaults.
DateTimeFormat date_time_format() {
  DateTimeFormat f;
  f.short_date = "yyyy/M/d";
  f.date_separator = '/';
  f.time_separator = ':';
  f.hour_leading_zero = false;
  f.twelve_hour = false;
  f.marker_first = true;
  f.am = "上午";
  f.pm = "下午";
  f.short_month_names = {"1月", "2月", "3月", "4月",  "5月",  "6月",
                         "7月", "8月", "9月", "10月", "11月", "12月"};
  f.long_month_names = {"一月", "二月", "三月", "四月", "五月",   "六月",
                        "七月", "八月", "九月", "十月", "十一月", "十二月"};
  f.short_day_names = {"周日", "周一", "周二", "周三", "周四", "周五", "周六"};
  f.long_day_names = {"星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六"};
  return f;
}

}  // namespace platform
