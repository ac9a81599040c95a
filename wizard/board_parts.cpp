#include "wizard/board_parts.h"

#include <algorithm>

#include "support/delphi.h"

namespace vorel::wizard {

namespace {

constexpr int32_t kFirstCandidate = 0x100;
constexpr int32_t kLastCandidate = 0x3E0;
constexpr int32_t kPortSpan = 0x20;

}  // namespace

// ---------------------------------------------------------------- the card table

void reset_channels(TCardParams& card) {
  std::fill(std::begin(card.ADRange), std::end(card.ADRange), uint8_t{0});
  std::fill(std::begin(card.DARange), std::end(card.DARange), uint8_t{0});
  std::fill(std::begin(card.TCMode), std::end(card.TCMode), uint8_t{0});
  std::fill(std::begin(card.TCClockDivOn), std::end(card.TCClockDivOn), uint8_t{0});
  std::fill(std::begin(card.TCClockDiv), std::end(card.TCClockDiv), uint16_t{1});
  std::fill(std::begin(card.TCFilterDivOn), std::end(card.TCFilterDivOn), uint8_t{0});
  std::fill(std::begin(card.TCFilterDiv), std::end(card.TCFilterDiv), uint16_t{2});
}

int32_t free_base_address(const TDeviceParams& block) {
  for (int32_t a = kFirstCandidate; a <= kLastCandidate; a += kPortSpan) {
    bool covered = false;
    for (int n = 1; n <= kCardCount && !covered; ++n) {
      const int64_t base = block.card(n)->BaseAddress;
      covered = base <= a && a < base + kPortSpan;
    }
    if (!covered) return a;
  }
  return kDefaultBaseAddress;
}

void move_card(TDeviceParams& block, int from, int to) {
  if (from == to) return;
  TCardParams& o = *block.card(from);
  TCardParams& n = *block.card(to);
  n.CardNo = to;
  copy_card_settings(o, n);
  o.ModelCode = kModelNoCard;
  set_model_name(o, "");
  o.BaseAddress = o.InputMode = o.ADMaxRange = o.ADFilterNums = o.reserved64 = 0;
  std::fill(std::begin(o.ADRange), std::end(o.ADRange), uint8_t{0});
  std::fill(std::begin(o.DARange), std::end(o.DARange), uint8_t{0});
}

std::string card_node_text(const TCardParams& card) {
  return "板卡号:" + std::to_string(card.CardNo) + " " + std::string(ModelName(card)) +
         " 基址:" + IntToHex(card.BaseAddress, 3) + " " +
         (card.InputMode == 1 ? kDifferential : kSingleEnded);
}

// ---------------------------------------------------------------- channel sheets

void ChannelSheet::set_up(int channels, int pages, ui::PageControl& control, ui::TabSheet& diagram) {
  channels_ = std::min(channels, static_cast<int>(rows.size()));
  pages_ = pages;
  if (channels <= 0) {
    sheet.SetTabVisible(false);
    if (control.ActivePage() == &sheet) control.SetActivePage(&diagram);
    return;
  }
  sheet.SetTabVisible(true);
  // Every row takes the card's settings, on its page or not: leaving the sheet collects them all.
  for (int c = 0; c < channels_; ++c) show_row(c);
  page_ = 0;
  show();
}

void ChannelSheet::show() {
  const int first = page_ * kChannelsPerPage;
  const int last = std::min(channels_, first + kChannelsPerPage) - 1;
  for (int c = 0; c < static_cast<int>(rows.size()); ++c) {
    const bool on = c >= first && c <= last;
    for (ui::Control* control : rows[c]) control->SetVisible(on);
    if (on) show_row(c);
  }
  up_.SetEnabled(page_ > 0);
  down_.SetEnabled(page_ + 1 < pages_);
}

void ChannelSheet::up() {
  if (page_ > 0) --page_;
  show();
}

void ChannelSheet::down() {
  if (page_ + 1 < pages_) ++page_;
  show();
}

}  // namespace vorel::wizard
