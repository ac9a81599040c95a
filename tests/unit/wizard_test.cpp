// The wizard run as the host sees it: which endings write its block and what DLLEdDev returns.
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "engine/run_log.h"
#include "engine_probe.h"
#include "interface/exports.h"
#include "ui/services.h"
#include "wizard/board_page.h"
#include "wizard/debug_page.h"
#include "wizard/start_page.h"
#include "wizard_fixture.h"

namespace vorel::wizard::testing {
namespace {

using ui::headless::Driver;
using ui::headless::Script;

// What a Finish on the board page stores for an untouched block: the empty AD maximum range list of
// PCI_7505 gives entry 1 an ADMaxRange of -1.
void BoardFinishOnDefaults(TDeviceParams& b) { b.card(1)->ADMaxRange = -1; }

struct Ending {
  const char* name;
  std::vector<Script> pages;
  std::function<void(TDeviceParams&)> host_after;  // empty: the host block stays as it was
  int result;
};

class WizardEndings : public WizardTest, public ::testing::WithParamInterface<Ending> {};

TEST_P(WizardEndings, WriteTheHostBlockOnlyAtAFinishAndReportTheModifiedFlag) {
  const Ending& e = GetParam();
  for (const Script& s : e.pages) ui->expect(s);
  auto expected = HostBlock();
  if (e.host_after) e.host_after(*expected);
  EXPECT_EQ(Run(), e.result);
  EXPECT_TRUE(SameBytes(*host, *expected));
  EXPECT_EQ(ui->pending_scripts(), 0u) << "a page the test expected was not shown";
}

const Script kCancel = [](Driver& d) { d.Click("CancelBtn"); };
const Script kCloseBox = [](Driver& d) { d.close_box(); };
const Script kFinish = [](Driver& d) { d.Click("FinishBtn"); };
Script Next(const char* option) {
  return [option](Driver& d) {
    d.Click(option);
    d.Click("NextBtn");
  };
}

INSTANTIATE_TEST_SUITE_P(
    start, WizardEndings,
    ::testing::Values(
        Ending{"CancelRightAway", {kCancel}, nullptr, 2}, Ending{"StartCloseBox", {kCloseBox}, nullptr, 2},
        Ending{"ViewThenFinish", {Next("BrowseOp"), kFinish}, nullptr, 2},
        Ending{"NewThenBoardCloseBox", {Next("NewOp"), kCloseBox}, nullptr, 1},
        Ending{"ModifyThenFinish", {Next("ModifyOp"), kFinish}, BoardFinishOnDefaults, 1},
        Ending{"DoubleClickIsNext", {[](Driver& d) { d.DoubleClick("ModifyOp"); }, kCloseBox}, nullptr, 1},
        // The start page stays open under the debug page; its script goes on afterwards.
        Ending{"DebugFinishThenCancel",
               {[](Driver& d) {
                  d.Click("DebugBtn");
                  d.Click("CancelBtn");
                },
                [](Driver& d) {
                  d.Click("EnDebugChk");  // the default block has it on
                  d.Click("FinishBtn");
                }},
               [](TDeviceParams& b) { b.DebugSwitch = 0; },
               1},
        Ending{"DebugCloseBoxCommitsNothing",
               {[](Driver& d) {
                  d.Click("DebugBtn");
                  d.Click("CancelBtn");
                },
                [](Driver& d) {
                  d.Click("EnDebugChk");
                  d.close_box();
                }},
               nullptr,
               2},
        Ending{"DebugSwitchesReachTheHostAtABoardFinish",
               {[](Driver& d) {
                  d.Click("DebugBtn");
                  Next("BrowseOp")(d);
                },
                [](Driver& d) {
                  d.Click("EnDebugChk");
                  d.close_box();
                },
                kFinish},
               [](TDeviceParams& b) { b.DebugSwitch = 0; },
               2},
        Ending{"LastThenCancelAfterView",
               {Next("BrowseOp"), [](Driver& d) { d.Click("LastBtn"); },
                [](Driver& d) {
                  if (!PageOf<TStartFrm>(d).NewOp.Checked())
                    throw ui::headless::ScriptError{"NewOp not selected"};
                  d.Click("CancelBtn");
                }},
               nullptr,
               2}),
    [](const ::testing::TestParamInfo<Ending>& tc) { return std::string(tc.param.name); });

TEST_F(WizardTest, LastGoesBackPageByPageAndStaysOnTheFirst) {
  WizardRun run(env, *host);
  run.push(kPageStart);
  run.push(kPageBoard);
  EXPECT_EQ(run.Pop(), kPageBoard);
  EXPECT_EQ(run.Pop(), kPageStart);
  EXPECT_EQ(run.Pop(), kPageStart) << "nothing left before it";
  for (uint8_t page = 1; page <= 12; ++page) run.push(page);
  EXPECT_EQ(run.Pop(), 11) << "the history holds eleven pages; one left beyond them is not remembered";
}

TEST_F(WizardTest, BackAndForthAsOftenAsTheUserLikesNeverFillsTheHistory) {
  for (int i = 0; i < 2 * kHistoryRoom; ++i) {
    ui->expect(Next("BrowseOp"));
    ui->expect([](Driver& d) { d.Click("LastBtn"); });
  }
  ui->expect(Next("BrowseOp"));
  ui->expect(kFinish);
  EXPECT_EQ(Run(), 2);
  EXPECT_TRUE(SameBytes(*host, *HostBlock()));
  EXPECT_EQ(ui->shown_forms().size(), 4u * kHistoryRoom + 2);
}

TEST_F(WizardTest, EveryRunStartsWithAClearedFlagAndTheApplicationWindowIsPutBack) {
  ui::app().SetHandle(reinterpret_cast<void*>(0x77));
  ui->expect(Next("NewOp"));
  ui->expect(kCloseBox);
  EXPECT_EQ(Run(), 1);
  ui->expect(kCancel);
  EXPECT_EQ(Run(), 2);
  for (void* owner : ui->modal_owners()) EXPECT_EQ(owner, kHostWindow);
  EXPECT_EQ(ui::app().Handle(), reinterpret_cast<void*>(0x77));
  ui::app().SetHandle(nullptr);
}

TEST_F(WizardTest, StartPageTextsComeFromTheVersionStringsOrAreLeftOutWhenThereAreNone) {
  std::string caption, welcome;
  int cancelled = 0;
  bool centred = false, next_on_enter = false, on_top = false;
  const Script read = [&](Driver& d) {
    const ui::Rect at = d.form().Bounds();
    centred = at.left == (1024 - at.width) / 2 && at.top == (768 - at.height) / 2;
    on_top = d.form().StayOnTop;
    caption = d.form().Caption();
    welcome = PageOf<TStartFrm>(d).Label1.Caption();
    next_on_enter = PageOf<TStartFrm>(d).NextBtn.Default;
    d.Click("VersionBtn");
    d.Click("CancelBtn");
    cancelled = d.form().ModalResult();
  };
  ui->expect(read);
  EXPECT_EQ(DLLEdDev(kHostWindow, host.get()), 2) << "through the export, from the driver's own strings";
  EXPECT_EQ(caption, "VorelPCI系列板卡向导：选择执行的操作方式");
  EXPECT_EQ(cancelled, ui::mrCancel);
  EXPECT_TRUE(centred) << "on the 1024 x 768 screen";
  EXPECT_TRUE(on_top) << "above the host's windows";
  EXPECT_TRUE(next_on_enter) << "Enter goes on to the chosen operation";
  EXPECT_EQ(welcome, "欢迎使用VorelPCI系列板卡配置向导");
  ASSERT_EQ(ui->Messages().size(), 1u);
  EXPECT_EQ(ui->Messages()[0].text, "Vorel_PCI版本4.0.0.4\r\n\r\n支持VorelPCI-7505板卡");
  EXPECT_EQ(ui->Messages()[0].flags, ui::kMbOk | ui::kMbIconInformation);
  using Change = std::pair<std::string, bool>;
  EXPECT_EQ(ui->visibility_changes(), (std::vector<Change>{{"TStartFrm", false}, {"TStartFrm", true}}))
      << "the page is hidden while the box is shown";

  env.texts = {};
  ui->expect(read);
  Run();
  EXPECT_EQ(caption, "向导：选择执行的操作方式");
  EXPECT_EQ(welcome, "欢迎使用配置向导");
  EXPECT_EQ(ui->Messages()[1].text, "版本\r\n\r\n");
}

TEST_F(WizardTest, ASecondRunWhileOneIsActiveReturnsTwoAndLeavesItsBlockAlone) {
  auto other = HostBlock();
  other->Cards[5].BaseAddress = 0x300;  // anything a copy would not make
  other->reserved3[0] = 0x11;
  std::unique_ptr<TDeviceParams> before = std::make_unique<TDeviceParams>(*other);
  int reentered = 0, from_thread = 0;
  ui->expect([&](Driver& d) {
    reentered = DLLEdDev(nullptr, other.get());
    std::thread([&] { from_thread = run_wizard(nullptr, *other, env); }).join();
    d.Click("ModifyOp");
    d.Click("NextBtn");
  });
  ui->expect(kFinish);
  EXPECT_EQ(Run(), 1);
  EXPECT_EQ(reentered, 2);
  EXPECT_EQ(from_thread, 2);
  EXPECT_TRUE(SameBytes(*other, *before));
  EXPECT_EQ(ui->shown_forms().size(), 2u) << "the refused runs showed no page";
  ui->expect(kCancel);
  EXPECT_EQ(Run(), 2) << "the first run let go when it ended";
}

// Through the export the debug page shows the driver's own run log.
TEST_F(WizardTest, TheDebugPageOfDLLEdDevShowsTheRunLog) {
  std::string shown;
  {
    testing_support::ScopedCurrentDir cwd;  // the run log lands in a fresh folder
    InitLogPath();
    ASSERT_TRUE(append_run_log("a line of the run\r\n"));
    ui->expect([](Driver& d) {
      d.Click("DebugBtn");
      d.Click("CancelBtn");
    });
    ui->expect([&](Driver& d) {
      d.advance(2000);
      shown = PageOf<TDebugFrm>(d).LogMemo.joined_text();
      d.close_box();
    });
    DLLEdDev(kHostWindow, host.get());
  }
  InitLogPath();  // back where the other suites write
  EXPECT_EQ(shown, "a line of the run\r\n");
}

TEST_F(WizardTest, DLLEdDevWithoutABlockShowsNothing) {
  EXPECT_EQ(DLLEdDev(kHostWindow, nullptr), 2);
  EXPECT_TRUE(ui->shown_forms().empty());
}

}  // namespace
}  // namespace vorel::wizard::testing
