// The wizard on real windows: a host thread opens DLLEdDev over its own frame window, and the test
// works the pages from here as a user would, then checks the host's block and the result. With
// VOREL_SHOTS naming a folder, the pages are photographed there (make screenshots).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "records/pdb.h"
#include "tests/wine/driver_library.h"
#include "tests/wine/window_probe.h"

namespace wine_test {
namespace {

namespace probe = ui::win32::probe;

const uint32_t kWaitMs = 20000 * TimeScale();
const char kStartCaption[] = "VorelPCI系列板卡向导：选择执行的操作方式";
const char kBoardCaption[] = "VorelPCI系列板卡板卡向导:修改板卡配置";
const char kDebugCaption[] = "VorelPCI系列板卡向导：设置调试选项";

// One wizard run on its own host thread, over a host frame window of that thread.
class WizardRun {
 public:
  explicit WizardRun(TDeviceParams& block)
      : host_([&block, this] {
          frame_ = platform::create_host_frame("Taviran", 400, 300);
          result_ = driver().DLLEdDev(frame_, &block);
          frame_enabled_after_ = probe::Enabled(frame_);
          platform::destroy_host_frame(frame_);
        }) {}
  // The result, or -1 when the run did not end in time.
  int32_t Wait() { return host_.wait(kWaitMs) ? result_ : -1; }
  void* frame() const { return frame_.load(); }
  bool FrameEnabledAfter() const { return frame_enabled_after_; }

 private:
  int32_t result_ = -1;
  std::atomic<void*> frame_{nullptr};
  bool frame_enabled_after_ = false;
  platform::Thread host_;  // last: it starts when everything it writes exists, and joins first
};

void Shot(probe::Window w, const char* name) {
  const char* folder = std::getenv("VOREL_SHOTS");
  if (!folder || !*folder) return;
  platform::sleep_ms(300);  // let the last paint reach the screen
  EXPECT_TRUE(probe::save_bitmap(w, std::string(folder) + "\\" + name + ".bmp")) << name;
}

// Answers the message box that must come up now; its text is returned.
std::string AnswerBox() {
  probe::Window box = probe::wait_for_message_box(kWaitMs);
  if (!box) return "(no message box)";
  const std::string text = probe::message_box_text(box);
  probe::answer_message_box(box, 1);
  probe::wait_until([&] { return !probe::Visible(box); }, kWaitMs);
  return text;
}

std::vector<uint8_t> Bytes(const TDeviceParams& b) {
  const auto* p = reinterpret_cast<const uint8_t*>(&b);
  return {p, p + sizeof b};
}

class WizardWindows : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    std::memset(&block_, 0xCD, sizeof block_);
    driver().FullPDB(&block_);
  }
  TDeviceParams block_;
};

TEST_F(WizardWindows, ModifyAddARefusedRenumberAndFinishWriteTheHostBlock) {
  TDeviceParams expected = block_;
  expected.Cards[0].BaseAddress = 0x100;
  expected.Cards[0].ADMaxRange = -1;
  expected.Cards[1].ModelCode = 0;
  vorel::set_model_name(expected.Cards[1], "PCI_7505");
  expected.Cards[1].BaseAddress = 0x220;
  expected.Cards[1].ADMaxRange = -1;

  WizardRun run(block_);
  probe::Window start = probe::wait_for_form(kStartCaption, kWaitMs);
  ASSERT_TRUE(start);
  EXPECT_FALSE(probe::Enabled(run.frame())) << "the host's window is disabled under the wizard";
  EXPECT_TRUE(probe::Checked(probe::Control(start, "NewOp")));
  Shot(start, "start_page");

  probe::Click(probe::Control(start, "VersionBtn"));
  EXPECT_EQ(AnswerBox(), "Vorel_PCI版本4.0.0.4\r\n\r\n支持VorelPCI-7505板卡");
  ASSERT_TRUE(probe::wait_until([&] { return probe::Visible(start); }, kWaitMs));

  probe::Click(probe::Control(start, "ModifyOp"));
  probe::Click(probe::Control(start, "NextBtn"));
  probe::Window board = probe::wait_for_form(kBoardCaption, kWaitMs);
  ASSERT_TRUE(board);
  probe::Window tree = probe::Control(board, "DeviceTree");
  EXPECT_EQ(probe::tree_items(tree), std::vector<std::string>{"板卡号:1 PCI_7505 基址:220 单端"});
  EXPECT_FALSE(probe::Visible(probe::Control(board, "ADRange0")));

  probe::Click(probe::Control(board, "AddBtn"));
  ASSERT_TRUE(probe::wait_until([&] { return probe::tree_items(tree).size() == 2; }, kWaitMs));
  EXPECT_EQ(probe::tree_items(tree),
            (std::vector<std::string>{"板卡号:1 PCI_7505 基址:100 单端", "板卡号:2 PCI_7505 基址:220 单端"}));
  probe::Window id = probe::Control(board, "IDEd");
  EXPECT_EQ(probe::Text(id), "2");
  probe::click_tree_item(tree, 1);
  Shot(board, "board_page");

  // Card 2 may not take number 1: leaving the edit for Finish refuses it, then Finish stores.
  probe::Type(id, "1");
  probe::Click(probe::Control(board, "FinishBtn"));
  EXPECT_EQ(AnswerBox(), "板卡号重复,请重新修改!");

  EXPECT_EQ(run.Wait(), 1);
  EXPECT_TRUE(run.FrameEnabledAfter());
  EXPECT_EQ(Bytes(block_), Bytes(expected));
}

// A log of the size the driver keeps (the limit at which it moves a log aside, plus a report) is
// shown whole and saved back; one left by an older driver, megabytes long, shows its end and is
// never cut to it. The time from the click to the whole log in the window is printed.
TEST_F(WizardWindows, TheDebugPageShowsAndSavesTheLogAndShowsOnlyTheEndOfAnOversizedOne) {
  // With no host registered, the run log is .\Debug\Vorel_PCI.Log below the current folder.
  const std::filesystem::path run_dir = std::filesystem::path(driver().folder) / "wizard_run";
  std::filesystem::remove_all(run_dir);
  std::filesystem::create_directories(run_dir / "Debug");
  std::filesystem::current_path(run_dir);
  const std::filesystem::path file = run_dir / "Debug" / "Vorel_PCI.Log";
  const auto log_of = [](size_t size) {
    std::string log;
    for (int i = 0; log.size() < size; ++i)
      log += "2026/12/7 9:05:03：第" + std::to_string(i) + "次轮询，通讯正常!\r\n";
    return log;
  };
  const std::string log = log_of(600'000);
  std::ofstream(file, std::ios::binary) << log;
  const std::vector<uint8_t> before = Bytes(block_);

  WizardRun run(block_);
  probe::Window start = probe::wait_for_form(kStartCaption, kWaitMs);
  ASSERT_TRUE(start);
  probe::Click(probe::Control(start, "DebugBtn"));
  probe::Window debug = probe::wait_for_form(kDebugCaption, kWaitMs);
  ASSERT_TRUE(debug);
  const uint32_t shown = platform::system_clock().ticks();
  probe::Window memo = probe::Control(debug, "LogMemo");
  // GBK text of the log: every character counts once in the window.
  const size_t characters = platform::gbk_to_utf16(log).size();
  ASSERT_TRUE(probe::wait_until([&] { return probe::TextLength(memo) == characters; }, kWaitMs))
      << probe::TextLength(memo) << " of " << characters << " characters shown";
  std::printf(
      "[ figure   ] a log of %zu bytes in the window %u ms after the page (whose timer waits 500 ms)\n",
      log.size(), platform::system_clock().ticks() - shown);
  EXPECT_FALSE(probe::message_box_open()) << "no notice when the page opens with the switch on";
  EXPECT_EQ(probe::Text(probe::Control(debug, "Label2")),
            "调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！");
  Shot(debug, "debug_page");

  probe::Append(memo, "检修后补记一行\r\n");
  probe::Click(probe::Control(debug, "SpeedButton1"));
  ASSERT_TRUE(probe::wait_until([&] { return std::filesystem::file_size(file) != log.size(); }, kWaitMs));
  std::stringstream saved;
  saved << std::ifstream(file, std::ios::binary).rdbuf();
  EXPECT_TRUE(saved.str() == log + "检修后补记一行\r\n") << saved.str().size() << " bytes saved";
  EXPECT_FALSE(std::filesystem::exists(file.string() + ".~sav"));

  // An older driver's log of three megabytes, loaded again by the switch turned off and on.
  const std::string large = log_of(3'000'000);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << large;
  probe::Click(probe::Control(debug, "EnDebugChk"));
  probe::Click(probe::Control(debug, "EnDebugChk"));
  EXPECT_EQ(AnswerBox().rfind("！注意：调试对性能将产生不良影响", 0), 0u)
      << "the notice, now that the user ticked it";
  ASSERT_TRUE(
      probe::wait_until([&] { return probe::Text(memo).rfind("（日志文件过大，共3000", 0) == 0; }, kWaitMs))
      << probe::Text(memo).substr(0, 80);
  EXPECT_LT(probe::TextLength(memo), platform::gbk_to_utf16(large).size() / 2);
  probe::Click(probe::Control(debug, "SpeedButton1"));
  EXPECT_EQ(AnswerBox().rfind("窗口中只显示了日志文件的最后部分", 0), 0u);
  EXPECT_EQ(std::filesystem::file_size(file), large.size()) << "not cut to the part shown";

  probe::Click(probe::Control(debug, "FinishBtn"));
  ASSERT_TRUE(probe::wait_until([&] { return probe::Visible(start); }, kWaitMs));
  probe::Click(probe::Control(start, "CancelBtn"));
  EXPECT_EQ(run.Wait(), 1) << "a Finish on the debug page counts as a change";
  EXPECT_EQ(Bytes(block_), before);
  std::filesystem::current_path(driver().folder);
}

}  // namespace
}  // namespace wine_test
