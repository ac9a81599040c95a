// Page 4: the cards of the device as a tree, with add, delete, renumber and device type, the base
// address and the analog-input settings of the current card, and channel sheets (AD, DA, timer/
// counter) for a model that has such channels. It edits the working copy of the block directly;
// Finish stores the remaining edits and commits.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "wizard/wizard.h"

namespace vorel::wizard {

constexpr int kAdChannels = 32;
constexpr int kDaChannels = 16;
constexpr int kCounters = 24;
constexpr int kChannelsPerPage = 8;

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
// A deleted card's channels: the first ranges, counter mode 0, no dividers on, dividers 1 and 2.
void reset_channels(TCardParams& card);
// Moves card o to number n; entry o becomes free. Counter fields stay where they are.
void move_card(TDeviceParams& block, int from, int to);
// "板卡号:1 PCI_7505 基址:220 单端"
std::string card_node_text(const TCardParams& card);

class TStep11Frm : public ui::Form {
 public:
  explicit TStep11Frm(WizardRun& run);

  int current_card() const { return current_; }
  int ad_page() const { return ad_.page(); }
  int ad_page_count() const { return ad_.page_count(); }
  int tc_page() const { return tc_.page(); }

  ui::Label& Label1;
  ui::Label& Label4;
  ui::GroupBox& GroupBox1;
  ui::ComboBox& DevTypeEd;
  ui::Edit& IDEd;
  ui::Edit& BaseAddress;
  ui::Label& Label7;
  ui::Label& H_Label;
  ui::ComboBox& InputMode;
  ui::Label& Label8;
  ui::ComboBox& ADMaxRange;
  ui::Label& Label11;
  ui::Edit& ADFilterNums_Edit;
  ui::Label& ADFilterNums_Label;
  ui::PageControl& ParamPage;
  ui::TabSheet& TabSheet1;
  ui::TabSheet& ADSheet;
  ui::TabSheet& DASheet;
  ui::TabSheet& TCSheet;
  ui::TabSheet& IOSheet;
  ui::TreeView& DeviceTree;
  ui::Button& ADUpButton;
  ui::Button& ADDownButton;
  ui::Button& DAUpButton;
  ui::Button& DADownButton;
  ui::Button& TCUpButton;
  ui::Button& TCDownButton;
  ui::Button& AddBtn;
  ui::Button& DelBtn;
  ui::Button& LastBtn;
  ui::Button& FinishBtn;
  ui::Timer& Timer1;

 private:
  // The form's event handlers, wired in the constructor.
  void DeviceTreeClick();
  void DevTypeEdChange();
  void IDEdExit();
  void InputModeChange();
  void ADMaxRangeChange();
  void ADFilterNums_EditExit();
  void AddBtnClick();
  void DelBtnClick();
  void LastBtnClick();
  void FinishBtnClick();
  void ADSheetShow();
  void DASheetShow();
  void TCSheetShow();
  void ADSheetExit();
  void DASheetExit();
  void TCSheetExit();
  void ADUpButtonClick();
  void ADDownButtonClick();
  void DAUpButtonClick();
  void DADownButtonClick();
  void TCUpButtonClick();
  void TCDownButtonClick();
  void Timer1Timer();
  void FormCreate();
  void build_channel_rows();
  void wire_handlers();
  TCardParams& Entry(int card) { return *run_.working().card(card); }
  const BoardModel* model_of(int card) const;
  const BoardModel& selected_model() const;
  void show_entry(int card);
  void fill_max_ranges(const BoardModel& model, int selected);
  void rebuild_tree();
  void refresh_editors();
  void set_up_sheet(ChannelSheet& sheet, int max_channel, int pages);
  int ad_pages(const TCardParams& entry, int ad_max) const;
  void collect_ad();
  void collect_da();
  void collect_tc();
  void store();
  int range_offset(int card) const;
  void set_max_range(int card, int max_range);
  void first_ranges(int card);
  int channels_of(const ChannelSheet& sheet) const { return sheet.channels(); }
  void take_selection(TCardParams& entry);
  int card_number_in_edit() const;
  bool view_mode() const { return run_.operation_mode == kOpView; }

  WizardRun& run_;
  int current_ = 1;
  ChannelSheet ad_, da_, tc_;
  std::vector<RangeRow> ad_rows_, da_rows_;
  std::vector<CounterRow> tc_rows_;
};

}  // namespace vorel::wizard
