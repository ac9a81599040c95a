// The device test dialog: the unattended read test, the dialog a user drives (compact and debug
// mode, single-tag read and write), with the driver's own engine over the simulated card bank and
// with a scripted engine where the engine's size must be chosen.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "dialogs/device_window.h"
#include "engine/run_log.h"
#include "engine_probe.h"
#include "host_session.h"
#include "interface/exports.h"
#include "interface/module.h"
#include "interface/seams.h"
#include "sim/pci7505/sim7505.h"
#include "tests/common/headless.h"
#include "tests/common/manual_clock.h"
#include "tests/common/sim_bank.h"

namespace vorel::dialogs {
namespace {

using ui::headless::Driver;

// ---------------------------------------------------------------- the texts the dialog derives

struct WriteCase {
  const char* typed;
  TVariant expected;
};

TEST(TestDialogTexts, TheWriteBoxTakesTrueAndFalseInAnyCaseElseADecimalNumberElseZero) {
  const WriteCase cases[] = {
      {"true", TVariant::Bool(true)},   {"TRUE", TVariant::Bool(true)},   {"tRuE", TVariant::Bool(true)},
      {"False", TVariant::Bool(false)}, {"12.5", TVariant::Double(12.5)}, {" -3e2 ", TVariant::Double(-300)},
      {".5", TVariant::Double(0.5)},    {"7.", TVariant::Double(7)},      {"abc", TVariant::Double(0)},
      {"", TVariant::Double(0)},        {"1.2.3", TVariant::Double(0)},   {"inf", TVariant::Double(0)},
      {"0x10", TVariant::Double(0)},    {"1e999", TVariant::Double(0)},   {" true", TVariant::Double(0)},
  };
  for (const WriteCase& c : cases) {
    const TVariant v = write_value_of(c.typed);
    EXPECT_EQ(v.kind(), c.expected.kind()) << "'" << c.typed << "'";
    EXPECT_TRUE(v == c.expected) << "'" << c.typed << "'";
  }
}

TEST(TestDialogTexts, GridValuesShowSwitchesAsOnAndOffNumbersInGeneralFormTextsAsThey) {
  EXPECT_EQ(value_text(TVariant::Bool(true)), "开");
  EXPECT_EQ(value_text(TVariant::Bool(false)), "关");
  EXPECT_EQ(value_text(TVariant::Double(12.5)), "12.5");
  EXPECT_EQ(value_text(TVariant::Double(1e-5)), "1E-5");
  EXPECT_EQ(value_text(TVariant::Int(-1)), "-1");
  EXPECT_EQ(value_text(TVariant::String("通讯正常!")), "通讯正常!");
  EXPECT_EQ(value_text(TVariant()), "[Other Type]");
}

TEST(TestDialogTexts, TheTypedCommandGetsACarriageReturnAndNeverMoreThan255BytesOrHalfACharacter) {
  EXPECT_EQ(ask_text("DO1"), "DO1\r");
  EXPECT_EQ(ask_text(std::string(300, 'A')), std::string(255, 'A'));
  // 253 bytes + "中" fills 255 exactly: the CR is what is cut.
  EXPECT_EQ(ask_text(std::string(253, 'A') + "中"), std::string(253, 'A') + "中");
  // 254 bytes + "中": the character would end at byte 256 and goes as a whole.
  EXPECT_EQ(ask_text(std::string(254, 'A') + "中"), std::string(254, 'A'));
  // A trail byte that looks like "A" must not count as a character of its own.
  const std::string dense = [] {
    std::string s;
    for (int i = 0; i < 200; ++i) s += "\x81\x41";  // 丂: lead 0x81, trail "A"
    return s;
  }();
  EXPECT_EQ(ask_text(dense), dense.substr(0, 254));
}

TEST(TestDialogTexts, TheDefaultTestTagIsTheFirstInputOfTheLowestConfiguredCard) {
  TDeviceParams block{};
  FullPDB(&block);
  EXPECT_EQ(default_test_address(block), "DI1:0,0.0");
  block.card(1)->ModelCode = kModelNoCard;
  block.card(7)->ModelCode = kModelPci7505;
  block.card(3)->ModelCode = kModelPci7505;
  EXPECT_EQ(default_test_address(block), "DI3:0,0.0");
  block.card(3)->ModelCode = kModelNoCard;
  block.card(7)->ModelCode = kModelNoCard;
  EXPECT_EQ(default_test_address(block), "");
}

// ---------------------------------------------------------------- with the driver's own engine

class TestDialog : public ::testing::Test {
 protected:
  TestDialog() {
    InitLogPath();  // relative to the scratch folder now current
    FullPDB(&block_);
  }
  ~TestDialog() override {
    module::destroy_current_engine();
    if (bank_.loaded()) bank_.reset();
    bank_.release();
    InitLogPath();
  }
  void SetUp() override { ASSERT_TRUE(bank_.loaded()); }

  // The dialog shown through the export, driven by `script`; DLLTestDev's result.
  bool Show(const std::function<void(Driver&, TSampleTest&)>& script) {
    ui->expect([&](Driver& d) {
      auto* form = dynamic_cast<TSampleTest*>(&d.form());
      ASSERT_NE(form, nullptr);
      script(d, *form);
    });
    return DLLTestDev(&block_, 1) != 0;
  }
  // Lets time pass for the engine and the dialog's timer alike, one scan period at a time.
  void Pass(Driver& d, uint32_t ms) {
    for (uint32_t step = 0; step < ms; step += 10) {
      clock_.advance(10);
      d.advance(10);
    }
  }
  // Stop reports in the run log so far.
  int StopReports() const {
    return static_cast<int>(testing_support::CountOf(testing_support::run_log_text(), "退出运行！"));
  }
  TBaseDLLObject* engine() const {
    return module::current_engine() ? test_dialog_environment().engine() : nullptr;
  }

  platform::ManualClock clock_{100000};
  platform::ScopedClock use_clock_{clock_};
  testing_support::ScopedCurrentDir folder_;
  ui::headless::Session ui;
  TDeviceParams block_{};
  testing_support::SimBank bank_;
};

TEST_F(TestDialog, UnattendedTestPassesOnTheSecondStepWhenTheCardAnswers) {
  const uint32_t before = clock_.ticks();
  EXPECT_EQ(DLLTestDev(&block_, 0), 1);
  EXPECT_EQ(clock_.ticks() - before, 51u) << "the send, then its answer one attempt later";
  EXPECT_TRUE(ui->shown_forms().empty());
  EXPECT_TRUE(ui->Messages().empty());
  EXPECT_EQ(module::current_engine(), nullptr) << "DLLTestDev destroys the dialog's engine";
}

TEST_F(TestDialog, UnattendedTestFailsAfterSixAttemptsFiftyMillisecondsApartWhenReadsFail) {
  // The vendor's input call faults every time: no read is ever answered.
  bank_.fault(sim7505::kInput, sim7505::kAccessViolation, 0);
  const uint32_t before = clock_.ticks();
  EXPECT_EQ(DLLTestDev(&block_, 0), 0);
  EXPECT_EQ(clock_.ticks() - before, 5u * 51u);
  EXPECT_GE(bank_.calls(sim7505::kInput), 2) << "the card was asked";
}

TEST_F(TestDialog, WithoutAConfiguredCardThereIsNothingToTest) {
  block_.card(1)->ModelCode = kModelNoCard;
  EXPECT_EQ(DLLTestDev(&block_, 0), 0);
  ASSERT_EQ(ui->Messages().size(), 1u);
  EXPECT_EQ(ui->Messages()[0].text, "暂时不支持测试功能！");
  EXPECT_TRUE(ui->shown_forms().empty());
}

TEST_F(TestDialog, TheDefaultTagReadsTheLowestConfiguredCard) {
  block_.card(1)->ModelCode = kModelNoCard;
  block_.card(4)->ModelCode = kModelPci7505;
  block_.card(4)->CardNo = 4;
  bank_.input(4, 0, 1);
  const bool passed = Show([&](Driver& d, TSampleTest& f) {
    const TTagInfo* tag = f.test_tag();
    ASSERT_NE(tag, nullptr);
    EXPECT_STREQ(tag->TagName, "SysMsg");
    EXPECT_STREQ(tag->TagAddr, "DI4:0,0.0");
    EXPECT_EQ(tag->ValueType, kValueDigital);
    EXPECT_EQ(tag->ScanPeriod, 500u) << "the tag under test is read twice a second";
    EXPECT_EQ(f.SysMsg.Text(), "2026/12/7 9:05:03") << "the start's event: its time, and no fault";
    EXPECT_EQ(f.AddrEd.Text(), "DI4:0,0.0");
    EXPECT_EQ(f.TypeGroup.ItemIndex(), 1);
    Pass(d, 100);
    EXPECT_EQ(f.StringGrid1.Cell(1, 1), "开");
  });
  EXPECT_TRUE(passed);
}

TEST_F(TestDialog, TheCompactDialogShowsEveryControlWithItsText) {
  Show([&](Driver& d, TSampleTest& f) {
    EXPECT_EQ(f.Caption(), "设备测试窗口");
    EXPECT_EQ(f.Bounds().height, 256);
    EXPECT_EQ(f.Bounds().left, (ui::app().Screen().width - f.Bounds().width) / 2) << "centred on the screen";
    const std::vector<std::pair<const char*, const char*>> captions = {
        {"ExitBtn", "退出"},       {"DebugBtn", "高级调试↓"}, {"PauseBtn", "暂停"},   {"Label1", "标签地址"},
        {"Label2", "写入值"},      {"Label3", "写命令串"},    {"ReadCk", "读操作"},   {"WriteCk", "写操作"},
        {"TypeGroup", "标签类型"}, {"Label4", "通讯事件"},    {"Label5", "系统状态"}, {"Label6", "命令串"},
        {"Label7", "应答串"},      {"AskBtn", "发送命令"},
    };
    for (const auto& [name, caption] : captions) EXPECT_EQ(d.control(name).Caption(), caption) << name;
    EXPECT_EQ(f.TypeGroup.Items(), (std::vector<std::string>{"模拟量", "开关量", "字符串"}));
    EXPECT_EQ(f.TypeGroup.Columns, 3);
    for (const char* name : {"wStrMsg", "CommMsg", "SysMsg", "AnswerMsg"})
      EXPECT_TRUE(d.get<ui::Edit>(name).ReadOnly) << name;
    EXPECT_EQ(f.StringGrid1.ColCount(), 4);
    EXPECT_EQ(f.StringGrid1.RowCount(), 100);
    EXPECT_EQ(f.StringGrid1.FixedCols, 0);
    EXPECT_EQ(f.StringGrid1.ColWidths, (std::vector<int>{69, 55, 57, 235}));
    for (int col = 0; col < 4; ++col)
      EXPECT_EQ(f.StringGrid1.Cell(col, 0),
                (std::vector<std::string>{"标签地址", "标签值", "标签操作", "主机命令"})[col]);
    EXPECT_EQ(f.Timer1.Interval(), 10u) << "the engine's scan time";
    EXPECT_TRUE(f.Timer1.Enabled());
    EXPECT_TRUE(f.ready());
    EXPECT_TRUE(f.PauseBtn.Enabled());
    EXPECT_FALSE(f.WriteCk.Enabled()) << "nothing to write before a tag was read";
  });
}

TEST_F(TestDialog, TimerTicksFillTheGridWithTagsCommandsAndTheCommandInFlight) {
  bank_.input(1, 0, 0);
  Show([&](Driver& d, TSampleTest& f) {
    Pass(d, 10);
    EXPECT_EQ(f.StringGrid1.Cell(0, 1), "DI1:0,0.0");
    EXPECT_EQ(f.StringGrid1.Cell(1, 1), "关");
    EXPECT_EQ(f.StringGrid1.Cell(2, 1), "") << "the first tick shows the engine before its first step";
    Pass(d, 10);
    const std::string command = "向设备发送读标签 SysMsg 命令";
    EXPECT_EQ(f.StringGrid1.Cell(2, 1), "读标签");
    EXPECT_EQ(f.StringGrid1.Cell(3, 1), command);
    EXPECT_EQ(f.StringGrid1.Cell(3, 2), command) << "the read command list, from row 2";
    EXPECT_EQ(f.StringGrid1.Cell(0, 2), "") << "one tag, one row";
    EXPECT_EQ(f.StringGrid1.Cell(0, 0), "标签地址") << "a tick leaves the header row alone";
    bank_.input(1, 0, 1);
    Pass(d, 100);
    EXPECT_EQ(f.StringGrid1.Cell(1, 1), "开");
    EXPECT_TRUE(f.succeeded());
    // The cells take typing, the header does not; a typed text lasts until the next tick.
    d.type_cell("StringGrid1", 1, 5, "typed");
    EXPECT_EQ(f.StringGrid1.Cell(1, 5), "typed");
    EXPECT_THROW(d.type_cell("StringGrid1", 0, 0, "x"), ui::headless::ScriptError);
    Pass(d, 10);
    EXPECT_EQ(f.StringGrid1.Cell(1, 5), "");
  });
}

TEST_F(TestDialog, TimerTicksShowTheDevicesEventsOnceAndClearThem) {
  bank_.fault(sim7505::kInput, sim7505::kAccessViolation, 0);
  Show([&](Driver& d, TSampleTest& f) {
    std::vector<std::string> shown;
    for (int tick = 0; tick < 12; ++tick) {
      Pass(d, 10);
      if (!f.CommMsg.Text().empty()) shown.push_back(f.CommMsg.Text());
    }
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown[0], "通讯超时错，期待设备应答");
    EXPECT_EQ(engine()->sErrEvent(), "") << "what the dialog showed is taken from the engine";
    EXPECT_FALSE(f.succeeded());
  });
}

TEST_F(TestDialog, ClosingAfterASuccessfulReadGivesOkElseNoAndStopsTheEngine) {
  int stops = 0;
  for (const bool answering : {true, false}) {
    if (!answering) bank_.fault(sim7505::kInput, sim7505::kAccessViolation, 0);
    TSampleTest form(test_dialog_environment());
    ui->expect([&](Driver& d) {
      Pass(d, 200);
      d.Click("ExitBtn");
    });
    EXPECT_EQ(form.Entry(block_, true), answering);
    EXPECT_EQ(form.ModalResult(), answering ? ui::mrOk : ui::mrNo);
    EXPECT_EQ(StopReports(), ++stops) << "FormClose runs the engine's stop";
    EXPECT_FALSE(form.Timer1.Enabled());
  }
}

TEST_F(TestDialog, DebugModeReadsAndWritesASingleTagByAddress) {
  Show([&](Driver& d, TSampleTest& f) {
    d.Click("DebugBtn");
    EXPECT_TRUE(f.debug_mode());
    EXPECT_EQ(f.Bounds().height, 464);
    EXPECT_EQ(f.DebugBtn.Caption(), "自动检测↑");
    EXPECT_FALSE(f.PauseBtn.Enabled());

    d.Type("AddrEd", "do1:0,3.0");
    d.choose("TypeGroup", 1);
    d.Click("ReadCk");
    EXPECT_TRUE(f.ReadCk.Checked()) << "normalising the address does not untick the read";
    EXPECT_EQ(f.AddrEd.Text(), "DO1:0,3.0");
    // The engine restarted on the single tag. (Not told by its address: a new engine may be
    // given the old one's memory.)
    ASSERT_NE(engine(), nullptr);
    EXPECT_EQ(engine()->TagCount(), 1);
    EXPECT_EQ(engine()->tags()[0]->Address, "DO1:0,3.0");
    EXPECT_EQ(engine()->tags()[0]->Name, "Y0.0");
    EXPECT_TRUE(f.WriteCk.Enabled());
    EXPECT_TRUE(f.ready());

    d.Type("wValueMsg", "TRUE");
    Pass(d, 20);
    d.Click("WriteCk");
    Pass(d, 100);
    EXPECT_EQ(bank_.output(1, 0) & 0x8, 0x8) << "the write reached the card";
    EXPECT_EQ(f.StringGrid1.Cell(0, 1), "DO1:0,3.0");
    EXPECT_EQ(f.StringGrid1.Cell(1, 1), "开");
    EXPECT_FALSE(f.wStrMsg.Text().empty()) << "the write command's text";

    d.Type("wValueMsg", "false");
    EXPECT_FALSE(f.WriteCk.Checked()) << "a new value unticks the write";
    d.Click("WriteCk");
    Pass(d, 100);
    EXPECT_EQ(bank_.output(1, 0) & 0x8, 0);
    EXPECT_TRUE(f.succeeded());

    // A number tag of the test starts at -1 until its first read.
    d.Type("AddrEd", "di1:0,5.0");
    d.choose("TypeGroup", 0);
    d.Click("ReadCk");
    ASSERT_NE(engine(), nullptr);
    EXPECT_EQ(engine()->tags()[0]->ValueType, kValueAnalog);
    EXPECT_EQ(engine()->tags()[0]->Value.as_double(), -1);
    // And the third type is a text tag.
    d.choose("TypeGroup", 2);
    d.Click("ReadCk");  // off, and on again: the engine restarts on the tag as it now stands
    d.Click("ReadCk");
    ASSERT_NE(engine(), nullptr);
    EXPECT_EQ(engine()->tags()[0]->ValueType, kValueString);

    d.Click("DebugBtn");
    EXPECT_FALSE(f.ReadCk.Checked()) << "leaving debug mode unticks the read";
    EXPECT_EQ(engine()->tags()[0]->Name, "SysMsg");
  });
}

struct TypedWrite {
  int type;
  const char* typed;
  TVariant written;
};

TEST_F(TestDialog, WritesTakeTheTypedValueAsBooleanOrNumber) {
  const TypedWrite cases[] = {
      {1, "true", TVariant::Bool(true)},
      {1, "FALSE", TVariant::Bool(false)},
      {0, "12.5", TVariant::Double(12.5)},
      {0, "abc", TVariant::Double(0)},
  };
  for (const TypedWrite& c : cases) {
    Show([&](Driver& d, TSampleTest&) {
      d.Click("DebugBtn");
      d.Type("AddrEd", "DO1:0,0.0");
      d.choose("TypeGroup", c.type);
      d.Click("ReadCk");
      d.Type("wValueMsg", c.typed);
      Pass(d, 20);
      d.Click("WriteCk");
      const TDLLTag& tag = *engine()->tags()[0];
      EXPECT_EQ(tag.Value.kind(), c.written.kind()) << c.typed;
      EXPECT_TRUE(tag.Value == c.written) << c.typed;
    });
  }
}

TEST_F(TestDialog, EditingTheAddressUnticksBothOperationsAndLeavingDebugModeRestartsOnTheDefaultTag) {
  Show([&](Driver& d, TSampleTest& f) {
    d.Click("DebugBtn");
    d.Type("AddrEd", "DI1:0,0.5");
    d.Click("ReadCk");
    Pass(d, 20);
    ASSERT_TRUE(f.WriteCk.Enabled());
    d.Click("WriteCk");
    ASSERT_TRUE(f.WriteCk.Checked());
    d.Type("AddrEd", "D");  // the first keystroke of a new address
    EXPECT_FALSE(f.ReadCk.Checked());
    EXPECT_FALSE(f.WriteCk.Checked());
    EXPECT_FALSE(f.WriteCk.Enabled());
    EXPECT_EQ(f.AddrEd.Text(), "D") << "what the user is typing is left alone";

    d.Click("DebugBtn");
    EXPECT_FALSE(f.debug_mode());
    EXPECT_EQ(f.Bounds().height, 256);
    EXPECT_EQ(f.DebugBtn.Caption(), "高级调试↓");
    EXPECT_TRUE(f.PauseBtn.Enabled());
    ASSERT_NE(engine(), nullptr);
    EXPECT_EQ(engine()->tags()[0]->Address, "DI1:0,0.0");
    EXPECT_EQ(engine()->tags()[0]->Name, "SysMsg");
    EXPECT_TRUE(f.ready());
    EXPECT_FALSE(f.SysMsg.Text().empty()) << "the new start's message";
  });
}

// The read's restart shows what the engine said of it: here, that it has no tag it can serve.
TEST_F(TestDialog, AReadOfATagTheEngineRefusesShowsTheEnginesMessage) {
  Show([&](Driver& d, TSampleTest& f) {
    d.Click("DebugBtn");
    d.Type("AddrEd", "XX9:0,0.0");
    d.Click("ReadCk");
    EXPECT_EQ(f.SysMsg.Text(), "驱动程序加载失败：无合法标签！\r\n");
  });
}

TEST_F(TestDialog, PauseStopsAndContinuesTheTimer) {
  Show([&](Driver& d, TSampleTest& f) {
    d.Click("PauseBtn");
    EXPECT_FALSE(f.Timer1.Enabled());
    EXPECT_EQ(f.PauseBtn.Caption(), "继续");
    const int steps = bank_.calls(sim7505::kInput);
    Pass(d, 200);
    EXPECT_EQ(bank_.calls(sim7505::kInput), steps) << "no engine steps while paused";
    d.Click("PauseBtn");
    EXPECT_TRUE(f.Timer1.Enabled());
    EXPECT_EQ(f.PauseBtn.Caption(), "暂停");
    Pass(d, 200);
    EXPECT_GT(bank_.calls(sim7505::kInput), steps);
  });
}

TEST_F(TestDialog, SendCommandReplacesTheTextOfTheCommandInFlight) {
  Show([&](Driver& d, TSampleTest& f) {
    d.Click("DebugBtn");
    Pass(d, 20);
    const std::string typed = std::string(253, 'A') + "中文";
    d.Type("AskMsg", typed);
    d.Click("AskBtn");
    ASSERT_NE(engine()->current_command(), nullptr);
    EXPECT_EQ(engine()->current_command()->CmdText, std::string(253, 'A') + "中");
    EXPECT_FALSE(f.ReadCk.Checked());

    // Reading a tag of its own, the engine restarts when the send unticks the read: the old
    // engine's command is gone with it, and the new engine has sent none yet.
    d.Type("AddrEd", "DI1:0,0.0");
    d.Click("ReadCk");
    Pass(d, 20);
    d.Click("WriteCk");
    ASSERT_TRUE(f.WriteCk.Checked());
    d.Click("AskBtn");
    EXPECT_FALSE(f.ReadCk.Checked());
    EXPECT_FALSE(f.WriteCk.Checked());
    ASSERT_NE(engine(), nullptr);
    EXPECT_EQ(engine()->current_command(), nullptr);
    d.Click("ReadCk");
    d.Click("AskBtn");
    EXPECT_TRUE(f.ReadCk.Checked()) << "nothing in flight, nothing to replace";
  });
}

// ---------------------------------------------------------------- with scripted engines

// An engine whose tag and command lists the test fills itself.
using ScriptedCard = testing_support::EngineProbe;

class TestDialogScripted : public TestDialog {
 protected:
  TestEnvironment Environment() {
    TestEnvironment env;
    env.start = [this](int32_t, TTagInfo** tags, TDeviceParams* block, std::string& message) {
      if (refuse_starts_) return false;
      if (throwing_starts_) throw std::runtime_error("start");
      engines_.push_back(std::make_unique<ScriptedCard>());
      ScriptedCard& e = *engines_.back();
      std::vector<HostTag> list;
      if (tags[0]) list.push_back(testing_support::host_tag(0, tags[0]->TagAddr, tags[0]->ValueType, 500));
      const bool ok = e.IniDLLObj(block, list);
      message = e.sErrEvent();
      return ok;
    };
    env.engine = [this]() -> TBaseDLLObject* { return engines_.empty() ? nullptr : engines_.back().get(); };
    env.check_address = [](const TDeviceParams*, std::string&) { return true; };
    return env;
  }
  std::vector<std::unique_ptr<ScriptedCard>> engines_;
  bool refuse_starts_ = false, throwing_starts_ = false;
};

// A restart that fails, or whose start throws, on leaving debug mode leaves the dialog not ready.
TEST_F(TestDialogScripted, AFailedRestartOnLeavingDebugModeLeavesTheTimerIdle) {
  for (bool* failing : {&refuse_starts_, &throwing_starts_}) {
    refuse_starts_ = throwing_starts_ = false;
    TSampleTest form(Environment());
    ui->expect([&](Driver& d) {
      d.Click("DebugBtn");
      *failing = true;
      d.Click("DebugBtn");
      EXPECT_FALSE(form.ready());
    });
    form.Entry(block_, true);
  }
}

TEST_F(TestDialogScripted, AWriteInFlightShowsAsAWriteWithItsCommandText) {
  TSampleTest form(Environment());
  ui->expect([&](Driver& d) {
    ScriptedCard& e = *engines_.back();
    auto write = std::make_unique<TCommand>();
    write->IsWrite = true;
    write->CmdText = "W1";
    write->Received = "A1";
    e.CurCmd = write.get();
    e.Stopped = true;  // the engine takes no step of its own: the command stays in flight
    Pass(d, 10);
    EXPECT_EQ(form.StringGrid1.Cell(2, 1), "写标签");
    EXPECT_EQ(form.wStrMsg.Text(), "W1");
    EXPECT_EQ(form.AnswerMsg.Text(), "A1");
    e.CurCmd = nullptr;
  });
  form.Entry(block_, true);
}

TEST_F(TestDialogScripted, TheTypeBoxShowsTheValueTypeOfTheFirstTag) {
  for (const uint8_t type : {kValueAnalog, kValueDigital, kValueString}) {
    TestEnvironment env = Environment();
    env.start = [this, type](int32_t, TTagInfo**, TDeviceParams* block, std::string&) {
      engines_.push_back(std::make_unique<ScriptedCard>());
      return engines_.back()->IniDLLObj(block, {testing_support::host_tag(0, "DI1:0,0.0", type, 500)});
    };
    TSampleTest form(env);
    int shown = -1;
    ui->expect([&](Driver&) { shown = form.TypeGroup.ItemIndex(); });
    form.Entry(block_, true);
    EXPECT_EQ(shown, type);
  }
}

TEST_F(TestDialogScripted, AGridOfAHundredRowsShowsTheFirstTagsAndCommandsOfALargerEngine) {
  TSampleTest form(Environment());
  ui->expect([&](Driver& d) {
    ScriptedCard& e = *engines_.back();
    const size_t many = 150;
    for (size_t i = 1; i < many; ++i) {
      e.AddTag({.bit = static_cast<int32_t>(i % 16)}).Value = TVariant::Int(static_cast<int32_t>(i));
      auto command = std::make_unique<TCommand>();
      command->CmdText = "C" + std::to_string(i);
      e.CmdList.push_back(std::move(command));
    }
    Pass(d, 10);
    EXPECT_EQ(form.StringGrid1.RowCount(), 100);
    EXPECT_EQ(form.StringGrid1.Cell(1, 99), "98");
    EXPECT_EQ(form.StringGrid1.Cell(3, 99), "C97");
    EXPECT_EQ(form.StringGrid1.Cell(1, 100), "");
  });
  form.Entry(block_, true);
}

}  // namespace
}  // namespace vorel::dialogs
