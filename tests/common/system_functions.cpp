// The system functions the driver may import, with the first Windows version whose library exports
// each of them. The versions come from the functions' reference pages ("Minimum supported
// client"), which start at Windows 2000, or, where a page names a later floor for a function
// Windows had long before, from the libraries' export lists. A new import needs its row here, and
// a function newer than Windows XP fails the driver-file checks with its name.
//
// The last rows are functions newer than XP that a run time or a toolchain upgrade is known to
// pull in (locks, condition variables, one-time initialisation, fibre storage, 64-bit ticks): they
// are listed so that the check can say which Windows the import would demand.
#include <algorithm>
#include <cctype>
#include <string>

#include "tests/common/driver_file.h"

namespace driver_file {

namespace {

constexpr pe::SystemVersion kWindows2000{5, 0}, kWindowsXp{5, 1}, kWindowsVista{6, 0}, kWindows8{6, 2};

struct SystemFunctions {
  std::string_view library;  // lower case
  pe::SystemVersion since;
  std::string_view names;  // separated by blanks
};

constexpr SystemFunctions kTable[] = {
    {"kernel32.dll", kWindows2000,
     "CloseHandle CreateDirectoryA CreateEventA CreateFileA CreateSemaphoreW DeleteCriticalSection "
     "DeleteFileA EnterCriticalSection FindClose FindFirstFileA FindNextFileA FlushFileBuffers "
     "FreeLibrary GetConsoleMode GetCurrentDirectoryA GetCurrentThreadId GetFileAttributesA "
     "GetFileAttributesExA GetFileSizeEx GetLastError GetLocaleInfoA GetLocalTime GetLogicalDrives "
     "GetModuleFileNameA GetModuleHandleA GetModuleHandleW GetPrivateProfileStringA GetProcAddress "
     "GetProcessHeap GetStdHandle GetSystemInfo GetTickCount GetVersionExA GlobalFree "
     "GlobalMemoryStatus HeapAlloc HeapFree InitializeCriticalSection IsDBCSLeadByte "
     "IsDBCSLeadByteEx LeaveCriticalSection LoadLibraryA LoadLibraryW MoveFileA MoveFileExA MulDiv "
     "MultiByteToWideChar QueryPerformanceCounter QueryPerformanceFrequency ReadFile "
     "ReleaseSemaphore SetEndOfFile SetEvent SetFilePointerEx SetLastError Sleep TlsAlloc TlsFree "
     "TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect VirtualQuery "
     "WaitForSingleObject WideCharToMultiByte WriteConsoleW WriteFile"},
    {"kernel32.dll", kWindowsXp, "GetModuleHandleExA GetModuleHandleExW"},
    {"user32.dll", kWindows2000,
     "CreateWindowExW DefWindowProcW DestroyWindow DispatchMessageW EnableWindow GetActiveWindow "
     "GetFocus GetMessagePos GetMessageW GetSystemMetrics GetWindowLongW GetWindowTextLengthW "
     "GetWindowTextW IsDialogMessageW IsWindowEnabled IsWindowVisible KillTimer LoadCursorW "
     "MapWindowPoints MessageBoxA MessageBoxW MoveWindow PostMessageW PostQuitMessage RegisterClassExW "
     "ScreenToClient SendMessageA SendMessageW SetActiveWindow SetFocus SetForegroundWindow "
     "SetPropA SetTimer SetWindowLongW SetWindowPos SetWindowTextW ShowWindow TranslateMessage"},
    {"gdi32.dll", kWindows2000,
     "AbortDoc CreateFontIndirectW DeleteDC EndDoc EndPage GetDeviceCaps GetTextMetricsW "
     "SelectObject StartDocW StartPage TextOutW"},
    {"advapi32.dll", kWindows2000, "RegCloseKey RegOpenKeyExA RegQueryValueExA"},
    {"comdlg32.dll", kWindows2000, "GetSaveFileNameW PrintDlgW"},
    // The pages name Vista, the first version with the API sets; comctl32.dll 4.70 and later and
    // version.dll of every NT export these.
    {"comctl32.dll", kWindows2000, "InitCommonControlsEx"},
    {"version.dll", kWindows2000, "GetFileVersionInfoA GetFileVersionInfoSizeA VerQueryValueA"},
    // msvcrt.dll of Windows 2000 (6.1); the aligned allocation came with XP's (7.0).
    {"msvcrt.dll", kWindows2000,
     "__mb_cur_max _amsg_exit _assert _beginthreadex _close _errno _initterm _iob _lock _read "
     "_setjmp3 _unlock abort atoi calloc fputc fputs free fwrite localeconv longjmp malloc memchr "
     "memcmp memcpy memmove memset realloc setlocale strchr strcmp strerror strlen strncmp "
     "vfprintf wcslen wcsncpy"},
    {"msvcrt.dll", kWindowsXp, "_aligned_free _aligned_malloc"},
    // Newer than XP.
    {"kernel32.dll", kWindowsVista,
     "GetTickCount64 InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared "
     "ReleaseSRWLockExclusive ReleaseSRWLockShared InitializeConditionVariable "
     "SleepConditionVariableCS SleepConditionVariableSRW WakeConditionVariable "
     "WakeAllConditionVariable InitOnceBeginInitialize InitOnceComplete InitOnceExecuteOnce "
     "InitializeCriticalSectionEx FlsAlloc FlsFree FlsGetValue FlsSetValue "
     "GetFileInformationByHandleEx QueryFullProcessImageNameA"},
    {"kernel32.dll", kWindows8, "GetSystemTimePreciseAsFileTime CreateFile2"},
};

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

bool names_contain(std::string_view names, std::string_view function) {
  for (size_t at = 0; at < names.size();) {
    const size_t end = std::min(names.find(' ', at), names.size());
    if (names.substr(at, end - at) == function) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

std::optional<pe::SystemVersion> first_windows_with(std::string_view library, std::string_view function) {
  const std::string l = lower(library);
  for (const SystemFunctions& row : kTable)
    if (row.library == l && names_contain(row.names, function)) return row.since;
  return std::nullopt;
}

std::string windows_name(pe::SystemVersion version) {
  static constexpr struct {
    pe::SystemVersion version;
    const char* name;
  } kNames[] = {{{5, 0}, "Windows 2000"},  {{5, 1}, "Windows XP"}, {{5, 2}, "Windows Server 2003"},
                {{6, 0}, "Windows Vista"}, {{6, 1}, "Windows 7"},  {{6, 2}, "Windows 8"},
                {{6, 3}, "Windows 8.1"},   {{10, 0}, "Windows 10"}};
  const std::string nt = "NT " + std::to_string(version.major) + "." + std::to_string(version.minor);
  for (const auto& n : kNames)
    if (n.version == version) return std::string(n.name) + " (" + nt + ")";
  return "Windows " + nt;
}

}  // namespace driver_file
