// The parts of the board page that stand apart from its form: what it does to the card table of
// the block, and the channel sheet that pages a model's channel rows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "records/pdb.h"
#include "ui/controls.h"
#include "wizard/catalogue.h"

namespace vorel::wizard {

inline constexpr char kSingleEnded[] = "单端";
inline constexpr char kDifferential[] = "差动";

// At most one row per channel setting a card entry holds.
inline constexpr int kAdChannels = sizeof(TCardParams::ADRange);
inline constexpr int kDaChannels = sizeof(TCardParams::DARange);
inline constexpr int kCounters = kCardCounters;
inline constexpr int kChannelsPerPage = 8;

// The rows a channel sheet shows, one per channel.
struct RangeRow {
  ui::Panel* number = nullptr;
  ui::ComboBox* range = nullptr;
};
struct CounterRow {
  ui::Panel* number = nullptr;
  ui::ComboBox* mode = nullptr;
  ui::CheckBox* clock_on = nullptr;
  ui::Edit* clock_div = nullptr;
  ui::CheckBox* filter_on = nullptr;
  ui::Edit* filter_div = nullptr;
};

// A channel sheet (AD, DA or timer/counter): a row of controls for each channel a model of the
// catalogue can have, shown a page of eight at a time, and the sheet's paging buttons. What a row
// shows is the page's business (show_row); the sheet pages.
class ChannelSheet {
 public:
  ChannelSheet(ui::TabSheet& tab, ui::Button& up, ui::Button& down) : sheet(tab), up_(up), down_(down) {}
  ui::TabSheet& sheet;
  std::vector<std::vector<ui::Control*>> rows;  // by channel
  std::function<void(int channel)> show_row;    // the current card's settings into a shown row

  int page() const { return page_; }
  int page_count() const { return pages_; }
  int channels() const { return channels_; }  // of the current card's model
  // The current card's model has `channels` channels in `pages` pages. None: the tab is hidden
  // (the card diagram becomes the active sheet if this one was); otherwise its first page shows.
  void set_up(int channels, int pages, ui::PageControl& control, ui::TabSheet& diagram);
  void show();
  void up();
  void down();

 private:
  ui::Button& up_;
  ui::Button& down_;
  int channels_ = 0, pages_ = 0, page_ = 0;
};

// The first of 100H, 120H, ... 3E0H that no entry's 20H-wide port range covers; 220H when all are.
int32_t free_base_address(const TDeviceParams& block);
// Moves card o to number n; entry o becomes free. Counter fields stay where they are.
void move_card(TDeviceParams& block, int from, int to);
// "板卡号:1 PCI_7505 基址:220 单端"
std::string card_node_text(const TCardParams& card);

struct ChannelRows {
  std::vector<RangeRow> ad, da;
  std::vector<CounterRow> tc;
};
// The rows of the three sheets, hidden, for the channels the catalogue's models have (none for
// the driver's own model); each sheet is handed the controls of its rows.
ChannelRows make_channel_rows(ui::Form& form, const BoardCatalogue& catalogue, ChannelSheet& ad,
                              ChannelSheet& da, ChannelSheet& tc);

}  // namespace vorel::wizard
