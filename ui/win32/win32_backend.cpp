// Real windows for the control models. The models are the truth: a change of a model is copied to
// its window (with the window's own notifications muted meanwhile), and what the user does in a
// window is handed to the models through ui::user, as the headless test driver does.
#include "ui/win32/win32_backend.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on
#undef MessageBox  // the backend's own operation of that name

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/user.h"
#include "ui/win32/wide_text.h"

namespace ui::win32 {

namespace {

constexpr wchar_t kFormClassW[] = L"VorelPCIForm";
constexpr int kFirstControlId = 1000;
// The edit a grid cell is typed into, over the cell; its window property names it.
constexpr int kCellEditId = 999;
constexpr char kCellEditName[] = "CellEdit";
// Grids are refilled once per batch of cell changes, when the handler that made them has returned.
constexpr UINT kRefreshGrids = WM_APP + 1;

std::string window_text(HWND w) {
  const int length = GetWindowTextLengthW(w);
  std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(w, buffer.data(), length + 1);
  return narrow({buffer.data(), static_cast<size_t>(std::max(got, 0))});
}

HINSTANCE this_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

HWND Hwnd(void* peer) { return static_cast<HWND>(peer); }

// The height of a control's window: a drop-down list's is that of its open list.
class PrinterJob;

class WindowsBackend : public ui::Backend {
 public:
  WindowsBackend();

  void run_modal(Form& form) override;
  void form_visibility_changed(Form& form) override;
  void form_changed(Form& form) override;
  void form_destroyed(Form& form) override;
  bool form_active(const Form& form) const override;
  void control_changed(Control& control, Aspect aspect) override;
  void control_destroyed(Control& control) override;
  void timer_changed(Timer& timer) override;
  void timer_destroyed(Timer& timer) override;
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  bool execute_save_dialog(SaveDialog& dialog) override;
  bool execute_print_dialog() override;
  std::unique_ptr<TextPrinter::Job> start_print_job(std::string_view title, const Font& font) override;
  ScreenSize Screen() const override;

  static LRESULT CALLBACK form_proc(HWND w, UINT message, WPARAM wp, LPARAM lp);

  HFONT font_for(const Font& f, int pixels_per_inch);

 private:
  struct RadioItem {
    RadioGroup* group;
    int index;
  };
  struct KindRow;
  static const KindRow kKinds[];
  static const KindRow& row_of(Kind kind);
  static int window_height(const Control& c, const Rect& r);
  // The edit over the grid cell the user is typing into: at most one at a time.
  struct CellEdit {
    HWND window = nullptr;
    StringGrid* grid = nullptr;
    int col = 0, row = 0;
  };

  void create_form_window(Form& form);
  void create_control_window(Control& c);
  void destroy_form_window(Form& form);
  void apply(Control& c, Aspect a);
  void apply_all(Control& c);
  void apply_visibility(Control& c);
  void apply_enabled(Control& c);
  void apply_bounds(Control& c);
  void fill_tabs(PageControl& pages);
  void fill_radio_group(RadioGroup& group);
  void fill_grid(StringGrid& grid);
  void pull_memo(Memo& memo);
  void begin_cell_edit(StringGrid& grid, HWND list);
  void end_cell_edit(bool keep);
  void arm_timer(Timer& t);
  HWND top_modal_window() const;
  LRESULT on_command(Form& form, HWND child, int code);
  LRESULT on_notify(Form& form, NMHDR* header);
  // What kKinds names for each kind of control.
  void limit_edit(Control& c, HWND w);
  void limit_memo(Control& c, HWND w);
  void grid_lines(Control& c, HWND w);
  void apply_caption(Control& c, Aspect a, HWND w);
  void apply_memo(Control& c, Aspect a, HWND w);
  void apply_combo(Control& c, Aspect a, HWND w);
  void apply_radio_group(Control& c, Aspect a, HWND w);
  void apply_tree(Control& c, Aspect a, HWND w);
  void apply_pages(Control& c, Aspect a, HWND w);
  void apply_bar(Control& c, Aspect a, HWND w);
  void apply_grid(Control& c, Aspect a, HWND w);
  void apply_sheet(Control& c, Aspect a, HWND w);
  void command_button(Form& form, Control& c, HWND w, int code);
  void command_edit(Form& form, Control& c, HWND w, int code);
  void command_memo(Form& form, Control& c, HWND w, int code);
  void command_combo(Form& form, Control& c, HWND w, int code);
  void notify_tree(Form& form, Control& c, NMHDR* header);
  void notify_pages(Form& form, Control& c, NMHDR* header);
  void notify_grid(Form& form, Control& c, NMHDR* header);
  template <class F>
  void quietly(F&& f) {
    ++muted_;
    f();
    --muted_;
  }

  std::map<HWND, Control*> controls_;
  std::map<HWND, RadioItem> radio_items_;
  std::map<RadioGroup*, std::vector<HWND>> radio_windows_;
  std::map<Timer*, UINT_PTR> timer_ids_;
  std::map<Memo*, bool> memo_dirty_;
  std::set<StringGrid*> grids_pending_;
  CellEdit cell_edit_;
  std::map<std::string, HFONT> fonts_;
  std::vector<Form*> modal_;
  UINT_PTR next_timer_id_ = 1;
  int muted_ = 0;
  HDC printer_ = nullptr;
};

// ---------------------------------------------------------------- the kinds of control

// What the backend does for one kind of control: the window that shows it, what a new window
// needs, how a change of the model reaches the window, and what the window's notifications
// (WM_COMMAND codes, WM_NOTIFY headers) do to the model. A new kind of control is a row here and
// the functions it names.
struct WindowsBackend::KindRow {
  Kind kind;
  const wchar_t* window_class;                   // nullptr: no window of its own
  DWORD (*styles)(const Control& c, DWORD& ex);  // beyond WS_CHILD | WS_CLIPSIBLINGS
  bool container;                                // drawn below the controls standing on it
  int drop_down;                                 // height of an open list, beyond the control's
  void (WindowsBackend::*created)(Control& c, HWND w);
  void (WindowsBackend::*apply)(Control& c, Aspect a, HWND w);
  void (WindowsBackend::*command)(Form& form, Control& c, HWND w, int code);
  void (WindowsBackend::*notify)(Form& form, Control& c, NMHDR* header);
};

const WindowsBackend::KindRow WindowsBackend::kKinds[] = {
    {Kind::Label, L"STATIC", [](const Control&, DWORD&) -> DWORD { return SS_LEFT | SS_NOPREFIX; }, false, 0,
     nullptr, &WindowsBackend::apply_caption, nullptr, nullptr},
    {Kind::Panel, L"STATIC",
     [](const Control& c, DWORD& ex) -> DWORD {
       if (static_cast<const Panel&>(c).Bevel) ex |= WS_EX_STATICEDGE;
       return SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX;
     },
     true, 0, nullptr, &WindowsBackend::apply_caption, nullptr, nullptr},
    {Kind::Button, L"BUTTON",
     [](const Control& c, DWORD&) -> DWORD {
       return WS_TABSTOP | BS_NOTIFY | (static_cast<const Button&>(c).Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
     },
     false, 0, nullptr, &WindowsBackend::apply_caption, &WindowsBackend::command_button, nullptr},
    {Kind::CheckBox, L"BUTTON", [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP | BS_NOTIFY | BS_CHECKBOX; },
     false, 0, nullptr, &WindowsBackend::apply_caption, &WindowsBackend::command_button, nullptr},
    {Kind::RadioButton, L"BUTTON",
     [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP | BS_NOTIFY | BS_RADIOBUTTON; }, false, 0, nullptr,
     &WindowsBackend::apply_caption, &WindowsBackend::command_button, nullptr},
    {Kind::GroupBox, L"BUTTON", [](const Control&, DWORD&) -> DWORD { return BS_GROUPBOX; }, true, 0, nullptr,
     &WindowsBackend::apply_caption, nullptr, nullptr},
    // Its items are windows of their own (fill_radio_group), whose clicks on_command takes.
    {Kind::RadioGroup, L"BUTTON", [](const Control&, DWORD&) -> DWORD { return BS_GROUPBOX; }, true, 0, nullptr,
     &WindowsBackend::apply_radio_group, nullptr, nullptr},
    {Kind::Edit, L"EDIT",
     [](const Control& c, DWORD& ex) -> DWORD {
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | ES_AUTOHSCROLL | (static_cast<const Edit&>(c).ReadOnly ? ES_READONLY : 0);
     },
     false, 0, &WindowsBackend::limit_edit, &WindowsBackend::apply_caption, &WindowsBackend::command_edit, nullptr},
    {Kind::Memo, L"EDIT",
     [](const Control& c, DWORD& ex) -> DWORD {
       const auto& m = static_cast<const Memo&>(c);
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL |
              (m.WordWrap ? 0 : ES_AUTOHSCROLL | WS_HSCROLL) | (m.VerticalScrollBar ? WS_VSCROLL : 0) |
              (m.ReadOnly ? ES_READONLY : 0);
     },
     false, 0, &WindowsBackend::limit_memo, &WindowsBackend::apply_memo, &WindowsBackend::command_memo, nullptr},
    {Kind::ComboBox, L"COMBOBOX",
     [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST; }, false, 200,
     nullptr, &WindowsBackend::apply_combo, &WindowsBackend::command_combo, nullptr},
    {Kind::TreeView, WC_TREEVIEWW,
     [](const Control& c, DWORD& ex) -> DWORD {
       const auto& t = static_cast<const TreeView&>(c);
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | (t.HideSelection ? 0 : TVS_SHOWSELALWAYS) | (t.RowSelect ? TVS_FULLROWSELECT : 0) |
              (t.ReadOnly ? 0 : TVS_EDITLABELS);
     },
     false, 0, nullptr, &WindowsBackend::apply_tree, nullptr, &WindowsBackend::notify_tree},
    {Kind::PageControl, WC_TABCONTROLW, [](const Control&, DWORD&) -> DWORD { return WS_TABSTOP; }, true, 0,
     nullptr, &WindowsBackend::apply_pages, nullptr, &WindowsBackend::notify_pages},
    // A sheet is the area of its page control; its controls stand on the form.
    {Kind::TabSheet, nullptr, nullptr, false, 0, nullptr, &WindowsBackend::apply_sheet, nullptr, nullptr},
    {Kind::ProgressBar, PROGRESS_CLASSW, [](const Control&, DWORD&) -> DWORD { return 0; }, false, 0, nullptr,
     &WindowsBackend::apply_bar, nullptr, nullptr},
    {Kind::StringGrid, WC_LISTVIEWW,
     [](const Control&, DWORD& ex) -> DWORD {
       ex |= WS_EX_CLIENTEDGE;
       return WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER;
     },
     false, 0, &WindowsBackend::grid_lines, &WindowsBackend::apply_grid, nullptr, &WindowsBackend::notify_grid},
};

const WindowsBackend::KindRow& WindowsBackend::row_of(Kind kind) {
  for (const KindRow& row : kKinds)
    if (row.kind == kind) return row;
  return kKinds[0];  // every kind has its row; a label is the harmless answer
}

int WindowsBackend::window_height(const Control& c, const Rect& r) {
  return r.height + row_of(c.kind()).drop_down;
}

WindowsBackend& windows_backend() { return static_cast<WindowsBackend&>(backend()); }

WindowsBackend::WindowsBackend() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                           ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = form_proc;
  wc.hInstance = this_module();
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClassW;
  RegisterClassExW(&wc);
}

HFONT WindowsBackend::font_for(const Font& f, int pixels_per_inch) {
  const std::string key = f.name + "/" + std::to_string(f.size) + "/" + std::to_string(f.bold) + "/" +
                          std::to_string(pixels_per_inch);
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  LOGFONTW lf{};
  lf.lfHeight = -MulDiv(f.size, pixels_per_inch, 72);
  lf.lfWeight = f.bold ? FW_BOLD : FW_NORMAL;
  // Without the GB2312 character set a control shows boxes for every Chinese character.
  lf.lfCharSet = GB2312_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  const std::wstring face = wide(f.name);
  wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  HFONT font = CreateFontIndirectW(&lf);
  fonts_[key] = font;
  return font;
}

// ---------------------------------------------------------------- windows of a form

void WindowsBackend::create_form_window(Form& form) {
  if (form.peer) return;
  // No WS_CLIPCHILDREN: group boxes are transparent and need the form's background under them.
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  if (form.MinimizeBox) style |= WS_MINIMIZEBOX;
  if (form.MaximizeBox) style |= WS_MAXIMIZEBOX;
  if (form.Border == BorderStyle::Sizeable) style |= WS_THICKFRAME;
  DWORD ex = WS_EX_CONTROLPARENT;
  if (form.Border == BorderStyle::Dialog) ex |= WS_EX_DLGMODALFRAME;
  if (form.StayOnTop) ex |= WS_EX_TOPMOST;
  const Rect& r = form.Bounds();
  HWND w = CreateWindowExW(ex, kFormClassW, wide(form.Caption()).c_str(), style, r.left, r.top, r.width,
                           r.height, static_cast<HWND>(app().Handle()), nullptr, this_module(), &form);
  if (!w) return;
  form.peer = w;
  SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(Font{}, 96)), FALSE);
  for (const auto& c : form.Controls()) create_control_window(*c);
  for (const auto& c : form.Controls()) apply_all(*c);
  // Containers go to the bottom, so that the controls on them are drawn over them; taken from the
  // last made to the first, an outer container (made before what it holds) ends up lowest.
  for (auto it = form.Controls().rbegin(); it != form.Controls().rend(); ++it) {
    const Control& c = **it;
    if (c.peer && row_of(c.kind()).container)
      SetWindowPos(Hwnd(c.peer), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  for (const auto& t : form.Timers()) arm_timer(*t);
}

void WindowsBackend::create_control_window(Control& c) {
  const KindRow& row = row_of(c.kind());
  if (!row.window_class) return;  // a sheet is the area of its page control; its controls stand on the form
  DWORD ex = 0;
  const DWORD style = WS_CHILD | WS_CLIPSIBLINGS | row.styles(c, ex);
  Form& form = c.owner_form();
  const Rect r = c.form_bounds();
  const auto id = static_cast<UINT_PTR>(kFirstControlId + controls_.size());
  HWND w = CreateWindowExW(ex, row.window_class, wide(c.Caption()).c_str(), style, r.left, r.top, r.width,
                           window_height(c, r), Hwnd(form.peer), reinterpret_cast<HMENU>(id), this_module(),
                           nullptr);
  if (!w) return;
  c.peer = w;
  controls_[w] = &c;
  SetPropA(w, kNameProperty, reinterpret_cast<HANDLE>(const_cast<char*>(c.Name().c_str())));
  SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(c.GetFont(), 96)), FALSE);
  if (row.created) (this->*row.created)(c, w);
}

void WindowsBackend::limit_edit(Control& c, HWND w) {
  if (const int limit = static_cast<Edit&>(c).MaxLength) SendMessageW(w, EM_SETLIMITTEXT, limit, 0);
}

void WindowsBackend::limit_memo(Control&, HWND w) {
  SendMessageW(w, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);  // a day's log is megabytes
}

void WindowsBackend::grid_lines(Control&, HWND w) {
  ListView_SetExtendedListViewStyle(w, LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
}

void WindowsBackend::destroy_form_window(Form& form) {
  HWND w = Hwnd(form.peer);
  if (!w) return;
  // A cell being typed into goes with its form, unstored.
  if (cell_edit_.grid && &cell_edit_.grid->owner_form() == &form) cell_edit_ = {};
  for (const auto& t : form.Timers()) {
    if (auto it = timer_ids_.find(t.get()); it != timer_ids_.end()) KillTimer(w, it->second);
  }
  for (const auto& c : form.Controls()) {
    if (c->kind() == Kind::Memo) pull_memo(static_cast<Memo&>(*c));
    if (c->peer) controls_.erase(Hwnd(c->peer));
    if (c->kind() == Kind::RadioGroup) {
      for (HWND item : radio_windows_[static_cast<RadioGroup*>(c.get())]) radio_items_.erase(item);
      radio_windows_.erase(static_cast<RadioGroup*>(c.get()));
    }
    if (c->kind() == Kind::Memo) memo_dirty_.erase(static_cast<Memo*>(c.get()));
    if (c->kind() == Kind::StringGrid) grids_pending_.erase(static_cast<StringGrid*>(c.get()));
    c->peer = nullptr;
  }
  form.peer = nullptr;
  DestroyWindow(w);
}

// ---------------------------------------------------------------- models to windows

void WindowsBackend::apply_all(Control& c) {
  for (Aspect a : {Aspect::Items, Aspect::Text, Aspect::Selection, Aspect::Checked, Aspect::Position,
                   Aspect::Lines, Aspect::Cells})
    apply(c, a);
  apply_enabled(c);
  apply_visibility(c);
}

void WindowsBackend::apply_visibility(Control& c) {
  const int show = c.Showing() ? SW_SHOWNA : SW_HIDE;
  if (c.peer) ShowWindow(Hwnd(c.peer), show);
  if (c.kind() == Kind::RadioGroup)
    for (HWND item : radio_windows_[static_cast<RadioGroup*>(&c)]) ShowWindow(item, show);
}

void WindowsBackend::apply_enabled(Control& c) {
  const bool enabled = c.enabled_through_parents();
  if (c.peer) EnableWindow(Hwnd(c.peer), enabled);
  if (c.kind() == Kind::RadioGroup)
    for (HWND item : radio_windows_[static_cast<RadioGroup*>(&c)]) EnableWindow(item, enabled);
}

void WindowsBackend::apply_bounds(Control& c) {
  if (!c.peer) return;
  const Rect r = c.form_bounds();
  MoveWindow(Hwnd(c.peer), r.left, r.top, r.width, window_height(c, r), TRUE);
}

void WindowsBackend::apply(Control& c, Aspect a) {
  HWND w = Hwnd(c.peer);
  Form& form = c.owner_form();
  switch (a) {
    case Aspect::Visible:
    case Aspect::Enabled:
    case Aspect::Bounds:
      // Containers pass these on to everything they hold.
      for (const auto& other : form.Controls()) {
        if (!other->lies_within(c)) continue;
        if (a == Aspect::Visible) apply_visibility(*other);
        if (a == Aspect::Enabled) apply_enabled(*other);
        if (a == Aspect::Bounds) apply_bounds(*other);
      }
      if (a == Aspect::Visible && c.kind() == Kind::TabSheet && c.Parent())
        fill_tabs(static_cast<PageControl&>(*c.Parent()));
      return;
    case Aspect::Focus:
      if (w && GetFocus() != w) SetFocus(w);
      return;
    default:
      break;
  }
  const KindRow& row = row_of(c.kind());
  if (!w && row.window_class) return;
  quietly([&] { (this->*row.apply)(c, a, w); });
}

void WindowsBackend::apply_caption(Control& c, Aspect a, HWND w) {
  if (a == Aspect::Text && window_text(w) != c.Caption()) SetWindowTextW(w, wide(c.Caption()).c_str());
  if (a == Aspect::Checked && (c.kind() == Kind::CheckBox || c.kind() == Kind::RadioButton))
    SendMessageW(w, BM_SETCHECK, static_cast<CheckableButton&>(c).Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
}

void WindowsBackend::apply_memo(Control& c, Aspect a, HWND w) {
  if (a != Aspect::Lines) return;
  SetWindowTextW(w, wide(static_cast<Memo&>(c).joined_text()).c_str());
  memo_dirty_[static_cast<Memo*>(&c)] = false;
}

void WindowsBackend::apply_combo(Control& c, Aspect a, HWND w) {
  auto& combo = static_cast<ComboBox&>(c);
  if (a == Aspect::Items) {
    SendMessageW(w, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : combo.Items())
      SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item).c_str()));
  }
  if (a == Aspect::Items || a == Aspect::Selection) SendMessageW(w, CB_SETCURSEL, combo.ItemIndex(), 0);
}

void WindowsBackend::apply_radio_group(Control& c, Aspect a, HWND w) {
  auto& group = static_cast<RadioGroup&>(c);
  if (a == Aspect::Text) SetWindowTextW(w, wide(c.Caption()).c_str());
  if (a == Aspect::Items) fill_radio_group(group);
  if (a == Aspect::Items || a == Aspect::Selection) {
    const auto& items = radio_windows_[&group];
    for (size_t i = 0; i < items.size(); ++i)
      SendMessageW(items[i], BM_SETCHECK,
                   static_cast<int>(i) == group.ItemIndex() ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

void WindowsBackend::apply_tree(Control& c, Aspect a, HWND w) {
  auto& tree = static_cast<TreeView&>(c);
  if (a == Aspect::Items) {
    TreeView_DeleteAllItems(w);
    for (size_t i = 0; i < tree.Nodes().size(); ++i) {
      std::wstring text = wide(tree.Nodes()[i].text);
      TVINSERTSTRUCTW ins{};
      ins.hParent = TVI_ROOT;
      ins.hInsertAfter = TVI_LAST;
      ins.item.mask = TVIF_TEXT | TVIF_PARAM;
      ins.item.pszText = text.data();
      ins.item.lParam = static_cast<LPARAM>(i);
      SendMessageW(w, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
    }
  }
  if (a == Aspect::Items || a == Aspect::Selection) {
    HTREEITEM item = TreeView_GetRoot(w);
    for (int i = 0; item && i < tree.Selected(); ++i) item = TreeView_GetNextSibling(w, item);
    TreeView_SelectItem(w, tree.Selected() >= 0 ? item : nullptr);
  }
}

void WindowsBackend::apply_pages(Control& c, Aspect a, HWND) {
  fill_tabs(static_cast<PageControl&>(c));
  if (a == Aspect::Selection)
    for (const auto& other : c.owner_form().Controls())
      if (other->lies_within(c)) apply_visibility(*other);
}

void WindowsBackend::apply_bar(Control& c, Aspect, HWND w) {
  auto& bar = static_cast<ProgressBar&>(c);
  SendMessageW(w, PBM_SETRANGE32, bar.Min(), bar.Max());
  SendMessageW(w, PBM_SETPOS, bar.Position(), 0);
}

void WindowsBackend::apply_grid(Control& c, Aspect a, HWND) {
  if (a == Aspect::Cells && grids_pending_.insert(static_cast<StringGrid*>(&c)).second)
    PostMessageW(Hwnd(c.owner_form().peer), kRefreshGrids, 0, 0);
}

void WindowsBackend::apply_sheet(Control& c, Aspect a, HWND) {
  if (a == Aspect::Text && c.Parent()) fill_tabs(static_cast<PageControl&>(*c.Parent()));
}

void WindowsBackend::fill_tabs(PageControl& pages) {
  HWND w = Hwnd(pages.peer);
  if (!w) return;
  quietly([&] {
    TabCtrl_DeleteAllItems(w);
    const std::vector<TabSheet*> tabs = pages.visible_tabs();
    int selected = -1;
    for (size_t i = 0; i < tabs.size(); ++i) {
      std::wstring text = wide(tabs[i]->Caption());
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = text.data();
      SendMessageW(w, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
      if (tabs[i] == pages.ActivePage()) selected = static_cast<int>(i);
    }
    TabCtrl_SetCurSel(w, selected);
  });
}

void WindowsBackend::fill_radio_group(RadioGroup& group) {
  auto& items = radio_windows_[&group];
  for (HWND item : items) {
    radio_items_.erase(item);
    DestroyWindow(item);
  }
  items.clear();
  HWND form = Hwnd(group.owner_form().peer);
  if (!form) return;
  const Rect r = group.form_bounds();
  const int columns = std::max(group.Columns, 1);
  const int rows = (group.Count() + columns - 1) / columns;
  const int width = (r.width - 16) / columns;
  const int height = rows ? std::min(24, (r.height - 20) / rows) : 24;
  for (int i = 0; i < group.Count(); ++i) {
    const int col = i / std::max(rows, 1), row = i % std::max(rows, 1);
    HWND w = CreateWindowExW(0, L"BUTTON", wide(group.Items()[i]).c_str(),
                             WS_CHILD | WS_CLIPSIBLINGS | WS_TABSTOP | BS_RADIOBUTTON | BS_NOTIFY,
                             r.left + 8 + col * width, r.top + 18 + row * height, width - 4, height, form,
                             nullptr, this_module(), nullptr);
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(group.GetFont(), 96)), FALSE);
    items.push_back(w);
    radio_items_[w] = {&group, i};
  }
}

void WindowsBackend::fill_grid(StringGrid& grid) {
  HWND w = Hwnd(grid.peer);
  if (!w) return;
  const int rows = std::max(grid.RowCount() - grid.FixedRows, 0);
  if (Header_GetItemCount(ListView_GetHeader(w)) == grid.ColCount() && ListView_GetItemCount(w) == rows) {
    // Same shape: only the texts change, without the flicker of a rebuild.
    for (int col = 0; col < grid.ColCount(); ++col) {
      std::wstring head = grid.FixedRows > 0 ? wide(grid.Cell(col, 0)) : std::wstring();
      LVCOLUMNW column{};
      column.mask = LVCF_TEXT;
      column.pszText = head.data();
      SendMessageW(w, LVM_SETCOLUMNW, col, reinterpret_cast<LPARAM>(&column));
      for (int row = 0; row < rows; ++row) {
        std::wstring text = wide(grid.Cell(col, row + grid.FixedRows));
        LVITEMW item{};
        item.iSubItem = col;
        item.pszText = text.data();
        SendMessageW(w, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
      }
    }
    return;
  }
  while (ListView_DeleteColumn(w, 0)) {
  }
  ListView_DeleteAllItems(w);
  for (int col = 0; col < grid.ColCount(); ++col) {
    std::wstring head = grid.FixedRows > 0 ? wide(grid.Cell(col, 0)) : std::wstring();
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = col < static_cast<int>(grid.ColWidths.size()) ? grid.ColWidths[col] : 64;
    column.pszText = head.data();
    SendMessageW(w, LVM_INSERTCOLUMNW, col, reinterpret_cast<LPARAM>(&column));
  }
  for (int row = grid.FixedRows; row < grid.RowCount(); ++row) {
    for (int col = 0; col < grid.ColCount(); ++col) {
      std::wstring text = wide(grid.Cell(col, row));
      LVITEMW item{};
      item.mask = LVIF_TEXT;
      item.iItem = row - grid.FixedRows;
      item.iSubItem = col;
      item.pszText = text.data();
      SendMessageW(w, col == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, col == 0 ? 0 : item.iItem,
                   reinterpret_cast<LPARAM>(&item));
    }
  }
}

void WindowsBackend::pull_memo(Memo& memo) {
  auto it = memo_dirty_.find(&memo);
  if (it == memo_dirty_.end() || !it->second || !memo.peer) return;
  it->second = false;
  const std::string text = window_text(Hwnd(memo.peer));
  ++muted_;
  memo.user_set_text(text);
  --muted_;
}

// ---------------------------------------------------------------- windows to models

LRESULT WindowsBackend::on_command(Form& form, HWND child, int code) {
  if (child == cell_edit_.window) {
    if (code == EN_KILLFOCUS) end_cell_edit(true);
    return 0;
  }
  if (auto radio = radio_items_.find(child); radio != radio_items_.end()) {
    if (code == BN_CLICKED) user::choose(*radio->second.group, radio->second.index);
    return 0;
  }
  auto it = controls_.find(child);
  if (it == controls_.end()) return 0;
  Control& c = *it->second;
  if (const KindRow& row = row_of(c.kind()); row.command) (this->*row.command)(form, c, child, code);
  return 0;
}

void WindowsBackend::command_button(Form& form, Control& c, HWND, int code) {
  if (code == BN_SETFOCUS) form.focus_control(&c);
  if (code == BN_CLICKED) user::Click(c);
  if (code == BN_DOUBLECLICKED) user::second_click(c);
}

void WindowsBackend::command_edit(Form& form, Control& c, HWND w, int code) {
  if (code == EN_SETFOCUS) form.focus_control(&c);
  if (code == EN_CHANGE && !muted_) static_cast<Edit&>(c).user_set_text(window_text(w));
}

// A memo's text is taken when the focus leaves it, not at every keystroke: a day's log is long.
void WindowsBackend::command_memo(Form& form, Control& c, HWND, int code) {
  if (code == EN_SETFOCUS) form.focus_control(&c);
  if (code == EN_KILLFOCUS) pull_memo(static_cast<Memo&>(c));
  if (code == EN_CHANGE && !muted_) memo_dirty_[static_cast<Memo*>(&c)] = true;
}

void WindowsBackend::command_combo(Form& form, Control& c, HWND w, int code) {
  if (code == CBN_SETFOCUS) form.focus_control(&c);
  if (code == CBN_SELCHANGE && !muted_)
    user::choose(static_cast<ComboBox&>(c), static_cast<int>(SendMessageW(w, CB_GETCURSEL, 0, 0)));
}

LRESULT WindowsBackend::on_notify(Form& form, NMHDR* header) {
  auto it = controls_.find(header->hwndFrom);
  if (it == controls_.end()) return 0;
  Control& c = *it->second;
  if (const KindRow& row = row_of(c.kind()); row.notify) (this->*row.notify)(form, c, header);
  return 0;
}

void WindowsBackend::notify_tree(Form& form, Control& c, NMHDR* header) {
  auto& tree = static_cast<TreeView&>(c);
  if (header->code == NM_SETFOCUS) form.focus_control(&c);
  if (header->code == TVN_SELCHANGEDW && !muted_) {
    const auto* change = reinterpret_cast<NMTREEVIEWW*>(header);
    user::move_selection(tree, change->itemNew.hItem ? static_cast<int>(change->itemNew.lParam) : -1);
  }
  if (header->code != NM_CLICK) return;
  // The click may come before the selection moves: the node under the mouse is the one clicked.
  TVHITTESTINFO hit{};
  const DWORD pos = GetMessagePos();
  hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(header->hwndFrom, &hit.pt);
  if (HTREEITEM item = TreeView_HitTest(header->hwndFrom, &hit); item && (hit.flags & TVHT_ONITEM)) {
    TVITEMW data{};
    data.mask = TVIF_PARAM;
    data.hItem = item;
    SendMessageW(header->hwndFrom, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    quietly([&] { TreeView_SelectItem(header->hwndFrom, item); });
    user::select_node(tree, static_cast<int>(data.lParam));
  } else {
    Form::fire(tree.OnClick);
  }
}

void WindowsBackend::notify_pages(Form& form, Control& c, NMHDR* header) {
  auto& pages = static_cast<PageControl&>(c);
  if (header->code == NM_SETFOCUS) form.focus_control(&c);
  if (header->code == TCN_SELCHANGE && !muted_) {
    const int index = TabCtrl_GetCurSel(header->hwndFrom);
    const std::vector<TabSheet*> tabs = pages.visible_tabs();
    if (index >= 0 && index < static_cast<int>(tabs.size())) user::show_tab(pages, *tabs[index]);
  }
}

void WindowsBackend::notify_grid(Form& form, Control& c, NMHDR* header) {
  if (header->code == NM_SETFOCUS) form.focus_control(&c);
  if (header->code == NM_DBLCLK) begin_cell_edit(static_cast<StringGrid&>(c), header->hwndFrom);
}

// A double click on a cell the user may edit opens an edit over it, holding the cell's text;
// Enter or leaving it stores the text through ui/user.h, Escape drops it.
void WindowsBackend::begin_cell_edit(StringGrid& grid, HWND list) {
  LVHITTESTINFO hit{};
  const DWORD pos = GetMessagePos();
  hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
  ScreenToClient(list, &hit.pt);
  if (ListView_SubItemHitTest(list, &hit) < 0 || hit.iItem < 0) return;
  const int col = hit.iSubItem;
  const int row = hit.iItem + grid.FixedRows;
  if (!grid.cell_editable(col, row)) return;
  end_cell_edit(true);
  RECT cell{};
  // The first column's whole-item rectangle is the row's; its label is the cell.
  ListView_GetSubItemRect(list, hit.iItem, col, col == 0 ? LVIR_LABEL : LVIR_BOUNDS, &cell);
  HWND form = Hwnd(grid.owner_form().peer);
  MapWindowPoints(list, form, reinterpret_cast<POINT*>(&cell), 2);
  HWND edit = CreateWindowExW(
      0, L"EDIT", wide(grid.Cell(col, row)).c_str(), WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL,
      cell.left, cell.top, cell.right - cell.left, cell.bottom - cell.top, form,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kCellEditId)), this_module(), nullptr);
  if (!edit) return;
  SetPropA(edit, kNameProperty, reinterpret_cast<HANDLE>(const_cast<char*>(kCellEditName)));
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font_for(grid.GetFont(), 96)), FALSE);
  SendMessageW(edit, EM_SETSEL, 0, -1);
  SetWindowPos(edit, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  cell_edit_ = {edit, &grid, col, row};
  SetFocus(edit);
}

void WindowsBackend::end_cell_edit(bool keep) {
  // Taken first: destroying the window takes its focus, which comes back here.
  const CellEdit e = std::exchange(cell_edit_, {});
  if (!e.window) return;
  const std::string text = window_text(e.window);
  DestroyWindow(e.window);
  if (keep) user::edit_cell(*e.grid, e.col, e.row, text);
}

LRESULT CALLBACK WindowsBackend::form_proc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lp);
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* form = reinterpret_cast<Form*>(GetWindowLongPtrW(w, GWLP_USERDATA));
  if (!form || form->peer != w) return DefWindowProcW(w, message, wp, lp);
  WindowsBackend& b = windows_backend();
  switch (message) {
    case WM_COMMAND:
      // Enter and Escape (IDOK, IDCANCEL without a control) do nothing, as on the original forms.
      if (lp) return b.on_command(*form, reinterpret_cast<HWND>(lp), HIWORD(wp));
      return 0;
    case kRefreshGrids:
      for (auto it = b.grids_pending_.begin(); it != b.grids_pending_.end();) {
        if (&(*it)->owner_form() != form) {
          ++it;
          continue;
        }
        StringGrid* grid = *it;
        it = b.grids_pending_.erase(it);
        b.fill_grid(*grid);
      }
      return 0;
    case WM_NOTIFY:
      return b.on_notify(*form, reinterpret_cast<NMHDR*>(lp));
    case WM_TIMER:
      for (const auto& t : form->Timers())
        if (auto it = b.timer_ids_.find(t.get()); it != b.timer_ids_.end() && it->second == wp) t->fire();
      return 0;
    case WM_CLOSE:
      form->Close();
      return 0;
    default:
      return DefWindowProcW(w, message, wp, lp);
  }
}

// ---------------------------------------------------------------- modal loop

void WindowsBackend::run_modal(Form& form) {
  create_form_window(form);
  HWND w = Hwnd(form.peer);
  if (!w) {
    form.SetModalResult(mrCancel);
    return;
  }
  HWND owner = static_cast<HWND>(app().Handle());
  const bool owner_enabled = owner && IsWindowEnabled(owner);
  if (owner_enabled) EnableWindow(owner, FALSE);
  modal_.push_back(&form);
  ShowWindow(w, SW_SHOW);
  SetForegroundWindow(w);
  if (form.ActiveControl() && form.ActiveControl()->peer) SetFocus(Hwnd(form.ActiveControl()->peer));
  MSG msg;
  while (form.ModalResult() == mrNone) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      form.SetModalResult(mrCancel);
      break;
    }
    if (got < 0) {
      form.SetModalResult(mrCancel);
      break;
    }
    if (msg.message == WM_KEYDOWN && cell_edit_.window && msg.hwnd == cell_edit_.window &&
        (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE)) {
      end_cell_edit(msg.wParam == VK_RETURN);
      continue;
    }
    if (!IsDialogMessageW(w, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  modal_.pop_back();
  // The owner is enabled again before this window goes, so that it gets the activation back.
  if (owner_enabled) EnableWindow(owner, TRUE);
  destroy_form_window(form);
  if (owner_enabled) SetActiveWindow(owner);
}

HWND WindowsBackend::top_modal_window() const {
  for (auto it = modal_.rbegin(); it != modal_.rend(); ++it)
    if ((*it)->peer && IsWindowVisible(Hwnd((*it)->peer))) return Hwnd((*it)->peer);
  return static_cast<HWND>(app().Handle());
}

void WindowsBackend::form_visibility_changed(Form& form) {
  if (form.peer) ShowWindow(Hwnd(form.peer), form.Visible() ? SW_SHOW : SW_HIDE);
}

void WindowsBackend::form_changed(Form& form) {
  HWND w = Hwnd(form.peer);
  if (!w) return;
  SetWindowTextW(w, wide(form.Caption()).c_str());
  const Rect& r = form.Bounds();
  SetWindowPos(w, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void WindowsBackend::form_destroyed(Form& form) {
  destroy_form_window(form);
  for (const auto& t : form.Timers()) timer_ids_.erase(t.get());
}

bool WindowsBackend::form_active(const Form& form) const {
  return form.peer && GetActiveWindow() == Hwnd(form.peer);
}

void WindowsBackend::control_changed(Control& c, Aspect a) {
  if (c.owner_form().peer) apply(c, a);
}

void WindowsBackend::control_destroyed(Control& c) {
  if (c.kind() == Kind::StringGrid) grids_pending_.erase(static_cast<StringGrid*>(&c));
  if (cell_edit_.grid == &c) {
    DestroyWindow(cell_edit_.window);
    cell_edit_ = {};
  }
  if (c.peer) controls_.erase(Hwnd(c.peer));
  c.peer = nullptr;
}

// ---------------------------------------------------------------- timers

void WindowsBackend::arm_timer(Timer& t) {
  HWND w = Hwnd(t.owner_form().peer);
  if (!w) return;
  auto it = timer_ids_.find(&t);
  if (it == timer_ids_.end()) it = timer_ids_.emplace(&t, next_timer_id_++).first;
  if (t.Enabled() && t.Interval() > 0)
    SetTimer(w, it->second, t.Interval(), nullptr);
  else
    KillTimer(w, it->second);
}

void WindowsBackend::timer_changed(Timer& t) { arm_timer(t); }

void WindowsBackend::timer_destroyed(Timer& t) {
  auto it = timer_ids_.find(&t);
  if (it == timer_ids_.end()) return;
  if (HWND w = Hwnd(t.owner_form().peer)) KillTimer(w, it->second);
  timer_ids_.erase(it);
}

// ---------------------------------------------------------------- boxes, dialogs, printing

int WindowsBackend::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  return MessageBoxW(top_modal_window(), wide(text).c_str(), wide(caption).c_str(), flags | MB_TASKMODAL);
}

std::wstring dialog_filter(std::string_view filter) {
  std::wstring f = wide(filter);
  for (wchar_t& c : f)
    if (c == L'|') c = L'\0';
  f.push_back(L'\0');
  f.push_back(L'\0');
  return f;
}

bool WindowsBackend::execute_save_dialog(SaveDialog& dialog) {
  std::wstring file = wide(dialog.FileName);
  file.resize(std::max<size_t>(file.size() + 1, 1024), L'\0');
  const std::wstring filter = dialog_filter(dialog.Filter);
  const std::wstring ext = wide(dialog.DefaultExt);
  const std::wstring title = wide(dialog.Title);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = top_modal_window();
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (!GetSaveFileNameW(&ofn)) return false;
  dialog.FileName = narrow(file.c_str());
  return true;
}

bool WindowsBackend::execute_print_dialog() {
  PRINTDLGW pd{};
  pd.lStructSize = sizeof pd;
  pd.hwndOwner = top_modal_window();
  pd.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_USEDEVMODECOPIESANDCOLLATE;
  if (!PrintDlgW(&pd)) return false;
  if (pd.hDevMode) GlobalFree(pd.hDevMode);
  if (pd.hDevNames) GlobalFree(pd.hDevNames);
  if (printer_) DeleteDC(printer_);
  printer_ = pd.hDC;
  return printer_ != nullptr;
}

class PrinterJob : public TextPrinter::Job {
 public:
  PrinterJob(HDC dc, HFONT font) : dc_(dc), font_(font) {}
  ~PrinterJob() override {
    if (started_ && !ended_) AbortDoc(dc_);
  }
  void start(std::string_view title) {
    const std::wstring name = wide(title);
    DOCINFOW doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = name.c_str();
    if (StartDocW(dc_, &doc) <= 0) throw IoError("打印机不可用");
    started_ = true;
    new_page();
  }
  void write_line(std::string_view line) override {
    if (y_ + line_height_ > page_height_) {
      if (EndPage(dc_) <= 0) throw IoError("打印失败");
      new_page();
    }
    const std::wstring text = wide(line);
    if (!TextOutW(dc_, margin_, y_, text.c_str(), static_cast<int>(text.size()))) throw IoError("打印失败");
    y_ += line_height_;
  }
  void end() override {
    if (EndPage(dc_) <= 0 || EndDoc(dc_) <= 0) throw IoError("打印失败");
    ended_ = true;
  }

 private:
  void new_page() {
    if (StartPage(dc_) <= 0) throw IoError("打印失败");
    SelectObject(dc_, font_);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc_, &tm);
    line_height_ = std::max<int>(tm.tmHeight + tm.tmExternalLeading, 1);
    page_height_ = GetDeviceCaps(dc_, VERTRES);
    margin_ = GetDeviceCaps(dc_, LOGPIXELSX) / 2;
    y_ = GetDeviceCaps(dc_, LOGPIXELSY) / 2;
  }
  HDC dc_;
  HFONT font_;
  bool started_ = false, ended_ = false;
  int line_height_ = 1, page_height_ = 0, margin_ = 0, y_ = 0;
};

std::unique_ptr<TextPrinter::Job> WindowsBackend::start_print_job(std::string_view title, const Font& font) {
  if (!printer_) throw IoError("打印机不可用");
  auto job = std::make_unique<PrinterJob>(printer_, font_for(font, GetDeviceCaps(printer_, LOGPIXELSY)));
  job->start(title);
  return job;
}

ScreenSize WindowsBackend::Screen() const {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

}  // namespace

ui::Backend& backend() {
  static WindowsBackend* const backend = new WindowsBackend();
  return *backend;
}

}  // namespace ui::win32
