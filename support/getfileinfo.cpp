#include "support/getfileinfo.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/platform.h"
#include "platform/version_blob.h"

namespace vorel {

namespace {

constexpr const char* kHostKey = "Software\\KESTA";
constexpr const char* kHostIni = "Taviran.ini";

// Keys in field order; positions 12, 13, 14 and 16 are not version-resource strings.
constexpr struct {
  FileInfoField field;
  const char* key;
} kStringKeys[] = {
    {kCompanyName, "CompanyName"},   {kFileDescription, "FileDescription"},
    {kFileVersion, "FileVersion"},   {kInternalName, "InternalName"},
    {kLegalCopyright, "LegalCopyright"}, {kLegalTrademarks, "LegalTrademarks"},
    {kOriginalFileName, "OriginalFileName"}, {kProductName, "ProductName"},
    {kProductVersion, "ProductVersion"}, {kSpecialBuild, "SpecialBuild"},
    {kPrivateBuild, "PrivateBuild"}, {kComments, "Comments"},
    {kDeviceName, "DeviceName"},     {kDevTypeName, "DevTypeName"},
    {kDevIDName, "DevIDName"},       {kChnName, "ChnName"},
};

bool is_separator(char c) { return c == '\\' || c == '/' || c == ':'; }

// ExtractFilePath: everything up to and including the last separator.
std::string directory_part(std::string_view path) {
  size_t i = path.size();
  while (i > 0 && !is_separator(path[i - 1])) --i;
  return std::string(path.substr(0, i));
}

// Trim of a folder: only its start can hold blanks, since it ends at a separator.
std::string trim_start(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  return std::string(s.substr(b));
}

std::string file_name_part(std::string_view path) {
  size_t i = path.size();
  while (i > 0 && !is_separator(path[i - 1])) --i;
  return std::string(path.substr(i));
}

std::string host_directory() {
  std::string dir =
      trim_start(directory_part(platform::read_machine_registry(kHostKey, "PATH").value_or("")));
  if (!platform::file_exists(dir + kHostIni)) dir = "..\\";
  return dir;
}

struct Published {
  platform::Mutex mutex;
  std::shared_ptr<const TfileInfo> info = std::make_shared<TfileInfo>();
  std::string failure;  // text of a failure not yet shown
  bool failure_shown = false;
};

Published& published() {
  static Published* p = new Published;  // kept past static destruction: the last detach reads it
  return *p;
}

}  // namespace

bool getfileinfo(std::string_view path, TfileInfo& info) {
  info.Fields[kHostDirectory] = host_directory();

  auto resource = platform::open_version_resource(path);
  if (!resource) return false;

  uint32_t most = 0, least = 0;
  if (resource->file_version(most, least)) {
    info.Fields[kNumericFileVersion] = platform::version_blob::version_text(most, least);
  }

  uint16_t language = 0, code_page = 0;
  resource->translation(language, code_page);
  char prefix[40];
  std::snprintf(prefix, sizeof prefix, "StringFileInfo\\%04X%04X\\", static_cast<unsigned>(language),
                static_cast<unsigned>(code_page));
  for (const auto& k : kStringKeys) {
    if (auto value = resource->query_string(std::string(prefix) + k.key)) info.Fields[k.field] = *value;
  }
  return true;
}

std::string file_info_failure_text(std::string_view path) {
  return "读取" + file_name_part(path) + "文件的版本信息失败。";
}

std::shared_ptr<const TfileInfo> driver_file_info() {
  auto& p = published();
  std::lock_guard lock(p.mutex);
  return p.info;
}

void refresh_driver_file_info(std::string_view module_path) {
  auto fresh = std::make_shared<TfileInfo>();
  const bool ok = getfileinfo(module_path, *fresh);
  auto& p = published();
  std::lock_guard lock(p.mutex);
  p.info = std::move(fresh);
  if (!ok && !p.failure_shown) p.failure = file_info_failure_text(module_path);
}

void report_driver_file_info_failure() {
  std::string text;
  {
    auto& p = published();
    std::lock_guard lock(p.mutex);
    if (p.failure.empty() || p.failure_shown) return;
    p.failure_shown = true;
    text.swap(p.failure);
  }
  platform::show_message_box(text, "Vorel_PCI");
}

}  // namespace vorel
