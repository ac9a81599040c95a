// The driver's descriptive strings, read from its own version resource.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>

namespace vorel {

enum FileInfoField : int {
  kCompanyName = 0,
  kFileDescription = 1,
  kFileVersion = 2,
  kInternalName = 3,
  kLegalCopyright = 4,
  kLegalTrademarks = 5,
  kOriginalFileName = 6,
  kProductName = 7,
  kProductVersion = 8,
  kSpecialBuild = 9,
  kPrivateBuild = 10,
  kComments = 11,
  kNumericFileVersion = 12,
  kDeviceName = 15,
  kDevTypeName = 17,
  kDevIDName = 18,
  kChnName = 19,
  kHostDirectory = 20,
  kFileInfoFieldCount = 21,
};

struct TfileInfo {
  std::array<std::string, kFileInfoFieldCount> Fields;

  const std::string& operator[](FileInfoField f) const { return Fields[f]; }
  const std::string& DeviceName() const { return Fields[kDeviceName]; }
  const std::string& DevTypeName() const { return Fields[kDevTypeName]; }
  const std::string& DevIDName() const { return Fields[kDevIDName]; }
  const std::string& ChnName() const { return Fields[kChnName]; }
  const std::string& FileVersion() const { return Fields[kFileVersion]; }
  const std::string& host_directory() const { return Fields[kHostDirectory]; }
};

// Fills `info` from the version resource of the file at `path` and the host directory from the
// registry. False when the file has no version information; the text fields then stay as they
// were. Never shows anything: the caller decides when a failure may be reported.
bool getfileinfo(std::string_view path, TfileInfo& info);

// "读取<name>文件的版本信息失败。"
std::string file_info_failure_text(std::string_view path);

// The process-wide record. Refreshing publishes a new record; readers keep the one they took.
std::shared_ptr<const TfileInfo> driver_file_info();
void refresh_driver_file_info(std::string_view module_path);

// Shows the failure of the last refresh once per process. Never call it under the loader lock.
void report_driver_file_info_failure();

}  // namespace vorel
