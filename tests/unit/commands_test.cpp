// Device exchanges as the plant sees them: which tags are polled together and how often, which
// writes reach the queue, and in which order the engine takes queued writes and reads.
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
#include "temp_dir.h"
#include "tests/common/manual_clock.h"

namespace vorel {
namespace {

const std::string kTime = "2026/12/7 9:05:03";  // the manual clock's date-time text

// Like the card layer: a read serves a whole port of port_width channels, and with split_writes a
// write runs as two exchanges.
class CommandEngine : public testing_support::EngineProbe {
 public:
  int32_t port_width = 1;
  bool split_writes = false, split_reads = false;
  std::string type_text;  // given to every command when set
  int sent = 0;
  void RealComm(TCommand* command) override {
    ++sent;
    TBaseDLLObject::RealComm(command);
  }
  CommandChain CreatCommand(TDLLTag& tag, std::vector<CommandChain>& list, bool is_write) override {
    CommandChain c = TBaseDLLObject::CreatCommand(tag, list, is_write);
    if (c && !is_write) {
      c->ChanLow = port_width * (tag.Channel / port_width);
      c->ChanHigh = c->ChanLow + port_width - 1;
    }
    if (c && !type_text.empty()) c->TypeStr = type_text;
    if (c && (is_write ? split_writes : split_reads)) {
      c->Next = std::make_unique<TCommand>();
      c->Next->CmdFlags = c->CmdFlags;
      c->Next->TagIds = c->TagIds;
    }
    return c;
  }
};

class EngineCommands : public ::testing::Test {
 protected:
  EngineCommands() {
    TDeviceParams block{};
    FullPDB(&block);
    block.ErrorLog = 1;
    engine_.Ready(block);
  }

  // A tag of card `card`, channel `channel`; DI and DO tags are switches, the others numbers.
  TDLLTag& Tag(const std::string& name, TagTypeIndex type, int32_t card, int32_t channel,
               uint32_t period = 1000) {
    const std::string_view kind = kTagTypes[type].Name;
    return engine_.AddTag(
        {.type = kind,
         .card = card,
         .channel = channel,
         .bit = channel,
         .value_type = uint8_t{type == kTypeDI || type == kTypeDO},
         .period = period,
         .name = name,
         .address = std::string(kind) + std::to_string(card) + ":" + std::to_string(channel)});
  }
  bool write(const TDLLTag& tag, const TVariant& v) { return engine_.WriteExecute(tag.TagID, v); }
  bool Logged(const std::string& text) const { return engine_.HasLine(kTime + text + "\r\n"); }

  testing_support::ScopedCurrentDir working_dir_;
  platform::ManualClock clock_{5000};
  platform::ScopedClock scoped_clock_{clock_};
  CommandEngine engine_;
};

TEST_F(EngineCommands, InputsOfOnePortArePolledTogetherAtTheFasterTagsPace) {
  engine_.port_width = 8;
  Tag("In3", kTypeDI, 1, 3, 500);
  Tag("In5", kTypeDI, 1, 5, 200);
  Tag("In9", kTypeDI, 1, 9, 100);
  Tag("Card2In3", kTypeDI, 2, 3);
  Tag("Out3", kTypeDO, 1, 3);  // outputs are never polled
  engine_.Refresh();

  ASSERT_EQ(engine_.CmdList.size(), 3u);
  const TCommand& port = *engine_.CmdList[0];
  EXPECT_EQ(port.TagIds, (TIndexArray{0, 1}));
  EXPECT_EQ(port.ScanPeriod, 200u);
  EXPECT_EQ(port.CmdText, "向设备发送读标签In3命令");
  EXPECT_EQ(port.AnswerText, "设备返回读标签In3命令的响应");
  EXPECT_TRUE(port.is_tag_command() && !port.is_one_shot() && port.Optimized);
  EXPECT_EQ(engine_.CmdList[1]->TagIds, TIndexArray{2});
  EXPECT_EQ(engine_.CmdList[2]->TagIds, TIndexArray{3});
}

TEST_F(EngineCommands, WritesBecomeOneShotCommandsCarryingTheOutputImage) {
  const TDLLTag& in = Tag("In1", kTypeDI, 1, 1);
  TDLLTag& out = Tag("Out3", kTypeDO, 1, 3);
  const TDLLTag& level = Tag("Level", kTypeDA, 1, 0);

  EXPECT_FALSE(write(in, TVariant::Bool(true)));
  EXPECT_TRUE(Logged("：标签In1不可写!"));
  ASSERT_TRUE(write(out, TVariant::Bool(true)));
  const TCommand& set = *engine_.PendingWrites.back();
  EXPECT_EQ(set.CmdText, "向设备发送写标签Out3命令");
  EXPECT_EQ(set.AnswerText, "设备返回写标签Out3命令的响应");
  EXPECT_TRUE(set.is_tag_command() && set.is_one_shot() && set.RetryState == 1);
  EXPECT_EQ(set.RawValue, 8.0f);  // bit 3 of the port
  EXPECT_EQ(set.QueuedTick, 5000u);
  ASSERT_TRUE(write(out, TVariant::Bool(false)));
  EXPECT_EQ(engine_.PendingWrites.back()->RawValue, 0.0f);
  // A text output takes "1" and "0"; any other text leaves its bit as it was.
  TDLLTag& text = Tag("Text3", kTypeDO, 1, 3);
  text.ValueType = 2;
  for (const auto& [value, image] : {std::pair{"1", 8.0f}, {"x", 8.0f}, {"0", 0.0f}, {"x", 0.0f}}) {
    ASSERT_TRUE(write(text, TVariant::String(value)));
    EXPECT_EQ(engine_.PendingWrites.back()->RawValue, image) << value;
  }

  ASSERT_TRUE(write(level, TVariant::Double(37.5)));
  EXPECT_EQ(engine_.PendingWrites.back()->RawValue, 38.0f);  // halves go to the even neighbour
  ASSERT_TRUE(write(level, TVariant::Double(62.5)));
  EXPECT_EQ(engine_.PendingWrites.back()->RawValue, 62.0f);
  EXPECT_EQ(level.RawImage, 62.5f);
}

TEST_F(EngineCommands, WithDebuggingOnTheFirstWritesAreLoggedWithTheirValues) {
  engine_.Params.DebugSwitch = 1;
  engine_.WriteLogBudget = 2;
  const TDLLTag& level = Tag("Level", kTypeDA, 1, 0);
  for (const double v : {12.5, 13.5, 14.5}) ASSERT_TRUE(write(level, TVariant::Double(v)));
  const std::string line = "：板卡类型=PCI_7505，板卡号=1[Level 地址=DA1:0 写入值=";
  const std::string command = ",]生成写标签命令串=向设备发送写标签Level命令";
  EXPECT_TRUE(Logged(line + "12.5" + command));
  EXPECT_TRUE(Logged(line + "13.5" + command));
  EXPECT_EQ(engine_.LogCount("生成写标签命令串"), 2);
}

TEST_F(EngineCommands, ARepeatedWriteIsLoggedAndNotQueuedAgain) {
  const TDLLTag& out = Tag("Out1", kTypeDO, 1, 1);
  const TDLLTag& level = Tag("Level", kTypeDA, 1, 0);
  EXPECT_TRUE(write(out, TVariant::Bool(true)));
  EXPECT_FALSE(write(out, TVariant::Bool(true)));
  EXPECT_TRUE(Logged("：标签写入操作未执行：Out1重复写入, 地址=DO1:1, 标签值=True"));
  EXPECT_TRUE(write(level, TVariant::Double(12.5)));
  EXPECT_FALSE(write(level, TVariant::Double(12.5)));
  EXPECT_TRUE(Logged("：标签写入操作未执行：Level重复写入, 地址=DA1:0, 标签值=12.5"));
  EXPECT_EQ(engine_.PendingWrites.size(), 2u);

  // Open, close, open again: the valve must end open, so the third request is no repeat.
  EXPECT_TRUE(write(out, TVariant::Bool(false)));
  EXPECT_TRUE(write(out, TVariant::Bool(true)));
  EXPECT_EQ(engine_.PendingWrites.size(), 4u);
}

TEST_F(EngineCommands, QueuedWritesGetAQuotaOfTurnsPerReadChain) {
  for (int card = 1; card <= 3; ++card) Tag("In" + std::to_string(card), kTypeDI, card, 0);
  const TDLLTag& level = Tag("Level", kTypeDA, 1, 0);
  engine_.Refresh();
  for (int v = 1; v <= 20; ++v) ASSERT_TRUE(write(level, TVariant::Int(v)));

  engine_.GetWriteCommand();
  ASSERT_NE(engine_.CurCmd, nullptr);
  EXPECT_EQ(engine_.CurCmd->Values.front(), TVariant::Int(1));  // oldest first
  EXPECT_EQ(engine_.WriteQuota, 19 / 4 + 5);
  EXPECT_EQ(engine_.StaleWrites, 0);
  clock_.advance(5001);
  engine_.GetWriteCommand();
  EXPECT_EQ(engine_.StaleWrites, 1);
  engine_.GetReadCommand();
  EXPECT_EQ(engine_.StaleWrites, 0);
  EXPECT_EQ(engine_.WriteQuota, 1);  // writing resumes right after this read
}

TEST_F(EngineCommands, AWriteOfTwoExchangesIsFreedOnlyAfterItsLast) {
  engine_.split_writes = true;
  const TDLLTag& out = Tag("Out1", kTypeDO, 1, 1);
  ASSERT_TRUE(write(out, TVariant::Bool(true)));
  ASSERT_TRUE(write(out, TVariant::Bool(false)));

  engine_.GetWriteCommand();
  TCommand* head = engine_.ActiveWrite.get();
  ASSERT_TRUE(head && engine_.CurHead == head && engine_.CurCmd == head);
  engine_.GetCommandNext();
  EXPECT_EQ(engine_.CurCmd, head->Next.get());
  EXPECT_EQ(engine_.ActiveWrite.get(), head);
  engine_.GetCommandNext();
  EXPECT_EQ(engine_.ActiveWrite, nullptr);
  EXPECT_TRUE(engine_.CurCmd == nullptr && engine_.CurHead == nullptr);

  // Giving up a queued chain from its second exchange takes the whole chain out of the queue.
  engine_.CurCmd = engine_.PendingWrites.front()->Next.get();
  engine_.free_current_chain();
  EXPECT_TRUE(engine_.PendingWrites.empty() && engine_.CurCmd == nullptr);

  // Through the machine both exchanges go out and are answered as writes.
  ASSERT_TRUE(write(out, TVariant::Bool(true)));
  engine_.AnswerAll();
  for (int i = 0; i < 10; ++i) engine_.Poll(clock_);
  EXPECT_EQ(out.WriteCount, 2u);
  EXPECT_EQ(out.ReadCount, 0u);

  // A read chain's second exchange goes out as soon as the first is answered.
  engine_.split_reads = true;
  const TDLLTag& in = Tag("In1", kTypeDI, 1, 0);
  engine_.Refresh();
  engine_.sent = 0;
  for (int i = 0; i < 10; ++i) engine_.Poll(clock_);
  EXPECT_EQ(in.ReadCount, 9u) << "one exchange answered at each poll but the first";
  EXPECT_EQ(engine_.sent, 10);
}

// A derived driver may chain any number of exchanges; freeing a chain must not recurse through
// its commands' destructors, or a long one overflows the host thread's stack.
TEST_F(EngineCommands, LongChainsAreFreedOneCommandAtATime) {
  const auto chain = [](TCommand*& last) {
    CommandChain head = std::make_unique<TCommand>();
    last = head.get();
    for (int i = 0; i < 100000; ++i) last = (last->Next = std::make_unique<TCommand>()).get();
    return head;
  };
  for (const bool read : {true, false}) {
    TCommand* last = nullptr;
    if (read)
      engine_.CmdList.push_back(chain(last));
    else
      engine_.PendingWrites.push_back(chain(last));
    engine_.CurCmd = last;
    engine_.free_current_chain();
    EXPECT_TRUE(engine_.CmdList.empty() && engine_.PendingWrites.empty());
  }
  TCommand* last = nullptr;
  engine_.CmdList.push_back(chain(last));
  engine_.Refresh();
  EXPECT_TRUE(engine_.CmdList.empty());
}

TEST_F(EngineCommands, TheRotationStartsBehindPositionZeroAndHonoursReloads) {
  Tag("Fast", kTypeDI, 1, 0, 100);
  engine_.Refresh();
  engine_.GetReadCommand();
  EXPECT_EQ(engine_.CurCmd, engine_.CmdList[0].get());  // the only chain

  Tag("Slow", kTypeDI, 2, 0, 300);  // three times slower: taken on every third visit
  engine_.Refresh();
  std::string order;
  for (int i = 0; i < 12; ++i) {
    engine_.GetReadCommand();
    order += engine_.CurCmd == engine_.CmdList[0].get() ? 'F' : 'S';
    engine_.CurCmd->Countdown = engine_.CurCmd->Reload;  // as an answer does
  }
  EXPECT_EQ(order, "SFFFSFFFSFFF");

  engine_.type_text = "TEST";  // a driver's line test is taken every second visit, whatever the pace
  engine_.Refresh();
  EXPECT_TRUE(engine_.CmdList[0]->Reload == 2 && engine_.CmdList[1]->Reload == 2);
}

TEST_F(EngineCommands, ABackedOffDeviceDoesNotHoldUpThePoll) {
  Tag("A", kTypeDI, 1, 0);
  Tag("B", kTypeDI, 2, 0);
  engine_.Refresh();
  engine_.CmdList[0]->Countdown = 1000000000;
  engine_.CmdList[1]->Countdown = 1000000005;
  engine_.GetReadCommand();
  EXPECT_EQ(engine_.CurCmd, engine_.CmdList[0].get());
  EXPECT_EQ(engine_.CmdList[1]->Countdown, 6);  // one count per visit, as if it had spun
}

}  // namespace
}  // namespace vorel
