// Commands: building read and write exchanges from tags, the write queue, and the order in which
// the operation machine takes them. A chain is run head first; only heads stand in CmdList,
// PendingWrites and ActiveWrite, which own them.
#include <cmath>

#include "engine/DLLBase.h"
#include "engine/images.h"
#include "engine/tag_types.h"
#include "support/delphi.h"
#include "support/getfileinfo.h"

namespace vorel {

namespace {

// A single-precision image rounded to the nearest integer (halves to even). From 2^23 on every
// float is integral already, and infinities or NaN have nothing to round.
float rounded_image(float image) {
  constexpr float kIntegralFrom = 8388608.0f;
  if (!(std::fabs(image) < kIntegralFrom)) return image;
  return static_cast<float>(RoundHalfEven(image));
}

// The integer word behind an image, for the bit operations of switch tags.
int64_t image_word(float image) {
  const float rounded = rounded_image(image);
  return std::fabs(rounded) < 9.2e18f ? static_cast<int64_t>(rounded) : 0;
}

// Updates the tag's numeric output image from its value, by the tag's kind. A value the image
// cannot take (a text on a number tag, a host variant we only carry) leaves the image as it was:
// it must not cost the tag its read command.
void update_raw_image(TDLLTag& tag) {
  try {
    if (tag.ValueType == 0) {
      tag.RawImage = to_single(tag.Value.as_double());
      return;
    }
    const int64_t word = image_word(tag.RawImage);
    if (tag.ValueType == 1) {
      tag.RawImage =
          static_cast<float>(tag.Value.as_bool() ? SetBitOf(word, tag.Bit) : ClearBitOf(word, tag.Bit));
      return;
    }
    const std::string text = tag.Value.as_string();
    if (text == "1") tag.RawImage = static_cast<float>(SetBitOf(word, tag.Bit));
    if (text == "0") tag.RawImage = static_cast<float>(ClearBitOf(word, tag.Bit));
  } catch (const ConversionError&) {
  }
}

}  // namespace

// ---------------------------------------------------------------- log helpers

std::string TBaseDLLObject::value_log_text(const TVariant& value) const {
  switch (value.kind()) {
    case TVariant::Kind::Int:
      return FloatToStr(value.int_value());
    case TVariant::Kind::Double:
      return FloatToStr(value.double_value());
    case TVariant::Kind::Bool:
      return value.bool_value() ? "True" : "False";
    case TVariant::Kind::String:
      return value.string_value();
    default:
      return {};
  }
}

// ---------------------------------------------------------------- building

bool TBaseDLLObject::NeedCreatCommand(std::vector<CommandChain>& list, TDLLTag& tag, bool is_write) {
  try {
    const TagTypeRow* type = tag_type(tag.TypeIndex);
    if (is_write) {
      if (!type || !type->CanWrite) return false;
      // Only the newest queued write of this tag counts: an older one with the same value is
      // followed by a different value, so the new request still changes the output.
      for (auto it = PendingWrites.rbegin(); it != PendingWrites.rend(); ++it) {
        const TCommand& pending = **it;
        if (pending.TagIds.empty() || pending.TagIds.front() != tag.Position) continue;
        if (pending.Values.empty() || pending.Values.front() != tag.Value) return true;
        if (error_log_on())
          log_line("：标签写入操作未执行：" + tag.Name + "重复写入," + " 地址=" + tag.Address +
                   ", 标签值=" + value_log_text(tag.Value));
        return false;
      }
      return true;
    }
    if (!type || !type->CanRead) return false;
    for (CommandChain& chain : list) {
      TCommand& command = *chain;
      if (command.CardNo != tag.CardNo || command.TypeIndex != tag.TypeIndex) continue;
      if (tag.Channel < command.ChanLow || tag.Channel > command.ChanHigh) continue;
      command.TagIds.push_back(tag.Position);
      command.ScanPeriod = std::min(command.ScanPeriod, tag.ScanPeriod);
      return false;
    }
    return true;
  } catch (...) {
    log_exception("NeedCreatCommand");
    return true;
  }
}

CommandChain TBaseDLLObject::CreatCommand(TDLLTag& tag, std::vector<CommandChain>& list, bool is_write) {
  CommandChain command;
  try {
    if (!NeedCreatCommand(list, tag, is_write) || tag.TypeIndex == -1) return nullptr;
    command = std::make_unique<TCommand>();
    update_raw_image(tag);
    TCommand& c = *command;
    fill_command(c, tag, is_write);

    if (is_write && debug_on() && WriteLogBudget > 0) {
      --WriteLogBudget;
      const auto info = driver_file_info();
      std::string line = "：" + info->DevTypeName() + "类型=" + card_model_name(card_entry(c.CardNo)) + "，" +
                         info->DevIDName() + "=" + std::to_string(c.CardNo) + "[";
      for (int32_t position : c.TagIds) {
        const TDLLTag* served = tag_at(position);
        if (!served) continue;
        line += served->Name + " 地址=" + served->Address + " 写入值=";
        if (served->Value.kind() != TVariant::Kind::String) line += value_log_text(served->Value);
        line += ",";
      }
      log_line(line + "]生成写标签命令串=" + c.CmdText);
    }
    return command;
  } catch (...) {
    FreeCommand(command);
    log_exception("CreatCommand");
    return nullptr;
  }
}

// `c` is a new command: its schedule and pace keep their defaults until the cycle is planned.
void TBaseDLLObject::fill_command(TCommand& c, TDLLTag& tag, bool is_write) {
  c.TagIds.assign(1, tag.Position);
  c.TypeStr = tag.TypeStr;
  c.IsWrite = is_write;
  c.TypeIndex = tag.TypeIndex;
  c.RawValue = rounded_image(tag.RawImage);
  c.ScanPeriod = tag.ScanPeriod;
  c.CardNo = tag.CardNo;
  c.CmdFlags = is_write ? kCmdWrite : kCmdRead;
  c.RetryState = is_write ? 1 : 2;
  c.CmdText = GetCommandStr(c, tag, is_write);
  c.AnswerText = GetAnswerStr(c, tag, is_write);
}

std::string TBaseDLLObject::GetCommandStr(TCommand&, TDLLTag& tag, bool is_write) {
  return (is_write ? "向设备发送写标签" : "向设备发送读标签") + tag.Name + "命令";
}

std::string TBaseDLLObject::GetAnswerStr(TCommand&, TDLLTag& tag, bool is_write) {
  return (is_write ? "设备返回写标签" : "设备返回读标签") + tag.Name + "命令的响应";
}

void TBaseDLLObject::OptimizeCommParm() {
  try {
    const auto info = driver_file_info();
    for (const CommandChain& chain : CmdList) {
      for (TCommand* c = chain.get(); c; c = c->Next.get()) {
        if (!c->Optimized && c->is_tag_command()) c->Optimized = true;
        if (!debug_on()) continue;
        const TDLLTag* first = c->TagIds.empty() ? nullptr : tag_at(c->TagIds.front());
        std::string line = "：" + info->DevTypeName() +
                           "类型=" + card_model_name(first ? card_entry(first->CardNo) : nullptr) + "，" +
                           info->DevIDName() + "=" + std::to_string(c->CardNo) + "[";
        for (int32_t position : c->TagIds) {
          if (const TDLLTag* tag = tag_at(position)) line += tag->Name + " 地址=" + tag->Address + " ";
        }
        log_line(line + "]生成读标签命令=" + c->CmdText);
      }
    }
  } catch (...) {
    log_exception("OptimizeCommParm");
  }
}

// ---------------------------------------------------------------- freeing

void TBaseDLLObject::FreeCommand(CommandChain& head) {
  try {
    // Unlink one command at a time so that a long chain never recurses through its destructors.
    while (head) {
      CommandChain rest = std::move(head->Next);
      head = std::move(rest);
    }
  } catch (...) {
    log_exception("FreeCommand");
  }
}

void TBaseDLLObject::free_current_chain() {
  TCommand* const target = CurHead ? CurHead : CurCmd;
  CurCmd = CurHead = nullptr;
  if (!target) return;
  const auto holds = [target](const CommandChain& chain) {
    for (const TCommand* c = chain.get(); c; c = c->Next.get())
      if (c == target) return true;
    return false;
  };
  if (holds(ActiveWrite)) {
    FreeCommand(ActiveWrite);
    return;
  }
  for (auto it = PendingWrites.begin(); it != PendingWrites.end(); ++it) {
    if (!holds(*it)) continue;
    FreeCommand(*it);
    PendingWrites.erase(it);
    return;
  }
  for (auto it = CmdList.begin(); it != CmdList.end(); ++it) {
    if (!holds(*it)) continue;
    FreeCommand(*it);
    CmdList.erase(it);
    return;
  }
}

// ---------------------------------------------------------------- queue discipline

void TBaseDLLObject::GetWriteCommand() {
  try {
    if (PendingWrites.empty()) {
      WriteQuota = 0;
      return;
    }
    ActiveWrite = std::move(PendingWrites.front());
    PendingWrites.pop_front();
    CurCmd = CurHead = ActiveWrite.get();
    const uint32_t waited = platform::clock().ticks() - ActiveWrite->QueuedTick;
    if (!CmdList.empty() && waited > kWriteExpiryMs) ++StaleWrites;
    WriteQuota =
        PendingWrites.empty() ? 0 : static_cast<int32_t>(PendingWrites.size() / (CmdList.size() + 1) + 5);
  } catch (...) {
    log_exception("GetWriteCommand");
  }
}

void TBaseDLLObject::GetReadCommand() {
  try {
    CurCmd = CurHead = nullptr;
    StaleWrites = 0;
    if (!PendingWrites.empty()) WriteQuota = 1;
    if (CmdList.empty()) return;
    const auto count = static_cast<int32_t>(CmdList.size());
    bool cycle_done = false;

    bool first = true;
    int32_t visits = 0;
    TCommand* head = nullptr;
    do {
      ReadIndex = (ReadIndex + 1) % count;
      head = CmdList[static_cast<size_t>(ReadIndex)].get();
      CurHead = head;
      if (ReadIndex == CycleMark) cycle_done = true;
      if (first || head->Countdown < 2) {
        --head->Countdown;
        if (head->Countdown <= 1) first = false;
      }
      // A whole round in which no chain came within two visits: further such rounds change
      // nothing but the countdowns, so take them in one step instead of spinning through a slow
      // device's back-off. Every chain was counted down in the round and none reached 1, so the
      // lowest count is 2 or more. The round has passed the cycle mark already: cycle_done says so.
      if (++visits == count && first) {
        visits = 0;
        int32_t lowest = CmdList.front()->Countdown;
        for (const CommandChain& chain : CmdList) lowest = std::min(lowest, chain->Countdown);
        for (const CommandChain& chain : CmdList) chain->Countdown -= lowest - 2;
      }
    } while (head->Countdown > 0);
    CurCmd = head;
    if (cycle_done) update_cycle_statistics();
  } catch (...) {
    // Logged whatever the ErrorLog switch says: a failing rotation stops all reading.
    log_line("：TBaseDLLObject.GetReadCommand异常！");
  }
}

void TBaseDLLObject::GetCommandNext() {
  try {
    if (!CurCmd) return;
    if (CurCmd->Next) {
      CurCmd = CurCmd->Next.get();
      return;
    }
    if (CurCmd->is_one_shot()) free_current_chain();
    CurCmd = CurHead = nullptr;
  } catch (...) {
    log_exception("GetCommandNext");
  }
}

}  // namespace vorel
