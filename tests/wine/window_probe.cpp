#include "tests/wine/window_probe.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstring>
#include <fstream>

#include "ui/win32/wide_text.h"
#include "ui/win32/win32_backend.h"

namespace ui::win32::probe {

namespace {

std::wstring window_text_w(HWND w) {
  // WM_GETTEXT reaches the control's own thread, so a multi-line edit reports its whole text.
  const auto length = static_cast<size_t>(SendMessageW(w, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  const auto got =
      static_cast<size_t>(SendMessageW(w, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data())));
  text.resize(std::min(got, length));
  return text;
}

struct Search {
  std::wstring caption;
  const wchar_t* cls;
  HWND found = nullptr;
};

BOOL CALLBACK find_top_level(HWND w, LPARAM context) {
  auto* s = reinterpret_cast<Search*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != GetCurrentProcessId() || !IsWindowVisible(w)) return TRUE;
  wchar_t cls[64] = {};
  GetClassNameW(w, cls, 64);
  if (wcscmp(cls, s->cls) != 0) return TRUE;
  if (!s->caption.empty() && window_text_w(w) != s->caption) return TRUE;
  s->found = w;
  return FALSE;
}

HWND find_window_of(const wchar_t* cls, std::string_view caption) {
  Search s{wide(caption), cls};
  EnumWindows(find_top_level, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

}  // namespace

bool wait_until(const std::function<bool()>& ready, uint32_t timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (ready()) return true;
    if (GetTickCount() - start >= timeout_ms) return false;
    Sleep(20);
  }
}

Window wait_for_form(std::string_view caption, uint32_t timeout_ms) {
  HWND found = nullptr;
  const std::wstring cls = wide(kFormClass);
  wait_until([&] { return (found = find_window_of(cls.c_str(), caption)) != nullptr; }, timeout_ms);
  return found;
}

bool message_box_open() { return find_window_of(L"#32770", {}) != nullptr; }

Window wait_for_message_box(uint32_t timeout_ms) {
  HWND found = nullptr;
  wait_until([&] { return (found = find_window_of(L"#32770", {})) != nullptr; }, timeout_ms);
  return found;
}

std::string message_box_text(Window box) {
  // The message is the box's static control with id 0xFFFF.
  HWND text = GetDlgItem(static_cast<HWND>(box), 0xFFFF);
  return text ? narrow(window_text_w(text)) : std::string();
}

void answer_message_box(Window box, int button_id) {
  if (HWND button = GetDlgItem(static_cast<HWND>(box), button_id)) PostMessageW(button, BM_CLICK, 0, 0);
}

struct NameSearch {
  std::string name;
  HWND found = nullptr;
};

BOOL CALLBACK find_child(HWND w, LPARAM context) {
  auto* s = reinterpret_cast<NameSearch*>(context);
  const auto* name = static_cast<const char*>(GetPropA(w, kNameProperty));
  if (name && s->name == name) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

Window Control(Window form, std::string_view name) {
  NameSearch s{std::string(name)};
  EnumChildWindows(static_cast<HWND>(form), find_child, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

std::string Text(Window w) { return narrow(window_text_w(static_cast<HWND>(w))); }

size_t TextLength(Window w) {
  return static_cast<size_t>(SendMessageW(static_cast<HWND>(w), WM_GETTEXTLENGTH, 0, 0));
}

bool Visible(Window w) { return w && IsWindowVisible(static_cast<HWND>(w)); }

bool Enabled(Window w) { return w && IsWindowEnabled(static_cast<HWND>(w)); }

bool Checked(Window w) { return SendMessageW(static_cast<HWND>(w), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void Click(Window button) { PostMessageW(static_cast<HWND>(button), BM_CLICK, 0, 0); }

bool Focus(Window window) {
  HWND w = static_cast<HWND>(window);
  const DWORD thread = GetWindowThreadProcessId(w, nullptr);
  PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
  PostMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
  return wait_until(
      [&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        return GetGUIThreadInfo(thread, &info) && info.hwndFocus == w;
      },
      5000);
}

void Type(Window edit, std::string_view text) {
  Focus(edit);
  const std::wstring t = wide(text);
  SendMessageW(static_cast<HWND>(edit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(t.c_str()));
}

void Append(Window edit, std::string_view text) {
  Focus(edit);
  HWND w = static_cast<HWND>(edit);
  const std::wstring t = wide(text);
  const LRESULT end = SendMessageW(w, WM_GETTEXTLENGTH, 0, 0);
  SendMessageW(w, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(w, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(t.c_str()));
}

std::vector<std::string> tree_items(Window tree) {
  HWND w = static_cast<HWND>(tree);
  std::vector<std::string> items;
  for (auto item = reinterpret_cast<HTREEITEM>(SendMessageW(w, TVM_GETNEXTITEM, TVGN_ROOT, 0)); item;
       item = reinterpret_cast<HTREEITEM>(
           SendMessageW(w, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
    wchar_t buffer[256] = {};
    TVITEMW data{};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = buffer;
    data.cchTextMax = 255;
    SendMessageW(w, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    items.push_back(narrow(buffer));
  }
  return items;
}

std::string grid_header(Window grid, int col) {
  wchar_t buffer[256] = {};
  LVCOLUMNW column{};
  column.mask = LVCF_TEXT;
  column.pszText = buffer;
  column.cchTextMax = 255;
  if (!SendMessageW(static_cast<HWND>(grid), LVM_GETCOLUMNW, col, reinterpret_cast<LPARAM>(&column)))
    return {};
  return narrow(buffer);
}

std::string grid_cell(Window grid, int col, int row) {
  wchar_t buffer[512] = {};
  LVITEMW item{};
  item.iSubItem = col;
  item.pszText = buffer;
  item.cchTextMax = 511;
  SendMessageW(static_cast<HWND>(grid), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return narrow(buffer);
}

namespace {

// Clicks the middle of a rectangle of the window's client area with the mouse (twice: a double
// click). The control reads where the mouse is as well as where the click says it is.
void click_middle(HWND w, const RECT& r, bool twice) {
  POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  POINT screen = p;
  ClientToScreen(w, &screen);
  SetCursorPos(screen.x, screen.y);
  const LPARAM at = MAKELPARAM(p.x, p.y);
  PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(w, WM_LBUTTONUP, 0, at);
  if (!twice) return;
  PostMessageW(w, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  PostMessageW(w, WM_LBUTTONUP, 0, at);
}

}  // namespace

void double_click_grid_cell(Window grid, int col, int row) {
  HWND w = static_cast<HWND>(grid);
  RECT r{};
  r.top = col;
  r.left = col == 0 ? LVIR_LABEL : LVIR_BOUNDS;
  if (SendMessageW(w, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&r))) click_middle(w, r, true);
}

void press_key(Window w, unsigned key) {
  PostMessageW(static_cast<HWND>(w), WM_KEYDOWN, key, 1);
  PostMessageW(static_cast<HWND>(w), WM_KEYUP, key, 0xC0000001);
}

void click_tree_item(Window tree, int index) {
  HWND w = static_cast<HWND>(tree);
  auto item = reinterpret_cast<HTREEITEM>(SendMessageW(w, TVM_GETNEXTITEM, TVGN_ROOT, 0));
  for (int i = 0; item && i < index; ++i)
    item = reinterpret_cast<HTREEITEM>(
        SendMessageW(w, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
  if (!item) return;
  RECT r{};
  std::memcpy(&r, &item, sizeof item);  // TVM_GETITEMRECT takes the item in the rectangle
  if (SendMessageW(w, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) click_middle(w, r, false);
}

bool save_bitmap(Window window, const std::string& path) {
  HWND w = static_cast<HWND>(window);
  // The client area: without a window manager nobody draws the caption bar.
  RECT r{};
  if (!GetClientRect(w, &r)) return false;
  POINT origin{0, 0};
  ClientToScreen(w, &origin);
  OffsetRect(&r, origin.x, origin.y);
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return false;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = bitmap && bits;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, old);
  }
  if (ok) {
    const DWORD row = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD image = row * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + image;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), image);
    ok = static_cast<bool>(out);
  }
  if (bitmap) DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace ui::win32::probe
