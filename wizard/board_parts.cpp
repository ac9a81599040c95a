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

// ---------------------------------------------------------------- channel rows

ChannelRows make_channel_rows(ui::Form& form, const BoardCatalogue& catalogue, ChannelSheet& ad,
                              ChannelSheet& da, ChannelSheet& tc) {
  ChannelRows rows;
  int ad_rows = 0, da_rows = 0, tc_rows = 0;
  for (const BoardModel& m : catalogue.models) {
    ad_rows = std::max(ad_rows, std::min(m.ad_max + 1, kAdChannels));
    da_rows = std::max(da_rows, std::min(m.da_max + 1, kDaChannels));
    tc_rows = std::max(tc_rows, std::min(m.tc_max + 1, kCounters));
  }
  for (ChannelSheet* sheet : {&ad, &da}) {
    const std::string prefix = sheet == &ad ? "AD" : "DA";
    ui::TabSheet* s = &sheet->sheet;
    for (int column = 0; column < 2; ++column) {
      form.Place<ui::Label>(s, prefix + "NoHead" + std::to_string(column), "通道号",
                            {8 + column * 296, 4, 60, 18});
      form.Place<ui::Label>(s, prefix + "RangeHead" + std::to_string(column), "输入范围",
                            {76 + column * 296, 4, 120, 18});
    }
    auto& list = sheet == &ad ? rows.ad : rows.da;
    for (int c = 0; c < (sheet == &ad ? ad_rows : da_rows); ++c) {
      // Channels 0-3 of a page in the left column, 4-7 in the right, each in row c mod 4.
      const int left = (c % 8 < 4 ? 0 : 296) + 8;
      const int top = 26 + (c % 4) * 40;
      RangeRow row;
      row.number = &form.Place<ui::Panel>(s, prefix + "Chn" + std::to_string(c), std::to_string(c),
                                          {left, top, 60, 24});
      row.range =
          &form.Place<ui::ComboBox>(s, prefix + "Range" + std::to_string(c), {}, {left + 68, top, 200, 22});
      list.push_back(row);
      sheet->rows.push_back({row.number, row.range});
    }
  }
  const char* heads[] = {"编号", "工作方式", "内部时钟分频", "滤波器分频"};
  const int head_left[] = {8, 60, 200, 380};
  for (size_t i = 0; i < std::size(heads); ++i)
    form.Place<ui::Label>(&tc.sheet, std::string("TCHead") + std::to_string(i), heads[i],
                          {head_left[i], 4, 120, 18});
  for (int c = 0; c < tc_rows; ++c) {
    const std::string n = std::to_string(c);
    const int top = 24 + (c % 8) * 20;
    CounterRow row;
    row.number = &form.Place<ui::Panel>(&tc.sheet, "TCNo" + n, n, {8, top, 44, 19});
    row.mode = &form.Place<ui::ComboBox>(&tc.sheet, "TCMode" + n, {}, {60, top, 130, 19});
    row.clock_on = &form.Place<ui::CheckBox>(&tc.sheet, "TCClockChk" + n, {}, {200, top, 18, 19});
    row.clock_div = &form.Place<ui::Edit>(&tc.sheet, "TCClockEd" + n, "1", {222, top, 80, 19});
    row.filter_on = &form.Place<ui::CheckBox>(&tc.sheet, "TCFilterChk" + n, {}, {380, top, 18, 19});
    row.filter_div = &form.Place<ui::Edit>(&tc.sheet, "TCFilterEd" + n, "2", {402, top, 80, 19});
    rows.tc.push_back(row);
    tc.rows.push_back({row.number, row.mode, row.clock_on, row.clock_div, row.filter_on, row.filter_div});
  }
  for (ChannelSheet* sheet : {&ad, &da, &tc})
    for (const auto& row : sheet->rows)
      for (ui::Control* control : row) control->SetVisible(false);
  return rows;
}

}  // namespace vorel::wizard
