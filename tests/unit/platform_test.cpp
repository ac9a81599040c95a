#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/manual_clock.h"
#include "platform/platform.h"
#include "temp_dir.h"

namespace platform {
namespace {

TEST(AutoResetEvent, ReleasesOneWaitPerSignal) {
  AutoResetEvent e(true);
  ASSERT_TRUE(e.valid());
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0)) << "the first wait reset it";
  EXPECT_FALSE(e.wait(20)) << "a timed wait gives up";
  e.set();
  e.set();
  EXPECT_TRUE(e.wait(0));
  EXPECT_FALSE(e.wait(0)) << "two signals without a waiter are one";
  std::thread setter([&] { e.set(); });
  EXPECT_TRUE(e.wait(10000));
  setter.join();
}

std::atomic<int> g_destroyed{0};

TEST(ThreadSlot, HoldsOneValuePerThreadAndDestroysItAtThreadEnd) {
  ThreadSlot slot;
  ASSERT_TRUE(slot.allocate([](void* v) { g_destroyed += *static_cast<int*>(v); }));
  int mine = 1, theirs = 40;
  slot.set(&mine);
  std::thread other([&] {
    EXPECT_EQ(slot.get(), nullptr) << "a new thread starts empty";
    slot.set(&theirs);
    EXPECT_EQ(slot.get(), &theirs);
  });
  other.join();
  EXPECT_EQ(g_destroyed, 40);
  EXPECT_EQ(slot.get(), &mine);
  std::thread emptied([&] {
    slot.set(&theirs);
    slot.set(nullptr);  // cleared before the end: nothing to destroy
  });
  emptied.join();
  EXPECT_EQ(g_destroyed, 40);
  slot.set(nullptr);
}

TEST(IniFiles, ReadLikeGetPrivateProfileString) {
  testing_support::TempDir dir;
  dir.write("Taviran.ini",
            "; comment\r\n[Other]\r\nDefaultPROJECT=wrong\r\n[ working ]\r\n"
            "  defaultproject = \"D:\\Projects\\Line 3\"  \r\nEmpty=\r\n");
  const std::string ini = dir.file("Taviran.ini");
  EXPECT_EQ(read_ini_string(ini, "WORKING", "DefaultPROJECT", "x"), "D:\\Projects\\Line 3");
  EXPECT_EQ(read_ini_string(ini, "WORKING", "Empty", "x"), "");
  EXPECT_EQ(read_ini_string(ini, "WORKING", "Missing", "fallback"), "fallback");
  EXPECT_EQ(read_ini_string(ini, "Absent", "DefaultPROJECT", ""), "");
  EXPECT_EQ(read_ini_string(dir.file("none.ini"), "WORKING", "DefaultPROJECT", "d"), "d");
}

TEST(Files, ExistenceAcceptsWindowsSeparators) {
  testing_support::TempDir dir;
  dir.write("a.txt", "x");
  std::string windows_style = dir.file("a.txt");
  for (char& c : windows_style)
    if (c == '/') c = '\\';
  EXPECT_TRUE(file_exists(windows_style));
  EXPECT_FALSE(file_exists(dir.file("b.txt")));
  EXPECT_FALSE(file_exists(dir.dir())) << "a folder is not a file";
}

TEST(Text, Gbk936RoundTrip) {
  const std::string gbk = "通讯正常!";
  const std::u16string wide = gbk_to_utf16(gbk);
  EXPECT_EQ(wide, u"\u901a\u8baf\u6b63\u5e38!");
  EXPECT_EQ(utf16_to_gbk(wide), gbk);
  EXPECT_EQ(utf16_to_gbk(u"\U0001F600x"), "?x") << "characters outside 936 become '?'";
}

TEST(Time, OleDatesCountDaysFrom18991230) {
  EXPECT_DOUBLE_EQ(to_ole_date({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(to_ole_date({1900, 1, 1, 12, 0, 0, 0}), 2.5);
  EXPECT_DOUBLE_EQ(to_ole_date({2026, 12, 7, 0, 0, 0, 0}), 46363.0);
  EXPECT_NEAR(to_ole_date({2026, 12, 7, 9, 5, 3, 0}), 46363.0 + (9 * 3600 + 5 * 60 + 3) / 86400.0, 1e-9);
}

TEST(Time, ManualClockReplacesTheSystemClock) {
  ManualClock manual(0xFFFFFFF0u);
  {
    ScopedClock use(manual);
    const uint32_t start = clock().ticks();
    manual.advance(0x20);
    EXPECT_EQ(static_cast<uint32_t>(clock().ticks() - start), 0x20u) << "intervals survive the wrap";
    EXPECT_EQ(clock().now().year, 2026);
  }
  EXPECT_EQ(&clock(), &system_clock());
}

}  // namespace
}  // namespace platform
