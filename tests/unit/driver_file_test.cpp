// The Windows build's Vorel_PCI.dll read from disk, on any machine, Wine or not: its export table,
// the libraries and functions it imports, the Windows its headers ask for, its thread-local
// storage and its version resource. First the checks themselves, on images made here with one
// fault each; then the real file, which is skipped when the Windows build has not made it, and
// the reader on damaged copies of it.
#include "tests/common/driver_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/version_blob.h"
#include "tests/common/pe_image.h"

namespace {

namespace vb = platform::version_blob;

// Expected messages hold the driver's texts in UTF-8 whatever the compiler's execution charset.
std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

vb::Contents sound_version() {
  vb::Contents c;
  c.file_version_ms = driver_file::kFileVersionMost;
  c.file_version_ls = driver_file::kFileVersionLeast;
  c.product_version_ms = 0x00010000u;
  c.product_version_ls = 0x00040001u;
  c.language = driver_file::kLanguage;
  c.code_page = driver_file::kCodePage;
  for (const driver_file::VersionString& s : driver_file::kVersionStrings)
    c.strings.emplace_back(platform::gbk_to_utf16(s.key), platform::gbk_to_utf16(s.text));
  return c;
}

// An image as MinGW makes the driver, so that each case below has exactly its own fault.
pe::LoadedImage sound_image() {
  pe::LoadedImage image;
  image.machine = pe::kMachineI386;
  image.characteristics = pe::kCharacteristicDll | 0x0102;  // executable, 32-bit words
  image.os_version = image.subsystem_version = {5, 1};
  image.module_name = "Vorel_PCI.dll";
  image.function_count = static_cast<uint32_t>(driver_file::kExportNames.size());
  uint32_t rva = 0x1000;
  for (std::string_view name : driver_file::kExportNames)
    image.exports.push_back({std::string(name), rva += 0x40});
  image.imports = {"ADVAPI32.dll", "KERNEL32.dll", "msvcrt.dll", "USER32.dll", "VERSION.dll"};
  image.imported_functions = {{"ADVAPI32.dll", "RegOpenKeyExA"},      {"KERNEL32.dll", "GetTickCount"},
                              {"KERNEL32.dll", "GetModuleHandleExA"}, {"msvcrt.dll", "_aligned_malloc"},
                              {"USER32.dll", "MessageBoxA"},          {"VERSION.dll", "VerQueryValueA"}};
  image.thread_storage =
      pe::ThreadStorage{driver_file::kRunTimeTlsTemplate, 0, driver_file::kRunTimeTlsCallbacks};
  image.version_resource = vb::encode(sound_version());
  return image;
}

void set_string(pe::LoadedImage& image, std::u16string_view key, std::optional<std::u16string> value) {
  vb::Contents c = sound_version();
  std::erase_if(c.strings, [&](const auto& s) { return s.first == key; });
  if (value) c.strings.emplace_back(key, *value);
  image.version_resource = vb::encode(c);
}

TEST(DriverFileChecks, ASoundImageHasNoProblem) {
  EXPECT_EQ(driver_file::problems(sound_image()), std::vector<std::string>{});
}

TEST(DriverFileChecks, EachFaultIsNamed) {
  const struct {
    const char* fault;
    std::function<void(pe::LoadedImage&)> damage;
    std::vector<std::string> problems;
  } kCases[] = {
      {"an x86-64 image", [](auto& i) { i.machine = 0x8664; }, {"not an i386 image"}},
      {"a program, not a DLL", [](auto& i) { i.characteristics = 0x0102; }, {"not marked as a DLL"}},
      {"another module's export table",
       [](auto& i) { i.module_name = "pci7505.dll"; },
       {"the export table names the module pci7505.dll"}},
      {"an export by ordinal only",
       [](auto& i) { i.function_count = 19; },
       {"the export address table holds 19 functions, not 18"}},
      {"a standard-call decorated name",
       [](auto& i) { i.exports[6].name = "GetTags@8"; },
       {"decorated export GetTags@8", "export GetTags is missing"}},
      {"a function the host does not know",
       [](auto& i) { i.exports[17].name = "DllCanUnloadNow"; },
       {"export DllCanUnloadNow is none of the host's functions", "export FreeDriver is missing"}},
      {"one name twice",
       [](auto& i) { i.exports[0].name = "WriteLog"; },
       {"export WriteLog appears 2 times", "export GetPDBLen is missing"}},
      {"the C++ run-time as a DLL",
       [](auto& i) { i.imports.push_back("libstdc++-6.dll"); },
       {"imports libstdc++-6.dll, which Windows does not bring"}},
      {"the threads run-time as a DLL",
       [](auto& i) { i.imports.push_back("libwinpthread-1.dll"); },
       {"imports libwinpthread-1.dll, which Windows does not bring"}},
      {"the memory manager bound at load time",
       [](auto& i) { i.imports.push_back("borlndmm.dll"); },
       {"imports borlndmm.dll, which Windows does not bring"}},
      {"a function of Windows Vista",
       [](auto& i) {
         i.imported_functions.push_back({"KERNEL32.dll", "GetTickCount64"});
       },
       {"imports KERNEL32.dll!GetTickCount64, which Windows XP (NT 5.1) lacks: it came with Windows Vista "
        "(NT 6.0)"}},
      {"a system function nobody looked up",
       [](auto& i) {
         i.imported_functions.push_back({"kernel32.dll", "GetNumaHighestNodeNumber"});
       },
       {"imports kernel32.dll!GetNumaHighestNodeNumber, which the table of system functions does not list"}},
      {"a system function by ordinal",
       [](auto& i) {
         i.imported_functions.push_back({"COMCTL32.dll", "", 345});
       },
       {"imports ordinal 345 of COMCTL32.dll: ordinals differ between Windows versions"}},
      {"headers that ask for Vista",
       [](auto& i) {
         i.os_version = {6, 0};
       },
       {"the headers' system version asks for Windows Vista (NT 6.0)"}},
      {"a subsystem of Windows 7",
       [](auto& i) {
         i.subsystem_version = {6, 1};
       },
       {"the headers' subsystem version asks for Windows 7 (NT 6.1)"}},
      {"a static thread variable",
       [](auto& i) { i.thread_storage->zero_fill = 8; },
       {"12 bytes of static thread-local storage, which Windows XP gives no DLL loaded at run time"}},
      {"a thread library's own TLS callback",
       [](auto& i) { i.thread_storage->callbacks = 3; },
       {"3 TLS callbacks, not the run time's 2: Windows XP runs none of them for a DLL loaded at run time"}},
      {"no import table",
       [](auto& i) { i.imports.clear(); },
       {"imports nothing from KERNEL32.dll: no import table read"}},
      {"no version resource", [](auto& i) { i.version_resource.clear(); }, {"no version resource"}},
      {"another fixed file version",
       [](auto& i) {
         vb::Contents c = sound_version();
         c.file_version_ls = 5;
         i.version_resource = vb::encode(c);
       },
       {"fixed file version 4.0.0.5, not 4.0.0.4"}},
      {"an English translation",
       [](auto& i) {
         // The translation is the blob's last value; the string table keeps its name.
         auto& b = i.version_resource;
         const uint8_t english[] = {0x09, 0x04, 0xE4, 0x04};
         std::memcpy(b.data() + b.size() - 4, english, 4);
       },
       {"the first translation is not language 0x0804, code page 936"}},
      {"another file version text",
       [](auto& i) { set_string(i, u"FileVersion", u"4.0.0.5"); },
       {"version string FileVersion is \"4.0.0.5\", not \"4.0.0.4\""}},
      {"a caption missing",
       [](auto& i) { set_string(i, u"DevIDName", std::nullopt); },
       {"version string DevIDName is missing"}},
      {"a caption in other words",
       [](auto& i) { set_string(i, u"DevTypeName", u"\u677f\u5757"); },  // 板块
       {utf8(u8"version string DevTypeName is \"板块\", not \"板卡\"")}},
      {"a company name where there is none",
       [](auto& i) { set_string(i, u"CompanyName", u"Vorel"); },
       {"version string CompanyName is \"Vorel\", not \"\""}},
  };
  for (const auto& c : kCases) {
    pe::LoadedImage image = sound_image();
    c.damage(image);
    EXPECT_EQ(driver_file::problems(image), c.problems) << c.fault;
  }
  // An empty value may also be left out; headers of NT 4 and no TLS directory ask for nothing newer.
  pe::LoadedImage image = sound_image();
  set_string(image, u"Comments", std::nullopt);
  image.os_version = image.subsystem_version = {4, 0};
  image.thread_storage.reset();
  EXPECT_EQ(driver_file::problems(image), std::vector<std::string>{});
}

TEST(DriverFileChecks, OnlyWindowsOwnLibrariesAreSystemLibraries) {
  for (const char* name : {"KERNEL32.dll", "kernel32.DLL", "msvcrt.dll", "WINSPOOL.DRV", "comdlg32.dll"})
    EXPECT_TRUE(driver_file::is_windows_system_library(name)) << name;
  // The API sets came with Windows 7: XP has none of them.
  for (const char* name : {"libgcc_s_dw2-1.dll", "libstdc++-6.dll", "libwinpthread-1.dll", "borlndmm.dll",
                           "pci7505.dll", "inpout32.dll", "Vorel_PCI.dll", "kernel32.so", "winspool.dll", "",
                           "api-ms-win-core-synch-l1-2-0.dll"})
    EXPECT_FALSE(driver_file::is_windows_system_library(name)) << name;
}

TEST(PeImageFile, WhatIsNoImageAnswersNothing) {
  const std::vector<std::vector<uint8_t>> kFiles = {
      {}, {'M', 'Z'}, std::vector<uint8_t>(4096, 0xFF), std::vector<uint8_t>(4096, 0x00)};
  for (const std::vector<uint8_t>& file : kFiles) {
    EXPECT_FALSE(pe::map_image_file(file)) << file.size() << " bytes";
    EXPECT_FALSE(pe::read_image_file(file)) << file.size() << " bytes";
  }
}

// The smallest PE32 file: headers of `image_size` bytes, no section, no table.
std::vector<uint8_t> headers_only(uint32_t image_size) {
  std::vector<uint8_t> file(0x200, 0);
  const auto put = [&](size_t at, uint32_t value, size_t width) { std::memcpy(&file[at], &value, width); };
  put(0, 0x5A4D, 2);               // MZ
  put(0x3C, 0x40, 4);              // the PE header's offset
  put(0x40, 0x4550, 4);            // PE\0\0
  put(0x44, pe::kMachineI386, 2);  // no sections follow
  put(0x54, 224, 2);               // the optional header's size
  put(0x56, 0x2102, 2);            // a DLL
  put(0x58, 0x10B, 2);             // PE32
  put(0x58 + 56, image_size, 4);   // SizeOfImage
  put(0x58 + 60, image_size, 4);   // SizeOfHeaders
  put(0x58 + 92, 16, 4);           // data directories, all empty
  return file;
}

TEST(PeImageFile, HeadersAloneAreAnImageWithoutTables) {
  const std::optional<pe::LoadedImage> image = pe::read_image_file(headers_only(0x200));
  ASSERT_TRUE(image);
  EXPECT_EQ(image->machine, pe::kMachineI386);
  EXPECT_TRUE(image->exports.empty() && image->imports.empty() && image->version_resource.empty());
  // An image of no size holds not even its headers.
  EXPECT_FALSE(pe::read_image_file(headers_only(0)));
}

// ---------------------------------------------------------------- the Windows build's file

std::optional<std::vector<uint8_t>> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

std::string utf16le(std::string_view ascii) {
  std::string out;
  for (char c : ascii) out += {c, '\0'};
  return out;
}

class BuiltDriverFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = DRIVER_DLL_PATH;
    std::optional<std::vector<uint8_t>> bytes = read_file(path_);
    if (!bytes)
      GTEST_SKIP() << path_ << " does not exist: the Windows preset has not been built (make win32)";
    file_ = std::move(*bytes);
  }

  // The file with the only occurrence of `from` replaced by `to` (same length).
  std::vector<uint8_t> replaced(std::string_view from, std::string_view to) const {
    std::vector<uint8_t> copy = file_;
    const auto bytes = [](std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    const std::vector<uint8_t> needle = bytes(from);
    auto at = std::search(copy.begin(), copy.end(), needle.begin(), needle.end());
    EXPECT_NE(at, copy.end()) << "not in the file";
    if (at == copy.end()) return copy;
    EXPECT_EQ(std::search(at + 1, copy.end(), needle.begin(), needle.end()), copy.end()) << "more than once";
    const std::vector<uint8_t> replacement = bytes(to);
    std::copy(replacement.begin(), replacement.end(), at);
    return copy;
  }

  // Offsets of the headers, as the file gives them.
  size_t optional_header() const { return get32(file_, 0x3C) + 24; }
  size_t first_section() const {
    const size_t size_of_optional_header = file_[get32(file_, 0x3C) + 20] | file_[get32(file_, 0x3C) + 21]
                                                                                << 8;
    return optional_header() + size_of_optional_header;
  }

  std::string path_;
  std::vector<uint8_t> file_;
};

TEST_F(BuiltDriverFile, HoldsWhatWindowsAndTheHostNeed) {
  const std::optional<pe::LoadedImage> image = pe::read_image_file(file_);
  ASSERT_TRUE(image) << path_ << " is no 32-bit PE image";
  std::string listed;
  for (const std::string& problem : driver_file::problems(*image)) listed += "\n  " + problem;
  EXPECT_TRUE(listed.empty()) << path_ << ":" << listed;
  // The checks saw what there is: the headers the build sets, the functions the driver calls and
  // the run time's TLS directory.
  EXPECT_TRUE(image->os_version == driver_file::kOldestWindows &&
              image->subsystem_version == driver_file::kOldestWindows);
  EXPECT_TRUE(std::any_of(image->imported_functions.begin(), image->imported_functions.end(),
                          [](const pe::Import& f) { return f.function == "GetTickCount"; }));
  ASSERT_TRUE(image->thread_storage);
  EXPECT_EQ(image->thread_storage->callbacks, driver_file::kRunTimeTlsCallbacks);
}

// The checks see faults in the file itself, through the reader's mapping of it.
TEST_F(BuiltDriverFile, DamageInTheFileIsSeen) {
  using namespace std::string_literals;
  const struct {
    const char* fault;
    std::string from, to;
    std::string problem;
  } kCases[] = {
      {"an export renamed", "GetTags\0"s, "GetTagz\0"s, "export GetTagz is none of the host's functions"},
      {"a MinGW run-time imported", "msvcrt.dll\0"s, "libgcc.dll\0"s,
       "imports libgcc.dll, which Windows does not bring"},
      {"a function of Vista imported", "GetLocaleInfoA\0"s, "GetTickCount64\0"s,
       "imports KERNEL32.dll!GetTickCount64, which Windows XP (NT 5.1) lacks: it came with Windows Vista (NT "
       "6.0)"},
      {"another file version text", utf16le("4.0.0.4"), utf16le("4.0.0.5"),
       "version string FileVersion is \"4.0.0.5\", not \"4.0.0.4\""},
      {"another fixed file version", "\xBD\x04\xEF\xFE\x00\x00\x01\x00\x00\x00\x04\x00\x04\x00"s,
       "\xBD\x04\xEF\xFE\x00\x00\x01\x00\x00\x00\x04\x00\x05\x00"s,
       "fixed file version 4.0.0.5, not 4.0.0.4"},
  };
  for (const auto& c : kCases) {
    const std::optional<pe::LoadedImage> image = pe::read_image_file(replaced(c.from, c.to));
    ASSERT_TRUE(image) << c.fault;
    const std::vector<std::string> problems = driver_file::problems(*image);
    EXPECT_NE(std::find(problems.begin(), problems.end(), c.problem), problems.end())
        << c.fault << ": " << testing::PrintToString(problems);
  }
}

TEST_F(BuiltDriverFile, ACutOrMisleadingFileIsNoImage) {
  for (size_t cut : {size_t{2}, size_t{0x40}, optional_header(), first_section(), file_.size() / 2}) {
    const std::vector<uint8_t> part(file_.begin(), file_.begin() + static_cast<long>(cut));
    EXPECT_FALSE(pe::read_image_file(part)) << "cut at " << cut;
  }
  const size_t section = first_section();
  const struct {
    const char* fault;
    size_t at;
    uint32_t value;
  } kCases[] = {
      {"PE header beyond the file", 0x3C, 0x7FFFFFF0u},
      {"an image of 4 GB", optional_header() + 56, 0xFFFFF000u},
      {"headers longer than the image", optional_header() + 60, get32(file_, optional_header() + 56) + 1},
      {"section data beyond the file", section + 20, static_cast<uint32_t>(file_.size())},
      {"section placed beyond the image", section + 12, get32(file_, optional_header() + 56)},
      {"export table beyond the image", optional_header() + 96, get32(file_, optional_header() + 56) - 4},
      {"import table beyond the image", optional_header() + 104, get32(file_, optional_header() + 56) - 4},
  };
  for (const auto& c : kCases) {
    std::vector<uint8_t> damaged = file_;
    put32(damaged, c.at, c.value);
    EXPECT_FALSE(pe::read_image_file(damaged)) << c.fault;
  }
}

}  // namespace
