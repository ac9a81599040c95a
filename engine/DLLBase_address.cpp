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
Separator FindSeparator(std::string_view text, std::string_view ascii, std::string_view full_width) {
  if (size_t pos = gbk::Find(text, ascii); pos != kNotFound) return {pos, ascii.size()};
  if (size_t pos = gbk::Find(text, full_width); pos != kNotFound) return {pos, full_width.size()};
  return {};
}

Separator FindColon(std::string_view text) { return FindSeparator(text, ":", gbk::kFullWidthColon); }
Separator FindComma(std::string_view text) { return FindSeparator(text, ",", gbk::kFullWidthComma); }

// The text after the first separator, or the whole text when there is none.
std::string_view After(std::string_view text, const Separator& sep) {
  return sep.found() ? text.substr(sep.pos + sep.size) : text;
}

// The address without its leading type name.
std::string_view WithoutTypeName(std::string_view address, const TagTypeRow& type) {
  return address.substr(std::min(address.size(), type.Name.size()));
}

// A limit of -1 switches its check off.
bool Above(int32_t value, int32_t limit) { return limit != -1 && value > limit; }
bool Below(int32_t value, int32_t limit) { return limit != -1 && value < limit; }

// The shared frame of the four field parsers: the line header and the hint and error lines.
class FieldParser {
 public:
  FieldParser(TBaseDLLObject& engine, const std::string& tag_name, const std::string& address)
      : engine_(engine), header_(NowText() + "：标签" + tag_name), address_(address) {}

  // A field the address leaves out: the default, with a hint when tracing.
  int32_t Missing(int32_t fallback, std::string_view what) {
    if (engine_.Parameters().TraceLog != 0) {
      engine_.AppendLog(header_ + "提示：地址=" + address_ + std::string(what) + "，系统采用缺省值" +
                        std::to_string(fallback) + "\r\n");
    }
    return fallback;
  }

  // A field that is there: its number, or -1 and an error line when it is none.
  int32_t Convert(std::string_view text, std::string_view illegal) {
    if (std::optional<int32_t> value = TryStrToInt(text)) return *value;
    return Illegal(illegal);
  }

  int32_t Illegal(std::string_view illegal) {
    if (engine_.Parameters().ErrorLog != 0) {
      engine_.AppendLog(header_ + "错误：标签地址" + address_ + std::string(illegal) + "\r\n");
    }
    return -1;
  }

 private:
  TBaseDLLObject& engine_;
  std::string header_;
  const std::string& address_;
};

std::string IllegalCardText() { return "中" + DriverFileInfo()->DevIDName() + "非法。"; }
std::string IllegalSlotText() { return "中槽号非法。"; }
std::string IllegalChannelText() { return "的" + DriverFileInfo()->ChnName() + "非法。"; }
std::string IllegalBitText() { return "中位号非法。"; }

// A parser that fails on its own (out of memory) writes its field's error line if it still can.
int32_t ParserFailed(TBaseDLLObject& engine, const std::string& tag_name, const std::string& address,
                     std::string (*illegal)()) {
  try {
    return FieldParser(engine, tag_name, address).Illegal(illegal());
  } catch (...) {
    return -1;
  }
}

// Why a tag cannot be served by its card, as the tail of the message; empty when it can.
std::string AddressFault(const TDLLTag& tag, const TDeviceParams& params) {
  const TagTypeRow* type = TagType(tag.TypeIndex);
  if (type == nullptr) return "指定不存在的标签类型。";

  const auto info = DriverFileInfo();
  const TCardParams* card = params.card(tag.CardNo);
  // A number outside the block names no entry at all: the same as an entry without a card.
  if (tag.ModelCode == kModelNoCard || card == nullptr) {
    const std::string& device = info->DevTypeName();
    return "所指定的" + IntToStrPadded(tag.CardNo, 4) + "号" + device + "不存在。请在设备向导中添加该" +
           device + "！\r\n";
  }

  const std::string card_name(ModelName(*card));
  const std::string& channel_name = info->ChnName();
  if (tag.Slot == -1) return "槽号错误，" + card_name + "不存在此标签。";
  if (tag.Channel == -1) return channel_name + "错误，" + card_name + "不存在此标签。";
  if (tag.Bit == -1) return "位号错误，" + card_name + "不存在此标签。";

  // Every range check runs; the last one that fails is the one reported.
  const int32_t chan_min = ChanMinOf(*type, tag.ModelCode);
  const int32_t chan_max = ChanMaxOf(*type, tag.ModelCode);
  std::string tail;
  if (Above(tag.Bit, type->BitMax)) {
    tail = "的位号超出" + card_name + "的最大范围" + std::to_string(type->BitMax);
  }
  if (Below(tag.Bit, type->BitMin)) {
    tail = "的位号超出最小范围" + card_name + "的最小范围" + std::to_string(type->BitMin);
  }
  if (Above(tag.Channel, chan_max)) {
    tail = "的" + channel_name + "超出" + card_name + "的最大范围" + std::to_string(chan_max);
  }
  if (Below(tag.Channel, chan_min)) {
    tail = "的" + channel_name + "超出" + card_name + "的最小范围" + std::to_string(chan_min);
  }
  if (Above(tag.Slot, type->SlotMax)) {
    tail = "的槽号超出" + card_name + "的最大范围" + std::to_string(type->SlotMax);
  }
  if (Below(tag.Slot, type->SlotMin)) {
    tail = "的槽号超出" + card_name + "的最小范围" + std::to_string(type->SlotMin);
  }
  return tail;
}

}  // namespace

int32_t TBaseDLLObject::GetTagTypeIndex(const std::string& address) {
  try {
    const std::string upper = gbk::UpperCase(address);
    int32_t best = -1;
    size_t best_size = 0;
    for (size_t i = 0; i < kTagTypes.size(); ++i) {
      const std::string name = gbk::UpperCase(kTagTypes[i].Name);
      if (name.size() > best_size && upper.starts_with(name)) {
        best = static_cast<int32_t>(i);
        best_size = name.size();
      }
    }
    return best;
  } catch (...) {
    LogException("GetTagTypeIndex");
    return -1;
  }
}

std::string TBaseDLLObject::GetTagTypeStr(const std::string& address) {
  try {
    const TagTypeRow* type = TagType(GetTagTypeIndex(address));
    return type != nullptr ? gbk::UpperCase(type->Name) : std::string();
  } catch (...) {
    LogException("GetTagTypeStr");
    return {};
  }
}

int32_t TBaseDLLObject::GetCardNo(const std::string& tag_name, const std::string& address) {
  try {
    FieldParser parser(*this, tag_name, address);
    const TagTypeRow* type = TagType(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    const std::string_view rest = WithoutTypeName(address, *type);
    const Separator colon = FindColon(rest);
    if (!colon.found()) return parser.Missing(DefaultCardNo, "中缺少" + DriverFileInfo()->DevIDName());
    return parser.Convert(rest.substr(0, colon.pos), IllegalCardText());
  } catch (...) {
    return ParserFailed(*this, tag_name, address, IllegalCardText);
  }
}

int32_t TBaseDLLObject::GetSlotNo(const std::string& tag_name, const std::string& address, uint8_t model) {
  try {
    FieldParser parser(*this, tag_name, address);
    if (model == kModelNoCard) return -1;
    const TagTypeRow* type = TagType(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    const int32_t fallback = type->SlotMin == -1 ? 0 : type->SlotMin;
    std::string_view rest = WithoutTypeName(address, *type);
    rest = After(rest, FindColon(rest));
    const Separator comma = FindComma(rest);
    if (comma.found()) return parser.Convert(rest.substr(0, comma.pos), IllegalSlotText());
    if (type->SlotMin == -1) return fallback;
    return parser.Missing(fallback, "中缺少槽号");
  } catch (...) {
    return ParserFailed(*this, tag_name, address, IllegalSlotText);
  }
}

int32_t TBaseDLLObject::GetChannelNo(const std::string& tag_name, const std::string& address, uint8_t model) {
  try {
    FieldParser parser(*this, tag_name, address);
    if (model == kModelNoCard) return -1;
    const TagTypeRow* type = TagType(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    // A type without channels on this model (AD on a PCI_7505) has no channel to parse.
    const int32_t fallback = ChanMinOf(*type, model);
    if (fallback == -1) return -1;
    std::string_view rest = WithoutTypeName(address, *type);
    rest = After(rest, FindColon(rest));
    rest = After(rest, FindComma(rest));
    if (size_t dot = gbk::Find(rest, "."); dot != kNotFound) rest = rest.substr(0, dot);
    if (rest.empty()) return parser.Missing(fallback, "中缺少" + DriverFileInfo()->ChnName());
    return parser.Convert(rest, IllegalChannelText());
  } catch (...) {
    return ParserFailed(*this, tag_name, address, IllegalChannelText);
  }
}

int32_t TBaseDLLObject::GetBitNo(const std::string& tag_name, const std::string& address, uint8_t model) {
  try {
    FieldParser parser(*this, tag_name, address);
    if (model == kModelNoCard) return -1;
    const TagTypeRow* type = TagType(GetTagTypeIndex(address));
    if (type == nullptr) return -1;
    const int32_t fallback = type->BitMin == -1 ? 0 : type->BitMin;
    // The type name holds no separator, so the bit needs no stripping of it.
    std::string_view rest = address;
    rest = After(rest, FindColon(rest));
    rest = After(rest, FindComma(rest));
    if (size_t dot = gbk::Find(rest, "."); dot != kNotFound)
      return parser.Convert(rest.substr(dot + 1), IllegalBitText());
    if (type->BitMin == -1) return fallback;
    return parser.Missing(fallback, "中缺少位号");
  } catch (...) {
    return ParserFailed(*this, tag_name, address, IllegalBitText);
  }
}

void TBaseDLLObject::CheckAddrValid(std::unique_ptr<TDLLTag>& tag) {
  if (!tag) return;
  try {
    const std::string tail = AddressFault(*tag, Params);
    if (tail.empty()) return;
    const std::string header = NowText() + "：标签" + tag->Name;
    const std::string message = header + "错误：标签地址" + tag->Address + tail;
    const std::string dropped = header + "错误报告：由于出现错误，系统在通讯时丢弃该标签！\r\n";
    tag.reset();
    WriteDevMsg(message);
    AppendLog(message + "\r\n");
    AppendLog(dropped);
  } catch (...) {
    LogException("CheckAddrValid");
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
    const uint8_t model = ModelCodeOf(*block, card);
    const int32_t bit = GetBitNo("", address, model);
    const int32_t channel = GetChannelNo("", address, model);
    const int32_t slot = GetSlotNo("", address, model);

    std::string normal = type_text + std::to_string(card) + ":";
    if (type.SlotMin != -1) normal += std::to_string(slot) + ",";
    normal += std::to_string(channel) + "." + std::to_string(bit);
    address = std::move(normal);
    return index != -1;
  } catch (...) {
    LogException("CheckTagAddr");
    return false;
  }
}

}  // namespace vorel
