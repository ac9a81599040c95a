// The engine in the host's rhythm: Refresh builds the read commands, GetInterval paces them, each
// host poll runs one step of the operation machine, and host writes are checked and queued.
#include <cstdint>
#include <limits>
#include <optional>

#include "engine/DLLBase.h"
#include "engine/tag_types.h"
#include "support/delphi.h"
#include "support/getfileinfo.h"

namespace vorel {

namespace {

constexpr uint32_t kNoFasterThanMs = 1000;  // the pace of a device whose tags are all slow
constexpr int32_t kHostPollMs = 10;         // what the host is asked to poll at, always

int32_t clamp_to_int32(int64_t v) {
  return static_cast<int32_t>(std::min<int64_t>(v, std::numeric_limits<int32_t>::max()));
}

}  // namespace

// ---------------------------------------------------------------- read commands and pacing

void TBaseDLLObject::Refresh() {
  if (!Running) return;
  try {
    CurCmd = CurHead = nullptr;
    for (CommandChain& chain : CmdList) FreeCommand(chain);
    CmdList.clear();
    for (const auto& tag : TagList) {
      if (!tag || tag->Internal) continue;
      if (CommandChain command = CreatCommand(*tag, CmdList, false)) CmdList.push_back(std::move(command));
    }

    ReadIndex = 0;
    ReadCommTotal = WriteCommTotal = 0;
    ReadTimeouts = WriteTimeouts = 0;
    ReadFailTotal = WriteFailTotal = 0;
    LastCycleMs = 0;
    // Writes not yet done are given up with the old command lists; the host hears of each.
    for (CommandChain& chain : PendingWrites) drop_write(chain);
    PendingWrites.clear();
    drop_write(ActiveWrite);
    // A command in flight is gone with the lists; waiting for its answer would leave the machine
    // without a current command, and from there it never comes back to reading.
    if (RunStatus == kStatusWaitRead || RunStatus == kStatusWaitWrite) {
      RunStatus = kStatusReady;
      RunEvent = kEventNone;
    }

    OptimizeCommParm();
    ScanTime_ = GetInterval();
    EnLog_ = EnLogTag;
    StartTick = LastCycleTick = platform::clock().ticks();
  } catch (...) {
    log_exception("Refresh");
  }
}

int32_t TBaseDLLObject::GetInterval() {
  try {
    // The fastest read period below a second sets the base; reaching its chain in the rotation
    // closes a read cycle.
    uint32_t base = kNoFasterThanMs;
    for (size_t i = 0; i < CmdList.size(); ++i) {
      if (CmdList[i]->ScanPeriod < base) {
        base = CmdList[i]->ScanPeriod;
        CycleMark = static_cast<int32_t>(i);
      }
    }

    // Each chain is taken every Reload-th visit; load is the number of commands per base period.
    float load = 1.0f;
    for (const CommandChain& chain : CmdList) {
      if (chain->TypeStr == "TEST") {
        chain->Reload = 2;
      } else {
        const int64_t reload = base == 0 ? 1 : chain->ScanPeriod / base;
        chain->Reload = std::max(1, clamp_to_int32(reload));
      }
      chain->Countdown = 1;
      load += 1.0f / static_cast<float>(chain->Reload);
    }
    if (!CmdList.empty())
      base = static_cast<uint32_t>(static_cast<double>(base) / static_cast<double>(load)) + 1;

    // The host cannot poll faster than every 10 ms: stretch the slower chains to keep their pace.
    if (base < static_cast<uint32_t>(kHostPollMs)) {
      const double factor = base != 0 ? static_cast<double>(kHostPollMs) / base : 1.0;
      base = kHostPollMs;
      const int64_t scale = RoundHalfEven(factor);
      for (const CommandChain& chain : CmdList) {
        if (chain->Reload != 1) chain->Reload = clamp_to_int32(scale * chain->Reload);
      }
    }

    FastestScan = SlowestScan = kNoFasterThanMs;
    AverageScan = base;
    ScanFigures = true;
    log_line("：读扫描周期（毫秒）=" + std::to_string(base));
    log_line("：有效标签个数=" + std::to_string(TagList.size()));
  } catch (...) {
    log_exception("GetInterval");
  }
  return kHostPollMs;
}

// Run by the rotation each time it passes CycleMark.
void TBaseDLLObject::update_cycle_statistics() {
  const uint32_t now = platform::clock().ticks();
  LastCycleMs = clamp_to_int32(static_cast<uint32_t>(now - LastCycleTick));
  LastCycleTick = now;
  if (trace_log_on()) log_line("：本次读标签循环周期（毫秒）=" + std::to_string(LastCycleMs) + "\r\n");

  const auto chains = static_cast<int32_t>(CmdList.size());
  const double last = LastCycleMs;
  if (ReadCommTotal < chains) {
    // The first cycles: nothing to compare with yet.
    FastestScan = SlowestScan = AverageScan = last;
    return;
  }
  if (last > SlowestScan) SlowestScan = last;
  if (last < FastestScan) FastestScan = last;
  const double k = ReadCommTotal == chains ? 1.0 : static_cast<double>(ReadCommTotal) - chains;
  AverageScan = ((k - 1) * AverageScan + last) / k;
}

// The engine keeps no output image per point, so tags that share one need no alignment here; the
// card class brings them in line.
void TBaseDLLObject::SyncTagValue(TCommand&) {}

// ---------------------------------------------------------------- one host poll

bool TBaseDLLObject::ReadExecute() {
  if (Stopped) return true;
  try {
    if (CommEnabled) {
      GetRunEvent();
      SwitchRunStatus();
    }
    UpdateLinkState();
    return true;
  } catch (...) {
    log_exception("ReadExecute");
    return false;
  }
}

// The step of the ReadTags export: false when it ran, true only after an exception.
bool TBaseDLLObject::ReadExecuteEx() {
  // A stopped engine has no commands: stepping its machine could only strand it.
  if (!CommEnabled || !Running) return false;
  try {
    GetRunEvent();
    SwitchRunStatus();
    return false;
  } catch (...) {
    log_exception("ReadExecuteEx");
    return true;
  }
}

// ---------------------------------------------------------------- host writes

// A write that will not be done: its tags report the failed-write word and show again what the
// device last took, not the value that never reached it.
void TBaseDLLObject::drop_write(CommandChain& chain) {
  for (const TCommand* c = chain.get(); c; c = c->Next.get()) {
    for (int32_t position : c->TagIds) {
      if (TDLLTag* tag = tag_at(position)) {
        tag->TagStatus = kTagStatusWriteFailed;
        tag->Value = tag->Confirmed;
      }
    }
  }
  FreeCommand(chain);
}

void TBaseDLLObject::expire_queued_writes() {
  const uint32_t now = platform::clock().ticks();
  while (!PendingWrites.empty() &&
         static_cast<uint32_t>(now - PendingWrites.front()->QueuedTick) > kWriteExpiryMs) {
    CommandChain chain = std::move(PendingWrites.front());
    PendingWrites.pop_front();
    for (const TCommand* c = chain.get(); c; c = c->Next.get()) {
      for (int32_t position : c->TagIds) {
        if (TDLLTag* tag = tag_at(position)) tag->TagStatus = kTagStatusWriteExpired;
      }
    }
    FreeCommand(chain);
  }
}

bool TBaseDLLObject::WriteExecute(int32_t tag_id, const TVariant& value) {
  try {
    if (!ParamsLoaded) IniParm(&Params);
    if (!Running) return false;
    // An identifier that was never registered (negative ones included) reaches no tag.
    const int32_t position = IndexArray.find(tag_id);
    if (position < 0 || static_cast<size_t>(position) >= TagList.size()) return false;
    TDLLTag* const tag = TagList[static_cast<size_t>(position)].get();
    if (!tag) {
      if (error_log_on()) log_line("：写标签错误,标签不存在!");
      return false;
    }
    if (const std::optional<bool> done = write_engine_switch(*tag, value)) return *done;
    return queue_output_write(*tag, value);
  } catch (...) {
    log_exception("WriteExecute");
    return false;
  }
}

bool TBaseDLLObject::refuse_write(const TDLLTag& tag, std::string_view reason) {
  if (error_log_on()) log_line("：标签" + tag.Name + std::string(reason));
  return false;
}

// The engine's own switches take their value at once; nothing goes to a card.
std::optional<bool> TBaseDLLObject::write_engine_switch(TDLLTag& tag, const TVariant& value) {
  const TVariant::Kind kind = value.kind();
  if (tag.TypeStr == "ENLOG") {
    if (kind == TVariant::Kind::Double) EnLog_ = value.double_value() != 0;
    if (kind == TVariant::Kind::Bool) EnLog_ = value.bool_value();
    if (tag.ValueType == 0) tag.Value = TVariant::Int(EnLog_ ? 1 : 0);
    if (tag.ValueType == 1) tag.Value = TVariant::Bool(EnLog_);
    return true;
  }
  if (tag.TypeStr == "COMMLINK") return refuse_write(tag, "不可写!");
  if (tag.TypeStr == "ENCOMMLINK") {
    if (kind == TVariant::Kind::Double) WriteCommEnabled(value.double_value() != 0);
    if (kind == TVariant::Kind::Bool) WriteCommEnabled(value.bool_value());
    apply_internal_value(tag, tag.CardNo);
    return true;
  }
  return std::nullopt;
}

// A device output: the type must take writes and the value must suit the tag.
bool TBaseDLLObject::queue_output_write(TDLLTag& tag, const TVariant& value) {
  const TVariant::Kind kind = value.kind();
  const TagTypeRow* type = tag_type(tag.TypeIndex);
  if (!type || !type->CanWrite) return refuse_write(tag, "不可写!");
  if (kind == TVariant::Kind::Double && tag.ValueType != 0)
    return refuse_write(tag, "写错误,标签不是模拟量类型!");
  if (kind == TVariant::Kind::Bool && tag.ValueType != 1)
    return refuse_write(tag, "写错误,标签不是开关量类型!");
  if (kind == TVariant::Kind::String && tag.ValueType != 2)
    return refuse_write(tag, "写错误,标签不是字符串类型!");
  if (!CommEnabled) return false;

  // Stale writes go first, so that an expired request neither hides a fresh one with the same
  // value nor holds a place in the queue.
  expire_queued_writes();
  // A full queue refuses before anything is built: building a write command changes the output
  // images of the tag and of every tag sharing its port, and a refused write must change nothing.
  if (PendingWrites.size() >= kMaxPendingWrites) return false;
  tag.Value = value;
  CommandChain chain = CreatCommand(tag, CmdList, true);
  if (!chain) return false;
  chain->QueuedTick = platform::clock().ticks();
  for (TCommand* c = chain.get(); c; c = c->Next.get()) {
    c->Values.assign(1, value);
    SyncTagValue(*c);
  }
  PendingWrites.push_back(std::move(chain));
  return true;
}

}  // namespace vorel
