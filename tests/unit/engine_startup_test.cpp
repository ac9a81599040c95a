// Starting an engine from the host's block and tags: which tags are kept, the internal link tags
// and their values, how registrations extend a running engine, and the stop report.
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine_probe.h"
#include "support/getfileinfo.h"
#include "tests/common/manual_clock.h"

namespace vorel {
namespace {

using testing_support::EngineProbe;
using testing_support::host_tag;

class EngineStartup : public ::testing::Test {
 protected:
  EngineStartup() {
    FullPDB(&block_);
    block_.card(2)->ModelCode = 0;
    set_model_name(*block_.card(2), "PCI_7505");
  }
  platform::ManualClock clock_{1000};
  platform::ScopedClock use_clock_{clock_};
  testing_support::ScopedCurrentDir folder_;
  TDeviceParams block_{};
  const std::string device_ = driver_file_info()->DeviceName();
};

TEST_F(EngineStartup, LinkTagsShowTheStateAtStart) {
  EngineProbe e;
  std::vector<HostTag> tags = {host_tag(1, "COMMLINK", 2),       host_tag(2, "ENCOMMLINK", 0),
                               host_tag(3, "DEVICELINK2:", 2),   host_tag(4, "DEVICELINK2", 0),
                               host_tag(5, "DI1:0,3.5", 1),      host_tag(6, "DI1:0,3.6", 2),
                               host_tag(7, "DI1:0,3.7", 0),      host_tag(8, "DEVICELINK3:", 1),
                               host_tag(9, "ENDEVICELINK2:", 0), host_tag(10, "DEVICELINKab:", 0)};
  tags[8].Name = std::string(40, 'N');
  e.DevLinkState[2] = kLinkOK;  // left from an earlier run: a link tag starts its card afresh
  ASSERT_TRUE(e.IniDLLObj(&block_, tags));
  EXPECT_EQ(e.TagCount(), 10);
  EXPECT_EQ(e.Tag(1).Value.string_value(), device_ + "通讯始终不成功!");
  EXPECT_EQ(e.Tag(2).Value.as_double(), 1);
  EXPECT_EQ(e.Tag(3).CardNo, 2);
  EXPECT_EQ(e.Tag(3).Value.string_value(), "2号板卡PCI_7505通讯始终不成功!");
  EXPECT_EQ(e.Tag(4).CardNo, 1) << "no digit before the last character: card 1";
  EXPECT_EQ(e.Tag(10).CardNo, 1) << "no number: card 1";
  EXPECT_EQ(e.Tag(4).Value.kind(), TVariant::Kind::Int) << "a number: the card's link state";
  EXPECT_EQ(e.Tag(8).Value.kind(), TVariant::Kind::Bool) << "a switch: whether the device is linked";
  EXPECT_FALSE(e.Tag(8).Value.bool_value());
  EXPECT_EQ(e.Tag(5).Value.kind(), TVariant::Kind::Bool);
  EXPECT_FALSE(e.Tag(5).Value.bool_value());
  EXPECT_EQ(e.Tag(6).Value.kind(), TVariant::Kind::String);
  EXPECT_EQ(e.Tag(6).Value.string_value(), "");
  // Without a start value a number or a text tag is given bit 1; a switch keeps its address's.
  EXPECT_EQ(e.Tag(5).Bit, 5);
  EXPECT_EQ(e.Tag(6).Bit, 1);
  EXPECT_EQ(e.Tag(7).Bit, 1);
  EXPECT_EQ(e.Tag(7).Value.kind(), TVariant::Kind::Int);
  EXPECT_TRUE(e.Tag(1).Internal);
  EXPECT_FALSE(e.Tag(1).Writable);
  EXPECT_EQ(e.Tag(9).CardNo, 2);
  EXPECT_EQ(e.Tag(9).Name, std::string(32, 'N')) << "a name is cut to 32 characters";
  EXPECT_TRUE(e.Tag(9).Internal);
  EXPECT_EQ(e.RunEvent, kEventInit) << "the start event waits for the first poll";
}

// A number takes the value form 2 only; a switch and a text take 0, 1 or 2.
TEST_F(EngineStartup, ValueFormsEachValueTypeTakes) {
  EngineProbe e;
  const struct {
    int32_t form, kind;
    bool valid;
  } rows[] = {{2, 0, true},  {1, 0, false}, {0, 1, true},   {2, 1, true},
              {3, 1, false}, {0, 2, true},  {-1, 2, false}, {0, 3, false}};
  for (const auto& r : rows) EXPECT_EQ(e.ValidTagValFrm(r.form, r.kind), r.valid) << r.form << "," << r.kind;
}

TEST_F(EngineStartup, NoValidTagFailsTheStartWithTheHostsMessage) {
  EngineProbe e;
  std::vector<HostTag> tags = {host_tag(1, "XY1:0,1.1"), host_tag(2, "DI9:0,1.1")};
  EXPECT_FALSE(e.IniDLLObj(&block_, tags));
  EXPECT_EQ(e.TagCount(), 0);
  EXPECT_EQ(e.sErrEvent(), "驱动程序加载失败：无合法标签！\r\n");
  ASSERT_GE(e.log.size(), 2u);
  EXPECT_NE(e.log.back().find("：驱动程序加载失败：无合法标签！"), std::string::npos)
      << "the failure line follows the stop report";
  EXPECT_TRUE(e.Stopped);
  EXPECT_EQ(e.ScanTime(), 500) << "without tags to pace it, the host polls twice a second";

  // A set-up that throws fails the start the same way, and the run log names it.
  struct ThrowingRefresh : EngineProbe {
    void Refresh() override { throw std::runtime_error("refresh"); }
  } failing;
  block_.ErrorLog = 1;
  EXPECT_FALSE(failing.IniDLLObj(&block_, {host_tag(1, "DI1:0,1.1")}));
  EXPECT_EQ(failing.TagCount(), 0);
  EXPECT_TRUE(failing.Stopped);
  EXPECT_EQ(failing.LogCount("TBaseDLLObject.IniTagList异常！"), 1);
}

TEST_F(EngineStartup, WithoutABlockTheDeviceFailsToLoad) {
  EngineProbe e;
  EXPECT_FALSE(e.IniDLLObj(nullptr, {host_tag(1, "DI1:0,1.1")}));
  EXPECT_EQ(e.LogCount("：设备加载失败！"), 1);
}

TEST_F(EngineStartup, HostIdentifiersAreCheckedAndIndexed) {
  EngineProbe e;
  std::vector<HostTag> tags = {
      host_tag(1000, "DI1:0,1.1"), host_tag(-3, "DI1:0,1.2"), host_tag(2'000'000'000, "DI1:0,1.3"),
      host_tag(7, "DI1:0,1.4"),    host_tag(7, "DI1:0,1.5"),  host_tag(8, "DI1:0,1.6", 3)};
  ASSERT_TRUE(e.IniDLLObj(&block_, tags));
  EXPECT_EQ(e.TagCount(), 4) << "only the negative identifier and the unknown value type are refused";
  EXPECT_EQ(e.LogCount("数据类型3非法"), 1);
  EXPECT_EQ(e.LogCount("标签号-3非法"), 1);
  ASSERT_NE(e.find_tag(2'000'000'000), nullptr) << "a huge identifier is kept without a huge table";
  EXPECT_EQ(e.find_tag(2'000'000'000)->Address, "DI1:0,1.3");
  EXPECT_EQ(e.find_tag(1000)->Address, "DI1:0,1.1");
  EXPECT_EQ(e.find_tag(7)->Address, "DI1:0,1.5") << "a repeated identifier names the later tag";
  EXPECT_EQ(e.find_tag(0), nullptr) << "an identifier never registered names no tag";
  EXPECT_EQ(e.find_tag(8), nullptr);
  EXPECT_EQ(e.find_tag(-3), nullptr);
}

TEST_F(EngineStartup, AddedTagsJoinARunningEngine) {
  EngineProbe e;
  ASSERT_TRUE(e.IniDLLObj(&block_, {host_tag(1, "DI1:0,1.1"), host_tag(2, "DI1:0,1.2")}));
  int32_t results[4] = {9, 9, 9, 9};
  EXPECT_EQ(e.AddTagLists({host_tag(3, "DO1:0,0.1"), host_tag(4, "nonsense"), host_tag(5, "ENLOG", 1),
                           host_tag(-1, "DI1:0,0.0")},
                          results),
            1);
  EXPECT_EQ(results[0], 0);
  EXPECT_EQ(results[1], 1);
  EXPECT_EQ(results[2], 0);
  EXPECT_EQ(results[3], 1);
  EXPECT_EQ(e.TagCount(), 4);
  EXPECT_EQ(e.find_tag(3)->Position, 2) << "appended after the existing tags";
  EXPECT_EQ(e.CmdList.size(), 2u)
      << "the read commands made again (one per port: channel 1 of DI, channel 0 of DO), none left over";
  EXPECT_TRUE(e.EnLogTag);
  EXPECT_TRUE(e.EnLog()) << "an ENLOG tag keeps detailed logging on after the refresh";
  // The host switches detailed logging through it, as a switch or as a number.
  EXPECT_TRUE(e.WriteExecute(5, TVariant::Bool(false)));
  EXPECT_FALSE(e.EnLog());
  EXPECT_EQ(e.find_tag(5)->Value.kind(), TVariant::Kind::Bool);
  EXPECT_FALSE(e.find_tag(5)->Value.bool_value());
  EXPECT_TRUE(e.WriteExecute(5, TVariant::Double(2)));
  EXPECT_TRUE(e.EnLog());
  EXPECT_EQ(e.find_tag(5)->Value, TVariant::Bool(true))
      << "a switch tag shows a number written to it as a switch";
  // A number-typed ENLOG tag shows 1 or 0.
  e.find_tag(5)->ValueType = 0;
  EXPECT_TRUE(e.WriteExecute(5, TVariant::Double(0)));
  EXPECT_EQ(e.find_tag(5)->Value.as_double(), 0);
  EXPECT_TRUE(e.WriteExecute(5, TVariant::Double(3)));
  EXPECT_EQ(e.find_tag(5)->Value.as_double(), 1);
}

TEST_F(EngineStartup, StopWritesOneReportAndDestructionNoSecond) {
  int reports = 0;
  {
    EngineProbe e;
    ASSERT_TRUE(e.IniDLLObj(&block_, {host_tag(1, "DI1:0,1.1")}));
    e.Stop();
    e.Stop();
    reports = e.LogCount("退出运行！");
    EXPECT_FALSE(e.Running);
  }
  EXPECT_EQ(reports, 1);
}

TEST_F(EngineStartup, AStoppedEngineRestartsWithAddedTags) {
  EngineProbe e;
  ASSERT_TRUE(e.IniDLLObj(&block_, {host_tag(1, "DI1:0,1.1")}));
  e.Stop();
  int32_t result = 9;
  EXPECT_EQ(e.AddTagLists({host_tag(2, "DI1:0,1.2")}, &result), 0);
  EXPECT_TRUE(e.Running);
  EXPECT_EQ(e.TagCount(), 1);
  EXPECT_EQ(e.find_tag(2)->Position, 0);
}

}  // namespace
}  // namespace vorel
