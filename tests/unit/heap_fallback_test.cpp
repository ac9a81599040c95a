// Where the driver's host strings come from when the host has not loaded the shared memory
// manager: the manager loaded by the driver itself, or, without one, the process heap. A program
// of its own, so that no test before it has loaded the manager.
#include <gtest/gtest.h>

#include <cstdlib>

#include "engine/run_log.h"
#include "engine_probe.h"
#include "interface/host_strings.h"
#include "platform/platform.h"
#include "platform/posix/test_stores.h"

namespace vorel {
namespace {

constexpr char kManager[] = "libborlndmm.so";

// The run log lands in a scratch folder: the fallback says so there.
class HostStringsBeforeTheHostLoadsTheManager : public ::testing::Test {
 protected:
  HostStringsBeforeTheHostLoadsTheManager() { InitLogPath(); }
  ~HostStringsBeforeTheHostLoadsTheManager() override {
    platform::test_stores::set_library_file(kManager, "");
    reset_host_memory_manager();
  }
  std::string log() const { return testing_support::file_text(folder_.dir().dir() + "Debug/Vorel_PCI.Log"); }
  testing_support::ScopedCurrentDir folder_;
};

constexpr char kFallbackLine[] = "：找不到共享内存管理器libborlndmm.so，返回主机的字符串改用进程堆分配！\r\n";

TEST_F(HostStringsBeforeTheHostLoadsTheManager, WithoutAManagerTheyComeFromTheProcessHeap) {
  platform::test_stores::set_library_file(kManager, "/nonexistent/libborlndmm.so");
  reset_host_memory_manager();
  EXPECT_TRUE(host_strings_use_process_heap());
  char* text = new_host_string("TLSEvent = 0");
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "TLSEvent = 0");
  std::free(text);
  EXPECT_TRUE(log().ends_with(kFallbackLine)) << log();
}

TEST_F(HostStringsBeforeTheHostLoadsTheManager, AManagerBesideTheHostIsLoadedByTheDriver) {
  platform::test_stores::set_library_file(kManager, BORLNDMM_PATH);
  reset_host_memory_manager();
  EXPECT_FALSE(host_strings_use_process_heap());
  platform::LibraryHandle manager = platform::find_loaded_library(kManager);
  ASSERT_NE(manager, nullptr) << "the driver loaded the manager";
  const auto live = reinterpret_cast<int32_t (*)()>(platform::resolve(manager, "sim_live_blocks"));
  const auto free_mem = reinterpret_cast<int32_t (*)(void*)>(platform::resolve(manager, "SysFreeMem"));
  ASSERT_TRUE(live && free_mem);
  const int32_t before = live();
  char* text = new_host_string("通讯正常!");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(live(), before + 1) << "the string came from the manager";
  EXPECT_EQ(free_mem(text), 0);
  EXPECT_EQ(log(), "") << "nothing to report";
}

}  // namespace
}  // namespace vorel
