#include "tests/wine/driver_library.h"

#include <algorithm>
#include <cstring>

namespace wine_test {

namespace {

constexpr const char* kManagerFile = "borlndmm.dll";
constexpr const char* kDriverFile = "Vorel_PCI.dll";

std::string folder_of(const std::string& path) {
  const size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

template <typename Fn>
void bind(platform::LibraryHandle library, const char* name, Fn& fn, std::string& missing) {
  fn = reinterpret_cast<Fn>(platform::resolve(library, name));
  if (!fn) missing += std::string(" ") + name;
}

Driver load() {
  Driver d;
  d.folder = folder_of(platform::own_module_path());
  d.driver_path = d.folder + kDriverFile;

  // The host process has its memory manager loaded before any driver: the driver must find it.
  d.manager = platform::load_library((d.folder + kManagerFile).c_str());
  if (!d.manager) {
    d.load_error = "cannot load " + d.folder + kManagerFile;
    return d;
  }
  d.library = platform::load_library(d.driver_path.c_str());
  if (!d.library) {
    d.load_error = "cannot load " + d.driver_path;
    return d;
  }
  d.version_readable = platform::open_version_resource(d.driver_path) != nullptr;

  std::string missing;
  bind(d.manager, "@Borlndmm@SysGetMem$qqri", d.SysGetMem, missing);
  bind(d.manager, "@Borlndmm@SysFreeMem$qqrpv", d.SysFreeMem, missing);
  bind(d.manager, "sim_live_blocks", d.sim_live_blocks, missing);
  bind(d.manager, "sim_total_blocks", d.sim_total_blocks, missing);

  bind(d.library, "GetPDBLen", d.GetPDBLen, missing);
  bind(d.library, "FullPDB", d.FullPDB, missing);
  bind(d.library, "DLLEdDev", d.DLLEdDev, missing);
  bind(d.library, "DLLTestDev", d.DLLTestDev, missing);
  bind(d.library, "TagEdAddr", d.TagEdAddr, missing);
  bind(d.library, "GetTagAddrList", d.GetTagAddrList, missing);
  bind(d.library, "GetTags", d.GetTags, missing);
  bind(d.library, "IniDriver", d.IniDriver, missing);
  bind(d.library, "IniDriverEx", d.IniDriverEx, missing);
  bind(d.library, "AddTags", d.AddTags, missing);
  bind(d.library, "DetectScanTime", d.DetectScanTime, missing);
  bind(d.library, "OnDataRead", d.OnDataRead, missing);
  bind(d.library, "OnDataWrite", d.OnDataWrite, missing);
  bind(d.library, "ReadTags", d.ReadTags, missing);
  bind(d.library, "WriteTags", d.WriteTags, missing);
  bind(d.library, "GetDeviceStatus", d.GetDeviceStatus, missing);
  bind(d.library, "WriteLog", d.WriteLog, missing);
  bind(d.library, "FreeDriver", d.FreeDriver, missing);
  if (!missing.empty()) d.load_error = "unresolved:" + missing;
  return d;
}

}  // namespace

const Driver& driver() {
  static const Driver instance = load();
  return instance;
}

std::optional<std::string> take_host_string(char*& text) {
  if (!text) return std::nullopt;
  std::string copy(text);
  EXPECT_EQ(driver().SysFreeMem(text), 0) << "the manager did not accept the block back";
  text = nullptr;
  return copy;
}

char* new_host_string(std::string_view text) {
  auto* block = static_cast<char*>(driver().SysGetMem(static_cast<int32_t>(text.size() + 1)));
  std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  return block;
}

int32_t HostTagList::add(int32_t id, std::string_view name, std::string_view address, uint8_t value_type,
                         uint32_t scan_period) {
  if (records_.size() == kCapacity) {
    ADD_FAILURE() << "more than " << kCapacity << " host tags";
    return id;
  }
  TTagInfo& tag = records_.emplace_back();
  std::memset(&tag, 0, sizeof tag);
  tag.TagID = id;
  std::memcpy(tag.TagName, name.data(), std::min(name.size(), sizeof tag.TagName));
  std::memcpy(tag.TagAddr, address.data(), std::min(address.size(), sizeof tag.TagAddr));
  tag.ValueType = value_type;
  tag.ScanPeriod = scan_period;
  pointers_.push_back(&tag);
  return id;
}

TDeviceParams default_block(const Driver& dll) {
  TDeviceParams block;
  std::memset(&block, 0, sizeof block);
  if (dll.FullPDB) dll.FullPDB(&block);
  return block;
}

void DriverTest::SetUp() {
  ASSERT_TRUE(dll.load_error.empty()) << dll.load_error;
  live_at_start_ = live_blocks();
}

void DriverTest::TearDown() {
  if (!dll.load_error.empty()) return;
  EXPECT_EQ(live_blocks(), live_at_start_) << "host strings not handed back exactly once";
}

void NoMessageBoxTest::SetUp() {
  DriverTest::SetUp();
  if (HasFatalFailure()) return;
  ASSERT_TRUE(dll.version_readable) << dll.driver_path << " has no readable version resource; the driver "
                                    << "would block on its failure message box";
}

}  // namespace wine_test
