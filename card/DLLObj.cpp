// The card I/O object: construction, start-up and the exchange. Each exchange of the operation
// machine becomes register accesses on the card's I/O ports, driven by the model table; read
// values are scaled and handed to the tags of the command. Register access and counter
// programming are in DLLObj_registers.cpp, the port access and its trace in DLLObj_ports.cpp,
// command building in DLLObj_commands.cpp, filtering and scaling in DLLObj_scaling.cpp.
#include "card/DLLObj.h"

#include <optional>

#include "card/DLLObj_detail.h"
#include "support/delphi.h"

namespace vorel {

using namespace card_detail;

namespace {

constexpr char kVendorLibrary[] = "pci7505.dll";

}  // namespace

// ---------------------------------------------------------------- construction

TCustomDLLObject::TCustomDLLObject(bool first_instance) : TBaseDLLObject(first_instance) {
  EnLog_ = false;
  // The card exchanges have no protocol texts of their own: the answer handlers stay quiet.
  ProtocolTrace = false;
}

TCustomDLLObject::~TCustomDLLObject() {
  Destroy();  // our Stop still runs here if the owner did not destroy the engine first
  system_port_io_.reset();
  if (PortLibHandle) platform::free_library(PortLibHandle);
}

// Code 1 means no card: no row may stand at its index.
static_assert(kModelTable.size() <= kModelNoCard);

const ModelRow* TCustomDLLObject::model_of(int32_t card_no) const {
  const TCardParams* card = card_entry(card_no);
  return card && card->ModelCode < model_count_ ? &model_rows_[card->ModelCode] : nullptr;
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
      const bool known = model_of(n) != nullptr;
      if (!known)
        log_line("：" + number + "号板卡的型号代码" + std::to_string(card.ModelCode) +
                 "不在型号表中，该板卡不使用");
      if (known) InitCounters(n);
      if (known && CardInSystem(n)) {
        if (EnLog_) AppendLog(now_text() + "：'正确加载" + number + "号板卡：" + name + "\r\n");
        result = true;
      } else {
        const std::string absent = now_text() + ": 本机不存在" + number + "号板卡：" + name + "\r\n";
        AppendLog(DevMsg_ + absent);
        AppendLog(now_text() + ": 请察看设备列表情况！\r\n");
        WriteCommEvent(absent);
      }
    } catch (...) {
      if (error_log_on()) AppendLog(now_text() + "：TDLLObject.CardInSystem异常！\r\n");
      result = false;
    }
  }
  return result;
}

bool TCustomDLLObject::LoadLibs() {
  LibHandle = platform::load_library(kVendorLibrary);
  if (LibHandle) return true;
  WriteCommEvent(now_text() + "：厂商提供的硬件驱动库" + kVendorLibrary + "没有找到，请重新安装驱动程序");
  return false;
}

bool TCustomDLLObject::CardInSystem(int32_t) { return true; }

// ---------------------------------------------------------------- the exchange

void TCustomDLLObject::RealComm(TCommand* command) {
  if (!command) return;
  ResultFlag = true;  // cleared by any step of the exchange that fails
  const ModelRow* model = model_of(command->CardNo);
  if (command->IsWrite)
    write_exchange(*command, model);
  else
    read_exchange(*command, model);
  TBaseDLLObject::RealComm(command);
}

void TCustomDLLObject::read_exchange(TCommand& c, const ModelRow* model) {
  if (c.TypeIndex == kTypeAD) {
    int32_t raw = 0;
    std::optional<float> value;
    if (Read_AD(raw, c) && model) {
      // A range whose name gives no number has no scale: the reading is no value at all.
      const RangeSpan span = range_span(entry_at(model->description.ad_ranges, c.RangeIndex));
      if (span.parsed) value = ScaleAD(span, model->ad.resolution, raw);
    }
    if (value && ResultFlag)
      DistributeValue(TVariant::Double(*value), c, c.Channel);
    else
      exchange_failed();
  } else if (c.TypeIndex == kTypeDI) {
    int16_t value = 0;
    Read_DI_Data(value, c);
    if (ResultFlag) DistributeValue(TVariant::Int(value), c, c.Channel);
  } else if (c.TypeIndex == kTypeCount) {
    int32_t value = 0;
    Read_Count(value, c);
    if (ResultFlag) DistributeValue(TVariant::Int(value), c, c.Channel);
  }
}

void TCustomDLLObject::write_exchange(TCommand& c, const ModelRow* model) {
  if (c.TypeIndex == kTypeDA) {
    std::optional<int32_t> raw;
    if (model)
      raw = ScaleDA(range_span(entry_at(model->description.da_ranges, c.RangeIndex)), model->da.resolution,
                    c.RawValue);
    if (raw)
      Write_DA(static_cast<uint16_t>(*raw), c);
    else
      exchange_failed();  // no span to scale into: nothing is written
  } else if (c.TypeIndex == kTypeDO) {
    Write_DO_data(c);
  } else if (c.TypeIndex == kTypeIniCount) {
    Write_IniCount(c);
  }
}

RangeSpan TCustomDLLObject::range_span(const RangeEntry& entry) {
  const RangeSpan span = parse_range(entry.name);
  if (!span.parsed && error_log_on())
    log_line("：量程名称\"" + std::string(entry.name) + "\"中没有数值，无法换算，本次通讯失败");
  return span;
}

bool TCustomDLLObject::GetResult() { return ResultFlag; }

void TCustomDLLObject::DistributeValue(const TVariant& value, TCommand& command, int32_t register_index) {
  for (int32_t position : command.TagIds) {
    TDLLTag* tag = tag_at(position);
    if (!tag) continue;
    if (tag->ValueType == 2) return;  // a text tag ends the distribution for the rest
    if (tag->ValueType == 0) {
      if (tag->Channel == register_index) tag->Value = value;
    } else if (tag->ValueType == 1) {
      const int32_t r = bits_per_register(tag->TypeIndex);
      const int32_t first = r * (register_index / r);
      if (tag->Channel >= first && tag->Channel < first + r) {
        const int32_t bit = tag->Channel % r;
        const int64_t word = RoundHalfEven(value.as_double());
        tag->Value = TVariant::Bool(((word >> bit) & 1) == 1);
      }
    }
  }
}

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

}  // namespace vorel
