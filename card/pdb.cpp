#include "card/pdb.h"

#include <algorithm>
#include <cstring>

namespace vorel {

namespace {
constexpr char kDefaultModelName[] = "PCI_7505";
}

std::string_view ModelName(const TCardParams& card) {
  const size_t length = std::min<size_t>(card.ModelName[0], kModelNameMax);
  return {reinterpret_cast<const char*>(card.ModelName + 1), length};
}

void SetModelName(TCardParams& card, std::string_view name) {
  const size_t length = std::min<size_t>(name.size(), kModelNameMax);
  card.ModelName[0] = static_cast<uint8_t>(length);
  std::memcpy(card.ModelName + 1, name.data(), length);
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
    std::fill(std::begin(c.ADRange), std::end(c.ADRange), uint8_t{0});
    std::fill(std::begin(c.TCMode), std::end(c.TCMode), uint8_t{0});
    std::fill(std::begin(c.TCClockDivOn), std::end(c.TCClockDivOn), uint8_t{0});
    std::fill(std::begin(c.TCFilterDivOn), std::end(c.TCFilterDivOn), uint8_t{0});
    std::fill(std::begin(c.TCClockDiv), std::end(c.TCClockDiv), uint16_t{1});
    std::fill(std::begin(c.TCFilterDiv), std::end(c.TCFilterDiv), uint16_t{2});
    std::fill(std::begin(c.DARange), std::end(c.DARange), uint8_t{0});
  }
  TCardParams& first = *block->card(1);
  first.ModelCode = kModelPci7505;
  SetModelName(first, kDefaultModelName);
  first.BaseAddress = kDefaultBaseAddress;
  block->CurCardNo = 1;
  block->CreateMode = 0;
}

void CopyPDB(const TDeviceParams& source, TDeviceParams& dest) {
  dest.DebugSwitch = source.DebugSwitch;
  dest.ErrorLog = source.ErrorLog;
  dest.TraceLog = source.TraceLog;
  for (int n = 1; n <= kCardCount; ++n) {
    const TCardParams& s = *source.card(n);
    TCardParams& d = *dest.card(n);
    d.CardNo = s.CardNo;
    d.ModelCode = s.ModelCode;
    SetModelName(d, ModelName(s));
    d.BaseAddress = s.BaseAddress;
    d.InputMode = s.InputMode;
    d.ADMaxRange = s.ADMaxRange;
    d.ADFilterNums = s.ADFilterNums;
    d.reserved64 = s.reserved64;
    std::copy(std::begin(s.ADRange), std::end(s.ADRange), d.ADRange);
    std::copy(std::begin(s.DARange), std::end(s.DARange), d.DARange);
    std::copy(std::begin(s.TCMode), std::end(s.TCMode), d.TCMode);
    std::copy(std::begin(s.TCClockDivOn), std::end(s.TCClockDivOn), d.TCClockDivOn);
    std::copy(std::begin(s.TCClockDiv), std::end(s.TCClockDiv), d.TCClockDiv);
    std::copy(std::begin(s.TCFilterDivOn), std::end(s.TCFilterDivOn), d.TCFilterDivOn);
    std::copy(std::begin(s.TCFilterDiv), std::end(s.TCFilterDiv), d.TCFilterDiv);
  }
  dest.CurCardNo = source.CurCardNo;
  dest.CreateMode = source.CreateMode;
}

}  // namespace vorel
