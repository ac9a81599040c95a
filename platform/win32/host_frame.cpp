// The stand-in for a host's main window: an ordinary frame window that does nothing itself.
#include <windows.h>

#include "platform/platform.h"

namespace platform {

namespace {

constexpr wchar_t kClass[] = L"VorelHostFrame";

LRESULT CALLBACK frame_proc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
  // The frame stays until its owner destroys it; closing it is the host's business, not ours.
  if (message == WM_CLOSE) return 0;
  return DefWindowProcW(w, message, wp, lp);
}

}  // namespace

void* create_host_frame(std::string_view caption, int width, int height) {
  static const ATOM registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = frame_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = kClass;
    return RegisterClassExW(&wc);
  }();
  if (!registered) return nullptr;
  const std::u16string title = gbk_to_utf16(caption);
  HWND w = CreateWindowExW(0, kClass, reinterpret_cast<const wchar_t*>(title.c_str()),
                           WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, width, height, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
  return w;
}

void destroy_host_frame(void* window) {
  if (window) DestroyWindow(static_cast<HWND>(window));
}

}  // namespace platform
