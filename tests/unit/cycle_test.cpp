// The engine in the host's rhythm: the pace it sets for its read commands, what a refresh starts
// afresh, the read cycle statistics, and which host writes are queued, refused or expire.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/DLLBase.h"
#include "engine/tag_types.h"
#include "engine_probe.h"
#include "support/getfileinfo.h"
#include "temp_dir.h"
#include "tests/common/manual_clock.h"

namespace vorel {
namespace {

const std::string kTime = "2026/12/7 9:05:03";  // the manual clock's date-time text

class EngineCycle : public ::testing::Test {
 protected:
  EngineCycle() {
    TDeviceParams block{};
    FullPDB(&block);
    block.ErrorLog = 1;
    engine_.Ready(block);
  }

  // type: a row of the tag type table, or an internal keyword. value_type 0 number, 1 switch, 2 text.
  // Each tag is on a card of its own: one read command each.
  TDLLTag& Tag(const std::string& name, std::string_view type, uint8_t value_type, uint32_t period = 1000) {
    return engine_.AddTag({.type = type,
                           .card = static_cast<int32_t>(engine_.TagList.size()) + 1,
                           .value_type = value_type,
                           .period = period,
                           .name = name});
  }
  bool write(const TDLLTag& tag, const TVariant& v) { return engine_.WriteExecute(tag.TagID, v); }
  bool Logged(const std::string& text) const { return engine_.HasLine(kTime + text + "\r\n"); }
  std::vector<int32_t> Reloads() const {
    std::vector<int32_t> r;
    for (const auto& c : engine_.CmdList) r.push_back(c->Reload);
    return r;
  }

  testing_support::ScopedCurrentDir working_dir_;
  platform::ManualClock clock_{1000};
  platform::ScopedClock scoped_clock_{clock_};
  testing_support::EngineProbe engine_;
};

TEST_F(EngineCycle, TheReadPaceFollowsTheFastestTagsAndTheHostPollsEveryTenMs) {
  Tag("Out", "DO", 1);
  engine_.Refresh();  // nothing to read
  EXPECT_TRUE(Logged("：读扫描周期（毫秒）=1000"));
  EXPECT_TRUE(Logged("：有效标签个数=1"));
  EXPECT_EQ(engine_.ScanTime(), 10);

  Tag("A", "DI", 1, 1000);
  Tag("B", "DI", 1, 100);
  Tag("C", "DI", 1, 200);
  engine_.Refresh();
  EXPECT_TRUE(Logged("：读扫描周期（毫秒）=39"));  // 100 / (1 + 1/10 + 1/1 + 1/2) + 1
  EXPECT_TRUE(Logged("：有效标签个数=4"));
  EXPECT_EQ(Reloads(), (std::vector<int32_t>{10, 1, 2}));
  EXPECT_EQ(engine_.CycleMark, 1);
  EXPECT_EQ(engine_.AverageScan, 39);
  EXPECT_EQ(engine_.ScanTime(), 10);
}

TEST_F(EngineCycle, BelowTenMsTheSlowerCommandsAreStretchedToKeepTheirShare) {
  Tag("A", "DI", 1, 10);
  Tag("B", "DI", 1, 10);
  engine_.Refresh();
  EXPECT_TRUE(Logged("：读扫描周期（毫秒）=10"));  // 10 / 3 + 1 = 4, raised to 10
  EXPECT_EQ(Reloads(), (std::vector<int32_t>{1, 1}));

  Tag("C", "DI", 1, 10);
  Tag("D", "DI", 1, 40);
  engine_.Refresh();  // base 10 / 4.25 + 1 = 3, so factor 10 / 3 rounds to 3
  EXPECT_EQ(Reloads(), (std::vector<int32_t>{1, 1, 1, 12}));
}

TEST_F(EngineCycle, ARefreshStartsTheCountsAfreshAndKeepsTheDeviceReading) {
  Tag("A", "DI", 1);
  const TDLLTag& level = Tag("Level", "DA", 0);
  engine_.Refresh();
  engine_.ReadExecute();  // a read goes out
  ASSERT_EQ(engine_.RunStatus, kStatusWaitRead);
  ASSERT_TRUE(write(level, TVariant::Int(4)));
  engine_.ReadCommTotal = 7;
  engine_.WriteFailTotal = 2;
  clock_.advance(300);

  engine_.Refresh();  // as when the host adds tags
  EXPECT_TRUE(engine_.PendingWrites.empty());
  EXPECT_EQ(engine_.ReadCommTotal, 0);
  EXPECT_EQ(engine_.WriteFailTotal, 0u);
  EXPECT_EQ(engine_.StartTick, 1300u);
  // The read in flight went with the old commands; the next poll sends one of the new list.
  engine_.ReadExecute();
  EXPECT_EQ(engine_.RunStatus, kStatusWaitRead);
  EXPECT_EQ(engine_.CurCmd, engine_.CmdList[0].get());
}

TEST_F(EngineCycle, EachPassOverTheReadCommandsIsTimed) {
  engine_.Params.TraceLog = 1;
  Tag("A", "DI", 1, 100);  // the pass ends here
  Tag("B", "DI", 1, 100);
  engine_.Refresh();
  std::vector<int32_t> passes;
  for (uint32_t step : {10, 10, 10, 20, 10, 10}) {
    clock_.advance(step);
    engine_.GetReadCommand();
    if (engine_.CurCmd == engine_.CmdList[0].get()) passes.push_back(engine_.LastCycleMs);
    engine_.CurCmd->Countdown = engine_.CurCmd->Reload;
    ++engine_.ReadCommTotal;
  }
  EXPECT_EQ(passes, (std::vector<int32_t>{20, 30, 20}));
  EXPECT_TRUE(Logged("：本次读标签循环周期（毫秒）=30\r\n"));
  EXPECT_EQ(engine_.FastestScan, 20);
  EXPECT_EQ(engine_.SlowestScan, 30);
  EXPECT_DOUBLE_EQ(engine_.AverageScan, (2 * 30 + 20) / 3.0);  // running mean after the first passes
}

TEST_F(EngineCycle, AWriteOfTheWrongKindIsRefusedWithItsReason) {
  const TDLLTag& level = Tag("Level", "DA", 0);
  const TDLLTag& valve = Tag("Valve", "DO", 1);
  const TDLLTag& text = Tag("Text", "DO", 2);
  const TDLLTag& link = Tag("Link", "COMMLINK", 0);
  engine_.ParamsLoaded = false;  // taken again from the engine's own block: the error log stays on
  EXPECT_FALSE(write(valve, TVariant::Double(1)));
  EXPECT_TRUE(engine_.ParamsLoaded);
  EXPECT_TRUE(Logged("：标签Valve写错误,标签不是模拟量类型!"));
  EXPECT_FALSE(write(level, TVariant::Bool(true)));
  EXPECT_TRUE(Logged("：标签Level写错误,标签不是开关量类型!"));
  EXPECT_FALSE(write(level, TVariant::String("5")));
  EXPECT_TRUE(Logged("：标签Level写错误,标签不是字符串类型!"));
  EXPECT_FALSE(write(link, TVariant::Int(1)));
  EXPECT_TRUE(Logged("：标签Link不可写!"));
  EXPECT_TRUE(engine_.PendingWrites.empty());
  EXPECT_TRUE(write(valve, TVariant::Int(1)));  // integers pass the kind check
  EXPECT_TRUE(write(text, TVariant::String("1")));

  engine_.log.clear();
  EXPECT_FALSE(write(text, TVariant::Double(1)));
  EXPECT_FALSE(engine_.WriteExecute(99, TVariant::Int(1)));  // never registered
  EXPECT_FALSE(engine_.WriteExecute(-1, TVariant::Int(1)));
  engine_.Params.ErrorLog = 0;
  EXPECT_FALSE(write(valve, TVariant::Double(1)));
  EXPECT_EQ(engine_.log.size(), 1u);  // only the refusal while the error log was on
}

TEST_F(EngineCycle, TheQueueHoldsThreeHundredWritesAndDropsThoseWaitingOverFiveSeconds) {
  const TDLLTag& level = Tag("Level", "DA", 0);
  for (int v = 1; v <= 300; ++v) ASSERT_TRUE(write(level, TVariant::Int(v)));
  EXPECT_FALSE(write(level, TVariant::Int(301)));
  EXPECT_EQ(level.Value, TVariant::Int(300));  // the refused value is not shown

  clock_.advance(5000);
  EXPECT_FALSE(write(level, TVariant::Int(301)));  // exactly five seconds: none expired yet
  clock_.advance(1);
  // All 300 expire. The value of the last of them is a fresh request now, not a repeat of a write
  // that will never be sent.
  EXPECT_TRUE(write(level, TVariant::Int(300)));
  EXPECT_EQ(level.TagStatus, kTagStatusWriteExpired);
  EXPECT_EQ(engine_.PendingWrites.size(), 1u);
}

TEST_F(EngineCycle, TheLineSwitchStopsAllDeviceTraffic) {
  const TDLLTag& on = Tag("LineOn", "ENCOMMLINK", 0);
  const TDLLTag& link = Tag("Link", "COMMLINK", 2);
  const TDLLTag& valve = Tag("Valve", "DO", 1);
  Tag("In", "DI", 1);
  engine_.Refresh();
  ASSERT_TRUE(write(on, TVariant::Double(0)));
  EXPECT_FALSE(engine_.CommEnabled);
  EXPECT_EQ(on.Value, TVariant::Int(0));
  EXPECT_FALSE(write(valve, TVariant::Bool(true)));
  EXPECT_TRUE(engine_.ReadExecute());
  EXPECT_EQ(engine_.RunStatus, kStatusReady);  // nothing sent
  EXPECT_EQ(link.Value, TVariant::String(driver_file_info()->DeviceName() + "通讯暂停!"));
  ASSERT_TRUE(write(on, TVariant::Bool(true)));
  EXPECT_EQ(on.Value, TVariant::Int(1));
  engine_.ReadExecute();
  EXPECT_EQ(engine_.RunStatus, kStatusWaitRead);
}

TEST_F(EngineCycle, AQueuedWriteGoesOutAfterOneReadAndIsFreedWhenAnswered) {
  const TDLLTag& valve = Tag("Valve", "DO", 1);
  Tag("In", "DI", 1);
  engine_.Refresh();
  ASSERT_TRUE(write(valve, TVariant::Bool(true)));
  engine_.AnswerAll();  // every command is answered by the next poll
  std::string in_flight;
  for (int poll = 0; poll < 3; ++poll) {
    engine_.ReadExecute();
    in_flight += engine_.RunStatus == kStatusWaitWrite ? 'W' : 'R';
    if (engine_.RunStatus == kStatusWaitWrite) {
      EXPECT_EQ(engine_.CurCmd, engine_.ActiveWrite.get());
    }
  }
  EXPECT_EQ(in_flight, "RWR");
  EXPECT_EQ(engine_.ActiveWrite, nullptr);
  EXPECT_EQ(valve.WriteCount, 1u);
}

}  // namespace
}  // namespace vorel
