// Tag addresses as the plant engineer types them: which card, slot, channel and bit a tag lands
// on, what the run log says about a missing or illegal field, which tags are dropped and with
// what message, and the normal form the host's address editor shows.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "engine_probe.h"
#include "records/pdb.h"
#include "tests/common/manual_clock.h"

namespace vorel {
namespace {

using Lines = std::vector<std::string>;
using testing_support::EngineProbe;
const std::string kTime = "2026/12/7 9:05:03";  // the manual clock's date-time text

// One configured PCI_7505 as card 1, as a fresh device has it; the other entries hold no card.
TDeviceParams DefaultBlock() {
  TDeviceParams block{};
  FullPDB(&block);
  return block;
}

class EngineAddress : public ::testing::Test {
 protected:
  EngineAddress() {
    engine_.Params = DefaultBlock();
    engine_.DefaultCardNo = 1;
    engine_.Params.TraceLog = engine_.Params.ErrorLog = 1;
    engine_.log.clear();
  }

  // "card:slot,channel.bit" as the four parsers read the address for a card of this model.
  std::string Parse(const std::string& address, uint8_t model = kModelPci7505) {
    std::string fields = std::to_string(engine_.GetCardNo("T1", address)) + ":";
    fields += std::to_string(engine_.GetSlotNo("T1", address, model)) + ",";
    fields += std::to_string(engine_.GetChannelNo("T1", address, model)) + ".";
    return fields + std::to_string(engine_.GetBitNo("T1", address, model));
  }

  // A tag as registration creates it from the host's record, then checked.
  std::unique_ptr<TDLLTag> CreateAndCheck(const std::string& address) {
    auto tag = engine_.CreatInternalTag(testing_support::host_tag(1, address));  // a switch: the bit stays
    EXPECT_NE(tag, nullptr);
    engine_.log.clear();
    engine_.CheckAddrValid(tag);
    return tag;
  }

  testing_support::ScopedCurrentDir cwd_;  // the engine's own run log lands there
  platform::ManualClock clock_;
  platform::ScopedClock scoped_clock_{clock_};
  EngineProbe engine_{false};
};

std::string Hint(const std::string& address, const std::string& tail) {
  return kTime + "：标签T1提示：地址=" + address + tail + "\r\n";
}
std::string Error(const std::string& address, const std::string& tail) {
  return kTime + "：标签T1错误：标签地址" + address + tail + "\r\n";
}

TEST_F(EngineAddress, FieldsDefaultsAndTheLinesTheyLog) {
  struct Case {
    std::string address, fields;  // fields as card:slot,channel.bit
    Lines log;                    // in parser order: card, slot, channel, bit
  };
  const std::string mixed = "DI1：2:0,3.5", trap = "DI埃好";
  const Case cases[] = {
      {"di1:0,3.5", "1:0,3.5", {}},
      {"DI1：0，3.5", "1:0,3.5", {}},  // a Chinese keyboard's full-width signs
      {"do2:0，15.0", "2:0,15.0", {}},
      {"DO1:0,$F.$A", "1:0,15.10", {}},  // the host's number syntax: $ is hexadecimal
      {"DI3.5",
       "1:0,3.5",
       {Hint("DI3.5", "中缺少板卡号，系统采用缺省值1"), Hint("DI3.5", "中缺少槽号，系统采用缺省值0")}},
      {"DI1:0,3", "1:0,3.0", {Hint("DI1:0,3", "中缺少位号，系统采用缺省值0")}},
      {"DI1:0,.2", "1:0,0.2", {Hint("DI1:0,.2", "中缺少板卡基址，系统采用缺省值0")}},
      {"DI1:0,x.5", "1:0,-1.5", {Error("DI1:0,x.5", "的板卡基址非法。")}},
      {"DIa:z,1.b",
       "-1:-1,1.-1",
       {Error("DIa:z,1.b", "中板卡号非法。"), Error("DIa:z,1.b", "中槽号非法。"),
        Error("DIa:z,1.b", "中位号非法。")}},
      {mixed, "-1:0,3.5", {Error(mixed, "中板卡号非法。")}},  // the ASCII colon wins
      // 埃 (B0 A3) and 好 (BA C3): their bytes A3 BA are no full-width colon.
      {trap,
       "1:0,-1.0",
       {Hint(trap, "中缺少板卡号，系统采用缺省值1"), Hint(trap, "中缺少槽号，系统采用缺省值0"),
        Error(trap, "的板卡基址非法。"), Hint(trap, "中缺少位号，系统采用缺省值0")}},
      {"AD1:0,0.3", "1:0,-1.3", {}},  // a PCI_7505 has no analog inputs
      {"Count1:0,2", "1:0,-1.0", {Hint("Count1:0,2", "中缺少位号，系统采用缺省值0")}},  // nor counters
      {"XY1:0,1.1", "-1:-1,-1.-1", {}},
      {"DI1.5:0",  // a dot before the colon separates no bit
       "-1:0,0.0",
       {Error("DI1.5:0", "中板卡号非法。"), Hint("DI1.5:0", "中缺少槽号，系统采用缺省值0"),
        Hint("DI1.5:0", "中缺少位号，系统采用缺省值0")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    engine_.log.clear();
    EXPECT_EQ(Parse(c.address), c.fields);
    EXPECT_EQ(engine_.log, c.log);
  }

  engine_.log.clear();
  EXPECT_EQ(Parse("DI2:0,1.1", kModelNoCard), "2:-1,-1.-1") << "a card entry without a card";
  engine_.Params.TraceLog = engine_.Params.ErrorLog = 0;
  EXPECT_EQ(Parse("DIa:0,x"), "-1:0,-1.0");
  EXPECT_TRUE(engine_.log.empty()) << "hints and errors belong to the TraceLog and ErrorLog switches";
}

TEST_F(EngineAddress, UnusableAddressesDropTheTagWithTheCardsReason) {
  const std::string no_card = "号板卡不存在。请在设备向导中添加该板卡！\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"XY1:0,1.1", "指定不存在的标签类型。"},
      {"DI2:0,1.1", "所指定的0002" + no_card},
      {"DI33:0,1.1", "所指定的0033" + no_card},  // numbers outside the block name no card
      {"DI0:0,1.1", "所指定的0000" + no_card},
      {"DI-1:0,1.1", "所指定的-0001" + no_card},
      {"DI1:0,x.5", "板卡基址错误，PCI_7505不存在此标签。"},
      {"AD1:0,0.3", "板卡基址错误，PCI_7505不存在此标签。"},
      {"Freq1:0,0.0", "板卡基址错误，PCI_7505不存在此标签。"},  // nor a frequency output
      {"DI1:y,3.5", "槽号错误，PCI_7505不存在此标签。"},
      {"DI1:0,3.z", "位号错误，PCI_7505不存在此标签。"},
      {"DI1:0,3.16", "的位号超出PCI_7505的最大范围15"},
      {"DI1:0,3.-2", "的位号超出最小范围PCI_7505的最小范围0"},
      {"DI1:0,16.0", "的板卡基址超出PCI_7505的最大范围15"},
      {"DO1:0,-3.0", "的板卡基址超出PCI_7505的最小范围0"},
      {"DI1:1,0.0", "的槽号超出PCI_7505的最大范围0"},
      {"DI1:-2,3.0", "的槽号超出PCI_7505的最小范围0"},
      {"DI1:0,16.16", "的板卡基址超出PCI_7505的最大范围15"},  // the last failing limit is reported
      {"DI1:4,16.16", "的槽号超出PCI_7505的最大范围0"},
  };
  for (const auto& [address, tail] : cases) {
    SCOPED_TRACE(address);
    EXPECT_EQ(CreateAndCheck(address), nullptr);
    const std::string message = kTime + "：标签T1错误：标签地址" + address + tail;
    EXPECT_EQ(engine_.DevMsg(), message);
    EXPECT_EQ(engine_.log, (Lines{message + "\r\n",
                                  kTime + "：标签T1错误报告：由于出现错误，系统在通讯时丢弃该标签！\r\n"}));
  }

  for (const std::string address : {"DI1:0,3.5", "DO1：0，15.15"}) {
    EXPECT_NE(CreateAndCheck(address), nullptr) << address;
    EXPECT_TRUE(engine_.log.empty());
  }

  // A record that claims a card model for a number beyond the block still names no card.
  auto stray = std::make_unique<TDLLTag>();
  stray->Name = "T1";
  stray->Address = "DI40:0,1.1";
  stray->TypeIndex = 2;
  stray->CardNo = 40;
  stray->ModelCode = kModelPci7505;
  stray->Channel = 1;
  engine_.CheckAddrValid(stray);
  EXPECT_EQ(stray, nullptr);
  EXPECT_NE(engine_.DevMsg().find("所指定的0040号板卡不存在。"), std::string::npos);
}

TEST_F(EngineAddress, TheAddressEditorShowsTheNormalForm) {
  TDeviceParams block = DefaultBlock();
  const std::tuple<std::string, std::string, bool> cases[] = {
      {"di1:0,3.5", "DI1:0,3.5", true},      {"DI7", "DI1:0,7.0", true},
      {"AD1:0,0.3", "AD1:0,-1.3", true},     {"ini_count1:0,0.0", "INI_COUNT1:0,-1.0", true},
      {"DI2:0,1.1", "DI2:-1,-1.-1", true},   {"DI33:0,1.1", "DI33:-1,-1.-1", true},
      {"XY1:0,1.1", "AD-1:-1,-1.-1", false},
  };
  for (const auto& [typed, normal, known] : cases) {
    std::string address = typed;
    EXPECT_EQ(engine_.CheckTagAddr(&block, address), known) << typed;
    EXPECT_EQ(address, normal);
  }

  block.card(2)->ModelCode = kModelPci7505;  // the model comes from the block handed in
  std::string address = "DI2:0,1.1";
  EXPECT_TRUE(engine_.CheckTagAddr(&block, address));
  EXPECT_EQ(address, "DI2:0,1.1");

  engine_.log.clear();
  address = "DI1:";
  EXPECT_TRUE(engine_.CheckTagAddr(&block, address));
  EXPECT_EQ(address, "DI1:0,0.0");
  const std::string header = kTime + "：标签提示：地址=DI1:中缺少";
  EXPECT_EQ(engine_.log,
            (Lines{header + "位号，系统采用缺省值0\r\n", header + "板卡基址，系统采用缺省值0\r\n",
                   header + "槽号，系统采用缺省值0\r\n"}));
}

TEST_F(EngineAddress, TheEditorsOwnEngineHasNoDefaultCard) {
  EngineProbe editor{false};  // the editor's temporary engine loads no parameters
  const TDeviceParams block = DefaultBlock();
  std::string address = "DI3.5";
  EXPECT_TRUE(editor.CheckTagAddr(&block, address));
  EXPECT_EQ(address, "DI0:-1,-1.-1") << "card 0 is no entry of the block";

  address = "di1:0,3.5";
  EXPECT_FALSE(editor.CheckTagAddr(nullptr, address));
  EXPECT_EQ(address, "di1:0,3.5");

  struct FailingEngine : EngineProbe {
    std::string GetTagTypeStr(const std::string&) override { throw std::runtime_error("type"); }
  } failing;
  failing.Params.ErrorLog = 1;
  failing.log.clear();
  EXPECT_FALSE(failing.CheckTagAddr(&block, address));
  EXPECT_EQ(address, "di1:0,3.5");
  EXPECT_EQ(failing.log, (Lines{kTime + "：TBaseDLLObject.CheckTagAddr异常！\r\n"}));
}

}  // namespace
}  // namespace vorel
