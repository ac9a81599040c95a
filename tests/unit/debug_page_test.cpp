// The debug page: its switches, the run log it loads, saves, saves elsewhere and prints.
#include "wizard/debug_page.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/posix/test_stores.h"
#include "ui/services.h"
#include "wizard_fixture.h"

namespace vorel::wizard::testing {
namespace {

using testing_support::file_text;
using ui::headless::Driver;

const char kNotice[] =
    "！注意：调试对性能将产生不良影响，只有出现故障时才打开调试开关。\r\n"
    "调试和查看完设备运行信息后，请及时关闭调试开关。\r\n\r\n"
    "改动过调试开关后，需要退出向导，单击开发环境的保存工程按钮，调试功能才会生效。\r\n\r\n"
    "您可以编辑窗口中的内容，单击保存修改按钮保存窗口中的内容。\r\n"
    "或者单击另存为按钮，将窗口中的内容保存为文件，便于以后在系统外查看。";
const char kIdle[] = "调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！";

class DebugPageTest : public WizardTest {
 protected:
  DebugPageTest() { dir.write("Vorel_PCI.Log", kLog); }
  void OnDebug(const std::function<void(Driver&, TDebugFrm&)>& script) {
    run = std::make_unique<WizardRun>(env, *host);
    TDebugFrm page(*run);
    ui->expect([&](Driver& d) { script(d, page); });
    page.ShowModal();
  }
  std::vector<std::string> Notices() const {
    std::vector<std::string> shown;
    for (const auto& m : ui->Messages())
      if (m.text == kNotice) shown.push_back(m.text);
    return shown;
  }
  static inline const std::string kLog = "2026/12/7 9:05:03：启动\r\n第二行\r\n";
  std::unique_ptr<WizardRun> run;
};

TEST_F(DebugPageTest, TheLogLoadsHalfASecondAfterTheSwitchAndTheNoticeComesOnceFromTheUser) {
  OnDebug([&](Driver& d, TDebugFrm& p) {
    EXPECT_EQ(d.form().Caption(), "VorelPCI系列板卡向导：设置调试选项");
    EXPECT_EQ(p.Label1.Caption(), "欢迎使用VorelPCI系列板卡配置向导");
    EXPECT_TRUE(p.EnDebugChk.Checked());
    EXPECT_EQ(p.Label2.Caption(), "正在调入记录文件...");
    EXPECT_TRUE(p.LoadBar.Visible());
    d.advance(400);
    EXPECT_EQ(p.LoadBar.Position(), 4);
    EXPECT_TRUE(p.LogMemo.Lines().empty());
    d.advance(100);
    EXPECT_EQ(p.LogMemo.Lines(), (std::vector<std::string>{"2026/12/7 9:05:03：启动", "第二行"}));
    EXPECT_EQ(p.Label2.Caption(), kIdle);
    EXPECT_FALSE(p.LoadBar.Visible());
    EXPECT_TRUE(Notices().empty()) << "the page was not yet active when it ticked the switch";

    d.Click("EnDebugChk");
    EXPECT_EQ(p.Label2.Caption(), "打开调试开关-查看和编辑今天的设备运行历史，诊断出现的问题！");
    d.Click("EnDebugChk");
    EXPECT_EQ(Notices().size(), 1u);
    d.advance(200);
    d.Click("EnDebugChk");
    EXPECT_FALSE(p.LoadBar.Visible());
    const int bar = p.LoadBar.Position();
    d.advance(300);
    EXPECT_EQ(p.LoadBar.Position(), bar) << "switched off before the load: the bar stands still";
    d.Click("EnDebugChk");
    EXPECT_EQ(Notices().size(), 1u);
    d.advance(500);
    EXPECT_EQ(p.LogMemo.Lines().size(), 2u);
    EXPECT_FALSE(p.LoadBar.Visible());
    EXPECT_EQ(p.LoadBar.Position(), 5) << "at its end the bar starts again from the middle";
    d.close_box();
  });
}

TEST_F(DebugPageTest, WithTheSwitchOffThePageOpensIdleAndLoadsNothing) {
  host->DebugSwitch = 0;
  OnDebug([&](Driver& d, TDebugFrm& p) {
    EXPECT_EQ(p.ActiveControl(), &p.FinishBtn);
    EXPECT_EQ(p.Label2.Caption(), kIdle);
    EXPECT_FALSE(p.LoadBar.Visible());
    d.advance(1000);
    EXPECT_TRUE(p.LogMemo.Lines().empty());
    d.close_box();
  });
}

TEST_F(DebugPageTest, SwitchingOffClearsTheOtherSwitchesAndTheWindow) {
  host->ErrorLog = 1;
  host->TraceLog = 1;
  OnDebug([&](Driver& d, TDebugFrm& p) {
    EXPECT_TRUE(p.ErrorChk.Checked());
    EXPECT_TRUE(p.TraceChk.Checked());
    d.advance(500);
    d.Click("EnDebugChk");
    EXPECT_FALSE(p.ErrorChk.Checked());
    EXPECT_FALSE(p.TraceChk.Checked());
    const std::initializer_list<ui::Control*> switched = {&p.LogMemo, &p.ErrorChk, &p.TraceChk,
                                                          &p.SaveBtn, &p.PrnBtn,   &p.SpeedButton1};
    for (const ui::Control* c : switched) EXPECT_FALSE(c->Enabled()) << c->Name();
    EXPECT_TRUE(p.LogMemo.Lines().empty());
    const TDeviceParams& w = run->working();
    EXPECT_EQ(w.DebugSwitch, 0);
    EXPECT_EQ(w.ErrorLog, 0);
    EXPECT_EQ(w.TraceLog, 0);
    d.Click("EnDebugChk");
    for (const ui::Control* c : switched) EXPECT_TRUE(c->Enabled()) << c->Name();
    d.Click("TraceChk");
    EXPECT_EQ(w.TraceLog, 1);
    d.Click("ErrorChk");
    EXPECT_EQ(w.ErrorLog, 1);
    d.Click("FinishBtn");
  });
  EXPECT_EQ(host->DebugSwitch, 1);
  EXPECT_EQ(host->ErrorLog, 1);
  EXPECT_EQ(host->TraceLog, 1);
  EXPECT_TRUE(run->modified);
}

TEST_F(DebugPageTest, AMissingLogLoadsNothingAndTheStatusReturnsToIdle) {
  std::filesystem::remove(env.log_path);
  OnDebug([&](Driver& d, TDebugFrm& p) {
    d.Type("LogMemo", "kept");
    d.advance(500);
    EXPECT_EQ(p.LogMemo.Lines(), (std::vector<std::string>{"kept"}));
    EXPECT_EQ(p.Label2.Caption(), kIdle);
    d.close_box();
  });
}

// A log that is there but cannot be read is reported once; the page stays usable.
TEST_F(DebugPageTest, AnUnreadableLogIsReportedOnceAndTheLoadEnds) {
  const std::function<void()> obstacles[] = {
      [&] {
        env.log_path = dir.file("folder.Log");
        std::filesystem::create_directory(env.log_path);
      },
      [&] {
        env.log_path = dir.file("Vorel_PCI.Log");
        platform::test_stores::set_file_fault(dir.dir(), platform::test_stores::FileFault::kHeld);
      },
  };
  for (const auto& set_up : obstacles) {
    set_up();
    const size_t boxes = ui->Messages().size();
    OnDebug([&](Driver& d, TDebugFrm& p) {
      d.Type("LogMemo", "kept");
      d.advance(2000);
      EXPECT_EQ(p.LogMemo.Lines(), (std::vector<std::string>{"kept"}));
      EXPECT_EQ(p.Label2.Caption(), kIdle);
      EXPECT_FALSE(p.LoadBar.Visible());
      d.close_box();
    });
    ASSERT_EQ(ui->Messages().size(), boxes + 1) << env.log_path;
    EXPECT_EQ(ui->Messages().back().text, "无法读取文件：" + env.log_path);
    EXPECT_EQ(ui->Messages().back().flags, ui::kMbOk | ui::kMbIconError);
  }
  platform::test_stores::set_file_fault(dir.dir(), platform::test_stores::FileFault::kNone);
}

TEST_F(DebugPageTest, SaveChangesReplacesTheLogWithTheWindowsText) {
  OnDebug([&](Driver& d, TDebugFrm&) {
    d.advance(500);
    d.Type("LogMemo", "第一行\r\n改过的\r\n");
    d.Click("SpeedButton1");
    d.close_box();
  });
  EXPECT_EQ(file_text(env.log_path), "第一行\r\n改过的\r\n");
  EXPECT_TRUE(ui->Messages().empty());
  EXPECT_FALSE(std::filesystem::exists(env.log_path + ".~sav"));
}

// A log that cannot be replaced keeps every byte it had; the user sees why.
TEST_F(DebugPageTest, SaveChangesLeavesALogItCannotReplaceAsItWas) {
  struct Obstacle {
    const char* name;
    std::function<int(const std::string& log)> set_up;  // returns a descriptor to close afterwards, or -1
  };
  const Obstacle obstacles[] = {
      {"held by a writer",
       [](const std::string& log) {
         const int fd = ::open(log.c_str(), O_RDWR);
         ::flock(fd, LOCK_EX);
         return fd;
       }},
      {"read-only",
       [](const std::string& log) {
         ::chmod(log.c_str(), 0444);
         return -1;
       }},
      {"folder gone",
       [this](const std::string&) {
         env.log_path = dir.file("missing/Vorel_PCI.Log");
         return -1;
       }},
  };
  for (const Obstacle& o : obstacles) {
    SCOPED_TRACE(o.name);
    dir.write("Vorel_PCI.Log", kLog);
    ::chmod(dir.file("Vorel_PCI.Log").c_str(), 0644);
    env.log_path = dir.file("Vorel_PCI.Log");
    const size_t boxes = ui->Messages().size();
    OnDebug([&](Driver& d, TDebugFrm&) {
      d.advance(500);
      d.Type("LogMemo", "");
      const int fd = o.set_up(env.log_path);
      d.Click("SpeedButton1");
      if (fd >= 0) ::close(fd);
      EXPECT_EQ(d.form().ModalResult(), ui::mrNone) << "the page stays open";
      d.close_box();
    });
    ASSERT_EQ(ui->Messages().size(), boxes + 1);
    EXPECT_EQ(ui->Messages().back().text, "无法保存文件：" + env.log_path);
    EXPECT_EQ(ui->Messages().back().flags, ui::kMbOk | ui::kMbIconError);
    EXPECT_EQ(file_text(dir.file("Vorel_PCI.Log")), kLog);
    EXPECT_FALSE(std::filesystem::exists(env.log_path + ".~sav"));
  }
}

// A log larger than the window shows (an older driver's, which grew for days) is shown by its
// end; the window's text then never replaces the file.
TEST_F(DebugPageTest, ALogTooLargeToShowWholeShowsItsEndAndIsNeverCutToIt) {
  std::string log;
  for (int i = 0; log.size() <= kShownLogLimit + 1000; ++i)
    log += "2026/12/7 9:05:03：第" + std::to_string(i) + "行\r\n";
  dir.write("Vorel_PCI.Log", log);
  const std::string end = log.substr(log.size() - kShownLogLimit);
  const std::string shown = end.substr(end.find("\r\n") + 2);  // from the first whole line
  OnDebug([&](Driver& d, TDebugFrm& p) {
    d.advance(500);
    const std::vector<std::string> lines = p.LogMemo.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "（日志文件过大，共" + std::to_string(log.size()) + "字节，这里只显示了最后" +
                            std::to_string(shown.size()) + "字节）");
    EXPECT_EQ(lines[1] + "\r\n", shown.substr(0, shown.find("\r\n") + 2));
    EXPECT_EQ(p.LogMemo.joined_text(), lines[0] + "\r\n" + shown);
    d.Click("SpeedButton1");
    EXPECT_EQ(d.form().ModalResult(), ui::mrNone);
    d.close_box();
  });
  EXPECT_EQ(file_text(env.log_path), log) << "not cut to the part shown";
  ASSERT_EQ(ui->Messages().size(), 1u);
  EXPECT_EQ(ui->Messages()[0].text,
            "窗口中只显示了日志文件的最后部分，用它替换整个文件会丢失前面的记录，因此没有保存。\r\n"
            "请用“另存为”按钮保存窗口中的内容。");
}

TEST_F(DebugPageTest, SaveAsWritesTheChosenFileAndCancelWritesNothing) {
  const std::string copy = dir.file("copy.log");
  const std::string nowhere = dir.file("no/such/folder/copy.log");
  ui->answer_save_dialog(std::nullopt);
  ui->answer_save_dialog(nowhere);
  ui->answer_save_dialog(copy);
  OnDebug([&](Driver& d, TDebugFrm&) {
    d.advance(500);
    d.Click("SaveBtn");
    EXPECT_FALSE(std::filesystem::exists(copy));
    d.Click("SaveBtn");  // a file that cannot be made is said so
    ASSERT_EQ(ui->Messages().size(), 1u);
    EXPECT_EQ(ui->Messages()[0].text, "无法保存文件：" + nowhere);
    d.Click("SaveBtn");
    d.close_box();
  });
  EXPECT_EQ(file_text(copy), kLog);
  ASSERT_EQ(ui->save_dialogs().size(), 3u);
  EXPECT_EQ(ui->save_dialogs()[0].default_ext, "Log");
  EXPECT_EQ(ui->save_dialogs()[0].filter, "调试日志文件|log");
}

TEST_F(DebugPageTest, PrintingWritesEveryLineInOrderAndACancelPrintsNothing) {
  ui->answer_print_dialog(false);
  ui->answer_print_dialog(true);
  ui->answer_print_dialog(true);
  OnDebug([&](Driver& d, TDebugFrm& p) {
    d.advance(500);
    d.Click("PrnBtn");
    EXPECT_TRUE(ui->print_jobs().empty());
    EXPECT_TRUE(ui->Messages().empty()) << "a cancelled print is no error";
    d.Click("PrnBtn");
    ASSERT_EQ(ui->print_jobs().size(), 1u);
    EXPECT_EQ(ui->print_jobs()[0].lines, p.LogMemo.Lines());
    EXPECT_EQ(ui->print_jobs()[0].font.name, p.LogMemo.GetFont().name);
    EXPECT_TRUE(ui->print_jobs()[0].ended);
    ui->fail_printing_at(2);
    d.Click("PrnBtn");
    EXPECT_EQ(ui->Messages().size(), 1u) << "a failing printer is reported";
    d.close_box();
  });
  EXPECT_EQ(ui->print_dialogs_shown(), 3);
}

}  // namespace
}  // namespace vorel::wizard::testing
