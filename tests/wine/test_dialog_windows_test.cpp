// The device test dialog on real windows: a host thread opens DLLTestDev, the test reads the grid
// and works the single-tag panel from here as a user would, then closes the dialog and checks the
// result. With VOREL_SHOTS naming a folder, both modes are photographed there (make screenshots).
#include <cstdlib>
#include <string>

#include "records/pdb.h"
#include "tests/common/sim_bank.h"
#include "tests/wine/driver_library.h"
#include "tests/wine/window_probe.h"

namespace wine_test {
namespace {

namespace probe = ui::win32::probe;

const uint32_t kWaitMs = 20000 * TimeScale();
const char kCaption[] = "设备测试窗口";

void Shot(probe::Window w, const char* name) {
  const char* folder = std::getenv("VOREL_SHOTS");
  if (!folder || !*folder) return;
  platform::sleep_ms(300);  // let the last paint reach the screen
  EXPECT_TRUE(probe::save_bitmap(w, std::string(folder) + "\\" + name + ".bmp")) << name;
}

class TestDialogWindows : public NoMessageBoxTest {
 protected:
  void SetUp() override {
    NoMessageBoxTest::SetUp();
    block_ = default_block(dll);
    ASSERT_TRUE(bank_.loaded());
  }
  void TearDown() override {
    if (bank_.loaded()) bank_.reset();
    NoMessageBoxTest::TearDown();
  }

  TDeviceParams block_{};
  // The bank the driver loads from this folder; loading it here first gives both one bank.
  testing_support::SimBank bank_{dll.folder + "pci7505.dll"};
};

TEST_F(TestDialogWindows, ShowsAReadWritesAnOutputAndClosesWithItsResult) {
  bank_.input(1, 0, 0x0001);  // the first input of card 1 is on
  HostBool result = 0;
  platform::Thread host([this, &result] { result = dll.DLLTestDev(&block_, 1); });

  probe::Window form = probe::wait_for_form(kCaption, kWaitMs);
  ASSERT_TRUE(form);
  probe::Window grid = probe::Control(form, "StringGrid1");
  ASSERT_TRUE(grid);
  // The window may be found before its grid is filled (a slow machine shows that gap).
  ASSERT_TRUE(probe::wait_until([&] { return probe::grid_cell(grid, 2, 0) == "读标签"; }, kWaitMs));
  const char* const header[] = {"标签地址", "标签值", "标签操作", "主机命令"};
  for (int col = 0; col < 4; ++col) EXPECT_EQ(probe::grid_header(grid, col), header[col]) << col;
  EXPECT_EQ(probe::grid_cell(grid, 0, 0), "DI1:0,0.0");
  EXPECT_EQ(probe::grid_cell(grid, 1, 0), "开") << "the input read from the card";
  EXPECT_EQ(probe::grid_cell(grid, 3, 0), "向设备发送读标签 SysMsg 命令");
  EXPECT_EQ(probe::Text(probe::Control(form, "DebugBtn")), "高级调试↓");
  EXPECT_FALSE(probe::Enabled(probe::Control(form, "WriteCk")))
      << "nothing to write before a single-tag read";
  Shot(form, "test_dialog_compact");

  // A cell takes typing while the ticks are paused; the next tick writes the rows again.
  probe::Window pause = probe::Control(form, "PauseBtn");
  probe::Click(pause);
  ASSERT_TRUE(probe::wait_until([&] { return probe::Text(pause) == "继续"; }, kWaitMs));
  probe::double_click_grid_cell(grid, 1, 4);
  probe::Window cell = nullptr;
  ASSERT_TRUE(
      probe::wait_until([&] { return (cell = probe::Control(form, "CellEdit")) != nullptr; }, kWaitMs))
      << "no edit opened over the cell";
  probe::Type(cell, "typed");
  probe::press_key(cell, 0x0D);  // Enter
  ASSERT_TRUE(probe::wait_until([&] { return probe::grid_cell(grid, 1, 4) == "typed"; }, kWaitMs));
  EXPECT_EQ(probe::Control(form, "CellEdit"), nullptr) << "Enter closes the cell's edit";
  probe::Click(pause);
  ASSERT_TRUE(probe::wait_until([&] { return probe::grid_cell(grid, 1, 4).empty(); }, kWaitMs));

  probe::Click(probe::Control(form, "DebugBtn"));
  probe::Window debug_btn = probe::Control(form, "DebugBtn");
  ASSERT_TRUE(probe::wait_until([&] { return probe::Text(debug_btn) == "自动检测↑"; }, kWaitMs));
  probe::Window address = probe::Control(form, "AddrEd");
  probe::Window write = probe::Control(form, "WriteCk");
  probe::Type(address, "do1:0,3.0");
  probe::Click(probe::Control(form, "ReadCk"));
  ASSERT_TRUE(probe::wait_until([&] { return probe::Enabled(write); }, kWaitMs));
  EXPECT_EQ(probe::Text(address), "DO1:0,3.0") << "normalised by the address editor";
  EXPECT_TRUE(probe::Checked(probe::Control(form, "ReadCk")));

  probe::Type(probe::Control(form, "wValueMsg"), "TRUE");
  probe::Click(write);
  ASSERT_TRUE(probe::wait_until([&] { return (bank_.output(1, 0) & 0x8) != 0; }, kWaitMs))
      << "output 3 of card 1 never switched on";
  ASSERT_TRUE(probe::wait_until([&] { return probe::grid_cell(grid, 0, 0) == "DO1:0,3.0"; }, kWaitMs));
  EXPECT_EQ(probe::grid_cell(grid, 1, 0), "开");
  // The write command shows at the timer tick after the one that sent it.
  probe::Window sent = probe::Control(form, "wStrMsg");
  ASSERT_TRUE(probe::wait_until([&] { return !probe::Text(sent).empty(); }, kWaitMs));
  EXPECT_EQ(probe::Text(sent), "向设备发送写标签 Y0.0 命令");
  Shot(form, "test_dialog_debug");

  probe::Click(probe::Control(form, "ExitBtn"));
  ASSERT_TRUE(host.wait(kWaitMs)) << "the dialog did not close";
  EXPECT_EQ(result, 1) << "a read succeeded, so the dialog closed with OK";
}

}  // namespace
}  // namespace wine_test
