// The card I/O object: each exchange of the operation machine becomes register accesses on the
// card's I/O ports, driven by the model table. Ports are reached through a PortIo (the in/out
// instructions on the 9x family, the port component on NT), every access can be traced to the run
// log, and read values are scaled and handed to the tags of the command.
#include "card/DLLObj.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#include "engine/tag_types.h"
#include "support/delphi.h"
#include "support/gbk_text.h"

namespace vorel {

namespace {

// Channels one register carries, by tag type: a DI or DO register holds 8 lines, every other
// type has one channel per register.
constexpr std::array<int32_t, kTagTypes.size()> kBitsPerRegister = {1, 1, 8, 8, 1, 1, 1};

int32_t BitsPerRegister(int32_t type_index) {
  return type_index >= 0 && type_index < static_cast<int32_t>(kBitsPerRegister.size())
             ? kBitsPerRegister[type_index]
             : 1;
}

// A busy wait of count × 30000 turns blocks the host's thread; a damaged row must not hang it.
constexpr int32_t kMaxDelayCount = 1000;
constexpr int32_t kDelayTurns = 30000;
// Samples per AD read: the card entry's filter count, kept to what a poll can afford.
constexpr int32_t kMaxFilterSamples = 1000;
constexpr size_t kShortStringMax = 255;

constexpr char kVendorLibrary[] = "pci7505.dll";

// Initial counts by card number 1..32 and counter channel 0..11, shared by every engine.
std::array<std::array<std::atomic<int32_t>, kModelCounters>, kCardCount + 1> g_ini_counts{};

// IntToHex: upper case, at least `digits` digits, never cut.
std::string Hex(uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<size_t>(digits) - text.size(), '0');
  return text;
}

// A short string keeps at most 255 bytes; the cut never splits a double-byte character.
std::string ShortText(std::string text) {
  if (text.size() <= kShortStringMax) return text;
  size_t end = 0;
  while (end < text.size()) {
    const size_t next = end + (gbk::IsLeadByte(static_cast<unsigned char>(text[end])) ? 2 : 1);
    if (next > kShortStringMax) break;
    end = next;
  }
  text.resize(end);
  return text;
}

// Shifts that the hardware words can take; a shift outside 0..31 leaves nothing.
uint32_t ShiftRight(uint32_t value, int32_t n) { return n >= 0 && n < 32 ? value >> n : 0; }
uint32_t ShiftLeft(uint32_t value, int32_t n) { return n >= 0 && n < 32 ? value << n : 0; }

// A register is used only when the model has it and its port does not wrap below the card's base
// address (a port of base + offset in 16 bits).
bool Usable(int32_t base, int32_t offset) {
  return offset != kAbsent && RegisterPort(base, offset) >= static_cast<uint16_t>(base);
}

// The entry a range or mode index selects; an index beyond the list selects its first entry.
template <size_t N>
const RangeEntry& EntryAt(const std::array<RangeEntry, N>& list, int32_t index) {
  return index >= 0 && static_cast<size_t>(index) < N ? list[static_cast<size_t>(index)] : list[0];
}

// The longest leading run of digits and points, as a decimal number; nullopt when it is empty or
// not a number ("1.2.3").
std::optional<double> NumberPrefix(std::string_view text) {
  size_t n = 0;
  while (n < text.size() && ((text[n] >= '0' && text[n] <= '9') || text[n] == '.')) ++n;
  if (n == 0) return std::nullopt;
  const std::string digits(text.substr(0, n));
  char* end = nullptr;
  const double value = std::strtod(digits.c_str(), &end);
  if (end != digits.c_str() + digits.size()) return std::nullopt;
  return value;
}

// A double as single precision; beyond the float range it becomes infinite.
float ToSingle(double value) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (value > kMax) return std::numeric_limits<float>::infinity();
  if (value < -kMax) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// A number as the host's integer conversion gives it (nearest, halves to even).
int32_t ToInteger(const TVariant& value) {
  const double d = value.AsDouble();
  if (!(d > -2147483648.5 && d < 2147483647.5)) throw ConversionError("integer overflow");
  return static_cast<int32_t>(RoundHalfEven(d));
}

int32_t SetBit16(int32_t word, int32_t bit) { return (word | (1 << bit)) & 0xFFFF; }
int32_t ClearBit16(int32_t word, int32_t bit) { return word & ((1 << bit) ^ 0xFFFF); }

std::string CardName(const TCardParams* card) { return card ? std::string(ModelName(*card)) : std::string(); }

}  // namespace

// ---------------------------------------------------------------- process-wide counter table

int32_t IniCountTable(int32_t card_no, int32_t channel) {
  if (card_no < 1 || card_no > kCardCount || channel < 0 || channel >= kModelCounters) return 0;
  return g_ini_counts[card_no][channel].load(std::memory_order_relaxed);
}

void SetIniCountTable(int32_t card_no, int32_t channel, int32_t value) {
  if (card_no < 1 || card_no > kCardCount || channel < 0 || channel >= kModelCounters) return;
  g_ini_counts[card_no][channel].store(value, std::memory_order_relaxed);
}

// ---------------------------------------------------------------- filtering and scaling

int32_t TrimmedMean(int32_t* samples, int32_t count) {
  if (!samples || count <= 0) return 0;
  if (count == 1) return samples[0];
  std::sort(samples, samples + count);
  const int32_t s = (count - 1) / 3;
  const int32_t kept = count - 1 - 2 * s;  // the s smallest and the s + 1 largest are dropped
  int64_t sum = 0;
  for (int32_t i = s; i <= count - 2 - s; ++i) sum += samples[i];
  return static_cast<int32_t>(sum / kept);
}

RangeSpan ParseRange(std::string_view name) {
  RangeSpan span;
  const size_t plus_minus = gbk::Find(name, "+/-");
  if (plus_minus != std::string_view::npos) {
    const std::optional<double> hi = NumberPrefix(name.substr(plus_minus + 3));
    if (!hi) return RangeSpan{0, 0, false};
    span.hi = *hi;
    span.lo = -*hi;
    return span;
  }
  const size_t dash = gbk::Find(name, "-");
  if (dash == std::string_view::npos) return span;  // no span given: 0..0
  const std::optional<double> lo = NumberPrefix(name.substr(0, dash));
  const std::optional<double> hi = NumberPrefix(name.substr(dash + 1));
  if (!lo || !hi) return RangeSpan{0, 0, false};
  span.lo = *lo;
  span.hi = *hi;
  return span;
}

int32_t FullScale(int32_t resolution) {
  return resolution >= 1 && resolution <= 16 ? static_cast<int32_t>(0xFFFFu >> (16 - resolution)) : 0;
}

std::optional<float> ScaleAD(const RangeSpan& span, int32_t resolution, int32_t raw) {
  const int32_t full = FullScale(resolution);
  if (full == 0) return std::nullopt;
  return ToSingle(span.lo + (span.hi - span.lo) * raw / full);
}

std::optional<int32_t> ScaleDA(const RangeSpan& span, int32_t resolution, double value) {
  const int32_t full = FullScale(resolution);
  if (full == 0 || span.hi == span.lo || !std::isfinite(value)) return std::nullopt;
  const double raw = (value - span.lo) * full / (span.hi - span.lo);
  // A value beyond the range drives the output to its end, never around to the other end.
  return static_cast<int32_t>(std::clamp<int64_t>(RoundHalfEven(raw), 0, full));
}

// ---------------------------------------------------------------- construction

TCustomDLLObject::TCustomDLLObject(bool first_instance) : TBaseDLLObject(first_instance) {
  EnLog_ = false;
  LibLoaded = false;
  LibHandle = nullptr;
  // The card exchanges have no protocol texts of their own: the answer handlers stay quiet.
  ProtocolTrace = false;
}

TCustomDLLObject::~TCustomDLLObject() {
  Destroy();  // our Stop still runs here if the owner did not destroy the engine first
  system_port_io_.reset();
  if (PortLibHandle) platform::free_library(PortLibHandle);
}

const ModelRow* TCustomDLLObject::ModelOf(int32_t card_no) const {
  const TCardParams* card = Card(card_no);
  if (!card || card->ModelCode == kModelNoCard) return nullptr;
  return card->ModelCode < model_count_ ? &model_rows_[card->ModelCode] : nullptr;
}

// ---------------------------------------------------------------- start-up

bool TCustomDLLObject::IniParm(const TDeviceParams* block) {
  if (!TBaseDLLObject::IniParm(block)) return false;
  if (!LibLoaded) LibLoaded = LoadLibs();
  if (!LibLoaded) return false;

  bool result = false;
  for (int32_t n = 1; n <= kCardCount; ++n) {
    const TCardParams& card = *Params.card(n);
    if (card.ModelCode == kModelNoCard) continue;
    try {
      const std::string name(ModelName(card));
      const std::string number = std::to_string(n);
      // A block from a newer or damaged configuration may name a model this driver does not
      // know; its registers cannot be looked up, so the card is not used.
      const bool known = ModelOf(n) != nullptr;
      if (!known)
        LogLine("：" + number + "号板卡的型号代码" + std::to_string(card.ModelCode) +
                "不在型号表中，该板卡不使用");
      if (known) InitCounters(n);
      if (known && CardInSystem(n)) {
        if (EnLog_) AppendLog(NowText() + "：'正确加载" + number + "号板卡：" + name + "\r\n");
        result = true;
      } else {
        const std::string absent = NowText() + ": 本机不存在" + number + "号板卡：" + name + "\r\n";
        AppendLog(DevMsg_ + absent);
        AppendLog(NowText() + ": 请察看设备列表情况！\r\n");
        WriteCommEvent(absent);
      }
    } catch (...) {
      if (ErrorLogOn()) AppendLog(NowText() + "：TDLLObject.CardInSystem异常！\r\n");
      result = false;
    }
  }
  return result;
}

bool TCustomDLLObject::LoadLibs() {
  LibHandle = platform::load_library(kVendorLibrary);
  if (LibHandle) return true;
  WriteCommEvent(NowText() + "：厂商提供的硬件驱动库" + kVendorLibrary + "没有找到，请重新安装驱动程序");
  return false;
}

bool TCustomDLLObject::CardInSystem(int32_t) { return true; }

void TCustomDLLObject::InitCounters(int32_t card_no) {
  const TCardParams* card = Card(card_no);
  const ModelRow* model = ModelOf(card_no);
  if (!card || !model) return;
  static constexpr CounterProgramming kNoProgramming{};
  static constexpr CounterAccess kNoAccess{};
  const int32_t base = card->BaseAddress;
  uint8_t gate_bits = 0;  // one gate bit per counter in use, accumulated over the card
  for (int32_t i = 0; i < kCardCounters; ++i) {
    const int32_t group = i / kCountersPerGroup;
    const int32_t k = i % kCountersPerGroup;
    const bool modelled = group < kCounterGroups;
    const CounterProgramming& setup = modelled ? model->counter_programming[group] : kNoProgramming;
    const CounterAccess& access = modelled ? model->counter_access[group] : kNoAccess;
    const uint8_t clock_on = card->TCClockDivOn[i];
    const uint8_t filter_on = card->TCFilterDivOn[i];
    const bool select_present = access.select_base != kAbsent;
    const int32_t select_offset = access.select_base + k;
    if (clock_on == 1 || filter_on == 1) {
      const uint16_t divisor = filter_on == 1 ? card->TCFilterDiv[i] : card->TCClockDiv[i];
      const int32_t select = filter_on == 1 ? setup.select_filter : setup.select_clock;
      gate_bits = static_cast<uint8_t>(gate_bits | (1u << (i % 8)));
      if (Usable(base, setup.gate)) PortWrite(RegisterPort(base, setup.gate), gate_bits);
      if (Usable(base, setup.control))
        PortWrite(RegisterPort(base, setup.control),
                  CounterControlWord(k, kCounterLowThenHigh, kCounterSquareWave));
      if (Usable(base, setup.data[k])) {
        PortWrite(RegisterPort(base, setup.data[k]), static_cast<uint8_t>(divisor & 0xFF));
        PortWrite(RegisterPort(base, setup.data[k]), static_cast<uint8_t>(divisor >> 8));
      }
      if (select_present && Usable(base, select_offset))
        PortWrite(RegisterPort(base, select_offset), static_cast<uint8_t>(select & 0xFF));
    } else if (select_present) {
      PortWrite(RegisterPort(base, select_offset), static_cast<uint8_t>(setup.select_none & 0xFF));
    }
  }
}

// ---------------------------------------------------------------- tags and commands

std::unique_ptr<TDLLTag> TCustomDLLObject::CreatInternalTag(const HostTag& host) {
  try {
    std::unique_ptr<TDLLTag> tag = TBaseDLLObject::CreatInternalTag(host);
    if (!tag) return tag;
    tag->PortImage = 0;
    // A tag that joins a running engine takes the image its port already has: its first write
    // must leave the port's other outputs as the earlier writes set them.
    const int32_t r = BitsPerRegister(tag->TypeIndex);
    for (const auto& other : TagList) {
      if (other->CardNo == tag->CardNo && other->TypeIndex == tag->TypeIndex && tag->Channel >= 0 &&
          other->Channel >= 0 && other->Channel / r == tag->Channel / r) {
        tag->PortImage = other->PortImage;
        break;
      }
    }
    return tag;
  } catch (...) {
    return nullptr;
  }
}

// The tag's image of its output port, from the value about to be written: a number is the whole
// port, a switch (or a "1"/"0" text) its bit of the register.
void TCustomDLLObject::UpdatePortImage(TDLLTag& tag, int32_t bits_per_register) {
  const int32_t bit = tag.Channel >= 0 ? tag.Channel % bits_per_register : 0;
  if (tag.ValueType == 0) {
    tag.PortImage = ToInteger(tag.Value);
    tag.RawImage = ToSingle(tag.Value.AsDouble());
  } else if (tag.ValueType == 1) {
    tag.PortImage = tag.Value.AsBool() ? SetBit16(tag.PortImage, bit) : ClearBit16(tag.PortImage, bit);
  } else if (tag.ValueType == 2) {
    const std::string text = tag.Value.AsString();
    if (text == "1") tag.PortImage = SetBit16(tag.PortImage, bit);
    if (text == "0") tag.PortImage = ClearBit16(tag.PortImage, bit);
  }
}

// All output bits of one port share one image: the other tags of the port take the new port value,
// and a tag on the same line takes the written value too.
void TCustomDLLObject::ShareWriteImage(const TDLLTag& tag, const TCommand& command) {
  for (const auto& other : TagList) {
    if (other->CardNo != tag.CardNo || other->TypeIndex != tag.TypeIndex) continue;
    if (other->Channel == tag.Channel) other->Value = tag.Value;
    if (other->Channel >= command.ChanLow && other->Channel <= command.ChanHigh)
      other->PortImage = command.PortValue;
  }
}

CommandChain TCustomDLLObject::CreatCommand(TDLLTag& tag, std::vector<CommandChain>& list, bool is_write) {
  CommandChain command;
  try {
    if (!NeedCreatCommand(list, tag, is_write) || tag.TypeIndex == -1) return nullptr;
    const int32_t r = BitsPerRegister(tag.TypeIndex);
    UpdatePortImage(tag, r);
    command = std::make_unique<TCommand>();
    TCommand& c = *command;
    c.TagIds.assign(1, tag.Position);
    c.TypeStr = tag.TypeStr;
    c.IsWrite = is_write;
    c.TypeIndex = tag.TypeIndex;
    c.RawValue = tag.RawImage;
    c.PortValue = tag.PortImage;
    c.CardNo = tag.CardNo;
    c.Channel = tag.Channel;
    c.ChanLow = r * (tag.Channel / r);
    c.ChanHigh = r * (tag.Channel / r + 1) - 1;
    c.ScanPeriod = tag.ScanPeriod;
    c.Countdown = 0;
    c.Reload = 1;
    c.SuccessRate = 1.0f;
    c.CmdFlags = kCmdRead;
    c.RetryState = 2;
    c.CmdText = GetCommandStr(c, tag, is_write);
    c.AnswerText = GetAnswerStr(c, tag, is_write);
    c.WriteValue = tag.Value;
    c.Optimized = false;

    if (const TCardParams* card = Card(tag.CardNo); card && tag.Channel >= 0) {
      const auto channel = static_cast<size_t>(tag.Channel);
      if (tag.TypeIndex == kTypeAD && channel < std::size(card->ADRange))
        c.RangeIndex = card->ADRange[channel];
      if (tag.TypeIndex == kTypeDA && channel < std::size(card->DARange))
        c.RangeIndex = card->DARange[channel];
      if ((tag.TypeIndex == kTypeCount || tag.TypeIndex == kTypeIniCount) &&
          channel < std::size(card->TCMode))
        c.RangeIndex = card->TCMode[channel];
    }

    if (is_write) {
      c.CmdFlags = kCmdWrite;
      c.RetryState = 1;
      ShareWriteImage(tag, c);
      if (TraceLogOn() && WriteLogBudget > 0) {
        --WriteLogBudget;
        std::string value_text;
        if (tag.ValueType == 0)
          value_text = FloatToStr(tag.Value.AsDouble());
        else if (tag.ValueType == 1)
          value_text = tag.Value.AsBool() ? "true" : "false";
        else
          value_text = tag.Value.AsString();
        AppendLog(NowText() + "：生成标签" + tag.Name + "的写命令,写入值=" + value_text +
                  "(该标签地址=" + tag.Address + "，属于" + CardName(Card(tag.CardNo)) + "设备)。\r\n");
      }
    }
    return command;
  } catch (...) {
    FreeCommand(command);
    LogException("CreatCommand");
    return nullptr;
  }
}

std::string TCustomDLLObject::GetCommandStr(TCommand&, TDLLTag& tag, bool is_write) {
  return ShortText((is_write ? "向设备发送写标签 " : "向设备发送读标签 ") + tag.Name + " 命令");
}

std::string TCustomDLLObject::GetAnswerStr(TCommand&, TDLLTag& tag, bool is_write) {
  return ShortText((is_write ? "设备返回写标签 " : "设备返回读标签 ") + tag.Name + " 命令的响应");
}

// ---------------------------------------------------------------- the exchange

void TCustomDLLObject::RealComm(TCommand* command) {
  if (!command) return;
  TCommand& c = *command;
  ResultFlag = true;  // cleared by any step of the exchange that fails
  const ModelRow* model = ModelOf(c.CardNo);
  const auto span_of = [this](const auto& list, int32_t index) {
    const RangeEntry& entry = EntryAt(list, index);
    const RangeSpan span = ParseRange(entry.name);
    if (!span.parsed) LogUnparsedRange(entry.name);
    return span;
  };

  if (!c.IsWrite) {
    if (c.TypeIndex == kTypeAD) {
      int32_t raw = 0;
      std::optional<float> value;
      if (Read_AD(raw, c) && model) {
        // A range whose name gives no number has no scale: the reading is no value at all.
        const RangeSpan span = span_of(model->description.ad_ranges, c.RangeIndex);
        if (span.parsed) value = ScaleAD(span, model->ad.resolution, raw);
      }
      if (value && ResultFlag)
        DistributeValue(TVariant::Double(*value), c, c.Channel);
      else
        ExchangeFailed();
    } else if (c.TypeIndex == kTypeDI) {
      int16_t value = 0;
      Read_DI_Data(value, c);
      if (ResultFlag) DistributeValue(TVariant::Int(value), c, c.Channel);
    } else if (c.TypeIndex == kTypeCount) {
      int32_t value = 0;
      Read_Count(value, c);
      if (ResultFlag) DistributeValue(TVariant::Int(value), c, c.Channel);
    }
  } else {
    if (c.TypeIndex == kTypeDA) {
      std::optional<int32_t> raw;
      if (model)
        raw = ScaleDA(span_of(model->description.da_ranges, c.RangeIndex), model->da.resolution, c.RawValue);
      if (raw)
        Write_DA(static_cast<uint16_t>(*raw), c);
      else
        ExchangeFailed();  // no span to scale into: nothing is written
    } else if (c.TypeIndex == kTypeDO) {
      Write_DO_data(c);
    } else if (c.TypeIndex == kTypeIniCount) {
      Write_IniCount(c);
    }
  }
  TBaseDLLObject::RealComm(command);
}

bool TCustomDLLObject::GetResult() { return ResultFlag; }

void TCustomDLLObject::DistributeValue(const TVariant& value, TCommand& command, int32_t register_index) {
  for (int32_t position : command.TagIds) {
    TDLLTag* tag = TagAt(position);
    if (!tag || tag->TypeByte != 2) continue;
    if (tag->ValueType == 2) return;  // a text tag ends the distribution for the rest
    if (tag->ValueType == 0) {
      if (tag->Channel == register_index) tag->Value = value;
    } else if (tag->ValueType == 1) {
      const int32_t r = BitsPerRegister(tag->TypeIndex);
      const int32_t first = r * (register_index / r);
      if (tag->Channel >= first && tag->Channel < first + r) {
        const int32_t bit = tag->Channel % r;
        const int64_t word = RoundHalfEven(value.AsDouble());
        tag->Value = TVariant::Bool(((word >> bit) & 1) == 1);
      }
    }
  }
}

// The answer handlers of the engine, without its protocol trace (switched off at construction).
void TCustomDLLObject::opReadACK_Exec() { TBaseDLLObject::opReadACK_Exec(); }
void TCustomDLLObject::opReadNAK_Exec() { TBaseDLLObject::opReadNAK_Exec(); }
void TCustomDLLObject::opWriteACK_Exec() { TBaseDLLObject::opWriteACK_Exec(); }
void TCustomDLLObject::opWriteNAK_Exec() { TBaseDLLObject::opWriteNAK_Exec(); }

void TCustomDLLObject::Stop() {
  system_port_io_.reset();
  system_port_io_chosen_ = false;
  if (PortLibHandle) {
    platform::free_library(PortLibHandle);
    PortLibHandle = nullptr;
  }
  if (LibLoaded) {
    platform::free_library(LibHandle);
    LibHandle = nullptr;
    LibLoaded = false;
  }
  TBaseDLLObject::Stop();
}

// ---------------------------------------------------------------- register access

bool TCustomDLLObject::Read_AD(int32_t& raw, TCommand& command) {
  try {
    const TCardParams* card = Card(command.CardNo);
    const ModelRow* model = ModelOf(command.CardNo);
    if (!card || !model || model->ad.status == kAbsent) return false;  // no conversion to wait for
    const AdRegisters& ad = model->ad;
    const int32_t base = card->BaseAddress;
    const int32_t n = std::clamp<int32_t>(card->ADFilterNums, 1, kMaxFilterSamples);
    std::vector<int32_t> samples(static_cast<size_t>(n));
    const uint32_t failures_before = port_failures_;

    const int32_t channel = command.Channel;
    const auto code =
        static_cast<uint8_t>((ad.channel_format != 0 ? (channel << 4) | channel : channel) & 0xFF);
    if (Usable(base, ad.channel)) PortWrite(RegisterPort(base, ad.channel), code);
    if (Usable(base, ad.gain))
      PortWrite(RegisterPort(base, ad.gain),
                static_cast<uint8_t>(EntryAt(model->description.ad_ranges, command.RangeIndex).code & 0xFF));
    PortDelay(ad.settle_delay);

    const uint32_t mask = static_cast<uint32_t>(FullScale(ad.resolution));
    int32_t good = 0, failures = 0;
    bool ok = false;
    do {
      if (Usable(base, ad.trigger)) PortWrite(RegisterPort(base, ad.trigger), ad.trigger_value);
      PortDelay(ad.convert_delay);
      const uint8_t status = PortRead(RegisterPort(base, ad.status));
      if (port_failures_ != failures_before) return false;  // the card cannot be reached
      if (static_cast<int32_t>(ShiftRight(status, ad.ready_bit) & 1u) == ad.ready_value) {
        ok = true;
        const uint32_t low = Usable(base, ad.data_low) ? PortRead(RegisterPort(base, ad.data_low)) : 0u;
        const uint32_t high = Usable(base, ad.data_high) ? PortRead(RegisterPort(base, ad.data_high)) : 0u;
        samples[static_cast<size_t>(good++)] =
            static_cast<int32_t>(ShiftRight((high << 8) | low, ad.right_shift) & mask);
      } else {
        ok = false;
        ++failures;
      }
    } while (failures <= 2 * n && good < n);
    raw = TrimmedMean(samples.data(), good);
    return ok && port_failures_ == failures_before;
  } catch (...) {
    AppendLog("调用模拟量输入函数Read_AD()时出现异常！");
    return false;
  }
}

void TCustomDLLObject::Write_DA(uint16_t raw, TCommand& command) {
  try {
    const TCardParams* card = Card(command.CardNo);
    const ModelRow* model = ModelOf(command.CardNo);
    if (!card || !model) return;
    const DaRegisters& da = model->da;
    const int32_t base = card->BaseAddress;
    const uint32_t f = ShiftLeft(raw, da.left_shift);
    const auto low_byte = static_cast<uint8_t>(f & 0xFF);
    const auto high_byte = static_cast<uint8_t>((f >> 8) & 0xFF);
    if (da.update == kAbsent) {
      // A register pair per channel, channels two ports apart.
      const int32_t step = 2 * command.Channel;
      if (da.data_low != kAbsent && Usable(base, da.data_low + step))
        PortWrite(RegisterPort(base, da.data_low + step), low_byte);
      if (da.resolution >= 9 && da.data_high != kAbsent && Usable(base, da.data_high + step))
        PortWrite(RegisterPort(base, da.data_high + step), high_byte);
    } else {
      // Shared data registers; reading the channel's update register latches the new value.
      if (Usable(base, da.data_low)) PortWrite(RegisterPort(base, da.data_low), low_byte);
      if (da.resolution > 8 && Usable(base, da.data_high))
        PortWrite(RegisterPort(base, da.data_high), high_byte);
      PortDelay(1);
      if (Usable(base, da.update + command.Channel))
        PortRead(RegisterPort(base, da.update + command.Channel));
    }
  } catch (...) {
    ExchangeFailed();
    AppendLog("调用模拟量输出函数Write_DA()时出现异常！");
  }
}

void TCustomDLLObject::Read_DI_Data(int16_t& value, TCommand& command) {
  try {
    const TCardParams* card = Card(command.CardNo);
    const ModelRow* model = ModelOf(command.CardNo);
    const int32_t r = command.Channel / 8;
    if (!card || !model || command.Channel < 0 || r >= kDigitalRegisters || model->di_ports[r] == kAbsent) {
      ExchangeFailed();  // no input register to read
      return;
    }
    value = static_cast<int16_t>(PortRead(RegisterPort(card->BaseAddress, model->di_ports[r])));
  } catch (...) {
    ExchangeFailed();
    AppendLog("调用开关量读取函数Read_DI_Data()时出现异常！");
  }
}

void TCustomDLLObject::Write_DO_data(TCommand& command) {
  try {
    const TCardParams* card = Card(command.CardNo);
    const ModelRow* model = ModelOf(command.CardNo);
    const int32_t r = command.Channel / 8;
    if (!card || !model || command.Channel < 0 || r >= kDigitalRegisters) return;
    const int32_t base = card->BaseAddress;
    if (Usable(base, model->do_ports[r]))
      PortWrite(RegisterPort(base, model->do_ports[r]), static_cast<uint8_t>(command.PortValue & 0xFF));
  } catch (...) {
    ExchangeFailed();
    AppendLog("调用开关量输出函数Write_DO_data()时出现异常！");
  }
}

void TCustomDLLObject::Read_Count(int32_t& value, TCommand& command) {
  const TCardParams* card = Card(command.CardNo);
  const ModelRow* model = ModelOf(command.CardNo);
  const int32_t group = command.Channel / kCountersPerGroup;
  const int32_t k = command.Channel % kCountersPerGroup;
  if (!card || !model || command.Channel < 0 || group >= kCounterGroups) {
    ExchangeFailed();  // a counter no model has
    return;
  }
  const CounterAccess& access = model->counter_access[group];
  const int32_t base = card->BaseAddress;
  if (Usable(base, access.control))
    PortWrite(RegisterPort(base, access.control), CounterControlWord(k, kCounterLatch, 0));
  if (!Usable(base, access.data[k])) {
    ExchangeFailed();
    return;
  }
  const int32_t low = PortRead(RegisterPort(base, access.data[k]));
  const int32_t high = PortRead(RegisterPort(base, access.data[k]));
  value = std::max(IniCountTable(command.CardNo, command.Channel) - (low + 256 * high), 0);
}

void TCustomDLLObject::Write_IniCount(TCommand& command) {
  SetIniCountTable(command.CardNo, command.Channel, command.PortValue);
  const TCardParams* card = Card(command.CardNo);
  const ModelRow* model = ModelOf(command.CardNo);
  const int32_t group = command.Channel / kCountersPerGroup;
  const int32_t k = command.Channel % kCountersPerGroup;
  if (!card || !model || command.Channel < 0 || group >= kCounterGroups) return;
  const auto mode =
      static_cast<uint8_t>(EntryAt(model->description.counter_modes, command.RangeIndex).code & 0xFF);
  const uint8_t control_word = CounterControlWord(k, kCounterLowThenHigh, mode);
  const CounterAccess& access = model->counter_access[group];
  const int32_t base = card->BaseAddress;
  if (Usable(base, access.control)) PortWrite(RegisterPort(base, access.control), control_word);
  if (Usable(base, access.data[k])) {
    PortWrite(RegisterPort(base, access.data[k]), static_cast<uint8_t>(command.PortValue & 0xFF));
    PortWrite(RegisterPort(base, access.data[k]), static_cast<uint8_t>((command.PortValue >> 8) & 0xFF));
  }
}

// ---------------------------------------------------------------- ports

PortIo* TCustomDLLObject::ActivePortIo() {
  if (port_io_) return port_io_;
  if (!system_port_io_chosen_) {
    // Chosen on the first access, so a card without port registers never loads the component.
    system_port_io_chosen_ = true;
    system_port_io_ = MakeDirectPortIo();
    if (!system_port_io_) {
      if (!PortLibHandle) PortLibHandle = platform::load_library(platform::kPortComponentName);
      if (PortLibHandle) system_port_io_ = MakeComponentPortIo(PortLibHandle);
    }
  }
  if (!system_port_io_) {
    PortAccessFailed(PortLibHandle ? std::string("端口访问组件") + platform::kPortComponentName +
                                         "中没有Out32或Inp32，无法读写板卡端口"
                                   : std::string("端口访问组件") + platform::kPortComponentName +
                                         "没有找到，无法读写板卡端口");
  }
  return system_port_io_.get();
}

void TCustomDLLObject::PortAccessFailed(std::string_view reason) {
  ExchangeFailed();
  ++port_failures_;
  if (port_failure_logged_) return;
  port_failure_logged_ = true;
  LogLine("：" + std::string(reason));
}

void TCustomDLLObject::LogUnparsedRange(std::string_view range_name) {
  if (ErrorLogOn())
    LogLine("：量程名称\"" + std::string(range_name) + "\"中没有数值，无法换算，本次通讯失败");
}

void TCustomDLLObject::PortWrite(uint16_t port, uint8_t value) {
  PortIo* io = ActivePortIo();
  if (!io) return;
  if (!io->Write(port, value)) {
    PortAccessFailed("往端口 " + Hex(port, 3) + "H输出失败");
    return;
  }
  if (TraceLogOn())
    AppendLog(NowText() + "：往端口 " + Hex(port, 3) + "H" + "输出 " + Hex(value, 2) + "H" + "\r\n\r\n");
}

uint8_t TCustomDLLObject::PortRead(uint16_t port) {
  PortIo* io = ActivePortIo();
  if (!io) return 0;
  const std::optional<uint8_t> value = io->Read(port);
  if (!value) {
    PortAccessFailed("从端口 " + Hex(port, 3) + "H读入失败");
    return 0;
  }
  if (TraceLogOn())
    AppendLog(NowText() + "：从端口 " + Hex(port, 3) + "H" + "读入 " + Hex(*value, 2) + "H" + "\r\n");
  return *value;
}

void TCustomDLLObject::PortDelay(int32_t count) {
  if (count <= 0) return;
  const int32_t turns = std::min(count, kMaxDelayCount) * kDelayTurns;
  for (int32_t i = 0; i < turns; ++i) __asm__ __volatile__("");
}

}  // namespace vorel
