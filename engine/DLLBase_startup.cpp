// Construction, start-up from the host's block and tags, the internal keyword tags, stop and
// destruction.
#include <cstring>

#include "engine/DLLBase.h"
#include "engine/tag_types.h"
#include "support/delphi.h"
#include "support/getfileinfo.h"
#include "support/gbk_text.h"

namespace vorel {

namespace {

constexpr char kNoValidTag[] = "驱动程序加载失败：无合法标签！";

// The card number written after a DEVICELINK / ENDEVICELINK keyword: from the character after
// the keyword up to one character before the end of the address; 1 when empty or not a number.
int32_t keyword_card_no(const std::string& address, size_t keyword_length) {
  if (address.size() <= keyword_length + 1) return 1;
  const std::string digits = address.substr(keyword_length, address.size() - keyword_length - 1);
  const std::optional<int32_t> n = TryStrToInt(digits);
  return n ? *n : 1;
}

}  // namespace

// ---------------------------------------------------------------- shared helpers

void TBaseDLLObject::log_exception(std::string_view method) {
  if (!error_log_on()) return;
  AppendLog(now_text() + "：TBaseDLLObject." + std::string(method) + "异常！\r\n");
}

void TBaseDLLObject::log_line(std::string_view text) { AppendLog(now_text() + std::string(text) + "\r\n"); }

uint8_t TBaseDLLObject::model_code_of(const TDeviceParams& block, int32_t n) const {
  const TCardParams* c = block.card(n);
  return c ? c->ModelCode : kModelNoCard;
}

TDLLTag* TBaseDLLObject::find_tag(int32_t tag_id) { return tag_at(IndexArray.find(tag_id)); }

// ---------------------------------------------------------------- construction and destruction

TBaseDLLObject::TBaseDLLObject(bool first_instance) : FirstInstance_(first_instance) {
  // A run that never gets as far as a refresh is measured from the engine's creation.
  StartTick = platform::clock().ticks();
  DevFailCount.fill(-1);
  try {
    RotateLog();
    write_start_report();
    StartReportOK = true;
  } catch (...) {
    StartReportOK = false;
  }
}

void TBaseDLLObject::Destroy() {
  if (Destroyed) return;
  Destroyed = true;
  try {
    EnLog_ = true;
    CommLinkOK = false;
    CommEnabled = true;
    if (!Stopped) Stop();
    RotateLog();
  } catch (...) {
    log_exception("Destroy");
  }
}

TBaseDLLObject::~TBaseDLLObject() {
  // Owners call Destroy() first so that the derived classes' Stop runs; this is the fallback.
  Destroy();
}

// ---------------------------------------------------------------- start-up

bool TBaseDLLObject::IniDLLObj(const TDeviceParams* block, const std::vector<HostTag>& tags) {
  try {
    if (Running) Stop();
    bool result = false;
    if (IniParm(block))
      result = IniTagList(tags);
    else
      log_load_failure();
    if (result) post_start_event();
    return result;
  } catch (...) {
    log_exception("IniDLLObj");
    return false;
  }
}

void TBaseDLLObject::log_load_failure() {
  if (!sErrEvent_.empty()) log_line("：" + sErrEvent_);
  log_line("：设备加载失败！");
}

// The operation machine begins as on a new engine: not initialised, with the start event pending.
// An engine started again after a stop may have been left in any state; from "ready" the start
// event would unlink it and leave it waiting for an answer no card sends. Without a write quota
// its first command is a read, which also clears the count of stale writes.
void TBaseDLLObject::post_start_event() {
  WriteQuota = 0;
  RunStatus = kStatusNotInit;
  RunEvent = kEventInit;
}

bool TBaseDLLObject::IniParm(const TDeviceParams* block) {
  try {
    if (!block) return false;
    const TDeviceParams source = *block;  // the block may be our own copy
    CopyPDB(source, Params);
    DefaultCardNo = kCardCount;
    const auto info = driver_file_info();
    for (int32_t n = 1; n <= kCardCount; ++n) {
      const TCardParams& c = *Params.card(n);
      if (c.ModelCode == kModelNoCard) continue;
      if (c.CardNo < DefaultCardNo) DefaultCardNo = c.CardNo;
      if (debug_on())
        log_line("：工程中存在" + int_to_str_padded(n, 4) + "号" + info->DevTypeName() + "：" +
                 std::string(ModelName(c)));
    }
    ParamsLoaded = true;
    return true;
  } catch (...) {
    log_exception("IniParm");
    return false;
  }
}

std::unique_ptr<TDLLTag> TBaseDLLObject::CreatInternalTag(const HostTag& host) {
  try {
    auto tag = std::make_unique<TDLLTag>();
    tag->TagID = host.TagID;
    tag->TagStatus = 0;
    tag->Name = host.Name.substr(0, std::min<size_t>(host.Name.find('\0'), 32));
    tag->Address = host.Address.substr(0, std::min<size_t>(host.Address.find('\0'), 64));
    tag->ValueType = host.ValueType;
    tag->ScanPeriod = host.ScanPeriod;
    tag->Internal = false;
    tag->TypeStr = GetTagTypeStr(tag->Address);
    tag->TypeIndex = GetTagTypeIndex(tag->Address);
    tag->Countdown = 5;
    tag->LastReport = platform::clock().ticks();
    tag->CardNo = GetCardNo(tag->Name, tag->Address);
    tag->ModelCode = tag->CardNo == -1 ? kModelNoCard : model_code_of(Params, tag->CardNo);
    tag->Channel = GetChannelNo(tag->Name, tag->Address, tag->ModelCode);
    tag->Bit = GetBitNo(tag->Name, tag->Address, tag->ModelCode);
    tag->Slot = GetSlotNo(tag->Name, tag->Address, tag->ModelCode);
    if (const TagTypeRow* type = tag_type(tag->TypeIndex)) tag->Writable = type->CanWrite;
    if (!host.InitValue.is_empty()) {
      tag->Value = host.InitValue;
    } else if (host.ValueType == 0) {
      tag->Value = TVariant::Int(0);
      tag->Bit = 1;
    } else if (host.ValueType == 1) {
      tag->Value = TVariant::Bool(false);
    } else {
      tag->Value = TVariant::String("");
      tag->Bit = 1;
    }
    tag->Reported = tag->Value;
    tag->Confirmed = tag->Value;
    return tag;
  } catch (...) {
    log_exception("CreatInternalTag");
    return nullptr;
  }
}

// Appends a kept tag to TagList and indexes it. Host identifiers below 0 are refused (they would
// index before the start of the identifier table), and so are value types the host does not have.
bool TBaseDLLObject::register_tag(std::unique_ptr<TDLLTag> tag) {
  if (!tag) return false;
  if (tag->TagID < 0) {
    log_line("：标签" + tag->Name + "错误：标签号" + std::to_string(tag->TagID) +
             "非法，系统在通讯时丢弃该标签！");
    return false;
  }
  // Values travel as a double, a switch or a text; a tag of any other type cannot be reported.
  if (tag->ValueType > 2) {
    log_line("：标签" + tag->Name + "错误：数据类型" + std::to_string(tag->ValueType) +
             "非法，系统在通讯时丢弃该标签！");
    return false;
  }
  const auto position = static_cast<int32_t>(TagList.size());
  IndexArray.set(tag->TagID, position);
  tag->Position = position;
  TagList.push_back(std::move(tag));
  return true;
}

// Fresh, empty lists for a registration that starts the engine running. The identifiers of an
// earlier tag list go with it: a TagID the new list does not register must reach no tag.
void TBaseDLLObject::start_running() {
  drop_lists();
  // The stop report of this run covers this run alone, even when no refresh follows.
  StartTick = platform::clock().ticks();
  ScanFigures = false;
  ReadCommTotal = WriteCommTotal = 0;
  ReadTimeouts = WriteTimeouts = 0;
  ReadFailTotal = WriteFailTotal = 0;
  Running = true;
  Stopped = false;
  EnLog_ = true;
  CommLinkOK = false;
  CommEnabled = true;
}

void TBaseDLLObject::drop_lists() {
  CurCmd = CurHead = nullptr;
  ActiveWrite.reset();
  PendingWrites.clear();
  CmdList.clear();
  TagList.clear();
  IndexArray.clear();
  InternalTagsOf = nullptr;  // a refilled list may reuse the storage and the size
}

bool TBaseDLLObject::IniTagList(const std::vector<HostTag>& tags) {
  try {
    if (Running) Stop();
    start_running();
    for (const HostTag& host : tags) {
      std::unique_ptr<TDLLTag> tag = CreatInternalTag(host);
      if (!tag) continue;
      prepare_tag(tag, host);
      register_tag(std::move(tag));
    }

    const bool result = !TagList.empty();
    if (result) {
      Refresh();
    } else {
      Stop();
      log_line(std::string("：") + kNoValidTag);
      WriteCommEvent(std::string(kNoValidTag) + "\r\n");
    }
    TagCount_ = result ? static_cast<int32_t>(TagList.size()) : 0;
    return result;
  } catch (...) {
    Stop();
    TagCount_ = 0;
    log_exception("IniTagList");
    return false;
  }
}

void TBaseDLLObject::prepare_tag(std::unique_ptr<TDLLTag>& tag, const HostTag& host) {
  const std::string host_upper = gbk::UpperCase(host.Address);
  const int32_t card = mark_internal_tag(*tag, host_upper);
  if (!tag->Internal) {
    CheckAddrValid(tag);
    return;
  }
  tag->TypeStr = host_upper;
  apply_internal_value(*tag, card);
  tag->Reported = tag->Value;
}

int32_t TBaseDLLObject::mark_internal_tag(TDLLTag& tag, const std::string& host_upper) {
  const std::string address_upper = gbk::UpperCase(tag.Address);
  int32_t card = 0;
  if (host_upper.starts_with("COMMLINK")) {
    CommLinkOK = false;
    CommState = kLinkNever;
    tag.Internal = true;
  } else if (host_upper.starts_with("ENCOMMLINK")) {
    CommEnabled = true;
    tag.Internal = true;
  } else if (address_upper.starts_with("DEVICELINK")) {
    card = keyword_card_no(tag.Address, 10);
    tag.CardNo = card;
    if (is_card_number(card)) DevLinkState[card] = kLinkNever;
    tag.Internal = true;
  } else if (address_upper.starts_with("ENDEVICELINK")) {
    card = keyword_card_no(tag.Address, 12);
    tag.CardNo = card;
    tag.Internal = true;
  }
  return card;
}

// An engine that is not running (stopped, or whose start failed) starts again from the block it
// was given: the card class binds its library and checks its cards again, as at a start. When
// that fails, no tag is taken and the failure is logged and reported as a failed start is.
bool TBaseDLLObject::restart() {
  if (ParamsLoaded) {
    if (!IniParm(&Params)) {
      log_load_failure();
      return false;
    }
  }
  start_running();
  return true;
}

int32_t TBaseDLLObject::AddTagLists(const std::vector<HostTag>& tags, int32_t* results) {
  int32_t result = 0;
  try {
    const bool starting = !Running;
    if (starting && !restart()) {
      if (results) std::fill(results, results + tags.size(), 1);
      return 1;
    }
    for (size_t i = 0; i < tags.size(); ++i) {
      const HostTag& host = tags[i];
      std::unique_ptr<TDLLTag> tag = CreatInternalTag(host);
      if (tag) {
        const std::string host_upper = gbk::UpperCase(host.Address);
        if (host_upper.starts_with("ENLOG")) {
          EnLog_ = true;
          EnLogTag = true;
          tag->Internal = true;
        } else if (host_upper.starts_with("COMMLINK")) {
          CommLinkOK = false;
          tag->Internal = true;
        } else if (host_upper.starts_with("ENCOMMLINK")) {
          CommEnabled = true;
          tag->Internal = true;
        }
        if (tag->Internal)
          tag->TypeStr = host_upper;
        else
          CheckAddrValid(tag);
      }
      const bool kept = register_tag(std::move(tag));
      if (results) results[i] = kept ? 0 : 1;
      if (!kept) result = 1;
    }
    if (TagList.empty()) {
      Stop();
    } else {
      Refresh();
      if (starting) post_start_event();  // the restarted engine runs as a started one does
    }
    TagCount_ = TagList.empty() ? 0 : static_cast<int32_t>(TagList.size());
  } catch (...) {
    Stop();
    log_exception("AddTagLists");
  }
  return result;
}

bool TBaseDLLObject::ValidTagValFrm(int32_t form, int32_t kind) {
  if (kind == 0) return form == 2;
  if (kind == 1 || kind == 2) return form >= 0 && form <= 2;
  return false;
}

// ---------------------------------------------------------------- stop

void TBaseDLLObject::Stop() {
  if (Running) {
    try {
      StopTick = platform::clock().ticks();
      AppendLog("\r\n");
      for (CommandChain& chain : CmdList)
        if (chain) FreeCommand(chain->Next);
      write_tag_statistics();
      write_run_time_line();
      drop_lists();
      write_stop_totals();
    } catch (...) {
      log_exception("Stop");
      return;
    }
  }
  Stopped = true;
  Running = false;
}

}  // namespace vorel
