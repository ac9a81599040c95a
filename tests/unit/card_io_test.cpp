// Card I/O as the plant sees it: which registers an exchange touches on a card with every kind of
// register (a test model row with real offsets, wired to an in-process register bus), what values
// reach the tags, how outputs of one port combine, how counters are set up and read, what the run
// log traces, and how the PCI_7505, which has no port registers, stays untouched.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "card/DLLObj.h"
#include "engine/tag_types.h"
#include "engine_probe.h"
#include "platform/posix/test_stores.h"
#include "sim/portbus/register_bus.h"
#include "tests/common/manual_clock.h"

namespace vorel {
namespace {

const std::string kTime = "2026/12/7 9:05:03";  // the manual clock's date-time text
constexpr int32_t kBase = 0x220;

// A multifunction card: two DI and two DO registers, a 12-bit AD converter whose result is
// left-aligned by 4 bits, a 12-bit DA with an update register per channel, one counter group.
constexpr ModelRow TestModel() {
  ModelRow row;
  row.name = "TEST_CARD";
  row.di_ports.fill(kAbsent);
  row.do_ports.fill(kAbsent);
  row.di_ports[0] = 0x10;
  row.di_ports[1] = 0x11;
  row.do_ports[0] = 0x12;
  row.do_ports[1] = 0x13;
  row.ad = {.gain = 0x08,
            .channel = 0x09,
            .trigger = 0x0A,
            .status = 0x0B,
            .ready_bit = 7,
            .ready_value = 1,
            .data_low = 0x0C,
            .data_high = 0x0D,
            .resolution = 12,
            .right_shift = 4,
            .settle_delay = 0,
            .convert_delay = 0};
  row.da = {.data_low = 0x04, .data_high = 0x05, .update = 0x20, .resolution = 12, .left_shift = 4};
  row.counter_programming[0] = {.select_filter = 2,
                                .select_none = 0,
                                .select_clock = 1,
                                .control = 0x1B,
                                .gate = 0x1C,
                                .data = {0x18, 0x19, 0x1A}};
  row.counter_access[0] = {.control = 0x1B, .select_base = 0x1D, .data = {0x18, 0x19, 0x1A}};
  row.description.ad_ranges[0] = {0, "+/-10V"};
  row.description.ad_ranges[1] = {1, "0-5V"};
  row.description.ad_ranges[2] = {2, "-5V"};  // a name without its lower end
  row.description.da_ranges[0] = {0, "0-10V"};
  row.description.da_ranges[1] = {1, "+/-5V"};
  row.description.da_ranges[2] = {2, "mA"};  // no span at all
  for (int16_t m = 0; m < kCounterModeCount; ++m)
    row.description.counter_modes[static_cast<size_t>(m)] = {m, ""};
  return row;
}
constexpr std::array<ModelRow, 1> kTestTable = {TestModel()};

// A one-row table of the test model as `change` leaves it.
template <class Change>
constexpr std::array<ModelRow, 1> TestTableWith(Change change) {
  std::array<ModelRow, 1> table = {TestModel()};
  change(table[0]);
  return table;
}

// The register bus behind PortIo; one port can be made unreachable.
class BusIo : public PortIo {
 public:
  portbus::RegisterBus bus;
  int failing_port = -1;
  bool write(uint16_t port, uint8_t value) override {
    if (port == failing_port) return false;
    bus.write(port, value);
    return true;
  }
  std::optional<uint8_t> read(uint16_t port) override {
    if (port == failing_port) return std::nullopt;
    return bus.read(port);
  }
};

// The card layer with the vendor library found or not, and every card present unless listed.
class CardProbe : public testing_support::Probe<TCustomDLLObject> {
 public:
  bool library_found = true;
  std::set<int32_t> absent, faulting;
  std::vector<int32_t> checked;
  bool LoadLibs() override { return library_found; }
  bool VendorLoadLibs() { return TCustomDLLObject::LoadLibs(); }
  bool CardInSystem(int32_t card_no) override {
    checked.push_back(card_no);
    if (faulting.count(card_no)) throw std::runtime_error("card check faulted");
    return !absent.count(card_no);
  }
};

class CardIo : public ::testing::Test {
 protected:
  CardIo() {
    FullPDB(&block_);
    UseTable(kTestTable.data(), kTestTable.size());
    e_.set_port_io(&io_);
  }
  void UseTable(const ModelRow* rows, size_t count) {
    e_.use_model_table(rows, count);
    CopyPDB(block_, e_.Params);
  }
  TCardParams& Card1() { return *e_.Params.card(1); }
  TDLLTag& AddTag(TagTypeIndex type, int32_t channel, uint8_t value_type, int32_t card = 1) {
    return e_.AddTag(
        {.type = kTagTypes[type].Name, .card = card, .channel = channel, .value_type = value_type});
  }
  // A read command for `tag`, joined by the tags of the same register as the engine's refresh does.
  CommandChain ReadCommand(TDLLTag& tag, const std::vector<TDLLTag*>& others = {}) {
    std::vector<CommandChain> list;
    list.push_back(e_.CreatCommand(tag, list, false));
    for (TDLLTag* other : others) EXPECT_EQ(e_.CreatCommand(*other, list, false), nullptr);
    return std::move(list.front());
  }
  // The write command WriteExecute would build for a new value.
  CommandChain WriteCommand(TDLLTag& tag, const TVariant& value) {
    tag.Value = value;
    return e_.CreatCommand(tag, e_.CmdList, true);
  }
  bool Exchange(TCommand& c) {
    e_.RealComm(&c);
    return e_.GetResult();
  }
  std::vector<portbus::Access> Accesses() const { return io_.bus.log(); }
  static portbus::Access W(int port, int value) {
    return {true, static_cast<uint16_t>(port), static_cast<uint8_t>(value)};
  }
  static portbus::Access R(int port, int value) {
    return {false, static_cast<uint16_t>(port), static_cast<uint8_t>(value)};
  }

  platform::ManualClock clock_{5000};
  platform::ScopedClock use_clock_{clock_};
  testing_support::ScopedCurrentDir folder_;
  TDeviceParams block_{};
  BusIo io_;
  CardProbe e_;
};

// ---------------------------------------------------------------- the model table

TEST(CardModelTable, EveryRowKeepsItsInvariants) {
  for (const ModelRow& row : kModelTable) {
    SCOPED_TRACE(std::string(row.name));
    const auto offset_ok = [](int32_t offset) {
      return offset == kAbsent || (offset >= 0 && offset <= 0x7FFF);
    };
    for (int16_t offset : row.di_ports) EXPECT_TRUE(offset_ok(offset));
    for (int16_t offset : row.do_ports) EXPECT_TRUE(offset_ok(offset));
    for (int32_t offset : {row.ad.gain, row.ad.channel, row.ad.trigger, row.ad.status, row.ad.data_low,
                           row.ad.data_high, row.da.data_low, row.da.data_high})
      EXPECT_TRUE(offset_ok(offset));
    for (const CounterAccess& group : row.counter_access) {
      EXPECT_TRUE(offset_ok(group.control));
      for (int16_t offset : group.data) EXPECT_TRUE(offset_ok(offset));
    }
    // A converter either is absent as a whole or has a resolution the scaling can use.
    if (row.ad.status != kAbsent) {
      EXPECT_GT(full_scale(row.ad.resolution), 0);
    }
    const auto names_ok = [](const auto& list) {
      for (const RangeEntry& entry : list) {
        EXPECT_LE(entry.name.size(), 16u) << "a range or mode name fits 16 bytes of GBK text";
        EXPECT_TRUE(parse_range(entry.name).parsed) << entry.name;
      }
    };
    names_ok(row.description.ad_ranges);
    names_ok(row.description.da_ranges);
    names_ok(row.description.counter_modes);
  }
}

TEST(CardModelTable, ThePci7505HasNoPortRegisters) {
  const ModelRow& row = *model_row_of(kModelPci7505);
  EXPECT_EQ(row.name, "PCI_7505");
  EXPECT_TRUE(std::all_of(row.di_ports.begin(), row.di_ports.end(), [](int16_t o) { return o == kAbsent; }));
  EXPECT_TRUE(std::all_of(row.do_ports.begin(), row.do_ports.end(), [](int16_t o) { return o == kAbsent; }));
  EXPECT_EQ(row.ad.status, kAbsent);
  EXPECT_EQ(row.da.data_low, kAbsent);
  EXPECT_EQ(row.counter_access[0].select_base, kAbsent);
  EXPECT_EQ(row.description.counter_modes[5].name, "方式五");
  EXPECT_EQ(model_row_of(kModelNoCard), nullptr) << "code 1 means no card";
}

// Neither the PCI_7505 nor a card of a model the table does not know has a register to touch.
TEST_F(CardIo, NoPortPathTouchesARegisterOfThePci7505OrOfAnUnknownModel) {
  for (const bool unknown : {false, true}) {
    if (unknown)
      Card1().ModelCode = 99;
    else
      UseTable(kModelTable.data(), kModelTable.size());
    std::fill(std::begin(Card1().TCClockDivOn), std::end(Card1().TCClockDivOn), uint8_t{1});
    Card1().TCFilterDivOn[4] = 1;
    e_.InitCounters(1);
    for (int32_t type : {kTypeAD, kTypeDI, kTypeCount}) {
      TCommand read;
      read.CardNo = 1;
      read.TypeIndex = type;
      EXPECT_FALSE(Exchange(read)) << "type " << type << ": a register that is not there gives no answer";
    }
    for (int32_t type : {kTypeDA, kTypeDO, kTypeIniCount}) {
      TCommand write;
      write.CardNo = 1;
      write.TypeIndex = type;
      write.IsWrite = true;
      write.PortValue = 0xFF;
      Exchange(write);
    }
    EXPECT_TRUE(Accesses().empty()) << unknown;
  }
}

// ---------------------------------------------------------------- port trace

TEST_F(CardIo, PortAccessesAreTracedWithHexadecimalPortAndValue) {
  e_.Params.TraceLog = 1;
  e_.port_write(0x220, 0x5A);
  io_.bus.set_latch(0x223, 0x07);
  EXPECT_EQ(e_.port_read(0x223), 0x07);
  e_.port_write(0x1000, 0x0F);
  EXPECT_EQ(e_.log, (std::vector<std::string>{kTime + "：往端口 220H输出 5AH\r\n\r\n",
                                              kTime + "：从端口 223H读入 07H\r\n",
                                              kTime + "：往端口 1000H输出 0FH\r\n\r\n"}));
  e_.Params.TraceLog = 0;
  e_.port_write(0x220, 0x5A);
  EXPECT_EQ(e_.log.size(), 3u);
}

// ---------------------------------------------------------------- digital ports

TEST_F(CardIo, DigitalInputChannel10ReadsRegister1IntoTheTagsOfChannels8To15) {
  std::vector<TDLLTag*> lines;
  for (int32_t ch = 8; ch <= 15; ++ch) lines.push_back(&AddTag(kTypeDI, ch, 1));
  TDLLTag& whole = AddTag(kTypeDI, 10, 0);
  AddTag(kTypeDI, 3, 1);                                       // another register: not in this command
  std::rotate(lines.begin(), lines.begin() + 2, lines.end());  // built for channel 10
  CommandChain c = ReadCommand(*lines.front(), {lines.begin() + 1, lines.end()});
  c->TagIds.push_back(whole.Position);
  EXPECT_EQ(c->ChanLow, 8);
  EXPECT_EQ(c->ChanHigh, 15);
  io_.bus.set_latch(kBase + 0x11, 0xA5);
  ASSERT_TRUE(Exchange(*c));
  EXPECT_EQ(Accesses(), (std::vector<portbus::Access>{R(kBase + 0x11, 0xA5)}));
  for (int32_t ch = 8; ch <= 15; ++ch) {
    const TDLLTag& tag = *e_.TagList[static_cast<size_t>(ch - 8)];
    EXPECT_EQ(tag.Value.bool_value(), ((0xA5 >> (ch - 8)) & 1) == 1) << "channel " << ch;
  }
  EXPECT_EQ(whole.Value.as_double(), 0xA5) << "a number tag takes the whole port";
}

TEST_F(CardIo, ATextTagEndsTheDistributionOfAnInput) {
  TDLLTag& first = AddTag(kTypeDI, 0, 1);
  TDLLTag& text = AddTag(kTypeDI, 1, 2);
  TDLLTag& after = AddTag(kTypeDI, 2, 1);
  CommandChain c = ReadCommand(first, {&text, &after});
  io_.bus.set_latch(kBase + 0x10, 0xFF);
  ASSERT_TRUE(Exchange(*c));
  EXPECT_TRUE(first.Value.bool_value());
  EXPECT_EQ(text.Value.string_value(), "");
  EXPECT_FALSE(after.Value.bool_value()) << "the boolean tag after the text tag keeps its value";
}

TEST_F(CardIo, OutputBitsOfOnePortCombineIntoOnePortValue) {
  TDLLTag& bit3 = AddTag(kTypeDO, 3, 1);
  TDLLTag& bit4 = AddTag(kTypeDO, 4, 1);
  TDLLTag& other_port = AddTag(kTypeDO, 12, 1);
  bit3.PortImage = 0x00F0;
  CommandChain on = WriteCommand(bit3, TVariant::Bool(true));
  ASSERT_NE(on, nullptr);
  EXPECT_EQ(on->PortValue, 0x00F8);
  EXPECT_EQ(on->ChanLow, 0);
  EXPECT_EQ(on->ChanHigh, 7);
  EXPECT_EQ(bit4.PortImage, 0x00F8) << "the other bits of the port share the image";
  EXPECT_EQ(other_port.PortImage, 0);
  CommandChain off = WriteCommand(bit4, TVariant::Bool(false));
  EXPECT_EQ(off->PortValue, 0x00E8);
  ASSERT_TRUE(Exchange(*off));
  EXPECT_EQ(Accesses(), (std::vector<portbus::Access>{W(kBase + 0x12, 0xE8)}));
  CommandChain high = WriteCommand(other_port, TVariant::String("1"));
  Exchange(*high);
  EXPECT_EQ(io_.bus.latch(kBase + 0x13), 0x10) << "channel 12 is bit 4 of register 1";
  EXPECT_EQ(WriteCommand(AddTag(kTypeDO, 0, 1), TVariant::Bool(true))->PortValue, 1) << "channel 0 is bit 0";
}

TEST_F(CardIo, AWriteRefusedByAFullQueueLeavesThePortImageAlone) {
  TDLLTag& bit0 = AddTag(kTypeDO, 0, 1);
  TDLLTag& bit1 = AddTag(kTypeDO, 1, 1);
  e_.Running = e_.ParamsLoaded = true;
  for (int i = 0; i < 300; ++i) ASSERT_TRUE(e_.WriteExecute(bit0.TagID, TVariant::Bool(i % 2 == 0)));
  ASSERT_EQ(e_.PendingWrites.size(), 300u);
  const int32_t image = bit1.PortImage;
  EXPECT_FALSE(e_.WriteExecute(bit1.TagID, TVariant::Bool(true))) << "the queue is full";
  EXPECT_EQ(bit1.PortImage, image) << "a refused bit must not go out with the next write to the port";
  EXPECT_EQ(bit0.PortImage, image);
  EXPECT_FALSE(bit1.Value.bool_value());
}

// ---------------------------------------------------------------- command building

TEST_F(CardIo, CommandsCarryTheirTextsAndTheRangeOfTheirChannel) {
  Card1().ADRange[5] = 1;
  Card1().ADRange[2] = 3;  // none of the DI tag's on channel 2
  Card1().DARange[1] = 1;
  Card1().TCMode[2] = 4;
  CommandChain read = ReadCommand(AddTag(kTypeAD, 5, 0));
  EXPECT_EQ(read->CmdText, "向设备发送读标签 T1 命令");
  EXPECT_EQ(read->AnswerText, "设备返回读标签 T1 命令的响应");
  EXPECT_EQ(read->RangeIndex, 1);
  CommandChain write = WriteCommand(AddTag(kTypeDA, 1, 0), TVariant::Double(2.5));
  EXPECT_EQ(write->CmdText, "向设备发送写标签 T2 命令");
  EXPECT_EQ(write->AnswerText, "设备返回写标签 T2 命令的响应");
  EXPECT_EQ(write->RangeIndex, 1);
  EXPECT_FLOAT_EQ(write->RawValue, 2.5f) << "an analog output keeps its fraction for the scaling";
  EXPECT_EQ((std::pair{write->ChanLow, write->ChanHigh}), (std::pair{1, 1})) << "one output per register";
  EXPECT_EQ(WriteCommand(AddTag(kTypeIniCount, 2, 0), TVariant::Int(7))->RangeIndex, 4);
  EXPECT_EQ(ReadCommand(AddTag(kTypeDI, 2, 1))->RangeIndex, 0);
  // Every type but the digital ones has one channel to a register.
  for (const CommandChain& c :
       {ReadCommand(AddTag(kTypeCount, 3, 0)), WriteCommand(AddTag(kTypeIniCount, 3, 0), TVariant::Int(7)),
        WriteCommand(AddTag(kTypeFreq, 3, 0), TVariant::Int(7))})
    EXPECT_EQ((std::pair{c->ChanLow, c->ChanHigh}), (std::pair{3, 3})) << c->TypeIndex;
  EXPECT_EQ((std::pair{read->ChanLow, read->ChanHigh}), (std::pair{5, 5}));
  TDLLTag& long_name = AddTag(kTypeAD, 6, 0);
  long_name.Name = std::string(250, 'x');
  EXPECT_EQ(ReadCommand(long_name)->CmdText, "向设备发送读标签 " + std::string(238, 'x'))
      << "cut to 255 bytes";
}

TEST_F(CardIo, WriteCommandsAreTracedWhileTheBudgetLasts) {
  e_.Params.TraceLog = 1;
  e_.WriteLogBudget = 2;
  set_model_name(*e_.Params.card(1), "PCI_7505");
  WriteCommand(AddTag(kTypeDO, 3, 1), TVariant::Bool(true));
  WriteCommand(AddTag(kTypeDA, 0, 0), TVariant::Double(2.5));
  WriteCommand(AddTag(kTypeDO, 4, 1), TVariant::Bool(true));
  EXPECT_EQ(e_.log,
            (std::vector<std::string>{
                kTime + "：生成标签T1的写命令,写入值=true(该标签地址=DO1:0,3.0，属于PCI_7505设备)。\r\n",
                kTime + "：生成标签T2的写命令,写入值=2.5(该标签地址=DA1:0,0.0，属于PCI_7505设备)。\r\n"}));
  EXPECT_EQ(e_.WriteLogBudget, 0);
}

// ---------------------------------------------------------------- analog input

TEST(CardFiltering, TheTrimmedMeanDropsTheExtremes) {
  std::vector<int32_t> tens = {70, 10, 100, 40, 20, 90, 66, 30, 80, 50};
  EXPECT_EQ(TrimmedMean(tens.data(), 10), 52) << "mean of 40, 50, 66";
  std::vector<int32_t> four = {9, 1, 30, 2};
  EXPECT_EQ(TrimmedMean(four.data(), 4), 2) << "the smallest and the two largest are dropped";
  int32_t one = -7;
  EXPECT_EQ(TrimmedMean(&one, 1), -7) << "a single sample is its own mean";
  EXPECT_EQ(TrimmedMean(nullptr, 0), 0);
}

TEST(CardScaling, RangeNamesGiveTheEngineeringSpan) {
  const RangeSpan bipolar = parse_range("+/-10V");
  EXPECT_FLOAT_EQ(*ScaleAD(bipolar, 12, 0), -10.0f);
  EXPECT_FLOAT_EQ(*ScaleAD(bipolar, 12, 4095), 10.0f);
  EXPECT_FLOAT_EQ(*ScaleAD(parse_range("0-5V"), 12, 4095), 5.0f);
  EXPECT_FLOAT_EQ(*ScaleAD(parse_range("1.5-2.5V"), 8, 255), 2.5f);
  EXPECT_FLOAT_EQ(*ScaleAD(parse_range("1.5-2.5V"), 8, 0), 1.5f);
  const RangeSpan ten = parse_range("0-10V");
  EXPECT_EQ(*ScaleDA(ten, 12, 5.0), 2048) << "2047.5 rounds to the even neighbour";
  EXPECT_EQ(*ScaleDA(parse_range("+/-5V"), 12, -5.0), 0);
  EXPECT_EQ(*ScaleDA(parse_range("+/-5V"), 12, 2.5), 3071) << "7.5 V above the low end: 3071.25";
  EXPECT_EQ(*ScaleDA(ten, 12, -1.0), 0) << "below the range the output stays at its low end";
  EXPECT_EQ(*ScaleDA(ten, 12, 11.0), 4095) << "above the range it stays at its high end";
  EXPECT_FALSE(ScaleDA(parse_range("mA"), 12, 1.0)) << "no span to scale into";
  EXPECT_FALSE(ScaleAD(bipolar, -1, 100)) << "no converter";
  std::vector<int32_t> scales;  // of 1 to 16 bits; no other width is a converter's
  for (const int32_t bits : {-1, 0, 1, 12, 16, 17}) scales.push_back(full_scale(bits));
  EXPECT_EQ(scales, (std::vector<int32_t>{0, 0, 1, 4095, 65535, 0}));
  for (const char* name : {"-5V", "+/-V"}) {
    const RangeSpan broken = parse_range(name);
    EXPECT_FALSE(broken.parsed) << name;
    EXPECT_EQ(broken.lo, 0) << name;
    EXPECT_EQ(broken.hi, 0) << name;
  }
}

class CardAnalogInput : public CardIo {
 protected:
  TDLLTag& tag_ = AddTag(kTypeAD, 5, 0);
  CommandChain read() { return ReadCommand(tag_); }
};

TEST_F(CardAnalogInput, AReadSelectsChannelAndGainAndAveragesItsSamples) {
  Card1().ADRange[5] = 1;  // 0-5V, gain code 1
  for (int32_t k : {7, 1, 10, 4, 2, 9, 6, 3, 8, 5}) io_.bus.push_sample(static_cast<uint16_t>(k * 400 << 4));
  io_.bus.attach_adc({kBase + 0x0A, kBase + 0x0B, 7, 1, kBase + 0x0C, kBase + 0x0D});
  CommandChain c = read();
  ASSERT_TRUE(Exchange(*c));
  const std::vector<portbus::Access> log = Accesses();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0], W(kBase + 0x09, 5));
  EXPECT_EQ(log[1], W(kBase + 0x08, 1));
  EXPECT_EQ(log[2], W(kBase + 0x0A, 0xFF)) << "a row without a start byte of its own writes FF";
  EXPECT_EQ(io_.bus.conversions(), 10);
  EXPECT_DOUBLE_EQ(tag_.Value.as_double(), static_cast<float>(5.0 * 2000 / 4095))
      << "mean of 1600, 2000, 2400";
}

TEST_F(CardAnalogInput, AConverterThatNeverFinishesGivesNoValue) {
  Card1().ADFilterNums = 3;
  io_.bus.attach_adc({kBase + 0x0A, kBase + 0x0B, 7, 1, kBase + 0x0C, kBase + 0x0D});
  io_.bus.fail_conversions(100);
  tag_.Value = TVariant::Double(1.25);
  CommandChain c = read();
  EXPECT_FALSE(Exchange(*c));
  EXPECT_EQ(io_.bus.conversions(), 7) << "gives up after twice the filter count";
  EXPECT_EQ(tag_.Value.as_double(), 1.25);
}

TEST_F(CardAnalogInput, ACardWhoseModelHasNoConverterGivesNoValue) {
  UseTable(kModelTable.data(), kModelTable.size());  // the driver's own: PCI_7505 has none
  io_.bus.attach_adc({kBase + 0x0A, kBase + 0x0B, 7, 1, kBase + 0x0C, kBase + 0x0D});
  tag_.Value = TVariant::Double(1.25);
  CommandChain c = read();
  EXPECT_FALSE(Exchange(*c));
  EXPECT_EQ(io_.bus.conversions(), 0);
  EXPECT_EQ(tag_.Value.as_double(), 1.25);
}

TEST_F(CardAnalogInput, AFilterCountOfZeroTakesOneSample) {
  Card1().ADFilterNums = 0;
  io_.bus.attach_adc({kBase + 0x0A, kBase + 0x0B, 7, 1, kBase + 0x0C, kBase + 0x0D});
  io_.bus.push_sample(4095 << 4);
  CommandChain c = read();
  ASSERT_TRUE(Exchange(*c));
  EXPECT_EQ(io_.bus.conversions(), 1);
  EXPECT_FLOAT_EQ(static_cast<float>(tag_.Value.as_double()), 10.0f);
}

// Words that need no shift are taken as they are, sixteen bits of them at most; a model row whose
// shift leaves the word (32 bits or more) reads and writes nothing of it.
TEST_F(CardAnalogInput, ConverterWordsAreShiftedOnlyWithinTheirWidth) {
  static constexpr auto kShifted = [](int32_t shift) {
    return TestTableWith([shift](ModelRow& row) {
      row.ad.resolution = row.da.resolution = 16;
      row.ad.ready_bit = 0;
      row.ad.right_shift = row.da.left_shift = shift;
    });
  };
  static constexpr std::array<ModelRow, 1> kAligned = kShifted(0), kBeyond = kShifted(32);
  const struct {
    const ModelRow* row;
    float read;         // full-scale sample on +/-10V
    uint8_t low, high;  // 10 V written on 0-10V
  } kCases[] = {{kAligned.data(), 10.0f, 0xFF, 0xFF}, {kBeyond.data(), -10.0f, 0x00, 0x00}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.row->ad.right_shift);
    UseTable(c.row, 1);
    Card1().ADFilterNums = 1;
    io_.bus.attach_adc({kBase + 0x0A, kBase + 0x0B, 0, 1, kBase + 0x0C, kBase + 0x0D});
    io_.bus.push_sample(0xFFFF);
    CommandChain r = read();
    ASSERT_TRUE(Exchange(*r));
    EXPECT_FLOAT_EQ(static_cast<float>(tag_.Value.as_double()), c.read);
    io_.bus.clear_log();
    CommandChain w = WriteCommand(AddTag(kTypeDA, 0, 0), TVariant::Double(10.0));
    ASSERT_TRUE(Exchange(*w));
    EXPECT_EQ(Accesses().front(), W(kBase + 0x04, c.low));
    EXPECT_EQ(Accesses()[1], W(kBase + 0x05, c.high));
  }
}

TEST_F(CardAnalogInput, AnUnreadableRangeNameFailsTheReadAndIsLogged) {
  e_.Params.ErrorLog = 1;
  Card1().ADRange[5] = 2;  // "-5V"
  Card1().ADFilterNums = 1;
  io_.bus.attach_adc({kBase + 0x0A, kBase + 0x0B, 7, 1, kBase + 0x0C, kBase + 0x0D});
  io_.bus.push_sample(1000 << 4);
  tag_.Value = TVariant::Double(3);
  CommandChain c = read();
  EXPECT_FALSE(Exchange(*c)) << "a reading without a scale is no answer, not a good zero";
  EXPECT_EQ(tag_.Value.as_double(), 3) << "the tag keeps its last good value";
  EXPECT_EQ(e_.LogCount("：量程名称\"-5V\"中没有数值"), 1);
  Card1().ADRange[5] = 1;  // "0-5V"
  io_.bus.push_sample(1000 << 4);
  EXPECT_TRUE(Exchange(*read()));
  EXPECT_EQ(e_.LogCount("：量程名称"), 1) << "a range that reads logs nothing";
}

TEST_F(CardAnalogInput, ARangeIndexBeyondTheListUsesTheFirstRange) {
  Card1().ADRange[5] = 200;
  Card1().ADFilterNums = 1;
  io_.bus.attach_adc({kBase + 0x0A, kBase + 0x0B, 7, 1, kBase + 0x0C, kBase + 0x0D});
  io_.bus.push_sample(0);
  CommandChain c = read();
  ASSERT_TRUE(Exchange(*c));
  EXPECT_EQ(Accesses()[1], W(kBase + 0x08, 0)) << "gain code of range 0";
  EXPECT_FLOAT_EQ(static_cast<float>(tag_.Value.as_double()), -10.0f);
}

// ---------------------------------------------------------------- analog output

TEST_F(CardIo, AnAnalogWriteIsLatchedByTheUpdateRegisterOfItsChannel) {
  io_.bus.attach_dac({kBase + 0x04, kBase + 0x05, kBase + 0x20, 2});
  CommandChain c = WriteCommand(AddTag(kTypeDA, 1, 0), TVariant::Double(5.0));  // 0-10V
  ASSERT_TRUE(Exchange(*c));
  EXPECT_EQ(Accesses(),
            (std::vector<portbus::Access>{W(kBase + 0x04, 0x00), W(kBase + 0x05, 0x80), R(kBase + 0x21, 0)}));
  EXPECT_EQ(io_.bus.dac_output(1), 2048 << 4);
}

TEST_F(CardIo, WithoutAnUpdateRegisterEachChannelHasItsOwnRegisterPair) {
  static constexpr auto kPairs = TestTableWith([](ModelRow& row) { row.da.update = kAbsent; });
  UseTable(kPairs.data(), kPairs.size());
  for (const int channel : {1, 3}) {
    io_.bus.clear_log();
    CommandChain c = WriteCommand(AddTag(kTypeDA, channel, 0), TVariant::Double(10.0));
    ASSERT_TRUE(Exchange(*c));
    const int low = kBase + 0x04 + 2 * channel;
    EXPECT_EQ(Accesses(), (std::vector<portbus::Access>{W(low, 0xF0), W(low + 1, 0xFF)})) << channel;
  }
}

// Only a converter wider than eight bits has a high byte to write, whether the channels share
// their data registers or each has a pair of its own.
TEST_F(CardIo, AnEightBitConverterTakesNoHighByte) {
  static constexpr auto kModel = [](int32_t bits, bool pairs) {
    return TestTableWith([=](ModelRow& row) {
      row.da.resolution = bits;
      row.da.left_shift = 0;
      if (pairs) row.da.update = kAbsent;
    });
  };
  static constexpr std::array<ModelRow, 1> kShared8 = kModel(8, false), kShared9 = kModel(9, false),
                                           kPairs8 = kModel(8, true), kPairs9 = kModel(9, true);
  const struct {
    const ModelRow* row;
    std::vector<portbus::Access> accesses;  // of 10 V on 0-10V
  } kCases[] = {
      {kShared8.data(), {W(kBase + 0x04, 0xFF), R(kBase + 0x20, 0)}},
      {kShared9.data(), {W(kBase + 0x04, 0xFF), W(kBase + 0x05, 0x01), R(kBase + 0x20, 0)}},
      {kPairs8.data(), {W(kBase + 0x04, 0xFF)}},
      {kPairs9.data(), {W(kBase + 0x04, 0xFF), W(kBase + 0x05, 0x01)}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(&c - kCases);
    UseTable(c.row, 1);
    io_.bus.clear_log();
    CommandChain w = WriteCommand(AddTag(kTypeDA, 0, 0), TVariant::Double(10.0));
    ASSERT_TRUE(Exchange(*w));
    EXPECT_EQ(Accesses(), c.accesses);
  }
}

TEST_F(CardIo, AnAnalogWriteWithoutASpanWritesNothing) {
  Card1().DARange[0] = 2;  // "mA"
  CommandChain c = WriteCommand(AddTag(kTypeDA, 0, 0), TVariant::Double(4.0));
  EXPECT_FALSE(Exchange(*c));
  EXPECT_TRUE(Accesses().empty());
}

// ---------------------------------------------------------------- counters

TEST_F(CardIo, StartUpLoadsTheDividersOfTheCountersInUse) {
  const int group = io_.bus.attach_counters(kBase + 0x1B, {kBase + 0x18, kBase + 0x19, kBase + 0x1A});
  Card1().TCClockDivOn[0] = 1;
  Card1().TCClockDiv[0] = 1000;
  Card1().TCClockDivOn[1] = 1;  // the filter divider takes precedence
  Card1().TCClockDiv[1] = 7;
  Card1().TCFilterDivOn[1] = 1;
  Card1().TCFilterDiv[1] = 50;
  e_.InitCounters(1);
  EXPECT_EQ(Accesses(),
            (std::vector<portbus::Access>{
                W(kBase + 0x1C, 0x01), W(kBase + 0x1B, 0x36), W(kBase + 0x18, 0xE8), W(kBase + 0x18, 0x03),
                W(kBase + 0x1D, 1),  // clock division selected for counter 0
                W(kBase + 0x1C, 0x03), W(kBase + 0x1B, 0x76), W(kBase + 0x19, 50), W(kBase + 0x19, 0),
                W(kBase + 0x1E, 2),  // filter division for counter 1
                W(kBase + 0x1F, 0),  // counter 2 counts undivided
            }));
  EXPECT_EQ(io_.bus.loaded_count(group, 0), 1000);
  EXPECT_EQ(io_.bus.loaded_count(group, 1), 50);
  EXPECT_EQ(io_.bus.mode(group, 1), 3);
}

TEST_F(CardIo, ACounterReadsHowFarItCountedDownFromItsInitialValue) {
  const int group = io_.bus.attach_counters(kBase + 0x1B, {kBase + 0x18, kBase + 0x19, kBase + 0x1A});
  Card1().TCMode[1] = 2;
  CommandChain load = WriteCommand(AddTag(kTypeIniCount, 1, 0), TVariant::Int(5000));
  ASSERT_TRUE(Exchange(*load));
  EXPECT_EQ(Accesses().front(), W(kBase + 0x1B, 0x74)) << "counter 1, low then high byte, mode 2";
  EXPECT_EQ(io_.bus.loaded_count(group, 1), 5000);
  EXPECT_EQ(io_.bus.mode(group, 1), 2);
  EXPECT_EQ(IniCountTable(1, 1), 5000);

  TDLLTag& counted = AddTag(kTypeCount, 1, 0);
  CommandChain read = ReadCommand(counted);
  io_.bus.set_count(group, 1, 1200);
  io_.bus.clear_log();
  ASSERT_TRUE(Exchange(*read));
  EXPECT_EQ(Accesses().front(), W(kBase + 0x1B, 0x40)) << "latch command for counter 1";
  EXPECT_EQ(counted.Value.as_double(), 3800);
  io_.bus.set_count(group, 1, 6000);
  ASSERT_TRUE(Exchange(*read));
  EXPECT_EQ(counted.Value.as_double(), 0) << "never below zero";
  set_ini_count_table(1, 1, 0);
}

TEST_F(CardIo, CountersBeyondTheModelHaveNoRegisters) {
  CommandChain load = WriteCommand(AddTag(kTypeIniCount, 12, 0), TVariant::Int(99));
  Exchange(*load);
  EXPECT_EQ(IniCountTable(1, 12), 0) << "the table keeps channels 0..11 only";
  set_ini_count_table(kCardCount, 11, 7);  // the last card's last counter has its place
  EXPECT_EQ(IniCountTable(kCardCount, 11), 7);
  set_ini_count_table(kCardCount, 11, 0);
  CommandChain read = ReadCommand(AddTag(kTypeCount, 12, 0));
  EXPECT_FALSE(Exchange(*read));
  EXPECT_TRUE(Accesses().empty());
}

// ---------------------------------------------------------------- failing port access

TEST_F(CardIo, AFailedPortAccessIsLoggedOnceAndGivesNoValue) {
  TDLLTag& tag = AddTag(kTypeDI, 9, 1);
  tag.Value = TVariant::Bool(true);
  CommandChain c = ReadCommand(tag);
  io_.failing_port = kBase + 0x11;
  EXPECT_FALSE(Exchange(*c));
  EXPECT_FALSE(Exchange(*c));
  EXPECT_TRUE(tag.Value.bool_value());
  EXPECT_EQ(e_.log, (std::vector<std::string>{kTime + "：从端口 231H读入失败\r\n"}));
}

TEST_F(CardIo, AFailedPortWriteFailsTheExchangeAndIsLoggedOnce) {
  CommandChain on = WriteCommand(AddTag(kTypeDO, 3, 1), TVariant::Bool(true));
  io_.failing_port = kBase + 0x12;
  EXPECT_FALSE(Exchange(*on));
  EXPECT_FALSE(Exchange(*on));
  EXPECT_EQ(io_.bus.latch(kBase + 0x12), 0) << "nothing reached the port";
  EXPECT_EQ(e_.log, (std::vector<std::string>{kTime + "：往端口 232H输出失败\r\n"}));
  io_.failing_port = -1;
  EXPECT_TRUE(Exchange(*on)) << "the port reached again";
  EXPECT_EQ(io_.bus.latch(kBase + 0x12), 0x08);
}

class CardPortComponent : public CardIo {
 protected:
  CardPortComponent() { e_.set_port_io(nullptr); }
  ~CardPortComponent() override { platform::test_stores::set_library_file(platform::kPortComponentName, ""); }
};

TEST_F(CardPortComponent, WithoutTheComponentNoPortIsAccessedAndItIsLoggedOnce) {
  platform::test_stores::set_library_file(platform::kPortComponentName, "/nonexistent/inpout32.dll");
  CommandChain c = ReadCommand(AddTag(kTypeDI, 0, 1));
  EXPECT_FALSE(Exchange(*c));
  EXPECT_FALSE(Exchange(*c));
  EXPECT_EQ(e_.port_read(0x223), 0) << "a port without the component reads as 0";
  EXPECT_EQ(e_.LogCount("：端口访问组件inpout32.dll没有找到，无法读写板卡端口"), 1);
  EXPECT_EQ(e_.log.size(), 1u);
}

TEST_F(CardPortComponent, TheComponentIsBoundByNameAndReleasedAtStop) {
  platform::test_stores::set_library_file(platform::kPortComponentName, PORTBUS_PATH);
  platform::LibraryHandle bus = platform::load_library(PORTBUS_PATH);
  ASSERT_NE(bus, nullptr);
  auto reset = reinterpret_cast<void (*)()>(platform::resolve(bus, "portbus_reset"));
  auto set_latch = reinterpret_cast<void (*)(int, int)>(platform::resolve(bus, "portbus_set_latch"));
  auto fault_port = reinterpret_cast<void (*)(int)>(platform::resolve(bus, "portbus_fault_port"));
  reset();
  set_latch(kBase + 0x10, 0x02);
  TDLLTag& tag = AddTag(kTypeDI, 1, 1);
  CommandChain c = ReadCommand(tag);
  ASSERT_TRUE(Exchange(*c));
  EXPECT_TRUE(tag.Value.bool_value());
  EXPECT_NE(e_.port_library_handle(), nullptr);

  fault_port(kBase + 0x10);  // the component faults: the exchange fails, the host lives on
  EXPECT_FALSE(Exchange(*c));
  EXPECT_EQ(e_.LogCount("：从端口 230H读入失败"), 1);
  reset();

  e_.Stop();
  EXPECT_EQ(e_.port_library_handle(), nullptr);
  platform::free_library(bus);
}

// ---------------------------------------------------------------- start-up

class CardStartup : public CardIo {
 protected:
  CardStartup() {
    block_.DebugSwitch = 0;
    for (int32_t n : {1, 2}) {
      block_.card(n)->ModelCode = kModelPci7505;
      set_model_name(*block_.card(n), "PCI_7505");
    }
  }
};

TEST_F(CardStartup, AnAbsentCardIsReportedAndAPresentOneCarriesTheStart) {
  e_.absent = {1};
  ASSERT_TRUE(e_.IniParm(&block_));
  EXPECT_EQ(e_.checked, (std::vector<int32_t>{1, 2}));
  const std::string absent = kTime + ": 本机不存在1号板卡：PCI_7505\r\n";
  EXPECT_EQ(e_.log, (std::vector<std::string>{absent, kTime + ": 请察看设备列表情况！\r\n"}))
      << "detailed logging is off right after construction: no line for the present card";
  EXPECT_EQ(e_.sErrEvent(), absent);
  EXPECT_FALSE(Accesses().empty()) << "the counters of the cards were loaded";
  e_.log.clear();
  e_.EnLog_ = true;
  e_.absent.clear();
  ASSERT_TRUE(e_.IniParm(&block_));
  EXPECT_EQ(e_.log[0], kTime + "：'正确加载1号板卡：PCI_7505\r\n");
}

TEST_F(CardStartup, AStartWithEveryCardAbsentFails) {
  e_.absent = {1, 2};
  EXPECT_FALSE(e_.IniParm(&block_));
  EXPECT_EQ(e_.LogCount("本机不存在"), 2);
}

TEST_F(CardStartup, ACardOfAModelTheDriverDoesNotKnowIsNotUsed) {
  block_.card(1)->ModelCode = 7;
  ASSERT_TRUE(e_.IniParm(&block_));
  EXPECT_EQ(e_.checked, (std::vector<int32_t>{2}));
  EXPECT_EQ(e_.LogCount("1号板卡的型号代码7不在型号表中"), 1);
  EXPECT_EQ(e_.LogCount(": 本机不存在1号板卡：PCI_7505"), 1);
}

TEST_F(CardStartup, AFaultingCheckAfterAPresentCardFailsTheStart) {
  block_.ErrorLog = 1;
  e_.faulting = {2};
  EXPECT_FALSE(e_.IniParm(&block_));
  EXPECT_EQ(e_.log.back(), kTime + "：TDLLObject.CardInSystem异常！\r\n");
  e_.faulting = {1};
  EXPECT_TRUE(e_.IniParm(&block_)) << "a present card after the fault carries the start";
}

TEST_F(CardStartup, WithoutTheVendorLibraryNoCardIsChecked) {
  e_.library_found = false;
  EXPECT_FALSE(e_.IniParm(&block_));
  EXPECT_TRUE(e_.checked.empty());
  EXPECT_FALSE(e_.library_loaded());

  platform::test_stores::set_library_file("pci7505.dll", "/nonexistent/pci7505.dll");
  EXPECT_FALSE(e_.VendorLoadLibs());
  platform::test_stores::set_library_file("pci7505.dll", "");
  EXPECT_EQ(e_.sErrEvent(), kTime + "：厂商提供的硬件驱动库pci7505.dll没有找到，请重新安装驱动程序");
}

// ---------------------------------------------------------------- in the operation machine

class CardRunning : public CardIo {
 protected:
  CardRunning() {
    block_.TraceLog = 1;
    block_.ErrorLog = 1;
    std::vector<HostTag> tags;
    for (int32_t ch = 0; ch < 8; ++ch)
      tags.push_back(testing_support::host_tag(ch + 1, testing_support::tag_address("DI", 1, ch)));
    EXPECT_TRUE(e_.IniDLLObj(&block_, tags));
    EXPECT_EQ(e_.CmdList.size(), 1u) << "one register, one read command";
  }
};

TEST_F(CardRunning, AnsweredReadsUpdateTheTagsWithoutProtocolLines) {
  io_.bus.set_latch(kBase + 0x10, 0x81);
  e_.ReadExecute();  // initialise and send the first read
  clock_.advance(10);
  e_.ReadExecute();  // its answer
  EXPECT_GE(e_.ReadCommTotal, 1);
  EXPECT_TRUE(e_.find_tag(1)->Value.bool_value());
  EXPECT_FALSE(e_.find_tag(2)->Value.bool_value());
  EXPECT_TRUE(e_.find_tag(8)->Value.bool_value());
  EXPECT_GE(e_.LogCount("：从端口 230H读入 81H"), 1);
  EXPECT_EQ(e_.LogCount("：发送读标签命令="), 0);
  EXPECT_EQ(e_.LogCount("：应答信息通过校验检查。"), 0);
}

TEST_F(CardRunning, AnUnreachablePortTimesOutWithoutProtocolDetails) {
  io_.failing_port = kBase + 0x10;
  e_.ReadExecute();
  clock_.advance(kAnswerTimeoutMs + 1);
  e_.ReadExecute();
  EXPECT_EQ(e_.sErrEvent(), "通讯超时错，期待设备应答");
  EXPECT_EQ(e_.LogCount("：通讯读超时错，执行操作="), 0);
}

}  // namespace
}  // namespace vorel
