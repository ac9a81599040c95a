// What the host and the Windows loader see of the driver file before any export runs: the export
// and import tables of the mapped image and the version resource.
#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/common/driver_file.h"
#include "tests/common/pe_image.h"
#include "tests/wine/driver_library.h"

namespace wine_test {
namespace {

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

class DriverImage : public DriverTest {};

TEST_F(DriverImage, ExportsExactlyTheEighteenHostFunctionsUndecorated) {
  const auto image = pe::read_loaded_image(dll.library);
  ASSERT_TRUE(image.has_value()) << "no PE32 headers at the driver's image base";
  EXPECT_EQ(image->machine, pe::kMachineI386);
  EXPECT_NE(image->characteristics & pe::kCharacteristicDll, 0);
  EXPECT_EQ(image->module_name, "Vorel_PCI.dll");
  EXPECT_EQ(image->function_count, 18u) << "an export without a name is still an export";

  const std::set<std::string> expected(driver_file::kExportNames.begin(), driver_file::kExportNames.end());
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
    EXPECT_TRUE(driver_file::is_windows_system_library(name)) << "the driver needs " << name;
    kernel = kernel || lower(name) == "kernel32.dll";
  }
  EXPECT_TRUE(kernel) << "import table not found";
}

// The facts the native suite checks in the file on disk hold for the image the loader mapped.
TEST_F(DriverImage, MappedImageHoldsWhatTheFileChecksDemand) {
  const auto image = pe::read_loaded_image(dll.library);
  ASSERT_TRUE(image.has_value());
  EXPECT_FALSE(image->version_resource.empty()) << "no version resource in the mapped image";
  EXPECT_EQ(driver_file::problems(*image), std::vector<std::string>{});
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
  for (const driver_file::VersionString& v : driver_file::kVersionStrings) {
    if (*v.text)
      EXPECT_EQ(value(v.key), std::optional<std::string>(v.text)) << v.key;
    else
      EXPECT_EQ(value(v.key).value_or(""), "") << v.key;
  }
  // The driver asks with this spelling.
  EXPECT_EQ(value("OriginalFileName"), std::optional<std::string>("Vorel_PCI.dll"));

  // The driver's own query form: no leading separator.
  EXPECT_EQ(resource_->query_string("StringFileInfo\\080403A8\\DevIDName"),
            std::optional<std::string>("板卡号"));
}

}  // namespace
}  // namespace wine_test
