// The Windows backend's class, shared by its two files: win32_backend.cpp (forms and their
// windows, the modal loop, timers, boxes, dialogs, printing) and control_kinds.cpp (each kind of
// control: its window, how the model's changes reach it, what its notifications do).
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
// clang-format on
#undef MessageBox  // the backend's own operation of that name

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/win32/wide_text.h"
#include "ui/win32/win32_backend.h"

namespace ui::win32 {

inline constexpr wchar_t kFormClassW[] = L"VorelPCIForm";
inline constexpr int kFirstControlId = 1000;
// The edit a grid cell is typed into, over the cell; its window property names it.
inline constexpr int kCellEditId = 999;
inline constexpr char kCellEditName[] = "CellEdit";
// Grids are refilled once per batch of cell changes, when the handler that made them has returned.
inline constexpr UINT kRefreshGrids = WM_APP + 1;

inline std::string window_text(HWND w) {
  const int length = GetWindowTextLengthW(w);
  std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(w, buffer.data(), length + 1);
  return narrow({buffer.data(), static_cast<size_t>(std::max(got, 0))});
}

inline HINSTANCE this_module() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&this_module), &module);
  return module;
}

inline HWND Hwnd(void* peer) { return static_cast<HWND>(peer); }

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
  void apply_check(Control& c, Aspect a, HWND w);
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

// The process's backend as its own class.
WindowsBackend& windows_backend();

}  // namespace ui::win32
