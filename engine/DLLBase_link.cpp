// The link state: how the exchanges of the device and of each card went, and the values of the
// internal tags (COMMLINK, ENCOMMLINK, DEVICELINK) that show it to the host.
#include "engine/DLLBase.h"
#include "support/gbk_text.h"
#include "support/getfileinfo.h"

namespace vorel {

namespace {

constexpr const char* kLinkTexts[] = {"通讯始终不成功!", "通讯正常!",     "通讯出现干扰!",
                                      "通讯出现故障!",   "通讯线路断路!", "通讯暂停!"};

}  // namespace

std::string TBaseDLLObject::link_text(uint8_t state) const {
  if (state == kLinkNever && !CommEnabled) return kLinkTexts[kLinkPaused];
  return state <= kLinkPaused ? kLinkTexts[state] : std::string();
}

// Sets the value an internal link tag shows, by the tag's value type. The keyword is the start of
// the tag's type text, so "COMMLINK:" shows what "COMMLINK" shows.
void TBaseDLLObject::apply_internal_value(TDLLTag& tag, int32_t card) {
  const auto info = driver_file_info();
  if (tag.TypeStr.starts_with("COMMLINK")) {
    if (tag.ValueType == 0)
      tag.Value = TVariant::Int(CommState);
    else if (tag.ValueType == 1)
      tag.Value = TVariant::Bool(CommLinkOK);
    else
      tag.Value = TVariant::String(info->DeviceName() + link_text(CommState));
  } else if (tag.TypeStr.starts_with("ENCOMMLINK")) {
    if (tag.ValueType == 0)
      tag.Value = TVariant::Int(CommEnabled ? 1 : 0);
    else if (tag.ValueType == 1)
      tag.Value = TVariant::Bool(CommEnabled);
    else
      tag.Value = TVariant::String(info->DeviceName() + (CommEnabled ? "打开通信线路" : "关闭通信线路"));
  } else if (gbk::starts_with_no_case(tag.TypeStr, "DEVICELINK") && is_card_number(card)) {
    const uint8_t state = DevLinkState[card];
    if (tag.ValueType == 0) {
      tag.Value = TVariant::Int(state);
    } else if (tag.ValueType == 1) {
      tag.Value = TVariant::Bool(CommLinkOK);
    } else {
      tag.Value = TVariant::String(std::to_string(card) + "号" + info->DevTypeName() +
                                   std::string(ModelName(*Params.card(card))) + link_text(state));
    }
  }
}

// ---------------------------------------------------------------- link state

void TBaseDLLObject::WriteCommLinkOK(bool value) { CommLinkOK = value; }

void TBaseDLLObject::WriteCommEnabled(bool value) { CommEnabled = value; }

const std::vector<TDLLTag*>& TBaseDLLObject::internal_tags() {
  if (InternalTagsOf != TagList.data() || InternalTagsCount != TagList.size()) {
    InternalTagsCache.clear();
    for (const auto& tag : TagList)
      if (tag->Internal) InternalTagsCache.push_back(tag.get());
    InternalTagsOf = TagList.data();
    InternalTagsCount = TagList.size();
    ShownLink.reset();
  }
  return InternalTagsCache;
}

void TBaseDLLObject::note_link_outcome() { PendingOutcomeCard = CurCmd ? CurCmd->CardNo : 0; }

void TBaseDLLObject::UpdateLinkState() {
  bool resumed = false;
  if (CommEnabled && StateBeforePause) {
    // Resumed: the device and the cards are back where they were before the pause, so that the
    // next failure reads as a disturbance of a link that worked, not as one that never did.
    CommState = StateBeforePause->comm_state;
    DevLinkState = StateBeforePause->cards;
    StateBeforePause.reset();
    resumed = true;
  }
  int32_t card = 0;
  if (!CommEnabled) {
    show_pause();
  } else if (PendingOutcomeCard) {
    card = apply_pending_outcome();
  } else if (!resumed) {
    return;  // nothing handled since the last call: the tags already show the state
  }
  refresh_link_tags(card, resumed);
}

// Paused: the device and every card show the paused state.
void TBaseDLLObject::show_pause() {
  if (!StateBeforePause) StateBeforePause = LinkShown{CommState, CommLinkOK, CommEnabled, DevLinkState};
  CommState = kLinkPaused;
  for (int32_t n = 1; n <= kCardCount; ++n) DevLinkState[n] = kLinkPaused;
}

int32_t TBaseDLLObject::apply_pending_outcome() {
  const int32_t card = *PendingOutcomeCard;
  PendingOutcomeCard.reset();
  const bool known = is_card_number(card);
  if (CommLinkOK) {
    CommState = kLinkOK;
    if (known) DevFailCount[card] = 0;
  } else {
    if (known && DevFailCount[card] != -1) ++DevFailCount[card];
    static constexpr uint8_t kNext[] = {0, 2, 3, 4, 4, 0};
    CommState = CommState <= kLinkPaused ? kNext[CommState] : CommState;
  }
  if (known) DevLinkState[card] = card_link_state(card);
  return card;
}

// A card's link from its failures in a row: none is normal, up to two a disturbance, up to five a
// fault, more a broken link.
uint8_t TBaseDLLObject::card_link_state(int32_t card) const {
  const int32_t fails = DevFailCount[card];
  if (fails == -1) return kLinkNever;
  if (fails == 0) return kLinkOK;
  if (fails <= 2) return kLinkDisturbed;
  if (fails <= 5) return kLinkFault;
  return kLinkBroken;
}

// The device's link tags always follow the state; a card's only when it is the card of the
// outcome, or when a pause or a resume changed every card at once.
void TBaseDLLObject::refresh_link_tags(int32_t card, bool resumed) {
  try {
    const std::vector<TDLLTag*>& internal = internal_tags();
    const LinkShown now{CommState, CommLinkOK, CommEnabled, DevLinkState};
    if (ShownLink == now) return;
    ShownLink = now;
    for (TDLLTag* tag : internal) {
      if (tag->TypeStr == "COMMLINK" || tag->TypeStr == "ENCOMMLINK") {
        apply_internal_value(*tag, tag->CardNo);
      } else if (gbk::starts_with_no_case(tag->TypeStr, "DEVICELINK") &&
                 (tag->CardNo == card || !CommEnabled || resumed)) {
        apply_internal_value(*tag, tag->CardNo);
      }
    }
  } catch (...) {
    log_exception("SwitchRunStatus");  // the run log counts this step as part of the machine
  }
}

}  // namespace vorel
