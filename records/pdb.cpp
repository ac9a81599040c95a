#include "records/pdb.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "support/gbk_text.h"

namespace vorel {

namespace {
constexpr char kDefaultModelName[] = "PCI_7505";
}

std::string_view ModelName(const TCardParams& card) {
  const size_t length = std::min<size_t>(card.ModelName[0], kModelNameMax);
  return {reinterpret_cast<const char*>(card.ModelName + 1), length};
}

void set_model_name(TCardParams& card, std::string_view name) {
  const size_t length = gbk::truncate(name, kModelNameMax).size();
  card.ModelName[0] = static_cast<uint8_t>(length);
  std::memcpy(card.ModelName + 1, name.data(), length);
}

int first_free_card(const TDeviceParams& block) {
  for (int n = 1; n <= kCardCount; ++n)
    if (block.card(n)->ModelCode == kModelNoCard) return n;
  return -1;
}

int first_used_card(const TDeviceParams& block) {
  for (int n = 1; n <= kCardCount; ++n)
    if (block.card(n)->ModelCode != kModelNoCard) return n;
  return -1;
}

void reset_channel_settings(TCardParams& card) {
  // Element by element: the host's block may sit at any address, so no typed pointer into the
  // packed record is formed.
  for (auto& v : card.ADRange) v = 0;
  for (auto& v : card.TCMode) v = 0;
  for (auto& v : card.TCClockDivOn) v = 0;
  for (auto& v : card.TCFilterDivOn) v = 0;
  for (int i = 0; i < kCardCounters; ++i) card.TCClockDiv[i] = 1;
  for (int i = 0; i < kCardCounters; ++i) card.TCFilterDiv[i] = 2;
  for (auto& v : card.DARange) v = 0;
}

void FullPDB(TDeviceParams* block) {
  if (!block) return;
  block->DebugSwitch = 1;
  block->ErrorLog = 0;
  block->TraceLog = 0;
  for (int n = 1; n <= kCardCount; ++n) {
    TCardParams& c = *block->card(n);
    c.CardNo = n;
    c.ModelCode = kModelNoCard;
    c.ModelName[0] = 0;
    c.BaseAddress = kDefaultBaseAddress;
    c.InputMode = 0;
    c.ADMaxRange = 0;
    c.ADFilterNums = 10;
    c.reserved64 = 0;
    reset_channel_settings(c);
  }
  TCardParams& first = *block->card(1);
  first.ModelCode = kModelPci7505;
  set_model_name(first, kDefaultModelName);
  block->CurCardNo = 1;
  block->CreateMode = 0;
}

void copy_card_settings(const TCardParams& source, TCardParams& dest) {
  dest.ModelCode = source.ModelCode;
  set_model_name(dest, ModelName(source));
  dest.BaseAddress = source.BaseAddress;
  dest.InputMode = source.InputMode;
  dest.ADMaxRange = source.ADMaxRange;
  dest.ADFilterNums = source.ADFilterNums;
  dest.reserved64 = source.reserved64;
  for (size_t i = 0; i < sizeof source.ADRange; ++i) dest.ADRange[i] = source.ADRange[i];
  for (size_t i = 0; i < sizeof source.DARange; ++i) dest.DARange[i] = source.DARange[i];
}

void CopyPDB(const TDeviceParams& source, TDeviceParams& dest) {
  dest.DebugSwitch = source.DebugSwitch;
  dest.ErrorLog = source.ErrorLog;
  dest.TraceLog = source.TraceLog;
  for (int n = 1; n <= kCardCount; ++n) {
    const TCardParams& s = *source.card(n);
    TCardParams& d = *dest.card(n);
    d.CardNo = s.CardNo;
    copy_card_settings(s, d);
    for (size_t i = 0; i < sizeof s.TCMode; ++i) d.TCMode[i] = s.TCMode[i];
    for (size_t i = 0; i < sizeof s.TCClockDivOn; ++i) d.TCClockDivOn[i] = s.TCClockDivOn[i];
    for (int i = 0; i < kCardCounters; ++i) d.TCClockDiv[i] = s.TCClockDiv[i];
    for (size_t i = 0; i < sizeof s.TCFilterDivOn; ++i) d.TCFilterDivOn[i] = s.TCFilterDivOn[i];
    for (int i = 0; i < kCardCounters; ++i) d.TCFilterDiv[i] = s.TCFilterDiv[i];
  }
  dest.CurCardNo = source.CurCardNo;
  dest.CreateMode = source.CreateMode;
}

}  // namespace vorel
