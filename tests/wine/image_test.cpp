// What the host and the Windows loader see of the driver file before any export runs: the export
// and import tables of the mapped image and the version resource.
#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "tests/wine/driver_library.h"
#include "tests/wine/pe_image.h"

namespace wine_test {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Libraries every Windows installation has. Anything else (a compiler run-time, the memory
// manager, the card vendor's library) would have to be installed next to the host or be loaded at
// run time.
bool is_windows_system_library(const std::string& name) {
  static const std::set<std::string> kSystem = {
      "kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll", "version.dll", "msvcrt.dll",
      "comctl32.dll", "comdlg32.dll", "winspool.drv", "shell32.dll",  "ole32.dll",   "oleaut32.dll",
  };
  const std::string l = lower(name);
  return kSystem.count(l) != 0 || l.starts_with("api-ms-win-");
}

class DriverImage : public DriverTest {};

TEST_F(DriverImage, ExportsExactlyTheEighteenHostFunctionsUndecorated) {
  const auto image = pe::read_loaded_image(dll.library);
  ASSERT_TRUE(image.has_value()) << "no PE32 headers at the driver's image base";
  EXPECT_EQ(image->machine, pe::kMachineI386);
  EXPECT_NE(image->characteristics & pe::kCharacteristicDll, 0);
  EXPECT_EQ(image->module_name, "Vorel_PCI.dll");
  EXPECT_EQ(image->function_count, 18u) << "an export without a name is still an export";

  const std::set<std::string> expected = {
      "GetPDBLen",   "FullPDB",   "DLLEdDev",    "DLLTestDev",      "TagEdAddr",      "GetTagAddrList",
      "GetTags",     "IniDriver", "IniDriverEx", "AddTags",         "DetectScanTime", "OnDataRead",
      "OnDataWrite", "ReadTags",  "WriteTags",   "GetDeviceStatus", "WriteLog",       "FreeDriver",
  };
  std::set<std::string> names;
  for (const pe::Export& e : image->exports) {
    EXPECT_EQ(e.name.find('@'), std::string::npos) << "decorated name " << e.name;
    EXPECT_TRUE(names.insert(e.name).second) << "exported twice: " << e.name;
    // What the loader resolves is the code the table points at: nothing forwarded elsewhere.
    EXPECT_EQ(platform::resolve(dll.library, e.name.c_str()),
              static_cast<const void*>(static_cast<const uint8_t*>(dll.library) + e.rva))
        << e.name;
  }
  EXPECT_EQ(names, expected);
}

TEST_F(DriverImage, ImportsOnlyWindowsSystemLibraries) {
  const auto image = pe::read_loaded_image(dll.library);
  ASSERT_TRUE(image.has_value());
  bool kernel = false;
  for (const std::string& name : image->imports) {
    EXPECT_TRUE(is_windows_system_library(name)) << "the driver needs " << name;
    kernel = kernel || lower(name) == "kernel32.dll";
  }
  EXPECT_TRUE(kernel) << "import table not found";
}

class DriverVersionInfo : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    resource_ = platform::open_version_resource(dll.driver_path);
    ASSERT_NE(resource_, nullptr) << "no version information in " << dll.driver_path;
  }

  std::optional<std::string> value(const std::string& key) const {
    return resource_->query_string("\\StringFileInfo\\080403A8\\" + key);
  }

  std::unique_ptr<platform::VersionResource> resource_;
};

TEST_F(DriverVersionInfo, FixedBlockIs4004InSimplifiedChinese936) {
  uint32_t most = 0, least = 0;
  ASSERT_TRUE(resource_->file_version(most, least));
  EXPECT_EQ(most, 0x00040000u);
  EXPECT_EQ(least, 0x00000004u);

  uint16_t language = 0, code_page = 0;
  ASSERT_TRUE(resource_->translation(language, code_page));
  EXPECT_EQ(language, 0x0804);
  EXPECT_EQ(code_page, 936);
}

TEST_F(DriverVersionInfo, StringsAreTheDriversGbkTexts) {
  const struct {
    const char* key;
    const char* text;
  } kValues[] = {
      {"FileDescription", "支持VorelPCI-7505板卡"},
      {"FileVersion", "4.0.0.4"},
      {"OriginalFilename", "Vorel_PCI.dll"},
      {"OriginalFileName", "Vorel_PCI.dll"},  // the driver asks with this spelling
      {"ProductName", "VorelPCI系列板卡驱动程序(板卡)"},
      {"ProductVersion", "1.0.4.1"},
      {"DeviceName", "VorelPCI系列板卡"},
      {"DevTypeName", "板卡"},
      {"DevIDName", "板卡号"},
      {"ChnName", "板卡基址"},
  };
  for (const auto& v : kValues) EXPECT_EQ(value(v.key), std::optional<std::string>(v.text)) << v.key;

  for (const char* key : {"CompanyName", "LegalCopyright", "LegalTrademarks", "Comments"})
    EXPECT_EQ(value(key).value_or(""), "") << key;

  // The driver's own query form: no leading separator.
  EXPECT_EQ(resource_->query_string("StringFileInfo\\080403A8\\DevIDName"),
            std::optional<std::string>("板卡号"));
}

}  // namespace
}  // namespace wine_test
