#include "wizard/board_page.h"

#include <algorithm>
#include <span>

#include "support/delphi.h"
#include "support/gbk_text.h"
#include "ui/services.h"

namespace vorel::wizard {

namespace {

constexpr char kDoubleEnded[] = "双端";

// Pages of a sheet of `channels` (0 or more) rows.
int Pages(int channels, int per_page) { return (channels + per_page - 1) / per_page; }

int clamp_card(int n) { return std::clamp(n, 1, kCardCount); }

}  // namespace

// ---------------------------------------------------------------- the page

TStep11Frm::TStep11Frm(WizardRun& run)
    : ui::Form("TStep11Frm"),
      Label1(Place<ui::Label>(nullptr, "Label1", {}, {16, 12, 600, 18})),
      Label4(Place<ui::Label>(nullptr, "Label4", "请在板卡配置图中选中板卡，然后可以修改或察看板卡配置。",
                              {16, 36, 600, 18})),
      GroupBox1(Place<ui::GroupBox>(nullptr, "GroupBox1", "当前板卡配置", {16, 60, 608, 100})),
      DevTypeEd(Place<ui::ComboBox>(&GroupBox1, "DevTypeEd", {}, {80, 20, 110, 22})),
      IDEd(Place<ui::Edit>(&GroupBox1, "IDEd", {}, {270, 20, 50, 22})),
      BaseAddress(Place<ui::Edit>(&GroupBox1, "BaseAddress", {}, {450, 20, 60, 22})),
      Label7(Place<ui::Label>(&GroupBox1, "Label7", "基址：(16进制)", {340, 24, 108, 18})),
      H_Label(Place<ui::Label>(&GroupBox1, "H_Label", "H", {514, 24, 16, 18})),
      InputMode(Place<ui::ComboBox>(&GroupBox1, "InputMode", {}, {80, 60, 110, 22})),
      Label8(Place<ui::Label>(&GroupBox1, "Label8", "AD输入方式", {8, 64, 72, 18})),
      ADMaxRange(Place<ui::ComboBox>(&GroupBox1, "ADMaxRange", {}, {270, 60, 110, 22})),
      Label11(Place<ui::Label>(&GroupBox1, "Label11", "AD最大范围", {196, 64, 72, 18})),
      ADFilterNums_Edit(Place<ui::Edit>(&GroupBox1, "ADFilterNums_Edit", "10", {470, 60, 60, 22})),
      ADFilterNums_Label(Place<ui::Label>(&GroupBox1, "ADFilterNums_Label", "AD滤波次数", {396, 64, 72, 18})),
      ParamPage(Place<ui::PageControl>(nullptr, "ParamPage", {}, {16, 168, 608, 250})),
      TabSheet1(Place<ui::TabSheet>(&ParamPage, "TabSheet1", "板卡配置图", {4, 24, 600, 222})),
      ADSheet(Place<ui::TabSheet>(&ParamPage, "ADSheet", "模拟量输入", {4, 24, 600, 222})),
      DASheet(Place<ui::TabSheet>(&ParamPage, "DASheet", "模拟量输出", {4, 24, 600, 222})),
      TCSheet(Place<ui::TabSheet>(&ParamPage, "TCSheet", "定时/计数器", {4, 24, 600, 222})),
      IOSheet(Place<ui::TabSheet>(&ParamPage, "IOSheet", "可编程I/O", {4, 24, 600, 222})),
      DeviceTree(Place<ui::TreeView>(&TabSheet1, "DeviceTree", {}, {4, 4, 590, 212})),
      ADUpButton(Place<ui::Button>(&ADSheet, "ADUpButton", "上一页", {420, 190, 80, 24})),
      ADDownButton(Place<ui::Button>(&ADSheet, "ADDownButton", "下一页", {508, 190, 80, 24})),
      DAUpButton(Place<ui::Button>(&DASheet, "DAUpButton", "上一页", {420, 190, 80, 24})),
      DADownButton(Place<ui::Button>(&DASheet, "DADownButton", "下一页", {508, 190, 80, 24})),
      TCUpButton(Place<ui::Button>(&TCSheet, "TCUpButton", "上一页", {420, 190, 80, 24})),
      TCDownButton(Place<ui::Button>(&TCSheet, "TCDownButton", "下一页", {508, 190, 80, 24})),
      AddBtn(Place<ui::Button>(nullptr, "AddBtn", "添加板卡", {16, 428, 88, 26})),
      DelBtn(Place<ui::Button>(nullptr, "DelBtn", "删除板卡", {112, 428, 88, 26})),
      LastBtn(Place<ui::Button>(nullptr, "LastBtn", "上一步", {440, 428, 88, 26})),
      FinishBtn(Place<ui::Button>(nullptr, "FinishBtn", "完成", {536, 428, 88, 26})),
      Timer1(add_timer("Timer1", 200, true)),
      run_(run),
      ad_(ADSheet, ADUpButton, ADDownButton),
      da_(DASheet, DAUpButton, DADownButton),
      tc_(TCSheet, TCUpButton, TCDownButton) {
  set_size(640, 496);
  StayOnTop = true;
  Place<ui::Label>(&GroupBox1, "Label5", "板卡类型", {8, 24, 72, 18});
  Place<ui::Label>(&GroupBox1, "Label6", "板卡号", {200, 24, 68, 18});
  for (ui::TabSheet* s : {&TabSheet1, &ADSheet, &DASheet, &TCSheet, &IOSheet}) ParamPage.add_page(*s);
  InputMode.SetItems({kSingleEnded, kDoubleEnded});
  BaseAddress.SetEnabled(false);
  rows_ = make_channel_rows(*this, run_.catalogue(), ad_, da_, tc_);
  wire_handlers();
  FormCreate();
}

void TStep11Frm::wire_handlers() {
  DeviceTree.OnClick = [this] { DeviceTreeClick(); };
  DevTypeEd.OnChange = [this] { DevTypeEdChange(); };
  IDEd.OnExit = [this] { IDEdExit(); };
  InputMode.OnChange = [this] { InputModeChange(); };
  ADMaxRange.OnChange = [this] { ADMaxRangeChange(); };
  ADFilterNums_Edit.OnExit = [this] { ADFilterNums_EditExit(); };
  AddBtn.OnClick = [this] { AddBtnClick(); };
  DelBtn.OnClick = [this] { DelBtnClick(); };
  LastBtn.OnClick = [this] { LastBtnClick(); };
  FinishBtn.OnClick = [this] { FinishBtnClick(); };
  ADSheet.OnShow = [this] { ADSheetShow(); };
  DASheet.OnShow = [this] { DASheetShow(); };
  TCSheet.OnShow = [this] { TCSheetShow(); };
  ADSheet.OnExit = [this] { ADSheetExit(); };
  DASheet.OnExit = [this] { DASheetExit(); };
  TCSheet.OnExit = [this] { TCSheetExit(); };
  ADUpButton.OnClick = [this] { ADUpButtonClick(); };
  ADDownButton.OnClick = [this] { ADDownButtonClick(); };
  DAUpButton.OnClick = [this] { DAUpButtonClick(); };
  DADownButton.OnClick = [this] { DADownButtonClick(); };
  TCUpButton.OnClick = [this] { TCUpButtonClick(); };
  TCDownButton.OnClick = [this] { TCDownButtonClick(); };
  Timer1.OnTimer = [this] { Timer1Timer(); };
  // A row shows the current card's entry: an AD range as its index within the card's max range.
  ad_.show_row = [this](int c) {
    rows_.ad[c].range->SetItemIndex(Entry(current_).ADRange[c] - range_offset(current_));
  };
  da_.show_row = [this](int c) { rows_.da[c].range->SetItemIndex(Entry(current_).DARange[c]); };
  tc_.show_row = [this](int c) {
    const TCardParams& e = Entry(current_);
    const CounterRow& row = rows_.tc[c];
    row.mode->SetItemIndex(e.TCMode[c]);
    row.clock_on->SetChecked(e.TCClockDivOn[c] == 1);
    row.clock_div->SetText(std::to_string(e.TCClockDiv[c]));
    row.filter_on->SetChecked(e.TCFilterDivOn[c] == 1);
    row.filter_div->SetText(std::to_string(e.TCFilterDiv[c]));
  };
}

const BoardModel* TStep11Frm::model_of(int card) const {
  return run_.catalogue().by_code(run_.working().card(card)->ModelCode);
}

const BoardModel& TStep11Frm::selected_model() const {
  return run_.catalogue().by_selection(DevTypeEd.ItemIndex());
}

void TStep11Frm::FormCreate() {
  run_.next_page = kPageEnd;
  center_on_screen();
  Label1.SetCaption(run_.welcome());
  std::vector<std::string> types;
  for (const BoardModel& m : run_.catalogue().models) types.push_back(m.name);
  DevTypeEd.SetItems(std::move(types));
  // A damaged block may name a card outside the table; the page shows the nearest one.
  current_ = clamp_card(run_.working().CurCardNo);
  show_entry(current_);
  rebuild_tree();
  static constexpr const char* kCaptions[] = {"板卡向导:板卡安装", "板卡向导:修改板卡配置",
                                              "板卡向导:察看板卡配置"};
  SetCaption(run_.texts().DeviceName + kCaptions[std::min<int>(run_.operation_mode, kOpView)]);
  if (view_mode()) {
    AddBtn.SetVisible(false);
    DelBtn.SetVisible(false);
    for (ui::Control* c : std::initializer_list<ui::Control*>{&IDEd, &BaseAddress, &InputMode, &ADMaxRange,
                                                              &ADFilterNums_Edit, &DevTypeEd})
      c->SetEnabled(false);
  }
  refresh_editors();
}

void TStep11Frm::show_entry(int card) {
  const TCardParams& e = Entry(card);
  int type_index = -1;
  const auto& models = run_.catalogue().models;
  for (size_t i = 0; i < models.size(); ++i)
    if (models[i].code == e.ModelCode) type_index = static_cast<int>(i);
  DevTypeEd.SetItemIndex(type_index);
  IDEd.SetText(std::to_string(card));
  BaseAddress.SetText(IntToHex(e.BaseAddress, 3));
  InputMode.SetItemIndex(e.InputMode);
  fill_max_ranges(selected_model(), e.ADMaxRange);
  ADFilterNums_Edit.SetText(std::to_string(e.ADFilterNums));
}

void TStep11Frm::fill_max_ranges(const BoardModel& model, int selected) {
  std::vector<std::string> names;
  for (const MaxRangeEntry& m : model.description.max_ranges)
    if (!m.name.empty()) names.emplace_back(m.name);
  ADMaxRange.SetItems(std::move(names));
  ADMaxRange.SetItemIndex(selected);
}

void TStep11Frm::rebuild_tree() {
  DeviceTree.Clear();
  for (int n = 1; n <= kCardCount; ++n) {
    const TCardParams& e = *run_.working().card(n);
    if (e.ModelCode == kModelNoCard || ModelName(e).empty()) continue;
    DeviceTree.add_node({card_node_text(e), n});
  }
}

void TStep11Frm::refresh_editors() {
  TCardParams& e = Entry(current_);
  const BoardModel* model = model_of(current_);
  const int ad_max = model ? model->ad_max : -1;
  const int da_max = model ? model->da_max : -1;
  const int tc_max = model ? model->tc_max : -1;

  // 1-2. The lists of the current card's rows, then the sheets at their first pages.
  if (model) {
    const std::vector<std::string> ad_names = model->ad_range_names(e.ADMaxRange);
    const std::vector<std::string> da_names = model->da_range_names();
    const std::vector<std::string> modes = model->counter_mode_names();
    for (int c = 0; c < std::min(ad_max + 1, kAdChannels); ++c) rows_.ad[c].range->SetItems(ad_names);
    for (int c = 0; c < std::min(da_max + 1, kDaChannels); ++c) rows_.da[c].range->SetItems(da_names);
    for (int c = 0; c < std::min(tc_max + 1, kCounters); ++c) rows_.tc[c].mode->SetItems(modes);
  }
  set_up_sheet(ad_, ad_max, ad_pages(e, ad_max));
  set_up_sheet(da_, da_max, Pages(da_max + 1, kChannelsPerPage));
  set_up_sheet(tc_, tc_max, Pages(tc_max + 1, kChannelsPerPage));

  // 3..8. The editors of the group box.
  const bool editable = !view_mode();
  IDEd.SetEnabled(editable);
  if (IDEd.Text().empty()) {
    const int free = first_free_card(run_.working());
    if (free != -1) IDEd.SetText(std::to_string(free));
  }
  if (!TryStrToInt("$" + BaseAddress.Text())) BaseAddress.SetText("220");
  const BoardModel& selected = selected_model();
  const ModelDescription& d = selected.description;
  if (selected.has_ad()) {
    InputMode.SetItems({kSingleEnded, kDifferential});
  } else {
    if (d.single_ended != kAbsent) InputMode.AddItem(kSingleEnded);
    if (d.differential != kAbsent) InputMode.AddItem(kDifferential);
  }
  InputMode.SetItemIndex(e.InputMode);
  const bool polarity = gbk::find(d.max_ranges[0].name, "极性") != std::string_view::npos;
  Label11.SetCaption(polarity ? "AD输入极性" : "AD最大范围");
  fill_max_ranges(selected, e.ADMaxRange);
  InputMode.SetEnabled(editable && selected.has_ad() && d.differential != kAbsent);
  ADMaxRange.SetEnabled(editable && selected.has_ad());
  ADFilterNums_Edit.SetEnabled(editable && model && model->has_ad() && selected.has_ad());
}

// The differential input mode counts sixteen channels to a page, which still shows eight.
int TStep11Frm::ad_pages(const TCardParams& entry, int ad_max) const {
  return Pages(ad_max + 1, entry.InputMode == 1 ? 16 : kChannelsPerPage);
}

void TStep11Frm::set_up_sheet(ChannelSheet& sheet, int max_channel, int pages) {
  sheet.set_up(max_channel + 1, pages, ParamPage, TabSheet1);
}

// ---------------------------------------------------------------- channel sheets

void TStep11Frm::ADSheetShow() { ad_.show(); }
void TStep11Frm::DASheetShow() { da_.show(); }
void TStep11Frm::TCSheetShow() { tc_.show(); }
void TStep11Frm::ADSheetExit() { collect_ad(); }
void TStep11Frm::DASheetExit() { collect_da(); }
void TStep11Frm::TCSheetExit() { collect_tc(); }
void TStep11Frm::ADUpButtonClick() { ad_.up(); }
void TStep11Frm::ADDownButtonClick() { ad_.down(); }
void TStep11Frm::DAUpButtonClick() { da_.up(); }
void TStep11Frm::DADownButtonClick() { da_.down(); }
void TStep11Frm::TCUpButtonClick() { tc_.up(); }
void TStep11Frm::TCDownButtonClick() { tc_.down(); }

void TStep11Frm::Timer1Timer() {
  for (const CounterRow& row : rows_.tc) {
    if (!row.clock_div->Showing()) continue;
    row.clock_div->SetEnabled(row.clock_on->Checked());
    row.filter_div->SetEnabled(row.filter_on->Checked());
  }
}

// The sheets' rows into the current card's entry; a list without a selection is its first item.
void TStep11Frm::collect_ad() {
  TCardParams& e = Entry(current_);
  const int offset = range_offset(current_);
  for (int c = 0; c < ad_.channels(); ++c)
    e.ADRange[c] = static_cast<uint8_t>(std::max(rows_.ad[c].range->ItemIndex(), 0) + offset);
}

void TStep11Frm::collect_da() {
  TCardParams& e = Entry(current_);
  for (int c = 0; c < da_.channels(); ++c)
    e.DARange[c] = static_cast<uint8_t>(std::max(rows_.da[c].range->ItemIndex(), 0));
}

// A divider that is not a whole number stops here with an error box; what came before stays.
void TStep11Frm::collect_tc() {
  TCardParams& e = Entry(current_);
  for (int c = 0; c < tc_.channels(); ++c) {
    const CounterRow& row = rows_.tc[c];
    e.TCMode[c] = static_cast<uint8_t>(std::max(row.mode->ItemIndex(), 0));
    e.TCClockDivOn[c] = row.clock_on->Checked() ? 1 : 0;
    e.TCFilterDivOn[c] = row.filter_on->Checked() ? 1 : 0;
    e.TCClockDiv[c] = static_cast<uint16_t>(StrToInt(row.clock_div->Text()));
    e.TCFilterDiv[c] = static_cast<uint16_t>(StrToInt(row.filter_div->Text()));
  }
}

int TStep11Frm::range_offset(int card) const {
  const BoardModel* m = model_of(card);
  return m ? m->range_offset(run_.working().card(card)->ADMaxRange) : 0;
}

// The entry's AD ranges keep their places within the max range when it changes.
void TStep11Frm::set_max_range(int card, int max_range) {
  const int from = range_offset(card);
  TCardParams& e = Entry(card);
  e.ADMaxRange = max_range;
  const int to = range_offset(card);
  for (uint8_t& code : e.ADRange) code = static_cast<uint8_t>(code - from + to);
}

// Every AD channel of the card at the first range of its max range.
void TStep11Frm::first_ranges(int card) {
  const int offset = range_offset(card);
  for (uint8_t& code : Entry(card).ADRange) code = static_cast<uint8_t>(offset);
}

// ---------------------------------------------------------------- editors

int TStep11Frm::card_number_in_edit() const {
  // IDEd leaves its exit handler within 1..32; a text that never went through it is kept in the table.
  return clamp_card(TryStrToInt(IDEd.Text()).value_or(1));
}

void TStep11Frm::take_selection(TCardParams& entry) {
  const BoardModel& m = selected_model();
  entry.ModelCode = m.code;
  set_model_name(entry, m.name);
}

void TStep11Frm::store() {
  const int n = card_number_in_edit();
  TCardParams& e = Entry(n);
  take_selection(e);
  // The base address editor is never enabled: it holds the three hexadecimal digits shown.
  e.BaseAddress = StrToInt("$" + BaseAddress.Text());
  e.InputMode = InputMode.ItemIndex();
  set_max_range(n, ADMaxRange.ItemIndex());
  e.ADFilterNums = StrToInt(ADFilterNums_Edit.Text());
}

void TStep11Frm::DeviceTreeClick() {
  const ui::TreeNode* node = DeviceTree.selected_node();
  if (!node) return;
  current_ = clamp_card(Entry(static_cast<int>(node->data)).CardNo);
  show_entry(current_);
  refresh_editors();
}

void TStep11Frm::DevTypeEdChange() {
  take_selection(Entry(current_));
  refresh_editors();
  rebuild_tree();
}

void TStep11Frm::IDEdExit() {
  if (!IDEd.Modified()) return;
  IDEd.SetModified(false);
  const std::optional<int> typed = TryStrToInt(IDEd.Text());
  int n = typed.value_or(1);
  if (!typed || n < 1 || n > kCardCount) {
    // The edit never keeps a text that names no card.
    n = clamp_card(n);
    IDEd.SetText(std::to_string(n));
  }
  if (n == current_) return;  // the card keeps its own number
  if (Entry(n).ModelCode == kModelNoCard) {
    move_card(run_.working(), current_, n);  // the range settings travel with the card
    run_.working().CurCardNo = n;
    rebuild_tree();
    current_ = n;
    return;
  }
  Hide();
  ui::show_information(run_.texts().DevIDName + "重复,请重新修改!");
  Show();
  IDEd.SetText(std::to_string(current_));
}

void TStep11Frm::InputModeChange() {
  first_ranges(current_);
  TCardParams& e = Entry(current_);
  e.InputMode = InputMode.ItemIndex();
  const BoardModel* m = model_of(current_);
  const int ad_max = m ? m->ad_max : -1;
  set_up_sheet(ad_, ad_max, ad_pages(e, ad_max));
  rebuild_tree();
}

void TStep11Frm::ADMaxRangeChange() {
  TCardParams& e = Entry(current_);
  e.ADMaxRange = ADMaxRange.ItemIndex();
  first_ranges(current_);
  const BoardModel* m = model_of(current_);
  const std::vector<std::string> names = m ? m->ad_range_names(e.ADMaxRange) : std::vector<std::string>{};
  for (const RangeRow& row : rows_.ad) row.range->SetItems(names);
  ad_.show();
}

void TStep11Frm::ADFilterNums_EditExit() {
  int value = StrToInt(ADFilterNums_Edit.Text());
  if (value < 1) {
    value = 1;
    ADFilterNums_Edit.SetText("1");
  } else if (value > 32) {
    value = 32;
    ADFilterNums_Edit.SetText("32");
  }
  Entry(current_).ADFilterNums = value;
}

void TStep11Frm::AddBtnClick() {
  collect_ad();
  collect_da();
  collect_tc();
  store();
  // store() has put the editors into the entry of the number in IDEd; that card moves to a free
  // port range and the new card takes the typed base address.
  current_ = card_number_in_edit();
  TCardParams& e = Entry(current_);
  const int32_t base = e.BaseAddress;
  e.BaseAddress = free_base_address(run_.working());

  const int n = first_free_card(run_.working());
  if (n != -1) {
    IDEd.SetText(std::to_string(n));
    run_.modified = true;
    current_ = n;
    TCardParams& added = Entry(n);
    take_selection(added);
    added.BaseAddress = base;
    added.InputMode = InputMode.ItemIndex();
    set_max_range(n, ADMaxRange.ItemIndex());
  }
  rebuild_tree();
}

void TStep11Frm::DelBtnClick() {
  TDeviceParams& block = run_.working();
  if (const ui::TreeNode* node = DeviceTree.selected_node()) {
    // The node selected, which the keyboard may have moved away from the card the editors show.
    const int deleted = clamp_card(static_cast<int>(node->data));
    TCardParams& e = Entry(deleted);
    e.ModelCode = kModelNoCard;
    set_model_name(e, "");
    e.BaseAddress = kDefaultBaseAddress;
    e.InputMode = 0;
    e.ADMaxRange = 0;
    reset_channel_settings(e);
  }
  const int first = first_used_card(block);
  current_ = first != -1 ? first : clamp_card(block.CurCardNo);
  // Every editor, the filter count too, shows the card now current: Finish stores them into it.
  show_entry(current_);
  refresh_editors();
  rebuild_tree();
  run_.modified = true;
}

void TStep11Frm::LastBtnClick() {
  run_.next_page = run_.Pop();
  SetModalResult(ui::mrYes);
}

void TStep11Frm::FinishBtnClick() {
  // In view mode nothing could be edited: the editors are not stored, so the block the host gets
  // back is the one it gave (storing the disabled, empty lists would change its range bytes).
  if (!view_mode()) {
    collect_ad();
    collect_da();
    collect_tc();
    store();
  }
  run_.commit();
  run_.next_page = kPageEnd;
  SetModalResult(ui::mrOk);
}

}  // namespace vorel::wizard
