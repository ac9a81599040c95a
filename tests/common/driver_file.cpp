#include "tests/common/driver_file.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "platform/platform.h"
#include "platform/version_blob.h"

namespace driver_file {

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

// For messages: a version value as UTF-8.
std::string utf8(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {  // the driver's texts stay in the basic plane
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string utf16le(std::span<const uint8_t> bytes) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return text;
}

void check_exports(const pe::LoadedImage& image, std::vector<std::string>& out) {
  if (image.module_name != "Vorel_PCI.dll")
    out.push_back("the export table names the module " + image.module_name);
  if (image.function_count != kExportNames.size())
    out.push_back("the export address table holds " + std::to_string(image.function_count) +
                  " functions, not " + std::to_string(kExportNames.size()));
  std::map<std::string, int> seen;
  for (const pe::Export& e : image.exports) ++seen[e.name];
  for (const auto& [name, count] : seen) {
    if (name.find('@') != std::string::npos)
      out.push_back("decorated export " + name);
    else if (std::find(kExportNames.begin(), kExportNames.end(), name) == kExportNames.end())
      out.push_back("export " + name + " is none of the host's functions");
    if (count > 1) out.push_back("export " + name + " appears " + std::to_string(count) + " times");
  }
  for (std::string_view name : kExportNames)
    if (!seen.contains(std::string(name))) out.push_back("export " + std::string(name) + " is missing");
}

void check_imports(const pe::LoadedImage& image, std::vector<std::string>& out) {
  bool kernel = false;
  for (const std::string& name : image.imports) {
    if (!is_windows_system_library(name)) out.push_back("imports " + name + ", which Windows does not bring");
    kernel = kernel || lower(name) == "kernel32.dll";
  }
  if (!kernel) out.push_back("imports nothing from KERNEL32.dll: no import table read");
}

// Every function from a system library exists on the oldest Windows the driver supports, or the
// loader there refuses the whole DLL.
void check_imported_functions(const pe::LoadedImage& image, std::vector<std::string>& out) {
  for (const pe::Import& f : image.imported_functions) {
    if (!is_windows_system_library(f.library)) continue;  // named above already
    if (f.function.empty()) {
      out.push_back("imports ordinal " + std::to_string(f.ordinal) + " of " + f.library +
                    ": ordinals differ between Windows versions");
      continue;
    }
    const std::string name = f.library + "!" + f.function;
    const std::optional<pe::SystemVersion> since = first_windows_with(f.library, f.function);
    if (!since)
      out.push_back("imports " + name + ", which the table of system functions does not list");
    else if (*since > kOldestWindows)
      out.push_back("imports " + name + ", which " + windows_name(kOldestWindows) + " lacks: it came with " +
                    windows_name(*since));
  }
}

void check_headers(const pe::LoadedImage& image, std::vector<std::string>& out) {
  const auto require = [&](pe::SystemVersion v, const char* what) {
    if (v > kOldestWindows)
      out.push_back(std::string("the headers' ") + what + " version asks for " + windows_name(v));
  };
  require(image.os_version, "system");
  require(image.subsystem_version, "subsystem");
}

// Before Vista, a DLL loaded at run time gets no static thread-local storage and none of its TLS
// callbacks run: nothing beyond the run time's own may be there.
void check_thread_storage(const pe::LoadedImage& image, std::vector<std::string>& out) {
  if (!image.thread_storage) return;
  const pe::ThreadStorage& tls = *image.thread_storage;
  if (tls.template_size > kRunTimeTlsTemplate || tls.zero_fill != 0)
    out.push_back(std::to_string(tls.template_size + tls.zero_fill) +
                  " bytes of static thread-local storage, which Windows XP gives no DLL loaded at run time");
  if (tls.callbacks > kRunTimeTlsCallbacks)
    out.push_back(std::to_string(tls.callbacks) + " TLS callbacks, not the run time's " +
                  std::to_string(kRunTimeTlsCallbacks) +
                  ": Windows XP runs none of them for a DLL loaded at run time");
}

void check_version(const pe::LoadedImage& image, std::vector<std::string>& out) {
  namespace vb = platform::version_blob;
  const std::span<const uint8_t> blob = image.version_resource;
  if (blob.empty()) {
    out.push_back("no version resource");
    return;
  }
  uint32_t most = 0, least = 0;
  if (!vb::fixed_file_version(blob, most, least))
    out.push_back("the version resource has no fixed block");
  else if (most != kFileVersionMost || least != kFileVersionLeast)
    out.push_back("fixed file version " + platform::version_blob::version_text(most, least) + ", not " +
                  platform::version_blob::version_text(kFileVersionMost, kFileVersionLeast));

  const std::optional<vb::Value> translation = vb::query(blob, u"\\VarFileInfo\\Translation");
  if (!translation || translation->bytes.size() < 4 ||
      (translation->bytes[0] | translation->bytes[1] << 8) != kLanguage ||
      (translation->bytes[2] | translation->bytes[3] << 8) != kCodePage)
    out.push_back("the first translation is not language 0x0804, code page 936");

  const std::u16string table = u"\\StringFileInfo\\" + platform::gbk_to_utf16(kStringTable) + u"\\";
  for (const VersionString& s : kVersionStrings) {
    const std::optional<vb::Value> value = vb::query(blob, table + platform::gbk_to_utf16(s.key));
    const std::u16string expected = platform::gbk_to_utf16(s.text);
    if (!value && !expected.empty()) {
      out.push_back("version string " + std::string(s.key) + " is missing");
    } else if (value && (!value->is_text || utf16le(value->bytes) != expected)) {
      out.push_back("version string " + std::string(s.key) + " is \"" + utf8(utf16le(value->bytes)) +
                    "\", not \"" + utf8(expected) + "\"");
    }
  }
}

}  // namespace

bool is_windows_system_library(std::string_view name) {
  static const std::set<std::string> kSystem = {
      "kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll", "version.dll", "msvcrt.dll",
      "comctl32.dll", "comdlg32.dll", "winspool.drv", "shell32.dll",  "ole32.dll",   "oleaut32.dll",
  };
  return kSystem.contains(lower(name));
}

std::vector<std::string> problems(const pe::LoadedImage& image) {
  std::vector<std::string> out;
  if (image.machine != pe::kMachineI386) out.push_back("not an i386 image");
  if (!(image.characteristics & pe::kCharacteristicDll)) out.push_back("not marked as a DLL");
  check_exports(image, out);
  check_headers(image, out);
  check_imports(image, out);
  check_imported_functions(image, out);
  check_thread_storage(image, out);
  check_version(image, out);
  return out;
}

}  // namespace driver_file
