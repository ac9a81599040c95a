#include "ui/controls.h"

#include <algorithm>

#include "support/gbk_text.h"
#include "ui/backend.h"

namespace ui {

// ---------------------------------------------------------------- Control

Control::Control(Form& form, Control* parent, Kind kind, std::string name)
    : form_(form), parent_(parent), kind_(kind), name_(std::move(name)) {}

Control::~Control() { current_backend().control_destroyed(*this); }

void Control::Changed(Aspect a) { form_.notify_changed(*this, a); }

void Control::SetBounds(int left, int top, int width, int height) {
  bounds_ = {left, top, width, height};
  Changed(Aspect::Bounds);
}

Rect Control::form_bounds() const {
  Rect r = bounds_;
  for (Control* p = parent_; p; p = p->Parent()) {
    r.left += p->Bounds().left;
    r.top += p->Bounds().top;
  }
  return r;
}

void Control::SetCaption(std::string_view text) {
  if (text == text_) return;
  text_.assign(text);
  Changed(Aspect::Text);
}

void Control::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  Changed(Aspect::Enabled);
}

void Control::SetVisible(bool on) {
  if (on == visible_) return;
  visible_ = on;
  Changed(Aspect::Visible);
}

bool Control::Showing() const {
  for (const Control* c = this; c; c = c->Parent()) {
    if (!c->Visible()) return false;
    if (c->kind() == Kind::TabSheet) {
      const auto* pages = static_cast<const PageControl*>(c->Parent());
      if (!pages || pages->ActivePage() != c) return false;
    }
  }
  return true;
}

bool Control::enabled_through_parents() const {
  for (const Control* c = this; c; c = c->Parent())
    if (!c->Enabled()) return false;
  return true;
}

bool Control::usable() const { return Showing() && enabled_through_parents(); }

bool Control::lies_within(const Control& container) const {
  for (const Control* c = this; c; c = c->Parent())
    if (c == &container) return true;
  return false;
}

// ---------------------------------------------------------------- Edit

void Edit::SetText(std::string_view text) { take_text(text, false); }

void Edit::user_set_text(std::string_view text) { take_text(text, true); }

void Edit::take_text(std::string_view text, bool by_user) {
  const std::string_view cut = MaxLength ? vorel::gbk::truncate(text, MaxLength) : text;
  modified_ = by_user;
  if (cut == Text()) return;
  SetCaption(cut);
  Form::fire(OnChange);
}

// ---------------------------------------------------------------- check and radio buttons

bool CheckableButton::store_checked(bool on) {
  if (on == checked_) return false;
  checked_ = on;
  Changed(Aspect::Checked);
  return true;
}

void CheckBox::SetChecked(bool on) {
  if (store_checked(on)) Form::fire(OnClick);
}

void RadioButton::SetChecked(bool on) {
  if (!store_checked(on) || !on) return;
  for (const auto& c : owner_form().Controls())
    if (c.get() != this && c->kind() == Kind::RadioButton && c->Parent() == Parent())
      static_cast<RadioButton&>(*c).SetChecked(false);
  Form::fire(OnClick);
}

// ---------------------------------------------------------------- lists

void ListControl::SetItems(std::vector<std::string> items) {
  items_ = std::move(items);
  index_ = -1;
  Changed(Aspect::Items);
}

void ListControl::AddItem(std::string_view item) {
  items_.emplace_back(item);
  Changed(Aspect::Items);
}

void ListControl::SetItemIndex(int index) {
  const int valid = index >= 0 && index < Count() ? index : -1;
  if (valid == index_) return;
  index_ = valid;
  Changed(Aspect::Selection);
}

std::string ListControl::SelectedText() const { return index_ >= 0 ? items_[index_] : std::string(); }

// ---------------------------------------------------------------- tree

int TreeView::add_node(TreeNode node) {
  nodes_.push_back(std::move(node));
  Changed(Aspect::Items);
  return static_cast<int>(nodes_.size()) - 1;
}

void TreeView::Clear() {
  nodes_.clear();
  selected_ = -1;
  Changed(Aspect::Items);
}

const TreeNode* TreeView::selected_node() const { return selected_ >= 0 ? &nodes_[selected_] : nullptr; }

void TreeView::SetSelected(int index) {
  const int valid = index >= 0 && index < static_cast<int>(nodes_.size()) ? index : -1;
  if (valid == selected_) return;
  selected_ = valid;
  Changed(Aspect::Selection);
}

// ---------------------------------------------------------------- pages

void TabSheet::SetTabVisible(bool on) {
  if (on == tab_visible_) return;
  tab_visible_ = on;
  Changed(Aspect::Visible);
}

void PageControl::add_page(TabSheet& sheet) {
  pages_.push_back(&sheet);
  if (!active_) active_ = &sheet;
  Changed(Aspect::Items);
}

void PageControl::SetActivePage(TabSheet* sheet) {
  if (sheet == active_) return;
  if (sheet && std::find(pages_.begin(), pages_.end(), sheet) == pages_.end()) return;
  TabSheet* old = active_;
  active_ = sheet;
  Changed(Aspect::Selection);
  if (old) Form::fire(old->OnHide);
  if (sheet) Form::fire(sheet->OnShow);
}

std::vector<TabSheet*> PageControl::visible_tabs() const {
  std::vector<TabSheet*> tabs;
  for (TabSheet* s : pages_)
    if (s->TabVisible()) tabs.push_back(s);
  return tabs;
}

// ---------------------------------------------------------------- progress bar, memo, grid

void ProgressBar::set_range(int min, int max) {
  min_ = min;
  max_ = std::max(min, max);
  position_ = std::clamp(position_, min_, max_);
  Changed(Aspect::Position);
}

void ProgressBar::SetPosition(int position) {
  const int p = std::clamp(position, min_, max_);
  if (p == position_) return;
  position_ = p;
  Changed(Aspect::Position);
}

void Memo::SetLines(std::vector<std::string> lines) {
  lines_ = std::move(lines);
  Changed(Aspect::Lines);
}

void Memo::Clear() {
  if (lines_.empty()) return;
  lines_.clear();
  Changed(Aspect::Lines);
}

std::string Memo::joined_text() const {
  size_t size = 0;
  for (const auto& l : lines_) size += l.size() + 2;
  std::string text;
  text.reserve(size);
  for (const auto& l : lines_) {
    text += l;
    text += "\r\n";
  }
  return text;
}

namespace {

std::vector<std::string> split_lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace

void Memo::set_joined_text(std::string_view text) { SetLines(split_lines(text)); }

void Memo::user_set_text(std::string_view text) {
  SetLines(split_lines(text));
  Form::fire(OnChange);
}

void StringGrid::set_size(int cols, int rows) {
  cols = std::max(cols, 1);
  rows = std::max(rows, 1);
  std::vector<std::string> cells(static_cast<size_t>(cols) * rows);
  for (int r = 0; r < std::min(rows, rows_); ++r)
    for (int c = 0; c < std::min(cols, cols_); ++c) cells[r * cols + c] = std::move(cells_[r * cols_ + c]);
  cols_ = cols;
  rows_ = rows;
  cells_ = std::move(cells);
  Changed(Aspect::Cells);
}

const std::string& StringGrid::Cell(int col, int row) const {
  static const std::string kEmpty;
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return kEmpty;
  return cells_[row * cols_ + col];
}

void StringGrid::SetCell(int col, int row, std::string_view text) {
  if (col < 0 || row < 0 || col >= cols_ || row >= rows_) return;
  std::string& cell = cells_[row * cols_ + col];
  if (cell == text) return;
  cell.assign(text);
  Changed(Aspect::Cells);
}

// ---------------------------------------------------------------- Timer

Timer::Timer(Form& form, std::string name, uint32_t interval_ms, bool enabled)
    : form_(form), name_(std::move(name)), interval_(interval_ms), enabled_(enabled) {}

Timer::~Timer() { current_backend().timer_destroyed(*this); }

void Timer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  form_.notify_timer(*this);
}

void Timer::SetInterval(uint32_t ms) {
  if (ms == interval_) return;
  interval_ = ms;
  form_.notify_timer(*this);
}

void Timer::fire() {
  if (enabled_ && interval_ > 0) Form::fire(OnTimer);
}

}  // namespace ui
