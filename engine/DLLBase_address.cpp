// Tag types and addresses: what a host address names (type, card, slot, channel, bit), whether
// the card can serve it, and the normal form the host's address editor shows.
//
//   type-name [card ":"] [slot ","] [channel] ["." bit]
//
// The engineers' address sheets come from Chinese input methods, so the full-width "：" and "，"
// are accepted too. They are two bytes in code page 936 (A3 BA, A3 AC) and must only match at a
// character boundary: a character whose trail byte is A3 followed by one whose lead byte is BA is
// no colon.
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "engine/DLLBase.h"
#include "engine/tag_types.h"
#include "support/delphi.h"
#include "support/gbk_text.h"
#include "support/getfileinfo.h"

namespace vorel {

namespace {

constexpr size_t kNotFound = std::string_view::npos;

// A separator found in a text: where it starts and how many bytes it takes.
struct Separator {
  size_t pos = kNotFound;
  size_t size = 0;
  bool found() const { return pos != kNotFound; }
};

// The ASCII sign wins wherever it stands; the full-width one counts only when there is no ASCII one.
Separator find_separator(std::string_view text, std::string_view ascii, std::string_view full_width) {
  if (size_t pos = gbk::find(text, ascii); pos != kNotFound) return {pos, ascii.size()};
  if (size_t pos = gbk::find(text, full_width); pos != kNotFound) return {pos, full_width.size()};
  return {};
}

Separator find_colon(std::string_view text) { return find_separator(text, ":", gbk::kFullWidthColon); }
Separator find_comma(std::string_view text) { return find_separator(text, ",", gbk::kFullWidthComma); }

// The text after the first separator, or the whole text when there is none.
std::string_view after(std::string_view text, const Separator& sep) {
  return sep.found() ? text.substr(sep.pos + sep.size) : text;
}

// The address without its leading type name.
std::string_view without_type_name(std::string_view address, const TagTypeRow& type) {
  return address.substr(std::min(address.size(), type.Name.size()));
}

// A limit of -1 switches its check off.
bool above(int32_t value, int32_t limit) { return limit != -1 && value > limit; }
bool below(int32_t value, int32_t limit) { return limit != -1 && value < limit; }

// The shared frame of the four field parsers: the hint and error lines, each composed only when
// its log switch is on.
class FieldParser {
 public:
  FieldParser(TBaseDLLObject& engine, const std::string& tag_name, const std::string& address)
      : engine_(engine), tag_name_(tag_name), address_(address) {}

  // A field the address leaves out: the default, with a hint when tracing.
  int32_t missing(int32_t fallback, std::string_view what) {
    if (engine_.parameters().TraceLog != 0) {
      engine_.AppendLog(header() + "提示：地址=" + address_ + std::string(what) + "，系统采用缺省值" +
                        std::to_string(fallback) + "\r\n");
    }
    return fallback;
  }

  // A field that is there: its number, or -1 and an error line when it is none.
  int32_t convert(std::string_view text, std::string (*reason)()) {
    if (std::optional<int32_t> value = TryStrToInt(text)) return *value;
    return illegal(reason);
  }

  int32_t illegal(std::string (*reason)()) {
    if (engine_.parameters().ErrorLog != 0) {
      engine_.AppendLog(header() + "错误：标签地址" + address_ + reason() + "\r\n");
    }
    return -1;
  }

 private:
  std::string header() const { return now_text() + "：标签" + tag_name_; }

  TBaseDLLObject& engine_;
  const std::string& tag_name_;
  const std::string& address_;
};

std::string illegal_card_text() { return "中" + driver_file_info()->DevIDName() + "非法。"; }
std::string illegal_slot_text() { return "中槽号非法。"; }
std::string illegal_channel_text() { return "的" + driver_file_info()->ChnName() + "非法。"; }
std::string illegal_bit_text() { return "中位号非法。"; }

// A parser that fails on its own (out of memory) writes its field's error line if it still can.
int32_t parser_failed(TBaseDLLObject& engine, const std::string& tag_name, const std::string& address,
                      std::string (*illegal)()) {
  try {
    return FieldParser(engine, tag_name, address).illegal(illegal);
  } catch (...) {
    return -1;
  }
}

// Why a tag cannot be served by its card, as the tail of the message; empty when it can.
std::string address_fault(const TDLLTag& tag, const TDeviceParams& params) {
  const TagTypeRow* type = tag_type(tag.TypeIndex);
  if (type == nullptr) return "指定不存在的标签类型。";

  const auto info = driver_file_info();
  const TCardParams* card = params.card(tag.CardNo);
  // A number outside the block names no entry at all: the same as an entry without a card.
  if (tag.ModelCode == kModelNoCard || card == nullptr) {
    const std::string& device = info->DevTypeName();
    return "所指定的" + int_to_str_padded(tag.CardNo, 4) + "号" + device + "不存在。请在设备向导中添加该" +
           device + "！\r\n";
  }

  const std::string card_name(ModelName(*card));
  const std::string& channel_name = info->ChnName();
  if (tag.Slot == -1) return "槽号错误，" + card_name + "不存在此标签。";
  if (tag.Channel == -1) return channel_name + "错误，" + card_name + "不存在此标签。";
  if (tag.Bit == -1) return "位号错误，" + card_name + "不存在此标签。";

  // Every range check runs; the last one that fails is the one reported.
  const int32_t chan_min = chan_min_of(*type, tag.ModelCode);
  const int32_t chan_max = chan_max_of(*type, tag.ModelCode);
  std::string tail;
  if (above(tag.Bit, type->BitMax)) {
    tail = "的位号超出" + card_name + "的最大范围" + std::to_string(type->BitMax);
  }
  if (below(tag.Bit, type->BitMin)) {
    tail = "的位号超出最小范围" + card_name + "的最小范围" + std::to_string(type->BitMin);
  }
  if (above(tag.Channel, chan_max)) {
    tail = "的" + channel_name + "超出" + card_name + "的最大范围" + std::to_string(chan_max);
  }
  if (below(tag.Channel, chan_min)) {
    tail = "的" + channel_name + "超出" + card_name + "的最小范围" + std::to_string(chan_min);
  }
  if (above(tag.Slot, type->SlotMax)) {
    tail = "的槽号超出" + card_name + "的最大范围" + std::to_string(type->SlotMax);
  }
  if (below(tag.Slot, type->SlotMin)) {
    tail = "的槽号超出" + card_name + "的最小范围" + std::to_string(type->SlotMin);
  }
  return tail;
}

}  // namespace

int32_t TBaseDLLObject::GetTagTypeIndex(const std::string& address) {
  try {
    // No type's name starts another's, so the first that starts the address is the only one.
    for (size_t i = 0; i < kTagTypes.size(); ++i)
      if (gbk::starts_with_no_case(address, kTagTypes[i].Name)) return static_cast<int32_t>(i);
    return -1;
  } catch (...) {
    log_exception("GetTagTypeIndex");
    return -1;
  }
}

std::string TBaseDLLObject::GetTagTypeStr(const std::string& address) {
  try {
    const TagTypeRow* type = tag_type(GetTagTypeIndex(address));
    return type != nullptr ? gbk::UpperCase(type->Name) : std::string();
  } catch (...) {
    log_exception("GetTagTypeStr");
    return {};
  }
}

int32_t TBaseDLLObject::GetCardNo(const std::string& tag_name, const std::string& address) {
  try {
    FieldParser parser(*this, tag_name, address);
    const TagTypeRow* type = tag_type(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    const std::string_view rest = without_type_name(address, *type);
    const Separator colon = find_colon(rest);
    if (!colon.found()) return parser.missing(DefaultCardNo, "中缺少" + driver_file_info()->DevIDName());
    return parser.convert(rest.substr(0, colon.pos), illegal_card_text);
  } catch (...) {
    return parser_failed(*this, tag_name, address, illegal_card_text);
  }
}

int32_t TBaseDLLObject::GetSlotNo(const std::string& tag_name, const std::string& address, uint8_t model) {
  try {
    FieldParser parser(*this, tag_name, address);
    if (model == kModelNoCard) return -1;
    const TagTypeRow* type = tag_type(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    const int32_t fallback = type->SlotMin == -1 ? 0 : type->SlotMin;
    std::string_view rest = without_type_name(address, *type);
    rest = after(rest, find_colon(rest));
    const Separator comma = find_comma(rest);
    if (comma.found()) return parser.convert(rest.substr(0, comma.pos), illegal_slot_text);
    if (type->SlotMin == -1) return fallback;
    return parser.missing(fallback, "中缺少槽号");
  } catch (...) {
    return parser_failed(*this, tag_name, address, illegal_slot_text);
  }
}

int32_t TBaseDLLObject::GetChannelNo(const std::string& tag_name, const std::string& address, uint8_t model) {
  try {
    FieldParser parser(*this, tag_name, address);
    if (model == kModelNoCard) return -1;
    const TagTypeRow* type = tag_type(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    // A type without channels on this model (AD on a PCI_7505) has no channel to parse.
    const int32_t fallback = chan_min_of(*type, model);
    if (fallback == -1) return -1;
    std::string_view rest = without_type_name(address, *type);
    rest = after(rest, find_colon(rest));
    rest = after(rest, find_comma(rest));
    if (size_t dot = gbk::find(rest, "."); dot != kNotFound) rest = rest.substr(0, dot);
    if (rest.empty()) return parser.missing(fallback, "中缺少" + driver_file_info()->ChnName());
    return parser.convert(rest, illegal_channel_text);
  } catch (...) {
    return parser_failed(*this, tag_name, address, illegal_channel_text);
  }
}

int32_t TBaseDLLObject::GetBitNo(const std::string& tag_name, const std::string& address, uint8_t model) {
  try {
    FieldParser parser(*this, tag_name, address);
    if (model == kModelNoCard) return -1;
    const TagTypeRow* type = tag_type(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    const int32_t fallback = type->BitMin == -1 ? 0 : type->BitMin;
    // The type name holds no separator, so the bit needs no stripping of it.
    std::string_view rest = address;
    rest = after(rest, find_colon(rest));
    rest = after(rest, find_comma(rest));
    if (size_t dot = gbk::find(rest, "."); dot != kNotFound)
      return parser.convert(rest.substr(dot + 1), illegal_bit_text);
    if (type->BitMin == -1) return fallback;
    return parser.missing(fallback, "中缺少位号");
  } catch (...) {
    return parser_failed(*this, tag_name, address, illegal_bit_text);
  }
}

void TBaseDLLObject::CheckAddrValid(std::unique_ptr<TDLLTag>& tag) {
  if (!tag) return;
  try {
    const std::string tail = address_fault(*tag, Params);
    if (tail.empty()) return;
    const std::string header = now_text() + "：标签" + tag->Name;
    const std::string message = header + "错误：标签地址" + tag->Address + tail;
    const std::string dropped = header + "错误报告：由于出现错误，系统在通讯时丢弃该标签！\r\n";
    tag.reset();
    WriteDevMsg(message);
    AppendLog(message + "\r\n");
    AppendLog(dropped);
  } catch (...) {
    log_exception("CheckAddrValid");
  }
}

bool TBaseDLLObject::CheckTagAddr(const TDeviceParams* block, std::string& address) {
  if (block == nullptr) return false;
  try {
    const int32_t index = GetTagTypeIndex(address);
    std::string type_text = GetTagTypeStr(address);
    // An unknown type is written as the first type, so the editor still shows the full form.
    const TagTypeRow& type = index == -1 ? kTagTypes[0] : kTagTypes[static_cast<size_t>(index)];
    if (index == -1) type_text = std::string(type.Name);

    const int32_t card = GetCardNo("", address);
    const uint8_t model = model_code_of(*block, card);
    const int32_t bit = GetBitNo("", address, model);
    const int32_t channel = GetChannelNo("", address, model);
    const int32_t slot = GetSlotNo("", address, model);

    std::string normal = type_text + std::to_string(card) + ":";
    if (type.SlotMin != -1) normal += std::to_string(slot) + ",";
    normal += std::to_string(channel) + "." + std::to_string(bit);
    address = std::move(normal);
    return index != -1;
  } catch (...) {
    log_exception("CheckTagAddr");
    return false;
  }
}

}  // namespace vorel
