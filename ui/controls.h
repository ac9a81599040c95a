// The control models the driver's dialogs are written against. A model holds the state a page
// reads and writes (texts, selections, ticks, enabled and visible flags) and fires the events the
// page's handlers hang on; a backend (ui/backend.h) mirrors it on real windows or hands it to a
// test driver. Texts are code page 936.
//
// The models keep the habits of the toolkit the pages were first drawn in, because the pages rely
// on them: setting Checked fires OnClick when the tick changes, an ItemIndex of -1 means "nothing
// selected", a program's SetText clears an edit's Modified flag, a sheet's OnExit fires when the
// focus leaves it, and a nonzero ModalResult ends a modal loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ui {

class Form;
class TabSheet;

using Event = std::function<void()>;

// Modal results, as the pages set them. They are only compared with one another (no value leaves
// the driver); mrNone, the zero, is a form still open.
enum ModalResultCode : int { mrNone, mrOk, mrCancel, mrYes, mrNo };

enum class Kind {
  Label,
  Button,
  Edit,
  CheckBox,
  RadioButton,
  RadioGroup,
  ComboBox,
  TreeView,
  PageControl,
  TabSheet,
  ProgressBar,
  Memo,
  StringGrid,
  Panel,
  GroupBox,
};

// What changed on a model, so that a backend updates only that part of its window.
enum class Aspect {
  Text,
  Enabled,
  Visible,
  Bounds,
  Items,
  Selection,
  Checked,
  Position,
  Lines,
  Cells,
  Focus
};

struct Font {
  std::string name = "宋体";
  int size = 9;  // points
  bool bold = false;
};

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
};

class Control {
 public:
  Control(Form& form, Control* parent, Kind kind, std::string name);
  virtual ~Control();
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  Kind kind() const { return kind_; }
  const std::string& Name() const { return name_; }
  Form& owner_form() const { return form_; }
  Control* Parent() const { return parent_; }
  // Bounds relative to the parent (the form's client area for top-level controls).
  const Rect& Bounds() const { return bounds_; }
  void SetBounds(int left, int top, int width, int height);
  // Bounds in the form's client area.
  Rect form_bounds() const;

  // Caption of labels, buttons, boxes and panels; text of edits and combo boxes.
  const std::string& Caption() const { return text_; }
  void SetCaption(std::string_view text);
  const std::string& Text() const { return text_; }
  virtual void SetText(std::string_view text) { SetCaption(text); }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  bool Visible() const { return visible_; }
  void SetVisible(bool on);
  // Visible itself and through every parent, and on the active page of its page control.
  bool Showing() const;
  // Enabled itself and through every parent.
  bool enabled_through_parents() const;
  // Showing and enabled through every parent: the user can reach it.
  bool usable() const;
  // Whether this control is `container` or lies inside it.
  bool lies_within(const Control& container) const;

  const ui::Font& GetFont() const { return font_; }

  Event OnClick, OnDblClick, OnEnter, OnExit;

  // Backend bookkeeping: the window that shows this model, if any.
  void* peer = nullptr;

 protected:
  void Changed(Aspect a);

 private:
  Form& form_;
  Control* parent_;
  Kind kind_;
  std::string name_;
  Rect bounds_;
  std::string text_;
  bool enabled_ = true;
  bool visible_ = true;
  ui::Font font_;
};

class Label : public Control {
 public:
  Label(Form& f, Control* p, std::string name) : Control(f, p, Kind::Label, std::move(name)) {}
};

class Button : public Control {
 public:
  Button(Form& f, Control* p, std::string name) : Control(f, p, Kind::Button, std::move(name)) {}
  // A nonzero value closes the form with it when the button is clicked (after OnClick).
  int ModalResult = mrNone;
  bool Default = false;
};

class Edit : public Control {
 public:
  Edit(Form& f, Control* p, std::string name) : Control(f, p, Kind::Edit, std::move(name)) {}
  // Whether the user changed the text since the program last set it.
  bool Modified() const { return modified_; }
  void SetModified(bool on) { modified_ = on; }
  bool ReadOnly = false;
  // At most this many bytes (0: no limit); a longer text is cut at a character boundary.
  size_t MaxLength = 0;
  Event OnChange;

  // The program sets the text: Modified is cleared and OnChange fires when the text changed.
  void SetText(std::string_view text) override;
  // The user typed: Modified is set and OnChange fires.
  void user_set_text(std::string_view text);

 private:
  void take_text(std::string_view text, bool by_user);
  bool modified_ = false;
};

// A button that holds a tick: check boxes and radio buttons.
class CheckableButton : public Control {
 public:
  using Control::Control;
  bool Checked() const { return checked_; }

 protected:
  // Stores the tick and tells the backend; false when the tick was already so.
  bool store_checked(bool on);

 private:
  bool checked_ = false;
};

class CheckBox : public CheckableButton {
 public:
  CheckBox(Form& f, Control* p, std::string name) : CheckableButton(f, p, Kind::CheckBox, std::move(name)) {}
  // Fires OnClick when the tick changes, whoever sets it.
  void SetChecked(bool on);
};

class RadioButton : public CheckableButton {
 public:
  RadioButton(Form& f, Control* p, std::string name)
      : CheckableButton(f, p, Kind::RadioButton, std::move(name)) {}
  // Checking one clears the other radio buttons of the same parent; OnClick fires for the button
  // that became checked.
  void SetChecked(bool on);
};

// A list of strings with a selection, shared by combo boxes and radio groups.
class ListControl : public Control {
 public:
  using Control::Control;
  const std::vector<std::string>& Items() const { return items_; }
  void SetItems(std::vector<std::string> items);  // keeps no selection
  void AddItem(std::string_view item);
  int ItemIndex() const { return index_; }
  // -1 (or any index outside the list) selects nothing. Never fires an event.
  void SetItemIndex(int index);
  // The selected item's text, empty when nothing is selected.
  std::string SelectedText() const;
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  std::vector<std::string> items_;
  int index_ = -1;
};

class ComboBox : public ListControl {
 public:
  ComboBox(Form& f, Control* p, std::string name) : ListControl(f, p, Kind::ComboBox, std::move(name)) {}
  Event OnChange;  // the user chose an item
};

class RadioGroup : public ListControl {
 public:
  RadioGroup(Form& f, Control* p, std::string name) : ListControl(f, p, Kind::RadioGroup, std::move(name)) {}
  int Columns = 1;
};

struct TreeNode {
  std::string text;
  intptr_t data = 0;
};

class TreeView : public Control {
 public:
  TreeView(Form& f, Control* p, std::string name) : Control(f, p, Kind::TreeView, std::move(name)) {}
  // Top-level nodes only: the pages never nest them.
  const std::vector<TreeNode>& Nodes() const { return nodes_; }
  int add_node(TreeNode node);
  void Clear();
  // Index of the selected node, -1 for none.
  int Selected() const { return selected_; }
  const TreeNode* selected_node() const;
  void SetSelected(int index);
  bool ReadOnly = true;
  bool RowSelect = true;
  bool HideSelection = false;

 private:
  std::vector<TreeNode> nodes_;
  int selected_ = -1;
};

class TabSheet : public Control {
 public:
  TabSheet(Form& f, Control* p, std::string name) : Control(f, p, Kind::TabSheet, std::move(name)) {}
  bool TabVisible() const { return tab_visible_; }
  void SetTabVisible(bool on);
  Event OnShow, OnHide;

 private:
  bool tab_visible_ = true;
};

class PageControl : public Control {
 public:
  PageControl(Form& f, Control* p, std::string name) : Control(f, p, Kind::PageControl, std::move(name)) {}
  void add_page(TabSheet& sheet);
  const std::vector<TabSheet*>& Pages() const { return pages_; }
  TabSheet* ActivePage() const { return active_; }
  // Hides the old sheet (OnHide) and shows the new one (OnShow). A sheet whose tab is hidden can
  // still be made active by the program, as in the toolkit the pages were drawn in.
  void SetActivePage(TabSheet* sheet);
  // The tabs the user sees, in order.
  std::vector<TabSheet*> visible_tabs() const;
  Event OnChange;

 private:
  std::vector<TabSheet*> pages_;
  TabSheet* active_ = nullptr;
};

class ProgressBar : public Control {
 public:
  ProgressBar(Form& f, Control* p, std::string name) : Control(f, p, Kind::ProgressBar, std::move(name)) {}
  int Min() const { return min_; }
  int Max() const { return max_; }
  void set_range(int min, int max);
  int Position() const { return position_; }
  void SetPosition(int position);  // kept within Min..Max

 private:
  int min_ = 0, max_ = 100, position_ = 0;
};

// Multi-line text. The lines are kept without their line ends; the text joins them with CR LF.
class Memo : public Control {
 public:
  Memo(Form& f, Control* p, std::string name) : Control(f, p, Kind::Memo, std::move(name)) {}
  const std::vector<std::string>& Lines() const { return lines_; }
  void SetLines(std::vector<std::string> lines);
  void Clear();
  // The whole text, lines joined by CR LF with a CR LF after the last one.
  std::string joined_text() const;
  // Splits at CR LF, LF or CR; a final line end makes no empty last line.
  void set_joined_text(std::string_view text);
  // The user edited the text in the window.
  void user_set_text(std::string_view text);
  bool ReadOnly = false;
  bool VerticalScrollBar = true;
  bool WordWrap = false;
  Event OnChange;

 private:
  std::vector<std::string> lines_;
};

class StringGrid : public Control {
 public:
  StringGrid(Form& f, Control* p, std::string name) : Control(f, p, Kind::StringGrid, std::move(name)) {}
  int ColCount() const { return cols_; }
  int RowCount() const { return rows_; }
  void set_size(int cols, int rows);  // keeps the cells that still fit
  int FixedCols = 1, FixedRows = 1;
  std::vector<int> ColWidths;
  // The user may type into the cells outside the fixed rows and columns.
  bool Editable = false;
  bool cell_editable(int col, int row) const {
    return Editable && col >= FixedCols && row >= FixedRows && col < cols_ && row < rows_;
  }
  // Cells outside the grid read as empty and are not written.
  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string_view text);

 private:
  int cols_ = 5, rows_ = 5;
  std::vector<std::string> cells_ = std::vector<std::string>(static_cast<size_t>(cols_ * rows_));
};

class Panel : public Control {
 public:
  Panel(Form& f, Control* p, std::string name) : Control(f, p, Kind::Panel, std::move(name)) {}
  bool Bevel = true;
};

class GroupBox : public Control {
 public:
  GroupBox(Form& f, Control* p, std::string name) : Control(f, p, Kind::GroupBox, std::move(name)) {}
};

// A timer of a form. It runs while Enabled and the form exists; the backend fires OnTimer every
// Interval milliseconds (in virtual time under the headless backend).
class Timer {
 public:
  Timer(Form& form, std::string name, uint32_t interval_ms, bool enabled);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  const std::string& Name() const { return name_; }
  Form& owner_form() const { return form_; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t ms);
  Event OnTimer;

  // Called by the backend when the interval has passed.
  void fire();

  void* peer = nullptr;

 private:
  Form& form_;
  std::string name_;
  uint32_t interval_;
  bool enabled_;
};

enum class BorderStyle { Sizeable, Single, Dialog };

// A top-level window: it owns its controls and timers, shows itself modally and tells its
// controls where the focus is.
class Form {
 public:
  explicit Form(std::string name);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const std::string& Name() const { return name_; }

  // Makes a control of the form. parent is a container of this form, or nullptr for the client area.
  template <class T>
  T& Add(Control* parent, std::string name, std::string_view caption = {}) {
    auto owned = std::make_unique<T>(*this, parent, std::move(name));
    T& c = *owned;
    if (!caption.empty()) c.SetCaption(caption);
    controls_.push_back(std::move(owned));
    return c;
  }
  // The same, put at `bounds` within its parent: how every form of the driver makes its controls.
  template <class T>
  T& Place(Control* parent, std::string name, std::string_view caption, Rect bounds) {
    T& c = Add<T>(parent, std::move(name), caption);
    c.SetBounds(bounds.left, bounds.top, bounds.width, bounds.height);
    return c;
  }
  Timer& add_timer(std::string name, uint32_t interval_ms, bool enabled);

  // Controls in creation order; a parent always comes before its children.
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls_; }
  const std::vector<std::unique_ptr<Timer>>& Timers() const { return timers_; }
  Control* find(std::string_view name) const;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string_view text);
  const Rect& Bounds() const { return bounds_; }
  void SetBounds(int left, int top, int width, int height);
  void set_size(int width, int height);
  // top = (screen height - height) div 2, left = (screen width - width) div 2.
  void center_on_screen();

  BorderStyle Border = BorderStyle::Single;
  bool StayOnTop = false;
  bool MinimizeBox = false;
  bool MaximizeBox = false;

  // Shows the form modally over the application's window and returns the modal result. The
  // owner window is disabled meanwhile. OnClose runs when the loop ends and may change the result.
  int ShowModal();
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int result) { modal_result_ = result; }
  // The close box: a modal form closes with mrCancel.
  void Close();
  std::function<void(int& modal_result)> OnClose;

  bool Visible() const { return visible_; }
  void Show();
  void Hide();
  // Whether this form is the window the user works in.
  bool Active() const;

  Control* ActiveControl() const { return focus_; }
  // Moves the focus (the user's or the program's): OnExit fires on the control that had it and
  // on every sheet it leaves, OnEnter on the new one.
  void focus_control(Control* c);
  void SetActiveControl(Control* c) { focus_control(c); }

  // Runs a handler as the toolkit does: an exception it raises is reported in an error message
  // box and goes no further.
  static void fire(const Event& handler);

  // Called by the controls and timers of this form.
  void notify_changed(Control& c, Aspect a);
  void notify_timer(Timer& t);

  void* peer = nullptr;

 private:
  std::string name_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<std::unique_ptr<Timer>> timers_;
  std::string caption_;
  Rect bounds_{0, 0, 400, 300};
  bool visible_ = false;
  bool modal_ = false;
  int modal_result_ = mrNone;
  Control* focus_ = nullptr;
};

// An input/output failure (a file or a printer), reported by the handler's error message box.
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace ui
