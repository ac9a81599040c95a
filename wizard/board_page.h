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
#include "wizard/board_parts.h"
#include "wizard/wizard.h"

namespace vorel::wizard {

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
  void take_selection(TCardParams& entry);
  int card_number_in_edit() const;
  bool view_mode() const { return run_.operation_mode == kOpView; }

  WizardRun& run_;
  int current_ = 1;
  ChannelSheet ad_, da_, tc_;
  ChannelRows rows_;
};

}  // namespace vorel::wizard
