// Real windows for the control models. The models are the truth: a change of a model is copied to
// its window (with the window's own notifications muted meanwhile), and what the user does in a
// window is handed to the models through ui::user, as the headless test driver does.
#include "ui/win32/win32_backend.h"

#include <utility>

#include "ui/user.h"
#include "ui/win32/windows_backend.h"

namespace ui::win32 {

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

LRESULT WindowsBackend::on_notify(Form& form, NMHDR* header) {
  auto it = controls_.find(header->hwndFrom);
  if (it == controls_.end()) return 0;
  Control& c = *it->second;
  if (const KindRow& row = row_of(c.kind()); row.notify) (this->*row.notify)(form, c, header);
  return 0;
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

ui::Backend& backend() {
  static WindowsBackend* const backend = new WindowsBackend();
  return *backend;
}

}  // namespace ui::win32
