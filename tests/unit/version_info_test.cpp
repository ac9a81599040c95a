#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "interface/exports.h"
#include "platform/platform.h"
#include "platform/posix/test_stores.h"
#include "platform/version_blob.h"
#include "support/getfileinfo.h"
#include "temp_dir.h"

namespace vorel {
namespace {

namespace vb = platform::version_blob;

vb::Contents sample_contents() {
  vb::Contents c;
  std::tie(c.file_version_ms, c.file_version_ls) = vb::pack_version(4, 0, 0, 4);
  std::tie(c.product_version_ms, c.product_version_ls) = vb::pack_version(1, 0, 4, 1);
  c.language = 0x0804;
  c.code_page = 936;
  c.strings = {{u"FileVersion", u"4.0.0.4"},
               {u"OriginalFilename", u"Vorel_PCI.dll"},
               {u"DeviceName", u"VorelPCI\u7cfb\u5217\u677f\u5361"},  // VorelPCI系列板卡
               {u"DevTypeName", u"\u677f\u5361"},                     // 板卡
               {u"Comments", u""}};
  return c;
}

std::string text_of(const std::optional<vb::Value>& v) {
  std::string out;
  for (uint8_t b : v->bytes) out.push_back(static_cast<char>(b));
  return out;
}

TEST(VersionBlob, ReadsBackWhatWasWritten) {
  const std::vector<uint8_t> blob = vb::encode(sample_contents());
  uint32_t most = 0, least = 0;
  ASSERT_TRUE(vb::fixed_file_version(blob, most, least));
  EXPECT_EQ(most, 0x00040000u);
  EXPECT_EQ(least, 0x00000004u);

  // The fixed block as the resource compiler writes the DLL's (signature, structure version,
  // versions, flags mask, flags, OS, type, subtype, date).
  auto fixed = vb::query(blob, u"\\");
  ASSERT_TRUE(fixed);
  ASSERT_EQ(fixed->bytes.size(), 52u);
  const uint32_t expected[13] = {0xFEEF04BD, 0x00010000, 0x00040000, 4, 0x00010000, 0x00040001, 0x3F,
                                 0,          0x40004,    2,          0, 0,          0};
  for (size_t i = 0; i < 13; ++i) {
    uint32_t word;
    std::memcpy(&word, fixed->bytes.data() + 4 * i, 4);
    EXPECT_EQ(word, expected[i]) << "word " << i;
  }

  auto translation = vb::query(blob, u"\\VarFileInfo\\Translation");
  ASSERT_TRUE(translation);
  ASSERT_EQ(translation->bytes.size(), 4u);
  EXPECT_FALSE(translation->is_text) << "the translation is two binary words";
  EXPECT_EQ(translation->bytes[0] | translation->bytes[1] << 8, 0x0804);
  EXPECT_EQ(translation->bytes[2] | translation->bytes[3] << 8, 936);

  auto version = vb::query(blob, u"\\StringFileInfo\\080403A8\\FileVersion");
  ASSERT_TRUE(version);
  EXPECT_TRUE(version->is_text);
  EXPECT_EQ(text_of(version), std::string("4\0.\0"
                                          "0\0.\0"
                                          "0\0.\0"
                                          "4\0",
                                          14));

  // As Windows writes it, a string's value length counts its terminator: 7 characters and one.
  const std::u16string key = u"FileVersion";
  const auto at = std::search(blob.begin(), blob.end(), reinterpret_cast<const uint8_t*>(key.data()),
                              reinterpret_cast<const uint8_t*>(key.data() + key.size()));
  ASSERT_NE(at, blob.end());
  EXPECT_EQ(at[-4] | at[-3] << 8, 8) << "the FileVersion node's value length";

  auto empty = vb::query(blob, u"\\StringFileInfo\\080403A8\\Comments");
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->bytes.empty());
}

TEST(VersionBlob, KeysMatchWithoutRegardToCase) {
  const std::vector<uint8_t> blob = vb::encode(sample_contents());
  EXPECT_TRUE(vb::query(blob, u"\\StringFileInfo\\080403a8\\OriginalFileName"));
  EXPECT_TRUE(vb::query(blob, u"stringfileinfo\\080403A8\\DEVICENAME"));
  EXPECT_FALSE(vb::query(blob, u"\\StringFileInfo\\080403A8\\SpecialBuild"));
  EXPECT_FALSE(vb::query(blob, u"\\StringFileInfo\\040904B0\\FileVersion"));
}

TEST(VersionBlob, DamagedBlobsAnswerNothing) {
  std::vector<uint8_t> blob = vb::encode(sample_contents());
  uint32_t most, least;
  for (size_t cut : {size_t{0}, size_t{3}, size_t{40}, blob.size() / 2}) {
    std::vector<uint8_t> part(blob.begin(), blob.begin() + static_cast<long>(cut));
    // A length field that claims more than is there must not be followed.
    EXPECT_FALSE(vb::fixed_file_version(part, most, least)) << cut;
    EXPECT_FALSE(vb::query(part, u"\\StringFileInfo\\080403A8\\FileVersion")) << cut;
  }
  std::vector<uint8_t> noise(300, 0xFF);
  EXPECT_FALSE(vb::query(noise, u"\\VarFileInfo\\Translation"));

  // A node whose length ends inside its key's terminating zero has no key.
  const std::u16string_view path = u"\\StringFileInfo\\080403A8\\Comments";
  ASSERT_TRUE(vb::query(blob, path));
  const std::u16string_view key = u"Comments";
  const auto at = std::search(blob.begin(), blob.end(), reinterpret_cast<const uint8_t*>(key.data()),
                              reinterpret_cast<const uint8_t*>(key.data() + key.size())) -
                  blob.begin();
  blob[static_cast<size_t>(at) - 6] = static_cast<uint8_t>(6 + 2 * key.size() + 1);
  blob[static_cast<size_t>(at) - 5] = 0;
  EXPECT_FALSE(vb::query(blob, path));
}

class DriverFileInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::test_stores::clear_machine_registry();
    platform::register_version_resource(path_, vb::encode(sample_contents()));
  }
  void TearDown() override {
    platform::register_version_resource(path_, {});
    platform::test_stores::clear_machine_registry();
    platform::test_stores::set_message_box_sink(nullptr);
    refresh_driver_file_info(platform::own_module_path());
  }
  const std::string path_ = "/nonexistent/Vorel_PCI.dll";
  testing_support::TempDir host_;
};

TEST_F(DriverFileInfo, FieldsComeFromTheVersionResource) {
  TfileInfo info;
  ASSERT_TRUE(getfileinfo(path_, info));
  EXPECT_EQ(info[kNumericFileVersion], "4.0.0.4");
  EXPECT_EQ(info.FileVersion(), "4.0.0.4");
  EXPECT_EQ(info[kOriginalFileName], "Vorel_PCI.dll");
  EXPECT_EQ(info.DeviceName(), "VorelPCI系列板卡");
  EXPECT_EQ(info.DevTypeName(), "板卡");
  EXPECT_EQ(info[kComments], "");
  EXPECT_EQ(info.DevIDName(), "") << "a missing key leaves its field as it was";
  EXPECT_EQ(info.Fields[13], "");
}

// Each of the sixteen keys at its position of the record, whatever the order of the resource.
TEST_F(DriverFileInfo, EveryKeyLandsAtItsPosition) {
  const std::pair<FileInfoField, const char16_t*> kKeys[] = {
      {kCompanyName, u"CompanyName"},
      {kFileDescription, u"FileDescription"},
      {kFileVersion, u"FileVersion"},
      {kInternalName, u"InternalName"},
      {kLegalCopyright, u"LegalCopyright"},
      {kLegalTrademarks, u"LegalTrademarks"},
      {kOriginalFileName, u"OriginalFileName"},
      {kProductName, u"ProductName"},
      {kProductVersion, u"ProductVersion"},
      {kSpecialBuild, u"SpecialBuild"},
      {kPrivateBuild, u"PrivateBuild"},
      {kComments, u"Comments"},
      {kDeviceName, u"DeviceName"},
      {kDevTypeName, u"DevTypeName"},
      {kDevIDName, u"DevIDName"},
      {kChnName, u"ChnName"},
  };
  vb::Contents c = sample_contents();
  std::tie(c.file_version_ms, c.file_version_ls) = vb::pack_version(7, 65535, 65534, 9);
  c.strings.clear();
  for (auto it = std::rbegin(kKeys); it != std::rend(kKeys); ++it)
    c.strings.emplace_back(it->second, u"v" + std::u16string(1, static_cast<char16_t>(u'a' + it->first)));
  platform::register_version_resource(path_, vb::encode(c));
  TfileInfo info;
  ASSERT_TRUE(getfileinfo(path_, info));
  EXPECT_EQ(info[kNumericFileVersion], "7.65535.65534.9") << "from the fixed block's four parts";
  const std::vector<int> positions = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15, 17, 18, 19};
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    EXPECT_EQ(static_cast<int>(kKeys[i].first), positions[i]) << "the record's order";
    EXPECT_EQ(info.Fields[static_cast<size_t>(positions[i])],
              "v" + std::string(1, static_cast<char>('a' + positions[i])));
  }
}

TEST_F(DriverFileInfo, HostDirectoryNeedsTheHostsIniFile) {
  TfileInfo info;
  getfileinfo(path_, info);
  EXPECT_EQ(info.host_directory(), "..\\") << "no registry value";

  platform::test_stores::set_machine_registry("Software\\KESTA", "PATH",
                                              "  " + host_.dir() + "Taviran.exe  ");
  getfileinfo(path_, info);
  EXPECT_EQ(info.host_directory(), "..\\") << "no Taviran.ini in the host's folder";

  host_.write("Taviran.ini", "[WORKING]\n");
  getfileinfo(path_, info);
  EXPECT_EQ(info.host_directory(), host_.dir());

  platform::test_stores::set_machine_registry("SOFTWARE\\kesta", "path", host_.dir());
  getfileinfo(path_, info);
  EXPECT_EQ(info.host_directory(), host_.dir()) << "registry names compare case-insensitively";
}

TEST_F(DriverFileInfo, MissingResourceIsReportedOnceAndOutsideTheRefresh) {
  std::vector<std::string> shown;
  platform::test_stores::set_message_box_sink(
      [&](std::string_view text, std::string_view) { shown.emplace_back(text); });

  TfileInfo info;
  EXPECT_FALSE(getfileinfo("/nowhere/Renamed.dll", info));
  EXPECT_EQ(info.DeviceName(), "");
  EXPECT_EQ(info[kNumericFileVersion], "");
  EXPECT_EQ(file_info_failure_text("C:\\Taviran\\Drivers\\Renamed.dll"),
            "读取Renamed.dll文件的版本信息失败。");

  refresh_driver_file_info("/nowhere/Vorel_PCI.dll");
  refresh_driver_file_info("/nowhere/Vorel_PCI.dll");  // a second thread attaches
  EXPECT_TRUE(shown.empty()) << "attaching must never show anything";
  EXPECT_EQ(vorel::driver_file_info()->DeviceName(), "");
  // The first call that needs the driver's texts shows it, and no later one.
  EXPECT_EQ(DLLEdDev(nullptr, nullptr), 2);
  EXPECT_EQ(TagEdAddr(nullptr, nullptr, 1, nullptr), 0);
  report_driver_file_info_failure();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "读取Vorel_PCI.dll文件的版本信息失败。");
}

TEST(DriverModule, PublishesItsOwnVersionStrings) {
  auto info = vorel::driver_file_info();
  EXPECT_EQ((*info)[kNumericFileVersion], "4.0.0.4");
  EXPECT_EQ(info->FileVersion(), "4.0.0.4");
  EXPECT_EQ((*info)[kFileDescription], "支持VorelPCI-7505板卡");
  EXPECT_EQ((*info)[kProductName], "VorelPCI系列板卡驱动程序(板卡)");
  EXPECT_EQ((*info)[kProductVersion], "1.0.4.1");
  EXPECT_EQ(info->DeviceName(), "VorelPCI系列板卡");
  EXPECT_EQ(info->DevTypeName(), "板卡");
  EXPECT_EQ(info->DevIDName(), "板卡号");
  EXPECT_EQ(info->ChnName(), "板卡基址");
  EXPECT_EQ((*info)[kCompanyName], "");
}

}  // namespace
}  // namespace vorel
