// Tags and commands of the card object: internal tags, the output port image the bits of one
// port share, and the command for a tag.
#include <algorithm>
#include <string>

#include "card/DLLObj.h"
#include "card/DLLObj_detail.h"
#include "engine/images.h"
#include "support/delphi.h"
#include "support/gbk_text.h"

namespace vorel {

using namespace card_detail;

namespace {

constexpr size_t kShortStringMax = 255;

// A short string keeps at most 255 bytes; the cut never splits a double-byte character.
std::string short_text(std::string text) {
  text.resize(gbk::truncate(text, kShortStringMax).size());
  return text;
}

// A number as the host's integer conversion gives it (nearest, halves to even).
int32_t to_integer(const TVariant& value) {
  const double d = value.as_double();
  if (!(d > -2147483648.5 && d < 2147483647.5)) throw ConversionError("integer overflow");
  return static_cast<int32_t>(RoundHalfEven(d));
}

}  // namespace

// ---------------------------------------------------------------- tags and commands

std::unique_ptr<TDLLTag> TCustomDLLObject::CreatInternalTag(const HostTag& host) {
  try {
    std::unique_ptr<TDLLTag> tag = TBaseDLLObject::CreatInternalTag(host);
    if (!tag) return tag;
    // A tag that joins a running engine takes the image its port already has: its first write
    // must leave the port's other outputs as the earlier writes set them.
    const int32_t r = bits_per_register(tag->TypeIndex);
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
void TCustomDLLObject::update_port_image(TDLLTag& tag, int32_t bits_per_register) {
  const int32_t bit = std::max(tag.Channel, 0) % bits_per_register;
  if (tag.ValueType == 0) {
    tag.PortImage = to_integer(tag.Value);
    tag.RawImage = to_single(tag.Value.as_double());
  } else if (tag.ValueType == 1) {
    tag.PortImage = static_cast<int32_t>(tag.Value.as_bool() ? SetBitOf(tag.PortImage, bit)
                                                             : ClearBitOf(tag.PortImage, bit));
  } else if (tag.ValueType == 2) {
    const std::string text = tag.Value.as_string();
    if (text == "1") tag.PortImage = static_cast<int32_t>(SetBitOf(tag.PortImage, bit));
    if (text == "0") tag.PortImage = static_cast<int32_t>(ClearBitOf(tag.PortImage, bit));
  }
}

// All output bits of one port share one image: the other tags of the port take the new port value,
// and a tag on the same line takes the written value too.
void TCustomDLLObject::share_write_image(const TDLLTag& tag, const TCommand& command) {
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
    const int32_t r = bits_per_register(tag.TypeIndex);
    update_port_image(tag, r);
    command = std::make_unique<TCommand>();
    TCommand& c = *command;
    fill_command(c, tag, is_write);
    c.RawValue = tag.RawImage;  // the card scales the image itself: not rounded
    c.PortValue = tag.PortImage;
    c.Channel = tag.Channel;
    c.ChanLow = r * (tag.Channel / r);
    c.ChanHigh = r * (tag.Channel / r + 1) - 1;

    if (const TCardParams* card = card_entry(tag.CardNo); card && tag.Channel >= 0) {
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
      share_write_image(tag, c);
      if (trace_log_on() && WriteLogBudget > 0) {
        --WriteLogBudget;
        std::string value_text;
        if (tag.ValueType == 0)
          value_text = FloatToStr(tag.Value.as_double());
        else if (tag.ValueType == 1)
          value_text = tag.Value.as_bool() ? "true" : "false";
        else
          value_text = tag.Value.as_string();
        AppendLog(now_text() + "：生成标签" + tag.Name + "的写命令,写入值=" + value_text + "(该标签地址=" +
                  tag.Address + "，属于" + card_model_name(card_entry(tag.CardNo)) + "设备)。\r\n");
      }
    }
    return command;
  } catch (...) {
    FreeCommand(command);
    log_exception("CreatCommand");
    return nullptr;
  }
}

std::string TCustomDLLObject::GetCommandStr(TCommand&, TDLLTag& tag, bool is_write) {
  return short_text((is_write ? "向设备发送写标签 " : "向设备发送读标签 ") + tag.Name + " 命令");
}

std::string TCustomDLLObject::GetAnswerStr(TCommand&, TDLLTag& tag, bool is_write) {
  return short_text((is_write ? "设备返回写标签 " : "设备返回读标签 ") + tag.Name + " 命令的响应");
}

}  // namespace vorel
